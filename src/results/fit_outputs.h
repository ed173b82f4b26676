// Machine-readable results of each fit, for scripts and pipelines: one JSON
// object per fit appended to a results file (JSON Lines), and one CSV file per
// fitted scan with the measured and fitted values, the residual and the noise
// terms. Both are asked for on the command line (--results FILE, --curves
// DIR) and never change the dialogue: nothing is printed unless a file cannot
// be written, which the console is told once per destination.
//
// The numbers are those of the report (the same expressions in the same
// units), in full double precision; a quantity the report shows as undefined
// (infinity or NaN) is null.
#pragma once

#include <string>
#include <vector>

#include "state/state.h"

namespace svfit::results {

// Where the results go; an empty name leaves that output out.
struct FitOutputSettings {
  std::string resultsFile;  // --results: JSON Lines, appended
  std::string curvesDir;    // --curves: created when missing
  std::string version;      // program version written into every object
};

// Identifies one fit of the run in both outputs.
struct FitStamp {
  int fitNumber = 1;                     // fits of this run so far, 1-based
  std::string date;                      // local time, ISO 8601 with offset
  std::vector<std::string> curveFiles;   // names of the CSV files written, if any
};

// The JSON object of the current fit, on one line without a line end.
std::string FitResultsJson(const AnalysisState& st, const FitOutputSettings& settings,
                           const FitStamp& stamp);

// The CSV text of one fitted scan: a header row, then per used point
// radius [cm], measured and fitted value [data units], residual = measured −
// fitted, RI and TI noise terms (0 when not eliminated). Numbers in their
// shortest round-trip form, so the columns read back exactly.
std::string ScanCurveCsv(const AnalysisState& st, int scan);

// File name of a scan's CSV for fit n: "fit001-00012.RA2.csv" (the scan's file
// name; "scan12" when it has none).
std::string CurveFileName(const AnalysisState& st, int fitNumber, int scan);

// Writes both outputs after a fit, numbering the fits of the run. A file that
// cannot be written is reported on the console once per destination; the
// analysis goes on either way.
class FitOutputWriter {
 public:
  void Configure(FitOutputSettings settings) { settings_ = std::move(settings); }
  bool active() const { return !settings_.resultsFile.empty() || !settings_.curvesDir.empty(); }
  void AfterFit(const AnalysisState& st);

 private:
  void Report(bool& told, const std::string& what, const std::string& path);
  FitOutputSettings settings_;
  int fits_ = 0;
  bool resultsTold_ = false, curvesTold_ = false;
};

}  // namespace svfit::results
