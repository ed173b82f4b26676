// The apparent sedimentation coefficient distribution g(s*) (see distribution.h).
//
// Both methods rest on the same picture of a sedimenting boundary: material
// found at radius r at time t moved out from the meniscus r_m with
//   s* = ln(r / r_m) / (ω² t)                                   [s; ·1e13 in S]
// so that the concentration gradient is a distribution over s*:
//   radial (Bridgman):  g(s*) = (∂c/∂r)_t · r · ω²t · (r / r_m)²
//   time (Stafford):    g(s*) = −(∂c/∂t)_r · t² ω² · (r / r_m)² / ln(r / r_m)
// The factor (r / r_m)² undoes the radial dilution of the sector cell. Both are
// scaled by 1e-12, the scale the distribution file and its readers expect.
//
// The derivatives are taken from smoothed data. Each scan of the range is
// smoothed `passes` times with quadratic Savitzky–Golay kernels of 53 and then
// 27 points (weights 421 − q² and 109 − q², normalised by their sums); points
// too close to the meniscus for the window get the running mean of the
// 2i − 1 points around them instead, computed in place from the inside out.
// The derivative profile is smoothed again with a 103-point kernel (1591 − q²)
// and running means at both ends. Each kernel reproduces a quadratic exactly.
// The widths are made for scans every 0.001 cm (or closer). On a coarser grid
// (absorbance scans every 0.003 cm) every width in points is divided by the
// grid's spacing in 0.001 cm, so the smoothing spans the same width in cm:
// counted in points it would reach three times as far and merge species.
//
// Invariant: everything happens on a working copy; scanValue is never written.
#include "results/distribution.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "console/crt.h"
#include "console/format.h"
#include "console/prompt.h"

