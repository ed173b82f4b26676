// The subsystem steps of the analysis. Each is a thin call into its folder:
// the driver wires the subsystems together (the loader's hooks into the
// viewer, the fit's observer, where the report and the plot files go) and
// owns nothing of their work.
#include "driver/flow.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>

#include "console/crt.h"
#include "console/format.h"
#include "console/graph.h"
#include "console/hardcopy.h"
#include "driver/setup.h"
#include "fit/fit.h"
#include "models/catalogue.h"
#include "models/model_pass.h"
#include "plot/distribution_plot.h"
#include "plot/fit_display.h"
#include "plot/hpgl_data.h"
#include "plot/hpgl_render.h"
#include "plot/range_pick.h"
#include "plot/screen_plot.h"
#include "plot/viewer.h"
#include "results/distribution.h"
#include "results/fit_outcome.h"
#include "results/max_absorbance.h"
#include "results/report.h"
#include "results/sedfit_export.h"
#include "scans/reader.h"
#include "scans/selection.h"

namespace svfit::driver {
namespace {

// The loader's seams: the radial range is picked in the graph viewer, further
// files are chosen with the file selection dialogue.
scans::LoadHooks LoadingHooks() {
  scans::LoadHooks hooks;
  hooks.pickRange = plot::PickRangeInViewer;
  hooks.showProfile = plot::ShowScanProfile;
  hooks.selectMoreFiles = [](AnalysisState& s) {  // further files under a new name
    scans::SelectFiles(s);
    return true;
  };
  return hooks;
}

results::PrintTarget g_reportTarget;  // where option D sends the report
results::FitOutputWriter g_fitOutputs;  // --results and --curves
bool g_fitUnwritten = false;            // a fit ran whose outputs are not written yet
plot::HpglSession g_hpgl;             // plot file settings and graph options of the run
int g_plotPictures = 0;               // plots rendered as PNG for --png

// With --png DIR each plot written is also drawn as DIR/plot-NNN.png.
void RenderPlotPicture(const std::string& hpglPath) {
  const std::string dir = console::PngDirectory();
  if (dir.empty()) return;
  char name[32];
  std::snprintf(name, sizeof name, "/plot-%03d.png", ++g_plotPictures);
  const std::string png = dir + name;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  std::string error;
  if (plot::RenderLastPlotPng(hpglPath, png, &error))
    console::Announce("[plot " + std::to_string(g_plotPictures) + ": " + png + "]");
  else
    console::WriteLn("The plot could not be drawn as " + png + ": " + error);
}

// Key I stops the fit after the current iteration. A pending key is read,
// upper-cased; an extended key (0 and its scan code) is read completely, so
// that its scan code is never taken for a letter (PageUp's is the code of "I").
bool StopKeyPressed() {
  if (!console::KeyPressed()) return false;
  int key = console::ReadKey();
  if (key == 0) {
    if (console::KeyPressed()) console::ReadKey();
    return false;
  }
  return key == 'I' || key == 'i';
}

// What the fit shows while it runs: its picture while the graphics surface is
// open, and key I in every case.
fit::FitObserver FitProgress() {
  fit::FitObserver o;
  if (console::GraphicsOpen()) o = plot::FitDisplayObserver();
  o.stopRequested = StopKeyPressed;
  return o;
}

}  // namespace

void StartAnalysis(AnalysisState& st) {
  st.resetForAnalysis();
  plot::ClearPlacedTexts();
}

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
  switch (scans::LoadSeries(st, LoadingHooks())) {
    case scans::LoadOutcome::kLoaded: return LoadResult::kLoaded;
    case scans::LoadOutcome::kFile3000Done: return LoadResult::kAfter3000Rpm;
    case scans::LoadOutcome::kNothingLoaded: break;
  }
  return LoadResult::kNothingLoaded;
}

void AfterLoading(AnalysisState& st) {
  scans::FinishLoading(st, LoadingHooks());
  results::ApplyLoadingCut(st);
  // The data sets to fit, as options H and S ask for them.
  ChooseLastSet(st);
  ChooseStartSet(st);
}

bool RunDistribution(AnalysisState& st) {
  return results::ComputeDistribution(st, {.show = plot::ShowDistribution});
}

bool RunFitSetup(AnalysisState& st, SetupEntry entry) { return SetupDialog(st, entry); }

