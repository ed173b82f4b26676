// The results file and the curve files: every field of the JSON object is
// there with its type and shows, in the report's number forms, the digits of
// the report of the same fit; the curve files read back exactly; a file that
// cannot be written is reported once and the fits go on.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "console/crt.h"
#include "console/format.h"
#include "report_fixture.h"
#include "results/fit_outputs.h"
#include "results/report.h"

namespace svfit::results {
namespace {

using console::FormatExp11;
using console::FormatF;
using console::FormatI;
using nlohmann::json;
using testing::SetParam;
using testing::Sw;

void SetRows(AnalysisState& st, std::initializer_list<std::array<double, 3>> rows) {
  int k = 0;
  for (const auto& [value, start, sd] : rows) SetParam(st, ++k, value, start, sd);  // sd 0: fixed
}

struct Case {
  char model;
  std::function<void(AnalysisState&)> set;
};

const Case kCases[] = {
    {'N',  // bounded cell, one component; RI noise replaces the base line
     [](AnalysisState& st) {
       st.paramCount = st.dParamIndex = 7;
       st.riNoiseOn = true;
       st.meanRiOffset = 0.0021;
       SetRows(st, {{0.8123, 0.75, 0.0021}, {Sw(4.35), Sw(4.0), Sw(0.012)}, {0.0056, 0.0, 0},
                    {5.9512, 5.95, 0.00031}, {7.21, 7.2, 0}, {-0.0123, 0.0, 0.0004},
                    {6.1e-7, 5.5e-7, 2.3e-9}});
     }},
    {'C',  // three components, component 3's D tied to a molar mass
     [](AnalysisState& st) {
       st.paramCount = 11;
       st.dParamIndex = 5;
       st.molMassGiven[3] = true;
       SetRows(st, {{0.41, 0.4, 0.003}, {Sw(2.1), Sw(2.0), Sw(0.02)}, {-0.002, 0.0, 0.0005},
                    {5.9512, 5.95, 0}, {8.2e-7, 8.0e-7, 1.1e-8}, {0.22, 0.2, 0.002},
                    {Sw(4.4), Sw(4.0), Sw(0.03)}, {6.0e-7, 6.0e-7, 0}, {0.1, 0.12, 0.004},
                    {Sw(7.0), Sw(7.5), Sw(0.1)}, {4.1e-7, 4.1e-7, 0}});
     }},
    {'S',  // concentration-dependent s, both noise terms
     [](AnalysisState& st) {
       st.paramCount = st.dParamIndex = 6;
       st.tiNoiseOn = st.riNoiseOn = true;
       SetRows(st, {{0.8123, 0.75, 0.0021}, {Sw(4.35), Sw(4.0), Sw(0.012)}, {0.0056, 0.0, 0.0003},
                    {5.9512, 5.95, 0.00031}, {-0.0123, 0.0, 0.0011}, {6.1e-7, 5.5e-7, 2.3e-9}});
     }},
};

std::string E(const json& v) { return FormatExp11(v.get<double>()); }

// The parameter rows of a printed report, in order, without the indent.
std::vector<std::string> TableRows(const std::string& report) {
  std::vector<std::string> rows;
  std::istringstream in(report.substr(report.find("PARAMETER")));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    line.erase(0, 5);
    const bool molecular = line.rfind("Molecular mass", 0) == 0 || line.rfind("Friction", 0) == 0;
    if (line.size() >= 70 && line[31 + 2] == '.' && !molecular) rows.push_back(line);
  }
  return rows;
}

TEST(FitOutputs, EveryFieldTypedAndEqualToTheReportDigits) {
  const std::pair<const char*, json::value_t> kFields[] = {
      {"program", json::value_t::string},       {"version", json::value_t::string},
      {"fit", json::value_t::number_unsigned},  {"date", json::value_t::string},
      {"directory", json::value_t::string},     {"files", json::value_t::array},
      {"cell", json::value_t::number_unsigned}, {"data_kind", json::value_t::string},
      {"model", json::value_t::string},         {"components", json::value_t::number_unsigned},
      {"outcome", json::value_t::string},       {"undetermined", json::value_t::array},
      {"parameters", json::value_t::array},     {"rmsd", json::value_t::number_float},
      {"ssr", json::value_t::number_float},     {"points", json::value_t::number_unsigned},
      {"scans", json::value_t::number_unsigned}, {"iterations", json::value_t::number_unsigned},
      {"faults", json::value_t::number_unsigned}, {"damping", json::value_t::object},
      {"epsilon", json::value_t::number_float}, {"tau", json::value_t::number_float},
      {"radius_range", json::value_t::object},  {"noise", json::value_t::object},
      {"slit_speed_mm_per_s", json::value_t::number_float},
      {"time_offset", json::value_t::number_float}, {"psv", json::value_t::array},
      {"density", json::value_t::number_float}, {"viscosity", json::value_t::number_float},
      {"temperature", json::value_t::number_float}, {"rotor_speed", json::value_t::number_float},
      {"molecular", json::value_t::array},      {"archibald", json::value_t::object}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.model);
    auto st = testing::MakeFittedState(c.model);
    c.set(*st);
    st->componentCount = c.model == 'C' ? 3 : 1;
    ReportText report(true);
    PrintFitReport(*st, report, {2026, 12, 5, 6});
    const std::string text = report.Plain();
    const json j = json::parse(FitResultsJson(*st, {"", "", "9.9"}, {2, "2026-12-05T10:00:00+01:00", {}}));
    for (const auto& [key, type] : kFields) {
      ASSERT_TRUE(j.contains(key)) << key;
      EXPECT_EQ(j[key].type(), type) << key;
    }
    EXPECT_EQ(j["model"], std::string(1, c.model));
    EXPECT_EQ(j["outcome"], "fitted");
    EXPECT_TRUE(j["outcome_text"].is_null());
    EXPECT_EQ(j["fit"], 2);
    EXPECT_EQ(j["scans"], 12);
    EXPECT_EQ(j["files"].size(), 12u);

    // Parameter rows: value, deviation (blank when fixed) and start value;
    // sedimentation coefficients in Svedberg units as the report shows them.
    const std::vector<std::string> rows = TableRows(text);
    ASSERT_EQ(rows.size(), j["parameters"].size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const json& p = j["parameters"][i];
      SCOPED_TRACE(rows[i]);
      EXPECT_EQ(p["index"], i + 1);
      const std::string unit = p.contains("value_svedberg") ? "_svedberg" : "";
      EXPECT_EQ(rows[i].substr(31, 11), E(p["value" + unit]));
      EXPECT_EQ(rows[i].substr(45, 11), p["fixed"] ? std::string(11, ' ') : E(p["sd" + unit]));
      if (!p["sd"].is_null()) {
        EXPECT_FALSE(p["fixed"]);
      }
      EXPECT_EQ(rows[i].substr(59, 11), E(p["start" + unit]));
    }

    // Lines of the run summary, the fit and the molecular quantities.
    std::vector<std::string> lines = {
        "Data points/files/time offset/TI-noise   " + FormatI(j["points"], 8) + "/" +
            FormatI(j["scans"], 3),
        "Cell,temperature,wavelength,rotor:rpm,rpc   " + FormatI(j["cell"], 2) +
            FormatF(j["temperature"], 6, 1) + FormatF(j["wavelength"], 5, 0) +
            FormatF(j["rotor_speed"], 10, 0),
        "Iterations/faulted/part.spec.vol./load.conc   " + FormatI(j["iterations"], 3) + "/" +
            FormatI(j["faults"], 2) + " " + FormatF(j["psv"][0], 7, 4),
        "Parameter(total/estimated)/tau(last set)       " + FormatI(st->paramCount, 2) + "/" +
            FormatI(st->freeCount, 2) + "         " + E(j["tau"]),
        FormatF(j["radius_range"]["start"], 9, 4) + "/" + FormatF(j["radius_range"]["end"], 6, 4),
        "Standard deviation(rmsd)/time diff./SSR   " + FormatF(j["rmsd"], 10, 5) + "    13   " +
            E(j["ssr"]),
        "Damping parameter,start / epsilon     " + FormatF(j["damping"]["final"], 13, 4) + " " +
            FormatF(j["damping"]["start"], 6, 2) + "   " + E(j["epsilon"])};
    ASSERT_EQ(j["molecular"].size(), j["components"].get<std::size_t>());
    for (const json& m : j["molecular"]) {
      lines.push_back("Molecular mass/stdv/(psv*rho)  " + E(m["molar_mass"]) + "   " +
                      E(m["molar_mass_sd"]) + "   " + E(m["psv_rho"]));
      lines.push_back("Stokes radius(water)(m)/excluded volume(l/g) " + E(m["stokes_radius_m"]) +
                      "   " + E(m["excluded_volume_l_per_g"]));
      lines.push_back("Water thicknis from stokes radius(m)//-Vol/g " +
                      E(m["water_thickness_m"]) + "   " + E(m["water_volume_ml_per_g"]));
      lines.push_back("Friction ratio/viscosity/rho   " + E(m["friction_ratio"]) + "   " +
                      E(j["viscosity"]) + "   " + E(j["density"]));
    }
    for (const std::string& line : lines) EXPECT_NE(text.find(line), std::string::npos) << line;
    if (c.model == 'C') {  // a mass tied to D has no deviation of its own
      EXPECT_TRUE(j["parameters"][10]["molar_mass_given"]);
      EXPECT_EQ(j["molecular"][2]["molar_mass_sd"], 0.0);
    }

    // Archibald masses only where the report prints them.
    const json& a = j["archibald"];
    const std::string archibald =
        c.model == 'C' ? "" : c.model == 'S' ? "after Archibald(1.File)         " + E(a["meniscus"])
                                             : "Archibald mass at meniscus/bottom (1.File)   " +
                                                   E(a["meniscus"]) + "   " + E(a["bottom"]);
    if (archibald.empty()) {
      EXPECT_TRUE(a["meniscus"].is_null() && a["bottom"].is_null());
    } else {
      EXPECT_NE(text.find(archibald), std::string::npos) << archibald;
    }
  }
}

