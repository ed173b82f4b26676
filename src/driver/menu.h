// The option menu after a fit: the menu screen and where each letter leads.
#pragma once

#include "driver/flow.h"
#include "state/state.h"

namespace svfit::driver {

// The steps of the flow an option letter can lead to.
enum class Step {
  kRunOptions,  // restart with the run options (N)
  kSetup,       // the fit set-up, entered at Route::entry
  kFit,         // fit again from the current parameters (F)
  kResults,     // report, then graph (R)
  kGraph,       // graph with the display flags set by the letter
  kMenu,        // back to the menu
  kEnd,         // finish (E)
};

struct Route {
  Step step = Step::kMenu;
  SetupEntry entry = SetupEntry::kStart;  // for Step::kSetup
};

// True when a fit was made in this analysis, or the model evaluated with every
// parameter fixed (0 iterations means no fit).
bool FitMade(const AnalysisState& st);

// Clears the screen, writes the menu in its colours, reads one key,
// upper-cased and echoed, and ends the line; the text colour is 15 afterwards.
int ShowOptionMenu(const AnalysisState& st);

// Carries out the letter's action and says where the flow continues. Unknown
// letters lead back to the menu (which is then drawn again).
Route RouteOption(AnalysisState& st, int letter);

}  // namespace svfit::driver
