// Numerical solution of the Lamm equation for the sector-shaped cell: the
// reference that the approximate models, the fit tests and the scan simulator
// are measured against.
//
//   ∂c/∂t = −(1/r)·∂/∂r [ s·ω²(t)·r²·c − D·r·∂c/∂r ],   r_m ≤ r ≤ r_b,
//   zero total flux at the meniscus r_m and at the bottom r_b,
//   c(r, 0) = c0 (uniform loading), ω(t) rising linearly from rest during an
//   optional acceleration phase and constant after it.
//
// Components do not interact: each is solved on its own and the profiles are
// summed. The solver refines the radial grid and the time step together until
// no returned value changes by more than `tolerance` times the loading
// concentration between two refinements (times the local concentration where
// material has piled up above the loading), and reports the last change found.
//
// Units: radius cm, time s, s in Svedberg (1 S = 1e-13 s), D cm²/s,
// concentrations in whatever unit c0 is given (OD, fringes, mg/ml).
#pragma once

#include <span>
#include <vector>

namespace svfit::sim {

inline constexpr double kGasConstant = 8.314e7;  // R [erg/(mol·K)]
inline constexpr int kMaxComponents = 4;         // non-interacting species per run

struct Component {
  double s = 0;   // sedimentation coefficient [S]; negative floats
  double D = 0;   // diffusion coefficient [cm²/s], > 0
  double c0 = 0;  // loading concentration [data units]
};

struct Experiment {
  double meniscus = 6.0;               // r_m [cm]
  double bottom = 7.2;                 // r_b [cm]
  double rpm = 42000;                  // rotor speed at the end of the acceleration [rpm]
  double accelerationTime = 0;         // linear ramp from rest to rpm [s]; 0: at speed from t = 0
  std::vector<Component> components;   // one to four
};

struct Profiles {
  std::vector<std::vector<double>> c;  // c[scan][point]: Σ of all components [data units]
  double errorEstimate = 0;  // largest change of a value in the last refinement / max(Σ|c0|, |c|)
  int cells = 0;             // radial cells of the finest grid used
  bool converged = false;    // errorEstimate <= tolerance
};

// ω² [rad²/s²] of a rotor speed in rpm.
double omega2FromRpm(double rpm);

// ∫₀ᵗ ω²(t') dt' [rad²/s] at elapsed time t [s] from the start of the rotor,
// with the linear acceleration of `run`: ω_f²·t³/(3·t_a²) during the ramp,
// ω_f²·(t − 2·t_a/3) after it.
double omega2tIntegral(const Experiment& run, double t);

// Svedberg equation M = s·R·T / (D·(1 − v̄·ρ)), solved for D [cm²/s].
// s [S], M [g/mol], vbar [ml/g], rho [g/ml], temperature [°C].
double diffusionFromMolarMass(double s, double molarMass, double vbar, double rho,
                              double temperatureC);

// Concentration profiles of `run` at the elapsed times `times` [s] (counted
// from the start of the rotor, acceleration included) and radii `radii` [cm].
// Point j of scan i is taken at times[i] + secondsPerCm·(radii[j] − radii[0]),
// the moment a scanning slit moving outwards passes radii[j]. Radii outside
// [meniscus, bottom] give 0. Throws std::invalid_argument for an impossible
// run (no or more than four components, D <= 0, meniscus >= bottom, a negative
// time, ...).
Profiles solveLamm(const Experiment& run, std::span<const double> times,
                   std::span<const double> radii, double secondsPerCm = 0,
                   double tolerance = 1e-5);

}  // namespace svfit::sim
