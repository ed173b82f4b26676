// Damped Gauss-Newton fit (Levenberg-Marquardt family) over all scans at once.
//
// Each step solves (A + q²·diag(X))·z = B with A = JᵀJ and B = Jᵀe of the
// noise-corrected derivatives J and residuals e, then refines z twice against
// the undamped equations (iterated damping). The per-parameter weights X are
// re-estimated after every step from how much the gradient changed against
// what the linear model predicted: parameters whose equations behaved
// non-linearly get more damping. The agreement r between the actual and the
// predicted decrease of SS sets the next q; one uphill step is accepted, a
// second in a row is undone with four times the damping.
//
// Every step keeps the parameters physical: those that must stay positive
// keep a fraction of their old value instead of turning negative, the
// meniscus and the bottom stay within the radii of the scan files, and the
// concentrations and the base line within ten times the range of the data.
// At the end the fit says whether its numbers are a result: singular
// equations (parameters the data cannot tell apart or that have no
// influence), standard deviations that are not finite, a sum of squares
// above its start, or a stop at the damping limit before convergence are
// failures, and a failed fit ends at the best point it has seen.
//
// Speed: one evaluation is dominated by the model pass and by the normal
// equations, 136 products per point for 16 parameters over up to 1.96 million
// points. The accumulation runs per scan on all cores, each scan into its own
// partial sums; the partial sums are added in sequence order afterwards, so
// the result does not depend on the number of threads. Within a scan the
// noise-corrected derivatives are first gathered into one row per parameter,
// then each product sum runs along the rows with its accumulator in an
// extended-precision register.
#include "fit/fit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "fit/normal_system.h"
#include "models/catalogue.h"
#include "models/error_functions.h"
#include "models/model_pass.h"

