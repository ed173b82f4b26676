// The real program driven as a batch user or a script does. On a file of keys:
// whole analyses of the sample runs (run options, loading, crosshair range,
// set-up, fit, report, option menu, restart), the radial distribution and the
// SEDFIT files, plot files drawn by svfit-plot, the ends on Ctrl-C and on
// exhausted input, and no crash or hang on arbitrary bytes. Over two pipes,
// answered as its output arrives: meniscus, range, S1 and S2 placed with typed
// positions ("=") and then reached with arrow keys, steered by the [cross]
// lines, must fit the same numbers; the results file and its curve files
// against the report; each prompt on the pipe before its answer is read.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "console/format.h"
#include "results/start_values.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using svfit::console::FormatExp11;
using svfit::console::FormatF;

const char* const kProgram = SVFIT_BINARY_DIR "/src/driver/svfit";
const std::string kSample = SVFIT_SOURCE_DIR "/data/sample";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}
bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The program on a file of keys as standard input (not a terminal), in a
// temporary directory of its own that goes with the object; a run that hangs
// is killed after `limitSeconds`.
struct ProgramRun {
  ProgramRun() {
    std::string pattern = (fs::temp_directory_path() / "svfit-app-XXXXXX").string();
    dir = ::mkdtemp(pattern.data());
    // No printer, whatever the machine has: option D writes its file here.
    fs::create_directory(dir / "bin");
    std::ofstream(dir / "bin/lpstat") << "#!/bin/sh\nexit 1\n";
    fs::permissions(dir / "bin/lpstat", fs::perms::owner_all);
  }
  ~ProgramRun() { fs::remove_all(dir); }
  void Run(const std::string& input, const std::string& options = "", int limitSeconds = 60) {
    std::ofstream(dir / "in", std::ios::binary) << input;
    const std::string d = dir.string(), limit = std::to_string(limitSeconds);
    const std::string command = "cd '" + d + "' && PATH='" + d + "/bin':$PATH exec timeout" +
                                " -s KILL " + limit + " '" + kProgram + "' " + options +
                                " <in >out 2>err";
    const int status = std::system(command.c_str());
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    timedOut = exitCode == 128 + SIGKILL;
    out = Read("out");
    err = Read("err");
  }
  std::string Read(const std::string& name) const { return ReadAll(dir / name); }

  fs::path dir;
  int exitCode = -1;  // 128 + n: ended by signal n
  bool timedOut = false;
  std::string out, err;
};

const std::string kGen = "(O)ld or (N)ew XLA-files (New=default) or (I)nterference  (O/N/I) :  ";
const std::string kInterp = "Interpolate missing data points                 (Y/N) :  ";
const std::string kConc3000 = "Calculate concentration from 3000 rpm file      (Y/N) :  ";
const std::string kContour = "Subtraction of the whole 3000 rpm contour       (Y/N) :  ";
const std::string kLoad = "Load all files (S)imultaneously or (O)ne by one (S/O) :  ";
const std::string kOutlier = "correct data outlies   (Yes=default)            (Y/N) :  ";
const std::string kBottom = "calculation of last bottom point                (Y/N) :  ";
const std::string kSeries = "load data files in ascent sequence  !\n";
const std::string kMenu = " Your option ?  ";
const std::string kRestart = kMenu + "N\nReally new (F)ile loading  (F/N) F\n";
const std::string kFinish = kMenu + "E\nReally (F)inish  (F/N) F";

// Cursor keys as a terminal sends them: 1 pixel, with Shift 15 pixels.
std::string Keys(const std::string& shift, const std::string& one, int n) {
  std::string s;
  for (int i = 0; i < n / 15; ++i) s += shift;
  for (int i = 0; i < n % 15; ++i) s += one;
  return s;
}
std::string Left(int n) { return Keys("\x1b[1;2D", "\x1b[D", n); }
std::string Right(int n) { return Keys("\x1b[1;2C", "\x1b[C", n); }

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}
// The text from the first `from` on up to the next `to`.
std::string Between(const std::string& text, const std::string& from, const std::string& to) {
  const auto a = text.find(from);
  return a == std::string::npos ? "" : text.substr(a, text.find(to, a + from.size()) - a);
}

// A row of the parameter table: value, standard deviation (0 when blank:
// fixed) and start value, of the `n`-th row that starts with `label`.
struct Row {
  double value = -1, sd = -1, start = -1;
};
Row TableRow(const std::string& out, const std::string& label, int n = 1) {
  std::size_t p = 0;
  for (int k = 0; k < n; ++k)
    if ((p = out.find("\n" + label, k == 0 ? 0 : p + 1)) == std::string::npos) return {};
  const std::string line = out.substr(p + 1 + 32, 39);  // columns 33..71
  const std::string sd = line.substr(14, 11);
  return {std::stod(line.substr(0, 11)),
          sd.find_first_not_of(' ') == std::string::npos ? 0 : std::stod(sd),
          std::stod(line.substr(28, 11))};
}
// Relative agreement in decimal digits.
double Digits(double value, double truth) { return -std::log10(std::fabs(value / truth - 1)); }

const std::string kS1 = "Svedberg coeff. (Svedb.units)   ";
const std::string kD1 = "Diffusion coefficient           ";
const std::string kCounts = "Number of data points/file : ";
const std::string kDamping = "Damping parameter,start / epsilon            ";

// The sample absorbance run loaded simultaneously from cell 2, its range
// picked: meniscus at pixel column 182 (6.0498 cm), start radius at 217
// (6.0997 cm), end radius at 918 (7.0993 cm); picking ends by itself with E.
const std::string kPick = Left(168) + "M" + Right(35) + "A" + Right(701) + "E";
const std::string kLoadAbs = "\r\r\rS\r\r" + kSample + "/abs\n2\n\n\n\nE" + kPick;
// After a fit: its picture, `constants` answers after it, the report, the graph.
std::string Results(int constants) {
  return std::string("\x1b").append(constants, '\n').append(" \n\x1b");
}

class Analysis : public ::testing::Test {
 protected:
  // The transcript of a run that must end normally.
  const std::string& Analyse(const std::string& input, const std::string& options = "",
                             int limitSeconds = 60) {
    run.Run(input, options, limitSeconds);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.err << run.out.substr(run.out.size() / 2);
    return run.out;
  }
  ProgramRun run;
};

