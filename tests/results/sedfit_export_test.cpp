// The SEDFIT export: texts against golden files made by hand
// (tests/testdata/sedfit/README.md) and the slot rules of models C, N and M.
// The dialogue runs in tests/driver/distribution_session_test.cpp.
#include "results/sedfit_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <tuple>

namespace svfit::results {
namespace {

std::string Golden(const std::string& name) {
  std::ifstream in(SVFIT_SOURCE_DIR "/tests/testdata/sedfit/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The state of the golden files: model N, two components, two scans of 14
// points, points 2..12 used.
std::unique_ptr<AnalysisState> GoldenState() {
  auto st = std::make_unique<AnalysisState>();
  st->modelLetter = 'N';
  st->componentCount = 2;
  st->omega2First = 27415567.5;
  st->scanCount = st->seqLast = 2;
  st->infoLines[0] = "svfit test run";
  st->scanTitle[1] = "R 2 20.0 50000 0001000 2.7416E10 280 1";
  st->scanTitle[2] = "P 2 20.0 50000 0001600 4.3866E10 675 50";
  for (int s = 1; s <= 2; ++s) {
    st->scanSequence[s] = s;
    st->scanPointCount[s] = 14, st->scanFirstPoint[s] = 2, st->scanLastPoint[s] = 12;
    for (int i = 1; i <= 14; ++i) st->scanRadius[s][i] = 6.0 + 0.01 * i, st->scanValue[s][i] = 0.1 * i + (s == 2 ? 0.05 : 0.0);
  }
  const double sv = 1e-13 * st->omega2First;  // 1 S as s·ω²
  st->param = {0, 0.6, 4.4 * sv, 0.01, 6.05, 7.2, 0, 6e-7, 0.2, 6.8 * sv, 4.65e-7};
  st->meniscusMarked = 6.04, st->bottomMarked = 7.19;
  st->riNoiseOn = true;
  st->updatePsvRho();
  return st;
}

TEST(SedfitExport, FilesMatchTheGoldenFilesAndOENamesOnlyTheRadii) {
  auto st = GoldenState();
  EXPECT_EQ(SedfitDataText(*st, 1, 2.0), Golden("00001.ra9"));
  EXPECT_EQ(SedfitListText(*st, "/data/export/", true), Golden("list.ra9"));
  const SedfitSlotArray e = SedfitSlots(*st, 2.0, true);
  EXPECT_EQ(SedfitParameterText(e), Golden("~tmppars.ra9"));
  // O: the radii as marked in the viewer, nothing else changes.
  const SedfitSlotArray o = SedfitSlots(*st, 2.0, false);
  for (int k = 1; k <= kSedfitSlots; ++k) EXPECT_EQ(o[k], k == 40 ? 6.04 : k == 41 ? 7.19 : e[k]) << k;
  EXPECT_EQ(SedfitExtension(*st, false), "ra0");
  // Model F has N's parameters and writes N's files.
  st->modelLetter = 'F';
  EXPECT_EQ(SedfitDataText(*st, 1, 2.0), Golden("00001.ra9"));
  EXPECT_EQ(SedfitParameterText(SedfitSlots(*st, 2.0, true)), Golden("~tmppars.ra9"));
  st->modelLetter = 'N';

  // Interference: offset and base-line term instead of the "1" column.
  st->dataKind = 'P', st->dataOffset = 0.5, st->startValue[3] = 0.02, st->meanRiOffset = 0.003;
  st->tiNoiseOn = true;
  EXPECT_EQ(SedfitDataText(*st, 2, 2.0), Golden("00002.ip0"));
  EXPECT_EQ(SedfitExtension(*st, false), "ip0");
}

TEST(SedfitExport, ModelRulesForCAndM) {
  auto st = GoldenState();
  // Model C, one component: the bottom as marked, the range to the last
  // loaded point, and nothing in the slots of further components.
  st->modelLetter = 'C', st->componentCount = 1, st->param[5] = 6e-7;  // C: P[5] is D
  SedfitSlotArray v = SedfitSlots(*st, 1.0, true);
  EXPECT_EQ(v[41], 7.19);
  EXPECT_DOUBLE_EQ(v[43], 6.13);  // point 14 − 1
  EXPECT_DOUBLE_EQ(v[5], 6.0);
  for (int k = 11; k <= 35; ++k) EXPECT_EQ(v[k], 0.0) << k;
  const std::string data = SedfitDataText(*st, 1, 1.0);
  EXPECT_EQ(std::count(data.begin(), data.end(), '\n'), 2 + 13 + 1);  // points 2..14 and "0  0  0"

  // Model M: P[5] = mu, P[6] = D. mu exactly 0 goes the mu >= 0 way as 1e-20.
  st->modelLetter = 'M', st->param[5] = 0, st->param[6] = 6e-7;
  v = SedfitSlots(*st, 2.0, true);
  EXPECT_DOUBLE_EQ(v[12], std::log10(1e-20 / 0.6 * 2.0));
  EXPECT_EQ(std::tuple(v[13], v[21], v[72], st->param[5]), std::tuple(1.0, -20.0, 1.0, 0.0));  // the fit stays
  for (int k = 11; k <= 35; ++k) EXPECT_EQ(v[k], k == 12 ? v[12] : k == 13 ? 1 : k == 21 ? -20 : 0) << k;

  // mu < 0: the monomer M1 in slot 5, the dimer at 2·M1; f = 5 for 0.05 < |mu| <= 0.104.
  st->param[5] = -0.07;
  v = SedfitSlots(*st, 2.0, true);
  EXPECT_EQ(std::tuple(v[14], v[21], v[3] + v[12] + v[24] + v[4] + v[39]), std::tuple(2 * v[5], 0.6 / 2.0, 3.0));
  EXPECT_DOUBLE_EQ(v[23], std::log10(5 * 0.07 * 2.0 / 0.6));
}

}  // namespace
}  // namespace svfit::results
