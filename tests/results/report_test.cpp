// Rules of the report layout that the golden files cannot show: the file
// number list, undefined quantities, the console output, and where option D
// and the printer put the report; the molecular quantities of the report
// against the textbook formulas, written out here in plain double arithmetic
// with the program's constants. The results file: for the report families N,
// C (four components, one D tied to a molar mass) and S, every field is there
// with its type, and the numbers, printed in the report's forms, give the
// report's digits; a results file that cannot be written is said once; each
// fit appends one line.
#include "results/report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "../scans/scan_fixture.h"
#include "console/crt.h"
#include "console/format.h"
#include "report_fixture.h"
#include "results/fit_outputs.h"
#include "results/molecular.h"

namespace svfit::results {
namespace {

using scans::testing::ReadFile;
using testing::kPi;
using testing::MakeFittedState;
using testing::SetParam;
using testing::Sw;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Printed(AnalysisState& st) {
  ReportText out(true);
  PrintFitReport(st, out, {2026, 12, 5, 6});
  return out.Plain();
}

std::unique_ptr<AnalysisState> FaxenState() {
  auto st = MakeFittedState('D');
  st->paramCount = st->dParamIndex = 5;
  st->componentCount = 1;
  return st;
}

std::string FileList(AnalysisState& st, bool printer, int scans, int first) {
  st.infoLines[0].clear();
  st.dataFileNote.clear();
  st.scanCount = st.seqLast = scans;
  st.seqFirst = 1;
  for (int i = 1; i <= scans; ++i) st.scanSequence[i] = i;
  st.startFileNumber = first;
  ReportText out(printer);
  PrintRunSummary(st, out);
  const std::string text = out.Plain();
  return text.substr(0, text.find("Parameter(total") - out.indent().size());
}

TEST(FileNumberList, FillsTheLineAndStartsTheNextWithANumberThatDoesNotFit) {
  auto st = MakeFittedState('C');
  // 1..9 take 18 columns, 10..29 another 60: "30 " would end in column 81.
  const auto lines = Lines(FileList(*st, false, 40, 1));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 78u);
  EXPECT_EQ(lines[1], "30 31 32 33 34 35 36 37 38 39 40 ");
  // Three digits: 20 numbers fill the 80 console columns exactly and the row
  // wraps by itself (no line end); two lines at most.
  const std::string console = FileList(*st, false, 700, 100);
  ASSERT_EQ(console.size(), 160u);
  EXPECT_EQ(console.substr(80, 4), "120 ");
  const auto printer = Lines(FileList(*st, true, 700, 100));
  ASSERT_EQ(printer.size(), 3u);  // two lines of 18 numbers and the set title
  EXPECT_EQ(printer[1],
            "     118 119 120 121 122 123 124 125 126 127 128 129 130 131 132 133 134 135 ");
  EXPECT_EQ(FileList(*st, false, 2, 12340), "123 123 \n");  // the first three digits
}

TEST(UndefinedQuantities, PrintInTheirFieldsWithoutBreakingTheLayout) {
  auto st = FaxenState();
  SetParam(*st, 2, -Sw(1.0), 0, 0);  // negative s: M < 0
  SetParam(*st, 4, 0.0, 0, 0);
  SetParam(*st, 5, 0.0, 0, 0);  // D = 0
  const auto odd = Lines(Printed(*st)), usual = Lines(Printed(*FaxenState()));
  ASSERT_EQ(odd.size(), usual.size());
  int undefined = 0;
  for (std::size_t i = 0; i < odd.size(); ++i) {
    EXPECT_EQ(odd[i].size(), usual[i].size()) << odd[i];
    undefined += odd[i].find("Inf") != std::string::npos || odd[i].find("NaN") != std::string::npos;
  }
  EXPECT_GE(undefined, 5);  // M, Stokes radius, water, friction ratio, damping
}

TEST(FitOutcome, AFailedFitAndImpossibleValuesAreSaidUnderTheTitleAndUnderTheFigures) {
  // 0.8 OD at 4.35 S with D = 6.1e-7 cm²/s: a protein of friction ratio 1.3.
  auto st = FaxenState();
  SetParam(*st, 1, 0.8, 0.7, 0.01);
  SetParam(*st, 2, Sw(4.35), Sw(4.0), Sw(0.01));
  SetParam(*st, 4, 6.05, 6.05, 0.001);
  SetParam(*st, 5, 6.1e-7, 5e-7, 1e-9);
  EXPECT_EQ(Printed(*st).find("remark"), std::string::npos);
  st->fitOutcome = FitOutcome::kSingular;
  st->undeterminedParams = (1u << 2) | (1u << 5);
  st->param[1] = -0.1;
  st->param[5] = 6.1e-5;  // a hundred times too fast for 4.35 S: f/f0 = 0.13
  st->stdDev[2] = Sw(5.0);  // s = 4.35 ± 5 S: not determined
  const std::string text = Printed(*st);
  EXPECT_NE(text.find("5:12:2026\n     FIT FAILED: parameters not determined - the values are no "
                      "result\n     not determined: parameters 2 5\n"),
            std::string::npos);
  const auto friction = text.find("Friction ratio");
  EXPECT_EQ(text.substr(text.find('\n', friction) + 1),
            "     remark: friction ratio below 1 - D too large for this s, no particle\n"
            "     remark: negative initial concentration - physically impossible\n"
            "     remark: deviation above the value - the data do not determine this component\n"
            "     \n     Molecular mass at meniscus after Archibald(1.File)          6.5432E+04\n"
            "     \n");
  // Every parameter fixed: the evaluation says so; on the console in colour 13.
  st->fitOutcome = FitOutcome::kEvaluated;
  st->undeterminedParams = 0;
  ReportText console(false);
  PrintFitReport(*st, console, {2026, 12, 5, 6});
  EXPECT_NE(console.Annotated().find("date: 5:12:2026\n<c13>NO FIT: every parameter fixed, the "
                                     "model at the given values\n<c15>"),
            std::string::npos);
}

TEST(PrinterDestination, ADatedUtf8FileWithoutSpoolerAndOptionDWithTheAskedLists) {
  const scans::testing::TempDir tmp;
  const auto dir = std::filesystem::path(tmp.path()).parent_path();
  std::tm t{};  // 14:03:09 on 5 December 2026, local time
  t.tm_year = 2026 - 1900, t.tm_mon = 11, t.tm_mday = 5;
  t.tm_hour = 14, t.tm_min = 3, t.tm_sec = 9, t.tm_isdst = -1;
  const std::string note =
      SendReportToPrinter("Parameter \xB5\n", dir.string(), false, std::mktime(&t));
  const auto path = dir / "svfit-print-20261205-140309.txt";
  EXPECT_EQ(note, "report written to " + path.string());
  EXPECT_EQ(ReadFile(path.string()), "Parameter \xC2\xB5\n");
  std::filesystem::remove(path);

  // Option D prints the report and the lists asked for, then returns the next key.
  auto st = FaxenState();
  st->riNoiseOn = st->tiNoiseOn = true;
  st->maxPointCount = 40;
  for (int i = 1; i <= 40; ++i) st->pointScanCount[i] = i % 10 == 0 ? 0 : 100 + i;
  st->pointScanCount[1] = 7;
  // RI list: a refused key, then Y; point counts: Y; then "z" after "data send off".
  console::StartTestConsole("xYYz");
  EXPECT_EQ(PrintReportOption(*st, false, {dir.string(), false}), 'Z');
  const std::string shown = console::TestTranscript();
  EXPECT_NE(shown.find("Print local base line values (RI-Noise)  (Y/N) : Y"), std::string::npos);
  EXPECT_NE(shown.find("Print number of data points pro abscissa value (Y/N) : Y"),
            std::string::npos);
  // "report written to" and "data send off": the session of option D in tests/driver.
  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  const std::string text = ReadFile(std::filesystem::directory_iterator(dir)->path().string());
  EXPECT_EQ(text.substr(0, 14), "\n\n\n     \n     ");  // three lines, then the report
  // The RI offsets of the used scans relative to their mean.
  EXPECT_NE(text.find("\x1b\x0c\n      2.000-03  3.000-03"), std::string::npos);
  // The point counts: 7 takes 3 columns, the others 4 (zeros are left out):
  // 7, 102..109 and 111..118 make 3 + 16·4 = 67 >= 66 columns, ending the line.
  const auto counts = Lines(text.substr(text.rfind("\x1b\x0c\n") + 3));
  ASSERT_EQ(counts.size(), 3u);
  EXPECT_EQ(counts[0], "       7 102 103 104 105 106 107 108 109 111 112 113 114 115 116 117 118");
  EXPECT_EQ(counts[1].substr(0, 13), "      119 121");
}

TEST(ConsoleReport, LinesStartInColumnOneAndThePagingWaitTakesOneKey) {
  console::StartTestConsole(std::string("\0\x48", 2));  // an extended key: both bytes taken
  ReportText out(false);
  PrintFitReport(*FaxenState(), out, {2026, 12, 5, 6});
  out.WriteToConsole();
  EXPECT_NE(console::TestTranscript().find("date: 5:12:2026\n"), std::string::npos);
  EXPECT_NE(console::TestTranscript().find("\nInitial absorbance "), std::string::npos);
  EXPECT_EQ(console::TextAttribute() & 0x0F, console::kWhite);
}

// ---- Molecular quantities ---------------------------------------------------------

constexpr double kR = 8.316e7;     // erg/(mol·K)
constexpr double kNA = 6.0247e23;  // 1/mol
constexpr double kT = 293.15;      // 20 °C
constexpr double kEta = 0.01002;   // poise

// 4.35 S, D = 6.1e-7 cm²/s, v̄ = 0.73 ml/g in water at 20 °C.
ComponentInput Component() {
  ComponentInput c;
  c.vbar = c.vrho = 0.73;
  c.D = 6.1e-7;
  c.sw = Sw(4.35);
  return c;
}

double Rel(Extended value, double expected) { return static_cast<double>(value) / expected - 1; }

TEST(MolecularQuantities, SvedbergEquationStokesRadiusFrictionRatioAndTheDeviationOfM) {
  auto st = MakeFittedState('C');  // 20.0 °C, 1.002 cP, ρ = 1
  const MolecularQuantities q = ComputeMolecularQuantities(*st, Component());
  const double s = 4.35e-13;
  const double M = kR * kT * s / (6.1e-7 * (1 - 0.73));
  EXPECT_NEAR(Rel(q.molarMass, M), 0, 1e-13);
  EXPECT_NEAR(M, 64387.0, 1.0);  // the figure of the golden reports
  const double rs = (kR / kNA) * kT / (6 * kPi * kEta * 6.1e-7);  // cm
  EXPECT_NEAR(Rel(q.stokesRadius, rs), 0, 1e-13);
  const double r0 = std::cbrt(3 * 0.73 * M / (4 * kPi * kNA));
  EXPECT_NEAR(Rel(q.anhydrousRadius, r0), 0, 1e-13);
  // With M from s and D the friction ratio is the ratio of the two radii.
  EXPECT_NEAR(Rel(q.frictionRatio, rs / r0), 0, 1e-12);
  EXPECT_NEAR(Rel(q.excludedVolume, 4 * (4 * kPi / 3) * rs * rs * rs * kNA / M / 1000), 0, 1e-12);
  EXPECT_NEAR(Rel(q.waterVolume, (4 * kPi / 3) * (rs * rs * rs - r0 * r0 * r0) * kNA / M), 0,
              1e-11);

  // The standard deviation of M = K·sw.
  ComponentInput c = Component();
  const double K = kR * kT / 6.1e-7 / (1 - 0.73) / testing::kOmega2;
  c.sdSw = Sw(0.012);  // D fixed: only the deviation of s counts
  EXPECT_NEAR(Rel(ComputeMolecularQuantities(*st, c).sdMolarMass, K * Sw(0.012)), 0, 1e-13);
  c.sdD = 2.3e-9;  // both fitted: relative deviations add in quadrature
  EXPECT_NEAR(Rel(ComputeMolecularQuantities(*st, c).sdMolarMass,
                  K * c.sw * std::hypot(0.012 / 4.35, 2.3e-9 / 6.1e-7)),
              0, 1e-12);
  c.tied = true;  // D follows from a given molar mass: no deviation
  EXPECT_EQ(ComputeMolecularQuantities(*st, c).sdMolarMass, 0);
}

// ---- The results file ------------------------------------------------------------

using console::FormatF;
using console::FormatI;
using nlohmann::json;

const std::pair<char, void (*)(AnalysisState&)> kCases[] = {
    {'N', testing::SetN1}, {'C', testing::SetC4}, {'S', testing::SetS}};

std::string E(const json& v) { return console::FormatExp11(v.get<double>()); }

TEST(FitOutputs, EveryFieldTypedAndPrintedAsTheReportPrintsIt) {
  const std::pair<const char*, std::function<bool(const json&)>> kTypes[] = {
      {"program version date directory data_kind model outcome", &json::is_string},
      {"fit cell components points scans iterations faults max_iterations", &json::is_number_unsigned},
      {"rmsd ssr epsilon tau slit_speed_mm_per_s time_offset data_offset density viscosity "
       "temperature wavelength rotor_speed",
       &json::is_number_float},
      {"files parameters psv molecular undetermined", &json::is_array},
      {"damping radius_range noise archibald", &json::is_object}};
  for (const auto& [model, set] : kCases) {
    SCOPED_TRACE(model);
    auto st = testing::MakeFittedState(model);
    set(*st);
    ReportText report(true);
    PrintFitReport(*st, report, {2026, 12, 5, 6});
    const std::string text = report.Plain();
    const json j = json::parse(FitResultsJson(*st, {"", "", "9.9"}, {2, "2026-12-05T10:00:00+01:00", {}}));
    for (const auto& [keys, is] : kTypes) {
      std::istringstream names(keys);
      for (std::string key; names >> key;) EXPECT_TRUE(j.contains(key) && is(j[key])) << key;
    }
    EXPECT_EQ(j["outcome"], "fitted");
    EXPECT_EQ(j["files"].size(), 12u);

    // Parameter rows: value, deviation (blank when fixed), start value; s in
    // Svedberg units. Rows are the report's lines whose value column has a
    // point in column 34, in parameter order.
    std::istringstream lines(text.substr(text.find("PARAMETER")));
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) {
      line.erase(0, 5);  // the printer's indent
      if (line.size() >= 70 && line[33] == '.' && line.rfind("Molecular", 0) && line.rfind("Friction", 0))
        rows.push_back(line);
    }
    ASSERT_EQ(rows.size(), j["parameters"].size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const json& p = j["parameters"][i];
      const std::string u = p.contains("value_svedberg") ? "_svedberg" : "";
      EXPECT_EQ(rows[i].substr(31, 11) + rows[i].substr(45, 11) + rows[i].substr(59, 11),
                E(p["value" + u]) + (p["sd"].is_null() ? std::string(11, ' ') : E(p["sd" + u])) +
                    E(p["start" + u]))
          << rows[i];
      EXPECT_TRUE(p["sd"].is_null() || !p["fixed"]);  // a fixed parameter has no deviation
    }

    // Summary, fit and molecular lines; the Archibald masses where shown.
    std::vector<std::string> expected = {
        "Data points/files/time offset/TI-noise   " + FormatI(j["points"], 8) + "/" + FormatI(j["scans"], 3),
        "Iterations/faulted/part.spec.vol./load.conc   " + FormatI(j["iterations"], 3) + "/" +
            FormatI(j["faults"], 2) + " " + FormatF(j["psv"][0], 7, 4),
        "/tau(last set)       " + FormatI(st->paramCount, 2) + "/" + FormatI(st->freeCount, 2) + "         " +
            E(j["tau"]),
        FormatF(j["radius_range"]["start"], 9, 4) + "/" + FormatF(j["radius_range"]["end"], 6, 4),
        "(rmsd)/time diff./SSR   " + FormatF(j["rmsd"], 10, 5) + "    13   " + E(j["ssr"]),
        "epsilon     " + FormatF(j["damping"]["final"], 13, 4) + " " + FormatF(j["damping"]["start"], 6, 2) +
            "   " + E(j["epsilon"])};
    ASSERT_EQ(j["molecular"].size(), j["components"].get<std::size_t>());
    for (const json& m : j["molecular"]) {
      expected.push_back("(psv*rho)  " + E(m["molar_mass"]) + "   " + E(m["molar_mass_sd"]) + "   " +
                         E(m["psv_rho"]));
      expected.push_back("(l/g) " + E(m["stokes_radius_m"]) + "   " + E(m["excluded_volume_l_per_g"]));
      expected.push_back("-Vol/g " + E(m["water_thickness_m"]) + "   " + E(m["water_volume_ml_per_g"]));
      expected.push_back("/rho   " + E(m["friction_ratio"]) + "   " + E(j["viscosity"]) + "   " + E(j["density"]));
    }
    const json& a = j["archibald"];
    if (model == 'N') expected.push_back("(1.File)   " + E(a["meniscus"]) + "   " + E(a["bottom"]));
    // C has no Archibald line; S has one, but no meniscus boundary to evaluate.
    EXPECT_EQ(model == 'C' || model == 'S', a["meniscus"].is_null() && a["bottom"].is_null());
    for (const std::string& line : expected) EXPECT_NE(text.find(line), std::string::npos) << line;
    for (int k = 1; k <= st->componentCount; ++k)  // a tied D gives M without a deviation
      EXPECT_EQ(j["molecular"][k - 1]["molar_mass_sd"] == 0.0, st->molMassGiven[k]) << k;
  }
}

