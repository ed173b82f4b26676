// The sample runs loaded by the real program through pipes, the radial range
// picked with scripted crosshair keys: simultaneous absorbance and
// interference loading, one-by-one loading, and the pictures of --png.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "console/format.h"
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

// The plot of a series maps its radii onto the pixel columns 112 .. 1023 of
// the 1024 x 768 surface; the crosshair starts in column 350.
double RadiusAt(int x, double xMin, double xMax) { return xMin + (x - 112) / 911.0 * (xMax - xMin); }

// Points of the sample absorbance grid 5.95 + 0.003 k (k = 0 .. 433) in [lo, hi].
int AbsorbancePointsIn(double lo, double hi) {
  int n = 0;
  for (int k = 0; k < 434; ++k) {
    const double r = std::round((5.95 + 0.003 * k) * 1e4) / 1e4;
    n += r >= lo - 1e-6 && r <= hi + 1e-6;
  }
  return n;
}

// The crosshair lines of the transcript: one when picking starts, one per key.
std::vector<std::string> CrossLines(const std::string& out) {
  std::vector<std::string> lines;
  for (std::size_t p = out.find("[cross "); p != std::string::npos; p = out.find("[cross ", p + 1))
    lines.push_back(out.substr(p, out.find('\n', p) - p));
  return lines;
}
double Field(const std::string& line, const std::string& name) {
  const std::size_t p = line.find(name + " = ");
  return p == std::string::npos ? -1 : std::stod(line.substr(p + name.size() + 3));
}
int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

const std::string kAbsOptions = "\r\r\rS\r\r";  // new absorbance files, simultaneous, outliers corrected
// Meniscus at column 182, start radius at 217, end radius at 918: picking
// ends by itself with the E.
const std::string kAbsPick = Left(168) + "M" + Right(35) + "A" + Right(701) + "E";
// No distribution, no common end radius, default slit speed, no fit (the
// data in the viewer, left with Escape), finish.
const std::string kAbsToTheEnd = "N\n\n0\n\x1b" "EF";

class SampleRun : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access((kSample + "/abs/00001.RA2").c_str(), R_OK) != 0) GTEST_SKIP() << "sample runs missing: " << kSample;
  }
  static void ExpectFinished(const RunResult& r) {
    ASSERT_FALSE(r.timedOut) << r.out;
    EXPECT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_NE(r.out.find(" Your option ?  E\nReally (F)inish  (F/N) F"), std::string::npos) << r.out;
  }
};

TEST_F(SampleRun, AbsorbanceSeriesRangePickedWithTheCrosshair) {
  const RunResult r =
      RunProgram(kAbsOptions + kSample + "/abs\n2\n\n\n\nE" + kAbsPick + kAbsToTheEnd, 60000);
  ExpectFinished(r);
  const double xMin = 5.95, xMax = 7.249;  // the 30 scans of 434 points
  const double meniscus = RadiusAt(182, xMin, xMax), start = RadiusAt(217, xMin, xMax);
  const double end = RadiusAt(918, xMin, xMax);
  EXPECT_EQ(Count(r.out, "[viewer N]\n"), 1);
  const std::vector<std::string> cross = CrossLines(r.out);
  ASSERT_EQ(cross.size(), 1u + 14 + 1 + 7 + 1 + 57 + 1);  // the start, then one per key
  EXPECT_EQ(cross.front().substr(cross.front().find(" Radius")),
            " Radius = " + FormatF(RadiusAt(350, xMin, xMax), 0, 4) + " Meniscus = 0.0000 bottom = 0.0000]");
  EXPECT_EQ(cross.back().substr(cross.back().find(" Radius")), " Radius = " + FormatF(end, 0, 4) +
                                                                   " Meniscus = " + FormatF(meniscus, 0, 4) +
                                                                   " bottom = " + FormatF(end, 0, 4) + "]");
  // The points from the meniscus to the end radius are kept in every scan.
  const int n = AbsorbancePointsIn(meniscus, end);
  EXPECT_EQ(n, 350);
  EXPECT_NE(r.out.find("[graph 2]\n"
                       "start radius for fitting   : " + FormatF(start, 7, 4) + "\n" +
                       "end radius for fitting     : " + FormatF(end, 7, 4) + "\n" +
                       "meniscus radius            : " + FormatF(meniscus, 7, 4) + "\n" +
                       "Number of data points/file : " + std::to_string(n) + "/ 30\n"),
            std::string::npos)
      << r.out;
  // The bottom pile-up above 3 OD lies beyond the end radius: nothing to correct.
  EXPECT_EQ(r.out.find("data point(s) corrected"), std::string::npos);
  EXPECT_NE(r.out.find("Calculate Sedimentation Coefficient distribution (Y/N) :  N\n"), std::string::npos);
}

