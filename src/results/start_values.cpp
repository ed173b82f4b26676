// Start values from the data: the plateau from a cubic fitted near the bottom
// of an early scan, the sedimentation parameter from the radius r_b where a
// middle scan reaches half the plateau, s·ω² = ln(r_b/r_m)/t, and the
// diffusion coefficient of a sphere of that s with a fixed friction ratio
// f/f0 = 1.84 (Svedberg: M = sRT/((1 − v̄ρ)D) with the Stokes friction of a
// sphere of volume M·v̄/N_A, solved for D).
//
// With TI noise elimination (and without the 3000 rpm contour subtraction)
// the time-independent profile of the first scan is taken out of the later
// scans for the plateau and boundary searches and put back exactly
// afterwards: the caller's data are never changed.
//
// When that estimate fails (a plateau that is not positive, or a boundary so
// close to the meniscus that s lands on its 0.16 S floor; typical of
// interference runs whose scans carry their own offsets), plateau and s are
// read off the middle scan itself: the best two-level step through it gives
// the depleted level below the boundary, the plateau beyond it and the
// boundary radius between. With TI noise elimination the first scan is
// subtracted first, which removes the time-independent pattern and leaves
// the same step.
#include "results/start_values.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/normal_system.h"
#include "fit/polynomial.h"
#include "models/catalogue.h"

namespace svfit::results {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Synthetic-boundary experiments (H, P, S) have their plateau near the bottom
// of the cell; with R they may start below it.
bool syntheticPlateau(char letter) { return letter == 'S' || letter == 'P' || letter == 'H'; }
bool plateauFromPoint(char letter) { return letter == 'R' || syntheticPlateau(letter); }

// The TI profile of scan 1 over points first..last, taken out of scans
// 2..scanCount and restored from a copy.
class ProfileRemoval {
 public:
  ProfileRemoval(AnalysisState& st, int first, int last) : st_(st), first_(first), last_(last) {
    double minimum = 1e34;
    for (int i = first; i <= last; ++i) minimum = std::min(minimum, st.scanValue[1][i]);
    profile_.assign(static_cast<std::size_t>(last - first + 1), 0.0);
    double sum = 0;
    for (int i = first; i <= last; ++i) {
      profile_[static_cast<std::size_t>(i - first)] = st.scanValue[1][i] - minimum;
      sum += st.scanValue[1][i] - minimum;
    }
    mean_ = sum / (last - first + 1);
    for (int j = 2; j <= st.scanCount; ++j) {
      const int end = std::min(last, st.scanPointCount[j]);
      for (int i = first; i <= end; ++i) {
        saved_.push_back(st.scanValue[j][i]);
        st.scanValue[j][i] -= profile_[static_cast<std::size_t>(i - first)];
      }
    }
  }
  ~ProfileRemoval() {
    std::size_t k = 0;
    for (int j = 2; j <= st_.scanCount; ++j) {
      const int end = std::min(last_, st_.scanPointCount[j]);
      for (int i = first_; i <= end; ++i) st_.scanValue[j][i] = saved_[k++];
    }
  }
  ProfileRemoval(const ProfileRemoval&) = delete;
  ProfileRemoval& operator=(const ProfileRemoval&) = delete;
  double mean() const { return mean_; }

