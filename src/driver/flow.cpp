// The subsystem steps of the analysis. Each is a thin call into its folder;
// until that subsystem exists the step says so on one console line and the
// flow goes on (no files, no fit), so the dialogue can be walked end to end.
#include "driver/flow.h"

#include <string>

#include "console/crt.h"
#include "console/graph.h"
#include "driver/setup.h"
#include "results/max_absorbance.h"
#include "scans/reader.h"
#include "scans/selection.h"

namespace svfit::driver {
namespace {

void NotYet(const char* what) {
  console::WriteLn(std::string("(") + what + ": not yet available)");
}

}  // namespace

bool SelectFiles(AnalysisState& st) {
  scans::SelectFiles(st);  // asks again until a start file is confirmed; Z ends the program
  return true;
}

void StartGraphics(AnalysisState& st) {
  int driver = 0;
  int mode = 1;
  console::OpenGraphics(driver, mode, "vesa16");
  if (console::GraphicsResult() != console::kGrOk) {
    driver = 4;
    mode = 4;
    console::OpenGraphics(driver, mode, "");
  }
  console::HideGraphics();
  st.graphDriver = driver;
  st.graphMode = mode;
}

LoadResult LoadScans(AnalysisState& st) {
  scans::LoadHooks hooks;
  hooks.selectMoreFiles = [](AnalysisState& s) {  // further files under a new name
    scans::SelectFiles(s);
    return true;
  };
  switch (scans::LoadSeries(st, hooks)) {
    case scans::LoadOutcome::kLoaded: return LoadResult::kLoaded;
    case scans::LoadOutcome::kFile3000Done: return LoadResult::kAfter3000Rpm;
    case scans::LoadOutcome::kNothingLoaded: break;
  }
  return LoadResult::kNothingLoaded;
}

void AfterLoading(AnalysisState& st) {
  scans::FinishLoading(st);
  results::ApplyLoadingCut(st);
}

bool RunDistribution(AnalysisState&) {
  NotYet("sedimentation coefficient distribution");
  return false;
}

bool RunFitSetup(AnalysisState& st, SetupEntry entry) { return SetupDialog(st, entry); }

void RunFit(AnalysisState&) { NotYet("fit"); }

void ShowResults(AnalysisState&) { NotYet("fit report"); }

void ShowGraph(AnalysisState&) { NotYet("graph"); }

bool OmitDataSets(AnalysisState&) {
  NotYet("omitting data sets");
  return false;
}

void ChooseStartSet(AnalysisState&) { NotYet("starting data set"); }

void ChooseLastSet(AnalysisState&) { NotYet("last data set"); }

void RestoreDataSets(AnalysisState&) { NotYet("restoring the data sets"); }

void NewNearBottomRadius(AnalysisState&) { NotYet("near-bottom radius"); }

void NewStartRadius(AnalysisState&) { NotYet("start radius"); }

void ProposeMaxAbsorbance(AnalysisState&) { NotYet("maximal absorbance"); }

void ChooseGraphSets(AnalysisState&) { NotYet("choice of the plotted data sets"); }

int PrintReport(AnalysisState&) {
  NotYet("printing");
  return 0;
}

void PrintHardcopies(AnalysisState&) { NotYet("hardcopy printing"); }

void WriteSedfitFiles(AnalysisState&) { NotYet("SEDFIT files"); }

void WriteHpglPlot(AnalysisState&) { NotYet("HPGL plot file"); }

void CloseGraphics(AnalysisState&) { console::CloseGraphics(); }

void CloseHpglFile(AnalysisState&) {}

}  // namespace svfit::driver
