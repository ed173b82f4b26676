// The simulator. Its Lamm equation solver against what the physics fixes
// exactly: the amount of material, the radial dilution of the plateau, the
// second-moment boundary position, the sedimentation equilibrium, and its own
// convergence claim. Its scan files: the exact instrument format (compared
// with lines of real files), a write/re-read round trip through a small
// independent parser, the noise terms, the command line of svfit-sim and the
// committed samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/lamm.h"
#include "sim/scan_series.h"
#include "sim/sim_options.h"

namespace svfit::sim {
namespace {

namespace fs = std::filesystem;

TEST(ScanFormat, LinesAsTheInstrumentWritesThem) {
  // Lines of real files: leading-zero temperature, a 4-digit speed after two blanks.
  EXPECT_EQ(headerLine('R', 1, 3.9, 9000, 5858, 3.645e9, 281, 5),
            "R 1 03.9  9000 0005858 3.6450E09 281 5");
  EXPECT_EQ(headerLine('P', 4, 19.9, 50000, 190, 1.9906e9, 675, 50),
            "P 4 19.9 50000 0000190 1.9906E09 675 50");
  // The mantissa rounds up into the next decade.
  EXPECT_EQ(headerLine('R', 3, 20.0, 60000, 7200, 9.99996e10, 260, 1),
            "R 3 20.0 60000 0007200 1.0000E11 260 1");
  // Absorbance: 4-digit exponents, the column shifts left for a minus sign.
  EXPECT_EQ(absorbanceLine(6.597, 0.0046, 0.0181), "   6.5970  4.60000E-0003   1.81000E-0002");
  EXPECT_EQ(absorbanceLine(6.105, -1.3277, 0.0362), "   6.1050 -1.32770E+0000   3.62000E-0002");
  // Interference: two columns, 2-digit exponents.
  EXPECT_EQ(interferenceLine(5.9007, -1.02851e-2), "   5.9007   -1.02851E-02");
  EXPECT_EQ(interferenceLine(7.2206, 1.62919), "   7.2206    1.62919E+00");
}

// A scan file read back the simple way: title, header fields, columns.
struct ParsedScan {
  std::string title;
  std::vector<std::string> header;
  std::vector<double> radius, value, sd;
  bool crlfOnly = false;  // every line ends in CR LF
};

ParsedScan parse(const std::string& text) {
  ParsedScan p;
  p.crlfOnly = text.ends_with("\r\n");
  std::istringstream in(text);
  std::string line;
  for (int k = 0; std::getline(in, line); ++k) {
    p.crlfOnly = p.crlfOnly && !line.empty() && line.find('\r') == line.size() - 1;
    if (!line.empty()) line.pop_back();
    std::istringstream fields(line);
    if (k == 0) p.title = line;
    for (std::string f; k == 1 && fields >> f;) p.header.push_back(f);
    double r = 0, v = 0, sd = 0;
    if (k < 2 || !(fields >> r >> v)) continue;
    p.radius.push_back(r);
    p.value.push_back(v);
    if (fields >> sd) p.sd.push_back(sd);
  }
  return p;
}

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ScanSeries, AbsorbanceFilesReproduceTheProfileAndAreNotOverwritten) {
  // Six scans every 10 min of two species after a 3 min acceleration.
  // Readings above the ceiling of 3 OD are written as 3.
  const SeriesSetup setup{.run = {6.05, 7.2, 50000, 180, {{4.4, 6e-7, 0.6}, {7.0, 4.5e-7, 0.2}}},
                        .cell = 2, .title = "Two species", .firstScan = 600, .interval = 600,
                        .scanCount = 6, .secondsPerCm = 40, .ceiling = 3.0};
  const Series series = simulateSeries(setup);
  const fs::path dir = fs::temp_directory_path() / "svfit_sim_test_abs";
  fs::remove_all(dir);
  writeSeries(series, dir.string(), false);
  for (int i = 0; i < setup.scanCount; ++i) {
    const ParsedScan p = parse(slurp(dir / scanFileName(Optics::kAbsorbance, i + 1, 2)));
    EXPECT_TRUE(p.crlfOnly);
    EXPECT_EQ(p.title, "Two species");
    ASSERT_EQ(p.header.size(), 8u);
    EXPECT_EQ(p.header[0] + p.header[1], "R2");
    const double elapsed = std::stod(p.header[4]);
    EXPECT_EQ(elapsed, 600.0 * (i + 1));
    // ω²t integrates the 180 s ramp: the run time ω²t/ω² lags by 2/3 of it.
    EXPECT_NEAR(elapsed - std::stod(p.header[5]) / omega2FromRpm(std::stod(p.header[3])), 120.0,
                5e-5 * elapsed);
    // 0.003 cm steps from 5.9 to 7.25 cm, the values to 6 significant digits.
    ASSERT_EQ(p.radius.size(), 451u);
    ASSERT_EQ(p.sd.size(), 451u);
    EXPECT_DOUBLE_EQ(p.radius.back(), 7.25);
    for (std::size_t j = 0; j < p.radius.size(); ++j) {
      EXPECT_DOUBLE_EQ(p.radius[j], series.radii[j]);
      const double c = std::min(series.signal[i][j], 3.0);
      EXPECT_NEAR(p.value[j], c, 5e-6 * c + 1e-9);
    }
    // Each point is taken when the slit (40 s/cm from 5.9 cm on) passes it: the
    // plateau at 6.9 cm is Σ c0·exp(−2·s·∫ω²dt) 40 s after the scan began, the
    // boundary region at 6.2 cm a snapshot 12 s after it.
    double plateau = 0;
    for (const Component& c : setup.run.components)
      plateau += c.c0 * std::exp(-2 * c.s * 1e-13 * omega2tIntegral(setup.run, elapsed + 40.0));
    EXPECT_NEAR(p.value[333], plateau, 2e-5) << "scan " << i + 1;
    const std::vector<double> t{elapsed + 12}, r{p.radius[100]};
    EXPECT_NEAR(p.value[100], solveLamm(setup.run, t, r).c[0][0], 2e-5) << "scan " << i + 1;
    // Air above the meniscus and the space beyond the bottom read 0.
    EXPECT_EQ(p.value.front(), 0.0);
    EXPECT_EQ(p.value.back(), 0.0);
  }
  EXPECT_GT(series.signal.back()[431], 3.0);  // the last pile-up at 7.193 cm was clipped

  // Files there already are refused before anything is written, unless asked.
  const fs::path second = dir / "00002.RA2";
  std::ofstream(second, std::ios::binary) << "user data";
  fs::remove(dir / "00001.RA2");
  EXPECT_THROW(writeSeries(series, dir.string(), false), std::runtime_error);
  EXPECT_EQ(slurp(second), "user data");
  EXPECT_FALSE(fs::exists(dir / "00001.RA2"));
  writeSeries(series, dir.string(), true);
  EXPECT_EQ(slurp(second), series.files[1].text);
  // A directory that cannot be made is reported, not ignored.
  EXPECT_THROW(writeSeries(series, (second / "sub").string(), false), std::runtime_error);
}

TEST(ScanSeries, InterferenceFilesLieOnTheirPixelGridWithTheirNoiseTerms) {
  SeriesSetup setup{.optics = Optics::kInterference, .run = {6.05, 7.2, 50000, 0, {{4.4, 6e-7, 0.8}}},
                  .title = "Sample", .radialStep = kPixelStep, .scanCount = 12, .noise = 0.004,
                  .riNoise = 0.05, .tiNoise = 0.02, .baseline = 0.1, .tolerance = 1e-3};
  const Series series = simulateSeries(setup);
  const ParsedScan p = parse(series.files[2].text);
  EXPECT_TRUE(p.crlfOnly);
  EXPECT_EQ(p.title, "cm/pixel:  0.00071350165, Sample");
  EXPECT_TRUE(p.sd.empty());  // two columns only

  const std::vector<double>& ti = series.tiProfile;
  double ti2 = 0, lag = 0, ri2 = 0, e1 = 0, e2 = 0, count = 0;
  for (std::size_t j = 0; j < ti.size(); ++j) ti2 += ti[j] * ti[j];
  for (std::size_t j = 1; j < ti.size(); ++j) lag += ti[j] * ti[j - 1];
  for (double o : series.riOffsets) ri2 += o * o;
  // What is left after signal, base line, TI and RI.
  for (std::size_t i = 0; i < series.files.size(); ++i) {
    const ParsedScan scan = parse(series.files[i].text);
    ASSERT_EQ(scan.value.size(), series.radii.size());
    for (std::size_t j = 0; j < scan.value.size(); ++j, ++count) {
      const double e = scan.value[j] - series.signal[i][j] - 0.1 - ti[j] - series.riOffsets[i];
      e1 += e;
      e2 += e * e;
    }
  }
  EXPECT_NEAR(std::sqrt(ti2 / static_cast<double>(ti.size())), 0.02, 1e-12);  // TI: the asked rms,
  EXPECT_GT(lag / ti2, 0.95);                                 // smooth from pixel to pixel
  EXPECT_NEAR(std::sqrt(ri2 / 12), 0.05, 0.035);              // RI: of the asked size, per scan
  EXPECT_NE(series.riOffsets[0], series.riOffsets[1]);
  EXPECT_NEAR(e1 / count, 0.0, 3 * 0.004 / std::sqrt(count));  // the rest: white noise of sd 0.004
  EXPECT_NEAR(std::sqrt(e2 / count), 0.004, 0.0001);
  // The seed fixes every random number.
  EXPECT_EQ(simulateSeries(setup).files[5].text, series.files[5].text);
  setup.seed = 2;
  EXPECT_NE(simulateSeries(setup).tiProfile, ti);
}

// Splits at blanks as a shell does, keeping "double-quoted" text together.
CommandLine parseLine(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> args;
  for (std::string word; in >> std::quoted(word);) args.push_back(word);
  return parseCommandLine(args);
}

TEST(SimCommandLine, OptionsReachTheSetupAndBadInputIsNamedPlainly) {
  // What the sample recipes and the tool test below do not use.
  const CommandLine cl = parseLine("--component s=9,D=3e-7,c=0.5 --force");
  EXPECT_EQ(cl.setup.run.components[0].D, 3e-7);
  EXPECT_TRUE(cl.overwrite);
  // A denser solvent lowers the buoyant mass: larger D for the same M.
  EXPECT_GT(parseLine("--component s=4.4,M=66000,c=1 --density 1.05").setup.run.components[0].D,
            parseLine("--component s=4.4,M=66000,c=1").setup.run.components[0].D);

  const std::string c = "--component s=4.4,D=6e-7,c=0.8 ";
  const std::pair<std::string, std::string> bad[] = {
      {c + "--rmp 42000", "unknown option '--rmp'"},
      {c + "--rpm 42k", "--rpm: '42k' is not a number"},
      {c + "--scans", "--scans needs a value"},
      {"", "give at least one --component (see --help)"},
      {"--component s=4.4,D=6e-7", "c= (loading concentration) is missing"},
      {"--component s=4.4,D=6e-7,M=5e4,c=1", "either D= or M="},
      {"--component s=4.4,M=5e4,c=1 --vbar 1.2", "same sign"},
      {c + "--meniscus 7.3", "below the bottom"},
      {c + "--r-end 7.0 --r-start 6.99", "20 to 2800"},
      {c + "--interference --slit-time 40", "one instant"},
      {c + "--slit-time 200 --interval 120", "longer than"},
      {c + "--first -300", "before the start"},
      {c + c + c + c + c, "at most four"}};
  for (const auto& [line, message] : bad) {
    std::string what = "accepted";
    try { parseLine(line); } catch (const std::invalid_argument& e) { what = e.what(); }
    EXPECT_NE(what.find(message), std::string::npos) << line << ": " << what;
  }
}

// The committed sample runs are what tools/sim/make_sample.sh makes: its
// command lines run here and are compared line by line (values to the last
// printed digit, since libm may round an exponential differently elsewhere).
TEST(SampleData, CommittedRunsMatchTheirRecipe) {
  const fs::path root = fs::path(SVFIT_SOURCE_DIR);
  std::string script = slurp(root / "tools" / "sim" / "make_sample.sh");
  for (std::size_t k; (k = script.find("\\\n")) != std::string::npos;) script.replace(k, 2, " ");
  std::istringstream lines(script);
  int recipes = 0;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t out = line.find(" --out \"$out/");
    if (!line.starts_with("\"$sim\" ") || out == std::string::npos) continue;
    ++recipes;
    const std::string folder = line.substr(out + 13, line.find('"', out + 13) - out - 13);
    const fs::path dir = root / "data" / "sample" / folder;
    if (!fs::exists(dir)) GTEST_SKIP() << "no sample data at " << dir;
    const Series series = simulateSeries(parseLine(line.substr(7, out - 7)).setup);
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir)) files += entry.path().extension() != "";
    EXPECT_EQ(files, series.files.size()) << dir;
    for (const ScanFile& f : series.files) {
      const ParsedScan a = parse(slurp(dir / f.name)), b = parse(f.text);
      EXPECT_TRUE(a.crlfOnly) << f.name;
      EXPECT_EQ(a.title, b.title);
      EXPECT_EQ(a.header, b.header) << f.name;
      ASSERT_EQ(a.value.size(), b.value.size()) << f.name;
      for (std::size_t j = 0; j < a.value.size(); ++j) {
        EXPECT_EQ(a.radius[j], b.radius[j]);
        EXPECT_NEAR(a.value[j], b.value[j], 1e-5 * std::abs(b.value[j]) + 1e-12) << f.name;
      }
    }
  }
  EXPECT_EQ(recipes, 2);
}