class Session : public Analysis {
 protected:
  void SetUp() override {
    if (access((kSample + "/abs/00001.RA2").c_str(), R_OK) != 0)
      GTEST_SKIP() << "sample runs missing: " << kSample;
  }
};

// The absorbance run (simulated: 0.6 OD at 4.4 S, D = 6.0179e-7 cm²/s and
// 0.2 OD at 6.8 S, D = 4.6502e-7 cm²/s; meniscus 6.05 cm, base line 0.01 OD,
// noise 0.004 OD): loaded simultaneously, range picked, first 0 iterations,
// then (W) two species marked in the viewer and fitted with model C, a text
// placed in its graph, option Z twice (the data with fit, residuals and the
// text, then residual panels appended to the same file); then (N) a new loading
// of every tenth file one by one; then (N) a new analysis of the whole run with
// its distribution g(s*), plotted onto the end of the file, which svfit-plot
// draws as a three-page PDF. Every picture saved as PNG.
TEST_F(Session, AbsorbanceRunZeroIterationsTwoSpeciesPlotsOneByOneAndADistribution) {
  const std::string frameParts = "YYYY\nYYY\n";  // frame, ticks, numbers, legends
  const std::string input =
      std::string("\r\n\r\n\r\nx\r\ns\r\n\n")      // run options: CR LF answers, x refused
      + kSample + "/abs\n2\n\n\n\nE" + kPick      // cell 2, defaults
      + "\n\n" + "N"                               // every data set; no distribution
      + "\n\n0\n" + "\x1b"                         // end radius, slit speed, 0 iterations
      + "CGFL" + "R" + "\x1b"                      // no fit: nothing, then the data again
      + "W" + "\n\n\n\n\n" + "N" + "C"             // iterations .. viscosity, no RI, model C
      + Right(490) + "1" + Right(165) + "2" + "\n" + "\n\n" + "0\n"  // S1, S2; psv; none fixed
      + "\x1b" + "\n\n\n\n" + " " + "\n"  // fit, constants, report
      + "\n\x16Peak A\n\n\x1b"              // graph: a text placed with Ctrl-V
      // Data, fitted curves, the residual band and the text into plots/run.HGL
      // (the directory is created after asking).
      + "Z" "N" "NNCYCD" "\n\n\n" "NL" "\n\n" "plots\n" "Y" "run\n" "\n\n" "N" "\n" "NY" "Y" +
      frameParts + "Y"
      // Residual panels, medium resolution, appended to the same file, without the text.
      + "Z" "N" "YMS" "\n\n\n" "NL" "Y" "N" + frameParts + "Y"
      + "NF" + "\r\r\rO\r\r" + kSample + "/abs\n2\n\n10\n\n" + kPick  // marks kept
      + "\r\r" + "E" + "\n\nN\n\n0\n\x1b"
      // The time-derivative distribution up to scan 12 (middle scan 10), straight
      // to the menu, plotted onto the end of the same file; the text of the first
      // analysis is no longer offered.
      + "NF" + kLoadAbs + "\n\nYR\r12\nT\r\rY" + "Z" "N" "NY" "NL" "Y" + frameParts + "Y" + "EF";
  const std::string& t = Analyse(input, "--png png", 120);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(t.substr(0, t.find("device")), kGen + "N\n" + kInterp + "N\n" + kConc3000 + "N\n" +
                                               kLoad + "\n" + kLoad + "\n" + kLoad + "S\n" +
                                               kOutlier + "Y\n" + kBottom + "N\n" + kSeries);

  // The plot maps the radii 5.95 .. 7.249 cm onto the pixel columns 112 .. 1023.
  const auto radiusAt = [](int x) { return FormatF(5.95 + (x - 112) / 911.0 * 1.299, 0, 4); };
  // Of the grid 5.95 + 0.003 k, the points 6.0498 .. 7.0993 cm are kept in
  // all 30 scans; the bottom pile-up above 3 OD lies beyond: nothing corrected.
  EXPECT_TRUE(Has(t, "start radius for fitting   :  " + radiusAt(217) + "\n" +
                         "end radius for fitting     :  " + radiusAt(918) + "\n" +
                         "meniscus radius            :  " + radiusAt(182) + "\n" + kCounts +
                         "350/ 30\n"));
  EXPECT_EQ(t.find("data point(s) corrected"), std::string::npos);

  // 0 iterations: the data in the viewer; C, G, F and L show the menu again,
  // R only draws the graph again; no report.
  const std::string noFit = Between(t, "max. number of iterations", kMenu + "W");
  for (const char* letter : {"C", "G", "F", "L"})
    EXPECT_TRUE(Has(noFit, kMenu + letter + "\nR=Repeats")) << letter;
  EXPECT_TRUE(Has(noFit, kMenu + "R\n[graph 4: png/graph-004.png]\n[viewer J]\nR=Repeats"));
  EXPECT_EQ(t.find("ORVI"), t.find("ORVI", t.find(kMenu + "W")));

  // The fit from the marks: S1 near 4.35 S, S2 near 5.26 S; the solvent is
  // water at the 20.0 °C of the run.
  EXPECT_TRUE(Has(t, "viscosity of solution(water=standard cpoise) " +
                         FormatF(1.0 / svfit::results::WaterFluidity(20.0), 8, 6) + "  :  "));
  EXPECT_TRUE(Has(t, "Parameter(total/estimated)/tau(last set)        8/ 8"));
  const Row s1 = TableRow(t, kS1), s2 = TableRow(t, "2.Svedberg coeff.(Svedb.units)  ");
  EXPECT_NEAR(s1.start, 4.35, 0.02);
  EXPECT_NEAR(s2.start, 5.26, 0.02);
  // D of a sphere with friction ratio 1.5 at the marked s: with k = R/N_A and
  // η in poise, D = k·T/(π·1.5^1.5·η^1.5)·√((1 − v̄ρ)/(162·v̄·s)).
  const double eta = 0.01 / svfit::results::WaterFluidity(20.0);
  const double d1 = 8.316e7 / 6.0247e23 * 293.15 / (M_PI * std::pow(1.5 * eta, 1.5)) *
                    std::sqrt((1 - 0.736) / (162 * 0.736 * s1.start * 1e-13));
  EXPECT_NEAR(TableRow(t, kD1).start / d1, 1.0, 2e-4);
  EXPECT_NEAR(TableRow(t, "2.Diffusion coefficient ").start / d1, std::sqrt(s1.start / s2.start),
              2e-4);
  const std::tuple<std::string, double, double> truth[] = {
      // label, value, digits
      {kS1, 4.4, 2.5},
      {"2.Svedberg coeff.(Svedb.units)  ", 6.8, 2.5},
      {"2.Initial absorbance            ", 0.2, 2.2},
      {"Meniscus radius     ", 6.05, 3.5},
      {kD1, 6.0179e-7, 1.8},
      {"2.Diffusion coefficient         ", 4.6502e-7, 1.8}};
  for (const auto& [label, value, digits] : truth)
    EXPECT_GT(Digits(TableRow(t, label).value, value), digits) << label;
  const auto rmsd = t.find("Standard deviation(rmsd)/time diff./SSR      ");
  ASSERT_NE(rmsd, std::string::npos);
  EXPECT_NEAR(std::stod(t.substr(rmsd + 46, 9)), 0.004, 0.0004);  // the simulated noise
  EXPECT_EQ(t.find("Archibald"), std::string::npos);              // not for two components

  // One by one after the restart: files 1, 11 and 21, each picked (the
  // first) or with the kept marks, each with its count.
  const std::string again = Between(t, kRestart, kRestart).substr(kRestart.size());
  EXPECT_EQ(again.substr(0, again.find(kSeries)), kGen + "N\n" + kInterp + "N\n" + kConc3000 +
                                                      "N\n" + kLoad + "O\n" + kOutlier + "Y\n" +
                                                      kBottom + "N\n");
  EXPECT_EQ(Count(again, "[viewer N]\n"), 3);
  for (int k = 1; k <= 3; ++k)
    EXPECT_TRUE(Has(again, kCounts + "350/  " + std::to_string(k) + "\n")) << k;
  EXPECT_TRUE(Has(again, "Name des  3.  data files   : " + kSample + "/abs/00021.RA2\n"));
  EXPECT_TRUE(Has(t, kFinish));

  // Pictures up to the second restart: loading 2, no fit 2, marks 2, fit and
  // graph 2, the graph again and with its text 2, one by one 6 and 1; after it
  // 6 more, and the three plots. Each a PNG file named in the transcript.
  const auto second = t.find(kRestart, t.find(kRestart) + 1);
  EXPECT_LT(t.find("[graph 17: "), second);
  EXPECT_GT(t.find("[graph 18: "), second);
  EXPECT_EQ(std::distance(fs::directory_iterator(run.dir / "png"), {}), 23 + 3);
  for (const auto& e : fs::directory_iterator(run.dir / "png")) {
    const std::string name = e.path().filename().string(), kind = name.substr(0, name.find('-'));
    EXPECT_EQ(ReadAll(e.path()).substr(0, 8), "\x89PNG\r\n\x1a\n") << name;
    EXPECT_TRUE(Has(t, "[" + kind + " " + std::to_string(std::stoi(name.substr(kind.size() + 1))) +
                           ": png/" + name + "]\n"));
  }
  // The second plot appended; the text offered before the restart only.
  EXPECT_TRUE(Has(t, "Shall the new plot file appended to the first plot file  (Y/N)  : Y\n"));
  EXPECT_EQ(Count(t, "Write additional text on plot    (Y/N) : "), 2);  // not after the restart
  EXPECT_EQ(Count(t, "Draw Sedimentation distribution   (Y/N) : "), 1);  // with a distribution

  // One header, three plots, the text in the first, the distribution's
  // middle scan in the last name label, and the reset sequence at the end.
  const std::string hgl = run.Read("plots/run.HGL");
  EXPECT_EQ(hgl.rfind("IN;DT\x03;DF;VS1;", 0), 0u);
  EXPECT_EQ(Count(hgl, "IN;"), 1);
  EXPECT_EQ(Count(hgl, "VS1;"), 3);
  EXPECT_EQ(Count(hgl, "SP;DF;"), 3);
  EXPECT_EQ(Count(hgl, "LBPeak A\x03"), 1);
  EXPECT_TRUE(hgl.ends_with(" run      10\x03;PU;PA0,0;SP0;\nSP;DF;\n\x1b%0A\x1b" "E"));
  const std::string draw = "cd '" + run.dir.string() + "' && '" SVFIT_BINARY_DIR
                           "/tools/plot/svfit-plot' plots/run.HGL -o run.pdf >tool 2>&1";
  EXPECT_EQ(std::system(draw.c_str()), 0) << run.Read("tool");
  EXPECT_EQ(run.Read("tool"), "run.pdf\n");  // no instruction unknown to the renderer
  const std::string pdf = run.Read("run.pdf");
  EXPECT_EQ(Count(pdf, "/Type /Page") - Count(pdf, "/Type /Pages"), 3);
}