namespace svfit::fit {

namespace {

// ---- Parallel loop over scans -------------------------------------------------

constexpr int kMaxThreads = 64;
int g_threadSetting = 0;  // 0 = all cores

// body(index, worker) for index = 0..count-1 on up to threadCount() threads;
// the calling thread is worker 0. Which thread takes which index varies; the
// callers write per-index results only.
template <typename Body>
void parallelFor(int count, int threads, const Body& body) {
  const int n = std::min(threads, count);
  if (n <= 1) {
    for (int i = 0; i < count; ++i) body(i, 0);
    return;
  }
  std::atomic<int> next{0};
  auto work = [&](int worker) {
    for (int i = next.fetch_add(1); i < count; i = next.fetch_add(1)) body(i, worker);
  };
  std::array<std::jthread, kMaxThreads> pool;
  for (int w = 1; w < n; ++w) pool[static_cast<std::size_t>(w)] = std::jthread(work, w);
  work(0);
}  // the jthreads join here

// ---- Fit memory, kept between a fit and a continuation ('F') -----------------

// Partial sums of one scan of the sequence.
struct ScanSums {
  std::array<Extended, kMaxPacked + 1> a;
  std::array<Extended, kMaxParams + 1> b;
  Extended ss;
};

// Per-thread rows of one scan: noise-corrected derivatives and residuals.
struct ScanRows {
  std::array<std::array<double, kMaxPoints>, kMaxParams + 1> g;
  std::array<double, kMaxPoints> e;
};

struct FitMemory {
  NormalSystem ns;
  bool hasFit = false;    // a fit ran and its state can be continued
  int fitFreeCount = -1;  // freeCount of that fit
  double sumSqPrev = 0;   // SS before the current step
  double predictedDecrease = 0;
  double stepNorm = 0;
  bool uphillPending = false;  // the last accepted step increased SS
  // Undo copies: the equations and parameters at the point the step started from.
  std::array<Extended, kMaxPacked + 1> matrixCopy{};
  std::array<Extended, kMaxParams + 1> rhsCopy{};
  PerParam<double> paramCopy{};
  PerParam<double> step{};  // z of the last step
  // Work space, allocated at the first evaluation.
  std::unique_ptr<models::PassSums> passSums;  // noise sums of the model pass
  std::unique_ptr<std::array<ScanSums, kMaxScans + 1>> scanSums;
  std::vector<std::unique_ptr<ScanRows>> rows;
};

FitMemory& memory() {
  static FitMemory m;
  return m;
}

ModelPassFunction g_modelPass = &models::modelPass;

// ---- One scan's contribution to the normal equations ---------------------------

// *out[k] = Σ_j x[j]·col[k][j] for two to four columns at once, in extended
// precision. Each sum is a chain of dependent additions; four chains (for two
// and three columns: even and odd j summed apart) keep the floating-point unit
// busy, and x[j] is loaded once for all of them. The sums are named variables
// so that they stay in the eight x87 registers.
void dot4(const double* x, const double* const* col, int count, Extended* const* out) {
  const double *c0 = col[0], *c1 = col[1], *c2 = col[2], *c3 = col[3];
  Extended s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  for (int j = 0; j < count; ++j) {
    const Extended v = x[j];
    s0 += v * c0[j];
    s1 += v * c1[j];
    s2 += v * c2[j];
    s3 += v * c3[j];
  }
  *out[0] = s0;
  *out[1] = s1;
  *out[2] = s2;
  *out[3] = s3;
}

void dot3(const double* x, const double* const* col, int count, Extended* const* out) {
  const double *c0 = col[0], *c1 = col[1], *c2 = col[2];
  Extended e0 = 0, e1 = 0, e2 = 0, o0 = 0, o1 = 0, o2 = 0;
  int j = 0;
  for (; j + 1 < count; j += 2) {
    {
      const Extended v = x[j];
      e0 += v * c0[j];
      e1 += v * c1[j];
      e2 += v * c2[j];
    }
    {
      const Extended w = x[j + 1];
      o0 += w * c0[j + 1];
      o1 += w * c1[j + 1];
      o2 += w * c2[j + 1];
    }
  }
  if (j < count) {
    const Extended v = x[j];
    e0 += v * c0[j];
    e1 += v * c1[j];
    e2 += v * c2[j];
  }
  *out[0] = e0 + o0;
  *out[1] = e1 + o1;
  *out[2] = e2 + o2;
}

void dot2(const double* x, const double* const* col, int count, Extended* const* out) {
  const double *c0 = col[0], *c1 = col[1];
  Extended e0 = 0, e1 = 0, o0 = 0, o1 = 0;
  int j = 0;
  for (; j + 1 < count; j += 2) {
    const Extended v = x[j], w = x[j + 1];
    e0 += v * c0[j];
    e1 += v * c1[j];
    o0 += w * c0[j + 1];
    o1 += w * c1[j + 1];
  }
  if (j < count) {
    const Extended v = x[j];
    e0 += v * c0[j];
    e1 += v * c1[j];
  }
  *out[0] = e0 + o0;
  *out[1] = e1 + o1;
}

void accumulateScan(AnalysisState& st, int s, ScanRows& rows, ScanSums& out,
                    const models::PassSums& noise) {
  const int n = st.freeCount;
  const int first = st.scanFirstPoint[s];
  const int count = st.scanLastPoint[s] - first + 1;
  const bool ti = st.tiNoiseOn;
  const bool ri = st.riNoiseOn;
  const Extended beta = ri ? st.riNoise[s] : 0.0;
  const double* data = st.scanValue[s] + first;
  const double* model = st.modelValue[s] + first;  // data minus model
  const double* tiNoise = noise.tiNoiseSum.data() + first;
  double* curve = st.fitCurve[s] + first;

  // Residual e = data − (model + β + b) and fitted value f = model + β + b.
  Extended ss = 0;
  for (int j = 0; j < count; ++j) {
    const Extended noiseTerm = beta + (ti ? tiNoise[j] : 0.0);
    const Extended fitted = (static_cast<Extended>(data[j]) - model[j]) + noiseTerm;
    const Extended e = data[j] - fitted;
    curve[j] = static_cast<double>(fitted);
    rows.e[static_cast<std::size_t>(j)] = static_cast<double>(e);
    ss += e * e;
  }
  out.ss = ss;

  // Derivatives of the model after the noise terms are eliminated.
  for (int m = 1; m <= n; ++m) {
    const double* deriv = st.paramDerivBlock(m)[s] + first;
    const double* derivTi = noise.derivTiSum[static_cast<std::size_t>(m)].data() + first;
    const Extended derivRi = ri ? noise.derivRiSum[static_cast<std::size_t>(m)][s] : 0.0;
    double* g = rows.g[static_cast<std::size_t>(m)].data();
    if (ti) {
      for (int j = 0; j < count; ++j) g[j] = static_cast<double>(deriv[j] - derivTi[j] - derivRi);
    } else {
      for (int j = 0; j < count; ++j) g[j] = static_cast<double>(deriv[j] - derivRi);
    }
  }

  // Row m: B_m = Σ e·g_m and A(m, l) = Σ g_m·g_l for l = m..n, as sums of g_m
  // against the columns e, g_m, ..., g_n, in groups of two to four.
  const double* e = rows.e.data();
  for (int m = 1; m <= n; ++m) {
    std::array<const double*, kMaxParams + 1> columns{};
    std::array<Extended*, kMaxParams + 1> sums{};
    int c = 0;
    columns[static_cast<std::size_t>(c)] = e;
    sums[static_cast<std::size_t>(c++)] = &out.b[static_cast<std::size_t>(m)];
    const int diag = 1 + (m - 1) * (n + 1) - (m - 1) * m / 2;  // packed (m, m)
    for (int l = m; l <= n; ++l) {
      columns[static_cast<std::size_t>(c)] = rows.g[static_cast<std::size_t>(l)].data();
      sums[static_cast<std::size_t>(c++)] = &out.a[static_cast<std::size_t>(diag + l - m)];
    }
    const double* gm = rows.g[static_cast<std::size_t>(m)].data();
    int k = 0;
    while (c - k > 0) {
      const int left = c - k;
      const int group = left == 5 ? 3 : std::min(left, 4);  // never a group of one
      const double* const* col = &columns[static_cast<std::size_t>(k)];
      Extended* const* to = &sums[static_cast<std::size_t>(k)];
      if (group == 4) {
        dot4(gm, col, count, to);
      } else if (group == 3) {
        dot3(gm, col, count, to);
      } else {
        dot2(gm, col, count, to);
      }
      k += group;
    }
  }
}

// ---- Physical bounds of a step ---------------------------------------------------

// Concentrations and the base line stay within this multiple of the range of
// the fitted data [data units]: far beyond any plateau a sector cell can show.
constexpr double kLevelMultiple = 10.0;

// Where each parameter may go: [lo, hi], infinite where nothing limits it.
struct Bounds {
  PerParam<double> lo, hi;
};

Bounds StepBounds(const AnalysisState& st, const models::ModelInfo& model) {
  Bounds b;
  b.lo.fill(-HUGE_VAL);
  b.hi.fill(HUGE_VAL);
  // Meniscus and bottom lie in the cell, and the files cover the cell.
  if (st.fileMinRadius > 0 && st.fileMaxRadius > st.fileMinRadius) {
    const int bottom = model.hasBottom ? 5 : 4;
    for (int k = 4; k <= bottom; ++k) {
      b.lo[k] = st.fileMinRadius;
      b.hi[k] = st.fileMaxRadius;
    }
  }
  // Range of the fitted data.
  double lo = HUGE_VAL, hi = -HUGE_VAL;
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int s = st.scanSequence[p];
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      lo = std::min(lo, st.scanValue[s][j]);
      hi = std::max(hi, st.scanValue[s][j]);
    }
  }
  const double span = kLevelMultiple * (hi - lo);
  if (span > 0 && std::isfinite(span)) {
    const int components = models::componentCountFor(model, st.paramCount);
    for (int c = 1; c <= components; ++c) b.hi[models::componentSlots(model, c).c0] = span;
    b.lo[3] = lo - span;
    b.hi[3] = hi + span;
  }
  return b;
}

