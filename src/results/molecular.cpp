// Molecular quantities of one component from its s and D.
//
// With T = t + 273.15 K, R = 8.316e7 erg/(mol·K), N_A = 6.0247e23 /mol, η in
// poise (the state keeps centipoise) and s = sw / ω²_first:
//   M   = R·T·s / (D·(1 − v̄ρ))                          Svedberg equation
//   Rs  = k·T / (6π·η·D),  k = R / N_A                    Stokes–Einstein
//   R0  = (3·v̄·M / (4π·N_A))^(1/3)                       anhydrous sphere
//   f/f0 = M·(1 − v̄ρ) / (N_A·s·6π·η·R0)
// Boltzmann's constant is taken as R / N_A of the same constants, so that the
// friction ratio equals Rs / R0 exactly, as it must when M comes from s and D.
// Everything is computed in extended precision; the cube roots as
// exp(ln(x)/3), which turns an undefined molar mass (M <= 0) into NaN.
//
// The friction ratio of any particle is at least 1: the sphere has the least
// friction of all shapes of its volume. A smaller one means a D larger than a
// compact unhydrated sphere of that s could have, so the pair (s, D) is no
// particle's; the report says so under the figures.
#include "results/molecular.h"

#include <cmath>

#include "console/crt.h"
#include "console/format.h"
#include "models/catalogue.h"

namespace svfit::results {
namespace {

constexpr Extended kAbsoluteZero = 273.15L;                  // [K] offset of °C
constexpr Extended kGasConstant = 8.316e7L;                  // R [erg/(mol·K)]
constexpr Extended kAvogadroMantissa = 6.0247L;              // N_A = 6.0247e23 /mol
constexpr Extended kBoltzmann = kGasConstant / 6.0247e23L;   // k = R/N_A [erg/K]
constexpr Extended kPi = 3.141592653589793L;
constexpr Extended kSixteenPiThirds = 16.755160819145566L;   // 16π/3
constexpr Extended kPiAvogadro = 1.8927153260082429e24L;     // π·N_A

Extended CubeRoot(Extended x) { return std::exp(std::log(x) / 3); }

// Standard deviation of parameter k after the fit; 0 when it was fixed.
double StdDevOf(const AnalysisState& st, int k) {
  for (int i = 1; i <= st.freeCount && i <= kMaxParams; ++i)
    if (st.freeIndex[i] == k) return st.stdDev[i];
  return 0.0;
}

}  // namespace

ComponentInput ComponentInputOf(const AnalysisState& st, int component) {
  const models::ComponentSlots slot =
      models::componentSlots(models::modelInfo(st.modelLetter), component);
  ComponentInput c;
  c.tied = st.molMassGiven[component];
  c.sdD = StdDevOf(st, slot.dOrM);
  c.sdSw = StdDevOf(st, slot.s);
  c.vbar = st.psv[component];
  c.vrho = st.psvRho[component];
  c.D = st.param[slot.dOrM];
  c.sw = st.param[slot.s];
  c.c0 = st.param[slot.c0];
  c.sdC0 = StdDevOf(st, slot.c0);
  return c;
}

MolecularQuantities ComputeMolecularQuantities(const AnalysisState& st, const ComponentInput& c) {
  const Extended T = static_cast<Extended>(st.temperature) + kAbsoluteZero;  // [K]
  const Extended invEta = 100 / static_cast<Extended>(st.viscosity);  // 1/η [1/poise]
  const Extended w2 = st.omega2First;                                   // [rad²/s²]
  const Extended D = c.D;
  const Extended sw = c.sw;
  const Extended oneMinusVrho = 1 - static_cast<Extended>(c.vrho);

  MolecularQuantities q;
  const Extended K = T * kGasConstant / D / oneMinusVrho / w2;  // M per unit of sw
  q.molarMass = K * sw;
  if (c.tied) {
    q.sdMolarMass = 0;
  } else {
    const Extended sdSw = c.sdSw;
    const Extended rel = sw / D * static_cast<Extended>(c.sdD);
    q.sdMolarMass = K * std::sqrt(sdSw * sdSw + rel * rel);
  }
  const Extended M = q.molarMass;
  q.stokesRadius = T * kBoltzmann / D / 6 / kPi * invEta;
  const Extended rs = q.stokesRadius;
  q.excludedVolume = kSixteenPiThirds * rs * rs * rs * kAvogadroMantissa * 1e20L / M;
  q.anhydrousRadius =
      CubeRoot(3 * static_cast<Extended>(c.vbar) * M * 1e-23L / 4 / kPi / kAvogadroMantissa);
  const Extended r0 = q.anhydrousRadius;
  const Extended vex0 = kSixteenPiThirds * r0 * r0 * r0 * kAvogadroMantissa * 1e20L / M;
  q.waterVolume = (q.excludedVolume - vex0) * 250;
  q.frictionRatio =
      CubeRoot(M * M / (kPiAvogadro * kPiAvogadro * 162 * static_cast<Extended>(c.vbar))) *
      oneMinusVrho * invEta / sw * w2;
  return q;
}

void PrintMolecularQuantities(const AnalysisState& st, ReportText& out, const ComponentInput& c) {
  using console::FormatExp11;
  const auto e11 = [](Extended v) { return FormatExp11(static_cast<double>(v)); };
  const MolecularQuantities q = ComputeMolecularQuantities(st, c);
  out.Line("Molecular mass/stdv/(psv*rho)  " + e11(q.molarMass) + "   " + e11(q.sdMolarMass) +
           "   " + FormatExp11(c.vrho));
  out.Color(console::kYellow);
  out.Line("Stokes radius(water)(m)/excluded volume(l/g) " + e11(0.01L * q.stokesRadius) + "   " +
           e11(q.excludedVolume));
  out.Line("Water thicknis from stokes radius(m)//-Vol/g " +
           e11(0.01L * (q.stokesRadius - q.anhydrousRadius)) + "   " + e11(q.waterVolume));
  out.Line("Friction ratio/viscosity/rho   " + e11(q.frictionRatio) + "   " +
           FormatExp11(st.viscosity) + "   " + FormatExp11(st.rho));
  const std::vector<std::string> remarks = MolecularRemarks(q, c);
  if (!remarks.empty()) out.Color(console::kLightMagenta);
  for (const std::string& remark : remarks) out.Line(remark);
  out.Color(console::kWhite);
}

std::vector<std::string> MolecularRemarks(const MolecularQuantities& q, const ComponentInput& c) {
  std::vector<std::string> remarks;
  const bool massDefined = q.molarMass > 0 && std::isfinite(q.molarMass);
  if (!massDefined) remarks.push_back("remark: s and D give no positive molar mass - no particle has them");
  if (massDefined && q.frictionRatio < 1)
    remarks.push_back("remark: friction ratio below 1 - D too large for this s, no particle");
  if (c.c0 < 0) remarks.push_back("remark: negative initial concentration - physically impossible");
  // A deviation above the value: the component could as well be absent (or
  // have any s), typically more components than the data hold.
  if (c.sdC0 > std::fabs(c.c0) || c.sdSw > std::fabs(c.sw) || (!c.tied && c.sdD > std::fabs(c.D)))
    remarks.push_back("remark: deviation above the value - the data do not determine this component");
  return remarks;
}

}  // namespace svfit::results
