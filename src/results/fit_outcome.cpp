// The words for how a fit ended (see fit_outcome.h). The fit decides
// (fit/fit.h: state fields fitOutcome and undeterminedParams); this only
// names it. Parameters are named by their numbers in the parameter list of
// the set-up, which the user has just seen.
#include "results/fit_outcome.h"

#include <cmath>

#include "models/catalogue.h"

namespace svfit::results {

std::string FitOutcomeLine(const AnalysisState& st) {
  switch (st.fitOutcome) {
    case FitOutcome::kFitted:
      return "";
    case FitOutcome::kStopped:
      return "NOT CONVERGED: stopped before a convergence test held - F goes on";
    case FitOutcome::kEvaluated:
      return "NO FIT: every parameter fixed, the model at the given values";
    case FitOutcome::kSingular:
      return "FIT FAILED: parameters not determined - the values are no result";
    case FitOutcome::kNotFinite:
      return "FIT FAILED: deviations not finite - the values are no result";
    case FitOutcome::kDiverged:
      return "FIT FAILED: SS rose above its start - best values, no result";
    case FitOutcome::kDampingLimit:
      return "FIT FAILED: damping limit, not converged - the values are no result";
  }
  return "";
}

std::string UndeterminedLine(const AnalysisState& st) {
  if (st.undeterminedParams == 0) return "";
  std::string line = "not determined: parameter";
  int count = 0;
  for (int k = 1; k <= kMaxParams; ++k)
    if (st.undeterminedParams & (1u << k)) ++count;
  if (count > 1) line += "s";
  for (int k = 1; k <= kMaxParams; ++k)
    if (st.undeterminedParams & (1u << k)) line += " " + std::to_string(k);
  // Two components at the same s give the same columns of derivatives.
  const models::ModelInfo* model = models::findModel(st.modelLetter);
  if (model == nullptr) return line;
  const int components = models::componentCountFor(*model, st.paramCount);
  for (int a = 1; a <= components; ++a) {
    for (int b = a + 1; b <= components; ++b) {
      const double sa = st.param[models::componentSlots(*model, a).s];
      const double sb = st.param[models::componentSlots(*model, b).s];
      if (std::fabs(sa - sb) <= 1e-3 * std::fabs(sa)) {
        const std::string hint = " (components " + std::to_string(a) + " and " +
                                 std::to_string(b) + ": same s)";
        if (line.size() + hint.size() <= kLineLength) line += hint;
        return line;
      }
    }
  }
  return line;
}

}  // namespace svfit::results