// ---- Diagnosis at the end of a fit ------------------------------------------------

// A free parameter counts as not determined when its column of derivatives,
// normalised, keeps less than this share of its length after the columns
// before it are projected out (1 − R² of its regression on them): it is a
// combination of the others to within 1e-4 of its size, and its standard
// deviation is 1e4 times what it would be alone.
constexpr Extended kDependentShare = 1e-8L;
// Nor is a parameter that must stay positive (s, D, a concentration, a
// radius) determined when its standard deviation exceeds its value this
// many times over.
constexpr double kLooseRatio = 1e3;
// A parameter that depends on others names as partners those whose columns
// correlate with its own at least this closely.
constexpr Extended kPartnerCorrelation = 0.99L;

// Parameters (bit k = P[k]) that the undamped normal equations A cannot
// determine: no influence at all (zero column), or a column that the columns
// before it reproduce, together with the partners it correlates with. A
// Cholesky factorisation of the correlation matrix in the order of the free
// list, in extended precision, that leaves dependent columns out.
unsigned UndeterminedParameters(const AnalysisState& st, const NormalSystem& ns) {
  const int n = ns.freeCount;
  std::array<std::array<Extended, kMaxParams + 1>, kMaxParams + 1> r{};  // correlation, then factor
  std::array<Extended, kMaxParams + 1> diag{};
  std::array<bool, kMaxParams + 1> skip{};  // left out of the factor
  for (int i = 1; i <= n; ++i) {
    diag[i] = ns.normMatrix[ns.at(i, i)];
    skip[i] = !(diag[i] > 0) || !std::isfinite(diag[i]);
  }
  for (int i = 1; i <= n; ++i)
    for (int j = i; j <= n; ++j)
      if (!skip[i] && !skip[j])
        r[i][j] = r[j][i] = ns.normMatrix[ns.at(i, j)] / std::sqrt(diag[i] * diag[j]);
  const auto corr = r;
  std::array<bool, kMaxParams + 1> flagged = skip;
  for (int i = 1; i <= n; ++i) {
    if (skip[i]) continue;
    Extended share = r[i][i];
    for (int k = 1; k < i; ++k)
      if (!skip[k]) share -= r[k][i] * r[k][i];
    if (!(share > kDependentShare)) {
      skip[i] = flagged[i] = true;
      for (int k = 1; k <= n; ++k)
        if (k != i && std::fabs(corr[i][k]) >= kPartnerCorrelation) flagged[k] = true;
      continue;
    }
    const Extended pivot = std::sqrt(share);
    for (int j = i + 1; j <= n; ++j) {
      Extended t = r[i][j];
      for (int k = 1; k < i; ++k)
        if (!skip[k]) t -= r[k][i] * r[k][j];
      r[i][j] = t / pivot;
    }
  }
  unsigned mask = 0;
  for (int i = 1; i <= n; ++i)
    if (flagged[i]) mask |= 1u << st.freeIndex[i];
  return mask;
}

}  // namespace

