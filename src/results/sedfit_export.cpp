// SEDFIT input files (see sedfit_export.h).
//
// Parameter slots, all 0 unless set (c_k, s_k, D_k: initial absorbance,
// s·ω²_first and diffusion coefficient of component k; Sv(x) = x·1e13/ω²_first
// in Svedberg; total = Σ c_k):
//   1 2 4 6 8 39 54..59 62 63 68 74 77 78   1.0
//   3  total / divisor      5  D_1·1e7 [1e-7 cm²/s]     7  Sv(s_1)
//   k = 2, 3, 4 at base b = 11, 20, 29:  b, b+4, b+6 = 1.0;
//       b+1 = c_k / total, b+3 = D_k·1e7, b+5 = Sv(s_k)
//   40 41  meniscus, bottom [cm]   42 43  fitted radial range [cm]
//   44  500.0   53  psv·rho of component 1   64 65 66  0.1 0.5 0.01
//   76  TI noise on   81  RI noise on
// Model C takes the bottom as marked (its P[5] is D, not a bottom) and the
// range up to the last loaded point; model M replaces the component slots by
// those of its concentration dependence s = s0(1 − mu·c).
//
// A value that cannot be formed (a logarithm of a non-positive number, a
// division by a zero amplitude) is written as 0 rather than as "NaN".
#include "results/sedfit_export.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "console/crt.h"
#include "console/format.h"
#include "console/prompt.h"
#include "models/catalogue.h"
#include "scans/selection.h"

