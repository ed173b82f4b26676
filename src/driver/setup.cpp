// The fit set-up dialogue (see setup.h).
//
// One fixed sequence of questions; the option menu re-enters it at four
// points, so the steps are written top-down as a switch that falls through
// from the entry point:
//   start       common end radius (clears the previous model: new start values)
//   scan speed  slit speed and the scan times t = t_run + (r_first − r_first,1)·f
//   iterations  iteration limit (0: no fit), damping, psv, density, viscosity
//   noise       RI/TI noise, model, component psv, diffusion time, start values
//   parameters  parameter screen, fixed parameters and their values, the
//               estimated list, the D-or-molar-mass classification
// Sedimentation coefficients are stored as s·ω²_first [1/s] and shown and
// entered in Svedberg units (× 1e13/ω²_first).
#include "driver/setup.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "console/crt.h"
#include "console/format.h"
#include "console/prompt.h"
#include "models/catalogue.h"
#include "results/max_absorbance.h"
#include "results/start_values.h"

namespace svfit::driver {
namespace {

using console::AskKey;
using console::AskNumber;
using console::AskYesNo;
using console::FirstChar;
using console::YesNo;

// Models whose diffusion terms can take the time offset of the scan files.
constexpr std::string_view kDiffusionTimeModels = "HPSR";
constexpr double kPi = 3.141592653589793;

std::string F(double v, int width, int decimals) { return console::FormatF(v, width, decimals); }

// Column right after a prompt, where its answer starts.
int AnswerColumn(const std::string& prompt) { return static_cast<int>(prompt.size()) + 1; }

// A partial specific volume [ml/g]: the answer must start with "0.".
double AskPsv(const std::string& text, double value) {
  const std::string prompt = text + F(value, 8, 6) + "  :  ";
  return AskNumber({.prompt = prompt,
                    .defaultValue = value,
                    .defaultColumn = AnswerColumn(prompt),
                    .first = FirstChar::kZeroPoint,
                    .defaultWidth = 8,
                    .defaultDecimals = 6})
      .value;
}

// A density [g/ml] or viscosity [cP]: the answer must start with a digit.
// Density [g/ml] or viscosity [cP]: a value of 0 would make every molar mass
// and friction ratio infinite, so only positive values are taken.
double AskConstant(const std::string& text, double value) {
  const std::string prompt = text + F(value, 8, 6) + "  :  ";
  return AskNumber({.prompt = prompt,
                    .defaultValue = value,
                    .defaultColumn = AnswerColumn(prompt) - 1,
                    .first = FirstChar::kDigit,
                    .defaultWidth = 9,
                    .defaultDecimals = 6,
                    .valid = [](double v) { return v > 0; }})
      .value;
}

const models::ModelInfo& Model(const AnalysisState& st) { return models::modelInfo(st.modelLetter); }

int Components(const AnalysisState& st) {
  return models::componentCountFor(Model(st), st.paramCount);
}

// ---- Steps ------------------------------------------------------------------------

// A new near-bottom radius for every scan; a pass through here always leads
// to new start values.
void CommonEndRadius(AnalysisState& st) {
  st.prevModelLetter = 'Z';
  if (!AskYesNo("New common end radius for faxen type solutions   (Y/N) :  ", YesNo::kEnterNo))
    return;
  const double r = AskNumber({.prompt = "Radius near bottom                     initial: " +
                                        F(st.nearBottomRadius, 6, 4) + " :  ",
                              .defaultValue = st.nearBottomRadius,
                              .defaultColumn = 57,
                              .first = FirstChar::kOneToNine,
                              .defaultWidth = 8,
                              .defaultDecimals = 4})
                       .value;
  st.nearBottomRadius = r;
  st.endRadius = r;
  results::SetCommonMaxAbsorbance(st, false);
}

// The absorbance optics scan the cell with a moving slit, so a point at
// radius r is measured (r − r_first)·f seconds after the scan started, f in
// s/cm. Interference data (and cell 9, the reference) are taken at once.
void ScanSpeed(AnalysisState& st) {
  if (st.dataKind != 'R' || st.cellNumber == 9) {
    st.slitTimePerCm = 0;
  } else {
    // A factor of 0 (no correction) is offered as speed 0, not as 10/0.
    const double speed = st.slitTimePerCm > 1e-10 ? 10.0 / st.slitTimePerCm : 0.0;  // [mm/s]
    const std::string shown = F(speed, 6, 4);
    const auto a = AskNumber({.prompt = "slit speed(mm/sec)(" + shown + "=default,if no replic) " +
                                        shown + " : ",
                              .defaultValue = speed,
                              .defaultColumn = 58,  // over an answer Y or N
                              .first = FirstChar::kAny,
                              .defaultWidth = 7,
                              .defaultDecimals = 4,
                              // 0 (or less) turns the correction off; a speed
                              // below 0.001 mm/s (hours per cm) or above
                              // 1000 mm/s is no scanner's and is asked again.
                              .valid = [](double v) { return v <= 1e-10 || (v >= 1e-3 && v <= 1e3); },
                              .defaultKeys = "YN"});
    if (!a.empty) st.slitTimePerCm = a.value > 1e-10 ? 10.0 / a.value : 0.0;  // [s/cm]
  }
  const double firstRadius = st.scanRadius[1][1];  // [cm]
  for (int s = 1; s <= st.scanCount; ++s)
    st.scanTime[s] = st.scanRunTime[s] + (st.scanRadius[s][1] - firstRadius) * st.slitTimePerCm;
}

void Iterations(AnalysisState& st) {
  st.maxIterations = AskNumber({.prompt = "max. number of iterations  (200=default)               :  ",
                                .defaultValue = 200,
                                .defaultColumn = 59,
                                .integer = true,
                                .defaultWidth = 3,
                                .defaultDecimals = 0})
                         .asInt();
}

void Damping(AnalysisState& st) {
  st.dampStart = AskNumber({.prompt = "starting damping parameter for iterations  (5=default) :  ",
                            .defaultValue = 5,
                            .defaultColumn = 58,
                            .defaultWidth = 2,
                            .defaultDecimals = 0})
                     .value;
  st.dampQ = std::fabs(st.dampStart);
}

// 1 − v̄ρ is the buoyancy of a component: at 0 or below its particles would
// float, and a molar mass (from D, or fixed) has no meaning. The constants
// are kept (the user may go on), but the console says so.
void NoteFloating(const AnalysisState& st) {
  for (int k = 1; k <= std::max(1, st.componentCount); ++k) {
    if (st.psvRho[k] >= 1)
      console::WriteLn("note: psv*rho of component " + std::to_string(k) + " is " +
                       F(st.psvRho[k], 0, 3) + ", not below 1: it would float, its molar mass has no meaning");
  }
}

void SolutionConstants(AnalysisState& st) {
  if (st.componentCount < 2) {
    // Components 2..4 that had the solution's volume keep following it.
    const double before = st.psv[1];
    st.psv[1] = AskPsv("partial specific volume          (standard)  ", st.psv[1]);
    for (int k = 2; k <= kMaxComponents; ++k)
      if (st.psv[k] == before) st.psv[k] = st.psv[1];
  }
  st.rho = AskConstant("specific density (rho)           (standard)  ", st.rho);
  st.updatePsvRho();
  NoteFloating(st);
  st.viscosity = AskConstant("viscosity of solution(water=standard cpoise) ", st.viscosity);
}

void NoiseTerms(AnalysisState& st) {
  st.riNoiseOn = AskYesNo("Eliminate radial independent (RI) noise          (Y/N) :  ",
                          YesNo::kJNoEnter);
  st.tiNoiseOn = false;
  if (st.dataKind == 'P' && !st.contourSubtraction) {
    st.tiNoiseOn = AskYesNo("Eliminate time independent   (TI) noise          (Y/N) :  ",
                            YesNo::kJNoEnter);
  }
}

// The model menu in colour 13; the letter is echoed in white at column 79.
void ChooseModel(AnalysisState& st, const SetupServices& services) {
  const auto catalogue = models::modelCatalogue();
  std::string letters;
  for (const auto& m : catalogue) letters += m.letter;
  console::SetTextColor(console::kLightMagenta);
  for (std::size_t i = 0; i + 1 < catalogue.size(); ++i) console::WriteLn(catalogue[i].menuLine);
  const int letter = AskKey({.prompt = catalogue.back().menuLine,
                             .keys = letters,
                             .echoColor = console::kWhite,
                             .echoColumn = 79});
  console::SetTextColor(console::kWhite);
  st.modelLetter = static_cast<char>(letter);
  const models::ModelInfo& model = Model(st);
  // Models with several components take as many as were marked in the viewer.
  if (model.maxComponents > 1 && services.pickStartValues) services.pickStartValues(st);
  st.componentCount = model.maxComponents > 1 ? std::clamp(st.markedCount, 1, model.maxComponents) : 1;
  st.paramCount = models::paramCountFor(model, st.componentCount);
  st.dParamIndex = model.dParamIndex;
}

void ComponentVolumes(AnalysisState& st) {
  if (st.componentCount < 2) return;
  for (int k = 1; k <= st.componentCount; ++k)
    st.psv[k] = AskPsv(std::to_string(k) + ". part.spec.vol.  ", st.psv[k]);
  st.updatePsvRho();
  NoteFloating(st);
}

void DiffusionTime(AnalysisState& st) {
  if (kDiffusionTimeModels.find(st.modelLetter) == std::string_view::npos) return;
  const bool yes = AskYesNo("Consideration of diffusion time   (Y/N) : ", YesNo::kEnterNo);
  st.diffTimeOffset = yes ? st.timeOffset : 0.0;  // [s]
}

// New or kept start values. The damping the fit starts from is the answer to
// the damping question with new start values, and at most 1 when the fit
// goes on from the last estimates. The last estimates are offered only for
// the same model (or one with the same parameters: N and F) with the same
// number of components: with another number they would not fill the
// parameter layout. Returns true when new start values were needed without
// asking (another model or layout).
bool StartValues(AnalysisState& st, const SetupServices& services, int previousComponents) {
  const models::ModelInfo* previous = models::findModel(st.prevModelLetter);
  const bool modelChanged = previous == nullptr || previous->paramsLike != Model(st).paramsLike ||
                            st.componentCount != previousComponents;
  bool fresh = modelChanged;
  if (!modelChanged) {
    fresh = AskKey({.prompt = "The until now (E)stimated parameters as start values or (N)ew ones "
                              " (E/N) : ",
                    .keys = "EN"}) == 'N';
  }
  if (fresh) {
    if (services.estimateStartValues) services.estimateStartValues(st, st.dParamIndex);
    if (Model(st).maxComponents > 1 && st.markedCount > 0) SetComponentStartValues(st);
    st.dampQ = std::fabs(st.dampStart);
  } else {
    st.dampQ = std::min(std::fabs(st.dampStart), 1.0);
  }
  st.prevModelLetter = st.modelLetter;
  st.fitSeconds = 0;
  st.iterCount = 0;
  st.faultCount = 0;
  return modelChanged;
}

// The numbered parameter list of the model, three to a line.
void ParameterScreen(const AnalysisState& st) {
  const int n = Components(st);
  console::WriteLn("sequence of the parameters");
  auto line = [](std::string text, bool more, const char* continuation) {
    if (more) text += continuation;
    console::WriteLn(text);
  };
  switch (Model(st).layout) {
    case models::Layout::Faxen:
      console::WriteLn(" 1. initial absorbance    2. Svedberg coeff.           3. base line     ");
      line(" 4. meniscus radius       5. diff.coeff. or Molmass    ", n >= 2,
           "6. initial absorbance 2");
      if (n >= 2)
        line(" 7. Svedberg coeff.2      8. diff.coeff.or Molmass 2   ", n >= 3,
             "9. initial absorbance 3");
      if (n >= 3)
        line("10. Svedberg coeff.3     11. diff.coeff.or Molmass 3  ", n >= 4,
             "12. initial absorbance 4");
      if (n >= 4) console::WriteLn("13. Svedberg coeff.4     14. diff.coeff.or Molmass 4");
      break;
    case models::Layout::Fujita:
      console::WriteLn("1. initial absorbance     2. Svedberg coeff.          3. base line");
      console::WriteLn("4. meniscus radius        5. S-conc.-parameter        6. diff.coeff. or mass");
      break;
    case models::Layout::Bounded:
      console::WriteLn(" 1. initial absorbance         2. Svedberg coeff.        3. base line");
      console::WriteLn(
          " 4. meniscus radius            5. bottom radius          6. rotation parameter");
      line(" 7. diff.coeff.or Molmass      ", n >= 2, "8. initial absorbance 2   9. Svedberg coeff.2");
      if (n >= 2)
        line("10. diff.coeff.or Molmass 2   ", n >= 3,
             "11. initial absorbance 3  12. Svedberg coeff.3 ");
      if (n >= 3)
        line("13. diff.coeff.or Molmass 3   ", n >= 4,
             "14. initial absorbance 4  15. Svedberg coeff.4 ");
      if (n >= 4) console::WriteLn("16. diff.coeff.or Molmass 4");
      break;
  }
}

// How many and which parameters stay fixed. A number outside 1..paramCount
// asks both questions again.
PerParam<bool> ChooseFixed(const AnalysisState& st) {
  for (;;) {
    const int count =
        AskNumber({.prompt = "how many parameters shall not to be estimate         :  ",
                   .defaultValue = 0,
                   .integer = true,
                   .valid = [&st](double v) { return v >= 0 && v <= st.paramCount; }})
            .asInt();
    PerParam<bool> fixed{};
    if (count == 0) return fixed;
    console::WriteLn("select for the not to estimate parameters (numbers)");
    // "3-5" names parameters 3 and 5: the hyphen only separates.
    int got = 0;
    bool inRange = true;
    while (got < count && inRange) {
      const console::NumberList list = console::AskNumberList("", count - got, {.ranges = true});
      for (const double v : list.values) {
        if (got == count) break;
        if (!(v >= 0.5 && v < st.paramCount + 0.5)) inRange = false;
        if (inRange) fixed[static_cast<std::size_t>(std::lround(v))] = true;
        ++got;
      }
    }
    if (inRange) return fixed;
  }
}

bool IsSvedbergParameter(const AnalysisState& st, int k) {
  for (int c = 1; c <= Components(st); ++c)
    if (models::componentSlots(Model(st), c).s == k) return true;
  return false;
}

// The value of a fixed parameter: kept on an empty answer.
void AskFixedValue(AnalysisState& st, int k, bool modelChanged) {
  const models::ModelInfo& model = Model(st);
  if (k == 4 && st.meniscusMarked > 0) st.param[4] = st.meniscusMarked;
  if (k == 5 && model.hasBottom && modelChanged && st.bottomMarked > 0)
    st.param[5] = st.bottomMarked;
  const double scale =
      IsSvedbergParameter(st, k) && st.omega2First > 0 ? 1e13 / st.omega2First : 1.0;  // → S
  const double shown = st.param[k] * scale;
  const auto a = AskNumber({.prompt = models::parameterName(model.layout, k) + " " +
                                      console::FormatExp11(shown) + " : ",
                            .defaultValue = shown,
                            .first = FirstChar::kAny});
  if (!a.empty) st.param[k] = a.value / scale;
}

// Steps from the parameter screen on; repeated while fewer points than
// estimated parameters are left (the standard deviations need at least one
// degree of freedom).
void FixedParameters(AnalysisState& st, bool modelChanged) {
  for (;;) {
    ParameterScreen(st);
    const PerParam<bool> fixed = ChooseFixed(st);
    for (int k = 1; k <= st.paramCount; ++k)
      if (fixed[k]) AskFixedValue(st, k, modelChanged);
    BuildEstimatedList(st, fixed);
    st.pointTotal = UsedPointCount(st);
    if (st.freeCount == 0 || st.pointTotal > st.freeCount) break;
    console::SetTextColor(console::kLightMagenta);
    console::WriteLn("only " + std::to_string(st.pointTotal) + " data points for " +
                     std::to_string(st.freeCount) +
                     " parameters to estimate: fix more parameters");
    console::SetTextColor(console::kWhite);
  }
  models::classifyDiffusionOrMass(st);
}

// 0 iterations: the plots take the range of the used data.
bool NoFit(AnalysisState& st) {
  bool any = false;
  for (int pos = st.seqFirst; pos <= st.seqLast; ++pos) {
    const int s = st.scanSequence[pos];
    for (int i = st.scanFirstPoint[s]; i <= st.scanLastPoint[s]; ++i) {
      const double v = st.scanValue[s][i];
      if (!any || v < st.minValue) st.minValue = v;
      if (!any || v > st.maxValue) st.maxValue = v;
      any = true;
    }
  }
  return false;
}

}  // namespace

SetupServices DefaultSetupServices() { return {results::EstimateStartValues, PickStartValues}; }

bool SetupDialog(AnalysisState& st, SetupEntry entry, const SetupServices& services) {
  bool modelChanged = false;
  switch (entry) {
    case SetupEntry::kStart:
      CommonEndRadius(st);
      [[fallthrough]];
    case SetupEntry::kScanSpeed:
      ScanSpeed(st);
      [[fallthrough]];
    case SetupEntry::kIterations:
      Iterations(st);
      if (st.maxIterations == 0) return NoFit(st);
      Damping(st);
      st.riNoiseOn = false;
      st.tiNoiseOn = false;
      st.display = DisplayFlags{};
      SolutionConstants(st);
      [[fallthrough]];
    case SetupEntry::kNoise: {
      if (st.maxIterations == 0) return NoFit(st);
      const int previousComponents = st.componentCount;
      NoiseTerms(st);
      ChooseModel(st, services);
      ComponentVolumes(st);
      DiffusionTime(st);
      modelChanged = StartValues(st, services, previousComponents);
      break;
    }
    case SetupEntry::kParameters:
      if (st.maxIterations == 0) return NoFit(st);
      st.dampQ = std::min(std::fabs(st.dampStart), 1.0);  // going on from fitted values
      break;
  }
  FixedParameters(st, modelChanged);
  return true;
}

void AskPostFitConstants(AnalysisState& st) {
  const int n = Components(st);
  bool tied = false;
  for (int k = 1; k <= n; ++k) tied = tied || st.molMassGiven[k];
  if (!tied) {
    st.rho = AskConstant("specific density (rho)            (standard)          ", st.rho);
    st.viscosity = AskConstant("viscosity of solution (cpoise)    (water=standard)    ", st.viscosity);
  }
  for (int k = 1; k <= n; ++k) {
    if (!st.molMassGiven[k])
      st.psv[k] = AskPsv(std::to_string(k) + ". partial specific volume        (standard)          ",
                         st.psv[k]);
  }
  st.updatePsvRho();
  NoteFloating(st);
}

void SetComponentStartValues(AnalysisState& st) {
  const models::ModelInfo& model = Model(st);
  const int n = Components(st);
  // The marks in the order of their keys; an unused key leaves no gap.
  std::vector<int> marks;
  for (int k = 1; k <= kMaxComponents && static_cast<int>(marks.size()) < n; ++k)
    if (st.markedS[k] != 0) marks.push_back(k);
  if (marks.empty()) return;

  // The total initial absorbance: the 3000 rpm extinction when known.
  const bool known = st.use3000 && st.dataKind == 'R' && st.extinction3000 > 0;
  const double total = known ? st.extinction3000 : st.param[1];
  double sumAmp = 0;
  for (const int k : marks) sumAmp += st.markedAmp[k];

  // Sphere of friction ratio f = 1.5: with s in S and η in poise,
  //   D = k·T/(π·f^1.5·η^1.5)·√((1 − v̄ρ)/(162·v̄·s·1e-13)),  k = R/N_A.
  const double T = 273.15 + st.temperature;                   // [K]
  const double etaFactor = std::pow(0.01 * st.viscosity, -1.5);  // η^−1.5 [poise^−1.5]
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const int c = static_cast<int>(i) + 1;
    const double s = st.markedS[marks[i]];  // [S]
    const models::ComponentSlots slot = models::componentSlots(model, c);
    // Shares of a positive total; without one (no plateau in the estimate)
    // each component starts at the height of its own mark.
    if (!(total > 0)) {
      st.param[slot.c0] = std::fabs(st.markedAmp[marks[i]]);
    } else {
      st.param[slot.c0] = sumAmp != 0 ? st.markedAmp[marks[i]] / sumAmp * total
                                      : total / static_cast<double>(marks.size());
    }
    st.param[slot.s] = s * st.omega2First * 1e-13;
    const double buoyancy = 1 - st.psvRho[c];  // 1 − v̄ρ
    if (s > 0 && st.psv[c] > 0 && buoyancy > 0) {
      st.param[slot.dOrM] = std::sqrt(buoyancy / (162 * st.psv[c] * s * 1.5)) * T * etaFactor *
                            83160000 / 6.0247 * 1e-23 * 3162200 / kPi / 1.5;  // [cm²/s]
    }
  }
}

void BuildEstimatedList(AnalysisState& st, const PerParam<bool>& fixed) {
  const bool bounded = Model(st).hasBottom;
  st.freeIndex.fill(0);
  st.freeCount = 0;
  for (int k = 1; k <= st.paramCount; ++k) {
    if (fixed[k]) continue;
    // The noise terms take the place of the base line; under TI noise the
    // linear term of the bounded-cell models is not separable from it either.
    if (k == 3 && (st.riNoiseOn || st.tiNoiseOn)) continue;
    if (k == 6 && st.tiNoiseOn && bounded) continue;
    st.freeIndex[++st.freeCount] = k;
  }
}

long UsedPointCount(const AnalysisState& st) {
  long n = 0;
  for (int pos = st.seqFirst; pos <= st.seqLast; ++pos) {
    const int s = st.scanSequence[pos];
    n += std::max(0, st.scanLastPoint[s] - st.scanFirstPoint[s] + 1);
  }
  return n;
}

}  // namespace svfit::driver
