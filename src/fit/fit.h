// The damped least-squares fit of the selected model to every fitted point of
// every scan of the series, with the time-independent (TI) and radially
// independent (RI) noise terms eliminated algebraically in each evaluation.
//
// Before runFit the set-up fills in the analysis state: param (start values),
// freeCount and freeIndex (the fitted parameter numbers, ascending), modelLetter,
// riNoiseOn/tiNoiseOn, bottomMin (models N and R), dampQ (the starting damping
// q) and postFitOption ('F' continues the last fit from where it stopped, with
// dampQ set by the driver to min(dampFinal, 1.0)). iterCount and faultCount are
// cleared by the set-up for a new fit and accumulate over continuations.
//
// runFit leaves: param (fitted), stdDev[1..freeCount] (standard deviation of
// parameter freeIndex[i]), sigma (rms deviation), sumSq, sumSqData, pointTotal,
// iterCount, faultCount, dampFinal, meniscusCorrValue, fitCurve (model plus
// noise terms at every fitted point), riNoise, tiNoise, fitDone = true when
// at least one iteration ran, and fitOutcome with undeterminedParams: whether
// the numbers are a result, and which parameters the data could not
// determine. A failed fit ends at the best point it has seen. It reads
// fileMinRadius and fileMaxRadius (when set) as the range the meniscus and
// the bottom must stay in.
//
// The fit computes only. What it shows while it runs, and how it learns that
// the user wants it stopped, comes from the caller as a FitObserver: the
// driver hands in the picture of plot/fit_display.h and the poll of key I.
#pragma once

#include <functional>

#include "models/model_pass.h"
#include "state/state.h"

namespace svfit::fit {

// The figures of one accepted (or the final) step, for the status line.
struct FitStatus {
  double sumSq = 0;     // SS after the step
  double dSumSq = 0;    // decrease of SS by the step
  double ssLimit = 0;   // convergence tolerance of ΔSS: 1e-7 · Σ data²
  double stepNorm = 0;  // mean squared scaled step
  double q = 0;         // damping for the next step
};

// Progress of a running fit. Every member may be empty; an empty observer
// fits silently and never stops early.
struct FitObserver {
  std::function<void(const AnalysisState&)> begin;      // once, before the first evaluation
  std::function<void(int iteration)> evaluating;        // start of every evaluation (number from 1)
  std::function<void(const AnalysisState&)> evaluated;  // after every evaluation: fitCurve is set
  std::function<void(const FitStatus&)> status;         // after every accepted step
  std::function<void()> end;                            // when the fit stops
  std::function<bool()> stopRequested;                  // polled once per iteration (key I)
};

// The whole fit; returns when a convergence test holds, the observer asks to
// stop, or this call has run maxIterations iterations (the set-up's limit).
void runFit(AnalysisState& st, const FitObserver& observer = {});

// One evaluation at the current param: model pass, noise terms, residuals,
// normal equations, sum of squares (st.sumSq) and fitCurve.
void fitEvaluate(AnalysisState& st, const FitObserver& observer = {});

// Σ scanValue² (sumSqData) and the number of points (pointTotal) over the fitted
// points of the sequence. runFit computes them itself; the driver may show them.
void computeFitTotals(AnalysisState& st);

// Number of threads the evaluation uses (default: all cores). The results do
// not depend on it. n <= 0 restores the default.
void setThreadCount(int n);
int threadCount();

// ---- Seams for tests and benchmarks ------------------------------------------
// The evaluation pass the fit runs for every parameter set, with the noise sums
// it fills and the number of threads. By default models::modelPass; tests put a
// controllable pass of their own in its place.
using ModelPassFunction = void (*)(AnalysisState& st, models::PassSums& sums, int threads);
void setModelPass(ModelPassFunction pass);  // nullptr restores the default

}  // namespace svfit::fit
