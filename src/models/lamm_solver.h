// Numerical solution of the Lamm equation for one sedimenting species in the
// sector-shaped cell, with the derivatives of the solution by s, D and the
// two walls: the one Lamm solver of the project. The simulator (tools/sim)
// refines it until the answer stops changing; model F runs it at one fixed
// resolution per parameter set and fits it directly.
//
//   ∂c/∂t = −(1/r)·∂/∂r [ s·ω²(t)·r²·c − D·r·∂c/∂r ],   r_m ≤ r ≤ r_b,
//   zero total flux at the meniscus r_m and at the bottom r_b, c(r, 0) = 1.
//
// The equation is linear in c, so the solution is computed for unit loading
// and scaled by the caller; species that do not interact are solved one by
// one and summed. Diffusion acts over real time t, sedimentation through
// ω²(t), which the RotorSchedule gives (an acceleration phase included).
//
// Units: radius cm, time s, s in seconds (1 S = 1e-13 s), ω² rad²/s²,
// D cm²/s.
#pragma once

#include <array>
#include <functional>
#include <span>
#include <vector>

namespace svfit::models {

// ω²(t) of the rotor from the start of the run: pieces of quadratics in t.
class RotorSchedule {
 public:
  // At speed from t = 0.
  static RotorSchedule atSpeed(double omega2);
  // ω rising linearly from rest to √omega2 in rampTime [s], constant after:
  // ω² = omega2·(t/rampTime)² during the ramp, ∫ω²dt = omega2·(t − 2/3·rampTime) after it.
  static RotorSchedule linearRamp(double omega2, double rampTime);

  // The run as the scan headers record it: elapsed time [s] and ω²t integral
  // [rad²/s] of every scan, and its ω² [rad²/s²].
  struct ScanClock {
    double elapsed = 0;
    double omega2t = 0;
    double omega2 = 0;
  };
  // The acceleration before the first scan is taken as a linear rise of ω
  // whose length makes ∫ω²dt at the first scan equal to its header value (a
  // lag of t − ∫ω²dt/ω² = 2/3 of the ramp time when the scan is at speed);
  // between consecutive scans a constant is added to ω² so that the integral
  // matches every header exactly. Scans whose time or integral does not
  // increase are left out; after the last scan the rotor keeps its speed.
  static RotorSchedule fromScans(std::span<const ScanClock> scans);

  double omega2At(double t) const;   // ω²(t) [rad²/s²]
  double omega2tAt(double t) const;  // ∫₀ᵗ ω²(t')dt' [rad²/s]
  double peakOmega2() const;         // largest ω² of the run [rad²/s²]
  // Times where ω² has a kink or a jump [s]: a time step should end there.
  std::vector<double> knots() const;