namespace svfit::results {
namespace {

using console::FormatExp11;
using console::FormatF;

constexpr double kGasConstant = 8.316e7;  // R [erg/(mol·K)] as the molar-mass forms use it

bool Interference(const AnalysisState& st) { return st.dataKind == 'P'; }

// The form of the export: N, C or M (model F is exported as N).
char ExportForm(const AnalysisState& st) { return models::modelInfo(st.modelLetter).exportAs; }

// The last exported point of a scan: every loaded point for the Faxen-type
// models (they have no bottom boundary to keep away from), the last used
// point for model N.
int LastExportedPoint(const AnalysisState& st, int scan) {
  return ExportForm(st) == 'N' ? st.scanLastPoint[scan] : st.scanPointCount[scan];
}

std::string ScanIndex(const AnalysisState& st, int scan) {
  return console::IntToTextZeros(scan, st.fileNumberWidth);
}

double RadiusAt(const AnalysisState& st, int scan, int point) {
  point = std::clamp(point, 1, std::max(1, st.scanPointCount[scan]));
  return st.scanRadius[scan][point];
}

}  // namespace

std::string SedfitExtension(const AnalysisState& st, bool estimated) {
  return std::string(Interference(st) ? "ip" : "ra") + (estimated ? "9" : "0");
}

SedfitSlotArray SedfitSlots(const AnalysisState& st, double divisor, bool estimated) {
  SedfitSlotArray v{};
  const models::ModelInfo& model = models::modelInfo(st.modelLetter);
  const PerParam<double>& P = st.param;
  const int n = std::clamp(st.componentCount, 1, kMaxComponents);
  auto Sv = [&](double x) { return x * 1e13 / st.omega2First; };  // [S]
  struct Component {
    double c, s, D;
  };
  PerComponent<Component> comp{};
  double total = 0;
  for (int k = 1; k <= n; ++k) {
    const models::ComponentSlots slot = models::componentSlots(model, k);
    // A D-or-M parameter that holds a molar mass stands for D = s·dPerS.
    const double D = st.molMassGiven[k] ? P[slot.s] * st.dPerS[k] : P[slot.dOrM];
    comp[k] = {P[slot.c0], P[slot.s], D};
    total += P[slot.c0];
  }

  for (int s : {1, 2, 4, 6, 8, 39, 54, 55, 56, 57, 58, 59, 62, 63, 68, 74, 77, 78}) v[s] = 1.0;
  v[3] = total / divisor;
  v[5] = comp[1].D * 1e7;
  v[7] = Sv(comp[1].s);
  for (int k = 2; k <= n; ++k) {
    const int b = 11 + 9 * (k - 2);  // 11, 20, 29
    v[b] = v[b + 4] = v[b + 6] = 1.0;
    v[b + 1] = comp[k].c / total;
    v[b + 3] = comp[k].D * 1e7;
    v[b + 5] = Sv(comp[k].s);
  }
  // Without a fit (0 iterations) there are no estimated radii: the marked ones.
  const bool fitted = estimated && P[4] > 0;
  v[40] = fitted ? P[4] : st.meniscusMarked;
  v[41] = fitted ? P[5] : st.bottomMarked;
  v[42] = RadiusAt(st, 1, st.scanFirstPoint[1] + 10);
  const int last = st.seqLast;  // taken as a scan number
  v[43] = RadiusAt(st, last, st.scanLastPoint[last] - 1);
  v[44] = 500.0;
  v[53] = st.psvRho[1] > 0 ? st.psvRho[1] : st.psv[1] * st.rho;  // set-up not yet run: the defaults
  v[64] = 0.1;
  v[65] = 0.5;
  v[66] = 0.01;
  v[76] = st.tiNoiseOn ? 1.0 : 0.0;
  v[81] = st.riNoiseOn ? 1.0 : 0.0;

  if (ExportForm(st) == 'C' || ExportForm(st) == 'M') {
    v[41] = st.bottomMarked;
    v[43] = RadiusAt(st, last, st.scanPointCount[last] - 1);
  }
  if (ExportForm(st) == 'M') {
    // P[5] is mu of s = s0(1 − mu·c), P[6] the diffusion coefficient. A mu of
    // (almost) 0 is taken as 1e-20 so that its logarithm exists.
    double mu = P[5];
    if (std::fabs(mu) < 1e-20) mu = 1e-20;
    if (mu >= 0) {
      v[5] = P[6] * 1e7;
      v[12] = std::log10(mu / P[1] * divisor);
      v[13] = 1.0;
      v[21] = -20.0;
      v[67] = 0;
      v[72] = 1.0;
    } else {
      // A negative mu: two species in a fast monomer–dimer equilibrium, the
      // monomer's apparent mass M1 from s and D reduced by the nonideality Y.
      const double eps = std::sqrt(2 * P[6] / (P[4] * P[4] * P[2]));
      const double Y = 1 + 120 * mu * mu * eps * std::pow(divisor / P[1], 1.0 / 16);
      const double M1 = (st.temperature + 273.15) * P[2] * kGasConstant / P[6] / (1 - st.psvRho[1]) /
                        st.omega2First / (Y * Y);  // [g/mol]
      const double absMu = std::fabs(mu);
      const double f = absMu > 0.104 ? 7 : absMu > 0.05 ? 5 : 3;
      v[3] = 1.0;
      v[4] = v[6] = v[8] = 0;
      v[5] = M1;
      v[7] = Sv(P[2]) / Y;
      v[12] = 1.0;
      v[14] = 2 * M1;
      v[16] = 1.59 * Sv(P[2]) / Y;
      v[21] = st.concentration > 0 ? st.concentration : P[1] / divisor;
      v[22] = 0;
      v[23] = std::log10(f * absMu * divisor / P[1]);
      v[24] = 1.0;
      v[39] = 0;
      v[60] = v[67] = v[69] = 1.0;
      v[72] = 0;
    }
    v[44] = 500.0;
    v[61] = 0;
    v[62] = 1.0;
    v[68] = 0;
    v[74] = 1.0;
  }
  for (double& x : v)
    if (!std::isfinite(x)) x = 0;
  return v;
}

std::string SedfitParameterText(const SedfitSlotArray& slots) {
  std::string t;
  for (int k = 1; k <= kSedfitSlots; ++k) t += console::FormatPlain6(slots[static_cast<std::size_t>(k)]) + "\n";
  return t;
}

std::string SedfitDataText(const AnalysisState& st, int scan, double divisor) {
  std::string t = st.infoLines[0] + "\n" + st.scanTitle[scan] + "\n";
  // Interference: the data offset subtracted after loading goes back on; the
  // base line's start value P0[3] comes off (twice with TI noise elimination),
  // and so does the mean RI offset of the fit.
  const double k = Interference(st) ? (st.tiNoiseOn ? -2 * st.startValue[3] : -st.startValue[3]) - st.meanRiOffset
                                    : 0.0;
  const double* r = st.scanRadius[scan];
  const double* y = st.scanValue[scan];
  for (int i = st.scanFirstPoint[scan]; i <= LastExportedPoint(st, scan); ++i) {
    if (Interference(st)) {
      t += FormatF(r[i], 7, 5) + "  " + FormatExp11((y[i] + st.dataOffset + k) / divisor) + "\n";
    } else {
      t += FormatF(r[i], 7, 5) + "  " + FormatExp11(y[i] / divisor) + "  1\n";
    }
  }
  if (!Interference(st)) t += "0  0  0\n";
  return t;
}

std::string SedfitListText(const AnalysisState& st, const std::string& directory, bool estimated) {
  // SEDFIT reads the files from the directory on the first line: always an
  // absolute one, whatever the path prompt was given.
  std::error_code ec;
  std::string dir = std::filesystem::absolute(directory, ec).lexically_normal().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  std::string t = dir + "\n";
  const std::string ext = SedfitExtension(st, estimated);
  for (int pos = st.seqFirst; pos <= st.seqLast; ++pos) t += ScanIndex(st, st.scanSequence[pos]) + "_" + ext + "\n";
  return t;
}

std::string WriteSedfitFiles(const AnalysisState& st, const std::string& directory, double divisor,
                             bool estimated) {
  const std::string ext = SedfitExtension(st, estimated);
  auto write = [](const std::string& path, const std::string& text) -> std::string {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out << text;
    out.close();
    if (out) return "";
    std::error_code ec(errno, std::generic_category());
    return "cannot write " + path + ": " + ec.message();
  };
  for (int pos = st.seqFirst; pos <= st.seqLast; ++pos) {
    const int scan = st.scanSequence[pos];
    const std::string failed =
        write(directory + ScanIndex(st, scan) + "." + ext, SedfitDataText(st, scan, divisor));
    if (!failed.empty()) return failed;
  }
  std::string failed = write(directory + "list." + ext, SedfitListText(st, directory, estimated));
  if (failed.empty())
    failed = write(directory + "~tmppars." + ext, SedfitParameterText(SedfitSlots(st, divisor, estimated)));
  return failed;
}

void ExportForSedfit(AnalysisState& st) {
  const std::string directory = scans::AskExportPath();
  const double divisor =
      console::AskNumber({.prompt = "Divisor for conversion of data values to concentration for equilibria :",
                          .defaultValue = st.concDivisor,
                          .defaultColumn = 73,
                          .first = console::FirstChar::kDigit,
                          .defaultWidth = 6,
                          .defaultDecimals = 4,
                          .valid = [](double x) { return x > 0; }})
          .value;
  const std::string prompt = Interference(st)
                                 ? "(O)riginal(.ip0) or (E)stimated(.ip9) radia Rm and Rb shall be used (O/E) : "
                                 : "(O)riginal(.ra0) or (E)stimated(.ra9) radia Rm and Rb shall be used (O/E) : ";
  const bool estimated = console::AskKey({.prompt = prompt, .keys = "E", .enter = 'E', .otherwise = 'O'}) == 'E';
  const std::string failed = WriteSedfitFiles(st, directory, divisor, estimated);
  if (failed.empty()) {
    console::WriteLn(std::to_string(st.seqLast - st.seqFirst + 1) + " data files, list." +
                     SedfitExtension(st, estimated) + " and ~tmppars." + SedfitExtension(st, estimated) +
                     " written to " + directory);
    if (!(st.param[4] > 0))
      console::WriteLn("no fit yet: the start values hold the marked radii, no c, s or D");
    console::Delay(200);
    return;
  }
  // The option menu clears the screen: the message waits for a key.
  console::SetTextColor(console::kLightMagenta);
  console::WriteLn(failed);
  console::Write("press a key  ");
  console::SetTextColor(console::kWhite);
  if (console::ReadKey() == 0) console::ReadKey();
  console::WriteLn();
}

}  // namespace svfit::results
