// The rotor of the Lamm solver as the scan headers describe it: elapsed time,
// ω²t integral and ω² of each scan. (The solver itself is measured against
// what the physics fixes in tests/tools/sim_lamm_test.cpp and against its
// refinement in model_physics_test.cpp.)
#include "models/lamm_solver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace svfit::models {
namespace {

TEST(RotorSchedule, ALinearRampIsRebuiltFromTheHeaders) {
  const double w2 = 2.7416e7;  // 50000 rpm [rad²/s²]
  const RotorSchedule ramp = RotorSchedule::linearRamp(w2, 240);
  // The first scan at speed (lag 2/3 of the ramp) or inside the ramp; the
  // header keeps the set speed.
  for (double first : {300.0, 100.0}) {
    std::vector<RotorSchedule::ScanClock> scans;
    for (double t = first; t < 4000; t += 150) scans.push_back({t, ramp.omega2tAt(t), w2});
    const RotorSchedule rebuilt = RotorSchedule::fromScans(scans);
    for (double t : {30.0, 100.0, 239.0, 241.0, 777.0, 3900.0, 9000.0}) {
      EXPECT_NEAR(rebuilt.omega2tAt(t) / ramp.omega2tAt(t), 1.0, 1e-12) << first << ", t " << t;
      EXPECT_NEAR(rebuilt.omega2At(t) / ramp.omega2At(t), 1.0, 1e-12) << first << ", t " << t;
    }
    EXPECT_NEAR(rebuilt.peakOmega2(), w2, 1e-6);
  }

  // Headers as the instrument writes them: ω²t to five digits, ω² changing a
  // little between scans (50010 rpm), and a scan whose ω²t runs backwards.
  // Every other header is met; the one that runs backwards is left out (ω²t
  // goes on linearly over its time); the speed of the last scan is kept.
  std::vector<RotorSchedule::ScanClock> scans = {
      {190, 1.9906e9, w2}, {196, 2.1550e9, w2}, {256, 3.8010e9, w2}, {250, 2.0e9, w2}};
  for (double t = 316; t < 2000; t += 60) scans.push_back({t, 3.8010e9 + (t - 256) * 2.7427e7, w2});
  const RotorSchedule rebuilt = RotorSchedule::fromScans(scans);
  for (const auto& s : scans) {
    if (s.elapsed == 250) continue;
    EXPECT_NEAR(rebuilt.omega2tAt(s.elapsed) / s.omega2t, 1.0, 1e-13) << s.elapsed;
  }
  EXPECT_NEAR(rebuilt.omega2tAt(250), 2.1550e9 + (250.0 - 196) / 60 * (3.8010e9 - 2.1550e9), 1.0);
  EXPECT_EQ(rebuilt.omega2At(5000), w2);
  const std::vector<double> knots = rebuilt.knots();
  EXPECT_NEAR(knots.front(), 1.5 * (190 - 1.9906e9 / w2), 1e-9);  // the end of the ramp
}

}  // namespace
}  // namespace svfit::models