 private:
  // ω² = a + b·τ + c·τ² (τ = t − start) plus, during a linear rise of ω,
  // rampPeak·((t − rampStart)/rampTime)².
  struct Piece {
    double start = 0;            // [s]
    double a = 0, b = 0, c = 0;  // [rad²/s², rad²/s³, rad²/s⁴]
    double rampPeak = 0, rampStart = 0, rampTime = 0;  // [rad²/s², s, s]; rampTime 0 = none
    double integral = 0;         // ∫ω²dt up to start [rad²/s]
  };
  void add(Piece p);
  static double omega2Of(const Piece& p, double t);
  static double integralOf(const Piece& p, double t);  // ∫ from p.start to t
  std::size_t pieceAt(double t) const;
  std::vector<Piece> pieces_;  // by start; pieces_[0].start = 0
};

struct LammSpecies {
  double s = 0;  // sedimentation coefficient [s]; negative floats
  double D = 0;  // diffusion coefficient [cm²/s], > 0
};

// The radial grid and the time-step rule for one species.
//
// Nodes are uniform in the column and graded towards both walls, where the
// depletion layer at the meniscus and the pile-up at the bottom are
// exponentials of decay length δ = D/(|s|·ω²·r). On a quantised grid the
// nodes are r_k = r_m + (r_b − r_m)·ξ_k with fractions ξ_k that do not move
// with the walls: moving a wall stretches the grid without changing its
// shape.
//
// Time steps follow the physics: Δt = β·w/(|s|·ω²_peak·r_b + D/w) with the
// boundary width w = max(h, √(2·D·t)), a fixed fraction of the time a boundary
// needs to move or spread by its own width, rounded down to a ladder of
// 2^(1/8), and at least minStep when that is set.
struct LammGrid {
  double meniscus = 0, bottom = 0;  // [cm]
  std::vector<double> r;            // node radii [cm], r_m … r_b
  std::vector<double> xi;           // the same as fractions of the column, 0 … 1
  double beta = 0;                  // time-step factor
  double stepD = 0;                 // D of the step rule [cm²/s]
  double stepSpeed = 0;             // |s|·ω²_peak·r_b of the step rule [cm/s]
  double spacing = 0;               // node spacing away from the walls [cm]
  double length = 0;                // column length of the step rule [cm]
  double minStep = 0;               // no step shorter than this [s]; 0 = none
  int cells() const { return static_cast<int>(r.size()) - 1; }
};

// The grid at refinement `level`: level 0 has about 256 cells in the column
// plus the graded walls and β = 0.2; each level doubles the cells and halves
// β. `quantised` rounds everything the grid and the step rule take from the
// species (δ/(r_b − r_m), D, the boundary speed, the spacing) to a ladder of
// 2^(1/4): the discretisation is then the same for all parameters of a
// ladder cell, so the discrete solution is a smooth function of s, D, r_m and
// r_b there, and its derivatives are the sensitivities computed below.
LammGrid lammGrid(const LammSpecies& species, double meniscus, double bottom, double peakOmega2,
                  int level, bool quantised = false);

// Derivatives the march can carry, as bits of a mask.
enum LammParam : int { kLammS = 0, kLammD = 1, kLammMeniscus = 2, kLammBottom = 3 };
inline constexpr int kLammParams = 4;
constexpr unsigned lammBit(LammParam p) { return 1u << p; }

using LammVector = std::vector<double>;

// The state at both ends of one time step, handed to the visitor. A·c is the
// net inflow into each control volume [cm²·conc/s], so dc/dt = A·c/V; for a
// sensitivity w_p = ∂c/∂p the matching term aw_p = A·w_p + A_p·c, so that
// dw_p/dt = (aw_p − V_p·dc/dt)/V with V_p = ∂V/∂p (0 for s and D).
struct LammStepView {
  double t0 = 0, t1 = 0;           // [s]; once at the start with t0 = t1 = 0 (the loading)
  std::span<const double> r;       // node radii [cm]
  std::span<const double> volume;  // control volumes ∫r dr [cm²]
  const LammVector *c0, *ac0, *c1, *ac1;
  const std::array<LammVector, kLammParams>*w0, *aw0, *w1, *aw1;  // entries of the mask
  const std::array<LammVector, kLammParams>* volumeDeriv;         // V_p (r_m, r_b)
};
using LammVisitor = std::function<void(const LammStepView&)>;

// Integrates from t = 0 through every time in `stops` (ascending), each of
// which ends a step, calling visit after every step. `sensitivities` is a
// mask of lammBit(...). Returns the work done (cells × steps).
double marchLamm(const LammSpecies& species, const LammGrid& grid, const RotorSchedule& rotor,
                 std::span<const double> stops, unsigned sensitivities, const LammVisitor& visit);

// Cubic Lagrange interpolation through the four nodes nearest to r, with the
// radial derivative of the interpolant. first = −1 outside [r_m, r_b].
struct LammStencil {
  int first = -1;
  double w[4] = {0, 0, 0, 0};   // value weights
  double dw[4] = {0, 0, 0, 0};  // d/dr weights [1/cm]
};
LammStencil lammStencil(std::span<const double> nodes, double r);

// Cubic Hermite weights in time for θ = (t − t0)/(t1 − t0): a value at t is
// h[0]·x0 + h[1]·Δt·ẋ0 + h[2]·x1 + h[3]·Δt·ẋ1.
std::array<double, 4> hermiteWeights(double theta);

}  // namespace svfit::models
