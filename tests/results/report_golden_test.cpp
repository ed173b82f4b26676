// Whole reports of every model family compared byte for byte with golden
// files under tests/testdata/report (see the README there for how they were
// made and what each exercises). Console reports are compared in annotated
// form, so that the colour changes and the paging wait are checked too.
//
// To rewrite the golden files after a deliberate layout change, run the test
// with SVFIT_WRITE_GOLDEN=1 and review every changed line by hand.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>

#include "report_fixture.h"
#include "results/report.h"

namespace svfit::results {
namespace {

using testing::SetParam;
using testing::Sw;

// One component in `count` parameters, all fitted: c0, s, base line,
// meniscus, (for S and M) the concentration parameter, D.
void SetOne(AnalysisState& st, int count) {
  st.paramCount = st.dParamIndex = count;
  st.componentCount = 1;
  SetParam(st, 1, 0.8123, 0.75, 0.0021);
  SetParam(st, 2, Sw(4.35), Sw(4.0), Sw(0.012));
  SetParam(st, 3, 0.0056, 0.0, 0.0003);
  SetParam(st, 4, 5.9512, 5.95, 0.00031);
  if (count == 6) SetParam(st, 5, -0.0123, 0.0, 0.0011);
  SetParam(st, count, 6.1e-7, 5.5e-7, 2.3e-9);
}
// Sets parameters 1.. from rows of value, start value and standard deviation
// (0: fixed).
void SetRows(AnalysisState& st, std::initializer_list<std::array<double, 3>> rows) {
  int k = 0;
  for (const auto& [value, start, sd] : rows) SetParam(st, ++k, value, start, sd);
}
// Bounded cell, one component; the base line and the bottom fixed; RI noise
// on and TI noise off, so the base line shows its level with the mean RI offset.
void SetN1(AnalysisState& st) {
  st.paramCount = st.dParamIndex = 7;
  st.componentCount = 1;
  st.riNoiseOn = true;
  st.meanRiOffset = 0.0021;
  // clang-format off
  SetRows(st, {{0.8123, 0.75, 0.0021}, {Sw(4.35), Sw(4.0), Sw(0.012)}, {0.0056, 0.0, 0},
               {5.9512, 5.95, 0.00031}, {7.21, 7.2, 0}, {-0.0123, 0.0, 0.0004},
               {6.1e-7, 5.5e-7, 2.3e-9}});
  // clang-format on
}

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
    {"c4_console.txt", 'C', false,
     [](AnalysisState& st) {  // four components; the console pages after the first
       st.paramCount = 14;
       st.dParamIndex = 5;
       st.componentCount = 4;
       st.molMassGiven[3] = true;  // component 3's D tied to a molar mass
       // clang-format off
       SetRows(st, {{0.41, 0.4, 0.003}, {Sw(2.1), Sw(2.0), Sw(0.02)}, {-0.002, 0.0, 0.0005},
                    {5.9512, 5.95, 0}, {8.2e-7, 8.0e-7, 1.1e-8}, {0.22, 0.2, 0.002},
                    {Sw(4.4), Sw(4.0), Sw(0.03)}, {6.0e-7, 6.0e-7, 0}, {0.1, 0.12, 0.004},
                    {Sw(7.0), Sw(7.5), Sw(0.1)}, {4.1e-7, 4.1e-7, 0}, {0.05, 0.05, 0.006},
                    {Sw(11.5), Sw(11.0), Sw(0.4)}, {3.2e-7, 3.0e-7, 4.0e-8}});
       // clang-format on
     }},
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
    {"s_printer.txt", 'S', true,
     [](AnalysisState& st) {
       SetOne(st, 6);
       st.tiNoiseOn = st.riNoiseOn = true;
     }},
    {"p_console.txt", 'P', false, [](AnalysisState& st) { SetOne(st, 5); }},
};

TEST(ReportGolden, EveryFamilyOnConsoleOrPrinterMatchesItsGoldenFile) {
  for (const GoldenCase& c : kCases) {
    auto st = testing::MakeFittedState(c.model);
    c.set(*st);
    ReportText out(c.printer);
    PrintFitReport(*st, out, {2026, 12, 5, 6});
    const std::string path = SVFIT_SOURCE_DIR "/tests/testdata/report/" + std::string(c.file);
    if (std::getenv("SVFIT_WRITE_GOLDEN") != nullptr) {
      std::ofstream(path, std::ios::binary) << out.Annotated();
      continue;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "missing golden file " << c.file;
    std::stringstream expected;
    expected << in.rdbuf();
    EXPECT_EQ(out.Annotated(), expected.str()) << "report differs from " << c.file;
    if (c.model == 'P') {  // named after the series of the new instrument files
      EXPECT_EQ(st->setTitle, "/data/run7/00005.R__");
    }
  }
}

// The row rules the bounded-cell report (n1) shows, spelled out: a fixed
// parameter leaves the deviation column blank (fourteen blanks), a deviation
// belongs to its own parameter (P[6] is the fourth of the free list), and
// with RI noise but no TI noise the base line is P[3] plus the mean RI offset.
TEST(ReportGolden, FixedRowsDeviationsAndTheBaseLineUnderRiNoise) {
  auto st = testing::MakeFittedState('N');
  SetN1(*st);
  ReportText out(false);
  PrintFitReport(*st, out, {2026, 12, 5, 6});
  const std::string text = out.Plain(), blank(14, ' ');
  EXPECT_NE(text.find("\nBase line                       7.7000E-03   " + blank + " 0.0000E+00\n"),
            std::string::npos);
  EXPECT_NE(text.find("\nBottom radius                   7.2100E+00   " + blank + " 7.2000E+00\n"),
            std::string::npos);
  EXPECT_NE(text.find("\nRotation parameter             -1.2300E-02    4.0000E-04    0.0000E+00\n"),
            std::string::npos);
  // The offsets 0.002 .. 0.013 of the used scans 2..13 have the mean 0.0075;
  // with TI noise as well the base line is P[3] alone.
  EXPECT_DOUBLE_EQ(MeanRiOffset(*st), 0.0075);
  st->tiNoiseOn = true;
  EXPECT_EQ(MeanRiOffset(*st), 0.0);
}

}  // namespace
}  // namespace svfit::results