bool RunFit(AnalysisState& st) {
  // The standard deviations need at least one degree of freedom. The set-up
  // refuses such a fit; this also holds when F continues after the data sets
  // were changed.
  const long points = UsedPointCount(st);
  if (st.freeCount > 0 && points <= st.freeCount) {
    console::WriteNote("only " + std::to_string(points) + " data points for " +
                       std::to_string(st.freeCount) + " parameters to estimate: no fit");
    return false;
  }
  // For the report: where this fit started (F continues the same fit, so
  // its start values stay) and with which damping.
  if (st.postFitOption != 'F') st.startValue = st.param;
  st.dampFitStart = st.dampQ;
  // The fit shows the surface with its frame, "files: n", the iteration
  // number, the curves and the status line (fit/fit.h). A steady clock: the
  // accumulated time stays right across midnight.
  const auto start = std::chrono::steady_clock::now();
  fit::runFit(st, FitProgress());
  st.fitSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  console::StartTone(700);  // the fit has ended
  console::Delay(300);
  console::StopTone();
  st.meanRiOffset = results::MeanRiOffset(st);
  const models::ModelInfo& fitted = models::modelInfo(st.modelLetter);
  for (int k = 1; k <= kMaxComponents; ++k)
    st.fittedDiffusion[k] = k <= st.componentCount && !st.molMassGiven[k]
                                ? st.param[models::componentSlots(fitted, k).dOrM]
                                : 0.0;
  // A fit whose numbers are no result says so at once, on the console and
  // in its picture; the report repeats it under its title.
  const std::string outcome = results::FitOutcomeLine(st);
  const std::string undetermined = results::UndeterminedLine(st);
  if (!outcome.empty()) {
    console::SetTextColor(console::kLightMagenta);
    console::WriteLn(outcome);
    if (!undetermined.empty()) console::WriteLn(undetermined);
    console::SetTextColor(console::kWhite);
  }
  if (console::GraphicsOpen()) {
    if (!outcome.empty()) plot::ShowFitOutcome(outcome, undetermined);
    plot::GraphViewer(st, {.mode = 'J'}, plot::FitDisplayScale());
    console::HideGraphics();
  }
  // The distribution file once more, now with the fitted component's psv·rho.
  // The results screen follows at once, so a failure waits for a key.
  const char form = models::modelInfo(st.modelLetter).paramsLike;  // F as N
  if (st.distExists && (form == 'N' || form == 'C') &&
      !results::WriteDistributionFile(st, st.psvRho[1])) {
    console::Write("press a key  ");
    if (console::ReadKey() == 0) console::ReadKey();
    console::WriteLn();
  }
  // An evaluation with every parameter fixed shows its report as well, and
  // its results are written like those of a fit.
  g_fitUnwritten = st.fitDone || st.fitOutcome == FitOutcome::kEvaluated;
  return g_fitUnwritten;
}

void NoteRestoredSets(const AnalysisState& st) {
  if (st.restoredAfterFit)
    console::WriteLn("note: this fit was made before O restored the data sets; F or W fits them");
}

void ShowResults(AnalysisState& st) {
  console::ClearScreen();
  NoteRestoredSets(st);
  AskPostFitConstants(st);
  // Archibald masses refer to one sedimenting component.
  if (st.componentCount < 2) {
    models::archibaldMasses(st);
  } else {
    st.archibaldMeniscus = 0;
    st.archibaldBottom = 0;
  }
  // The machine-readable results of the fit, once per fit (R shows the
  // report again), before the report waits for keys: input that ends while
  // the report is read loses nothing.
  if (g_fitUnwritten) {
    g_fitOutputs.AfterFit(st);
    g_fitUnwritten = false;
  }
  console::ClearScreen();
  results::ShowFitReport(st);
  // The report stays on the console until Enter.
  for (int key = console::ReadKey(); key != console::kKeyEnter; key = console::ReadKey()) {
    if (key == 0) console::ReadKey();  // the scan code of an extended key
  }
}

void ShowGraph(AnalysisState& st) {
  if (!console::GraphicsOpen()) return;
  // After a fit the data with the fitted model; with 0 iterations the data
  // alone over their range.
  const plot::AxisScale scale = plot::DrawFitPlot(st);
  plot::GraphViewer(st, {.mode = 'J'}, scale);
  console::HideGraphics();
}

void PickStartValues(AnalysisState& st) {
  // Peaks marked on the distribution display are the components of the first
  // set-up after it.
  if (std::exchange(st.distMarksPending, false) && st.markedCount > 0) {
    std::string line = "components from the distribution:";
    for (int k = 1; k <= kMaxComponents; ++k)
      if (st.markedS[k] != 0) line += "  S" + std::to_string(k) + " = " + console::FormatF(st.markedS[k], 0, 2);
    console::WriteLn(line);
    return;
  }
  if (!console::GraphicsOpen()) return;
  st.markedS.fill(0);
  st.markedAmp.fill(0);
  st.markedCount = 0;
  const plot::AxisScale scale = plot::DrawSeriesPlot(st);
  plot::GraphViewer(st, {.mode = 'B', .startValues = true}, scale);
  console::HideGraphics();
}

int PrintReport(AnalysisState& st) {
  // The graph hardcopies made so far go out first: on paper they stand in
  // front of the report, as on a page the hardcopy has started.
  const bool hardcopyPending = console::HardcopyPending();
  if (hardcopyPending) console::WriteLn(console::EndHardcopyJob());
  return results::PrintReportOption(st, hardcopyPending, g_reportTarget);
}

void SetReportDirectory(const std::string& directory, bool allowSpooler) {
  g_reportTarget = {directory, allowSpooler};
}

void SetFitOutputs(const results::FitOutputSettings& settings) {
  g_fitOutputs.Configure(settings);
}

void PrintHardcopies(AnalysisState&) {
  if (console::HardcopyPending()) {
    console::WriteLn(console::EndHardcopyJob());
    return;
  }
  console::WriteLn("no hardcopy to print: Ctrl-L in a graph makes one");
  console::Delay(1500);  // the option menu clears the screen next
}

void WriteSedfitFiles(AnalysisState& st) { results::ExportForSedfit(st); }

void WriteHpglPlot(AnalysisState& st) {
  const plot::PlotWritten w = plot::WriteHpglPlot(st, g_hpgl);
  if (w.written) RenderPlotPicture(w.path);
}

void CloseGraphics(AnalysisState&) { console::CloseGraphics(); }

void CloseHpglFile(AnalysisState&) { plot::FinishPlotFile(g_hpgl.file); }

}  // namespace svfit::driver
