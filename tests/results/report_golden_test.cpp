// Whole reports of every model family compared byte for byte with golden
// files under tests/testdata/report (see the README there for how they were
// made and what each exercises). Console reports are compared in annotated
// form, so that the colour changes and the paging wait are checked too.
//
// To rewrite the golden files after a deliberate layout change, run the test
// with SVFIT_WRITE_GOLDEN=1 and review every changed line by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>

#include "../scans/scan_fixture.h"
#include "report_fixture.h"
#include "results/report.h"

namespace svfit::results {
namespace {

using namespace testing;

struct GoldenCase {
  const char* file;
  char model;
  bool printer;
  std::function<void(AnalysisState&)> set;
};

const GoldenCase kCases[] = {
    {"n1_console.txt", 'N', false, SetN1},
    {"n2_printer.txt", 'N', true,
     [](AnalysisState& st) {  // two components, TI noise on
       SetN1(st);
       st.paramCount = 10;
       st.componentCount = 2;
       st.tiNoiseOn = true;
       st.meanRiOffset = 0;
       SetParam(st, 8, 0.3, 0.25, 0.004);
       SetParam(st, 9, Sw(11.2), Sw(10.0), Sw(0.08));
       SetParam(st, 10, 3.9e-7, 3.9e-7, 0);
     }},
    {"r_console.txt", 'R', false,
     [](AnalysisState& st) {  // meniscus, bottom and rotation fixed
       st.paramCount = st.dParamIndex = 7;
       st.componentCount = 1;
       // clang-format off
       SetRows(st, {{0.8123, 0.75, 0.0021}, {Sw(4.35), Sw(4.0), Sw(0.012)}, {0.0056, 0.0, 0.0003},
                    {5.9512, 5.95, 0}, {7.21, 7.2, 0}, {-0.0123, 0.0, 0}, {6.1e-7, 5.5e-7, 2.3e-9}});
       // clang-format on
     }},
    {"c4_console.txt", 'C', false, SetC4},  // the console pages after the first component
    {"o_printer.txt", 'O', true,
     [](AnalysisState& st) {  // a second file set loaded
       SetOne(st, 5);
       st.secondSetLoaded = true;
       st.firstSetTitle = "/data/run6/00001";
     }},
    {"h_console.txt", 'H', false,
     [](AnalysisState& st) {  // D tied to the given molar mass 66000: no deviation of M
       SetOne(st, 5);
       st.molMassGiven[1] = true;
       st.freeCount = 4;
       st.startValue[5] = 66000.0;
     }},
    {"m_console.txt", 'M', false, [](AnalysisState& st) { SetOne(st, 6); }},
    {"s_printer.txt", 'S', true, SetS},
    {"p_console.txt", 'P', false, [](AnalysisState& st) { SetOne(st, 5); }},
};

TEST(ReportGolden, EveryFamilyOnConsoleOrPrinterMatchesItsGoldenFile) {
  for (const GoldenCase& c : kCases) {
    auto st = MakeFittedState(c.model);
    c.set(*st);
    ReportText out(c.printer);
    PrintFitReport(*st, out, {2026, 12, 5, 6});
    const std::string path = SVFIT_SOURCE_DIR "/tests/testdata/report/" + std::string(c.file);
    if (std::getenv("SVFIT_WRITE_GOLDEN") != nullptr) {
      std::ofstream(path, std::ios::binary) << out.Annotated();
      continue;
    }
    EXPECT_EQ(out.Annotated(), scans::testing::ReadFile(path)) << "report differs from " << c.file;
    if (c.model == 'P') {  // named after the series of the new instrument files
      EXPECT_EQ(st->setTitle, "/data/run7/00005.R__");
    }
    // The base-line level under RI noise alone: the mean of the offsets
    // 0.002 .. 0.013 of the used scans 2..13.
    EXPECT_DOUBLE_EQ(MeanRiOffset(*st), st->riNoiseOn && !st->tiNoiseOn ? 0.0075 : 0.0) << c.file;
  }
}

}  // namespace
}  // namespace svfit::results
