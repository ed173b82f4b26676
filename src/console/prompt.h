// The five question forms of the dialogue, one call per question.
//
// Every question shares one behaviour: a wrong answer gets no message; the
// cursor goes to column 1 of the row just used, the row is cleared and the
// same question is written again in place. Prompts are written as given, at
// the cursor (normally column 1), in the current text colour; callers build
// the fixed-width texts, current values included, so that answers line up.
//
//   AskKey / AskYesNo   single key, upper-cased, echoed, line ended
//   AskNumber           a line; empty = default written back into the row
//   AskNumberList       numbers separated by anything that is not 43..69,
//                       optionally "n-m" ranges; ScanNumberList for lines
//                       already read (file headers)
//   EditLine            line editor with an initial text (EditLineOrEscape:
//                       Escape leaves the question unanswered)
//   ReadAnswer          the plain line read of the input stream, cut to 72
//
// Examples:
//   char g = AskKey({.prompt = "(O)ld or (N)ew ... (O/N/I) :  ", .keys = "NOI",
//                    .enter = 'N', .aliases = "AO"});
//   bool ri = AskYesNo("Elimination of RI noise ...  (Y/N) :  ", YesNo::kJNoEnter);
//   int it = AskNumber({.prompt = "max. number of iterations  (200=default)"
//                                 "               :  ",
//                       .defaultValue = 200, .defaultColumn = 59,
//                       .integer = true}).asInt();
//   NumberList omit = AskNumberList(text, 700, {.ranges = true, .emptyAllowed = true});
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace svfit::console {

inline constexpr int kAnswerLength = 72;  // console answers are cut to 72 characters
inline constexpr int kPathLength = 4096;  // a directory or file path may be as long as Linux allows

// ---- 1. Single-key choice --------------------------------------------------------
struct KeyChoice {
  std::string_view prompt;
  // Accepted answers, upper case, after aliases. Empty: every key is accepted
  // and returned as typed (upper-cased; Enter as 13; an extended key as 0).
  std::string_view keys = {};
  char enter = 0;                  // what Enter means; 0: Enter is refused
  std::string_view aliases = {};   // letter pairs, "AOJY": A counts as O, J as Y
  char otherwise = 0;              // what every other key means; 0: refused
  int echoColor = -1;              // colour of the echo; -1 keeps the current one
  int echoColumn = 0;              // column of the echo; 0 right after the prompt
};
// Returns the answer: an accepted letter (after aliases, Enter and otherwise
// rules). The answer is echoed if printable, then the line is ended.
int AskKey(const KeyChoice& choice);

// The yes/no rules of the dialogue. The echo is "Y" or "N".
enum class YesNo {
  kEnterNo,   // Y, N, Enter = no
  kEnterYes,  // Y, N, Enter = yes
  kJEnterNo,  // Y or J = yes, N or Enter = no
  kJNoEnter,  // Y or J = yes, N = no, Enter refused
  kOnlyY,     // every key answers: Y = yes, anything else no
};
bool AskYesNo(std::string_view prompt, YesNo rule);

// One key, upper-cased (ASCII letters only); an extended key gives code 0
// and extended = true with its scan code in `scan`.
struct Key {
  int code = 0;
  bool extended = false;
  int scan = 0;
};
Key ReadKeyUpper();

// ---- 2. Number with default --------------------------------------------------------
// What the first character of a non-empty answer must be.
enum class FirstChar {
  kDigit,        // 0..9: counts, iterations, damping, densities, viscosities
  kOneToNine,    // 1..9: radii, file numbers
  kZeroPoint,    // "0.": partial specific volumes
  kSignOrDigit,  // + - or 0..9
  kAny,
};
struct NumberQuestion {
  std::string_view prompt;
  double defaultValue = 0;         // taken by an empty answer
  int defaultColumn = 0;           // where the default is written (57..62); 0: not written
  FirstChar first = FirstChar::kDigit;
  bool integer = false;            // the answer must be a whole number
  // How the default is written: given text, else F(width, decimals), else the
  // shortest form ("200", "0.736").
  std::string_view defaultText = {};
  int defaultWidth = 0;
  int defaultDecimals = -1;
  std::function<bool(double)> valid = {};  // further test; false asks again
  // Letters (upper case) that, as first character of an answer in either
  // case, take the default like an empty answer ("YN": Y or N keep it).
  std::string_view defaultKeys = {};
};
struct NumberAnswer {
  double value = 0;
  bool empty = false;  // the default was taken
  int asInt() const { return static_cast<int>(value); }
};
// Writes the prompt and reads a line. Refused (asked again in place): a first
// character that does not fit, text that is not a number (whole number when
// `integer`), a value `valid` rejects.
NumberAnswer AskNumber(const NumberQuestion& question);

// ---- 3. and 4. Number list, range "n-m" -------------------------------------------
struct NumberList {
  std::vector<double> values;
  bool isRange = false;  // "n-m": values[0] = n, values[1] = m
  bool ok = true;        // every number converted (and a range has both ends)
  bool more = false;     // numbers beyond the count read were left on the line
};
// Scans a line left to right: every run of characters with codes 43..69
// (+ , - . / 0..9 : ; < = > ? @ A..E) is one number, every other character
// separates. Stops at maxCount numbers. With `ranges`, a hyphen as the 2nd,
// 3rd or 4th character makes the line a range n-m (so n has 1 to 3 digits).
NumberList ScanNumberList(std::string_view line, int maxCount, bool ranges = false);

struct ListRules {
  bool ranges = false;        // recognise "n-m"
  bool emptyAllowed = false;  // an empty line returns an empty list; else read again
  std::function<bool(const NumberList&)> valid = {};  // further test; false asks again
};
// Writes the prompt and reads the list with the line editor, starting empty.
// A line with a run that is no number, or a list `valid` rejects, is asked
// again.
NumberList AskNumberList(std::string_view prompt, int maxCount, ListRules rules = {});

// ---- 5. Line editor -------------------------------------------------------------
// Edits `initial` at the cursor: printable keys insert at the cursor (at most
// maxLength characters), Backspace deletes left, Home/End, Left/Right move,
// Ctrl-Y clears, Enter accepts (and ends the line). The cursor stays within
// columns 1..79; text past column 79 is kept but not shown.
std::string EditLine(std::string_view initial, int maxLength = kAnswerLength);
// The same editor where Escape abandons the line: nullopt (the line is ended
// as by Enter), for questions that may be left without an answer.
std::optional<std::string> EditLineOrEscape(std::string_view initial,
                                            int maxLength = kAnswerLength);

// The line read of the input stream (ReadLine with its 128-byte buffer),
// cut to 72 characters.
std::string ReadAnswer();
// A path typed as the answer: directories and file names are not cut, up to
// kPathLength characters (runs often lie deep in a directory tree).
std::string ReadPathAnswer();

}  // namespace svfit::console