// ---- Public operations ------------------------------------------------------------

void setThreadCount(int n) { g_threadSetting = std::clamp(n, 0, kMaxThreads); }

int threadCount() {
  if (g_threadSetting > 0) return g_threadSetting;
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(static_cast<int>(cores), 1, kMaxThreads);
}

void setModelPass(ModelPassFunction pass) {
  g_modelPass = pass != nullptr ? pass : &models::modelPass;
}

void computeFitTotals(AnalysisState& st) {
  Extended sum = 0;
  long points = 0;
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const int s = st.scanSequence[p];
    for (int j = st.scanFirstPoint[s]; j <= st.scanLastPoint[s]; ++j) {
      sum += static_cast<Extended>(st.scanValue[s][j]) * st.scanValue[s][j];
    }
    points += st.scanLastPoint[s] - st.scanFirstPoint[s] + 1;
  }
  st.sumSqData = static_cast<double>(sum);
  st.pointTotal = points;
}

void fitEvaluate(AnalysisState& st, const FitObserver& observer) {
  FitMemory& mem = memory();
  NormalSystem& ns = mem.ns;
  const int n = st.freeCount;
  ns.setSize(n);  // also clears A and B

  if (observer.evaluating) observer.evaluating(st.iterCount + 1);

  if (!mem.passSums) mem.passSums = std::make_unique<models::PassSums>();
  const models::PassSums& noise = *mem.passSums;
  const int workers = threadCount();
  g_modelPass(st, *mem.passSums, workers);

  // TI noise of every radial index, for the plots and the report.
  for (int j = 1; j <= kMaxPoints; ++j) {
    st.tiNoise[j] = (st.tiNoiseOn && j <= noise.maxIndex) ? noise.tiNoiseSum[j] : 0.0;
  }

  if (!mem.scanSums) mem.scanSums = std::make_unique<std::array<ScanSums, kMaxScans + 1>>();
  while (static_cast<int>(mem.rows.size()) < workers)
    mem.rows.push_back(std::make_unique<ScanRows>());
  auto& sums = *mem.scanSums;
  const int scans = st.seqLast - st.seqFirst + 1;
  parallelFor(scans, workers, [&](int index, int worker) {
    const int position = st.seqFirst + index;
    accumulateScan(st, st.scanSequence[position], *mem.rows[static_cast<std::size_t>(worker)],
                   sums[static_cast<std::size_t>(position)], noise);
  });

  // Add the scans' sums in sequence order: the same result on any number of threads.
  Extended ss = 0;
  for (int p = st.seqFirst; p <= st.seqLast; ++p) {
    const ScanSums& part = sums[static_cast<std::size_t>(p)];
    ss += part.ss;
    for (int m = 1; m <= n; ++m) ns.normRhs[m] += part.b[m];
    for (int k = 1; k <= ns.packCount; ++k) ns.normMatrix[k] += part.a[k];
  }
  st.sumSq = static_cast<double>(ss);

  if (observer.evaluated) observer.evaluated(st);
}