TEST(SimTool, HelpBadOptionsAndARunGiveTheirExitCodes) {
  const std::string tool = SVFIT_BINARY_DIR "/tools/sim/svfit-sim";
  if (!fs::exists(tool)) GTEST_SKIP() << "svfit-sim not built at " << tool;
  const fs::path out = fs::temp_directory_path() / "svfit_sim_test_tool";
  fs::remove_all(out);
  fs::create_directories(out);
  EXPECT_EQ(std::system((tool + " --help > " + (out / "help.txt").string()).c_str()), 0);
  EXPECT_NE(slurp(out / "help.txt").find("--component s=S,D=D,c=C"), std::string::npos);
  EXPECT_NE(std::system((tool + " --rpm fast 2> " + (out / "err.txt").string()).c_str()), 0);
  EXPECT_NE(slurp(out / "err.txt").find("--rpm: 'fast' is not a number"), std::string::npos);
  const std::string run = " --quiet --component s=4.4,D=6e-7,c=0.8 --scans 3 --cell 3 --out ";
  EXPECT_EQ(std::system((tool + run + (out / "run").string()).c_str()), 0);
  EXPECT_TRUE(fs::exists(out / "run" / "00003.RA3"));
}

// ---- The Lamm equation solver -------------------------------------------------------

// A protein run: s 4.4 S, D 6e-7 cm²/s at 42000 rpm in a 5.95–7.2 cm column.
Experiment proteinRun(double accelerationTime = 0) {
  return {5.95, 7.2, 42000, accelerationTime, {{4.4, 6e-7, 0.8}}};
}

