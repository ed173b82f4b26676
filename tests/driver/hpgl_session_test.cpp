// Plot files from a whole session of the real program: the sample absorbance
// run fitted with model C, option Z twice (the data with fit and residuals,
// then residual panels appended to the same file), then E; svfit-plot draws
// the file as a two-page PDF.
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

TEST(HpglSession, FitThenTwoPlotsInOneFileThenEnd) {
  if (access((kSample + "/abs/00001.RA2").c_str(), R_OK) != 0) GTEST_SKIP() << "sample runs missing";
  std::string pattern = (fs::temp_directory_path() / "svfit-plots-XXXXXX").string();
  const fs::path dir = ::mkdtemp(pattern.data());
  const std::string fit =
      std::string("\r\r\rS\r\r") + kSample + "/abs\n2\n\n\n\nE"   // run options, files
      + Left(168) + "M" + Right(35) + "A" + Right(701) + "E" + "\n\nN"  // range; all sets; no distribution
      + "\n\n\n\n\n\n\n" + "N" + "C"                                // set-up, model C
      + Right(490) + "1" + Right(165) + "2" + "\n" + "\n\n" + "0\n"  // S1, S2; psv; none fixed
      + "\x1b" + "\n\n\n\n" + " " + "\n" + "\x1b";                   // fit, constants, report, graph
  const std::string frameParts = "YYYY\nYYY\n";  // frame, ticks, numbers, legends
  const std::string plots =
      // Data, fitted curves and the residual band into plots/run.HGL (the
      // directory is created after asking).
      "Z" "N" "NNCYCD" "\n\n\n" "NL" "\n\n" "plots\n" "Y" "run\n" "\n\n" "N" "\n" "NY" + frameParts + "Y"
      // Residual panels, medium resolution, appended to the same file.
      + "Z" "N" "YMS" "\n\n\n" "NL" "Y" + frameParts + "Y" + "EF";
  std::ofstream(dir / "in", std::ios::binary) << fit + plots;
  const std::string run = "cd '" + dir.string() + "' && exec timeout -s KILL 120 '" + kProgram +
                          "' --png png <in >out 2>err";
  const int status = std::system(run.c_str());
  const std::string out = Read(dir / "out");
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Read(dir / "err") << out.substr(out.size() - 2000);
  EXPECT_NE(out.find("[plot 1: png/plot-001.png]"), std::string::npos);
  EXPECT_NE(out.find("Shall the new plot file appended to the first plot file  (Y/N)  : Y\n"), std::string::npos);
  EXPECT_NE(out.find("[plot 2: png/plot-002.png]"), std::string::npos);
  EXPECT_EQ(Read(dir / "png/plot-002.png").substr(1, 3), "PNG");

  // One header, two plots, and the reset sequence at the end of the program.
  const std::string hgl = Read(dir / "plots/run.HGL");
  EXPECT_EQ(hgl.rfind("IN;DT\x03;DF;VS1;", 0), 0u);
  EXPECT_EQ(Count(hgl, "IN;"), 1);
  EXPECT_EQ(Count(hgl, "VS1;"), 2);
  EXPECT_EQ(Count(hgl, "SP;DF;"), 2);
  EXPECT_TRUE(hgl.ends_with("SP;DF;\n\x1b%0A\x1b" "E"));

  const std::string draw = "cd '" + dir.string() + "' && '" + kPlotTool + "' plots/run.HGL -o run.pdf >tool 2>&1";
  EXPECT_EQ(std::system(draw.c_str()), 0) << Read(dir / "tool");
  EXPECT_EQ(Read(dir / "tool"), "run.pdf\n");  // no instruction unknown to the renderer
  const std::string pdf = Read(dir / "run.pdf");
  EXPECT_EQ(Count(pdf, "/Type /Page") - Count(pdf, "/Type /Pages"), 2);
  fs::remove_all(dir);
}

}  // namespace
