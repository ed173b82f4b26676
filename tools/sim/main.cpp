// svfit-sim: simulates a sedimentation velocity run and writes its scan files.
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/scan_series.h"
#include "sim/sim_options.h"

int main(int argc, char** argv) {
  using namespace svfit::sim;
  CommandLine cl;
  try {
    cl = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "svfit-sim: %s\nsvfit-sim --help lists the options.\n", e.what());
    return 2;
  }
  if (cl.help) {
    std::fputs(helpText().c_str(), stdout);
    return 0;
  }
  try {
    const SeriesSetup& setup = cl.setup;
    if (!cl.quiet)
      std::printf("svfit-sim: solving the Lamm equation for %zu component(s), %d scans ...\n",
                  setup.run.components.size(), setup.scanCount);
    const Series series = simulateSeries(setup);
    writeSeries(series, cl.outputDir, cl.overwrite);
    if (!cl.quiet) {
      std::printf("svfit-sim: wrote %s ... %s (%zu points each) to %s\n",
                  series.files.front().name.c_str(), series.files.back().name.c_str(),
                  series.radii.size(), cl.outputDir.c_str());
      std::printf("svfit-sim: %d radial cells, estimated error %.1e of the loading\n",
                  series.cells, series.errorEstimate);
    }
    if (!series.converged)
      std::fprintf(stderr,
                   "svfit-sim: warning: the solution reached only %.1e of the loading, not "
                   "the tolerance %.1e (a very sharp boundary)\n",
                   series.errorEstimate, setup.tolerance);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "svfit-sim: %s\n", e.what());
    return 1;
  }
  return 0;
}
