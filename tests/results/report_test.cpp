// Rules of the report layout that the golden files cover only by example:
// the fixed/fitted row rule, the base-line row under RI noise, the file
// number list, the option D lists, the printer destination.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report_fixture.h"
#include "console/crt.h"
#include "console/format.h"
#include "results/report.h"

namespace svfit::results {
namespace {

using testing::MakeFittedState;
using testing::SetParam;
using testing::Sw;

const ReportDate kDate{2026, 12, 5, 6};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The report line that starts with `label` (after the indent).
std::string LineStartingWith(const std::string& text, const std::string& label) {
  for (const auto& line : Lines(text)) {
    const auto start = line.find_first_not_of(' ');
    if (start != std::string::npos && line.compare(start, label.size(), label) == 0) return line;
  }
  return "<no line " + label + ">";
}

std::string Report(AnalysisState& st, bool printer) {
  ReportText out(printer);
  PrintFitReport(st, out, kDate);
  return out.Plain();
}

std::unique_ptr<AnalysisState> FaxenState() {
  auto st = MakeFittedState('D');
  st->paramCount = 5;
  st->dParamIndex = 5;
  st->componentCount = 1;
  return st;
}

TEST(ParameterRows, FixedRowHasFourteenBlanksAndFittedRowsKeepTheirDeviations) {
  auto st = FaxenState();
  SetParam(*st, 1, 0.000123456, 1.5e-123, 0.001);
  SetParam(*st, 2, Sw(4.0), Sw(3.0), Sw(0.05));
  SetParam(*st, 3, 0.01, 0.02, 0);  // fixed between two fitted ones
  SetParam(*st, 4, 6.0, 6.1, 0);
  SetParam(*st, 5, 6e-7, 5e-7, 3e-9);
  const std::string text = Report(*st, false);
  // Five significant digits; a three-digit exponent keeps its last two digits.
  EXPECT_EQ(LineStartingWith(text, "Initial absorbance"),
            "Initial absorbance              1.2346E-04    1.0000E-03    1.5000E-23");
  EXPECT_EQ(LineStartingWith(text, "Base line"),
            "Base line                       1.0000E-02" + std::string(17, ' ') + " 2.0000E-02");
  EXPECT_EQ(LineStartingWith(text, "Meniscus radius"),
            "Meniscus radius                 6.0000E+00" + std::string(17, ' ') + " 6.1000E+00");
  // The deviation of P[5] is the third of the free list, not the next in line.
  EXPECT_EQ(LineStartingWith(text, "Diffusion coefficient"),
            "Diffusion coefficient           6.0000E-07    3.0000E-09    5.0000E-07");
  // s, its deviation and its start value in Svedberg units.
  EXPECT_EQ(LineStartingWith(text, "Svedberg coeff."),
            "Svedberg coeff. (Svedb.units)   4.0000E+00    5.0000E-02    3.0000E+00");
}

TEST(ParameterRows, BaseLineUnderRiNoiseShowsMeanOffsetAndNoDeviation) {
  auto st = FaxenState();
  st->riNoiseOn = true;
  st->meanRiOffset = 0.004;
  SetParam(*st, 3, 0.01, 0.0, 0);
  SetParam(*st, 5, 6e-7, 5e-7, 3e-9);
  EXPECT_EQ(LineStartingWith(Report(*st, false), "Base line"),
            "Base line                       1.4000E-02" + std::string(17, ' ') + " 0.0000E+00");
  // The fixture's RI offsets 0.002 .. 0.013 of scans 2..13 have the mean 0.0075.
  EXPECT_DOUBLE_EQ(MeanRiOffset(*st), 0.0075);
  // With TI noise on as well the base line is an ordinary row of P[3].
  st->tiNoiseOn = true;
  EXPECT_EQ(MeanRiOffset(*st), 0.0);
  EXPECT_EQ(LineStartingWith(Report(*st, false), "Base line"),
            "Base line                       1.0000E-02" + std::string(17, ' ') + " 0.0000E+00");
}

// ---- File number list --------------------------------------------------------

std::string FileList(AnalysisState& st, bool printer) {
  ReportText out(printer);
  PrintRunSummary(st, out);
  std::string text = out.Plain();
  return text.substr(0, text.find("Parameter(total") - out.indent().size());
}

TEST(FileNumberList, FillsLinesExactlyAndStopsAfterTwo) {
  auto st = MakeFittedState('C');
  st->infoLines[0].clear();
  st->dataFileNote.clear();
  st->scanCount = 700;
  for (int i = 1; i <= 700; ++i) st->scanSequence[i] = i;
  st->seqFirst = 1;
  st->seqLast = 700;
  st->startFileNumber = 100;  // three digits: four columns per number
  // 20 numbers fill the 80 console columns exactly; the row wraps by itself,
  // so no line end follows.
  const std::string console = FileList(*st, false);
  ASSERT_EQ(console.size(), 160u);
  EXPECT_EQ(console.substr(0, 8), "100 101 ");
  EXPECT_EQ(console.substr(80, 4), "120 ");
  const auto printer = Lines(FileList(*st, true));
  ASSERT_EQ(printer.size(), 3u);  // two lines of numbers and the set title
  EXPECT_EQ(printer[0].size(), 5u + 72u);  // indent not counted: 18 numbers
  EXPECT_EQ(printer[1].substr(0, 9), "     118 ");
}

TEST(FileNumberList, NumberThatDoesNotFitStartsTheNextLine) {
  auto st = MakeFittedState('C');
  st->infoLines[0].clear();
  st->dataFileNote.clear();
  st->scanCount = 40;
  for (int i = 1; i <= 40; ++i) st->scanSequence[i] = i;
  st->seqFirst = 1;
  st->seqLast = 40;
  st->startFileNumber = 1;
  // 1..9 take 18 columns and 10..29 another 60: 78; "30 " would end at
  // column 81, so it starts the second line instead of being left out.
  const auto lines = Lines(FileList(*st, false));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 78u);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 6), "28 29 ");
  EXPECT_EQ(lines[1], "30 31 32 33 34 35 36 37 38 39 40 ");
  // File numbers are cut to their first three digits.
  st->startFileNumber = 12340;
  EXPECT_EQ(FileList(*st, false).substr(0, 8), "123 123 ");
}

