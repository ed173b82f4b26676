// Plot files from a whole session of the real program: the sample absorbance
// run fitted with model C, a text placed in its graph, option Z twice (the
// data with fit, residuals and the text, then residual panels appended to the
// same file); a new analysis of the same run with its distribution g(s*),
// plotted onto the end of the file; then E. svfit-plot draws the file as a
// three-page PDF.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

const std::string kProgram = SVFIT_BINARY_DIR "/src/driver/svfit";
const std::string kPlotTool = SVFIT_BINARY_DIR "/tools/plot/svfit-plot";
const std::string kSample = SVFIT_SOURCE_DIR "/data/sample";

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Crosshair steps to the right: 15 pixels with Shift, then single pixels.
std::string Right(int n) {
  std::string s;
  for (int i = 0; i < n / 15; ++i) s += "\x1b[1;2C";
  for (int i = 0; i < n % 15; ++i) s += "\x1b[C";
  return s;
}
std::string Left(int n) {
  std::string s;
  for (int i = 0; i < n / 15; ++i) s += "\x1b[1;2D";
  for (int i = 0; i < n % 15; ++i) s += "\x1b[D";
  return s;
}

TEST(HpglSession, FitThenTwoPlotsInOneFileThenTheDistributionOfANewAnalysis) {
  if (access((kSample + "/abs/00001.RA2").c_str(), R_OK) != 0) GTEST_SKIP() << "sample runs missing";
  std::string pattern = (fs::temp_directory_path() / "svfit-plots-XXXXXX").string();
  const fs::path dir = ::mkdtemp(pattern.data());
  const std::string load = std::string("\r\r\rS\r\r") + kSample + "/abs\n2\n\n\n\nE"  // run options, files
                           + Left(168) + "M" + Right(35) + "A" + Right(701) + "E" + "\n\n";  // range; all sets
  const std::string fit =
      load + "N"                                                      // no distribution
      + "\n\n\n\n\n\n\n" + "N" + "C"                                // set-up, model C
      + Right(490) + "1" + Right(165) + "2" + "\n" + "\n\n" + "0\n"  // S1, S2; psv; none fixed
      + "\x1b" + "\n\n\n\n" + " " + "\n"                              // fit, constants, report
      + "\n\x16Peak A\n\n\x1b";                                      // graph: a text placed with Ctrl-V
  const std::string frameParts = "YYYY\nYYY\n";  // frame, ticks, numbers, legends
  const std::string plots =
      // Data, fitted curves, the residual band and the text into
      // plots/run.HGL (the directory is created after asking).
      "Z" "N" "NNCYCD" "\n\n\n" "NL" "\n\n" "plots\n" "Y" "run\n" "\n\n" "N" "\n" "NY" "Y" + frameParts + "Y"
      // Residual panels, medium resolution, appended to the same file, without the text.
      + "Z" "N" "YMS" "\n\n\n" "NL" "Y" "N" + frameParts + "Y";
  // A new analysis: its time-derivative distribution up to scan 12 (middle
  // scan 10), straight to the menu, plotted onto the end of the same file;
  // the text of the first analysis is no longer offered.
  const std::string distribution =
      "NF" + load + "YR\r12\nT\r\rY" + "Z" "N" "NY" "NL" "Y" + frameParts + "Y" + "EF";
  std::ofstream(dir / "in", std::ios::binary) << fit + plots + distribution;
  const std::string run = "cd '" + dir.string() + "' && exec timeout -s KILL 120 '" + kProgram +
                          "' --png png <in >out 2>err";
  const int status = std::system(run.c_str());
  const std::string out = Read(dir / "out");
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Read(dir / "err") << out.substr(out.size() - 2000);
  EXPECT_NE(out.find("[plot 1: png/plot-001.png]"), std::string::npos);
  EXPECT_NE(out.find("Shall the new plot file appended to the first plot file  (Y/N)  : Y\n"), std::string::npos);
  EXPECT_EQ(Count(out, "Write additional text on plot    (Y/N) : "), 2);  // not after the restart
  EXPECT_EQ(Count(out, "Draw Sedimentation distribution   (Y/N) : "), 1);  // only with a distribution
  EXPECT_NE(out.find("[plot 3: png/plot-003.png]"), std::string::npos);
  EXPECT_EQ(Read(dir / "png/plot-003.png").substr(1, 3), "PNG");

  // One header, three plots, the text in the first, the distribution's
  // middle scan in the last name label, and the reset sequence at the end.
  const std::string hgl = Read(dir / "plots/run.HGL");
  EXPECT_EQ(hgl.rfind("IN;DT\x03;DF;VS1;", 0), 0u);
  EXPECT_EQ(Count(hgl, "IN;"), 1);
  EXPECT_EQ(Count(hgl, "VS1;"), 3);
  EXPECT_EQ(Count(hgl, "SP;DF;"), 3);
  EXPECT_EQ(Count(hgl, "LBPeak A\x03"), 1);
  EXPECT_TRUE(hgl.ends_with(" run      10\x03;PU;PA0,0;SP0;\nSP;DF;\n\x1b%0A\x1b" "E"));

  const std::string draw = "cd '" + dir.string() + "' && '" + kPlotTool + "' plots/run.HGL -o run.pdf >tool 2>&1";
  EXPECT_EQ(std::system(draw.c_str()), 0) << Read(dir / "tool");
  EXPECT_EQ(Read(dir / "tool"), "run.pdf\n");  // no instruction unknown to the renderer
  const std::string pdf = Read(dir / "run.pdf");
  EXPECT_EQ(Count(pdf, "/Type /Page") - Count(pdf, "/Type /Pages"), 3);
  fs::remove_all(dir);
}

}  // namespace