// The absorbance run fitted with model N from two marked species, then (W)
// with model F going on from N's estimates (E), then the option letters after
// F as after N: U, C, G, T, V, R.
TEST_F(Session, AbsorbanceRunModelNThenModelFFromItsEstimates) {
  const std::string marks = Right(490) + "1" + Right(165) + "2" + "\n" + "\n\n";  // S1, S2; psv
  const std::string& t = Analyse(
      kLoadAbs + "\n\nN" + "\n\n\n\n\n\n\n" + "N" + "N" + marks + "0\n" + Results(4)  // model N
      + "W" + "\n\n\n\n" + "N" + "F" + marks + "E" + "0\n" + Results(4)                 // F
      + "Uexport\nY\nE" + "C\x1b" + "G\x1b" + "T\x1b" + "V\x1b" + "R\n\n\n\n \n\x1b" + "EF");
  const std::string afterN = t.substr(t.find(kMenu + "W"));
  EXPECT_TRUE(Has(afterN, "Philo    1997:F\n"));
  EXPECT_TRUE(Has(afterN, "(E)stimated parameters as start values or (N)ew ones  (E/N) : E"));
  // N's report, then F's: the same layout, the letter in the title and the
  // model line; F starts where N ended.
  EXPECT_TRUE(Has(t, "ORVI (N = correct air + bottom boundary)  (absorption)  Date: "));
  EXPECT_TRUE(Has(afterN, "ORVI (F = correct air + bottom boundary)  (absorption)  Date: "));
  EXPECT_TRUE(Has(afterN, "\n(F)" + kSample + "/abs/00001\n"));
  EXPECT_TRUE(Has(afterN, "Parameter(total/estimated)/tau(last set)       10/10"));
  // No approximation to fail: valid up to the last data set.
  EXPECT_TRUE(Has(afterN, "Test for validity<1/no.of data file/RI-noise  0.000     30"));
  for (const std::string& label : {kS1, std::string("2.Svedberg coeff.(Svedb.units)  "),
                                   std::string("Bottom radius                  ")})
    EXPECT_EQ(TableRow(t, label, 2).start, TableRow(t, label, 1).value) << label;
  const std::tuple<std::string, double, double> truth[] = {
      {kS1, 4.4, 3.0},
      {"2.Svedberg coeff.(Svedb.units)  ", 6.8, 2.5},
      {kD1, 6.0179e-7, 1.8},
      {"2.Diffusion coefficient         ", 4.6502e-7, 1.5}};
  for (const auto& [label, value, digits] : truth)
    EXPECT_GT(Digits(TableRow(t, label, 2).value, value), digits) << label;
  const auto rmsd = t.rfind("Standard deviation(rmsd)/time diff./SSR      ");
  EXPECT_NEAR(std::stod(t.substr(rmsd + 46, 9)), 0.004, 0.0004);
  // After F the option letters act as after N: U exports, the graphs are
  // drawn, R shows the report again.
  const std::string options = t.substr(t.find(kMenu + "U"));
  EXPECT_TRUE(Has(options, "30 data files, list.ra9 and ~tmppars.ra9 written to export/"));
  for (const char* letter : {"C", "G", "T", "V"})
    EXPECT_TRUE(Has(options, kMenu + letter + "\n[graph")) << letter;
  EXPECT_EQ(Count(options, "ORVI (F = correct air + bottom boundary)"), 1);
  EXPECT_TRUE(Has(t, kFinish));
}

