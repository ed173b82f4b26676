// How the last fit ended, in words: the report's header, the console after
// the fit and the fit's picture all say it with these lines, so that numbers
// that are not a fit result can never pass for one.
#pragma once

#include <string>

#include "state/state.h"

namespace svfit::results {

// "FIT FAILED: ..." with the reason, or the note of an evaluation with every
// parameter fixed; empty when the numbers are a fit result. At most 72
// characters.
std::string FitOutcomeLine(const AnalysisState& st);

// "not determined: parameters 6 7 8" for the parameters the last fit could
// not determine, with a hint when two components have the same s; empty when
// there are none. At most 72 characters.
std::string UndeterminedLine(const AnalysisState& st);

}  // namespace svfit::results