// The curve of one scan: the used points only, residual = measured − fitted
// exactly, the RI term of the scan and the TI term of each radial index.
TEST(FitOutputs, CurveFilesReadBackExactlyAndNameTheirScan) {
  auto st = testing::MakeFittedState('C');
  st->tiNoiseOn = st->riNoiseOn = true;
  const int s = 5;
  st->scanFirstPoint[s] = 2;
  st->scanPointCount[s] = st->scanLastPoint[s] = 3;
  st->scanFileName[s] = "/data/run7/00009.RA2";
  for (int i = 1; i <= 3; ++i) {
    st->scanRadius[s][i] = 6.0 + 0.1 * i;
    st->fitCurve[s][i] = 0.1 / 3 * i;
    st->tiNoise[i] = 0.01 * i;
  }
  std::istringstream csv(ScanCurveCsv(*st, s));
  std::string line;
  std::getline(csv, line);
  EXPECT_EQ(line, "radius_cm,measured,fitted,residual,ri_noise,ti_noise");
  int n = 0;
  while (std::getline(csv, line)) {
    const int i = 2 + n++;
    std::array<double, 6> v{};
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3],
                          &v[4], &v[5]),
              6);
    EXPECT_EQ(v[0], st->scanRadius[s][i]);
    EXPECT_EQ(v[1], st->scanValue[s][i]);
    EXPECT_EQ(v[2], st->fitCurve[s][i]);
    EXPECT_EQ(v[3], v[1] - v[2]);
    EXPECT_EQ(v[4], st->riNoise[s]);
    EXPECT_EQ(v[5], st->tiNoise[i]);
  }
  EXPECT_EQ(n, 2);
  EXPECT_EQ(CurveFileName(*st, 12, s), "fit012-00009.RA2.csv");
  EXPECT_EQ(CurveFileName(*st, 1, 6), "fit001-scan6.csv");
}