// The interference run (simulated: 3.0 fringes at 4.4 S, D = 6.0179e-7
// cm²/s, meniscus 6.12 cm, TI noise of rms 0.02, RI offsets of sd 0.1): RI and
// TI noise with D fixed at its true value, then (W) everything free from the
// kept estimates (E), continued (F), then (L) with every parameter fixed;
// then (N) the old-file options and Z at the device prompt.
TEST_F(Session, InterferenceRunNoiseFixedDThenKeptEstimatesThenOldFiles) {
  const std::string& t = Analyse(
      "IN\r" + kSample + "/ip\n4\n\n\n\nE" + Left(150) + "M" + Right(40) + "A" + Right(600) + "E" +
      "\n\nN"                                    // cell 4, range picked, all sets, no distribution
      + "\n\n\n\n\n\n" + "YY" + "C" + "\n"       // defaults, RI and TI noise, C, no marks
      + "1\n" + "5\n" + "6.0179e-7\n" + Results(3)  // parameter 5 fixed
      + "W" + "\n\n\n\n\n" + "YY" + "C" + "\n" + "E" + "0\n" + Results(3)  // kept estimates
      + "F" + Results(3)                                                   // the fit continued
      + "L" + "\n" + "5\n1 2 3 4 5\n" + "3\n4.4\n\n6.12\n6.0179e-7\n" + Results(3)  // the truth
      + "NF" + "oonJ" + "Z\n");
  // Without the 3000 rpm contour no load-mode or outlier question.
  EXPECT_EQ(t.substr(0, t.find(kSeries) + kSeries.size()),
            kGen + "I\n" + kContour + "N\n" + kBottom + "N\n" + kSeries);

  // Picked: meniscus 6.1178 cm, range 6.1713 .. 6.9744 cm; the pixel grid of
  // 0.00071350165 cm holds 1200 points from the meniscus to the end radius.
  EXPECT_TRUE(Has(t,
                  "start radius for fitting   :  6.1713\nend radius for fitting     :  6.9744\n"
                  "meniscus radius            :  6.1178\n" +
                      kCounts + "1200/ 16\n" +
                      "the fit starts at the meniscus; option M moves it to the start radius\n"));

  // First fit: the noise terms replace the base line, D is fixed: 3 of 5.
  ASSERT_EQ(Count(t, "\n" + kS1), 4);  // three fits and the evaluation
  EXPECT_TRUE(Has(t, "Parameter(total/estimated)/tau(last set)        5/ 3"));
  const Row d = TableRow(t, kD1), s = TableRow(t, kS1);
  EXPECT_DOUBLE_EQ(d.value, 6.0179e-7);
  EXPECT_EQ(d.sd, 0.0);
  EXPECT_GT(Digits(s.value, 4.4), 3.0);
  EXPECT_GT(Digits(TableRow(t, "Meniscus radius     ").value, 6.12), 4.0);
  // Second fit: from where the first ended, D free.
  EXPECT_TRUE(Has(t, "(E)stimated parameters as start values or (N)ew ones  (E/N) : E"));
  EXPECT_TRUE(Has(t, "Parameter(total/estimated)/tau(last set)        5/ 4"));
  const Row s2 = TableRow(t, kS1, 2), d2 = TableRow(t, kD1, 2);
  EXPECT_NEAR(s2.start, s.value, 1e-4 * s.value);  // both shown to 5 digits
  EXPECT_GT(Digits(s2.value, 4.4), 3.0);
  EXPECT_NEAR(d2.start, 6.0179e-7, 1e-11);
  EXPECT_GT(d2.sd, 0.0);
  EXPECT_GT(Digits(d2.value, 6.0179e-7), 2.0);
  // F continues the same fit: the start values stay those of the second.
  EXPECT_EQ(TableRow(t, kD1, 3).start, d2.start);
  // The damping each fit started with: the answer 5, then at most 1 going on.
  std::string damping;
  for (auto p = t.find(kDamping); p != std::string::npos; p = t.find(kDamping, p + 1))
    damping += t.substr(p + kDamping.size() + 9, 4) + " ";
  EXPECT_EQ(damping, "5.00 1.00 1.00 1.00 ");
  // One component: the Archibald mass near M = sRT/(D(1 - v̄ρ)) = 67520 g/mol.
  const std::string archibald = "after Archibald(1.File)          ";
  ASSERT_NE(t.rfind(archibald), std::string::npos);
  EXPECT_GT(Digits(std::stod(t.substr(t.rfind(archibald) + archibald.size())), 67520), 1.5);

  // Every parameter fixed at the simulated values: one evaluation, said so
  // under the title, no standard deviations, and the rmsd of the noise
  // (0.005 fringes; the TI and RI noise are eliminated).
  const std::string allFixed = Between(t, kMenu + "L", kRestart);
  EXPECT_TRUE(Has(allFixed, Between(allFixed, "ORVI (C", "\n") +
                                "\nNO FIT: every parameter fixed, the model at the given values\n"))
      << allFixed;
  EXPECT_EQ(TableRow(t, kS1, 4).sd, 0.0);
  EXPECT_EQ(TableRow(t, kS1, 4).value, 4.4);
  EXPECT_NEAR(std::stod(Between(allFixed, "SSR      ", "\n").substr(9)), 0.005, 0.0005);  // rmsd
  EXPECT_EQ(Count(allFixed, "[viewer J]\n"), 2) << allFixed;

  // The old-file options after the restart; Z at the device prompt ends the program.
  const std::string again = t.substr(t.find(kRestart) + kRestart.size());
  EXPECT_EQ(again.substr(0, again.find(kSeries) + kSeries.size()),
            kGen + "O\n" + kLoad + "O\n" + kOutlier + "N\n" + kBottom + "Y\n" + kSeries);
  EXPECT_TRUE(Has(again, "(Y=restart; Z=exit) Z")) << again;
}

