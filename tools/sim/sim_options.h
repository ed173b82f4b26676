// Command line of svfit-sim: options to a SeriesSetup, and the help text.
#pragma once

#include <string>
#include <vector>

#include "sim/scan_series.h"

namespace svfit::sim {

struct CommandLine {
  SeriesSetup setup;
  std::string outputDir = ".";  // where the files go
  bool overwrite = false;       // replace existing scan files
  bool quiet = false;           // no summary on stdout
  bool help = false;            // --help given: print helpText() and stop
};

// Parses the arguments after the program name. Throws std::invalid_argument
// with a message that names the option and says what is wrong.
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::string helpText();

}  // namespace svfit::sim