// n + 1 radii from a to b inclusive.
std::vector<double> radiiFromTo(double a, double b, int n) {
  std::vector<double> r;
  for (int k = 0; k <= n; ++k) r.push_back(k == n ? b : a + (b - a) * k / n);
  return r;
}

// ∫ c·r dr by Simpson's rule over radii equally spaced, an even number of intervals.
double amount(const std::vector<double>& r, const std::vector<double>& c) {
  const std::size_t n = r.size() - 1;
  double sum = c[0] * r[0] + c[n] * r[n];
  for (std::size_t k = 1; k < n; ++k) sum += (k % 2 ? 4 : 2) * c[k] * r[k];
  return sum * (r.back() - r.front()) / static_cast<double>(n) / 3;
}

TEST(LammConservation, AmountInTheCellStaysConstant) {
  // Two components with an acceleration phase, 30 scans to a late bottom
  // pile-up: ∫c·r·dr over the column stays c0·(r_b² − r_m²)/2.
  const Experiment run{5.95, 7.2, 42000, 200, {{4.4, 6e-7, 0.5}, {9.0, 4e-7, 0.3}}};
  const std::vector<double> r = radiiFromTo(run.meniscus, run.bottom, 5000);
  std::vector<double> times;
  for (int i = 0; i < 30; ++i) times.push_back(300 + 240 * i);
  // The scheme conserves at any resolution; a loose tolerance keeps the test quick.
  const Profiles p = solveLamm(run, times, r, 0, 1e-4);
  ASSERT_TRUE(p.converged) << p.errorEstimate;
  const double loaded = 0.8 * (run.bottom * run.bottom - run.meniscus * run.meniscus) / 2;
  for (std::size_t i = 0; i < p.c.size(); ++i)
    EXPECT_NEAR(amount(r, p.c[i]) / loaded, 1.0, 1e-6) << "scan " << i;
  EXPECT_GT(p.c.back().back(), 20.0);  // a pile-up far above the loading at the bottom
}

