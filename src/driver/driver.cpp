// The driver's flow: start-up, then analyses until the user finishes.
//
//   start-up      colour 15, clear screen (psv and rho are set by the state)
//   3  run options     reset of the analysis, the six run-option questions
//   4  series reset    "load data files in ascent sequence  !"
//   5..8  files, graphics, loading, post-loading
//   9  distribution    optional, may go straight to the menu
//   10 set-up  11 fit  12 results  13 graph  14 option menu  15 end
//
// The flow is a loop over steps; the option menu says where to go next
// (menu.h), so a letter that resumes the set-up part-way or restarts the
// analysis is one assignment here, not a nested call.
#include "driver/driver.h"

#include "console/crt.h"
#include "console/prompt.h"
#include "driver/flow.h"
#include "driver/menu.h"
#include "results/start_values.h"

namespace svfit::driver {
namespace {

using console::AskYesNo;
using console::YesNo;

void StartUp() {
  console::SetTextColor(15);
  console::ClearScreen();
  // Crosshair picking ends with Ctrl-N, the viewer's finishing key, or with
  // Enter: the key a user tries first, and one line of its own in an
  // answers file.
}

// Run options and the settings that follow from the kind of files.
void SetFileGeneration(AnalysisState& st, char g) {
  st.fileGeneration = g;
  if (g == 'I') {
    st.dataKind = 'P';
    st.fileMasks = {"i??", ".ip"};
    st.dataKindText = "(interference)";
    st.valueLimit = 15.0;  // fringes
  } else {
    st.dataKind = 'R';
    st.fileMasks = {"r??", ".r?"};
    st.dataKindText = " (absorption)";
    st.valueLimit = 3.0;  // absorbance
  }
}

// Step 4: an empty series, ready for loading.
void ResetSeries(AnalysisState& st, bool after3000) {
  st.resetSeries();
  console::SetTextColor(13);
  console::WriteLn("load data files in ascent sequence  !");
  console::SetTextColor(15);
  console::Delay(500);
  console::ClearScreen();
  if (after3000) console::WriteLn("wait");
}

}  // namespace

void AskRunOptions(AnalysisState& st, int first) {
  if (first <= 1) {
    const int g = console::AskKey(
        {.prompt = "(O)ld or (N)ew XLA-files (New=default) or (I)nterference  (O/N/I) :  ",
         .keys = "NOI",
         .enter = 'N',
         .aliases = "AO"});
    SetFileGeneration(st, static_cast<char>(g));
  }
  const bool isNew = st.fileGeneration == 'N';
  const bool isInterference = st.fileGeneration == 'I';
  if (first <= 2 && isNew)
    st.interpolate = AskYesNo("Interpolate missing data points                 (Y/N) :  ",
                              YesNo::kOnlyY);
  if (first <= 3) {
    if (isNew) {
      st.use3000 = AskYesNo("Calculate concentration from 3000 rpm file      (Y/N) :  ",
                            YesNo::kEnterNo);
    } else if (isInterference) {
      st.use3000 = AskYesNo("Subtraction of the whole 3000 rpm contour       (Y/N) :  ",
                            YesNo::kEnterNo);
      st.contourSubtraction = st.use3000;
    } else {
      st.use3000 = false;  // old files have no 3000 rpm option
    }
  }
  if (first <= 4) {
    st.loadOneByOne = false;  // interference files and 3000 rpm runs load simultaneously
    if (!st.use3000 && !isInterference) {
      st.loadOneByOne =
          console::AskKey({.prompt = "Load all files (S)imultaneously or (O)ne by one (S/O) :  ",
                           .keys = "SO",
                           .aliases = "AO"}) == 'O';
    }
  }
  if (first <= 5) {
    const bool ask = !isInterference || st.contourSubtraction;
    const bool correct =
        ask && AskYesNo("correct data outlies   (Yes=default)            (Y/N) :  ",
                        YesNo::kEnterYes);
    st.outlierCorrection = correct ? 'Y' : 'N';
  }
  if (first <= 6) {
    st.lastBottomPoint = AskYesNo("calculation of last bottom point                (Y/N) :  ",
                                  YesNo::kJEnterNo)
                             ? 'Y'
                             : 'N';
  }
}

void RunDriver(AnalysisState& st) {
  StartUp();
  enum class At { kRunOptions, kFiles, kDistribution, kSetup, kFit, kResults, kGraph, kMenu };
  At at = At::kRunOptions;
  SetupEntry entry = SetupEntry::kStart;
  bool after3000 = false;  // a 3000 rpm file was handled: "wait" after the series reset
  for (;;) {
    switch (at) {
      case At::kRunOptions:  // step 3
        StartAnalysis(st);
        AskRunOptions(st);
        after3000 = false;
        at = At::kFiles;
        break;
      case At::kFiles:  // steps 4 to 8
        ResetSeries(st, after3000);
        if (!SelectFiles(st)) {
          at = At::kRunOptions;
          break;
        }
        console::ClearScreen();
        StartGraphics(st);
        switch (LoadScans(st)) {
          case LoadResult::kLoaded:
            break;
          case LoadResult::kAfter3000Rpm:
            AskRunOptions(st, 4);  // the 3000 rpm file is done: options from the load mode on
            after3000 = true;
            continue;
          case LoadResult::kNothingLoaded:
            after3000 = false;
            continue;  // choose the files again
        }
        AfterLoading(st);
        // The solvent is taken for water at the temperature of the last scan
        // until the set-up says otherwise.
        st.viscosity = 1.0 / results::WaterFluidity(st.temperature);  // [cP]
        at = At::kDistribution;
        break;
      case At::kDistribution:  // step 9
        st.componentCount = 0;
        if (AskYesNo("Calculate Sedimentation Coefficient distribution (Y/N) :  ",
                     YesNo::kJNoEnter) &&
            RunDistribution(st)) {
          at = At::kMenu;
          break;
        }
        entry = SetupEntry::kStart;
        at = At::kSetup;
        break;
      case At::kSetup:  // step 10
        at = RunFitSetup(st, entry) ? At::kFit : At::kGraph;
        if (at == At::kGraph) st.display.resetFlags();
        break;
      case At::kFit:  // step 11
        if (RunFit(st)) {
          at = At::kResults;
        } else {  // no iteration ran: the graph, without a report
          st.display.resetFlags();
          at = At::kGraph;
        }
        break;
      case At::kResults:  // step 12
        ShowResults(st);
        st.display.resetFlags();
        at = At::kGraph;
        break;
      case At::kGraph:  // step 13
        ShowGraph(st);
        at = At::kMenu;
        break;
      case At::kMenu: {  // step 14
        const Route r = RouteOption(st, ShowOptionMenu(st));
        switch (r.step) {
          case Step::kRunOptions: at = At::kRunOptions; break;
          case Step::kSetup: entry = r.entry; at = At::kSetup; break;
          case Step::kFit: at = At::kFit; break;
          case Step::kResults: at = At::kResults; break;
          case Step::kGraph: at = At::kGraph; break;
          case Step::kMenu: break;
          case Step::kEnd:  // step 15
            CloseHpglFile(st);
            return;
        }
        break;
      }
    }
  }
}

}  // namespace svfit::driver
