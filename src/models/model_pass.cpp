// The model evaluation pass: the selected model at every fitted point, the TI
// and RI noise estimates for the current parameters, and the derivatives the
// fit needs after the noise is eliminated.
//
// Three phases, each parallel over independent work:
//   1. scans: model value and derivatives of every point (R and N carry their
//      trace state along the scan, so one scan is one task);
//   2. radial index blocks: TI sums over the scans, in sequence order;
//   3. scans: RI means over the points, in point order.
// Every sum is formed in the same order whatever the thread count, so the
// results are bit-identical to a serial run. The validity maximum of R and N
// is reduced from the per-scan results in sequence order afterwards.
//
// TI noise: b_j is the mean residual over the scans whose fitted range
// contains index j (counted here from scanFirstPoint..scanLastPoint, so scans
// cut at the start or left out of the sequence do not dilute the mean).
#include "models/model_pass.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cmath>
#include <thread>
#include <vector>

#include "models/error_functions.h"

namespace svfit::models {

namespace {

// Runs task(i) for i = 0..n−1 on up to `threads` threads (the calling one
// included), handing out indices one at a time.
template <class Task>
void parallelFor(int n, int threads, Task task) {
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  threads = std::min(threads, n);
  if (threads <= 1) {
    for (int i = 0; i < n; ++i) task(i);
    return;
  }
  std::atomic<int> next{0};
  auto worker = [&] {
    for (int i = next.fetch_add(1); i < n; i = next.fetch_add(1)) task(i);
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(threads - 1));
  for (int t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (auto& th : pool) th.join();
}

struct ScanOutcome {
  bool decided = false;  // the validity test decided in this scan
  double validity = 0;   // V at that point
};

constexpr int kIndexBlock = 256;  // radial indices per task of phase 2

}  // namespace

void modelPass(AnalysisState& st, PassSums& sums, int threads) {
  const ModelInfo& model = modelInfo(st.modelLetter);
  applyMolarMassRule(st);
  const ModelParams params = modelParamsOf(st, Derivatives::kFree, threads);
  const int first = st.seqFirst;
  const int positions = std::max(0, st.seqLast - st.seqFirst + 1);
  const int freeCount = st.freeCount;

  std::array<ScanMatrix<double>*, kMaxParams + 1> blocks{};
  for (int m = 1; m <= freeCount; ++m) blocks[m] = &st.paramDerivBlock(m);

  // Phase 1: every point of every scan.
  std::vector<ScanOutcome> outcome(static_cast<std::size_t>(positions));
  parallelFor(positions, threads, [&](int i) {
    const int s = st.scanSequence[first + i];
    const ScanContext sc = scanContextOf(st, params, s);
    TraceState traces;
    TraceState* tracePtr = model.hasBottom ? &traces : nullptr;
    ModelDeriv deriv{};
    const double* radius = st.scanRadius[s];
    const double* data = st.scanValue[s];
    double* residual = st.modelValue[s];
    std::array<double*, kMaxParams + 1> rows{};  // this scan's row of each derivative block
    std::array<int, kMaxParams + 1> index{};     // parameter number of free parameter m
    for (int m = 1; m <= freeCount; ++m) {
      rows[m] = (*blocks[m])[s];
      index[m] = st.freeIndex[m];
    }
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      const double value = model.conc(params, sc, radius[j], deriv, tracePtr);
      residual[j] = data[j] - value;
      for (int m = 1; m <= freeCount; ++m) rows[m][j] = deriv[index[m]];
    }
    outcome[static_cast<std::size_t>(i)] = {traces.decided, traces.validity};
  });

  // Validity maximum in sequence order: the last scan whose new maximum was
  // still at most 1 is the validity scan.
  st.validityValue = 0;
  st.validityScan = 0;
  for (int i = 0; i < positions; ++i) {
    const ScanOutcome& o = outcome[static_cast<std::size_t>(i)];
    if (!o.decided || !(o.validity > st.validityValue)) continue;
    st.validityValue = o.validity;
    if (st.validityValue <= 1.0) st.validityScan = st.scanSequence[first + i];
  }
  // A numerical solution (model F) has no approximation whose validity could
  // end: the test passes in every scan, up to the last of the sequence.
  if (model.prepare && positions > 0) st.validityScan = st.scanSequence[st.seqLast];

  // Phase 2: per radial index, sums over the scans in sequence order.
  int maxIndex = 0;
  for (int i = 0; i < positions; ++i) {
    maxIndex = std::max(maxIndex, st.scanLastPoint[st.scanSequence[first + i]]);
  }
  sums.maxIndex = maxIndex;
  sums.tiNoiseSum.fill(0.0);
  sums.tiCount.fill(0);
  for (int m = 0; m <= kMaxParams; ++m) sums.derivTiSum[m].fill(0.0);
  const bool tiOn = st.tiNoiseOn;
  const int indexBlocks = (maxIndex + kIndexBlock - 1) / kIndexBlock;
  parallelFor(indexBlocks, threads, [&](int b) {
    const int jLo = 1 + b * kIndexBlock;
    const int jHi = std::min(maxIndex, jLo + kIndexBlock - 1);
    for (int i = 0; i < positions; ++i) {
      const int s = st.scanSequence[first + i];
      const int lo = std::max(jLo, st.scanFirstPoint[s]);
      const int hi = std::min(jHi, st.scanLastPoint[s]);
      const double* e = st.modelValue[s];
      for (int j = lo; j <= hi; ++j) {
        sums.tiNoiseSum[j] += e[j];
        ++sums.tiCount[j];
      }
      for (int m = 1; m <= freeCount; ++m) {
        const double* g = (*blocks[m])[s];
        double* sum = sums.derivTiSum[m].data();
        for (int j = lo; j <= hi; ++j) sum[j] += g[j];
      }
    }
    if (!tiOn) return;
    for (int j = jLo; j <= jHi; ++j) {
      const int n = sums.tiCount[j];
      if (n == 0) continue;
      sums.tiNoiseSum[j] /= n;
      for (int m = 1; m <= freeCount; ++m) sums.derivTiSum[m][j] /= n;
    }
  });

