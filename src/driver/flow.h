// The steps of an analysis, each subsystem behind one function, in the order
// the driver calls them. Each takes the analysis state and reads and writes
// its fields; what a step decides for the flow is its return value.
#pragma once

#include <string>

#include "results/fit_outputs.h"
#include "state/state.h"

namespace svfit::driver {

// Where the fit set-up dialogue starts: the whole of it after loading, or
// part-way when an option letter resumes it.
enum class SetupEntry {
  kStart,       // after loading: the whole dialogue
  kIterations,  // W: iteration prompt, noise prompts, model menu, start values
  kScanSpeed,   // A, S, H: from the scan-speed prompt
  kNoise,       // K, M: from the noise prompts
  kParameters,  // L: the parameter screens
};

enum class LoadResult {
  kLoaded,         // the series is loaded; go on to the post-loading steps
  kAfter3000Rpm,   // a 3000 rpm file was handled: ask the run options from the load mode on
  kNothingLoaded,  // no file could be used: choose the files again
};

// ---- The analysis, steps 3 and 5 to 13 -------------------------------------------
// A new analysis: the state reset, and the texts placed with Ctrl-V in the
// viewer of the last one forgotten (else the new one would offer them).
void StartAnalysis(AnalysisState& st);
bool SelectFiles(AnalysisState& st);     // directory, cell, start file; false: start again
// Opens the graphics surface (hidden) and keeps its driver and mode in
// st.graphDriver and st.graphMode for every later graph.
void StartGraphics(AnalysisState& st);
LoadResult LoadScans(AnalysisState& st); // the loading loop, file by file
// Radial range, cut, cleaning, counts; then the last and the first data set
// to fit, asked as options H and S ask them.
void AfterLoading(AnalysisState& st);
// The distribution path after "yes" to the distribution question; true when
// the user goes straight to the option menu.
bool RunDistribution(AnalysisState& st);
// The fit set-up dialogue; false when 0 iterations were chosen (no fit).
bool RunFitSetup(AnalysisState& st, SetupEntry entry);
// The fit with its screen, time and tone, then the fitted curves in the
// viewer. True when iterations ran or the model was evaluated with every
// parameter fixed (the results are then shown); false when the fit was
// refused for want of points.
bool RunFit(AnalysisState& st);
void ShowResults(AnalysisState& st);     // post-fit constants, Archibald masses, report
void ShowGraph(AnalysisState& st);       // data, fit and residuals as st.display asks
// The set-up's start values of models with several components: the series in
// the viewer, where S1..S4 are marked at the boundaries of the last scan
// (markedS, markedAmp, markedCount; earlier marks are cleared first). Does
// nothing while no graphics surface is open.
void PickStartValues(AnalysisState& st);

// ---- Option menu actions --------------------------------------------------------
// Data sets, radial limits and the graph's choice of sets: data_sets.cpp.
bool OmitDataSets(AnalysisState& st);    // A; false: empty answer, back to the menu
void ChooseStartSet(AnalysisState& st);  // S
void ChooseLastSet(AnalysisState& st);   // H
void RestoreDataSets(AnalysisState& st); // O
// After O the report, the print-out and the export still show the last fit,
// made on other data sets than those now restored: a console note says so.
void NoteRestoredSets(const AnalysisState& st);
void NewNearBottomRadius(AnalysisState& st);  // K
void NewStartRadius(AnalysisState& st);  // M
void ProposeMaxAbsorbance(AnalysisState& st); // L
void ChooseGraphSets(AnalysisState& st); // B: which used data sets the graph shows
// D: the report to the printer; returns the key read after "data send off"
// (0 when none was read), which is tried as the letters U and Z. Hardcopies
// still waiting are printed first.
int PrintReport(AnalysisState& st);
// Where D sends the report: by default the printer when `lp` has a default
// destination, else a text file in the current directory. Tests keep it
// away from the printer with allowSpooler false.
void SetReportDirectory(const std::string& directory, bool allowSpooler);
// --results FILE and --curves DIR of the command line: after each fit, when
// its results are first shown, one JSON line and one CSV file per fitted scan.
void SetFitOutputs(const results::FitOutputSettings& settings);
void PrintHardcopies(AnalysisState& st); // X
void WriteSedfitFiles(AnalysisState& st);  // U
void WriteHpglPlot(AnalysisState& st);   // Z
void CloseGraphics(AnalysisState& st);   // N and E: the graphics surface goes away
void CloseHpglFile(AnalysisState& st);   // at the end: an open plot file is finished

}  // namespace svfit::driver
