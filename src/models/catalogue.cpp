// The one table of the ten models, their parameter names, and the rule that
// turns a molar mass into a diffusion coefficient.
//
// The parameter vector has three layouts (component slots in model_common.h):
//   H, P, C, O, D   c0, s, base line, r_m, D; C adds (c0, s, D) at 6, 9, 12
//   S, M            c0, s0, base line, r_m, k, D
//   R, N, F         c0, s, base line, r_m, r_b, slope, D; N and F add (c0, s, D) at 8, 11, 14
// Model F is model N's layout with the numerical solution in place of the
// approximation: everything after the fit (report, plots, export) treats it
// as N, and the two share start values.
// A D-or-M value above 2e-5 is a molar mass M; the component then diffuses
// with D = s·R·T/((1 − v̄ρ)·M), kept as D = s·dPerS with s the fitted
// s·ω²_first, and its eps = 2D/(s·ω²·r_m²) = epsPerS/(r_m²·ω²) no longer
// depends on s.
#include "models/catalogue.h"

#include <algorithm>

#include <cassert>
#include <cctype>

#include "models/model_common.h"
#include "models/error_functions.h"

namespace svfit::models {

namespace {

using namespace detail;

constexpr unsigned bit(int k) { return 1u << k; }

// clang-format off
constexpr ModelInfo kCatalogue[] = {
  {'F', "(F) numeric Lamm solution (with Meniscus and  Bottom boundary)  finite vol.  ",
   "numeric Lamm solution (with Meniscus and  Bottom boundary)",
   Layout::Bounded, 7, 4, 7, 'N', 'N', 'N', true, true, bit(3) | bit(6), 0.5,
   concF, valueF, gradF, prepareF},
  {'H', "(H) synthetic boundary Hiester+Vermeulen (without  boundaries)  Fujita  2.162",
   "synthetic boundary Hiester+Vermeulen (without  boundaries)  Fujita  2.162",
   Layout::Faxen, 5, 1, 5, 'H', 'H', 0, false, false, bit(3), 0.5, concH, valueH, gradH, nullptr},
  {'P', "(P) synthetic boundary    lnx-tau        (without  boundaries)  Fujita  2.147",
   "synthetic boundary    lnx-tau        (without  boundaries)  Fujita  2.147",
   Layout::Faxen, 5, 1, 5, 'P', 'P', 0, false, false, bit(3), 0.5, concP, valueP, gradP, nullptr},
  {'S', "(S) synthetic boundary    S=So(1-c*k)    (without  boundaries)  Fujita  2.115",
   "synthetic boundary    S=So(1-c*k)    (without  boundaries)  Fujita  2.115",
   Layout::Fujita, 6, 1, 6, 'S', 'S', 0, false, false, bit(3) | bit(5), 0.8,
   concS, valueS, gradS, nullptr},
  {'R', "(R) synthetic boundary    (with Bottom  not meniscus boundary)      Marand    ",
   "synthetic boundary    (with Bottom  not meniscus boundary)",
   Layout::Bounded, 7, 1, 7, 'R', 'R', 0, true, true, bit(3) | bit(6), 0.5,
   concR, valueR, gradR, nullptr},
  {'N', "(N) standard sector cell  (with Meniscus and  Bottom boundary)       and     ",
   "standard sector cell  (with Meniscus and  Bottom boundary)",
   Layout::Bounded, 7, 4, 7, 'N', 'N', 'N', true, true, bit(3) | bit(6), 0.5,
   concN, valueN, gradN, nullptr},
  {'C', "(C) \" improved faxen type solution    (only Meniscus boundary)      Kovell    ",
   "improved faxen type solution    (only Meniscus boundary)",
   Layout::Faxen, 5, 4, 5, 'F', 'C', 'C', false, true, bit(3), 0.5, concC, valueC, gradC, nullptr},
  {'M', "(M) \" faxen type solution S=So(1-c*k) (only Meniscus boundary)       2001     ",
   "faxen type solution S=So(1-c*k) (only Meniscus boundary)",
   Layout::Fujita, 6, 1, 6, 'S', 'M', 'M', false, true, bit(3) | bit(5), 0.8,
   concM, valueM, gradM, nullptr},
  {'O', "(O) \" faxen type solution (only Meniscus not  bottom boundary)  Holladay 1979",
   "faxen type solution (only Meniscus not  bottom boundary)  Holladay 1979",
   Layout::Faxen, 5, 1, 5, 'F', 'O', 0, false, true, bit(3), 0.5, concO, valueO, gradO, nullptr},
  {'D', "(D) \" faxen type solution (only Meniscus not  bottom boundary)  Philo    1997:",
   "faxen type solution (only Meniscus not  bottom boundary)  Philo    1997",
   Layout::Faxen, 5, 1, 5, 'F', 'D', 0, false, true, bit(3), 0.5, concD, valueD, gradD, nullptr},
};

constexpr std::string_view kFaxenNames[] = {
  "", "1. initial absorbance", "2. Svedberg coefficient", "3. base line", "4. meniscus radius",
  "5. diff.coeff. or Molmass", "6. initial absorbance 2", "7. Svedberg coefficient 2",
  "8. diff.coeff. or Molmass 2", "9. initial absorbance 3", "10.Svedberg coefficient 3",
  "11.diff.coeff. or Molmass 3", "12.initial absorbance 4", "13.Svedberg coefficient 4",
  "14.diff.coeff. or Molmass 4"};
constexpr std::string_view kFujitaNames[] = {
  "", "1. initial absorbance", "2. Svedberg coeffcient", "3. base line", "4. meniscus radius",
  "5. conc.Param. for S-Coeff.", "6.diff.coeff. or Molmass"};
constexpr std::string_view kBoundedNames[] = {
  "", "1. initial absorbance", "2. Svedberg coefficient", "3. base line", "4. meniscus radius",
  "5. bottom radius", "6. rotation parameter", "7. diff.coeff. or Molmass",
  "8. initial absorbance 2", "9. Svedberg coefficient 2", "10.diff.coeff. or Molmass 2",
  "11.initial absorbance 3", "12.Svedberg coefficient 3", "13.diff.coeff. or Molmass 3",
  "14.initial absorbanse 4", "15.Svedberg coefficient 4", "16.diff.coeff. or Molmass 4"};
// clang-format on

constexpr std::size_t kNameWidth = 35;

}  // namespace

std::span<const ModelInfo> modelCatalogue() { return kCatalogue; }

const ModelInfo* findModel(char letter) {
  const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (const ModelInfo& m : kCatalogue) {
    if (m.letter == upper) return &m;
  }
  return nullptr;
}

const ModelInfo& modelInfo(char letter) {
  const ModelInfo* m = findModel(letter);
  assert(m != nullptr && "unknown model letter");
  return m != nullptr ? *m : *findModel('C');
}

int paramCountFor(const ModelInfo& model, int components) {
  const int n = std::clamp(components, 1, model.maxComponents);
  return model.baseParamCount + 3 * (n - 1);
}

int componentCountFor(const ModelInfo& model, int paramCount) {
  if (model.maxComponents == 1) return 1;
  return componentsAbove(paramCount, model.baseParamCount);
}

ComponentSlots componentSlots(const ModelInfo& model, int k) {
  switch (model.layout) {
    case Layout::Faxen:
      return faxenSlots(k);
    case Layout::Fujita:
      return fujitaSlots();
    case Layout::Bounded:
      return boundedSlots(k);
  }
  return faxenSlots(k);
}

std::string parameterName(Layout layout, int k) {
  std::span<const std::string_view> names = kFaxenNames;
  if (layout == Layout::Fujita) names = kFujitaNames;
  if (layout == Layout::Bounded) names = kBoundedNames;
  std::string name;
  if (k >= 1 && static_cast<std::size_t>(k) < names.size())
    name = names[static_cast<std::size_t>(k)];
  name.resize(kNameWidth, ' ');
  return name;
}

void classifyDiffusionOrMass(AnalysisState& st) {
  const ModelInfo& model = modelInfo(st.modelLetter);
  const int components = componentCountFor(model, st.paramCount);
  const double absT = 273.15 + st.temperature;  // [K]
  for (int k = 1; k <= kMaxComponents; ++k) {
    st.molMassGiven[k] = false;
    st.dPerS[k] = 0;
    st.epsPerS[k] = 0;
    if (k > components) continue;
    const double M = st.param[componentSlots(model, k).dOrM];
    if (!(M > kMolarMassThreshold) || M == st.fittedDiffusion[k]) continue;
    const double buoyancy = std::max(1.0 - st.psvRho[k], 1e-6);  // 1 − v̄ρ
    st.molMassGiven[k] = true;
    st.dPerS[k] = absT * kGasConstant / (buoyancy * M) / st.omega2First;
    st.epsPerS[k] = absT * 2.0 * kGasConstant / (M * buoyancy) / st.omega2First;
  }
}

void applyMolarMassRule(AnalysisState& st) {
  const ModelInfo& model = modelInfo(st.modelLetter);
  const int components = componentCountFor(model, st.paramCount);
  for (int k = 1; k <= components; ++k) {
    if (!st.molMassGiven[k]) continue;
    const ComponentSlots slots = componentSlots(model, k);
    st.param[slots.dOrM] = st.param[slots.s] * st.dPerS[k];
  }
}

ModelParams modelParamsOf(const AnalysisState& st, Derivatives needs, int threads) {
  ModelParams p;
  p.P = st.param;
  p.paramCount = st.paramCount;
  p.molMassGiven = st.molMassGiven;
  p.dPerS = st.dPerS;
  p.epsPerS = st.epsPerS;
  const ModelInfo* model = findModel(st.modelLetter);
  if (model != nullptr && model->prepare != nullptr) p.lamm = model->prepare(st, p, needs, threads);
  return p;
}

ScanContext scanContextOf(const AnalysisState& st, const ModelParams& params, int scan) {
  ScanContext sc;
  sc.scan = scan;
  sc.time = st.scanTime[scan];
  sc.omega2 = st.scanOmega2[scan];
  sc.firstRadius = st.scanRadius[scan][1];
  sc.slitTimePerCm = st.slitTimePerCm;
  sc.diffTimeOffset = st.diffTimeOffset;
  sc.linearRefRadius = st.linearRefRadius;
  sc.meniscusCorr = st.meniscusCorrValue;
  const ModelInfo& model = modelInfo(st.modelLetter);
  if (!model.hasBottom) return sc;
  // Bottom corrections of R and N per component, from eps at the scan's ω²
  // (the molar-mass form when the mass is given, as in the model itself).
  const int components = componentCountFor(model, params.paramCount);
  const double rm2 = params.P[4] * params.P[4];
  for (int k = 1; k <= components; ++k) {
    const ComponentSlots slots = componentSlots(model, k);
    double eps = params.molMassGiven[k]
                     ? params.epsPerS[k] / (rm2 * sc.omega2)
                     : 2.0 * params.P[slots.dOrM] / (rm2 * params.P[slots.s] * sc.omega2);
    if (eps != eps) eps = 0;  // s = D = 0: the peaks' left floor
    sc.corrA[k] = boundaryCorrA(eps);
    sc.corrB[k] = boundaryCorrB(eps);
    sc.corrADeriv[k] = boundaryCorrADeriv(eps);
    sc.corrBDeriv[k] = boundaryCorrBDeriv(eps);
  }
  return sc;
}

}  // namespace svfit::models
