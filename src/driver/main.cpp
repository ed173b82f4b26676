// svfit: analysis of sedimentation velocity runs of an analytical
// ultracentrifuge. Read the few options, create the analysis state, start the
// console, run the dialogue, finish.
#include <cstdio>
#include <cstring>
#include <string>

#include "console/crt.h"
#include "console/graph.h"
#include "driver/driver.h"
#include "state/state.h"

namespace {

// --help, --version and --png DIR. Returns -1 to go on, else the exit code.
int ReadOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("svfit %s\n", SVFIT_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--png") == 0 && i + 1 < argc) {
      svfit::console::SetPngDirectory(argv[++i]);  // every picture shown is saved there
      continue;
    }
    std::printf("usage: svfit [--help] [--version] [--png DIR]\n");
    return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int code = ReadOptions(argc, argv); code >= 0) return code;
  svfit::AnalysisState st;
  svfit::console::StartConsole("svfit");
  svfit::driver::RunDriver(st);
  // The user chose to finish: end at once, without waiting for Escape.
  svfit::console::ConsoleHalt(0);
}