namespace svfit::results {
namespace {

using console::FormatExp23;

constexpr double kSlopeLimit = 0.001;       // plateau: slope below this [data units per point]
constexpr double kCurvatureLimit = 0.0007;  // and curvature below this [data units per point²]
constexpr double kPlateauFactor = 0.98;     // the plateau index keeps 2 % off the flat point
// A plateau stands above the depleted region on its meniscus side by at least
// this much [data units]. Without that rise the flat part found is the
// depleted region behind a boundary that has already passed.
constexpr double kPlateauRise = 0.05;
constexpr double kScale = 1e-12;            // scale of the stored g(s*)
constexpr int kCutRadial = 130;             // m_cut: points left out before the plateau, R
constexpr int kCutTime = 180;               //        and T (its differences reach further)
constexpr double kFineGrid = 0.001;         // [cm] the grid the m_cut counts are made for
// The scans of the range may span at most this share of their mean run time
// before the console warns that the distribution is smeared.
constexpr double kMaxSpan = 0.5;
constexpr double kFilePsv = 0.736;          // psv written with the radial distribution [ml/g]

// A quadratic Savitzky–Golay kernel of half-width h: weight a − q² at
// distance q, a = (3h² + 3h − 1) / 5, normalised by the sum of the weights.
struct Kernel {
  int h;
  double a;
  double norm;
};
constexpr int kScanHalf1 = 26;     // 53 points: a = 421, normaliser 9911
constexpr int kScanHalf2 = 13;     // 27 points: a = 109, normaliser 1305
constexpr int kProfileHalf = 51;   // 103 points: a = 1591, normaliser 72821

// Half-width h (made for the 0.001 cm grid) on a grid `grid` times coarser:
// the same width in cm, at least 2 points.
int ScaledHalf(int h, double grid) {
  return grid > 1 ? std::max(2, static_cast<int>(std::lround(h / grid))) : h;
}

Kernel MakeKernel(int h) {
  const double a = (3.0 * h * h + 3.0 * h - 1) / 5;
  double norm = 0;
  for (int q = -h; q <= h; ++q) norm += a - q * q;
  return {h, a, norm};
}

double Smoothed(const std::vector<double>& y, int i, const Kernel& k) {
  Extended sum = 0;
  for (int q = -k.h; q <= k.h; ++q) sum += (k.a - q * q) * y[static_cast<std::size_t>(i + q)];
  return static_cast<double>(sum / k.norm);
}

// Mean of the 2·half + 1 values centred on i. The half-width is the one the
// caller asks for, but never reaches past point 1 or point n.
double Mean(const std::vector<double>& y, int i, int half, int n) {
  half = std::min({half, i - 1, n - i});
  Extended sum = 0;
  for (int q = i - half; q <= i + half; ++q) sum += y[static_cast<std::size_t>(q)];
  return static_cast<double>(sum / (2 * half + 1));
}

// One kernel stage of the scan smoothing: the kernel reads the values as they
// were before the stage; then, from the last point the kernel left out down
// to point 1, each value becomes the running mean of the 2i − 1 values around
// it (already updated values included). The last h points keep their values.
void ScanStage(std::vector<double>& w, int n, const Kernel& k) {
  const std::vector<double> before = w;
  for (int i = k.h + 1; i <= n - k.h; ++i) w[static_cast<std::size_t>(i)] = Smoothed(before, i, k);
  for (int i = std::min(k.h, n); i >= 1; --i) w[static_cast<std::size_t>(i)] = Mean(w, i, i - 1, n);
}

double RunTime(const AnalysisState& st, int scan) { return st.scanRunTime[scan]; }

// The run time the abscissa refers to: the middle of the scans that went into
// G. For the time method that range reaches d scans beyond k0 + n_avg, the
// later partner of the last difference.
double MidTime(const AnalysisState& st, const DistributionRange& r) {
  return (RunTime(st, r.k0) + RunTime(st, r.k0 + r.nAvg + r.d)) / 2;
}

void ScanPass(std::vector<double>& w, int n, double grid) {
  ScanStage(w, n, MakeKernel(ScaledHalf(kScanHalf1, grid)));
  ScanStage(w, n, MakeKernel(ScaledHalf(kScanHalf2, grid)));
}

void ProfilePass(std::vector<double>& g, int n, double grid) {
  const Kernel kernel = MakeKernel(ScaledHalf(kProfileHalf, grid));
  const int h = kernel.h;
  std::vector<double> scratch = g;
  for (int i = h + 1; i <= n - h; ++i) scratch[static_cast<std::size_t>(i)] = Smoothed(g, i, kernel);
  for (int i = std::min(h, n); i >= 1; --i) scratch[static_cast<std::size_t>(i)] = Mean(scratch, i, i - 1, n);
  for (int i = std::max(1, n - h + 1); i <= n; ++i)
    scratch[static_cast<std::size_t>(i)] = Mean(scratch, i, n - i, n);
  g = std::move(scratch);
}

}  // namespace

void SmoothScanPass(std::vector<double>& w, int n) { ScanPass(w, n, 1); }

void SmoothProfilePass(std::vector<double>& g, int n) { ProfilePass(g, n, 1); }

// Whether the 11-point mean `level` at point i lies kPlateauRise above the
// lowest 11-point mean between the scan's first used point and i.
bool RisesAboveTheMeniscusSide(const double* y, int first, int i, double level) {
  if (i - 5 < first + 5) return false;
  Extended window = 0;
  for (int j = first; j <= first + 10; ++j) window += y[j];
  double lowest = static_cast<double>(window / 11);
  for (int c = first + 6; c <= i - 5; ++c) {  // window centred on c
    window += y[c + 5] - y[c - 6];
    lowest = std::min(lowest, static_cast<double>(window / 11));
  }
  return level - lowest >= kPlateauRise;
}

Plateau FindPlateau(const AnalysisState& st, int lastScan, int previousIndex) {
  for (int k = lastScan; k >= st.seqFirst + 1; --k) {
    const double* y = st.scanValue[k];
    const int last = st.scanLastPoint[k];
    for (int i = last - 13; i >= last / 2 && i > 5; --i) {
      // 11-point quadratic fit around i: slope and curvature per point.
      Extended slope = 0, curve = 0, sum = y[i];
      for (int q = 1; q <= 5; ++q) {
        slope += q * (y[i + q] - y[i - q]);
        curve += q * q * (y[i - q] + y[i + q]);
        sum += y[i - q] + y[i + q];
      }
      slope /= 110;
      if (slope >= kSlopeLimit) continue;  // still on the rise towards the bottom
      if ((curve - 10 * sum) / 858 >= kCurvatureLimit) break;  // flat but bent: no plateau here
      if (!RisesAboveTheMeniscusSide(y, st.scanFirstPoint[k], i, static_cast<double>(sum / 11))) break;
      return {k, static_cast<int>(std::lround(kPlateauFactor * (i - 1))), true};
    }
  }
  return {st.seqFirst, previousIndex, false};
}

bool ChooseDistributionRange(const AnalysisState& st, char method, int lastScan,
                             DistributionRange& r) {
  const bool interference = st.dataKind == 'P';
  r = DistributionRange{};
  r.method = method == 'R' ? 'R' : 'T';
  const int N = lastScan;
  if (r.method == 'R') {
    r.nAvg = interference ? 10 : 3;
    r.d = 0;
    r.passes = 10;
    if (N <= r.nAvg) r.nAvg = 3;
    if (N <= r.nAvg) r.nAvg = 1;
  } else {
    r.nAvg = interference ? 10 : 3;
    r.d = interference ? 3 : 1;
    r.passes = 5;
    if (r.nAvg + r.d >= N) r.nAvg = 3, r.d = 1;
    if (r.nAvg + r.d >= N) r.nAvg = 1, r.d = 1;
  }
  if (r.nAvg + r.d + st.seqFirst > st.seqLast) return false;

  const Plateau plateau = FindPlateau(st, N, st.distPlateau);
  r.k = plateau.scan;
  r.p = plateau.index;
  r.plateauFound = plateau.found;
  r.k0 = r.k - r.nAvg - r.d;
  if (r.k0 < 1) {
    r.k0 = 1;
    r.k = 1 + r.nAvg + r.d;
  }
  r.n = st.scanLastPoint[r.k];
  // Without a plateau in any scan (and none from an earlier computation) the
  // whole used scan is taken.
  if (r.p <= 0 || r.p > r.n) r.p = r.n;
  r.c = r.method == 'R' ? r.k0 + r.nAvg / 2 : (2 * r.k0 + r.nAvg + r.d) / 2;
  const double* rc = st.scanRadius[r.c];
  const int nc = st.scanPointCount[r.c];
  const double step = nc > 1 ? (rc[nc] - rc[1]) / (nc - 1) : 0.0;  // mean spacing [cm]
  r.grid = step > kFineGrid ? step / kFineGrid : 1.0;
  return true;
}

std::vector<double> DerivativeProfile(const AnalysisState& st, const DistributionRange& r) {
  // Working copies of the scans k0..k over the loaded points of scan k.
  const int loaded = st.scanPointCount[r.k];
  std::vector<std::vector<double>> w(static_cast<std::size_t>(r.k - r.k0 + 1));
  for (int j = r.k0; j <= r.k; ++j) {
    std::vector<double>& row = w[static_cast<std::size_t>(j - r.k0)];
    row.assign(st.scanValue[j], st.scanValue[j] + loaded + 1);
    for (int pass = 0; pass < r.passes; ++pass) ScanPass(row, loaded, r.grid);
  }
  auto W = [&](int j) -> std::vector<double>& { return w[static_cast<std::size_t>(j - r.k0)]; };

  const int n = r.n;
  std::vector<double> g(static_cast<std::size_t>(n) + 1, 0.0);
  if (r.method == 'R') {
    // Least-squares slope over 2h + 1 points (103 on the 0.001 cm grid)
    // [data units per point], weighted by the scan's run time: G = Σ t_j · ∂c/∂i.
    const int h = ScaledHalf(kProfileHalf, r.grid);
    Extended sumSq = 0;  // Σ q² over q = −h..h: 91052 for h = 51
    for (int q = 1; q <= h; ++q) sumSq += 2.0 * q * q;
    for (int j = r.k0; j <= r.k0 + r.nAvg; ++j) {
      const std::vector<double>& y = W(j);
      for (int i = h + 1; i <= n - h; ++i) {
        Extended slope = 0;
        for (int q = 1; q <= h; ++q) slope += q * (y[static_cast<std::size_t>(i + q)] - y[static_cast<std::size_t>(i - q)]);
        g[static_cast<std::size_t>(i)] += static_cast<double>(RunTime(st, j) * slope / sumSq);
      }
    }
  } else {
    // Differences of scans d apart at their mean time t̄: (∂c/∂t)·t̄² [data units · s].
    // Scan j is overwritten only after every difference that reads it.
    for (int j = r.k0; j <= r.k0 + r.nAvg; ++j) {
      const double dt = RunTime(st, j + r.d) - RunTime(st, j);
      const double tbar = (RunTime(st, j) + RunTime(st, j + r.d)) / 2;
      std::vector<double>& a = W(j);
      const std::vector<double>& b = W(j + r.d);
      for (int i = 1; i <= n; ++i) {
        a[static_cast<std::size_t>(i)] =
            dt != 0 ? (b[static_cast<std::size_t>(i)] - a[static_cast<std::size_t>(i)]) / dt * tbar * tbar : 0.0;
        g[static_cast<std::size_t>(i)] += a[static_cast<std::size_t>(i)];
      }
    }
  }
  return g;
}

void StoreDistribution(AnalysisState& st, const DistributionRange& r, std::vector<double> g) {
  const int n = r.n;
  for (int pass = 0; pass < r.passes; ++pass) ProfilePass(g, n, r.grid);

  const double rm = st.meniscusMarked;  // [cm]
  const double w2 = st.omega2First;     // [rad²/s²]
  const double* radius = st.scanRadius[r.c];
  const int lastC = st.scanLastPoint[r.c];
  const double dr = lastC > 1 ? (radius[lastC] - radius[1]) / (lastC - 1) : 0.0;  // mean point spacing [cm]
  const double tMid = MidTime(st, r);
  for (int i = 1; i <= n; ++i) {
    const double ri = radius[i];
    const double x = rm > 0 && ri > 0 ? ri / rm : 0.0;
    const double lnx = x > 0 ? std::log(x) : 0.0;
    double& G = g[static_cast<std::size_t>(i)];
    if (i >= 2) {
      if (x <= 0) {
        G = 0;  // no radius here: nothing to convert
      } else if (r.method == 'R') {
        G = dr > 0 ? kScale * G * ri * x * x * w2 / dr / (r.nAvg + 1) : 0.0;
      } else {
        G = lnx != 0 ? kScale * (-G * x * x / lnx) * w2 / (r.nAvg + 1) : 0.0;  // the meniscus itself: s* = 0
      }
    }
    st.distG[i] = G;
    st.distS[i] = w2 > 0 && tMid > 0 ? 1e13 * lnx / (w2 * tMid) : 0.0;  // [S]
  }

  st.distMethod = r.method;
  st.distFirstScan = r.k0;
  st.distLastScan = r.k;
  st.distAverage = r.nAvg;
  st.distDistance = r.d;
  st.distPasses = r.passes;
  st.distMidScan = r.c;
  st.distPointCount = n;
  st.distPlateau = r.p;
  // m_cut is a margin of 0.13 cm (R) or 0.18 cm (T) on a grid of 0.001 cm or
  // finer, counted in points; on a coarser grid (absorbance scans every
  // 0.003 cm) the same count would reach three times as far and hide the
  // boundary, so it is scaled to keep that margin in cm.
  const int cut = r.method == 'R' ? kCutRadial : kCutTime;
  st.distCut = r.grid > 1 ? static_cast<int>(std::lround(cut / r.grid)) : cut;
  st.distMidTime = tMid;
  // The end shown lies m_cut points before the plateau; a scan too short for
  // that cut is shown up to its plateau.
  st.distEnd = r.p - st.distCut >= 2 ? r.p - st.distCut : std::min(r.p, n);
  // The first sixteenth of the points, next to the meniscus, carries the end
  // effects of the smoothing and is neither shown nor written.
  st.distStart = std::max(1, st.distEnd / 16);
  const int i0 = st.distStart;
  st.distMin = st.distMax = st.distG[i0];
  for (int i = i0; i <= st.distEnd; ++i) {
    st.distMin = std::min(st.distMin, st.distG[i]);
    st.distMax = std::max(st.distMax, st.distG[i]);
  }
  st.distExists = true;
}

bool CalculateDistribution(AnalysisState& st, char method, int lastScan) {
  DistributionRange r;
  if (!ChooseDistributionRange(st, method, lastScan, r)) return false;
  StoreDistribution(st, r, DerivativeProfile(st, r));
  return true;
}

namespace {

// Both methods take the boundary as one picture at t_mid. Scans that span
// much of the run time smear a species over the s* it had at each of them.
void NoteSpan(const AnalysisState& st, const DistributionRange& r) {
  const double span = RunTime(st, r.k0 + r.nAvg + r.d) - RunTime(st, r.k0);  // [s]
  const double tMid = MidTime(st, r);
  if (!(tMid > 0) || span <= kMaxSpan * tMid) return;
  console::WriteLn("note: the scans used span " + console::FormatF(span, 0, 0) + " s, " +
                   console::FormatF(100 * span / tMid, 0, 0) + " % of their mean run time:");
  console::WriteLn("g(s*) is smeared; scans closer in time show it truer");
}

}  // namespace

void CorrectTimeDistribution(AnalysisState& st) {
  const double K = st.distCorrectionK;
  if (K == 0) return;
  const int c = st.distMidScan;
  const double rm = st.meniscusMarked, w2t = st.omega2First * RunTime(st, c);
  for (int i = st.distPlateau / 16; i <= std::min(st.distPlateau, st.distPointCount); ++i) {
    if (i < 1) continue;
    const double r = st.scanRadius[c][i], y = st.scanValue[c][i];
    const double lnx = r > 0 && rm > 0 ? std::log(r / rm) : 0.0;
    if (lnx == 0) continue;
    const double a = w2t * r / rm;
    st.distG[i] -= 2e-25 * y * K * a * a / lnx;
  }
}

// The file is named after the run: for new-generation absorbance and
// interference files, which the instrument keeps as <experiment>/<run>/00001.RA2,
// after the experiment directory two levels above the file; for old-generation
// files after the start file without its extension. (On the instrument's own
// disks, with six-character run directories, this is the name that cutting the
// run directory and the file name off the path leaves.)
std::string DistributionFileName(const AnalysisState& st) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path file = fs::absolute(fs::path(st.firstFileName), ec).lexically_normal();
  std::string name;
  if (st.fileGeneration == 'O') {
    name = file.stem().string();
  } else {
    name = file.parent_path().parent_path().filename().string();
    if (name.empty()) name = file.parent_path().filename().string();
  }
  if (name.empty()) name = file.stem().string();
  return name + ".FHT";
}