 private:
  AnalysisState& st_;
  int first_, last_;
  std::vector<double> profile_;
  std::vector<double> saved_;  // the values of the later scans as they were
  double mean_ = 0;
};

// Scans counted: up to a second speed set; for interference data the first half of many.
int countedScans(const AnalysisState& st) {
  int c = st.secondSpeedFirstScan > 0 ? st.secondSpeedFirstScan : st.scanCount;
  if (st.dataKind == 'P' && c > 40) c /= 2;
  return std::clamp(c, 1, st.scanCount);
}

// Plateau and sedimentation parameter: steps 2 to 11 of the estimate, with the
// profile (if any) taken out. Writes P[1] to P[6]. Returns true when the
// boundary was not found: s·ω² was raised to its floor of 0.16 S, or the
// middle scan never reaches half the plateau (the plateau of R, H, P and S
// is raised to 2.5 times a data value, above a sector-cell run's plateau,
// and the search then ends at the scan's last point, far beyond the boundary).
bool estimatePlateauAndBoundary(AnalysisState& st, bool tiMode, int l1, int q, double b) {
  const char letter = st.modelLetter;
  const int c = countedScans(st);

  // Plateau scan and its last point.
  int a = c > 3 ? 2 : 1;
  if (c > 50) a = 5;
  if (tiMode) a = 2;
  a = std::min(a, st.scanCount);
  const int l = tiMode ? l1 - q : st.scanLastPoint[a];

  int i1 = 0, i2 = 0;
  if (syntheticPlateau(letter)) {
    i1 = tiMode ? q : l - l / 6;
    i2 = l;
  } else {
    i1 = tiMode ? q : l - l / 2;
    i2 = tiMode ? l1 - q : l - l / 4;
  }
  i1 = std::max(i1, 1);
  i2 = std::clamp(i2, i1, st.scanLastPoint[a]);

  fit::NormalSystem ns;
  fit::FitPolynomial(st, ns, a, 4, i1, i2);
  const double rL = st.scanRadius[a][l];
  double plateau =
      ns.stepVec[1] + rL * (ns.stepVec[2] + rL * (ns.stepVec[3] + rL * ns.stepVec[4])) + b;
  if (plateauFromPoint(letter)) {
    // The plateau point itself; in TI mode the first point after the profile range.
    const int point = std::min(tiMode ? l1 - q + 1 : l, st.scanLastPoint[a]);
    plateau = std::max(plateau, 2.5 * st.scanValue[a][point]);
  }

  st.param[1] = plateau;
  double half = plateau / 2;
  st.param[6] = 0;
  st.param[4] = st.meniscusMarked;

  // Middle scan; a boundary that has already left the meniscus there moves the
  // search to the last counted scan with a lower threshold.
  int m = c < 4 ? c : c / 2 + 1;
  const double f1 = st.scanValue[m][1];
  if (f1 > half / 1.5) {
    m = c;
    half = plateau / 1.5;
  } else if (f1 > half / 3) {
    m = c;
    half = plateau / 1.9;
  }

  // First point of scan m not below half the plateau, at most its last used point.
  const int lm = st.scanLastPoint[m];
  int k = 1;
  while (k < lm && st.scanValue[m][k] < half) ++k;
  const bool unreached = st.scanValue[m][k] < half;
  const double rb = st.scanRadius[m][k];
  const double tm = st.scanTime[m];

  // s·ω²_first from ln(r_b/r_m)/t, at least 0.16 S; a value between 0.16 and
  // 0.3 S becomes 0.3 S.
  const double svedberg = 1e-13 * st.omega2First;  // the parameter value of 1 S [1/s]
  double v = (std::log(rb) - std::log(st.param[4])) / tm;
  if (!std::isfinite(v)) v = 0.3 * svedberg;  // no meniscus or no time: the slow guess
  const bool floored = v < 0.16 * svedberg;
  if (floored) {
    v = 0.16 * svedberg;
  } else if (v < 0.3 * svedberg) {
    v = 0.3 * svedberg;
  }
  st.param[2] = v;

  const models::ModelInfo* model = models::findModel(letter);
  st.param[5] = model != nullptr && model->hasBottom ? st.bottomMarked : 0.0;
  st.param[3] = 0;
  if ((letter == 'S' || letter == 'H') && st.scanValue[c][1] > 0) st.param[3] = st.scanValue[m][1];
  st.param[1] -= st.param[3];
  return floored || unreached;
}

// Value of scan s at radius r [cm], linear between its points, its end
// values beyond them. `i` is where the last search ended (radii rise).
double valueAt(const AnalysisState& st, int s, double r, int& i) {
  const int last = st.scanLastPoint[s];
  const double* x = st.scanRadius[s];
  const double* y = st.scanValue[s];
  if (r <= x[1]) return y[1];
  if (r >= x[last]) return y[last];
  i = std::clamp(i, 1, last - 1);
  while (i > 1 && x[i] > r) --i;
  while (i + 1 < last && x[i + 1] < r) ++i;
  return y[i] + (y[i + 1] - y[i]) * (r - x[i]) / (x[i + 1] - x[i]);
}

// Plateau [data units] and s·ω²_first [1/s] read off the middle scan: the
// two-level step that fits it best in the least-squares sense, searched
// between 5 % and 90 % of the way from the meniscus to the scan's last point
// (clear of the meniscus artefact and of the pile-up at the bottom). With
// `subtractFirst` the first scan, interpolated to the same radii, is taken
// off before. Returns false when no step rises clearly above the scatter
// (the plateau level beyond the boundary minus the depleted level before it
// must exceed the rms deviation of the step fit) or its s lies below 0.16 S.
bool stepFromData(const AnalysisState& st, bool subtractFirst, double& plateau, double& sw) {
  const int c = countedScans(st);
  const int m = c < 4 ? c : c / 2 + 1;
  const double rm = st.param[4];  // meniscus [cm]
  const int last = st.scanLastPoint[m];
  const double rEnd = st.scanRadius[m][last];
  if (!(rm > 0) || !(rEnd > rm) || last < 2) return false;
  const double from = rm + 0.05 * (rEnd - rm), to = rEnd - 0.1 * (rEnd - rm);

  std::vector<double> r, y;
  int near = 1;
  for (int i = 1; i <= last; ++i) {
    const double x = st.scanRadius[m][i];
    if (x < from || x > to) continue;
    r.push_back(x);
    y.push_back(st.scanValue[m][i] - (subtractFirst && m > 1 ? valueAt(st, 1, x, near) : 0.0));
  }
  const int n = static_cast<int>(y.size());
  constexpr int kSide = 3;  // points each level needs at least
  if (n < 4 * kSide) return false;

  // Split k: levels over points 0..k−1 and k..n−1; SSE from running sums.
  Extended total = 0, totalSq = 0;
  for (const double v : y) {
    total += v;
    totalSq += static_cast<Extended>(v) * v;
  }
  Extended below = 0, belowSq = 0, bestSse = 0;
  int best = 0;
  for (int k = 1; k < n; ++k) {
    const Extended v = y[static_cast<std::size_t>(k - 1)];
    below += v;
    belowSq += v * v;
    if (k < kSide || n - k < kSide) continue;
    const Extended above = total - below, aboveSq = totalSq - belowSq;
    const Extended sse = belowSq - below * below / k + aboveSq - above * above / (n - k);
    if (best == 0 || sse < bestSse) {
      best = k;
      bestSse = sse;
    }
  }
  Extended low = 0;
  for (int i = 0; i < best; ++i) low += y[static_cast<std::size_t>(i)];
  low /= best;
  const Extended high = (total - low * best) / (n - best);
  const double step = static_cast<double>(high - low);
  const double scatter = std::sqrt(static_cast<double>(std::max(bestSse, Extended{0})) / n);
  if (!(step > scatter)) return false;

  const double svedberg = 1e-13 * st.omega2First;  // 1 S as s·ω²_first [1/s]
  const double v = std::log(r[static_cast<std::size_t>(best)] / rm) / st.scanTime[m];
  if (!(v >= 0.16 * svedberg) || !std::isfinite(v)) return false;
  plateau = step;
  sw = v;
  return true;
}

}  // namespace

