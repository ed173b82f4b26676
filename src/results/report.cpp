// The fit report in its six family layouts.
//
// Every line starts with the report indent (five blanks on the printer) and
// is made of fixed label texts followed by numbers in the forms of
// console/format.h. Sedimentation coefficients are kept as s·ω²_first [1/s]
// and shown in Svedberg units: × sFactor = 1e13 / ω²_first.
//
// The parameter table shows per row the value, the standard deviation when the
// parameter was fitted (fourteen blanks when it was fixed) and the start
// value. The standard deviation of parameter k is the entry of the free list
// that names k, so the columns stay aligned whatever was fixed.
//
// The console gets colour changes and one paging wait; the printer gets plain
// text, a leading and a closing empty line.
//
// Settings fields: "time diff." is the accumulated fit time [s], the start
// time that of the first used scan [s], the OD maximum the largest used value,
// the radius range runs from the start radius to the near-bottom radius [cm];
// the start damping is the q the fit started with (1 or less when it went on
// from earlier estimates), not the answer to the damping question.
#include "results/report.h"

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "console/crt.h"
#include "console/format.h"
#include "console/prompt.h"
#include "models/catalogue.h"
#include "results/fit_outcome.h"
#include "results/molecular.h"

namespace svfit::results {
namespace {

using console::FormatB;
using console::FormatC;
using console::FormatExp11;
using console::FormatF;
using console::FormatI;

std::string Blanks(int n) { return std::string(static_cast<std::size_t>(n), ' '); }

// A real shown in an integer field: rounded, 0 when not finite.
long Rounded(double v) {
  if (!std::isfinite(v) || std::fabs(v) > 1e15) return 0;
  return std::lround(v);
}

// Scan number at a sequence position (0 outside the capacity).
int ScanAt(const AnalysisState& st, int pos) {
  if (pos < 1 || pos > kMaxScans) return 0;
  const int scan = st.scanSequence[pos];
  return scan >= 1 && scan <= kMaxScans ? scan : 0;
}

enum class Family { kN, kR, kF, kH, kSM, kP };

// The report form of a model, from the model catalogue.
Family FamilyOf(char letter) {
  const models::ModelInfo* model = models::findModel(letter);
  switch (model != nullptr ? model->reportFamily : 'F') {
    case 'N': return Family::kN;
    case 'R': return Family::kR;
    case 'H': return Family::kH;
    case 'S': return Family::kSM;
    case 'P': return Family::kP;
    default: return Family::kF;  // C, D, O
  }
}

// ---- Parameter table ----------------------------------------------------------

// Position of parameter k in the free list, 0 when k was fixed.
int FreePosition(const AnalysisState& st, int k) {
  for (int i = 1; i <= st.freeCount && i <= kMaxParams; ++i) {
    if (st.freeIndex[i] == k) return i;
  }
  return 0;
}

class ParameterTable {
 public:
  ParameterTable(const AnalysisState& st, ReportText& out)
      : st_(st), out_(out), sFactor_(1e13 / st.omega2First) {}

  // Row of parameter k, values multiplied by `scale`; no deviation when k
  // was fixed.
  void Row(const char* label, int k, double scale = 1.0) {
    const int i = FreePosition(st_, k);
    std::string line = label + FormatExp11(st_.param[k] * scale) + "   ";
    if (i > 0) {
      line += FormatExp11(st_.stdDev[i] * scale) + "   ";
    } else {
      line += Blanks(14);
    }
    out_.Line(line + FormatExp11(st_.startValue[k] * scale));
  }
  void SvedbergRow(const char* label, int k) { Row(label, k, sFactor_); }

  // Heading and the rows of P[1]..P[4].
  void Head() {
    out_.Line("PARAMETER                         VALUE     STD.DEVIATION  START VALUES ");
    out_.Color(console::kWhite);
    Row("Initial absorbance             ", 1);
    SvedbergRow("Svedberg coeff. (Svedb.units)  ", 2);
    if (st_.riNoiseOn && !st_.tiNoiseOn) {
      // The RI offsets take the place of the base line: show its level as the
      // base line plus the mean offset, never with a standard deviation.
      out_.Line("Base line                      " +
                FormatExp11(st_.param[3] + st_.meanRiOffset) + "   " + Blanks(14) +
                FormatExp11(st_.startValue[3]));
    } else {
      Row("Base line                      ", 3);
    }
    Row("Meniscus radius                ", 4);
  }