std::string DistributionFileText(const AnalysisState& st, double psv) {
  const int c = st.distMidScan, e = st.distEnd, i0 = st.distStart;
  std::string t = st.infoLines[0] + "\n";
  t += FormatExp23(1000 * st.scanRadius[c][i0]) + " " + FormatExp23(1000 * st.scanRadius[c][e]) + " " +
       std::to_string(e - i0 + 1) + " " + console::FormatF(st.temperature + 273.15, 6, 2) + " " +
       console::FormatF(psv, 6, 4) + " " + std::to_string(st.distFirstScan) + " " +
       std::to_string(st.distAverage) + " " + std::to_string(st.distDistance) + "\n";
  for (int i = i0; i <= e; ++i) t += FormatExp23(st.distG[i]) + "\n";
  t += FormatExp23(st.distMidTime) + " " + FormatExp23(st.meniscusMarked) + " " +
       FormatExp23(st.omega2First) + "\n";
  return t;
}

bool WriteDistributionFile(const AnalysisState& st, double psv) {
  const std::string name = DistributionFileName(st);
  std::ofstream out(name, std::ios::binary | std::ios::trunc);
  if (out) out << DistributionFileText(st, psv);
  out.close();
  if (out) return true;
  console::WriteNote("cannot write the distribution file " + name + " in the current directory");
  return false;
}

