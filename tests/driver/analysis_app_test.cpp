// Complete analyses of the sample runs by the real program through pipes:
// load, pick the range, set up, fit, report, graph, option menu. The fitted
// numbers are compared with the simulated truth by digits of agreement.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "console/format.h"
#include "results/start_values.h"
#include "run_program.h"

namespace {

using svfit::console::FormatF;
using svfit::testing::RunProgram;
using svfit::testing::RunResult;

const std::string kSample = SVFIT_SOURCE_DIR "/data/sample";

std::string Times(const std::string& key, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += key;
  return s;
}
// Cursor keys as a terminal sends them: 1 pixel, with Shift 15 pixels.
std::string Left(int n) { return Times("\x1b[1;2D", n / 15) + Times("\x1b[D", n % 15); }
std::string Right(int n) { return Times("\x1b[1;2C", n / 15) + Times("\x1b[C", n % 15); }

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// A row of the parameter table: value, standard deviation (0 when the
// parameter was fixed and the column is blank) and start value.
struct Row {
  double value = 0, sd = 0, start = 0;
};
// The `n`-th (1-based) report row that starts with `label`.
Row TableRow(const std::string& out, const std::string& label, int n = 1) {
  std::size_t p = std::string::npos;
  for (int k = 0; k < n; ++k) {
    p = out.find("\n" + label, p == std::string::npos ? 0 : p + 1);
    if (p == std::string::npos) return {-1, -1, -1};
  }
  const std::string line = out.substr(p + 1 + 32, out.find('\n', p + 1) - p - 1 - 32);
  // VALUE in columns 33..43, STD.DEVIATION 47..57, START VALUES 61..71.
  const std::string sd = line.substr(14, 11);
  return {std::stod(line.substr(0, 11)), sd.find_first_not_of(' ') == std::string::npos ? 0 : std::stod(sd),
          std::stod(line.substr(28, 11))};
}

// Relative agreement in decimal digits.
double Digits(double value, double truth) { return -std::log10(std::fabs(value / truth - 1)); }

const std::string kS1 = "Svedberg coeff. (Svedb.units)   ";
const std::string kS2 = "2.Svedberg coeff.(Svedb.units)  ";
const std::string kC1 = "Initial absorbance              ";
const std::string kC2 = "2.Initial absorbance            ";
const std::string kMeniscus = "Meniscus radius                 ";
const std::string kD1 = "Diffusion coefficient           ";
const std::string kD2 = "2.Diffusion coefficient         ";

// Absorbance run, cell 2, loaded simultaneously; meniscus 6.0498, fitted
// range 6.0997 to 7.0993 cm picked with the crosshair; no distribution.
const std::string kAbsLoaded = "\r\r\rS\r\r" + kSample + "/abs\n2\n\n\n\nE" + Left(168) + "M" + Right(35) + "A" +
                               Right(701) + "E" + "N";
// Interference run, cell 4; meniscus 6.1178, fitted range 6.1713 to 6.9744
// cm; no distribution.
const std::string kIpLoaded =
    "IN\r" + kSample + "/ip\n4\n\n\n\nE" + Left(150) + "M" + Right(40) + "A" + Right(600) + "E" + "N";

class SampleAnalysis : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access((kSample + "/abs/00001.RA2").c_str(), R_OK) != 0) GTEST_SKIP() << "sample runs missing: " << kSample;
  }
  static void ExpectFinished(const RunResult& r) {
    ASSERT_FALSE(r.timedOut) << r.out;
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out.substr(r.out.size() > 3000 ? r.out.size() - 3000 : 0);
    EXPECT_NE(r.out.find(" Your option ?  E\nReally (F)inish  (F/N) F"), std::string::npos);
  }
};