  // Phase 3: RI noise per scan, the mean over its points of the residual
  // (minus the TI noise when that is eliminated too).
  for (int m = 0; m <= kMaxParams; ++m) sums.derivRiSum[m].fill(0.0);
  if (!st.riNoiseOn) {
    for (int i = 0; i < positions; ++i) st.riNoise[st.scanSequence[first + i]] = 0.0;
    return;
  }
  parallelFor(positions, threads, [&](int i) {
    const int s = st.scanSequence[first + i];
    const int lo = st.scanFirstPoint[s];
    const int hi = st.scanLastPoint[s];
    const double count = hi - lo + 1;
    const double* e = st.modelValue[s];
    double beta = 0;
    for (int j = lo; j <= hi; ++j) beta += tiOn ? e[j] - sums.tiNoiseSum[j] : e[j];
    st.riNoise[s] = beta / count;
    for (int m = 1; m <= freeCount; ++m) {
      const double* g = (*blocks[m])[s];
      const double* ti = sums.derivTiSum[m].data();
      double sum = 0;
      for (int j = lo; j <= hi; ++j) sum += tiOn ? g[j] - ti[j] : g[j];
      sums.derivRiSum[m][s] = sum / count;
    }
  });
}

// ---- Single points ------------------------------------------------------------

ScanModel::ScanModel(const AnalysisState& st, int scan, Derivatives needs)
    : model_(&modelInfo(st.modelLetter)),
      params_(modelParamsOf(st, needs)),
      context_(scanContextOf(st, params_, scan)) {}

double ScanModel::value(double r) const { return model_->value(params_, context_, r, nullptr); }

double ScanModel::gradient(double r) const { return model_->gradient(params_, context_, r); }

PartialTraces ScanModel::traces(double r) const {
  PartialTraces parts;
  const double v = model_->value(params_, context_, r, &parts);
  if (!model_->hasBottom) parts = PartialTraces{v - params_.P[3], 0.0};
  return parts;
}

double ScanModel::valueAndDerivs(double r, ModelDeriv& deriv) const {
  return model_->conc(params_, context_, r, deriv, nullptr);
}

double ValueAt(const AnalysisState& st, int scan, double r) { return ScanModel(st, scan).value(r); }

double GradientAt(const AnalysisState& st, int scan, double r) {
  return ScanModel(st, scan).gradient(r);
}

PartialTraces PartialTracesAt(const AnalysisState& st, int scan, double r) {
  return ScanModel(st, scan).traces(r);
}

// ---- Archibald molar masses -------------------------------------------------

void archibaldMasses(AnalysisState& st) {
  st.archibaldMeniscus = 0;
  st.archibaldBottom = 0;
  const ModelInfo* model = findModel(st.modelLetter);
  if (model == nullptr || !model->archibald) return;  // H, P, S: no masses
  applyMolarMassRule(st);
  const int scan = st.scanSequence[st.seqFirst];
  const ScanModel sm(st, scan);
  const double* P = st.param.data();
  // M = g/(c'·r)·R·T/((1 − v̄ρ)·ω²), R = 8.316e7 erg/(mol·K), ω² of the first scan.
  const double factor = 8.316e7 * (273.15 + st.temperature) / (1.0 - st.psvRho[1]) / st.omega2First;
  // A zero difference or a non-finite quotient gives 0: the reports print a number.
  auto mass = [&](double g, double c, double r) {
    const double m = c == 0.0 ? 0.0 : g / (c * r) * factor;
    return std::isfinite(m) ? m : 0.0;
  };
  auto linear = [&](double r) { return model->hasBottom ? (r - st.linearRefRadius) * P[6] : 0.0; };

  // Meniscus: base line and linear term removed, then floored (a depleted
  // meniscus can leave c' at 0).
  double r = P[4];
  double c = sm.value(r) - P[3] - linear(r);
  if (c <= 1e-300) c = 1e-300;
  st.archibaldMeniscus = mass(sm.gradient(r), c, r);
  if (!model->hasBottom) return;

  // Bottom: the floor acts on the model value before the base line and the
  // linear term are removed; a difference of exactly 0 gives mass 0.
  r = P[5];
  c = sm.value(r);
  if (c <= 1e-300) c = 1e-300;
  c = c - P[3] - linear(r);
  st.archibaldBottom = mass(sm.gradient(r), c, r);
}

}  // namespace svfit::models
