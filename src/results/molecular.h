// Hydrodynamic quantities of one sedimenting component, derived from its
// fitted sedimentation and diffusion coefficients: molar mass (Svedberg
// equation) with its standard deviation, Stokes radius and excluded volume of
// the equivalent sphere, hydration and friction ratio.
#pragma once

#include <string>
#include <vector>

#include "state/state.h"
#include "results/report_text.h"

namespace svfit::results {

// Inputs of one component. sw and sdSw are in the fit's unit of s
// (s·omega2First, 1/s); D and sdD in cm²/s; a standard deviation is 0 when
// its parameter was fixed.
struct ComponentInput {
  bool tied = false;  // D follows from a given molar mass (molMassGiven)
  double sdD = 0;     // [cm²/s]
  double sdSw = 0;    // [1/s]
  double vbar = 0;    // partial specific volume [ml/g]
  double vrho = 0;    // vbar times solvent density [1]
  double D = 0;       // diffusion coefficient [cm²/s]
  double sw = 0;      // s·omega2First [1/s]
  double c0 = 0;      // initial concentration [data units], for the plausibility remarks
  double sdC0 = 0;    // [data units]
};

// The inputs of component k as the last fit left them.
ComponentInput ComponentInputOf(const AnalysisState& st, int component);

struct MolecularQuantities {
  Extended molarMass = 0;        // M = R·T·s / (D·(1 − v̄ρ)) [g/mol]
  Extended sdMolarMass = 0;      // [g/mol]; 0 when D is tied to a molar mass
  Extended stokesRadius = 0;     // Rs = k·T / (6π·η·D) [cm]
  Extended excludedVolume = 0;   // 4·(4π/3)·Rs³·N_A / M [l/g]
  Extended anhydrousRadius = 0;  // R0 = (3·v̄·M / (4π·N_A))^(1/3) [cm]
  Extended waterVolume = 0;      // (4π/3)·(Rs³ − R0³)·N_A / M [ml/g]
  Extended frictionRatio = 0;    // f/f0 = M·(1 − v̄ρ) / (N_A·s·6π·η·R0)
};

// Reads temperature, omega2First, viscosity and rho of the state. Undefined
// values (M <= 0, D = 0) come out as infinities or NaN, which the report
// prints in their own form without stopping.
MolecularQuantities ComputeMolecularQuantities(const AnalysisState& st, const ComponentInput& c);

// The four report lines of one component; the last three in yellow on the
// console, then back to white. A remark follows (in light magenta on the
// console) for each value no particle can have: a friction ratio below 1 (a
// D too large for its s), a negative initial concentration, or an s and D
// that give no positive molar mass; and when c0, s or D has a standard
// deviation above its value, so that the data do not determine the component.
void PrintMolecularQuantities(const AnalysisState& st, ReportText& out, const ComponentInput& c);

// Those remarks, one line each; none when the values are plausible.
std::vector<std::string> MolecularRemarks(const MolecularQuantities& q, const ComponentInput& c);

}  // namespace svfit::results
