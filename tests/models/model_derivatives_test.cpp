// Analytic derivatives of every model against central finite differences, for
// every parameter over a grid of realistic cases: 1 to 4 components, D given
// directly or as a molar mass, early and late scans, radii behind, in and
// ahead of the boundary and near the bottom, with slit-time correction and
// diffusion-time offset. Also the radial gradients against differences in r,
// and the value of the concentration function against the value-only one.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model_fixture.h"
#include "models/model_pass.h"

namespace svfit::models {
namespace {

using namespace testing;

double valueAt(const AnalysisState& st, int scan, double r) { return ScanModel(st, scan).value(r); }

// Central difference of f at x with step h, Richardson-extrapolated (error O(h⁴)).
template <typename F>
double difference(const F& f, double x, double h) {
  auto central = [&](double step) { return (f(x + step) - f(x - step)) / (2.0 * step); };
  return (4.0 * central(h / 2) - central(h)) / 3.0;
}

// The difference by P[k] at relative step 1e-4.
double paramDifference(AnalysisState& st, int k, int scan, double r) {
  const double p0 = st.param[k];
  const double d = difference(
      [&](double p) {
        st.param[k] = p;
        return valueAt(st, scan, r);
      },
      p0, p0 != 0.0 ? 1e-4 * std::fabs(p0) : 1e-6);
  st.param[k] = p0;
  return d;
}

// The radii of one scan: near the meniscus, between meniscus and boundary,
// around the boundary midpoint r_m·e^(s·ω²·t), in the plateau, near the bottom.
std::vector<double> radiiFor(const AnalysisState& st, int scan) {
  const double boundary = kMeniscus * std::exp(st.param[2] * st.scanTime[scan]);
  std::vector<double> radii = {kMeniscus + 0.01, (kMeniscus + boundary) / 2, boundary - 0.02,
                               boundary,         boundary + 0.015,           kBottom - 0.25,
                               kBottom - 0.04};
  return radii;
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
  for (int n = 1; n <= model.maxComponents; ++n) modes.push_back({n, false, 0.0, 0.0});
  modes.push_back({model.maxComponents, true, 40.0, 25.0});
  modes.push_back({1, true, 0.0, 0.0});
  modes.push_back({1, false, 40.0, 25.0});
  int checked = 0;
  for (const Mode& mode : modes) {
    setModel(st, letter, mode.components, mode.mass);
    st.slitTimePerCm = mode.slit;
    st.diffTimeOffset = mode.offset;
    st.meniscusCorrValue = 1.1;
    for (int scan : {1, 14}) {
      for (double r : radiiFor(st, scan)) {
        ModelDeriv deriv{};
        const double value = ScanModel(st, scan).valueAndDerivs(r, deriv);
        ASSERT_EQ(value, valueAt(st, scan, r)) << "value-only function differs at r = " << r;
        double scale = std::fabs(st.param[3]);  // value scale: base line + Σ c0
        for (int c = 1; c <= mode.components; ++c) {
          scale += std::fabs(st.param[componentSlots(model, c).c0]);
        }
        for (int k = 1; k <= st.paramCount; ++k) {
          // With a molar mass the D-or-M parameter is overwritten on every
          // evaluation; its derivative is the one by D at D = s·dPerS.
          int massComponent = 0;
          for (int c = 1; c <= mode.components; ++c) {
            if (st.molMassGiven[c] && componentSlots(model, c).dOrM == k) massComponent = c;
          }
          double expected;
          double p = std::fabs(st.param[k]);
          if (massComponent > 0) {
            const double saved = st.param[k];
            st.molMassGiven[massComponent] = false;
            st.param[k] =
                st.param[componentSlots(model, massComponent).s] * st.dPerS[massComponent];
            p = st.param[k];
            expected = paramDifference(st, k, scan, r);
            st.molMassGiven[massComponent] = true;
            st.param[k] = saved;
          } else {
            expected = paramDifference(st, k, scan, r);
          }
          if (p == 0.0) p = 1.0;
          // Relative 1e-5; derivatives below 1e-8 of the natural scale
          // (value scale per unit relative change) count as zero.
          const double tolerance = 1e-5 * std::fabs(expected) + 1e-8 * scale / p;
          EXPECT_NEAR(deriv[k], expected, tolerance)
              << "model " << letter << ", " << mode.components << " component(s)"
              << (mode.mass ? ", molar mass" : "") << ", slit " << mode.slit << ", scan " << scan
              << ", r = " << r << ", d/dP[" << k << "], P = " << st.param[k];
          ++checked;
        }
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
  for (int n : {1, model.maxComponents}) {
    for (bool mass : {false, true}) {
      setModel(st, letter, n, mass);
      for (int scan : {1, 14}) {
        for (double r : radiiFor(st, scan)) {
          const ScanModel sm(st, scan);
          double expected = difference([&](double x) { return sm.value(x); }, r, 1e-5);
          if (model.hasBottom) expected -= st.param[6];  // the gradient leaves out the linear term
          EXPECT_NEAR(sm.gradient(r), expected, 1e-6 * std::fabs(expected) + 1e-7)
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
                         ::testing::Values('H', 'P', 'S', 'R', 'N', 'C', 'M', 'O', 'D'),
                         letterName);

}  // namespace
}  // namespace svfit::models
