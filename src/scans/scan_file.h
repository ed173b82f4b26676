// Scan files as text: line splitting, the header line, the number-list rule
// and the data lines, without any console or analysis state, so that every
// rule of the file format can be tested on strings.
//
// A scan file is a title row, optional description lines, one header line
//   "R 2 20.0 10000 0003501 3.3160E09 280 32"
// (kind letter, cell, temperature [°C], rotor speed [rpm], elapsed time [s],
// ω²t integral [rad²/s], wavelength [nm], a seventh number) and then one data
// line per point: radius [cm], value [OD or fringes], and for absorbance a
// standard deviation that is read over. Lines end in LF or CRLF.
//
// Invariant: nothing here accepts a non-finite number; "nan", "inf", hex
// forms and out-of-range exponents are never numbers of a scan file.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace svfit::scans {

// The header numbers of one scan file.
struct ScanHeader {
  int cell = 0;            // cell 1..9
  double temperature = 0;  // [°C]
  double rotorSpeed = 0;   // [rpm]
  double elapsedTime = 0;  // [s]
  double omega2t = 0;      // ω²t integral [rad²/s]
  double wavelength = 0;   // [nm]
  double seventh = 0;      // replicates (absorbance) or similar; not used
  int numberCount = 0;     // numbers found on the line, at most 7
};

// Next line of `text` from `pos`: the line without LF or CRLF; pos moves past
// the line end. False at the end of the text. A Ctrl-Z byte ends the text, as
// in files written by old DOS tools.
bool NextLine(std::string_view text, std::size_t& pos, std::string_view& line);

// A line as the dialogue keeps it: at most 72 characters.
std::string CutLine(std::string_view line);

// The header pattern: the kind letter, a blank, a cell digit 1..9, a blank and
// a digit in columns 1..5.
bool IsHeaderLine(std::string_view line, char dataKind);

// The number-list rule of the dialogue: every run of characters with codes
// 43..69 ("+" to "E") is one number, anything else separates numbers. Each run
// is converted into the next slot; a run that is no number gives 0 and is
// counted in `*failed` when given. Returns the numbers stored (<= maxCount).
int ParseNumberList(std::string_view text, double* out, int maxCount, int* failed = nullptr);

// Parses a header line (kind letter first). "e" counts as "E". False when a
// character after the kind letter is not a digit, "+", "-", ".", "E" or a
// blank, when a number does not convert, or when the rotor speed is not
// positive: such a file cannot be used.
bool ParseHeader(std::string_view line, ScanHeader& header);

// Radial point spacing of interference files from the title row
// ("cm/pixel:  0.00071350165, Sample"): from the first digit on, at most 13
// characters, their leading number. False (step unchanged) when there is no
// usable spacing (not a number, not in 0 < step < 0.1 cm).
bool ParseRadialStep(std::string_view title, double& step);

// Loading concentration [mg/ml] written in a title row ("BSA 0.5 mg/ml"): the
// first blank followed by a digit and a digit or a point starts it (a blank is
// put in front of the row, so a number at its start counts). False when there
// is none or it is not above 0.
bool FindTitleConcentration(std::string_view title, double& concentration);

// Converts one whole token such as "-1.19000E-001": optional sign, digits with
// an optional point, optional exponent. False for anything else.
bool ParseNumber(std::string_view token, double& value);

// Where the header line of a file is.
struct HeaderSearch {
  int headerLine = 0;                     // k, 1-based; 0 when the file has none
  std::string header;                     // the header line, at most 72 characters
  std::array<std::string, 3> titleLines;  // lines before the header (at most three)
  std::size_t dataStart = 0;              // offset of line k + 1 in the text
};
// Looks for the header from line 2 on (line 1 is always the title row).
HeaderSearch FindHeader(std::string_view text, char dataKind);

// The data lines of a file, one point after the other.
class DataCursor {
 public:
  enum class Status { kPoint, kEndOfFile, kBadLine };
  // `firstLine` is the line number of the line at `start` (k + 1).
  DataCursor(std::string_view text, std::size_t start, int firstLine);
  // Next point: radius and value are the first two numbers of the line; what
  // follows them is not read. Blank lines are passed over. A line whose first
  // two fields are not numbers gives kBadLine (the cursor stays there).
  Status Next(double& radius, double& value);
  int lineNumber() const { return line_; }  // line of the last point or of the bad line

 private:
  std::string_view text_;
  std::size_t pos_;
  int line_;
  int nextLine_;
};

}  // namespace svfit::scans
