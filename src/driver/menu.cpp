// The option menu. One table holds the letters in the order they are tested
// (C, G, X, K, L, B, H, S, A, O, M, W, E, F, V, T, P, R, N, D, U, Z) with the
// action of each; the action carries out what the letter does now and returns
// the step where the flow goes on.
//
// Display letters (C, G, T, V, F, and R before its graph) start from the
// default display flags and change only what the letter names; P and B change
// their settings on top of the current flags. Letters that need a fit (C, G,
// F, L; R's report) do nothing but show the menu again when none was made.
#include "driver/menu.h"

#include <algorithm>
#include <string_view>

#include "console/crt.h"
#include "console/prompt.h"
#include "models/catalogue.h"

namespace svfit::driver {
namespace {

using console::WriteLn;

bool SedfitModel(char m) {
  const models::ModelInfo* model = models::findModel(m);
  return model != nullptr && model->exportAs != 0;
}

Route To(Step s) { return Route{s, SetupEntry::kStart}; }
Route Setup(SetupEntry e) { return Route{Step::kSetup, e}; }

void ResetDisplay(AnalysisState& st) { st.display.resetFlags(); }

// "F" confirms, any other key returns to the menu.
bool Confirm(std::string_view prompt) {
  return console::AskKey({.prompt = prompt, .keys = "F", .otherwise = 'N'}) == 'F';
}

Route OptionC(AnalysisState& st) {
  if (!FitMade(st)) return To(Step::kMenu);
  ResetDisplay(st);
  st.display.concentration = false;  // gradients only
  st.display.gradient = true;
  return To(Step::kGraph);
}

Route OptionG(AnalysisState& st) {
  if (!FitMade(st)) return To(Step::kMenu);
  ResetDisplay(st);
  st.display.gradient = true;  // concentration and gradient together
  return To(Step::kGraph);
}

Route OptionX(AnalysisState& st) {
  PrintHardcopies(st);
  return To(Step::kMenu);
}

Route OptionK(AnalysisState& st) {
  NewNearBottomRadius(st);
  return Setup(SetupEntry::kNoise);
}

Route OptionL(AnalysisState& st) {
  if (!FitMade(st)) return To(Step::kMenu);
  ProposeMaxAbsorbance(st);
  return Setup(SetupEntry::kParameters);
}

Route OptionB(AnalysisState& st) {
  ChooseGraphSets(st);
  return To(Step::kGraph);
}

Route OptionH(AnalysisState& st) {
  ChooseLastSet(st);
  return Setup(SetupEntry::kScanSpeed);
}

Route OptionS(AnalysisState& st) {
  ChooseStartSet(st);
  return Setup(SetupEntry::kScanSpeed);
}

Route OptionA(AnalysisState& st) {
  if (!OmitDataSets(st)) return To(Step::kMenu);
  return Setup(SetupEntry::kScanSpeed);
}

Route OptionO(AnalysisState& st) {
  RestoreDataSets(st);
  if (FitMade(st)) st.restoredAfterFit = true;
  return To(Step::kMenu);
}

Route OptionM(AnalysisState& st) {
  NewStartRadius(st);
  return Setup(SetupEntry::kNoise);
}

Route OptionW(AnalysisState&) { return Setup(SetupEntry::kIterations); }

Route OptionE(AnalysisState& st) {
  if (!Confirm("Really (F)inish  (F/N) ")) return To(Step::kMenu);
  CloseGraphics(st);
  return To(Step::kEnd);
}

Route OptionF(AnalysisState& st) {
  if (!FitMade(st)) return To(Step::kMenu);
  st.dampQ = std::min(st.dampFinal, 1.0);  // continue gently from where the fit ended
  ResetDisplay(st);
  return To(Step::kFit);
}

Route OptionV(AnalysisState& st) {
  console::ClearScreen();
  ResetDisplay(st);
  st.display.dataPoints = false;  // fitted curves only
  st.display.spread = true;
  return To(Step::kGraph);
}

Route OptionT(AnalysisState& st) {
  ResetDisplay(st);
  st.display.residuals = false;
  st.display.spread = true;
  const models::ModelInfo* model = models::findModel(st.modelLetter);
  st.display.partialTraces = model && models::hasPartialTraces(*model);  // models N and R
  return To(Step::kGraph);
}

Route OptionP(AnalysisState& st) {
  console::ClearScreen();
  st.display.slow = true;
  st.display.spread = true;
  return To(Step::kGraph);
}

Route OptionR(AnalysisState& st) {
  if (!FitMade(st)) {
    ResetDisplay(st);
    return To(Step::kGraph);
  }
  return To(Step::kResults);
}

Route OptionN(AnalysisState& st) {
  if (!Confirm("Really new (F)ile loading  (F/N) ")) return To(Step::kMenu);
  CloseGraphics(st);
  return To(Step::kRunOptions);
}

Route OptionU(AnalysisState& st) {
  if (!SedfitModel(st.modelLetter)) return To(Step::kMenu);  // not offered for this model
  NoteRestoredSets(st);
  WriteSedfitFiles(st);
  return To(Step::kMenu);
}

Route OptionZ(AnalysisState& st) {
  WriteHpglPlot(st);
  return To(Step::kMenu);
}

Route OptionD(AnalysisState& st) {
  // The key read after "data send off" is tried as U and Z only.
  NoteRestoredSets(st);
  const int next = PrintReport(st);
  const int key = (next >= 'a' && next <= 'z') ? next - 'a' + 'A' : next;
  if (key == 'U') return OptionU(st);
  if (key == 'Z') return OptionZ(st);
  return To(Step::kMenu);
}

struct Option {
  char letter;
  Route (*act)(AnalysisState&);
};

// In the order the letters are tested.
constexpr Option kOptions[] = {
    {'C', OptionC}, {'G', OptionG}, {'X', OptionX}, {'K', OptionK}, {'L', OptionL},
    {'B', OptionB}, {'H', OptionH}, {'S', OptionS}, {'A', OptionA}, {'O', OptionO},
    {'M', OptionM}, {'W', OptionW}, {'E', OptionE}, {'F', OptionF}, {'V', OptionV},
    {'T', OptionT}, {'P', OptionP}, {'R', OptionR}, {'N', OptionN}, {'D', OptionD},
    {'U', OptionU}, {'Z', OptionZ},
};

struct MenuLine {
  int colour;
  std::string_view text;
};

constexpr MenuLine kMenu[] = {
    {15, "R=Repeats the fit results and graphic once more "},
    {15, "W=Repeats the fit procedure also with an other model function "},
    {15, "F=Continues the fitting procedure "},
    {14, "A=Omitting of embedded data sets by input of the data set numbers or n-m"},
    {14, "S=Omitting of front data sets by input of the number for starting data set"},
    {14, "H=Omitting of posterior data sets by input of the number for last data set"},
    {14, "O=Restore the original condition of all data sets  "},
    {15, "K=Designate new common near bottom radius for fit"},
    {15, "M=Designate new common start radius for fit"},
    {15, "L=Designate new common maximal absorbance value near the bottom "},
    {13, "C=Represents the gradients of the concentration profiles "},
    {13, "B=Spread data traces if possible and select start file and file sequence"},
    {13, "G=Represents concentration  and gradient profiles simultaneously "},
    {13, "P=Plots the graphic slowly set by set and spread them if possible "},
    {13, "T=Represents the graphic without the residues and additional at the whole"},
    {13, "  boundary model 'N' the two independent partial traces (meniscus and bottom)"},
    {13, "V=Represents the graphic without data points "},
    {15, "U=Produces files(+start values) for the SEDFIT program developed by Schuck"},
    {15, "Z=Produces a plot file in the HPGL-plotter language "},
    {15, "N=Restart of the program "},
    {15, "E=Finishes the program"},
    {13, "D=Prints the results of the fitting procedure+hardcopy(if ^L pressed at graph)"},
    {13, "X=Prints hardcopy(if control-L was pressed at graph) only"},
};

}  // namespace

bool FitMade(const AnalysisState& st) {
  return st.maxIterations != 0 && (st.fitDone || st.fitOutcome == FitOutcome::kEvaluated);
}

int ShowOptionMenu(const AnalysisState& st) {
  console::ClearScreen();
  for (const MenuLine& line : kMenu) {
    if (line.text[0] == 'U' && !SedfitModel(st.modelLetter)) continue;
    console::SetTextColor(line.colour);
    WriteLn(line.text);
  }
  console::SetTextColor(14);
  console::Write(" Your option ?  ");
  const console::Key k = console::ReadKeyUpper();
  const int letter = k.extended ? 0 : k.code;
  if (letter >= 33 && letter <= 126) {
    const char c = static_cast<char>(letter);
    console::Write(std::string_view(&c, 1));
  }
  console::SetTextColor(15);
  WriteLn();  // what the letter asks starts on a line of its own
  return letter;
}

Route RouteOption(AnalysisState& st, int letter) {
  for (const Option& o : kOptions) {
    if (o.letter == letter) {
      st.postFitOption = o.letter;
      return o.act(st);
    }
  }
  return To(Step::kMenu);
}

}  // namespace svfit::driver