// The option menu letter by letter on the absorbance run fitted with model N
// (one component) up to the bottom: each letter's questions, the step where
// the flow goes on, and the data sets and points each fit then uses.
TEST_F(Session, EveryOptionLetterAsksItsQuestionsAndGoesOnWhereItShould) {
  const std::string pick = Left(168) + "M" + Right(35) + "A" + Right(765) + "E";  // to 7.19 cm
  const std::string setup = "\n\n\n\n\n\n";  // slit speed .. viscosity
  const std::string fit = "0\n" + Results(3);  // none fixed
  const std::string refit = "NN\rE" + fit;     // no RI, model N, kept estimates
  const std::string input =
      "\r\r\rS\r\r" + kSample + "/abs\n2\n\n\n\nE" + pick + "\n\nN" + setup + "\nNN\r" + fit +
      "T\x1b" + "A2-4\n" + setup + refit + "S3\n" + setup + refit + "H20\n" + setup + refit +
      "K7.15\n" + refit + "L\n" + fit + "L1.491\n" + fit + "M6.12\n" + refit +
      "Nx" + "OY"  // not after Escape: ESC O would start a key sequence
      + "B10\n-2\n3\n\x1b" + "P\x1b" + "C\x1b" + "G\x1b" + "V\x1b" + "R\n\n\n \n\x1b" + "F" +
      Results(3) + "A\n" + "W\n\n\n\n\nNC\r" + fit + "L\n" + fit + "Dx" + "X" + "Uexport\nY\nE" +
      "ZNNNCYCD\n\n\nNL\n\nplots\nYrun\n\n\nN\nNYYYYY\nYYY\nY" + "Ex" + "EF";
  const std::string& t = Analyse(input);
  EXPECT_TRUE(Has(t,
                  "The last data file to fit(between  1 and  30),now   30 : 30\n"
                  "number of starting file  (between  1 and  30),Now    1 : 1\n"
                  "Calculate Sedimentation"));
  // What the n-th choice of a letter shows up to the menu drawn again.
  const auto block = [&t](char letter, int n = 1) {
    std::size_t p = std::string::npos;
    for (int k = 0; k < n; ++k) p = t.find(kMenu + letter + "\n", p + 1);
    if (p == std::string::npos) return std::string("(not chosen)");
    p += kMenu.size() + 2;
    return t.substr(p, t.find("R=Repeats", p) - p);
  };
  const std::string slit = "slit speed(mm/sec)(", noise = "Eliminate radial independent (RI) noise";
  const std::pair<std::string, std::string> starts[] = {
      {block('A'), "What data files shall be omitted (between  1 and  30)   :  2-4\n" + slit},
      {block('S'), "number of starting file  (between  1 and  27),Now    1 : 3\n" + slit},
      {block('H'), "The last data file to fit(between  3 and  27),now   27 : 20\n" + slit},
      {block('K'), "Radius near bottom (orig.radius= 7.1890) new radius: 7.1890 :  7.15\n" + noise},
      {block('L'), "Calculated proposal for maximal absorbance(fringes) orig :  3.000  :"},
      {block('M'), "New start radius (orig. radius= 6.0997) new radius: 6.0997  :  6.12\n" + noise},
      {block('B'), "Chose last file                              (<= 30) :  10\n"
                   "Chose start file (negativ without suppress)  (<= 10) :  -2\n"
                   "Chose sequence of data files       (each 1. 2. n. )  :  3\n[graph "},
      {block('R'), "note: this fit was made before O restored the data sets; F or W fits them\n"
                   "specific density (rho)            (standard)          1.000000  :  "},
      {block('W'), "max. number of iterations  (200=default)               :  200\n"},
      // Straight back to the menu:
      {block('N'), "Really new (F)ile loading  (F/N) N\nR"},
      {block('O'), "Also the cutted data points shall be restored   (Y/N)  :  Y\nR"},
      {block('A', 2), "What data files shall be omitted (between  1 and  30)   :  \nR"},
      {block('E'), "Really (F)inish  (F/N) N\nR"},
      {block('X'), "no hardcopy to print: Ctrl-L in a graph makes one\nR"},
      {block('U'), "device with path way (without file name)       : "},
      {block('Z'), "Bold text for slide ?             (Y/N) : N\n"}};
  for (const auto& [text, start] : starts)
    EXPECT_EQ((text + "R").substr(0, start.size()), start);
  // L: the plateau lies below the loading, so 1.05 × the initial absorbance
  // of the fit before (K's, the 5th) is proposed; then A_max, kept by an
  // empty answer; then the parameters. Model C (after W): no proposal.
  EXPECT_EQ(block('L').substr(68, 7),
            FormatF(1.05 * TableRow(t, "Initial absorbance ", 5).value, 6, 3) + "\n");
  EXPECT_NE(block('L').find(")   0.000  : 0.000\nsequence of the parameters\n"), std::string::npos);
  EXPECT_NE(block('L', 2).find(")   0.000  : 1.491\nsequence of the parameters\n"),
            std::string::npos);
  EXPECT_EQ(block('L', 3).substr(0, 23), "Common max. absorbance ");
  for (char c : std::string("TPCGV"))  // the graph in the viewer, nothing else
    EXPECT_TRUE(std::regex_match(block(c), std::regex(R"(\[graph \d+\]\n\[viewer J\]\n)"))) << c;
  EXPECT_TRUE(std::regex_search(block('D'),
                                std::regex("report written to ./svfit-print-.*\ndata send off\n")));

  // Data points and sets of each report: all; without 2 to 4; from the 3rd;
  // to the 20th; cut at 7.15 cm (then twice L: nothing above 1.491 OD is
  // left); from 6.12 cm; R after O shows that fit again; F after O, W and L
  // fit every point.
  std::string used;
  const std::regex row(R"(Data points/files/time offset/TI-noise +(\d+)/ *(\d+))");
  for (std::sregex_iterator m(t.begin(), t.end(), row), end; m != end; ++m)
    used += (*m)[1].str() + "/" + (*m)[2].str() + " ";
  EXPECT_EQ(used, "11400/30 10260/27 9500/25 6840/18 6606/18 6606/18 6606/18 6192/18 6192/30 "
                  "11400/30 11400/30 11400/30 ");
  EXPECT_TRUE(Has(t, kFinish));
}