  // Molecular quantities of the component with s at sIndex and D at dIndex.
  void Molecular(int component) { PrintMolecularQuantities(st_, out_, ComponentInputOf(st_, component)); }

  // Rows of a further component k = 2..4 (absorbance, s, D), in its console
  // colour, then its molecular quantities.
  void Component(int k) {
    const models::ComponentSlots slot =
        models::componentSlots(models::modelInfo(st_.modelLetter), k);
    static const char* const kLabels[5][3] = {
        {},
        {},
        {"2.Initial absorbance           ", "2.Svedberg coeff.(Svedb.units) ",
         "2.Diffusion coefficient        "},
        {"3.Initial absorbance           ", "3.Svedberg coeff.(Svedb.units) ",
         "3.Diffusion coefficient        "},
        {"4.Initial absorbance           ", "4.Svedberg coeff.(Svedb.units) ",
         "4.Diffusion coefficient        "}};
    out_.Color(k == 2 ? console::kLightMagenta : console::kLightGreen);
    Row(kLabels[k][0], slot.c0);
    SvedbergRow(kLabels[k][1], slot.s);
    Row(kLabels[k][2], slot.dOrM);
    out_.Color(console::kWhite);
    Molecular(k);
  }

 private:
  const AnalysisState& st_;
  ReportText& out_;
  double sFactor_;
};

// ---- Blocks shared by the families -------------------------------------------

void LeadingBlankLine(ReportText& out) {
  if (out.toPrinter()) out.Line("");
}

// Under the title: how the fit ended, when its numbers are not a fit result.
void OutcomeLines(const AnalysisState& st, ReportText& out) {
  const std::string outcome = FitOutcomeLine(st);
  if (outcome.empty()) return;
  out.Color(console::kLightMagenta);
  out.Line(outcome);
  const std::string undetermined = UndeterminedLine(st);
  if (!undetermined.empty()) out.Line(undetermined);
  out.Color(console::kWhite);
}

void FileNumberList(const AnalysisState& st, ReportText& out) {
  const std::size_t width = out.toPrinter() ? 72 : 80;
  std::string line;
  int lines = 0;
  const int last = std::min(st.seqLast, kMaxScans);
  for (int pos = std::max(st.seqFirst, 1); pos <= last; ++pos) {
    const long number =
        static_cast<long>(st.scanSequence[pos] - 1) * st.fileStep + st.startFileNumber;
    const std::string item = console::IntToText(number).substr(0, 3) + " ";
    if (line.size() + item.size() > width) {
      // The number goes to the next line, so that no used file is left out.
      out.Line(line);
      line.clear();
      if (++lines == 2) return;
    }
    line += item;
    if (line.size() == width) {
      // A full console row wraps by itself: a line end would leave an empty row.
      if (out.toPrinter()) {
        out.Line(line);
      } else {
        out.Text(line);
      }
      line.clear();
      if (++lines == 2) return;
    }
  }
  if (!line.empty()) out.Line(line);
}

// Slit speed [mm/s] from the scan-speed factor [s/cm].
double SlitSpeed(const AnalysisState& st) {
  return st.slitTimePerCm > 1e-10 ? 10.0 / st.slitTimePerCm : 0.0;
}

// Time of the first used scan [s].
long StartTime(const AnalysisState& st) { return Rounded(st.scanTime[ScanAt(st, st.seqFirst)]); }

std::string RadiusRange(const AnalysisState& st) {
  return FormatF(st.startRadius, 9, 4) + "/" + FormatF(st.nearBottomRadius, 6, 4) +
         FormatF(st.rpmLast, 9, 0);
}

// Settings of the families F, H, S/M and P.
void SettingsLines(const AnalysisState& st, ReportText& out, double slit, bool familyP) {
  out.Line("Max. iterations/slit speed(mm/sec)/RI-noise  " + FormatI(st.maxIterations) +
           Blanks(6) + FormatF(slit, 6, 4) + "   " + FormatB(st.riNoiseOn));
  out.Line("Radius range / rpm                        " + RadiusRange(st));
  out.Line(std::string(familyP ? "Cancel outlies/start time(s)/TI-noise substruct. "
                               : "Cancel outlies/start time(s)/TI-noise substract. ") +
           FormatC(st.outlierCorrection) + " " + FormatI(StartTime(st), 7) + Blanks(5) +
           FormatB(st.contourSubtraction));
}

// First two settings lines of the bounded-cell families N and R.
void BoundedCellSettings(const AnalysisState& st, ReportText& out, double slit) {
  out.Line("Maximal iterations/OD-max/slit speed(mm/sec) " + FormatI(st.maxIterations) +
           Blanks(5) + FormatF(MaxUsedValue(st), 5, 2) + Blanks(4) + FormatF(slit, 6, 4));
  out.Line("Radius range/rpm/Calc. last bottom point  " + RadiusRange(st) + Blanks(4) +
           FormatC(st.lastBottomPoint));
}

// rmsd, fit time, SSR and the damping and ε of the first component.
void FitLines(const AnalysisState& st, ReportText& out, int dIndex) {
  out.Line("Standard deviation(rmsd)/time diff./SSR   " + FormatF(st.sigma, 10, 5) + Blanks(2) +
           FormatI(Rounded(st.fitSeconds), 4) + "   " + FormatExp11(st.sumSq));
  // ε = 2D / (r_m²·s·ω²_first) of component 1: D and s of the same component.
  const double eps = 2 * st.param[dIndex] / (st.param[4] * st.param[4] * st.param[2]);
  out.Line("Damping parameter,start / epsilon     " + FormatF(st.dampFinal, 13, 4) + " " +
           FormatF(st.dampFitStart, 6, 2) + "   " + FormatExp11(eps));
}

// Console only: the model letter with the set title, then yellow for the
// table heading.
void ConsoleModelLine(const AnalysisState& st, ReportText& out) {
  if (out.toPrinter()) return;
  out.Line(std::string("(") + st.modelLetter + ")" + st.setTitle);
  out.Color(console::kYellow);
}

void ClosingLine(ReportText& out) {
  if (out.toPrinter()) out.Line("");
}

// ---- The families ---------------------------------------------------------------

void ReportN(const AnalysisState& st, ReportText& out, const std::string& date) {
  if (st.componentCount != 2) LeadingBlankLine(out);
  // Model F shares this report; its letter stands in the title.
  out.Line(std::string("ORVI (") + st.modelLetter + " = correct air + bottom boundary) " +
           st.dataKindText + "  Date: " + date);
  OutcomeLines(st, out);
  const double slit = PrintRunSummary(st, out);
  BoundedCellSettings(st, out, slit);
  out.Line("Test for validity<1/no.of data file/RI-noise " + FormatF(st.validityValue, 6, 3) +
           Blanks(2) + FormatI(st.validityScan, 5) + Blanks(5) + FormatB(st.riNoiseOn));
  out.Line("Cancel outlies/start time(s)/TI-noise substract. " + FormatC(st.outlierCorrection) +
           " " + FormatI(StartTime(st), 7) + Blanks(5) + FormatB(st.contourSubtraction));
  FitLines(st, out, 7);
  ConsoleModelLine(st, out);
  if (st.paramCount < 14) out.WaitKey();

  ParameterTable table(st, out);
  table.Head();
  table.Row("Bottom radius                  ", 5);
  table.Row("Rotation parameter             ", 6);
  table.Row("Diffusion coefficient          ", 7);
  table.Molecular(1);
  if (st.paramCount > 13) out.WaitKey();
  for (int k = 2; k <= kMaxComponents && st.paramCount > 3 * k + 1; ++k) {
    out.Line("");
    table.Component(k);
  }
  if (out.toPrinter() || st.paramCount == 7) out.Line("");
  if (st.paramCount == 7) {
    out.Line("Archibald mass at meniscus/bottom (1.File)   " +
             FormatExp11(st.archibaldMeniscus) + "   " + FormatExp11(st.archibaldBottom));
  }
  ClosingLine(out);
}

void ReportR(const AnalysisState& st, ReportText& out, const std::string& date) {
  LeadingBlankLine(out);
  out.Line("ORVI(R=synthetic cell with bottom boundary)" + st.dataKindText + "Date: " + date);
  OutcomeLines(st, out);
  const double slit = PrintRunSummary(st, out);
  BoundedCellSettings(st, out, slit);
  out.Line("Test for validity <1 /number of data file    " + FormatF(st.validityValue, 5, 3) +
           "   " + FormatI(st.validityScan, 5));
  out.Line("TI-noise / RI-noise                            " + FormatB(st.tiNoiseOn) +
           Blanks(11) + FormatB(st.riNoiseOn));
  out.Line("Cancel outlies/start time(s)                   " + FormatC(st.outlierCorrection) +
           "   " + FormatI(StartTime(st), 7));
  FitLines(st, out, 7);
  ConsoleModelLine(st, out);
  out.WaitKey();

  ParameterTable table(st, out);
  table.Head();
  table.Row("Bottom radius                  ", 5);
  table.Row("Rotation parameter             ", 6);
  table.Row("Diffusion coefficient          ", 7);
  out.Line("Molecular mass at  bottom  after Archibald(1.File)         " +
           FormatExp11(st.archibaldBottom));
  table.Molecular(1);
  ClosingLine(out);
}

void ReportFaxen(const AnalysisState& st, ReportText& out, const std::string& date) {
  LeadingBlankLine(out);
  out.Line(std::string("ORVI (") + st.modelLetter + " = with air liquid boundary) " +
           st.dataKindText + "       date: " + date);
  OutcomeLines(st, out);
  const double slit = PrintRunSummary(st, out);
  SettingsLines(st, out, slit, false);
  FitLines(st, out, 5);
  ConsoleModelLine(st, out);
  if (st.paramCount < 12) out.WaitKey();

  ParameterTable table(st, out);
  table.Head();
  table.Row("Diffusion coefficient          ", 5);
  table.Molecular(1);
  if (st.paramCount > 11) out.WaitKey();
  for (int k = 2; k <= kMaxComponents && st.paramCount > 3 * k - 1; ++k) {
    table.Component(k);
  }
  if (out.toPrinter() || st.paramCount == 5) out.Line("");
  if (st.paramCount == 5) {
    out.Line("Molecular mass at meniscus after Archibald(1.File)         " +
             FormatExp11(st.archibaldMeniscus));
  }
  ClosingLine(out);
}

// Body of the single-component synthetic-boundary families H and P.
void SyntheticBoundaryBody(const AnalysisState& st, ReportText& out, bool familyP) {
  const double slit = PrintRunSummary(st, out);
  SettingsLines(st, out, slit, familyP);
  FitLines(st, out, 5);
  ConsoleModelLine(st, out);
  out.WaitKey();
  ParameterTable table(st, out);
  table.Head();
  table.Row("Diffusion coefficient          ", 5);
  table.Molecular(1);
  ClosingLine(out);
}

void ReportH(const AnalysisState& st, ReportText& out, const std::string& date) {
  LeadingBlankLine(out);
  out.Line("Orvi (H=for synthetic boundary cells) " + st.dataKindText + "     Date: " + date);
  OutcomeLines(st, out);
  SyntheticBoundaryBody(st, out, false);
}

void ReportP(AnalysisState& st, ReportText& out, const std::string& date) {
  if (st.fileGeneration == 'N') {
    // Name pattern of the series: directory, first file number, any cell.
    st.setTitle = (st.directoryPath +
                   console::IntToTextZeros(st.startFileNumber, st.fileNumberWidth) + ".R__")
                      .substr(0, kLineLength);
  }
  LeadingBlankLine(out);
  out.Line("For synthetic boundary cells " + st.dataKindText);
  out.Line("Fujita (1975) Formula 2.147; " + st.dataKindText + "              Date: " + date);
  out.Line("ORVI (P = Synthetic boundary) ");
  OutcomeLines(st, out);
  SyntheticBoundaryBody(st, out, true);
}

void ReportSM(const AnalysisState& st, ReportText& out, const std::string& date) {
  LeadingBlankLine(out);
  out.Line("Estimation of diffusion and concentration dependent Svedberg coefficient");
  out.Line(st.modelLetter == 'S' ? "ORVI (S = For synthetic boundary cells)"
                                 : "ORVI (M=Standard cell with meniscus boundary Kovell,Marand)");
  out.Line("Fujita (1975) Formula 2.147; " + st.dataKindText + "              Date: " + date);
  OutcomeLines(st, out);
  const double slit = PrintRunSummary(st, out);
  SettingsLines(st, out, slit, false);
  FitLines(st, out, 6);
  ConsoleModelLine(st, out);
  out.WaitKey();

  ParameterTable table(st, out);
  table.Head();
  // k of s = s0·(1 − k·c); µ is byte 0xB5 of the console's Latin-1 set.
  table.Row("Parameter \xB5 in Sc=So-\xB5*c/cload ", 5);
  table.Row("Diffusion coefficient          ", 6);
  out.Line("Molecular mass at meniscus after Archibald(1.File)         " +
           FormatExp11(st.archibaldMeniscus));
  table.Molecular(1);
  ClosingLine(out);
}

// Latin-1 to UTF-8, for text files and the print spooler.
std::string Utf8FromLatin1(std::string_view latin1) {
  std::string s;
  s.reserve(latin1.size() + 16);
  for (const char ch : latin1) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      s.push_back(ch);
    } else {
      s.push_back(static_cast<char>(0xC0 | (c >> 6)));
      s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return s;
}

// Output of a shell command, empty when it cannot run.
std::string CommandOutput(const char* command) {
  std::string out;
  FILE* p = popen(command, "r");
  if (p == nullptr) return out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
  pclose(p);
  return out;
}

}  // namespace

double MeanRiOffset(const AnalysisState& st) {
  if (!st.riNoiseOn || st.tiNoiseOn) return 0;
  double sum = 0;
  int n = 0;
  for (int pos = std::max(st.seqFirst, 1); pos <= std::min(st.seqLast, kMaxScans); ++pos, ++n)
    sum += st.riNoise[ScanAt(st, pos)];
  return n > 0 ? sum / n : 0;
}

double MaxUsedValue(const AnalysisState& st) {
  double best = 0;
  bool any = false;
  for (int pos = std::max(st.seqFirst, 1); pos <= std::min(st.seqLast, kMaxScans); ++pos) {
    const int s = ScanAt(st, pos);
    if (s == 0) continue;
    const int last = std::min(st.scanLastPoint[s], kMaxPoints);
    for (int i = std::max(st.scanFirstPoint[s], 1); i <= last; ++i) {
      if (!any || st.scanValue[s][i] > best) best = st.scanValue[s][i];
      any = true;
    }
  }
  return best;
}

double PrintRunSummary(const AnalysisState& st, ReportText& out) {
  if (st.secondSetLoaded) out.Line(st.firstSetTitle);
  FileNumberList(st, out);
  for (const auto& info : st.infoLines) {
    if (!info.empty()) out.Line(info);
  }
  if (out.toPrinter()) {
    out.Line(st.setTitle);
  } else if (!st.dataFileNote.empty()) {
    out.Line(st.dataFileNote);
  }
  // τ = 2·s·ω²·t of the last used scan: how far its boundary has travelled.
  const double tau = 2 * st.param[2] * st.scanTime[ScanAt(st, st.seqLast)];
  out.Line("Parameter(total/estimated)/tau(last set)       " + FormatI(st.paramCount, 2) + "/" +
           FormatI(st.freeCount, 2) + Blanks(9) + FormatExp11(tau));
  if (st.secondSpeedFirstScan > 0) {
    // Scans of the second speed have a relative ω² other than 1.
    int first = 0;
    for (int pos = std::max(st.seqFirst, 1); pos <= std::min(st.seqLast, kMaxScans); ++pos) {
      if (std::fabs(st.scanOmega2[ScanAt(st, pos)] - 1.0) > 1e-13) {
        first = pos;
        break;
      }
    }
    out.Line("Number of first file with second rotor speed : " + FormatI(first));
  }
  out.Line("Data points/files/time offset/TI-noise   " + FormatI(st.pointTotal, 8) + "/" +
           FormatI(st.seqLast - st.seqFirst + 1, 3) + "   " +
           console::RealToText(st.diffTimeOffset, 5, 0) + "  " + FormatB(st.tiNoiseOn));
  out.Line("Cell,temperature,wavelength,rotor:rpm,rpc   " + FormatI(st.cellNumber, 2) +
           FormatF(st.temperature, 6, 1) + FormatF(st.wavelength, 5, 0) +
           FormatF(st.rpmFirst, 10, 0) + FormatI(Rounded(st.headerSeventh), 5));
  const double slit = SlitSpeed(st);
  // The loading-concentration option does not exist in this program: FALSE.
  out.Line("Iterations/faulted/part.spec.vol./load.conc   " +
           FormatI(st.iterCount + st.faultCount, 3) + "/" + FormatI(st.faultCount, 2) + " " +
           FormatF(st.psv[1], 7, 4) + "   " + FormatB(false));
  return slit;
}

void PrintFitReport(AnalysisState& st, ReportText& out, const ReportDate& date) {
  const std::string day = FormatReportDate(date);
  out.Color(console::kWhite);
  switch (FamilyOf(st.modelLetter)) {
    case Family::kN: ReportN(st, out, day); break;
    case Family::kR: ReportR(st, out, day); break;
    case Family::kF: ReportFaxen(st, out, day); break;
    case Family::kH: ReportH(st, out, day); break;
    case Family::kSM: ReportSM(st, out, day); break;
    case Family::kP: ReportP(st, out, day); break;
  }
}

void AppendRiNoiseList(const AnalysisState& st, ReportText& out) {
  out.Text("\x1b\x0c\n");
  out.Text(out.indent());
  int onLine = 0;
  for (int pos = std::max(st.seqFirst, 1); pos <= std::min(st.seqLast, kMaxScans); ++pos) {
    if (onLine == 7 && out.toPrinter()) {
      out.Text("\n" + out.indent());
      onLine = 0;
    }
    out.Text(console::FormatExp10(st.riNoise[ScanAt(st, pos)] - st.meanRiOffset));
    ++onLine;
  }
  out.Text("\n");
}

void AppendPointCountList(const AnalysisState& st, ReportText& out) {
  out.Text("\x1b\x0c\n");
  out.Text(out.indent());
  std::size_t onLine = 0;
  for (int i = 1; i <= std::min(st.maxPointCount, kMaxPoints); ++i) {
    const int count = st.pointScanCount[i];
    if (count == 0) continue;
    if (onLine >= 66 && out.toPrinter()) {
      out.Text("\n" + out.indent());
      onLine = 0;
    }
    const std::string field = FormatI(count, count > 99 ? 4 : 3);
    out.Text(field);
    onLine += field.size();
  }
  out.Text("\n");
}

void ShowFitReport(AnalysisState& st) {
  ReportText out(false);
  PrintFitReport(st, out, CurrentReportDate());
  out.WriteToConsole();
}

int PrintReportOption(AnalysisState& st, bool hardcopyPending, const PrintTarget& target) {
  // The set title names the series by its start file, without the extension.
  if (!st.firstFileName.empty()) {
    const std::string& path = st.firstFileName;
    st.setTitle = path.substr(0, path.size() > 4 ? path.size() - 4 : path.size())
                      .substr(0, kLineLength);
  }
  ReportText out(true);
  if (!hardcopyPending) out.Text("\n\n\n");
  PrintFitReport(st, out, CurrentReportDate());
  if (st.riNoiseOn && console::AskYesNo("Print local base line values (RI-Noise)  (Y/N) : ",
                                        console::YesNo::kEnterNo)) {
    AppendRiNoiseList(st, out);
  }
  if (st.tiNoiseOn && console::AskYesNo("Print number of data points pro abscissa value (Y/N) : ",
                                        console::YesNo::kEnterNo)) {
    AppendPointCountList(st, out);
  }
  console::WriteLn(SendReportToPrinter(out.Plain(), target.directory, target.allowSpooler,
                                       std::time(nullptr)));
  console::WriteLn("data send off");
  const console::Key key = console::ReadKeyUpper();
  return key.extended ? 0 : key.code;
}

std::string SendReportToPrinter(std::string_view latin1, const std::string& directory,
                                bool allowLp, std::time_t now) {
  const std::string text = Utf8FromLatin1(latin1);
  if (allowLp) {
    const std::string dest = CommandOutput("lpstat -d 2>/dev/null");
    const std::size_t colon = dest.find("destination:");
    if (colon != std::string::npos) {
      if (FILE* lp = popen("lp -s >/dev/null 2>&1", "w")) {
        const bool written = std::fwrite(text.data(), 1, text.size(), lp) == text.size();
        const int status = pclose(lp);
        if (written && status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
          std::string name = dest.substr(colon + 12);
          name.erase(0, name.find_first_not_of(' '));
          name.erase(name.find_last_not_of(" \n\r") + 1);
          return "report sent to printer " + name;
        }
      }
    }
  }
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  path += std::string("svfit-print-") + stamp + ".txt";
  std::ofstream file(path, std::ios::binary);
  file << text;
  file.close();
  if (!file) return "report could not be written to " + path;
  return "report written to " + path;
}

}  // namespace svfit::results
