// The results file: for the report families N, C (four components, one D
// tied to a molar mass) and S, every field is there with its type, and the
// numbers, printed in the report's forms, give the report's digits. A results
// file that cannot be written is said once; each fit appends one line.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "console/crt.h"
#include "../scans/scan_fixture.h"
#include "console/format.h"
#include "report_fixture.h"
#include "results/fit_outputs.h"
#include "results/report.h"

namespace svfit::results {
namespace {

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
      {"rmsd ssr epsilon tau slit_speed_mm_per_s time_offset density viscosity temperature "
       "wavelength rotor_speed",
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
}

}  // namespace
}  // namespace svfit::results