// The radial distribution, then the time derivative up to scan 12 with two
// peaks marked, model C from them, U into a new directory and into one where
// a file cannot be written. The scan files are only read.
TEST_F(Session, DistributionThenModelCFromItsPeaksThenTheSedfitFiles) {
  const fs::path sample = kSample + "/abs";
  std::map<fs::path, std::string> before;  // the contents of every input file
  for (const auto& e : fs::directory_iterator(sample)) before[e.path()] = ReadAll(e.path());
  fs::create_directories(run.dir / "blocked/list.ra0");  // directories where files go
  fs::create_directories(run.dir / "sample.FHT");
  std::ofstream(run.dir / "blocked/00001.ra0") << "old";
  std::ofstream(run.dir / "blocked/notes.txt") << "mine";
  const std::string& t = Analyse(
      kLoadAbs + "\n\nYR\r" + "12\n" + "T"  // all sets; R; T to scan 12
      + "=4.2\n1=6\n2\r\rN"                   // S1, S2 typed, kept
      + "\n\n\n\n\n\n\nNC\n\n0\n\x1bx"       // defaults, no RI noise, C, none fixed; a key
      + "\n\n\n\n \n\x1b"                        // constants, report, graph
      + "Uexport/new\nY" + ".5\n0\n\nE"          // .5 and 0 refused, then 1
      + "Ublocked\n\nOx" + "EF");                 // a file fails; a key; end

  EXPECT_TRUE(Has(t,
                  "Designate new last file for difference between   5- 30 :  \n"
                  "Go directly for producing the distribution plot  (Y/N) :  N\n"));
  EXPECT_TRUE(Has(t, "components from the distribution:  S1 = 4.20  S2 = 6.00\n"));
  EXPECT_NEAR(TableRow(t, kS1).value / 4.4, 1.0, 0.005);
  EXPECT_NEAR(TableRow(t, "2.Svedberg coeff.(Svedb.units)  ").value / 6.8, 1.0, 0.005);
  // The time-method distribution after the fit with C, named after the
  // folder above the run, cannot be written; the SEDFIT files.
  EXPECT_TRUE(Has(t,
                  "cannot write the distribution file sample.FHT in the current directory\n"
                  "press a key"));
  const std::string divisor =
      "Divisor for conversion of data values to concentration for equilibria :";
  EXPECT_TRUE(Has(t, divisor + ".5\n" + divisor + "0\n" + divisor + " 1.0000\n"));
  EXPECT_EQ(std::distance(fs::directory_iterator(run.dir / "export/new"), {}), 32);
  EXPECT_EQ(run.Read("export/new/list.ra9").substr(0, run.dir.string().size() + 23),
            run.dir.string() + "/export/new/\n00001_ra9\n");
  EXPECT_EQ(run.Read("export/new/00030.ra9"), run.Read("blocked/00030.ra0"));  // the same data
  EXPECT_TRUE(Has(t, "cannot write blocked/list.ra0: Is a directory\npress a key"));
  EXPECT_EQ(run.Read("blocked/notes.txt"), "mine");
  EXPECT_NE(run.Read("blocked/00001.ra0"), "old");  // overwritten
  for (const auto& [path, text] : before) EXPECT_EQ(ReadAll(path), text) << path;  // unchanged
}

// The real IgG interference run (cell 1, 226 scans; 6.61 S and rmsd 0.0030
// fringes with the meniscus floated from 6.09 cm): model C from estimated
// start values, then from a mark in the viewer, where a second mark at the
// same boundary is refused. The first file spans 5.9677 .. 7.1925 cm.
TEST_F(Analysis, RealIgGRunFromEstimatedStartValuesAndFromOneMarkedBoundary) {
  const std::string dir = SVFIT_SOURCE_DIR "/../shared/data/real/sedfit-igg-ip1";
  if (access((dir + "/00001.IP1").c_str(), R_OK) != 0) GTEST_SKIP() << "no real data: " << dir;
  const std::string setup = "\n\n\n\n\n" + std::string("YY") + "C";  // iterations .. viscosity
  const std::string& t = Analyse(
      "IN\r" + dir + "\n1\n\n\n\nE" + Left(147) + "MA" + Right(766) + "E"  // 6.09 .. 7.12 cm
      + "\n\nN" + "\n" + setup + "\n" + "0\n" + Results(3)  // all sets; no mark: estimated
      + "W" + setup + Right(700) + "12" + "\n" + "N" + "0\n" + Results(3)  // S1; S2 refused
      + "EF", "", 120);
  EXPECT_TRUE(Has(t, "S2 refused: the same s as S1, mark another boundary]"));
  EXPECT_EQ(t.find("FIT FAILED"), std::string::npos);
  for (int fit = 1; fit <= 2; ++fit) {
    SCOPED_TRACE(fit);
    EXPECT_NEAR(TableRow(t, kS1, fit).value / 6.61, 1.0, 0.01);
    const double meniscus = TableRow(t, "Meniscus radius     ", fit).value;
    EXPECT_TRUE(meniscus > 5.9677 && meniscus < 6.09) << meniscus;
  }
  EXPECT_NEAR(std::stod(Between(t, "SSR      ", "\n").substr(9)), 0.0030, 0.0003);  // rmsd
  EXPECT_EQ(Count(t, "Parameter(total/estimated)/tau(last set)        5/ 4"), 2);
}

