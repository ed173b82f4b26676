// The model catalogue: the ten model letters with their menu lines,
// parameter layouts and functions, and the inputs every model function takes.
//
// Menus, set-up, fit, plots and reports read the table below; nothing else in
// the program switches on the model letter. A model is three pure functions
// of (parameters, scan context, radius): a concentration function with the
// partial derivatives by every parameter, a value-only function and the radial
// gradient dc/dr. They touch no shared state, so scans can be evaluated in
// parallel threads; the only state that runs from point to point (the previous
// traces of models R and N for their validity test) is passed explicitly.
// Nine models are analytic approximations; model F solves the Lamm equation
// numerically once per parameter set (its `prepare` step, run when the
// parameter side is formed) and its three functions read that solution.
//
// Units: radii in cm, times in s, D in cm²/s. The s parameter is s·ω²_first
// [1/s] and every scan's ω² is relative to omega2First, so s·ω²·t of a scan is
// P[2]·omega2·t.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "state/state.h"

namespace svfit::models {

// A "diff.coeff. or Molmass" value above this is a molar mass, at or below it
// a diffusion coefficient [cm²/s].
inline constexpr double kMolarMassThreshold = 2e-5;
// Gas constant used to turn a molar mass M [g/mol] into D = s·R·T/((1 − v̄ρ)·M)
// [cm²/s]: R in erg/(mol·K), the same value as in the Archibald and Svedberg
// relations of the report, so a mass read off the report can be entered as is.
inline constexpr double kGasConstant = 8.316e7;

struct LammSeries;  // model F: the numerical solutions of one parameter set (lamm_model.h)

// The parameter side of a model evaluation: the same for every scan of a pass.
struct ModelParams {
  PerParam<double> P{};               // parameter vector P[1..16]
  int paramCount = 0;                 // parameters of the layout in use
  PerComponent<bool> molMassGiven{};  // component k's D-or-M parameter is a molar mass
  PerComponent<double> dPerS{};       // D_k = s_k·dPerS[k] when molMassGiven [cm²]
  PerComponent<double> epsPerS{};     // eps_k = epsPerS[k]/(r_m²·omega2) when molMassGiven [cm²]
  std::shared_ptr<const LammSeries> lamm;  // model F: solutions for these parameters, else null
};

// The scan side of a model evaluation.
struct ScanContext {
  int scan = 0;                // scan number (for the validity result)
  double time = 0;             // scanTime[s] [s]
  double omega2 = 1;           // scanOmega2[s], ω² relative to omega2First
  double firstRadius = 0;      // scanRadius[s][1], origin of the slit-time correction [cm]
  double slitTimePerCm = 0;    // time the scanning slit needs per cm [s/cm], 0 = none
  double diffTimeOffset = 0;   // added to the time of diffusion terms (H, P, S, R) [s]
  double linearRefRadius = 0;  // radius where the linear term of R and N is 0 [cm]
  double meniscusCorr = 1;     // meniscusCorr(P[4]) of the fit, validity test of R and N
  // Bottom-term corrections of R and N for component k of this scan, from
  // eps_k = 2D_k/(r_m²·s_k·omega2), with their derivatives d/d eps.
  PerComponent<double> corrA{}, corrB{}, corrADeriv{}, corrBDeriv{};
};

// Per-scan state of models R and N, carried from point to point (reset at the
// start of each scan). The concentration functions update it; the validity
// maximum over the scans is reduced afterwards in sequence order.
struct TraceState {
  double prevBoundary = 0;    // Σ over components of T_m at the previous point
  double prevBottom = 0;      // Σ over components of T_b at the previous point
  double prevRadius = -1e34;  // radius of the previous point [cm]
  bool newScanFlag = true;    // the validity test of this scan is still open
  bool decided = false;       // the test decided at some point of the scan
  double validity = 0;        // V at the deciding point
};

// The two independent terms of models R and N, each Σ c0/(2E)·T over the
// components, without base line and linear term.
struct PartialTraces {
  double boundary = 0;  // meniscus/boundary term
  double bottom = 0;    // bottom term
};

using ModelDeriv = PerParam<double>;  // ∂value/∂P[k], k = 1..paramCount; [3] = 1

// value with every ∂/∂P[k] into deriv; traces: R and N only, may be null.
using ConcFn = double (*)(const ModelParams&, const ScanContext&, double r, ModelDeriv& deriv,
                          TraceState* traces);
// value only; parts: R and N fill the two terms, may be null.
using ValueFn = double (*)(const ModelParams&, const ScanContext&, double r, PartialTraces* parts);
// dc/dr at fixed time, without base line (and without the linear term of R, N).
using GradFn = double (*)(const ModelParams&, const ScanContext&, double r);

// Which derivatives a parameter side must be able to give. The analytic
// models always give all; model F solves only the sensitivities asked for.
enum class Derivatives {
  kNone,  // values and gradients (plots, Archibald masses)
  kFree,  // by the parameters of the free list (the evaluation pass)
  kAll,   // by every parameter
};
// Model F: solves the Lamm equation for the parameters of `params` over the
// loaded series; threads = 0 uses every core.
using PrepareFn = std::shared_ptr<const LammSeries> (*)(const AnalysisState&, const ModelParams&,
                                                        Derivatives, int threads);

enum class Layout {
  Faxen,    // H, P, C, O, D: c0, s, base line, r_m, D; C: components 2..4 at 6..14
  Fujita,   // S, M: c0, s0, base line, r_m, k, D
  Bounded,  // R, N, F: c0, s, base line, r_m, r_b, slope, D; N, F: components 2..4 at 8..16
};

struct ModelInfo {
  char letter;
  std::string_view menuLine;     // line of the model menu, exactly as shown
  std::string_view description;  // the model's wording without the citation column
  Layout layout;
  int baseParamCount;      // parameters with one component
  int maxComponents;       // 4 for C and N, else 1
  int dParamIndex;         // position of component 1's D-or-M parameter
  char reportFamily;       // report form: 'N' (N, F), 'R', 'F' (C, D, O), 'H', 'S' (S, M), 'P'
  char paramsLike;         // models with the same letter here share start values (N and F)
  char exportAs;           // SEDFIT export of this letter's form: N, C, M (F as N); 0 = none
  bool hasBottom;          // R, N: bottom radius P[5], slope P[6], validity test
  bool archibald;          // Archibald masses are evaluated (not H, P, S)
  unsigned mayBeNegative;  // bit k set: a step may make P[k] negative
  double cutBackFactor;    // a step that makes another parameter negative keeps this × old
  ConcFn conc;
  ValueFn value;
  GradFn gradient;
  PrepareFn prepare;       // model F: the numerical solution; null for the analytic models
};

// The ten models in menu order F, H, P, S, R, N, C, M, O, D.
std::span<const ModelInfo> modelCatalogue();
// The model of a letter (upper case), or null for any other character.
const ModelInfo* findModel(char letter);
// The model of a letter that must be valid (a bug otherwise).
const ModelInfo& modelInfo(char letter);

// The analytic bounded-cell models R and N are a boundary term plus a bottom
// term, which the plots can draw apart; model F's numerical solution is one.
inline bool hasPartialTraces(const ModelInfo& model) {
  return model.hasBottom && model.prepare == nullptr;
}

// paramCount for n components (1 ≤ n ≤ maxComponents), and back.
int paramCountFor(const ModelInfo& model, int components);
int componentCountFor(const ModelInfo& model, int paramCount);

// Positions of component k's parameters (k = 1..4).
struct ComponentSlots {
  int c0;    // initial absorbance
  int s;     // sedimentation parameter
  int dOrM;  // D or molar mass
};
ComponentSlots componentSlots(const ModelInfo& model, int k);

// The fixed 35-character name of parameter k (1..16) of a layout, as printed
// in parameter lists; blanks when the layout has no parameter k.
std::string parameterName(Layout layout, int k);

// Classifies each component's D-or-M parameter (a value above 2e-5 is a molar
// mass M in g/mol, so that D = s·R·T/((1 − v̄ρ)·M) comes out in cm²/s) and
// sets molMassGiven, dPerS and epsPerS:
//   dPerS   = (273.15 + T)·R/((1 − ψ)·M)/omega2First
//   epsPerS = (273.15 + T)·2·R/(M·(1 − ψ))/omega2First,  ψ = v̄·ρ of the component
// A buoyancy 1 − ψ at or below 1e-6 (a solute that does not sediment) is taken
// as 1e-6, so D stays finite. A value equal to st.fittedDiffusion[k], a D the
// last fit ended with and carried on as a start value, stays a D.
void classifyDiffusionOrMass(AnalysisState& st);

// Writes D = s·dPerS into the D-or-M parameter of every component whose
// molar mass is given (every model evaluation follows this rule).
void applyMolarMassRule(AnalysisState& st);

// The parameter side of the current state; for model F this solves the Lamm
// equation (or takes the solution of the same parameters from a cache).
ModelParams modelParamsOf(const AnalysisState& st, Derivatives needs = Derivatives::kNone,
                          int threads = 0);

// The scan side of scan s for the current parameters (the bottom corrections
// of R and N are formed here).
ScanContext scanContextOf(const AnalysisState& st, const ModelParams& params, int scan);

}  // namespace svfit::models