// Two fits: two lines numbered 1 and 2 and two sets of curve files; a
// results file that cannot be written is said once on the console.
TEST(FitOutputs, EachFitAppendsOneLineAndAFailureIsToldOnce) {
  auto st = testing::MakeFittedState('C');
  st->paramCount = st->dParamIndex = 5;
  char dir[] = "/tmp/svfit-outputs-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string results = std::string(dir) + "/r.jsonl", curves = std::string(dir) + "/c";
  console::StartTestConsole("");
  FitOutputWriter good, bad;
  good.Configure({results, curves, "1.0"});
  bad.Configure({std::string(dir) + "/missing/r.jsonl", "", "1.0"});
  for (int fit = 0; fit < 2; ++fit) {
    good.AfterFit(*st);
    bad.AfterFit(*st);
  }
  std::ifstream in(results);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    const json j = json::parse(line);
    EXPECT_EQ(j["fit"], ++n);
    EXPECT_EQ(j["curves"].size(), 12u);
  }
  EXPECT_EQ(n, 2);
  EXPECT_TRUE(std::filesystem::exists(curves + "/fit002-scan13.csv"));
  const std::string t = console::TestTranscript();
  EXPECT_EQ(t, "results file cannot be written (No such file or directory):\n  " +
                   std::string(dir) + "/missing/r.jsonl\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace svfit::results