// ---- Run summary --------------------------------------------------------------

TEST(RunSummary, SecondSpeedSetLineNamesFirstPositionOfOtherSpeed) {
  auto st = MakeFittedState('C');
  st->secondSpeedFirstScan = 9;
  for (int i = 9; i <= 14; ++i) st->scanOmega2[i] = 0.64;  // 40000 of 50000 rpm
  ReportText out(false);
  PrintRunSummary(*st, out);
  EXPECT_EQ(LineStartingWith(out.Plain(), "Number of first file"),
            "Number of first file with second rotor speed : 9");
}

// ---- Degenerate values ------------------------------------------------------------

TEST(DegenerateValues, ZeroAndNegativeParametersPrintInTheirFields) {
  auto st = FaxenState();
  SetParam(*st, 2, -Sw(1.0), 0, 0);  // negative s: M < 0
  SetParam(*st, 4, 0.0, 0, 0);       // ε divides by zero
  SetParam(*st, 5, 0.0, 0, 0);       // D = 0
  const std::string text = Report(*st, true);
  for (const auto& label : {"Molecular mass/stdv", "Stokes radius", "Water thicknis",
                            "Friction ratio", "Damping parameter"}) {
    const std::string line = LineStartingWith(text, label);
    EXPECT_NE(line.find_first_of("IN"), std::string::npos) << line;  // Inf or NaN
  }
  EXPECT_EQ(LineStartingWith(text, "Molecular mass/stdv").size(),
            LineStartingWith(Report(*MakeFittedState('D'), true), "Molecular mass/stdv").size());
}

// ---- Option D lists -------------------------------------------------------------

