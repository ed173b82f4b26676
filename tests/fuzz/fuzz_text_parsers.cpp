// libFuzzer target: every other text parser of the program on one input.
//
//   scan file text   header pattern and header numbers, the number-list rule,
//                    radial step and concentration of the title row, the
//                    header search and the data lines
//   file names       start file of a series and the names that follow it
//   console answers  number lists and ranges; and, with the input as keys,
//                    the number question, the number-list question and the
//                    line editor of the dialogue
//
// Checked besides crashes and undefined behaviour: what a parser accepts is
// finite and in its range, the data cursor always moves on, the names of a
// series keep directory and extension.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/crt.h"
#include "console/prompt.h"
#include "scans/reader.h"
#include "scans/scan_file.h"
#include "state/state.h"

namespace {

using namespace svfit;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

void ScanText(std::string_view text) {
  for (const char kind : {'R', 'P'}) {
    const scans::HeaderSearch found = scans::FindHeader(text, kind);
    Check(found.dataStart <= text.size(), "data start inside the text");
    if (found.headerLine == 0) continue;
    scans::ScanHeader header;
    if (scans::ParseHeader(found.header, header)) {
      Check(std::isfinite(header.temperature) && std::isfinite(header.elapsedTime) &&
                std::isfinite(header.omega2t) && std::isfinite(header.wavelength) &&
                header.rotorSpeed > 0 && std::isfinite(header.rotorSpeed) && header.numberCount <= 7,
            "header numbers");
    }
    scans::DataCursor cursor(text, found.dataStart, found.headerLine + 1);
    double r = 0, v = 0;
    for (int n = 0; n <= static_cast<int>(text.size()); ++n) {
      const auto status = cursor.Next(r, v);
      if (status != scans::DataCursor::Status::kPoint) break;
      Check(std::isfinite(r) && std::isfinite(v), "finite data point");
    }
  }
  std::string_view line;
  std::size_t pos = 0;
  for (int lines = 0; scans::NextLine(text, pos, line) && lines < 8; ++lines) {
    Check(scans::CutLine(line).size() <= static_cast<std::size_t>(kLineLength), "cut line");
    double step = 0.0007, conc = 0;
    if (scans::ParseRadialStep(line, step)) Check(step > 0 && step < 0.1, "radial step");
    if (scans::FindTitleConcentration(line, conc)) Check(conc > 0 && std::isfinite(conc), "concentration");
    double numbers[7];
    int failed = 0;
    const int n = scans::ParseNumberList(line, numbers, 7, &failed);
    Check(n >= 0 && n <= 7, "number count");
    for (int i = 0; i < n; ++i) Check(std::isfinite(numbers[i]), "finite number");
    const console::NumberList list = console::ScanNumberList(line, 16, lines % 2 == 0);
    Check(list.values.size() <= 16, "list length");
    double one = 0;
    if (scans::ParseNumber(line, one)) Check(std::isfinite(one), "finite token");
  }
}

void FileNames(std::string_view text) {
  const std::string path(text.substr(0, text.find('\n')));
  static AnalysisState state;  // one instance: its matrices are large
  AnalysisState* st = &state;
  for (const char generation : {'N', 'O', 'I'}) {
    st->fileGeneration = generation;
    st->fileStep = static_cast<int>(text.size() % 7);
    if (!scans::SetStartFile(*st, path)) continue;
    int number = st->startFileNumber;
    for (int k = 0; k < 3; ++k) {
      st->currentFileName = scans::NextFileName(*st, number);
      Check(st->currentFileName.compare(0, st->directoryPath.size(), st->directoryPath) == 0,
            "next name in the same directory");
    }
  }
}

// The input as keys for the three line questions of the dialogue.
void Answers(std::string_view text) {
  console::StartTestConsole(std::string(text));
  try {
    for (;;) {
      const console::NumberAnswer a = console::AskNumber(
          {.prompt = "number :  ", .defaultValue = 5, .defaultColumn = 59, .integer = text.size() % 2 == 0});
      Check(std::isfinite(a.value), "finite answer");
      const console::NumberList list = console::AskNumberList("list :  ", 700, {.ranges = true, .emptyAllowed = true});
      for (const double v : list.values) Check(std::isfinite(v), "finite list entry");
      const std::string edited = console::EditLine("/data/run/00001.RA2");
      Check(edited.size() <= static_cast<std::size_t>(console::kAnswerLength), "edited length");
    }
  } catch (const console::InputEnded&) {
  } catch (const console::ConsoleExited&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 65536) return -1;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ScanText(text);
  FileNames(text);
  Answers(text.substr(0, 512));  // a few dozen answers are plenty
  return 0;
}