void runFit(AnalysisState& st, const FitObserver& observer) {
  FitMemory& mem = memory();
  NormalSystem& ns = mem.ns;
  const int n = st.freeCount;
  st.fitDone = false;
  st.restoredAfterFit = false;
  computeFitTotals(st);
  const double ssTolerance = 1e-7 * st.sumSqData;
  const models::ModelInfo& model = models::modelInfo(st.modelLetter);
  const Bounds bounds = StepBounds(st, model);
  double& q = st.dampQ;

  // A continuation needs the state of a fit of the same parameters; without
  // one it starts afresh.
  const bool resume = st.postFitOption == 'F' && mem.hasFit && mem.fitFreeCount == n;
  if (observer.begin) observer.begin(st);
  if (!resume) {
    ns.setSize(n);
    for (int i = 1; i <= kMaxParams; ++i) ns.dampWeight[i] = 1.0;
    st.meniscusCorrValue = 1.0;
    fitEvaluate(st, observer);
    mem.uphillPending = false;
    mem.hasFit = true;
    mem.fitFreeCount = n;
  }
  // The SS this call starts from, and the best point seen: a failed fit ends there.
  const double ssStart = st.sumSq;
  double ssBest = std::isfinite(st.sumSq) ? st.sumSq : HUGE_VAL;
  PerParam<double> paramBest = st.param;

  bool iterate = n > 0 && std::isfinite(st.sumSq);
  bool stepPending = false;            // an undone step: the next one starts from the old point
  bool gaveUp = false;                 // even the most damped step found no finite values
  bool stoppedEarly = false;           // key I or the iteration limit, not a convergence test
  const int iterStart = st.iterCount;  // the limit of the set-up counts this call's iterations
  while (iterate) {
    // SS before the step. A continuation also measures its first ΔSS from the
    // SS where it resumes.
    if (!stepPending) mem.sumSqPrev = st.sumSq;
    stepPending = false;
    st.fitDone = true;
    ns.lambda = q * q;

    // Damped solution, refined twice against the undamped equations.
    ns.scaleAndDamp();
    ns.factorPacked();
    ns.solvePacked();
    double stepNorm = 0;
    for (int i = 1; i <= n; ++i) {
      stepNorm += ns.solveVec[i] * ns.solveVec[i];
      ns.stepVec[i] = std::ldexp(ns.solveVec[i], ns.scaleExp[i]);
    }
    for (int pass = 1; pass <= 2; ++pass) {
      ns.residualRefine(pass == 2);  // the second leaves the residual in dampWeight
      ns.solvePacked();
      for (int i = 1; i <= n; ++i) {
        stepNorm += ns.solveVec[i] * ns.solveVec[i];
        ns.stepVec[i] += std::ldexp(ns.solveVec[i], ns.scaleExp[i]);
      }
    }
    stepNorm /= n;
    mem.stepNorm = stepNorm;

    // Apply the step; parameters that must stay positive are cut back
    // instead, and so are those that would leave their physical range: they
    // keep the same share of their distance to the bound they would cross.
    for (int i = 1; i <= n; ++i) {
      const int k = st.freeIndex[i];
      const double old = st.param[k];
      mem.paramCopy[k] = old;
      double z = ns.stepVec[i];
      const double proposed = old + z;
      const double lo = bounds.lo[k], hi = bounds.hi[k];
      if (proposed < 0 && (model.mayBeNegative & (1u << k)) == 0) {
        st.param[k] = model.cutBackFactor * old;
        z = 0;
        ns.dampWeight[i] = 0;
      } else if (proposed < lo) {
        st.param[k] = lo + model.cutBackFactor * std::max(0.0, old - lo);
        z = 0;
        ns.dampWeight[i] = 0;
      } else if (proposed > hi) {
        st.param[k] = hi - model.cutBackFactor * std::max(0.0, hi - old);
        z = 0;
        ns.dampWeight[i] = 0;
      } else {
        st.param[k] = proposed;
      }
      if (model.hasBottom && k == 5 && st.param[k] < st.bottomMin) {
        st.param[k] = st.bottomMin;
        z = st.param[k] - old;  // the step actually taken
      }
      mem.step[i] = z;
    }

    // Decrease of SS that the linear model predicts: 2·Bᵀz − zᵀAz.
    Extended predicted = 0;
    for (int i = 1; i <= n; ++i) {
      predicted += 2 * ns.normRhs[i] * mem.step[i];
      for (int j = 1; j <= n; ++j) {
        const Extended a = (j >= i) ? ns.normMatrix[ns.at(i, j)] : ns.normMatrix[ns.at(j, i)];
        predicted -= a * mem.step[i] * mem.step[j];
      }
    }
    mem.predictedDecrease = static_cast<double>(predicted);
    mem.matrixCopy = ns.normMatrix;
    mem.rhsCopy = ns.normRhs;
    std::array<double, kMaxParams + 1> residual{};  // X after the refinement
    for (int i = 1; i <= n; ++i) residual[i] = ns.dampWeight[i];

    st.meniscusCorrValue = models::meniscusCorr(st.param[4]);
    fitEvaluate(st, observer);
    if (st.sumSq < ssBest) {
      ssBest = st.sumSq;
      paramBest = st.param;
    }

    // New weights from the change of the gradient against the refinement residual.
    std::array<double, kMaxParams + 1> w{};
    double wMax = 0, wMin = 0, wMean = 0;
    for (int i = 1; i <= n; ++i) {
      const Extended b = ns.normRhs[i];
      const Extended x = residual[i];
      w[i] = static_cast<double>(std::sqrt(std::sqrt(std::fabs(b * b - x * x))));
      if (i == 1 || w[i] > wMax) wMax = w[i];
      if (i == 1 || w[i] < wMin) wMin = w[i];
      wMean += w[i];
    }
    wMean /= n;
    const double c = std::sqrt(0.0001 + wMax * wMin);
    for (int i = 1; i <= n; ++i) ns.dampWeight[i] = (w[i] + c) / (wMean + c);

    const double dSumSq = mem.sumSqPrev - st.sumSq;
    ++st.iterCount;
    const bool stopKey = observer.stopRequested && observer.stopRequested();

    // Agreement between the actual and the predicted decrease.
    const double predictedDecrease = mem.predictedDecrease;
    const double r = (std::fabs(predictedDecrease) <= 1e-30 || dSumSq <= 0)
                         ? 5.0
                         : std::fabs(1.0 - std::fabs(dSumSq / predictedDecrease));

    // A second uphill step in a row, or a step into a region where the model
    // gives no finite value, is undone and tried again with stronger damping.
    const bool failed = !std::isfinite(st.sumSq);
    if (failed || (dSumSq < 0 && mem.uphillPending && !stopKey)) {
      const bool giveUp = failed && (q >= 40.0 || stopKey);
      ++st.faultCount;
      q = std::min(4.0 * q, 40.0);
      mem.uphillPending = false;
      ns.normMatrix = mem.matrixCopy;
      ns.normRhs = mem.rhsCopy;
      for (int i = 1; i <= n; ++i) st.param[st.freeIndex[i]] = mem.paramCopy[st.freeIndex[i]];
      for (int i = 1; i <= n; ++i) ns.dampWeight[i] = 1.0;
      if (giveUp) {
        // Even the most damped step fails, or the user stops: stay at the last good point.
        st.meniscusCorrValue = models::meniscusCorr(st.param[4]);
        fitEvaluate(st, observer);
        gaveUp = !stopKey;
        stoppedEarly = stopKey;
        break;
      }
      stepPending = true;
      continue;
    }

    if (observer.status) observer.status({st.sumSq, dSumSq, ssTolerance, stepNorm, q});

    // The five convergence tests, the key I, and the iteration limit of the set-up.
    const double change = std::fabs(dSumSq);
    const bool limitReached = st.maxIterations > 0 && st.iterCount - iterStart >= st.maxIterations;
    const bool converged = change < 0.01 * ssTolerance || stepNorm < 0.0001 ||
                           (change < 0.1 * ssTolerance && q < 0.5) ||
                           (change < ssTolerance && stepNorm < 0.001 && q <= 1.0);
    if (stopKey || limitReached || converged) {
      stoppedEarly = (stopKey || limitReached) && !converged;
      break;
    }

    // Next damping from the agreement ratio.
    double f = 0.55 + 0.5 * r + 6 * r * r + 20 * r * r * r;
    if (dSumSq >= 0) {
      mem.uphillPending = false;
    } else {
      mem.uphillPending = true;
      f = std::max(f, 2.0);
    }
    f = std::min(f, 3.0);
    q *= f;
    if (q > 10) {
      if (change < ssTolerance && stepNorm < 0.001) q = 3;
      q = std::min(q, 20.0);
    }
  }

  st.dampFinal = q;

  // Standard deviations from the almost undamped equations at the last point.
  // The same factor gives the decrease of SS that one full Gauss-Newton step
  // would still bring, BᵀA⁻¹B: next to nothing once the fit has converged.
  const auto statistics = [&] {
    ns.lambda = 1e-16;
    const long degrees = st.pointTotal - n;
    st.sigma = degrees > 0 ? std::sqrt(st.sumSq / static_cast<double>(degrees)) : 0.0;
    ns.scaleAndDamp();
    ns.factorPacked();
    const std::array<double, kMaxParams + 1> scaledRhs = ns.solveVec;  // S·B
    ns.solvePacked();
    Extended remaining = 0;
    for (int i = 1; i <= n; ++i) remaining += static_cast<Extended>(scaledRhs[i]) * ns.solveVec[i];
    ns.stdDevFromFactor(st.sigma);
    for (int i = 1; i <= kMaxParams; ++i) st.stdDev[i] = i <= n ? ns.stepVec[i] : 0.0;
    return static_cast<double>(remaining);
  };
  // Parameters the equations cannot determine, and those whose standard
  // deviation is not a finite number.
  const auto undetermined = [&](unsigned& dependent, unsigned& notFinite) {
    dependent = n > 0 ? UndeterminedParameters(st, ns) : 0;
    notFinite = 0;
    for (int i = 1; i <= n; ++i) {
      const int k = st.freeIndex[i];
      if (!std::isfinite(st.stdDev[i])) notFinite |= 1u << k;
      const bool positive = (model.mayBeNegative & (1u << k)) == 0;
      if (positive && st.stdDev[i] > kLooseRatio * std::fabs(st.param[k])) dependent |= 1u << k;
    }
  };
  const double remaining = statistics();
  unsigned dependent = 0, notFinite = 0;
  undetermined(dependent, notFinite);

  // Whether the numbers are a result. At the damping limit the steps are too
  // small for the stop tests to mean convergence while the equations still
  // promise a decrease of SS.
  const bool diverged = !(st.sumSq <= ssStart + 0.01 * ssTolerance);
  const bool atDampingLimit = gaveUp || (!stoppedEarly && q >= 20.0 && !(remaining <= ssTolerance));
  if (n == 0) {
    st.fitOutcome = FitOutcome::kEvaluated;
  } else if (!std::isfinite(st.sumSq)) {
    st.fitOutcome = FitOutcome::kNotFinite;
  } else if (diverged) {
    st.fitOutcome = FitOutcome::kDiverged;
  } else if (dependent != 0) {
    st.fitOutcome = FitOutcome::kSingular;
  } else if (notFinite != 0) {
    st.fitOutcome = FitOutcome::kNotFinite;
  } else if (atDampingLimit) {
    st.fitOutcome = FitOutcome::kDampingLimit;
  } else if (stoppedEarly) {
    st.fitOutcome = FitOutcome::kStopped;
  } else {
    st.fitOutcome = FitOutcome::kFitted;
  }
  st.undeterminedParams = dependent | notFinite;

  // A failed fit ends at the best point it has seen, with its statistics; a
  // stopped one where it stopped, so that F goes on from there.
  if (st.fitOutcome != FitOutcome::kFitted && st.fitOutcome != FitOutcome::kEvaluated &&
      st.fitOutcome != FitOutcome::kStopped && !(st.sumSq <= ssBest)) {
    st.param = paramBest;
    st.meniscusCorrValue = models::meniscusCorr(st.param[4]);
    fitEvaluate(st, observer);
    statistics();
    undetermined(dependent, notFinite);
    st.undeterminedParams |= dependent | notFinite;
  }
  if (observer.end) observer.end();
}

}  // namespace svfit::fit