// Ctrl-C, and input that ends while a question waits (the question ends its
// line); then random keys.
TEST(Program, ShortRunsTheirExitCodesAndArbitraryBytes) {
  const struct {
    std::string input;
    int exitCode;
    std::string out, err;
  } cases[] = {
      {"\n\x03\n", 1, kGen + "N\n" + kInterp + "^C\n", ""},
      {"\n\n", 3, kGen + "N\n" + kInterp + "N\n" + kConc3000 + "\n", "input ended\n"},
      {"", 3, kGen + "\n", "input ended\n"},
  };
  for (const auto& c : cases) {
    ProgramRun r;
    r.Run(c.input);
    ASSERT_FALSE(r.timedOut) << c.input;
    EXPECT_EQ(r.exitCode, c.exitCode) << c.input;
    EXPECT_EQ(r.out, c.out) << c.input;
    EXPECT_EQ(r.err, c.err) << c.input;
  }
  // Arbitrary bytes never crash the program or hang it.
  std::mt19937 rng(2024);
  for (int round = 0; round < 12; ++round) {
    std::string input(rng() % 3000, '\0');
    for (char& c : input) {
      const unsigned k = rng() % 8;
      c = k == 0 ? '\x1b' : k == 1 ? '\r' : static_cast<char>(rng() % 256);
      if (c == '\x03') c = 'x';  // Ctrl-C would end the run early
    }
    ProgramRun r;
    r.Run(input);
    ASSERT_FALSE(r.timedOut) << "round " << round;
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << "round " << round << ": " << r.exitCode;
  }
}

// ---- Over two pipes ---------------------------------------------------------------