// Two fits, the second failed: two lines, the second saying how it ended
// (their numbers: the batch sessions); a results file that cannot be written
// is said once on the console.
TEST(FitOutputs, EachFitAppendsOneLineAndAFailureIsToldOnce) {
  auto st = testing::MakeFittedState('C');
  st->paramCount = st->dParamIndex = 5;
  const scans::testing::TempDir tmp;
  const std::string dir = tmp.path();
  console::StartTestConsole("");
  FitOutputWriter good, bad;
  good.Configure({dir + "r.jsonl", "", "1.0"});
  bad.Configure({dir + "missing/r.jsonl", dir + "r.jsonl/c", "1.0"});
  for (int fit = 0; fit < 2; ++fit) {
    good.AfterFit(*st);
    bad.AfterFit(*st);
    st->fitOutcome = FitOutcome::kDiverged;
  }
  std::ifstream in(dir + "r.jsonl");
  std::string one, two;
  ASSERT_TRUE(std::getline(in, one) && std::getline(in, two));
  EXPECT_EQ(json::parse(one)["outcome"], "fitted");
  EXPECT_EQ(json::parse(two)["outcome"], "diverged");
  EXPECT_EQ(console::TestTranscript(),
            "curve files cannot be written (Not a directory):\n  " + dir + "r.jsonl/c\n" +
                "results file cannot be written (No such file or directory):\n  " + dir +
                "missing/r.jsonl\n");
  // Curve rows: interference values as in the scan file, the loader's offset added back.
  st->dataOffset = 0.25;
  std::istringstream csv(ScanCurveCsv(*st, 1));
  std::string row;
  double v[6];
  ASSERT_TRUE(std::getline(csv, row) && std::getline(csv, row));
  ASSERT_EQ(std::sscanf(row.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf", v, v + 1, v + 2, v + 3, v + 4, v + 5), 6);
  const int first = std::max(st->scanFirstPoint[1], 1);
  EXPECT_EQ(v[1], st->scanValue[1][first] + 0.25);
  EXPECT_EQ(v[2], st->fitCurve[1][first] + 0.25);
  EXPECT_EQ(v[3], v[1] - v[2]);
}

}  // namespace
}  // namespace svfit::results
