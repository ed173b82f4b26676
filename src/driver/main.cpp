// svfit: analysis of sedimentation velocity runs of an analytical
// ultracentrifuge. Read the few options, create the analysis state, start the
// console, run the dialogue, finish.
#include <cstdio>
#include <cstring>
#include <string>

#include "console/crt.h"
#include "console/graph.h"
#include "driver/driver.h"
#include "driver/flow.h"
#include "state/state.h"

namespace {

constexpr const char* kUsage =
    "usage: svfit [--png DIR] [--results FILE] [--curves DIR]\n"
    "       svfit --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "svfit analyses sedimentation velocity runs of an analytical ultracentrifuge.\n"
    "It reads a series of XL-A/XL-I radial scan files of one cell, fits all scans\n"
    "at once with analytic approximations of the Lamm equation (nine models) or\n"
    "its numerical solution (model F), one to four components, TI and RI baseline\n"
    "noise removed, and reports s, D and molar masses with standard deviations.\n"
    "It is driven by an 80 x 25 text dialogue; when standard input is not a\n"
    "terminal it takes its keys from standard input and writes a plain transcript\n"
    "to standard output (batch use).\n"
    "\n"
    "options:\n"
    "  --png DIR       save every picture shown as DIR/graph-NNN.png\n"
    "  --results FILE  append one JSON object per fit to FILE (JSON Lines)\n"
    "  --curves DIR    after every fit, write one CSV file per fitted scan into DIR\n"
    "  --help          show this help and exit\n"
    "  --version       show the version and exit\n"
    "\n"
    "exit codes: 0 finished, 1 cancelled (Ctrl-C), 2 bad command line, 3 input ended\n"
    "manual: man svfit\n";

int BadCommandLine(const std::string& why) {
  std::fprintf(stderr, "svfit: %s\n%s", why.c_str(), kUsage);
  return 2;
}

// Reads the options. Returns -1 to go on, else the exit code.
int ReadOptions(int argc, char** argv, svfit::results::FitOutputSettings& outputs) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      std::printf("%s%s", kUsage, kHelp);
      return 0;
    }
    if (option == "--version") {
      std::printf("svfit %s\n", SVFIT_VERSION);
      return 0;
    }
    const bool takesValue = option == "--png" || option == "--results" || option == "--curves";
    if (!takesValue) return BadCommandLine("unknown option '" + option + "'");
    if (i + 1 >= argc || argv[i + 1][0] == '\0')
      return BadCommandLine(option + " needs a " + (option == "--results" ? "file" : "directory"));
    const std::string value = argv[++i];
    if (option == "--png") svfit::console::SetPngDirectory(value);  // every picture shown
    if (option == "--results") outputs.resultsFile = value;
    if (option == "--curves") outputs.curvesDir = value;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  svfit::results::FitOutputSettings outputs;
  outputs.version = SVFIT_VERSION;
  if (const int code = ReadOptions(argc, argv, outputs); code >= 0) return code;
  svfit::driver::SetFitOutputs(outputs);
  svfit::AnalysisState st;
  svfit::console::StartConsole("svfit");
  svfit::driver::RunDriver(st);
  // The user chose to finish: end at once, without waiting for Escape.
  svfit::console::ConsoleHalt(0);
}