bool ComputeDistribution(AnalysisState& st, const DistributionHooks& hooks) {
  // The usable last scan: the series, or the scans before a second speed.
  const int usable = st.secondSpeedFirstScan > 0 ? st.secondSpeedFirstScan : st.seqLast;
  int N = usable;
  DistributionRange r;
  for (;;) {
    // A new display: no peaks marked yet.
    st.markedS.fill(0);
    st.markedAmp.fill(0);
    st.markedCount = 0;
    st.distMarksPending = false;
    st.distExists = false;
    st.distCut = 0;
    const int method = console::AskKey({.prompt = "Calculate (R)adial or (T)ime derivativ           (R/T) :  ",
                                        .keys = "R",
                                        .otherwise = 'T'});
    if (!ChooseDistributionRange(st, static_cast<char>(method), N, r)) {
      console::WriteLn("too few data sets after the first for a distribution");
      return false;
    }
    console::WriteLn("computing the distribution ...");
    StoreDistribution(st, r, DerivativeProfile(st, r));
    if (hooks.show) hooks.show(st);
    NoteSpan(st, r);

    console::Write("Designate new last file for difference between  " +
                   console::FormatI(r.nAvg + r.d + st.seqFirst, 2) + "-" + console::FormatI(st.seqLast, 3) +
                   " :  ");
    const std::string answer = console::ReadAnswer();
    const std::size_t a = answer.find_first_not_of(' ');
    if (a == std::string::npos) break;  // keep this distribution
    int wanted = 0;  // text that is no number counts as 0
    const std::size_t b = answer.find_last_not_of(' ');
    std::from_chars(answer.data() + a, answer.data() + b + 1, wanted);
    // Never below the shortest range, never past the usable scans.
    N = std::min(std::max(wanted, r.nAvg + r.d + st.seqFirst - 1), usable);
  }

  if (r.method == 'T') {
    CorrectTimeDistribution(st);
  } else {
    WriteDistributionFile(st, kFilePsv);
  }
  const bool menu = console::AskYesNo("Go directly for producing the distribution plot  (Y/N) :  ",
                                      console::YesNo::kOnlyY);
  st.distMarksPending = st.markedCount > 0;
  return menu;
}

}  // namespace svfit::results
