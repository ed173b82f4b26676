// The apparent sedimentation coefficient distribution g(s*) of the loaded
// series, from the radial derivative of a few averaged scans or from the time
// derivative of scans a fixed distance apart, after heavy quadratic
// Savitzky–Golay smoothing of the scans and of the resulting profile.
//
// Order of use (the driver, after loading, when the distribution is asked for):
//   ComputeDistribution(st, hooks)  the dialogue: method, computation, the
//       display (hooks.show, where peaks are marked), a new last scan or
//       keep, the file, "Go directly ..."; true: straight to the option menu
//   WriteDistributionFile(st, psv)  again after each fit with model N or C
// The steps in between are apart for tests. What is computed lands in the
// dist* fields of the analysis state; the loaded values never change.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "state/state.h"

namespace svfit::results {

// One pass of the scan smoothing on w[1..n]: the 53-point kernel, then the
// 27-point kernel, each followed by running means towards point 1.
void SmoothScanPass(std::vector<double>& w, int n);
// One pass of the profile smoothing on g[1..n]: the 103-point kernel with
// running means at both ends.
void SmoothProfilePass(std::vector<double>& g, int n);

// The plateau search: from lastScan down to seqFirst + 1, the first scan whose
// values flatten out (slope below 0.001 and curvature below 0.0007 per point
// on 11 points) walking inwards from 13 points before its last used point to
// half of it. index = round(0.98 (i - 1)) at the first flat point i.
struct Plateau {
  int scan = 0;
  int index = 0;
  bool found = false;  // false: scan = seqFirst, index left as given
};
Plateau FindPlateau(const AnalysisState& st, int lastScan, int previousIndex);

// Method, averaging and range of one computation.
struct DistributionRange {
  char method = 'T';   // 'R' radial, 'T' time derivative
  int nAvg = 0;        // scans averaged beyond the first
  int d = 0;           // scan distance of the time difference (R: 0)
  int passes = 0;      // smoothing passes
  int k0 = 0, k = 0;   // first and last scan of the range
  int p = 0;           // plateau index
  bool plateauFound = false;
  int c = 0;           // middle scan: its radii carry G
  int n = 0;           // points of G: last used point of scan k
  // Point spacing of the middle scan in units of 0.001 cm, at least 1: the
  // kernels and margins, made for that grid, span the same width in cm.
  double grid = 1;
};
// The table of the method and data kind, its reductions for a short series
// (lastScan is the usable last scan N), the plateau search and the range.
// False when fewer than nAvg + d + 1 scans follow seqFirst: no distribution.
bool ChooseDistributionRange(const AnalysisState& st, char method, int lastScan,
                             DistributionRange& range);
// G[1..n] before the profile smoothing: the smoothed scans differentiated
// along the radius (R, weighted by each scan's run time) or in time (T).
std::vector<double> DerivativeProfile(const AnalysisState& st, const DistributionRange& range);
// The profile smoothing, the conversion to g(s*), s* of every point, m_cut,
// the end index and the value range: everything into the dist* fields.
void StoreDistribution(AnalysisState& st, const DistributionRange& range, std::vector<double> g);
// All three steps; false when the series is too short.
bool CalculateDistribution(AnalysisState& st, char method, int lastScan);

// The time method's correction of points p div 16 .. p with the factor K
// (distCorrectionK; nothing changes while it is 0).
void CorrectTimeDistribution(AnalysisState& st);

// The distribution file: "<name>.FHT" in the current directory, named after
// the run (see the .cpp), holding G of points e div 16 .. e with the psv
// given. The text is built apart; writing says on the console when it fails.
std::string DistributionFileName(const AnalysisState& st);
std::string DistributionFileText(const AnalysisState& st, double psv);
bool WriteDistributionFile(const AnalysisState& st, double psv);

// What the dialogue calls outside the console, replaceable in tests: the
// display of the distribution, where up to four peaks are marked (markedS,
// markedAmp, markedCount).
struct DistributionHooks {
  std::function<void(AnalysisState& st)> show;
};
// The dialogue after "yes" to the distribution question. True when the user
// goes straight to the option menu, false when the fit set-up follows (also
// when the series is too short for a distribution).
bool ComputeDistribution(AnalysisState& st, const DistributionHooks& hooks);

}  // namespace svfit::results