double WaterFluidity(double temperature) {
  const double t = temperature;
  const double x = 0.01 * t;
  const double u = 57.378007 + t -
                   (881.44196 * x * x + 94.566438 - 422.53176 * x - 655.590298 * x * x * x) * x * x;
  return std::exp(2.070493 * std::log(std::fabs(u))) / 78.5706 / 100;
}

void EstimateStartValues(AnalysisState& st, int dParamIndex) {
  if (st.scanCount < 1) return;
  const int l1 = st.scanLastPoint[1];
  const int q = l1 / 4;
  // TI mode: the TI noise is eliminated and not already removed with the 3000 rpm contour.
  const bool tiMode = st.tiNoiseOn && !st.contourSubtraction && q >= 1 && l1 - q >= q;

  bool lost = false;
  if (tiMode) {
    const ProfileRemoval removal(st, q, l1 - q);
    lost = estimatePlateauAndBoundary(st, true, l1, q, removal.mean());
  } else {
    lost = estimatePlateauAndBoundary(st, false, l1, q, 0.0);
  }

  if (st.contourSubtraction) {
    const double y0 = st.dataOffset;
    st.param[1] -= y0;
    st.param[3] = y0;
    st.displayOffset = y0;
  } else {
    st.displayOffset = 0;
  }

  // The estimate failed: plateau and s from the step in the data. Both are
  // differences of data levels, so no offset is taken off them.
  double plateau = 0, sw = 0;
  if ((!(st.param[1] > 0) || lost) && stepFromData(st, st.tiNoiseOn, plateau, sw)) {
    st.param[1] = plateau;
    st.param[2] = sw;
  }

  // Diffusion coefficient of a sphere with friction ratio 1.84 and the s just
  // found, at the temperature of the run in water-like solvent [cm²/s].
  const double svedberg = 1e-13 * st.omega2First;
  // D of a sphere from s scales as η^(−3/2); η of water [P] = 0.01/fluidity,
  // so warmer water (lower viscosity) gives the faster diffusion it should.
  const double eta = 0.01 / WaterFluidity(st.temperature);
  const double y = 1 / std::sqrt(eta * eta * eta);
  double d = std::sqrt((1 - st.psvRho[1]) / 162 / st.psv[1] / st.param[2] * svedberg) *
             (273.15 + st.temperature) * y * 8.316e7 / 6.0247 * 1e-23 * 3162200 / kPi / 1.84;
  if (!std::isfinite(d) || d <= 0) d = 6e-7;  // v̄ρ >= 1 or no v̄: a typical protein
  if (dParamIndex >= 1 && dParamIndex <= kMaxParams) st.param[dParamIndex] = d;

  if (st.param[1] < 0) st.param[1] = 0;
}

}  // namespace svfit::results
