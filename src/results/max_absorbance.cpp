// Common near-bottom radius and common maximal absorbance (see
// max_absorbance.h).
//
// Every scan first gets back all its loaded points and is then cut at the
// near-bottom radius R_end; with A_max set (above 1e-10) it is cut further
// back to the last point before the bottom boundary whose noise-corrected
// value stays at or below A_max. A point above A_max one or two points further
// in shows that the steep rise has not been passed yet, so the walk looks
// ahead up to five times. No walk ever passes the scan's first used point.
#include "results/max_absorbance.h"

#include <algorithm>

namespace svfit::results {
namespace {

constexpr double kNoLimit = 1e-10;  // A_max at or below: no absorbance limit
constexpr int kLookAheads = 5;      // look-ahead rounds past single low points

// Corrected value v(j,i) = scanValue − RI noise of the scan − TI noise of the index.
double Corrected(const AnalysisState& st, int j, int i) {
  return st.scanValue[j][i] - st.riNoise[j] - st.tiNoise[i];
}

// Last used point of scan j at A_max, starting at point i.
int CutAtMaxAbsorbance(const AnalysisState& st, int j, int i, double aMax) {
  const int first = st.scanFirstPoint[j];
  auto walkDown = [&] {
    while (i > first && Corrected(st, j, i) > aMax) --i;
  };
  walkDown();
  for (int round = 0; round < kLookAheads; ++round) {
    if (i - 1 >= first && Corrected(st, j, i - 1) > aMax) {
      i -= 1;
      walkDown();
    }
    if (i - 2 >= first && Corrected(st, j, i - 2) > aMax) {
      i -= 2;
      walkDown();
    }
  }
  return i;
}

// ---- Option L: proposal from the fitted bounded-cell model and the question ----
// Written by the option menu's owner: prints the proposal line for models N
// and R and asks "Common max. absorbance ..." with lastSetMax, setting
// st.maxAbsorbance. Until then option L keeps the stored A_max.
void ProposeAndAsk(AnalysisState& st, double lastSetMax) {
  (void)st;
  (void)lastSetMax;
}

}  // namespace

void SetCommonMaxAbsorbance(AnalysisState& st, bool proposeAndAsk) {
  // 1. The last point of the last used scan, before anything changes.
  double lastSetMax = 0;
  if (st.seqLast >= 1 && st.seqLast >= st.seqFirst) {
    const int last = st.scanSequence[st.seqLast];
    if (last >= 1 && last <= st.scanCount) lastSetMax = Corrected(st, last, st.scanLastPoint[last]);
  }

  // 2. All loaded points back, then the cut at the near-bottom radius.
  const double rEnd = st.nearBottomRadius > 0 ? st.nearBottomRadius : st.endRadius;
  for (int j = 1; j <= st.scanCount; ++j) {
    int i = st.scanPointCount[j];
    if (rEnd > 0) {
      while (i > st.scanFirstPoint[j] && st.scanRadius[j][i] > rEnd) --i;
    }
    st.scanLastPoint[j] = i;
  }

  // 3, 4. Proposal and question (option L only).
  if (proposeAndAsk) ProposeAndAsk(st, lastSetMax);

  // 5. The cut at the common maximal absorbance.
  if (st.maxAbsorbance > kNoLimit) {
    for (int j = 1; j <= st.scanCount; ++j)
      st.scanLastPoint[j] = CutAtMaxAbsorbance(st, j, st.scanLastPoint[j], st.maxAbsorbance);
  }

  // 6. The longest used scan.
  st.maxPointCount = 0;
  st.maxPointScan = 0;
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int j = st.scanSequence[p];
    if (st.scanLastPoint[j] > st.maxPointCount ||
        (st.scanLastPoint[j] == st.maxPointCount && j < st.maxPointScan)) {
      st.maxPointCount = st.scanLastPoint[j];
      st.maxPointScan = j;
    }
  }

  // 7. Presence marks: 1 up to the last used point, 0 beyond.
  for (int j = 1; j <= st.scanCount; ++j) {
    std::uint16_t* mark = st.pointMultiplicity[j];
    const int last = st.scanLastPoint[j];
    const int clearTo = std::max(st.scanPointCount[j], st.maxPointCount);
    for (int i = 1; i <= last; ++i) mark[i] = 1;
    for (int i = last + 1; i <= clearTo; ++i) mark[i] = 0;
  }

  // 8. Used scans per radial index.
  st.pointScanCount.fill(0);
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int j = st.scanSequence[p];
    const std::uint16_t* mark = st.pointMultiplicity[j];
    for (int i = 1; i <= st.maxPointCount; ++i) st.pointScanCount[static_cast<std::size_t>(i)] += mark[i];
  }

  // 9. Σv² and the number of fitted points.
  Extended sum = 0;
  long points = 0;
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int j = st.scanSequence[p];
    for (int i = st.scanFirstPoint[j]; i <= st.scanLastPoint[j]; ++i) {
      const double v = Corrected(st, j, i);
      sum += static_cast<Extended>(v) * v;
      ++points;
    }
  }
  st.sumSqData = static_cast<double>(sum);
  st.pointTotal = points;
}

void ApplyLoadingCut(AnalysisState& st) {
  SetCommonMaxAbsorbance(st, false);
  bool any = false;
  double minV = 0, maxV = 0;
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int j = st.scanSequence[p];
    for (int i = st.scanFirstPoint[j]; i <= st.scanLastPoint[j]; ++i) {
      const double v = st.scanValue[j][i];
      if (!any || v < minV) minV = v;
      if (!any || v > maxV) maxV = v;
      any = true;
    }
  }
  st.minValue = minV;
  st.maxValue = maxV;
  st.origMaxValue = maxV;
}

}  // namespace svfit::results
