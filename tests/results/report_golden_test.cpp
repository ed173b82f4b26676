// Whole reports of every model family compared byte for byte with golden
// files under tests/testdata/report (see the README there for how they were
// made). Console reports are compared in annotated form, so that the colour
// changes and the paging wait are checked as well as the text.
//
// To rewrite the golden files after a deliberate layout change, run the test
// with SVFIT_WRITE_GOLDEN=1 and review every changed line by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "report_fixture.h"
#include "results/report.h"

namespace svfit::results {
namespace {

using testing::MakeFittedState;
using testing::SetParam;
using testing::Sw;

const ReportDate kDate{2026, 12, 5, 6};

std::string GoldenPath(const std::string& name) {
  return std::string(SVFIT_SOURCE_DIR) + "/tests/testdata/report/" + name;
}

void ExpectGolden(const std::string& name, const std::string& actual) {
  if (std::getenv("SVFIT_WRITE_GOLDEN") != nullptr) {
    std::ofstream(GoldenPath(name), std::ios::binary) << actual;
    GTEST_SKIP() << "wrote " << name;
  }
  std::ifstream in(GoldenPath(name), std::ios::binary);
  ASSERT_TRUE(in) << "missing golden file " << name;
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(actual, expected.str()) << "report differs from " << name;
}

std::string Console(AnalysisState& st) {
  ReportText out(false);
  PrintFitReport(st, out, kDate);
  return out.Annotated();
}

std::string Printer(AnalysisState& st) {
  ReportText out(true);
  PrintFitReport(st, out, kDate);
  return out.Annotated();  // the printer has no colours or waits: plain text
}

// A single-component model with five parameters, all fitted.
void SetFive(AnalysisState& st) {
  st.paramCount = 5;
  st.dParamIndex = 5;
  st.componentCount = 1;
  SetParam(st, 1, 0.8123, 0.75, 0.0021);
  SetParam(st, 2, Sw(4.35), Sw(4.0), Sw(0.012));
  SetParam(st, 3, 0.0056, 0.0, 0.0003);
  SetParam(st, 4, 5.9512, 5.95, 0.00031);
  SetParam(st, 5, 6.1e-7, 5.5e-7, 2.3e-9);
}

// Bounded cell, one component; RI noise on and TI noise off, so the base line
// shows its level with the mean RI offset.
void SetN1(AnalysisState& st) {
  st.paramCount = 7;
  st.dParamIndex = 7;
  st.componentCount = 1;
  st.riNoiseOn = true;
  st.meanRiOffset = 0.0021;
  SetParam(st, 1, 0.8123, 0.75, 0.0021);
  SetParam(st, 2, Sw(4.35), Sw(4.0), Sw(0.012));
  SetParam(st, 3, 0.0056, 0.0, 0);
  SetParam(st, 4, 5.9512, 5.95, 0.00031);
  SetParam(st, 5, 7.21, 7.2, 0);
  SetParam(st, 6, -0.0123, 0.0, 0.0004);
  SetParam(st, 7, 6.1e-7, 5.5e-7, 2.3e-9);
}

TEST(ReportGolden, BoundedCellOneComponentConsole) {
  auto st = MakeFittedState('N');
  SetN1(*st);
  ExpectGolden("n1_console.txt", Console(*st));
}

TEST(ReportGolden, BoundedCellTwoComponentsPrinter) {
  auto st = MakeFittedState('N');
  SetN1(*st);
  st->paramCount = 10;
  st->componentCount = 2;
  st->tiNoiseOn = true;
  st->meanRiOffset = 0;
  SetParam(*st, 8, 0.3, 0.25, 0.004);
  SetParam(*st, 9, Sw(11.2), Sw(10.0), Sw(0.08));
  SetParam(*st, 10, 3.9e-7, 3.9e-7, 0);
  ExpectGolden("n2_printer.txt", Printer(*st));
}

TEST(ReportGolden, SyntheticCellWithBottomConsole) {
  auto st = MakeFittedState('R');
  SetN1(*st);
  st->riNoiseOn = false;
  st->meanRiOffset = 0;
  st->freeCount = 0;
  SetParam(*st, 1, 0.8123, 0.75, 0.0021);
  SetParam(*st, 2, Sw(4.35), Sw(4.0), Sw(0.012));
  SetParam(*st, 3, 0.0056, 0.0, 0.0003);
  SetParam(*st, 7, 6.1e-7, 5.5e-7, 2.3e-9);
  ExpectGolden("r_console.txt", Console(*st));
}

// Faxen type with four components: the console pages after component 1;
// component 3's D is tied to a molar mass.
TEST(ReportGolden, FaxenFourComponentsConsole) {
  auto st = MakeFittedState('C');
  st->paramCount = 14;
  st->dParamIndex = 5;
  st->componentCount = 4;
  st->molMassGiven[3] = true;
  SetParam(*st, 1, 0.41, 0.4, 0.003);
  SetParam(*st, 2, Sw(2.1), Sw(2.0), Sw(0.02));
  SetParam(*st, 3, -0.002, 0.0, 0.0005);
  SetParam(*st, 4, 5.9512, 5.95, 0);
  SetParam(*st, 5, 8.2e-7, 8.0e-7, 1.1e-8);
  SetParam(*st, 6, 0.22, 0.2, 0.002);
  SetParam(*st, 7, Sw(4.4), Sw(4.0), Sw(0.03));
  SetParam(*st, 8, 6.0e-7, 6.0e-7, 0);
  SetParam(*st, 9, 0.1, 0.12, 0.004);
  SetParam(*st, 10, Sw(7.0), Sw(7.5), Sw(0.1));
  SetParam(*st, 11, 4.1e-7, 4.1e-7, 0);
  SetParam(*st, 12, 0.05, 0.05, 0.006);
  SetParam(*st, 13, Sw(11.5), Sw(11.0), Sw(0.4));
  SetParam(*st, 14, 3.2e-7, 3.0e-7, 4.0e-8);
  ExpectGolden("c4_console.txt", Console(*st));
}

TEST(ReportGolden, FaxenOneComponentPrinter) {
  auto st = MakeFittedState('O');
  SetFive(*st);
  st->secondSetLoaded = true;
  st->firstSetTitle = "/data/run6/00001";
  ExpectGolden("o_printer.txt", Printer(*st));
}

// Synthetic boundary with D tied to a given molar mass: no standard deviation
// of M.
TEST(ReportGolden, HiesterVermeulenTiedMassConsole) {
  auto st = MakeFittedState('H');
  SetFive(*st);
  st->molMassGiven[1] = true;
  st->freeCount = 4;  // P[5] fixed: the molar mass 66000 was given
  st->startValue[5] = 66000.0;
  ExpectGolden("h_console.txt", Console(*st));
}

void SetSM(AnalysisState& st) {
  st.paramCount = 6;
  st.dParamIndex = 6;
  st.componentCount = 1;
  SetParam(st, 1, 0.8123, 0.75, 0.0021);
  SetParam(st, 2, Sw(4.35), Sw(4.0), Sw(0.012));
  SetParam(st, 3, 0.0056, 0.0, 0.0003);
  SetParam(st, 4, 5.9512, 5.95, 0.00031);
  SetParam(st, 5, -0.0123, 0.0, 0.0011);
  SetParam(st, 6, 6.1e-7, 5.5e-7, 2.3e-9);
}

TEST(ReportGolden, ConcentrationDependentSConsole) {
  auto st = MakeFittedState('M');
  SetSM(*st);
  ExpectGolden("m_console.txt", Console(*st));
}

TEST(ReportGolden, ConcentrationDependentSPrinter) {
  auto st = MakeFittedState('S');
  SetSM(*st);
  st->tiNoiseOn = true;
  st->riNoiseOn = true;
  ExpectGolden("s_printer.txt", Printer(*st));
}

TEST(ReportGolden, LnxTauConsoleNamesTheSeries) {
  auto st = MakeFittedState('P');
  SetFive(*st);
  ExpectGolden("p_console.txt", Console(*st));
  EXPECT_EQ(st->setTitle, "/data/run7/00005.R__");
}

}  // namespace
}  // namespace svfit::results