// Two species marked in the viewer as S1 and S2, model C with two components.
TEST_F(SampleAnalysis, AbsorbanceTwoSpeciesMarkedInTheViewer) {
  const std::string setup = std::string("\n\n\n\n\n\n\n")  // end radius, slit speed, iterations,
                                                           // damping, psv, density, viscosity
                            + "N" + "C"                    // no RI noise, model C
                            + Right(490) + "1" + Right(165) + "2" + "\n"  // S1, S2, done
                            + "\n\n" + "0\n";              // component volumes, nothing fixed
  const std::string results = std::string("\x1b")          // the fit's picture
                              + "\n\n\n\n" + " " + "\n"    // constants, report pages
                              + "\x1b";                    // the graph
  const RunResult r = RunProgram(kAbsLoaded + setup + results + "EF", 120000, {"--png", "png"});
  ExpectFinished(r);
  const std::string& t = r.out;
  // The solvent is water at the 20.0 °C of the run.
  EXPECT_NE(t.find("viscosity of solution(water=standard cpoise) " +
                   FormatF(1.0 / svfit::results::WaterFluidity(20.0), 8, 6) + "  :  "),
            std::string::npos);
  EXPECT_NE(t.find("[viewer B]\n"), std::string::npos);
  EXPECT_NE(t.find("Parameter(total/estimated)/tau(last set)        8/ 8"), std::string::npos) << t;
  // Simulated: 0.6 OD at 4.4 S with D = 6.0179e-7 cm²/s and 0.2 OD at 6.8 S
  // with D = 4.6502e-7 cm²/s, meniscus 6.05 cm, base line 0.01 OD, noise 0.004 OD.
  EXPECT_GT(Digits(TableRow(t, kS1).value, 4.4), 2.5);
  EXPECT_GT(Digits(TableRow(t, kS2).value, 6.8), 2.5);
  EXPECT_GT(Digits(TableRow(t, kC1).value, 0.6), 2.3);
  EXPECT_GT(Digits(TableRow(t, kC2).value, 0.2), 2.2);
  EXPECT_GT(Digits(TableRow(t, kMeniscus).value, 6.05), 3.5);
  EXPECT_GT(Digits(TableRow(t, kD1).value, 6.0179e-7), 1.8);
  EXPECT_GT(Digits(TableRow(t, kD2).value, 4.6502e-7), 1.8);
  // The start values are the marks: S1 near 4.35 S, S2 near 5.26 S.
  EXPECT_NEAR(TableRow(t, kS1).start, 4.35, 0.02);
  EXPECT_NEAR(TableRow(t, kS2).start, 5.26, 0.02);
  const std::size_t rmsd = t.find("Standard deviation(rmsd)/time diff./SSR      ");
  ASSERT_NE(rmsd, std::string::npos);
  EXPECT_NEAR(std::stod(t.substr(rmsd + 46, 9)), 0.004, 0.0004);  // the simulated noise
  // Pictures: loading (two), start values (two), the fit, the graph.
  EXPECT_EQ(r.pngFiles.size(), 6u);
  EXPECT_EQ(Count(t, "[viewer J]\n"), 2);
}