TEST_F(SampleRun, InterferenceSeriesRangePickedWithTheCrosshair) {
  // Interference files without a 3000 rpm contour: no load-mode or outlier
  // question; cell 4; meniscus, start and end picked; no distribution, no
  // common end radius, no fit.
  const std::string pick = Left(150) + "M" + Right(40) + "A" + Right(600) + "E";
  const RunResult r = RunProgram("IN\r" + kSample + "/ip\n4\n\n\n\nE" + pick + "N\n0\n\x1b" "EF", 60000);
  ExpectFinished(r);
  const std::vector<std::string> cross = CrossLines(r.out);
  // Keys: 10 + M + 12 + A + 40 + E.
  ASSERT_EQ(cross.size(), 1u + 10 + 1 + 12 + 1 + 40 + 1);
  const double meniscus = Field(cross[11], "Meniscus");  // after M
  const double start = Field(cross[24], "Radius");       // at A
  const double end = Field(cross.back(), "bottom");      // after E
  EXPECT_DOUBLE_EQ(Field(cross[10], "Radius"), meniscus);
  const double cmPerPixel = 1709 * 0.00071350165 / 911;  // 1710 grid points over 911 pixels
  EXPECT_NEAR(start - meniscus, 40 * cmPerPixel, 2e-4);
  EXPECT_NEAR(end - start, 600 * cmPerPixel, 2e-4);
  // Every scan keeps the pixel grid (0.00071350165 cm) from the meniscus to the end.
  const std::string counts = "Number of data points/file : ";
  const std::size_t at = r.out.find(counts);
  ASSERT_NE(at, std::string::npos) << r.out;
  const int n = std::stoi(r.out.substr(at + counts.size()));
  // A range of L cm holds floor(L / step) or one more grid points (L from
  // radii shown to 4 decimals).
  const double steps = (end - meniscus) / 0.00071350165;
  EXPECT_GE(n, std::floor(steps - 0.3));
  EXPECT_LE(n, std::floor(steps + 0.3) + 1);
  EXPECT_EQ(r.out.substr(at + counts.size() + std::to_string(n).size(), 5), "/ 16\n");
  EXPECT_NE(r.out.find("start radius for fitting   : " + FormatF(start, 7, 4) + "\n" +
                       "end radius for fitting     : " + FormatF(end, 7, 4) + "\n" +
                       "meniscus radius            : " + FormatF(meniscus, 7, 4) + "\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("correct data outlies"), std::string::npos);
}

TEST_F(SampleRun, OneByOneEachFilePickedAndEveryPictureSavedAsPng) {
  // Files 1, 11 and 21 (every tenth), loaded one by one: the first picked as
  // above, the next two keep its marks (Enter); end of loading at the end of
  // the series.
  const std::string input = "\r\r\rO\r\r" + kSample + "/abs\n2\n\n10\n\n" + kAbsPick + "\r\r" + "E" + kAbsToTheEnd;
  const RunResult r = RunProgram(input, 60000, {"--png", "png"});
  ExpectFinished(r);
  EXPECT_EQ(Count(r.out, "[viewer N]\n"), 3);
  EXPECT_EQ(Count(r.out, "number of data points      :  434\n"), 3);
  for (int k = 1; k <= 3; ++k)
    EXPECT_NE(r.out.find("Number of data points/file : 350/  " + std::to_string(k) + "\n"), std::string::npos) << k;
  EXPECT_NE(r.out.find("Name des  3.  data files   : " + kSample + "/abs/00021.RA2\n"), std::string::npos);
  // Two pictures per file: waiting for the crosshair keys, then with the
  // marks; then the data without a fit.
  ASSERT_EQ(r.pngFiles.size(), 7u);
  for (int k = 1; k <= 7; ++k) {
    const std::string name = "graph-00" + std::to_string(k) + ".png";
    EXPECT_EQ(r.pngFiles[static_cast<std::size_t>(k - 1)].first, name);
    EXPECT_EQ(r.pngFiles[static_cast<std::size_t>(k - 1)].second, "\x89PNG\r\n\x1a\n");
    EXPECT_NE(r.out.find("[graph " + std::to_string(k) + ": png/" + name + "]\n"), std::string::npos) << k;
  }
}

}  // namespace