// ∫ω²dt, the reference of the plateau and boundary checks; the plateau.
TEST(LammPlateau, Omega2tIntegralOfALinearRampAndTheRadialDilution) {
  const double w2 = std::pow(std::numbers::pi * 42000 / 30, 2);
  EXPECT_NEAR(omega2tIntegral(proteinRun(), 3600), w2 * 3600, 1e-3);
  // With a 240 s ramp: a midpoint-rule integral of (π·rpm(t)/30)², on both
  // sides of the end of the ramp.
  const Experiment ramp = proteinRun(240);
  for (double t : {100.0, 240.0, 1000.0}) {
    double sum = 0;
    for (int k = 0; k < 100000; ++k) sum += std::pow(std::min(1.0, (k + 0.5) * t / 1e5 / 240), 2);
    EXPECT_NEAR(omega2tIntegral(ramp, t) / (w2 * sum * t / 1e5), 1.0, 1e-8) << "t " << t;
  }
  // Away from both walls dc/dr = 0 and the Lamm equation leaves
  // dc/dt = −2·s·ω²·c: the plateau dilutes as c0·exp(−2·s·∫ω²dt), floating
  // material (s < 0) concentrates. Fast after a ramp, floating (protein
  // plateaus: the absorbance files above):
  struct Case { double s, D, rpm, accelerationTime; };
  for (const Case k : {Case{11.0, 3e-7, 50000, 300}, Case{-3.0, 4e-7, 42000, 0}}) {
    const Experiment run{5.95, 7.2, k.rpm, k.accelerationTime, {{k.s, k.D, 1.0}}};
    const std::vector<double> times = {600, 1200, 2400};
    const Profiles p = solveLamm(run, times, std::vector<double>{6.75, 6.8, 6.85});
    for (std::size_t i = 0; i < times.size(); ++i) {
      const double expected = std::exp(-2 * k.s * 1e-13 * omega2tIntegral(run, times[i]));
      for (double c : p.c[i]) EXPECT_NEAR(c, expected, 1e-5) << "s " << k.s << " t " << times[i];
    }
  }
}

