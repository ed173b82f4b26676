// svfit: analysis of sedimentation velocity runs of an analytical
// ultracentrifuge. Create the analysis state, start the console, run the
// dialogue, finish.
#include <cstdio>
#include <cstring>
#include <string>

#include "console/crt.h"
#include "driver/driver.h"
#include "driver/state.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("svfit %s\n", SVFIT_VERSION);
      return 0;
    }
    std::printf("usage: svfit [--help] [--version] [--png DIR]\n");
    return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
  }
  svfit::AnalysisState st;
  svfit::console::StartConsole("svfit");
  svfit::driver::RunDriver(st);
  // The user chose to finish: end at once, without waiting for Escape.
  svfit::console::ConsoleHalt(0);
}