TEST(OptionDLists, PointCountsWrapAfterSixtySixColumns) {
  auto st = MakeFittedState('C');
  st->maxPointCount = 40;
  for (int i = 1; i <= 40; ++i) st->pointScanCount[i] = i % 10 == 0 ? 0 : 100 + i;
  st->pointScanCount[1] = 7;
  ReportText out(true);
  AppendPointCountList(*st, out);
  const auto lines = Lines(out.Plain().substr(3));
  // 7 takes 3 columns, the others 4 (zeros are left out): 7, 102..109 and
  // 111..118 make 3 + 16·4 = 67 >= 66 columns, which ends the first line.
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 5u + 67u);
  EXPECT_EQ(lines[0].substr(0, 13), "       7 102 ");
  EXPECT_EQ(lines[0].substr(lines[0].size() - 4), " 118");
  EXPECT_EQ(lines[1].substr(0, 13), "      119 121");
}

// ---- Printer destination -------------------------------------------------------

TEST(PrinterDestination, WithoutSpoolerTheReportGoesToADatedTextFile) {
  const auto dir = std::filesystem::temp_directory_path() / "svfit_report_test";
  std::filesystem::create_directories(dir);
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 5;
  t.tm_hour = 14;
  t.tm_min = 3;
  t.tm_sec = 9;
  t.tm_isdst = -1;
  const std::time_t when = std::mktime(&t);
  const std::string note = SendReportToPrinter("Parameter \xB5\n", dir.string(), false, when);
  const auto path = dir / "svfit-print-20261205-140309.txt";
  EXPECT_EQ(note, "report written to " + path.string());
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(), "Parameter \xC2\xB5\n");  // µ as UTF-8
  std::filesystem::remove_all(dir);
}

TEST(PrinterDestination, OptionDPrintsReportAndAskedListsThenReturnsTheNextKey) {
  const auto dir = std::filesystem::temp_directory_path() / "svfit_option_d_test";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  auto st = FaxenState();
  st->riNoiseOn = true;
  st->tiNoiseOn = true;
  st->maxPointCount = 3;
  st->pointScanCount = {};
  st->pointScanCount[2] = 12;
  st->firstFileName = "/data/run7/00005.RA2";
  // RI list: a refused key, then Y; point counts: Enter (no); then "z".
  console::StartTestConsole("xY\rz");
  const int next = PrintReportOption(*st, false, {dir.string(), false});
  EXPECT_EQ(next, 'Z');
  const std::string shown = console::TestTranscript();
  EXPECT_NE(shown.find("Print local base line values (RI-Noise)  (Y/N) : Y"), std::string::npos);
  EXPECT_NE(shown.find("Print number of data points pro abscissa value (Y/N) : N"),
            std::string::npos);
  EXPECT_NE(shown.find("report written to " + dir.string()), std::string::npos);
  EXPECT_NE(shown.find("data send off"), std::string::npos);

  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  std::ifstream in(std::filesystem::directory_iterator(dir)->path(), std::ios::binary);
  std::stringstream printed;
  printed << in.rdbuf();
  const std::string text = printed.str();
  EXPECT_EQ(text.substr(0, 14), "\n\n\n     \n     ");  // three lines, then the report
  EXPECT_NE(text.find("     /data/run7/00005\n"), std::string::npos);  // set title refreshed
  EXPECT_NE(text.find("\x1b\x0c\n      2.000-03  3.000-03"), std::string::npos);  // RI list
  EXPECT_EQ(text.find("  12\n"), std::string::npos);  // no point-count list
  std::filesystem::remove_all(dir);
}

// ---- Console output ---------------------------------------------------------------

TEST(ConsoleReport, PagingWaitsForOneKeyAndColoursReachTheConsole) {
  auto st = FaxenState();
  console::StartTestConsole(std::string("\0\x48", 2));  // an extended key: both bytes taken
  ReportText out(false);
  PrintFitReport(*st, out, kDate);
  out.WriteToConsole();
  EXPECT_NE(console::TestTranscript().find("date: 5:12:2026\n"), std::string::npos);
  EXPECT_NE(console::TestTranscript().find("PARAMETER"), std::string::npos);
  // Every line starts at column 1 of its row, not where the last one ended.
  EXPECT_NE(console::TestTranscript().find("\nInitial absorbance "), std::string::npos)
      << console::TestTranscript();
  EXPECT_EQ(console::TextAttribute() & 0x0F, console::kWhite);
  EXPECT_EQ(FormatReportDate({2027, 1, 31, 0}), "31:1:2027");
}

}  // namespace
}  // namespace svfit::results