// RI and TI noise of the interference run; first with the diffusion
// coefficient fixed at its true value, then (W) with every parameter free from
// the kept estimates (E).
TEST_F(SampleAnalysis, InterferenceNoiseFixedThenKeptEstimates) {
  const std::string first = std::string("\n\n\n\n\n\n")  // end radius, iterations, damping,
                                                          // psv, density, viscosity
                            + "YY" + "C" + "\n"           // RI and TI noise, model C, no marks
                            + "1\n" + "5\n" + "6.0179e-7\n";  // parameter 5 fixed at 6.0179e-7
  const std::string results = std::string("\x1b") + "\n\n\n" + " " + "\n" + "\x1b";
  const std::string again = std::string("W") + "\n\n\n\n\n" + "YY" + "C" + "\n" + "E" + "0\n";
  const RunResult r = RunProgram(kIpLoaded + first + results + again + results + "EF", 120000);
  ExpectFinished(r);
  const std::string& t = r.out;
  ASSERT_EQ(Count(t, "\n" + kS1), 2) << t;
  // The base line gives way to the noise terms, D is fixed: s, c0, meniscus.
  EXPECT_NE(t.find("Parameter(total/estimated)/tau(last set)        5/ 3"), std::string::npos);
  EXPECT_NE(t.find("Data points/files/time offset/TI-noise"), std::string::npos);
  const Row d = TableRow(t, kD1);
  EXPECT_DOUBLE_EQ(d.value, 6.0179e-7);
  EXPECT_EQ(d.sd, 0.0);  // fixed: no standard deviation
  // Simulated: 3.0 fringes at 4.4 S, meniscus 6.12 cm, with TI noise of rms
  // 0.02 and RI offsets of sd 0.1 fringes.
  const Row s = TableRow(t, kS1);
  EXPECT_GT(Digits(s.value, 4.4), 3.0);
  EXPECT_GT(Digits(TableRow(t, kC1).value, 3.0), 3.0);
  EXPECT_GT(Digits(TableRow(t, kMeniscus).value, 6.12), 4.0);

  // The second fit starts where the first ended, with damping 1, and fits D too.
  EXPECT_NE(t.find("The until now (E)stimated parameters as start values or (N)ew ones  (E/N) : E"),
            std::string::npos);
  EXPECT_NE(t.find("Parameter(total/estimated)/tau(last set)        5/ 4"), std::string::npos);
  const Row s2 = TableRow(t, kS1, 2);
  EXPECT_NEAR(s2.start, s.value, 1e-4 * s.value);  // both shown to 5 digits
  EXPECT_GT(Digits(s2.value, 4.4), 3.0);
  const Row d2 = TableRow(t, kD1, 2);
  EXPECT_NEAR(d2.start, 6.0179e-7, 1e-11);
  EXPECT_GT(d2.sd, 0.0);
  EXPECT_GT(Digits(d2.value, 6.0179e-7), 2.0);
  const std::size_t damping = t.rfind("Damping parameter,start / epsilon            ");
  ASSERT_NE(damping, std::string::npos);
  EXPECT_EQ(t.substr(damping + 45 + 9, 4), "1.00") << t.substr(damping, 80);  // where it started
  EXPECT_NE(t.find("Damping parameter,start / epsilon     ", 0), damping);
  EXPECT_EQ(t.substr(t.find("Damping parameter,start / epsilon     ") + 45 + 9, 4), "5.00");
}

// 0 iterations: the data are shown with their range; C, G, F and L do
// nothing but show the menu again; R only draws the graph again.
TEST_F(SampleAnalysis, ZeroIterationsShowTheDataAndFitNothing) {
  const std::string input = kAbsLoaded + "\n\n0\n" + "\x1b" + "CGFL" + "R" + "\x1b" + "EF";
  const RunResult r = RunProgram(input, 60000);
  ExpectFinished(r);
  const std::string& t = r.out;
  EXPECT_EQ(Count(t, " Your option ?  "), 6);  // answered C, G, F, L, R, E
  for (const char* letter : {"C", "G", "F", "L"})
    EXPECT_NE(t.find(std::string(" Your option ?  ") + letter + "\nR=Repeats"), std::string::npos) << letter;
  // R: the picture again in the viewer, nothing else.
  const std::string menuR = " Your option ?  R\n";
  const std::size_t atR = t.find(menuR) + menuR.size();
  ASSERT_NE(atR, std::string::npos + menuR.size());
  const std::string afterR = t.substr(atR, t.find("R=Repeats", atR) - atR);
  EXPECT_EQ(afterR.substr(0, 7), "[graph ") << afterR;
  EXPECT_EQ(afterR.substr(afterR.find(']')), "]\n[viewer J]\n") << afterR;
  EXPECT_EQ(Count(t, "[viewer J]\n"), 2);
  EXPECT_EQ(t.find("ORVI"), std::string::npos);  // no report
  EXPECT_EQ(t.find("specific density (rho)            (standard)"), std::string::npos);
}

}  // namespace
