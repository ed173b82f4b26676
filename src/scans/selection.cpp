// File and cell selection (see selection.h).
//
// Paths are POSIX paths: the device prompt takes a directory, absolute or
// relative, with "~" for the home directory; the single-letter answers Y
// (restart) and Z (end) keep their meaning. Masks keep the instrument's file
// naming in mind: "*.r?2" finds 00001.RA2 as well as 00001.ra2.
//
// The listing puts five names a row, each at a pitch of 16 columns, so the
// mouse column is x / (16 · cell width) and a row never wraps on the 80
// columns of the console.
#include "scans/selection.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "console/crt.h"
#include "console/format.h"
#include "console/prompt.h"
#include "scans/reader.h"
#include "scans/scan_file.h"

namespace svfit::scans {
namespace {

constexpr int kNamesPerRow = 5;
constexpr int kPitch = 16;        // columns per listed name
constexpr int kNameWidth = 13;    // a name is written padded to 13 characters
constexpr int kFirstListRow = 2;
constexpr int kListRows = 22;     // rows 2..23
constexpr std::size_t kMaxNameLength = 12;

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

char Fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// One part of a mask: "?" is one character or, at the end, none; "*" any run.
bool MatchPart(std::string_view name, std::string_view mask) {
  if (mask.empty()) return name.empty();
  if (mask[0] == '*') {
    for (std::size_t k = 0; k <= name.size(); ++k)
      if (MatchPart(name.substr(k), mask.substr(1))) return true;
    return false;
  }
  if (name.empty()) return mask.find_first_not_of("?*") == std::string_view::npos;
  if (mask[0] != '?' && Fold(mask[0]) != Fold(name[0])) return false;
  return MatchPart(name.substr(1), mask.substr(1));
}

// The device prompt: a directory, or Y (restart) and Z (end the program).
// Returns the directory; "" for Y.
std::string AskDirectory(std::string_view prompt) {
  for (;;) {
    console::Write(prompt);
    const int row = console::CursorRow();
    const std::string answer = console::ReadPathAnswer();
    const std::string trimmed(answer.substr(0, answer.find_last_not_of(' ') + 1));
    if (trimmed.size() == 1 && std::toupper(static_cast<unsigned char>(trimmed[0])) == 'Z') {
      console::ConsoleHalt(0);
    }
    if (trimmed.size() == 1 && std::toupper(static_cast<unsigned char>(trimmed[0])) == 'Y') return {};
    if (trimmed.empty()) {  // refused: the question again in place
      console::MoveCursor(1, row);
      console::ClearToEndOfLine();
      continue;
    }
    const std::string directory = DirectoryFromAnswer(trimmed);
    if (IsDirectory(directory)) return directory;
    console::WriteNote("directory not found: " + directory);
  }
}

// The listing with a typed answer or a mouse click on a name. `caption` is
// written below the listing before the answer is awaited. Returns the chosen
// name, or what was typed.
std::string ChooseFromListing(const std::vector<std::string>& names, std::string_view caption = {}) {
  const int rows = (static_cast<int>(names.size()) + kNamesPerRow - 1) / kNamesPerRow;
  const int shown = std::min(rows, kListRows);
  int top = 0;  // first list row on the screen
  auto draw = [&] {
    console::ClearScreen();
    console::SetTextColor(console::kYellow);
    for (int r = 0; r < shown; ++r) {
      for (int c = 0; c < kNamesPerRow; ++c) {
        const std::size_t k = static_cast<std::size_t>((top + r) * kNamesPerRow + c);
        if (k >= names.size()) break;
        console::MoveCursor(1 + c * kPitch, kFirstListRow + r);
        std::string cell = names[k].substr(0, kMaxNameLength);
        cell.resize(kNameWidth, ' ');
        console::Write(cell);
      }
    }
    console::MoveCursor(1, kFirstListRow + shown);
    if (!caption.empty()) console::WriteLn(caption);
    console::SetTextColor(console::kWhite);
  };
  draw();
  auto clicked = [&](std::string& chosen) {
    if ((console::MouseButtons() & 1) == 0) return false;
    const int column = console::MouseX() / (kPitch * std::max(1, console::CellWidth()));
    const int screenRow = console::MouseY() / std::max(1, console::CellHeight()) + 1;
    const int listRow = screenRow - kFirstListRow;
    if (column < 0 || column >= kNamesPerRow || listRow < 0 || listRow >= shown) return false;
    const std::size_t k = static_cast<std::size_t>((top + listRow) * kNamesPerRow + column);
    if (k >= names.size()) return false;
    chosen = names[k];
    // The name highlighted in the listing, then echoed as the answer.
    console::MoveCursor(1 + column * kPitch, screenRow);
    console::SetTextBackground(console::kBlue);
    console::SetTextColor(console::kWhite);
    console::Write(chosen);
    console::SetTextBackground(console::kBlack);
    console::MoveCursor(1, kFirstListRow + shown + (caption.empty() ? 0 : 1));
    console::WriteLn(chosen);
    return true;
  };
  std::string chosen;
  if (console::IsScriptFrontend()) {
    // Keys come from a script: a pending click or the next line.
    if (clicked(chosen)) return chosen;
    return console::ReadPathAnswer();
  }
  for (;;) {
    if (console::KeyPressed()) return console::ReadPathAnswer();
    if (clicked(chosen)) return chosen;
    // The list scrolls by one row when the mouse leaves it below or above.
    const int mouseRow = console::MouseY() / std::max(1, console::CellHeight()) + 1;
    if (mouseRow >= kFirstListRow + shown && top + shown < rows) {
      ++top;
      draw();
    } else if (mouseRow < kFirstListRow && top > 0) {
      --top;
      draw();
    }
    console::Delay(20);
  }
}

// Lines of the start file up to its header and one beyond, then the
// question. True when the file is the right one.
bool ConfirmStartFile(const AnalysisState& st, const std::string& path) {
  std::string text;
  {
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return false;
    char buffer[4096];
    std::size_t n;
    // Enough of the file for the header and a line beyond it.
    while (text.size() < (1u << 20) && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text.append(buffer, n);
    std::fclose(in);
  }
  std::size_t pos = 0;
  std::string_view line;
  int headerLine = 0;
  for (int k = 1; NextLine(text, pos, line) && k <= 200; ++k) {
    console::WriteLn(CutLine(line));
    if (headerLine > 0) break;
    if (k >= 2 && IsHeaderLine(line, st.dataKind)) headerLine = k;
  }
  console::SetTextColor(console::kLightMagenta);
  const bool yes = console::AskYesNo("The correct start file            (Y/N) : ", console::YesNo::kEnterYes);
  console::SetTextColor(console::kWhite);
  return yes;
}

// The cell dialogue of new-generation and interference files. False when the
// dialogue starts again at the device prompt.
bool CellDialog(AnalysisState& st) {
  std::string directory = AskDirectory("device with path (Y=restart;Z=exit) ");
  if (directory.empty()) return false;
  // The run directories (names of up to six characters).
  const std::vector<std::string> runs = ListDirectory(directory, "??????");
  std::vector<std::string> runDirs;
  for (const std::string& name : runs)
    if (IsDirectory(directory + name)) runDirs.push_back(name);
  if (!runDirs.empty()) {
    const std::string chosen = ChooseFromListing(runDirs);
    if (!chosen.empty()) {
      if (!IsDirectory(directory + chosen)) {
        console::WriteNote("directory not found: " + directory + chosen);
        return false;
      }
      directory += chosen + "/";
    }
  }

  // The cell: its files are found by the extension mask and the cell digit.
  const std::string extensionMask = st.fileMasks[1];
  auto filesOfCell = [&](int cell) {
    return ListDirectory(directory, "*" + extensionMask + std::to_string(cell));
  };
  int proposed = 1;
  std::vector<std::string> files;
  for (;;) {
    const console::NumberAnswer answer = console::AskNumber(
        {.prompt = "Number of the cell  (>8 back to the directory)    :  ",
         .defaultValue = static_cast<double>(proposed),
         .defaultColumn = 54,
         .first = console::FirstChar::kDigit,
         .integer = true,
         .valid = [](double v) { return v >= 1; }});
    const int cell = answer.asInt();
    if (cell > 8) return false;
    files = filesOfCell(cell);
    if (!files.empty()) break;
    // No file of that cell: the next cell that has files is offered.
    int next = cell + 1;
    while (next <= 8 && filesOfCell(next).empty()) ++next;
    if (next > 8) {
      console::WriteNote("no scan files of cells " + std::to_string(cell) + " to 8 in " + directory);
      return false;
    }
    proposed = next;
  }

  // The first file gives width, extension and the default start number.
  const std::string& first = files.front();
  const std::size_t dot = first.rfind('.');
  const std::string digits = first.substr(0, dot);
  if (dot == std::string::npos || digits.empty() ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      digits.size() > 9) {
    console::WriteNote("no numbered scan file: " + first);
    return false;
  }
  const int width = static_cast<int>(digits.size());
  const std::string extension = first.substr(dot + 1);
  const int defaultNumber = std::atoi(digits.c_str());

  const std::string numberPrompt = "Number of the  starting file                      :  ";
  const int number = console::AskNumber({.prompt = numberPrompt,
                                         .defaultValue = static_cast<double>(defaultNumber),
                                         .defaultColumn = static_cast<int>(numberPrompt.size()) + 1,
                                         .first = console::FirstChar::kDigit,
                                         .integer = true,
                                         .valid = [](double v) { return v >= 0 && v < 1e9; }})
                         .asInt();
  const std::string stepPrompt = "What sequence of files (each 1. 2. n.)are desired :  ";
  const int step = console::AskNumber({.prompt = stepPrompt,
                                       .defaultValue = 1,
                                       .defaultColumn = static_cast<int>(stepPrompt.size()) + 1,
                                       .first = console::FirstChar::kOneToNine,
                                       .integer = true,
                                       .valid = [](double v) { return v >= 1 && v < 1e6; }})
                       .asInt();

  const std::string path = directory + console::IntToTextZeros(number, width) + "." + extension;
  if (!IsFile(path)) {
    console::WriteLn("File not found. New attempt ?");
    return false;
  }
  if (!ConfirmStartFile(st, path)) {
    st.directoryPath = directory;  // the path is kept for the next attempt
    return false;
  }
  SetStartFile(st, path);
  st.fileStep = step;
  return true;
}

// The name dialogue of old-generation files: directories are walked until a
// file is chosen.
bool NameDialog(AnalysisState& st) {
  std::string directory = AskDirectory("device with path way (Y=restart; Z=exit) ");
  if (directory.empty()) return false;
  for (;;) {
    const std::vector<std::string> names = ListDirectory(directory, "*.");
    const std::string chosen = ChooseFromListing(names, "File name");
    if (chosen.empty()) return false;
    const std::string path = directory + chosen;
    if (IsDirectory(path)) {
      directory = path + "/";
      continue;
    }
    if (!IsFile(path)) {
      console::WriteLn("File not found. New attempt ?");
      return false;
    }
    if (!ConfirmStartFile(st, path)) {
      st.directoryPath = directory;
      return false;
    }
    if (!SetStartFile(st, path)) {
      console::WriteNote("the name does not end in a two-digit file number: " + chosen);
      return false;
    }
    st.fileStep = 1;
    return true;
  }
}

}  // namespace

bool MatchMask(std::string_view name, std::string_view mask) {
  const std::size_t maskDot = mask.rfind('.');
  if (maskDot == std::string_view::npos) {
    // No extension part: "*" matches every name, other masks only names
    // without an extension.
    if (mask.find('*') != std::string_view::npos) return MatchPart(name, mask);
    return name.find('.') == std::string_view::npos && MatchPart(name, mask);
  }
  const std::size_t nameDot = name.rfind('.');
  const std::string_view base = nameDot == std::string_view::npos ? name : name.substr(0, nameDot);
  const std::string_view ext = nameDot == std::string_view::npos ? std::string_view() : name.substr(nameDot + 1);
  return MatchPart(base, mask.substr(0, maskDot)) && MatchPart(ext, mask.substr(maskDot + 1));
}

std::vector<std::string> ListDirectory(const std::string& directory, std::string_view mask) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;
    if (MatchMask(name, mask)) names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::string DirectoryFromAnswer(std::string_view answer) {
  std::string path(answer);
  if (!path.empty() && path[0] == '~' && (path.size() == 1 || path[1] == '/')) {
    const char* home = std::getenv("HOME");
    path = std::string(home ? home : "") + path.substr(1);
  }
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

void SelectFiles(AnalysisState& st) {
  for (;;) {
    const bool done = st.fileGeneration == 'O' ? NameDialog(st) : CellDialog(st);
    if (done) return;
  }
}

std::string AskExportPath() {
  constexpr std::string_view kPrompt = "device with path way (without file name)       : ";
  constexpr int kEchoColumn = 50;
  for (;;) {
    console::SetTextColor(console::kWhite);
    console::Write(kPrompt);
    const int row = console::CursorRow();
    const std::string answer = console::ReadPathAnswer();
    const std::size_t first = answer.find_first_not_of(' ');
    if (first == std::string::npos) {  // refused: the question again in place
      console::MoveCursor(1, row);
      console::ClearToEndOfLine();
      continue;
    }
    const std::string trimmed = answer.substr(first, answer.find_last_not_of(' ') - first + 1);
    const std::string directory = DirectoryFromAnswer(trimmed);
    console::MoveCursor(kEchoColumn, row);
    console::ClearToEndOfLine();
    console::SetTextColor(console::kYellow);
    console::WriteLn(directory);
    console::SetTextColor(console::kWhite);
    if (!IsDirectory(directory)) {
      if (!console::AskYesNo("directory does not exist, create it             (Y/N) :  ",
                             console::YesNo::kEnterNo))
        continue;
      std::error_code error;
      std::filesystem::create_directories(directory, error);
      if (error || !IsDirectory(directory)) {
        console::WriteNote("cannot create " + directory + ": " + error.message());
        continue;
      }
    }
    if (::access(directory.c_str(), W_OK) != 0) {
      console::WriteNote("cannot write to " + directory);
      continue;
    }
    return directory;
  }
}

}  // namespace svfit::scans
