// Simulated scan files: the exact instrument format (compared with lines of
// real files), a write/re-read round trip through a small independent parser,
// the noise terms, and the command line of svfit-sim.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/lamm.h"
#include "sim/scan_series.h"
#include "sim/sim_options.h"

namespace svfit::sim {
namespace {

namespace fs = std::filesystem;

TEST(ScanFormat, HeaderLinesAsTheInstrumentWritesThem) {
  EXPECT_EQ(headerLine('R', 2, 20.0, 42000, 1234, 1.2345e10, 280, 1),
            "R 2 20.0 42000 0001234 1.2345E10 280 1");
  // Lines of real files: leading-zero temperature, a 4-digit speed after two blanks.
  EXPECT_EQ(headerLine('R', 1, 3.9, 9000, 5858, 3.645e9, 281, 5),
            "R 1 03.9  9000 0005858 3.6450E09 281 5");
  EXPECT_EQ(headerLine('P', 4, 19.9, 50000, 190, 1.9906e9, 675, 50),
            "P 4 19.9 50000 0000190 1.9906E09 675 50");
  // The mantissa rounds up into the next decade.
  EXPECT_EQ(headerLine('R', 3, 20.0, 60000, 7200, 9.99996e10, 260, 1),
            "R 3 20.0 60000 0007200 1.0000E11 260 1");
}

TEST(ScanFormat, DataLinesAsTheInstrumentWritesThem) {
  // Absorbance: 4-digit exponents, the column shifts left for a minus sign.
  EXPECT_EQ(absorbanceLine(6.597, 0.0046, 0.0181), "   6.5970  4.60000E-0003   1.81000E-0002");
  EXPECT_EQ(absorbanceLine(6.6, -0.0056, 0.0172), "   6.6000 -5.60000E-0003   1.72000E-0002");
  EXPECT_EQ(absorbanceLine(6.105, -1.3277, 0.0362), "   6.1050 -1.32770E+0000   3.62000E-0002");
  EXPECT_EQ(absorbanceLine(7.2, 0.0, 0.0), "   7.2000  0.00000E+0000   0.00000E+0000");
  // Interference: two columns, 2-digit exponents.
  EXPECT_EQ(interferenceLine(5.8999, 0.0), "   5.8999    0.00000E+00");
  EXPECT_EQ(interferenceLine(5.9007, -1.02851e-2), "   5.9007   -1.02851E-02");
  EXPECT_EQ(interferenceLine(7.2206, 1.62919), "   7.2206    1.62919E+00");
  EXPECT_EQ(scanFileName(Optics::kAbsorbance, 1, 2), "00001.RA2");
  EXPECT_EQ(scanFileName(Optics::kInterference, 129, 4), "00129.IP4");
}

// A scan file read back the simple way: CRLF lines, title, header, columns.
struct ParsedScan {
  std::string title;
  std::vector<std::string> header;
  std::vector<double> radius, value, sd;
  bool crlfOnly = true;
};

ParsedScan parse(const std::string& text) {
  ParsedScan p;
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      p.crlfOnly = false;
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  for (const std::string& l : lines)
    if (l.find('\n') != std::string::npos || l.find('\r') != std::string::npos || l.empty())
      p.crlfOnly = false;
  if (lines.size() < 2) return p;
  p.title = lines[0];
  std::istringstream h(lines[1]);
  for (std::string f; h >> f;) p.header.push_back(f);
  for (std::size_t k = 2; k < lines.size(); ++k) {
    std::istringstream d(lines[k]);
    double r, v, s = -1;
    d >> r >> v;
    if (d >> s) p.sd.push_back(s);
    p.radius.push_back(r);
    p.value.push_back(v);
  }
  return p;
}

// Six scans of two species, every 10 min after a 3 min acceleration. A cheap
// setup (one species, no ramp, loose tolerance) serves the noise and file tests.
SeriesSetup smallSetup(Optics optics, bool cheap = false) {
  SeriesSetup setup;
  setup.optics = optics;
  setup.run.meniscus = 6.05;
  setup.run.bottom = 7.2;
  setup.run.rpm = 50000;
  setup.run.accelerationTime = 180;
  setup.run.components = {{4.4, 6e-7, 0.6}, {7.0, 4.5e-7, 0.2}};
  setup.cell = optics == Optics::kAbsorbance ? 2 : 4;
  setup.wavelength = optics == Optics::kAbsorbance ? 280 : 675;
  setup.radialStep = optics == Optics::kAbsorbance ? 0.003 : kPixelStep;
  setup.title = optics == Optics::kAbsorbance ? "Two species" : "Sample";
  setup.scanCount = 6;
  setup.firstScan = 600;
  setup.interval = 600;
  setup.secondsPerCm = optics == Optics::kAbsorbance ? 40 : 0;
  if (cheap) {
    setup.run.accelerationTime = 0;
    setup.run.components = {{4.4, 6e-7, 0.8}};
    setup.tolerance = 1e-3;
  }
  return setup;
}

fs::path freshDir(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() / ("svfit_sim_test_" + name);
  fs::remove_all(dir);
  return dir;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ScanSeries, AbsorbanceFilesReproduceTheProfile) {
  const SeriesSetup setup = smallSetup(Optics::kAbsorbance);
  const Series series = simulateSeries(setup);
  const fs::path dir = freshDir("abs");
  writeSeries(series, dir.string(), false);

  for (int i = 0; i < setup.scanCount; ++i) {
    const fs::path path = dir / scanFileName(Optics::kAbsorbance, i + 1, 2);
    ASSERT_TRUE(fs::exists(path)) << path;
    const ParsedScan p = parse(slurp(path));
    EXPECT_TRUE(p.crlfOnly);
    EXPECT_EQ(p.title, "Two species");
    ASSERT_EQ(p.header.size(), 8u);
    EXPECT_EQ(p.header[0], "R");
    EXPECT_EQ(p.header[1], "2");
    EXPECT_EQ(p.header[4].size(), 7u);
    const double elapsed = std::stod(p.header[4]);
    EXPECT_EQ(elapsed, 600.0 * (i + 1));
    // ω²t integrates the 180 s ramp: the run time ω²t/ω² lags by 2/3 of it.
    const double runTime = std::stod(p.header[5]) / omega2FromRpm(std::stod(p.header[3]));
    EXPECT_NEAR(elapsed - runTime, 120.0, 5e-5 * elapsed);
    // 0.003 cm steps from 5.9 to 7.25 cm, and the solution at the moment the
    // slit (40 s/cm) passed each radius.
    ASSERT_EQ(p.radius.size(), 451u);
    ASSERT_EQ(p.sd.size(), 451u);
    EXPECT_DOUBLE_EQ(p.radius.front(), 5.9);
    EXPECT_DOUBLE_EQ(p.radius.back(), 7.25);
    for (std::size_t j = 0; j < p.radius.size(); ++j) {
      EXPECT_DOUBLE_EQ(p.radius[j], series.radii[j]);
      const double c = series.signal[i][j];
      EXPECT_NEAR(p.value[j], c, 5e-6 * std::abs(c) + 1e-9);  // 6 significant digits
    }
    // The plateau at 6.9 cm, passed 40 s/cm after the scan began at 5.9 cm,
    // is Σ c0·exp(−2·s·∫ω²dt) at that moment.
    const double t = elapsed + 40.0 * (6.9 - 5.9);
    double plateau = 0;
    for (const Component& c : setup.run.components)
      plateau += c.c0 * std::exp(-2 * c.s * 1e-13 * omega2tIntegral(setup.run, t));
    EXPECT_NEAR(p.value[333], plateau, 2e-5) << "scan " << i + 1;
  }
  // Air above the meniscus and the space beyond the bottom read 0.
  const ParsedScan last = parse(series.files.back().text);
  EXPECT_EQ(last.value.front(), 0.0);
  EXPECT_EQ(last.value.back(), 0.0);
}

TEST(ScanSeries, InterferenceFilesLieOnTheirPixelGrid) {
  const SeriesSetup setup = smallSetup(Optics::kInterference, true);
  const Series series = simulateSeries(setup);
  ASSERT_EQ(series.files.front().name, "00001.IP4");
  const ParsedScan p = parse(series.files[2].text);
  EXPECT_TRUE(p.crlfOnly);
  EXPECT_EQ(p.title, "cm/pixel:  0.00071350165, Sample");
  ASSERT_EQ(p.header.size(), 8u);
  EXPECT_EQ(p.header[0], "P");
  EXPECT_EQ(p.header[6], "675");
  EXPECT_TRUE(p.sd.empty());  // two columns only
  // The radial step as a reader takes it from the title: 13 characters from the first digit.
  const std::string t = p.title.substr(p.title.find_first_of("0123456789"), 13);
  const double step = std::stod(t);
  EXPECT_DOUBLE_EQ(step, kPixelStep);
  // The reader puts point k at start + k·step with the start chosen so that
  // the mean radius is the file's; that grid is the one simulated.
  const double n = static_cast<double>(p.radius.size());
  double sum = 0;
  for (double r : p.radius) sum += r;
  const double start = (sum - n * (n - 1) / 2 * step) / n;
  EXPECT_NEAR(start, 5.9, 2e-6);
  EXPECT_EQ(p.radius.size(), series.radii.size());
  for (std::size_t j = 0; j < p.value.size(); ++j)
    EXPECT_NEAR(p.value[j], series.signal[2][j], 5e-6 * std::abs(series.signal[2][j]) + 1e-9);
}

TEST(ScanSeries, NoiseTermsHaveTheirSizeAndShape) {
  SeriesSetup setup = smallSetup(Optics::kInterference, true);
  setup.scanCount = 12;
  setup.interval = 300;
  setup.noise = 0.004;
  setup.riNoise = 0.05;
  setup.tiNoise = 0.02;
  setup.baseline = 0.1;
  const Series series = simulateSeries(setup);

  // TI: one profile with the asked rms, smooth from pixel to pixel.
  const std::vector<double>& ti = series.tiProfile;
  double sq = 0, lag = 0;
  for (std::size_t j = 0; j < ti.size(); ++j) {
    sq += ti[j] * ti[j];
    if (j > 0) lag += ti[j] * ti[j - 1];
  }
  EXPECT_NEAR(std::sqrt(sq / static_cast<double>(ti.size())), 0.02, 1e-12);
  EXPECT_GT(lag / sq, 0.95);

  // What is left after signal, base line, TI and RI is white noise of sd 0.004.
  double sum = 0, sum2 = 0, count = 0;
  for (std::size_t i = 0; i < series.files.size(); ++i) {
    const ParsedScan p = parse(series.files[i].text);
    for (std::size_t j = 0; j < p.value.size(); ++j) {
      const double e = p.value[j] - series.signal[i][j] - 0.1 - ti[j] - series.riOffsets[i];
      sum += e;
      sum2 += e * e;
      ++count;
    }
  }
  EXPECT_NEAR(sum / count, 0.0, 3 * 0.004 / std::sqrt(count));
  EXPECT_NEAR(std::sqrt(sum2 / count), 0.004, 0.0001);
  // RI offsets differ from scan to scan and are of the asked size.
  double ri2 = 0;
  for (double o : series.riOffsets) ri2 += o * o;
  EXPECT_GT(std::sqrt(ri2 / 12), 0.02);
  EXPECT_LT(std::sqrt(ri2 / 12), 0.09);
  EXPECT_NE(series.riOffsets[0], series.riOffsets[1]);
}

TEST(ScanSeries, SeedFixesEveryRandomNumber) {
  SeriesSetup setup = smallSetup(Optics::kAbsorbance, true);
  setup.scanCount = 2;
  setup.noise = 0.004;
  setup.riNoise = 0.01;
  setup.tiNoise = 0.005;
  const Series a = simulateSeries(setup), b = simulateSeries(setup);
  EXPECT_EQ(a.files[1].text, b.files[1].text);
  setup.seed = 2;
  EXPECT_NE(simulateSeries(setup).files[1].text, a.files[1].text);
  // The TI profile does not depend on the other noise levels.
  setup.seed = 1;
  setup.noise = 0.01;
  setup.riNoise = 0;
  EXPECT_EQ(simulateSeries(setup).tiProfile, a.tiProfile);
}

TEST(ScanSeries, CeilingClipsThePileUp) {
  SeriesSetup setup = smallSetup(Optics::kAbsorbance, true);
  setup.scanCount = 3;
  setup.ceiling = 3.0;
  const Series s = simulateSeries(setup);
  const ParsedScan p = parse(s.files.back().text);
  double top = 0;
  for (double v : p.value) top = std::max(top, v);
  EXPECT_EQ(top, 3.0);  // the last scan's pile-up goes far above 3 OD
  EXPECT_GT(s.signal.back()[431], 3.0);  // 7.193 cm
}

TEST(ScanSeries, ExistingFilesAreNotOverwrittenUnlessAsked) {
  SeriesSetup setup = smallSetup(Optics::kAbsorbance, true);
  setup.scanCount = 2;
  const Series series = simulateSeries(setup);
  const fs::path dir = freshDir("keep");
  writeSeries(series, dir.string(), false);
  const fs::path second = dir / "00002.RA2";
  { std::ofstream(second, std::ios::binary) << "user data"; }
  fs::remove(dir / "00001.RA2");
  EXPECT_THROW(writeSeries(series, dir.string(), false), std::runtime_error);
  EXPECT_EQ(slurp(second), "user data");
  EXPECT_FALSE(fs::exists(dir / "00001.RA2"));  // refused before writing anything
  writeSeries(series, dir.string(), true);
  EXPECT_EQ(slurp(second), series.files[1].text);
  // A directory that cannot be made is reported, not ignored.
  EXPECT_THROW(writeSeries(series, (second / "sub").string(), false), std::runtime_error);
}

// Splits at blanks as a shell does, keeping "double-quoted" text together.
CommandLine parseLine(const std::string& line) {
  std::vector<std::string> args;
  std::string word;
  bool quoted = false, any = false;
  for (char ch : line + ' ') {
    if (ch == '"') {
      quoted = !quoted;
      any = true;
    } else if (ch == ' ' && !quoted) {
      if (any) args.push_back(word);
      word.clear();
      any = false;
    } else {
      word += ch;
      any = true;
    }
  }
  return parseCommandLine(args);
}

std::string errorOf(const std::string& line) {
  try {
    parseLine(line);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

TEST(SimCommandLine, OptionsReachTheSpec) {
  const CommandLine cl = parseLine(
      "--interference --component s=4.4,M=66000,c=3.2,vbar=0.73 --component s=9,D=3e-7,c=0.5 "
      "--rpm=50000 --accel-time 240 --temperature 20 --meniscus 6.1 --bottom 7.2 --cell 4 "
      "--first 600 --interval 120 --scans 40 --ti-noise 0.01 --ri-noise 0.05 --noise 0.005 "
      "--seed 11 --out /tmp/x --force");
  const SeriesSetup& s = cl.setup;
  EXPECT_EQ(s.optics, Optics::kInterference);
  ASSERT_EQ(s.run.components.size(), 2u);
  EXPECT_NEAR(s.run.components[0].D, diffusionFromMolarMass(4.4, 66000, 0.73, 1.0, 20), 1e-18);
  EXPECT_EQ(s.run.components[1].D, 3e-7);
  EXPECT_EQ(s.run.components[1].c0, 0.5);
  EXPECT_EQ(s.run.rpm, 50000);
  EXPECT_EQ(s.run.accelerationTime, 240);
  EXPECT_EQ(s.radialStep, kPixelStep);  // the interference defaults
  EXPECT_EQ(s.wavelength, 675);
  EXPECT_EQ(s.title, "Sample");
  EXPECT_EQ(s.scanCount, 40);
  EXPECT_EQ(s.seed, 11u);
  EXPECT_EQ(cl.outputDir, "/tmp/x");
  EXPECT_TRUE(cl.overwrite);
  EXPECT_TRUE(parseLine("--help").help);
  // A denser solvent lowers the buoyant mass: larger D for the same M.
  EXPECT_GT(parseLine("--component s=4.4,M=66000,c=1 --density 1.05").setup.run.components[0].D,
            parseLine("--component s=4.4,M=66000,c=1").setup.run.components[0].D);
}

TEST(SimCommandLine, BadInputIsNamedPlainly) {
  const std::string c = "--component s=4.4,D=6e-7,c=0.8 ";
  EXPECT_EQ(errorOf("--component s=4.4,D=6e-7,c=0.8"), "");
  EXPECT_EQ(errorOf(c + "--rmp 42000"), "unknown option '--rmp'");
  EXPECT_EQ(errorOf(c + "--rpm 42k"), "--rpm: '42k' is not a number");
  EXPECT_EQ(errorOf(c + "--scans"), "--scans needs a value");
  EXPECT_EQ(errorOf(""), "give at least one --component (see --help)");
  EXPECT_NE(errorOf("--component s=4.4,D=6e-7").find("c= (loading concentration) is missing"),
            std::string::npos);
  EXPECT_NE(errorOf("--component s=4.4,D=6e-7,M=5e4,c=1").find("either D= or M="),
            std::string::npos);
  EXPECT_NE(errorOf("--component s=4.4,M=5e4,c=1 --vbar 1.2").find("same sign"),
            std::string::npos);
  EXPECT_NE(errorOf(c + "--meniscus 7.3").find("below the bottom"), std::string::npos);
  EXPECT_NE(errorOf(c + "--step 0.0004").find("radial step"), std::string::npos);
  EXPECT_NE(errorOf(c + "--r-end 7.0 --r-start 6.99").find("20 to 2800"), std::string::npos);
  EXPECT_NE(errorOf(c + "--interference --slit-time 40").find("one instant"),
            std::string::npos);
  EXPECT_NE(errorOf(c + "--slit-time 200 --interval 120").find("longer than"),
            std::string::npos);
  EXPECT_NE(errorOf(c + "--accel-time 400 --first 300").find("at speed"), std::string::npos);
  EXPECT_NE(errorOf(c + "--component s=1,D=1e-6,c=1 --component s=2,D=1e-6,c=1 "
                        "--component s=3,D=1e-6,c=1 --component s=5,D=1e-6,c=1")
                .find("at most four"),
            std::string::npos);
}

// The committed sample runs are what tools/sim/make_sample.sh makes: the
// same command lines here, compared line by line (values to the last printed
// digit, since libm may round an exponential differently on another machine).
void expectSampleMatches(const std::string& folder, const std::string& commandLine) {
  const fs::path dir = fs::path(SVFIT_SOURCE_DIR) / "data" / "sample" / folder;
  if (!fs::exists(dir)) GTEST_SKIP() << "no sample data at " << dir;
  const Series series = simulateSeries(parseLine(commandLine).setup);
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir)) files += entry.path().extension() != "";
  EXPECT_EQ(files, series.files.size());
  for (const ScanFile& f : series.files) {
    const std::string stored = slurp(dir / f.name);
    ASSERT_FALSE(stored.empty()) << f.name;
    const ParsedScan a = parse(stored), b = parse(f.text);
    EXPECT_TRUE(a.crlfOnly);
    EXPECT_EQ(a.title, b.title);
    EXPECT_EQ(a.header, b.header) << f.name;
    ASSERT_EQ(a.value.size(), b.value.size()) << f.name;
    for (std::size_t j = 0; j < a.value.size(); ++j) {
      EXPECT_EQ(a.radius[j], b.radius[j]);
      EXPECT_NEAR(a.value[j], b.value[j], 1e-5 * std::abs(b.value[j]) + 1e-12) << f.name;
    }
  }
}

TEST(SampleData, AbsorbanceRunMatchesItsRecipe) {
  expectSampleMatches(
      "abs",
      "--absorbance --cell 2 --title \"svfit-sim 4.4S+6.8S 0.8OD\" "
      "--component s=4.4,M=66000,c=0.6 --component s=6.8,M=132000,c=0.2 "
      "--vbar 0.73 --density 1.0 --temperature 20 --rpm 50000 --accel-time 240 "
      "--meniscus 6.05 --bottom 7.2 --r-start 5.95 --r-end 7.25 --step 0.003 "
      "--first 600 --interval 360 --scans 30 --slit-time 40 "
      "--noise 0.004 --baseline 0.01 --ceiling 3.0 --wavelength 280 --seed 20240501");
}

TEST(SampleData, InterferenceRunMatchesItsRecipe) {
  expectSampleMatches(
      "ip",
      "--interference --cell 4 --title \"Sample\" --component s=4.4,M=66000,c=3.0 "
      "--vbar 0.73 --density 1.0 --temperature 20 --rpm 50000 --accel-time 240 "
      "--meniscus 6.12 --bottom 7.2 --r-start 6.0 --r-end 7.22 "
      "--first 600 --interval 660 --scans 16 "
      "--noise 0.005 --ti-noise 0.02 --ri-noise 0.1 --ceiling 12 --wavelength 675 "
      "--seed 20240502");
}

TEST(SimTool, HelpAndBadOptionsExitCodes) {
  const std::string tool = SVFIT_BINARY_DIR "/tools/sim/svfit-sim";
  if (!fs::exists(tool)) GTEST_SKIP() << "svfit-sim not built at " << tool;
  const fs::path out = freshDir("tool");
  fs::create_directories(out);
  const std::string help = (out / "help.txt").string();
  EXPECT_EQ(std::system((tool + " --help > " + help).c_str()), 0);
  EXPECT_NE(slurp(help).find("--component s=S,D=D,c=C"), std::string::npos);
  const std::string quiet = " 2> " + (out / "err.txt").string();
  EXPECT_NE(std::system((tool + " --rpm fast" + quiet).c_str()), 0);
  EXPECT_NE(slurp(out / "err.txt").find("--rpm: 'fast' is not a number"), std::string::npos);
  // A run writes its files, a second run into the same place refuses.
  const std::string run = tool + " --quiet --component s=4.4,D=6e-7,c=0.8 --scans 3 --cell 3" +
                          " --out " + (out / "run").string();
  EXPECT_EQ(std::system((run + quiet).c_str()), 0);
  EXPECT_TRUE(fs::exists(out / "run" / "00003.RA3"));
  EXPECT_NE(std::system((run + quiet).c_str()), 0);
  EXPECT_NE(slurp(out / "err.txt").find("exists already"), std::string::npos);
}

}  // namespace
}  // namespace svfit::sim