TEST(LammBoundary, SecondMomentMovesAsMeniscusTimesExpSOmega2t) {
  // r̄² = r_p² − (2/c_p)·∫_{r_m}^{r_p} c·r dr with r_p in the plateau;
  // r̄ = r_m·exp(s·∫ω²dt) holds exactly for the Lamm equation, diffusion included.
  const Experiment run = proteinRun(150);
  const double rp = 6.9;
  const std::vector<double> r = radiiFromTo(run.meniscus, rp, 3000);
  const std::vector<double> times = {900, 2400, 4800};
  const Profiles p = solveLamm(run, times, r, 0, 1e-4);
  for (std::size_t i = 0; i < times.size(); ++i) {
    const double rbar = std::sqrt(rp * rp - 2 / p.c[i].back() * amount(r, p.c[i]));
    const double expected = run.meniscus * std::exp(4.4e-13 * omega2tIntegral(run, times[i]));
    EXPECT_NEAR(rbar, expected, 2e-5) << "t " << times[i];
  }
}

TEST(LammEquilibrium, LongRunReachesTheBoltzmannProfile) {
  // A 3 mm column at 12000 rpm, long after the boundary has gone:
  // c ∝ exp(M(1 − v̄ρ)ω²(r² − r_m²)/(2RT)), normalised to the loaded amount.
  const double M = 45000, vbar = 0.73, temperature = 20.0;
  const Experiment run{6.9, 7.2, 12000, 0,
                       {{3.5, diffusionFromMolarMass(3.5, M, vbar, 1.0, temperature), 1.0}}};
  const std::vector<double> r = radiiFromTo(run.meniscus, run.bottom, 30);
  const Profiles p = solveLamm(run, std::vector<double>{1.0e6}, r);
  const double a = M * (1 - vbar) * omega2FromRpm(run.rpm) /
                   (2 * kGasConstant * (temperature + 273.15));  // [1/cm²]
  const double rm2 = run.meniscus * run.meniscus, span = run.bottom * run.bottom - rm2;
  const double norm = a * span / std::expm1(a * span);
  for (std::size_t j = 0; j < r.size(); ++j)
    EXPECT_NEAR(p.c[0][j], norm * std::exp(a * (r[j] * r[j] - rm2)), 1e-5) << "r " << r[j];
  EXPECT_GT(p.c[0].back() / p.c[0].front(), 3.0);  // a real gradient, not a flat line
}

