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
// noise terms at every fitted point), riNoise, tiNoise, and fitDone = true
// when at least one iteration ran.
//
// While the graphics surface is open the fit draws its picture through
// plot/fit_display.h: BeginFitDisplay (frame and "files: n") at the start of
// every runFit, the iteration number and the fitted curves after every
// evaluation, the status line after every accepted step, EndFitDisplay at the
// end (FitDisplayScale then still gives the scale for the viewer).
#pragma once

#include "state/state.h"
#include "models/model_pass.h"

namespace svfit::fit {

// The whole fit; returns when a convergence test holds, the user pressed I, or
// this call has run maxIterations iterations (the limit asked by the set-up).
void runFit(AnalysisState& st);

// One evaluation at the current param: model pass, noise terms, residuals,
// normal equations, sum of squares (st.sumSq), fitCurve and its redraw.
void fitEvaluate(AnalysisState& st);

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

// Whether the fit draws on the graphics surface (default on): the frame,
// iteration number, curves and status line of plot/fit_display.h.
void setFitDisplay(bool on);

}  // namespace svfit::fit
