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
#include <cmath>
#include <string>

#include "console/crt.h"
#include "console/format.h"
#include "console/prompt.h"
#include "models/model_pass.h"

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

// ---- Option L: the proposal from the fitted model and the question ----------

// dc/dr below which the bottom pile-up has ended, and the steepness the
// first scan's foot must keep to count [data units/cm].
constexpr double kFootGradient = 80;
constexpr double kFirstGradient = 76;

struct PileUpFoot {
  double conc = 0;      // model concentration there, base line included [data units]
  double gradient = 0;  // model dc/dr there [data units/cm]
};

// Coming in from the last used point of scan s, the first point where the
// model's radial gradient falls below 80: the foot of the bottom pile-up. A
// scan that is steep everywhere stops at its first used point.
PileUpFoot FootOfPileUp(const AnalysisState& st, int s) {
  const models::ScanModel model(st, s);
  const double* r = st.scanRadius[s];
  int i = st.scanLastPoint[s];
  double g = model.gradient(r[i]);
  while (!(g < kFootGradient) && i > st.scanFirstPoint[s]) g = model.gradient(r[--i]);
  return {model.value(r[i]), g};
}

// The proposal line (bounded-cell models after a fit) and the question for
// A_max; an empty answer keeps A_max.
void ProposeAndAsk(AnalysisState& st, double lastSetMax) {
  const models::ModelInfo* model = models::findModel(st.modelLetter);
  if (model && model->hasBottom && st.paramCount > 0 && st.seqLast >= st.seqFirst) {
    const PileUpFoot last = FootOfPileUp(st, st.scanSequence[st.seqLast]);
    const PileUpFoot first = FootOfPileUp(st, st.scanSequence[st.seqFirst]);
    double c = last.conc;
    if (first.conc < c && first.gradient > kFirstGradient) c = first.conc;
    // The plateau of a bounded cell never exceeds the loading concentration:
    // at least 5 % above the summed initial absorbances stays clear of it.
    double total = 0;
    for (int k = 1; k <= models::componentCountFor(*model, st.paramCount); ++k)
      total += st.param[models::componentSlots(*model, k).c0];
    const double proposal = std::isfinite(c) ? std::max(c, 1.05 * total) : 1.05 * total;
    console::WriteLn("Calculated proposal for maximal absorbance(fringes) orig :" +
                     console::FormatF(st.origMaxValue, 7, 3) + "  :" +
                     console::FormatF(proposal, 6, 3));
  }
  const std::string prompt =
      "Common max. absorbance (max.abs. of the last set =" + console::FormatF(lastSetMax, 6, 3) +
      ")  " + console::FormatF(st.maxAbsorbance, 6, 3) + "  : ";
  st.maxAbsorbance = console::AskNumber({.prompt = prompt,
                                         .defaultValue = st.maxAbsorbance,
                                         .defaultColumn = 70,
                                         .first = console::FirstChar::kAny,
                                         .defaultWidth = 5,
                                         .defaultDecimals = 3})
                         .value;
}

}  // namespace

void SetCommonMaxAbsorbance(AnalysisState& st, bool proposeAndAsk) {
  // 1. The last point of the last used scan, before anything changes.
  double lastSetMax = 0;
  if (st.seqLast >= 1 && st.seqLast >= st.seqFirst) {
    const int last = st.scanSequence[st.seqLast];
    if (last >= 1 && last <= st.scanCount) lastSetMax = Corrected(st, last, st.scanLastPoint[last]);
  }

  // 2. All loaded points back (up to the cell bottom found at loading, when
  // that was asked for), then the cut at the near-bottom radius.
  const double rEnd = st.nearBottomRadius > 0 ? st.nearBottomRadius : st.endRadius;
  for (int j = 1; j <= st.scanCount; ++j) {
    int i = st.bottomPoint[j] > 0 ? std::min(st.bottomPoint[j], st.scanPointCount[j])
                                   : st.scanPointCount[j];
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

  // 6.-8. The longest used scan, the presence marks, the used scans per index.
  CountUsedPoints(st);

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

void CountUsedPoints(AnalysisState& st) {
  // The longest used scan.
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

  // Presence marks: 1 up to the last used point, 0 beyond.
  for (int j = 1; j <= st.scanCount; ++j) {
    std::uint16_t* mark = st.pointMultiplicity[j];
    const int last = st.scanLastPoint[j];
    const int clearTo = std::max(st.scanPointCount[j], st.maxPointCount);
    for (int i = 1; i <= last; ++i) mark[i] = 1;
    for (int i = last + 1; i <= clearTo; ++i) mark[i] = 0;
  }

  // Used scans per radial index.
  st.pointScanCount.fill(0);
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int j = st.scanSequence[p];
    const std::uint16_t* mark = st.pointMultiplicity[j];
    for (int i = 1; i <= st.maxPointCount; ++i) st.pointScanCount[static_cast<std::size_t>(i)] += mark[i];
  }
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