TEST(LammConvergence, EstimateBoundsTheDistanceToAFinerSolution) {
  const Experiment run = proteinRun();
  const std::vector<double> times = {300, 900, 1500, 2100, 2700, 3300};
  const std::vector<double> r = radiiFromTo(5.9, 7.25, 450);
  const Profiles reference = solveLamm(run, times, r, 0, 1e-7);
  for (double tolerance : {1e-3, 1e-5}) {
    const Profiles p = solveLamm(run, times, r, 0, tolerance);
    EXPECT_TRUE(p.converged);
    EXPECT_LE(p.errorEstimate, tolerance);
    double worst = 0;
    for (std::size_t i = 0; i < times.size(); ++i)
      for (std::size_t j = 0; j < r.size(); ++j)
        worst = std::max(worst, std::abs(p.c[i][j] - reference.c[i][j]) /
                                    std::max(0.8, std::abs(reference.c[i][j])));
    EXPECT_LE(worst, tolerance) << "tolerance " << tolerance;
    EXPECT_LE(p.cells, reference.cells);
  }
}

TEST(LammInput, ImpossibleRunsAreRefusedAndStillMaterialStaysUniform) {
  const std::vector<double> t = {600}, r = {6.5};
  std::vector<Experiment> bad(4, proteinRun());
  bad[0].bottom = bad[0].meniscus;
  bad[1].components[0].D = 0;
  bad[2].components.assign(5, {4.4, 6e-7, 0.1});
  bad[3].components.clear();
  for (const Experiment& run : bad) EXPECT_THROW(solveLamm(run, t, r), std::invalid_argument);
  EXPECT_THROW(solveLamm(proteinRun(), std::vector<double>{-1}, r), std::invalid_argument);
  EXPECT_THROW(solveLamm(proteinRun(), t, r, -5.0), std::invalid_argument);

  const Experiment still{5.95, 7.2, 42000, 0, {{0.0, 1e-6, 0.7}}};
  const std::vector<double> times{0, 5000};
  for (const auto& scan : solveLamm(still, times, radiiFromTo(5.95, 7.2, 20)).c)
    for (double c : scan) EXPECT_NEAR(c, 0.7, 1e-12);
}

}  // namespace
}  // namespace svfit::sim
