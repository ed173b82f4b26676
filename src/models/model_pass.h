// The model evaluation pass and the single-point evaluations built on the
// catalogue: what the fit, the plots, the reports and the start values call.
//
// modelPass evaluates the selected model at every fitted point of every scan
// of the sequence and leaves, for the fit:
//   st.modelValue[s][j]          e = data − model (no noise terms)
//   st.paramDerivBlock(m)[s][j]  ∂model/∂P[freeIndex[m]], m = 1..freeCount
//   sums.tiNoiseSum[j]           TI on: b_j, the mean of e over the scans that
//                                contain index j; TI off: the plain sum
//   sums.derivTiSum[m][j]        the same for the derivatives of parameter m
//   st.riNoise[s], sums.derivRiSum[m][s]
//                                RI on: β_s = mean over the scan of e − b_j
//                                (b_j only with TI on), and the mean of the
//                                derivative minus derivTiSum; RI off: 0
// The fit then uses, per point, the fitted value model + b_j + β_s and the
// derivative paramDeriv − derivTiSum − derivRiSum, each noise term only when
// its elimination is on: the noise terms are the least-squares estimates for
// the current parameters and the derivatives those of the model after the
// noise has been eliminated.
//
// Scans are evaluated in parallel; every per-radius and per-scan sum is then
// formed in sequence order, so the results are bit-identical for any thread
// count.
#pragma once

#include "state/state.h"
#include "models/catalogue.h"

namespace svfit::models {

// Noise sums of one pass. Large (≈ 480 kB): the fit keeps one instance.
struct PassSums {
  PerPoint<double> tiNoiseSum{};                              // [j], see above [data units]
  std::array<PerPoint<double>, kMaxParams + 1> derivTiSum{};  // [m][j], m = 1..freeCount
  std::array<PerScan<double>, kMaxParams + 1> derivRiSum{};   // [m][s]
  PerPoint<int> tiCount{};                                    // [j] scans of the sequence whose
                                                              // fitted range contains index j
  int maxIndex = 0;                                           // largest fitted index j
};

// One evaluation of the model over all fitted points (see above). Also sets
// st.validityValue / st.validityScan (models R, N) and writes D = s·dPerS into
// the D-or-M parameter of components given by molar mass. threads = 0 uses
// every core.
void modelPass(AnalysisState& st, PassSums& sums, int threads = 0);

// The model of scan s at one radius, for plots and proposals. Each call forms
// the scan context anew; draw many points through ScanModel instead.
double ValueAt(const AnalysisState& st, int scan, double r);     // with base line
double GradientAt(const AnalysisState& st, int scan, double r);  // dc/dr, no base line
// Models R and N: the boundary and the bottom term apart (plots of the two
// partial traces); other models: the value without base line, bottom 0.
PartialTraces PartialTracesAt(const AnalysisState& st, int scan, double r);

// The model of one scan with the current parameters, set up once. Model F
// gives derivatives (valueAndDerivs) only when set up with kAll.
class ScanModel {
 public:
  ScanModel(const AnalysisState& st, int scan, Derivatives needs = Derivatives::kNone);
  double value(double r) const;
  double gradient(double r) const;
  PartialTraces traces(double r) const;
  // Concentration with all derivatives (no validity state).
  double valueAndDerivs(double r, ModelDeriv& deriv) const;

 private:
  const ModelInfo* model_;
  ModelParams params_;
  ScanContext context_;
};

// Archibald molar masses [g/mol] at the meniscus P[4] and, for R and N, at the
// bottom P[5], from the model of the first scan of the sequence:
//   M = (dc/dr)/(c·r) · 8.316e7·(273.15 + T)/((1 − v̄ρ)·omega2First)
// Sets st.archibaldMeniscus and st.archibaldBottom (0 where not defined).
void archibaldMasses(AnalysisState& st);

}  // namespace svfit::models
