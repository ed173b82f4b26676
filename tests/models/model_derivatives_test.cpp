// Analytic derivatives of every model against central finite differences, for
// every parameter over a grid of realistic cases: 1 to 4 components, D given
// directly or as a molar mass, early and late scans, radii behind, in and
// ahead of the boundary and near the bottom, with slit-time correction and
// diffusion-time offset. Model F's derivatives are the sensitivities of its
// numerical solution. Also the radial gradients against differences in r,
// and the value of the concentration function against the value-only one.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "model_fixture.h"
#include "models/model_pass.h"

namespace svfit::models {
namespace {

using namespace testing;

// Central differences of f at x with step h, Richardson-extrapolated (error
// O(h⁴)), element by element of the vectors f returns.
template <typename F>
std::vector<double> difference(const F& f, double x, double h) {
  const std::vector<double> a = f(x + h), b = f(x - h), c = f(x + h / 2), d = f(x - h / 2);
  std::vector<double> diff(a.size());
  for (std::size_t i = 0; i < a.size(); ++i)
    diff[i] = (4.0 * ((c[i] - d[i]) / h) - (a[i] - b[i]) / (2.0 * h)) / 3.0;
  return diff;
}

struct Point {
  int scan;
  double r;
};

// The model's values at the points, set up once per scan (model F solves
// once per parameter set).
std::vector<double> valuesAt(const AnalysisState& st, const std::vector<Point>& points) {
  std::vector<double> v;
  std::unique_ptr<ScanModel> model;
  for (const Point& p : points) {
    if (!model || p.scan != points[v.size() - 1].scan)
      model = std::make_unique<ScanModel>(st, p.scan);
    v.push_back(model->value(p.r));
  }
  return v;
}

// Differences by P[k] at relative step `rel` at every point.
std::vector<double> paramDifferences(AnalysisState& st, int k, const std::vector<Point>& points,
                                     double rel) {
  const double p0 = st.param[k];
  auto at = [&](double p) {
    st.param[k] = p;
    return valuesAt(st, points);
  };
  const std::vector<double> diff = difference(at, p0, p0 != 0.0 ? rel * std::fabs(p0) : 1e-6);
  st.param[k] = p0;
  return diff;
}

// The radii of one scan: near the meniscus, between meniscus and boundary,
// around the boundary midpoint r_m·e^(s·ω²·t), in the plateau, near the bottom.
std::vector<double> radiiFor(const AnalysisState& st, int scan) {
  const double boundary = kMeniscus * std::exp(st.param[2] * st.scanTime[scan]);
  return {kMeniscus + 0.01, (kMeniscus + boundary) / 2, boundary - 0.02, boundary,
          boundary + 0.015,  kBottom - 0.25,              kBottom - 0.04};
}

struct Mode {
  int components;
  bool mass;
  double slit;    // [s/cm]
  double offset;  // diffusion-time offset [s]
};

class ModelDerivatives : public ::testing::TestWithParam<char> {};

TEST_P(ModelDerivatives, AnalyticMatchFiniteDifferencesForEveryParameter) {
  const char letter = GetParam();
  const ModelInfo& model = modelInfo(letter);
  AnalysisState& st = sharedState();
  setSeries(st, 14, 50, 600.0, 600.0);
  std::vector<Mode> modes;
  // Relative step of the differences, and the tolerance: relative, and the
  // fraction of the natural scale (value scale per unit relative change)
  // below which a derivative counts as zero.
  double step = 1e-4, relative = 1e-5, floor = 1e-8;
  if (model.prepare != nullptr) {
    // The numerical model solves once per parameter set: the cases that
    // exercise its paths (further components, a molar mass, slit times). Its
    // values carry the rounding of some thousand steps (about 1e-13 of the
    // value, more in the pile-up), and its interpolant bends where r passes
    // a node (the nodes move with the walls): a smaller step and 1e-4.
    modes = {{2, false, 0.0, 0.0}, {3, true, 40.0, 0.0}};
    step = 1e-5;
    relative = 1e-4;
    floor = 1e-6;
  } else {
    for (int n = 1; n <= model.maxComponents; ++n) modes.push_back({n, false, 0.0, 0.0});
    modes.push_back({model.maxComponents, true, 40.0, 25.0});
    modes.push_back({1, true, 0.0, 0.0});
    modes.push_back({1, false, 40.0, 25.0});
  }
  int checked = 0;
  for (const Mode& mode : modes) {
    setModel(st, letter, mode.components, mode.mass);
    st.slitTimePerCm = mode.slit;
    st.diffTimeOffset = mode.offset;
    st.meniscusCorrValue = 1.1;
    std::vector<Point> points;
    for (int scan : {1, 14})
      for (double r : radiiFor(st, scan)) points.push_back({scan, r});
    std::vector<ModelDeriv> derivs(points.size());
    const std::vector<double> values = valuesAt(st, points);
    for (std::size_t i = 0; i < points.size(); ++i) {
      const double value =
          ScanModel(st, points[i].scan, Derivatives::kAll).valueAndDerivs(points[i].r, derivs[i]);
      ASSERT_EQ(value, values[i]) << "value-only function differs at r = " << points[i].r;
    }
    double scale = std::fabs(st.param[3]);  // value scale: base line + Σ c0
    for (int c = 1; c <= mode.components; ++c)
      scale += std::fabs(st.param[componentSlots(model, c).c0]);
    for (int k = 1; k <= st.paramCount; ++k) {
      // With a molar mass the D-or-M parameter is overwritten on every
      // evaluation; its derivative is the one by D at D = s·dPerS.
      int massComponent = 0;
      for (int c = 1; c <= mode.components; ++c) {
        if (st.molMassGiven[c] && componentSlots(model, c).dOrM == k) massComponent = c;
      }
      const double saved = st.param[k];
      if (massComponent > 0) {
        st.molMassGiven[massComponent] = false;
        st.param[k] = st.param[componentSlots(model, massComponent).s] * st.dPerS[massComponent];
      }
      double p = std::fabs(st.param[k]);
      const std::vector<double> expected = paramDifferences(st, k, points, step);
      if (massComponent > 0) st.molMassGiven[massComponent] = true;
      st.param[k] = saved;
      if (p == 0.0) p = 1.0;
      for (std::size_t i = 0; i < points.size(); ++i) {
        const double tolerance = relative * std::fabs(expected[i]) + floor * scale / p;
        EXPECT_NEAR(derivs[i][k], expected[i], tolerance)
            << "model " << letter << ", " << mode.components << " component(s)"
            << (mode.mass ? ", molar mass" : "") << ", slit " << mode.slit << ", scan "
            << points[i].scan << ", r = " << points[i].r << ", d/dP[" << k
            << "], P = " << st.param[k];
        ++checked;
      }
    }
  }
  EXPECT_GT(checked, 100);
}

TEST_P(ModelDerivatives, GradientIsTheRadialDerivativeAtFixedTime) {
  const char letter = GetParam();
  const ModelInfo& model = modelInfo(letter);
  AnalysisState& st = sharedState();
  setSeries(st, 14, 50, 600.0, 600.0);
  // Model F: the cubic through the nearest nodes changes where r passes a
  // node, so its slope is compared over a smaller step, to 1e-4.
  const bool numeric = model.prepare != nullptr;
  const double h = numeric ? 1e-6 : 1e-5;  // [cm]
  for (int n : {1, model.maxComponents}) {
    for (bool mass : {false, true}) {
      setModel(st, letter, n, mass);
      for (int scan : {1, 14}) {
        for (double r : radiiFor(st, scan)) {
          const ScanModel sm(st, scan);
          auto value = [&](double x) { return std::vector{sm.value(x)}; };
          double expected = difference(value, r, h)[0];
          if (model.hasBottom) expected -= st.param[6];  // the gradient leaves out the linear term
          const double tolerance =
              numeric ? 1e-4 * std::fabs(expected) + 1e-5 : 1e-6 * std::fabs(expected) + 1e-7;
          EXPECT_NEAR(sm.gradient(r), expected, tolerance)
              << "model " << letter << ", scan " << scan << ", r = " << r;
        }
      }
    }
  }
}

std::string letterName(const ::testing::TestParamInfo<char>& info) {
  return std::string("Model") + info.param;
}

INSTANTIATE_TEST_SUITE_P(AllModels, ModelDerivatives,
                         ::testing::Values('H', 'P', 'S', 'R', 'N', 'C', 'M', 'O', 'D', 'F'),
                         letterName);

}  // namespace
}  // namespace svfit::models