// The program on two pipes in `dir` with `options`, answered as its output arrives.
struct Program {
  Program(const fs::path& dir, std::vector<std::string> options) {
    int in[2], back[2];
    if (pipe(in) != 0 || pipe(back) != 0) std::abort();
    if ((pid = fork()) == 0) {
      dup2(in[0], 0), dup2(back[1], 1), close(in[1]), close(back[0]);
      std::vector<char*> argv{const_cast<char*>(kProgram)};
      for (std::string& o : options) argv.push_back(o.data());
      argv.push_back(nullptr);
      if (chdir(dir.c_str()) == 0) execv(kProgram, argv.data());
      _exit(127);
    }
    close(in[0]), close(back[1]);
    to = in[1], from = back[0];
  }
  void Write(const std::string& keys) {
    ASSERT_EQ(write(to, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  // Reads until `done` holds; false when nothing comes for 20 s.
  bool ReadUntil(const std::function<bool()>& done) {
    char buf[4096];
    pollfd p{from, POLLIN, 0};
    while (!done()) {
      const ssize_t n = poll(&p, 1, 20000) > 0 ? read(from, buf, sizeof buf) : 0;
      if (n <= 0) return false;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return true;
  }
  // Sends keys and reads until `count` whole [cross] lines have come.
  void Send(const std::string& keys, int count) {
    Write(keys);
    ASSERT_TRUE(ReadUntil([&] {
      return Count(out, "[cross ") >= count &&
             out.find('\n', out.rfind("[cross ")) != std::string::npos;
    })) << "no [cross] line "
        << count << ":\n"
        << out;
  }
  // A number of the last [cross] line ("Radius", "OD").
  double Field(const std::string& name) const {
    const std::string line = out.substr(out.rfind("[cross "));
    return std::stod(line.substr(line.find(name + " = ") + name.size() + 3));
  }
  int Finish() {
    close(to);
    char buf[4096];
    for (ssize_t n; (n = read(from, buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<std::size_t>(n));
    close(from);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  pid_t pid = -1;
  int to = -1, from = -1;
  std::string out;
};

// Keys up to the range pick, up to the start values, after them; typed
// places with their keys.
struct PipedAnalysis {
  std::string directory, before, between, after;
  std::vector<std::pair<double, char>> picks;  // M, A, E, then 1, 2
};
const std::string kFits = "\n\n\n0\n" "\x1b\n\n\n\n \n\x1b" "F" "\x1b\n\n\n\n \n\x1b" "EF";

struct Outcome {
  fs::path dir;
  std::string transcript;
  std::vector<json> fits;
  std::vector<double> places;  // radius and ordinate where each mark was taken
  double pixel = 0;            // one pixel of the range pick [cm]
};

// With `targets` null the places are typed; else arrow keys steer to them.
Outcome RunPiped(const PipedAnalysis& a, const std::vector<double>* targets) {
  Outcome r;
  std::string pattern = (fs::temp_directory_path() / "svfit-batch-XXXXXX").string();
  r.dir = ::mkdtemp(pattern.data());
  Program p(r.dir, {"--results", "fits.jsonl", "--curves", "curves"});
  int lines = 0;  // [cross] lines so far
  for (std::size_t k = 0; k < a.picks.size(); ++k) {
    if (k == 0 || k == 3) p.Send(k == 0 ? a.before : a.between, ++lines);  // a picking starts
    const auto [value, key] = a.picks[k];
    if (!targets && k == 0) {  // refused or left: the crosshair stays
      for (const char* keys : {"=9\r", "=x\r", "=\x1b", "=\r"}) p.Send(keys, ++lines);
    }
    if (!targets) p.Send("=" + FormatF(value, 0, 4) + "\r", ++lines);
    for (const std::string field : {"Radius", "OD"}) {  // across, then up or down
      const double target = targets ? (*targets)[r.places.size()] : p.Field(field);
      for (int step = 0; std::fabs(p.Field(field) - target) > 5e-5 && step < 300; ++step) {
        const double before = p.Field(field);
        const bool far = std::fabs(target - before) > 0.03;  // Shift: 15 pixels
        p.Send(std::string("\x1b[") + (far ? "1;2" : "") +
                   "DCBA"[2 * (field == "OD") + (target > before)],
               ++lines);
        if (!far && k < 3 && field == "Radius") r.pixel = std::fabs(p.Field(field) - before);
      }
      r.places.push_back(p.Field(field));
    }
    p.Send(std::string(1, key), ++lines);
  }
  p.Send(a.after, lines);
  EXPECT_EQ(p.Finish(), 0) << p.out.substr(p.out.size() > 3000 ? p.out.size() - 3000 : 0);
  r.transcript = p.out;
  std::istringstream results(ReadAll(r.dir / "fits.jsonl"));
  for (std::string line; std::getline(results, line);) r.fits.push_back(json::parse(line));
  return r;
}

void CheckAnalysis(const PipedAnalysis& a) {
  signal(SIGPIPE, SIG_IGN);  // a program that died early fails the test, not the run
  const Outcome typed = RunPiped(a, nullptr);
  ASSERT_EQ(typed.places.size(), 10u);
  const Outcome steered = RunPiped(a, &typed.places);
  const std::string& t = typed.transcript;
  // Typed radii on the nearest pixel, S1 and S2 on their s; the arrow keys
  // reached the same places and both runs fitted the same numbers.
  ASSERT_GT(steered.pixel, 0);
  for (std::size_t k = 0; k < 3; ++k)
    EXPECT_LE(std::fabs(typed.places[2 * k] - a.picks[k].first), 0.5 * steered.pixel + 5e-5) << k;
  for (std::size_t k = 3; k < 5; ++k)
    EXPECT_TRUE(
        Has(t, std::string(" S") + a.picks[k].second + " = " + FormatF(a.picks[k].first, 0, 2)));
  EXPECT_EQ(steered.places, typed.places);
  EXPECT_TRUE(Has(t, "crosshair to radius (cm) :  9\n9 is outside the plot ("));
  EXPECT_TRUE(Has(t, "not a number: x\n"));
  ASSERT_EQ(typed.fits.size(), 2u);
  ASSERT_EQ(steered.fits.size(), 2u);
  for (int f = 0; f < 2; ++f) {
    const json& j = typed.fits[f];
    EXPECT_EQ(j["fit"], f + 1);
    EXPECT_EQ(j["parameters"], steered.fits[f]["parameters"]);
    EXPECT_EQ(j["rmsd"], steered.fits[f]["rmsd"]);
    EXPECT_EQ(fs::path(j["directory"].get<std::string>()), fs::weakly_canonical(a.directory) / "");
    const json& s = j["parameters"][1];
    EXPECT_TRUE(Has(t, "(Svedb.units)  " + FormatExp11(s["value_svedberg"]) + "   " +
                           FormatExp11(s["sd_svedberg"])));
    EXPECT_TRUE(Has(t, "(rmsd)/time diff./SSR   " + FormatF(j["rmsd"], 10, 5)));

    // Its curve files: residual = measured − fitted exactly, and
    // √(Σ residual² / (points − free parameters)) is the rmsd.
    ASSERT_EQ(j["curves"].size(), j["scans"].get<std::size_t>());
    double sum = 0;
    long points = 0;
    for (const json& file : j["curves"]) {
      std::istringstream csv(ReadAll(typed.dir / file.get<std::string>()));
      std::string line;
      std::getline(csv, line);
      for (double v[6]; std::getline(csv, line); ++points, sum += v[3] * v[3]) {
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3],
                              &v[4], &v[5]),
                  6);
        ASSERT_EQ(v[3], v[1] - v[2]) << line;
      }
    }
    int free = 0;
    for (const json& p : j["parameters"]) free += !p["fixed"].get<bool>();
    EXPECT_EQ(points, j["points"].get<long>());
    EXPECT_NEAR(std::sqrt(sum / static_cast<double>(points - free)) / j["rmsd"].get<double>(), 1.0,
                1e-9);
  }
  for (const Outcome* o : {&typed, &steered}) fs::remove_all(o->dir);
}

TEST(BatchSession, SampleRunTypedPlacesFitAsArrowKeysAndResultsMatchTheReport) {
  const std::string dir = kSample + "/abs";
  if (access((dir + "/00001.RA2").c_str(), R_OK) != 0) GTEST_SKIP() << "sample runs missing";
  // 6.8 S has left the plot in the last scan: the faster boundary is marked at 5.3 S.
  CheckAnalysis({dir, "\r\r\rS\r\r" + dir + "\n2\n\n\n\nE", "\n\nN\n\n\n\n\n\n\nNC", kFits,
                 {{6.05, 'M'}, {6.1, 'A'}, {7.1, 'E'}, {4.4, '1'}, {5.3, '2'}}});
}

TEST(BatchSession, RealInterferenceRunTypedPlacesFitAsArrowKeys) {
  const std::string dir = SVFIT_SOURCE_DIR "/../shared/data/real/sedfit-bsa-ip4";
  if (access((dir + "/00001.IP4").c_str(), R_OK) != 0) GTEST_SKIP() << "real data missing";
  CheckAnalysis({dir, "IN\r" + dir + "\n4\n\n\n\nE", "\n\nN\n\n\n\n\n\n\nYYC", kFits,
                 {{6.2299, 'M'}, {6.2532, 'A'}, {7.1550, 'E'}, {4.5, '1'}, {6.5, '2'}}});
}

// A script that answers each question only once it is on the pipe must never
// wait for a prompt stuck in a buffer: interference files with the 3000 rpm
// contour subtracted, outliers asked, Z at the device prompt.
TEST(BatchSession, EachPromptArrivesBeforeItsAnswerIsRead) {
  signal(SIGPIPE, SIG_IGN);  // a program that died early fails the test, not the run
  Program p(".", {});
  const std::pair<std::string, std::string> steps[] = {{kGen, "i"},
                                                       {kContour, "y"},
                                                       {kOutlier, "y"},
                                                       {kBottom, "\n"},
                                                       {"(Y=restart;Z=exit) ", "z\n"}};
  for (const auto& [prompt, key] : steps) {
    EXPECT_TRUE(p.ReadUntil([&] { return p.out.find(prompt) != std::string::npos; })) << p.out;
    p.Write(key);
  }
  EXPECT_EQ(p.Finish(), 0) << p.out;
  EXPECT_EQ(p.out.substr(0, p.out.find("device")), kGen + "I\n" + kContour + "Y\n" + kOutlier +
                                                       "Y\n" + kBottom + "N\n" + kSeries);
}

}  // namespace
