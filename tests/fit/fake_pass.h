// A model evaluation pass over a simple analytic point model, for testing the
// fit engine apart from the sedimentation models. It follows the evaluation
// pass of the models: residuals and derivatives of every fitted point, then the
// TI means per radial index and the RI means per scan.
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "driver/state.h"
#include "models/model_pass.h"

namespace svfit::fit::testing {

// value(P, r, t, scan, dP): the model value at radius r [cm] and time t [s]
// of the scan, and its derivatives dP[1..16].
using PointModel = std::function<double(const PerParam<double>& p, double r, double t, int scan,
                                        PerParam<double>& dP)>;

struct FakePassControl {
  PointModel model;
  int calls = 0;                                  // evaluations so far
  std::function<void(AnalysisState&)> onCall;     // observer, called at the start of each pass
  std::function<double(int call)> residualShift;  // added to every residual of a pass
};

inline FakePassControl& fakeControl() {
  static FakePassControl control;
  return control;
}

inline void FakeModelPass(AnalysisState& st, models::PassSums& ns, int) {
  FakePassControl& c = fakeControl();
  ++c.calls;
  if (c.onCall) c.onCall(st);
  const double shift = c.residualShift ? c.residualShift(c.calls) : 0.0;
  const int n = st.freeCount;
  ns.maxIndex = 0;
  for (int p = st.seqFirst; p <= st.seqLast; ++p)
    ns.maxIndex = std::max(ns.maxIndex, st.scanLastPoint[st.scanSequence[p]]);
  for (int j = 1; j <= ns.maxIndex; ++j) {
    ns.tiNoiseSum[j] = 0;
    ns.tiCount[j] = 0;
    for (int m = 1; m <= n; ++m) ns.derivTiSum[m][j] = 0;
  }
  PerParam<double> d{};
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int s = st.scanSequence[p];
    for (int m = 1; m <= n; ++m) ns.derivRiSum[m][s] = 0;
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      d.fill(0.0);
      const double v = c.model(st.param, st.scanRadius[s][j], st.scanTime[s], s, d);
      const double e = st.scanValue[s][j] - v + shift;
      st.modelValue[s][j] = e;
      ns.tiNoiseSum[j] += e;
      ++ns.tiCount[j];
      for (int m = 1; m <= n; ++m) {
        const double g = d[st.freeIndex[m]];
        st.paramDerivBlock(m)[s][j] = g;
        ns.derivTiSum[m][j] += g;
      }
    }
  }
  if (st.tiNoiseOn) {
    for (int j = 1; j <= ns.maxIndex; ++j) {
      if (ns.tiCount[j] <= 0) continue;
      ns.tiNoiseSum[j] /= ns.tiCount[j];
      for (int m = 1; m <= n; ++m) ns.derivTiSum[m][j] /= ns.tiCount[j];
    }
  }
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int s = st.scanSequence[p];
    st.riNoise[s] = 0;
    if (!st.riNoiseOn) continue;
    const int first = st.scanFirstPoint[s], last = st.scanLastPoint[s];
    const double count = last - first + 1;
    Extended beta = 0;
    for (int j = first; j <= last; ++j)
      beta += st.modelValue[s][j] - (st.tiNoiseOn ? ns.tiNoiseSum[j] : 0.0);
    st.riNoise[s] = static_cast<double>(beta / count);
    for (int m = 1; m <= n; ++m) {
      Extended sum = 0;
      for (int j = first; j <= last; ++j)
        sum += st.paramDerivBlock(m)[s][j] - (st.tiNoiseOn ? ns.derivTiSum[m][j] : 0.0);
      ns.derivRiSum[m][s] = static_cast<double>(sum / count);
    }
  }
}

// A series of `scans` scans of `points` points on one radial grid from 6.0 to
// 7.0 cm, scan s at time 600·s s, all points used. The values
// come from `truth` evaluated with the model, plus extra(s, j).
inline std::unique_ptr<AnalysisState> MakeSeries(
    int scans, int points, const PerParam<double>& truth,
    const std::function<double(int s, int j)>& extra = nullptr) {
  auto st = std::make_unique<AnalysisState>();
  st->scanCount = scans;
  st->seqFirst = 1;
  st->seqLast = scans;
  st->maxPointCount = points;
  PerParam<double> d{};
  for (int s = 1; s <= scans; ++s) {
    st->scanSequence[s] = s;
    st->scanPointCount[s] = points;
    st->scanFirstPoint[s] = 1;
    st->scanLastPoint[s] = points;
    st->scanTime[s] = 600.0 * s;
    st->scanOmega2[s] = 1.0;
    for (int j = 1; j <= points; ++j) {
      const double r = 6.0 + static_cast<double>(j) / points;
      st->scanRadius[s][j] = r;
      st->scanValue[s][j] =
          fakeControl().model(truth, r, st->scanTime[s], s, d) + (extra ? extra(s, j) : 0.0);
      st->pointMultiplicity[s][j] = 1;
    }
  }
  for (int j = 1; j <= points; ++j) st->pointScanCount[j] = scans;
  return st;
}

}  // namespace svfit::fit::testing
