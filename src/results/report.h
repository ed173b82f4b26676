// The fit report: title with model and date, run summary, settings of the fit,
// parameter table (value, standard deviation, start value), the molecular
// quantities of each component and the Archibald masses. One layout per model
// family: N; R; C, D and O (Faxen type); H; S and M; P.
//
// Order of use after a fit: the driver clears the console and calls
// ShowFitReport (console), or option D calls PrintReportOption (printer). Tests
// build the text with PrintFitReport into a ReportText and compare it.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "state/state.h"
#include "results/report_text.h"

namespace svfit::results {

// The whole report of the current model into `out`. For model P with new
// instrument files the set title is first replaced by the name pattern of the
// series (directory, first file number, ".R__").
void PrintFitReport(AnalysisState& st, ReportText& out, const ReportDate& date);

// The run summary block (file numbers, information lines, counts, header
// values, iterations). Returns the slit speed [mm/s], 0 when unused.
double PrintRunSummary(const AnalysisState& st, ReportText& out);

// Mean RI offset over the used scans when RI noise is eliminated without TI
// noise, else 0: the base-line level the report adds to P[3]. The driver keeps
// it in st.meanRiOffset after each fit.
double MeanRiOffset(const AnalysisState& st);

// Largest measured value over the used points of the used scans: the OD
// maximum of the settings lines.
double MaxUsedValue(const AnalysisState& st);

// The two optional lists of the printed report: the RI noise of each used
// data set relative to its mean, and the number of data sets at each radial
// index. Each starts with ESC, form feed and a line end.
void AppendRiNoiseList(const AnalysisState& st, ReportText& out);
void AppendPointCountList(const AnalysisState& st, ReportText& out);

// The console report after a fit, dated today, with colours and paging.
void ShowFitReport(AnalysisState& st);

// Option D: the report of the current model on the printer, preceded by
// three empty lines unless a graph hardcopy has already started the page,
// followed on request by the RI-noise list (RI noise on) and the point-count
// list (TI noise on); then "data send off" on the console and one key, which
// is returned (upper-cased; 0 for an extended key) as the next option letter.
// Where the printed text went is said on the console.
struct PrintTarget {
  std::string directory = ".";  // where the text file goes without a spooler
  bool allowSpooler = true;     // try `lp` first
};
int PrintReportOption(AnalysisState& st, bool hardcopyPending, const PrintTarget& target = {});

// Sends finished report text (Latin-1) to the printer: through `lp` when
// `allowLp` and `lpstat -d` names a default destination, otherwise into
// svfit-print-YYYYMMDD-HHMMSS.txt (local time `now`) in `directory`. Returns a
// one-line note for the console saying where the report went, or why it
// could not be written.
std::string SendReportToPrinter(std::string_view latin1, const std::string& directory,
                                bool allowLp, std::time_t now);

}  // namespace svfit::results
