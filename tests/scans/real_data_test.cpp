// The instrument's own files: every real series loads completely with the
// counts that the files hold (CRLF, upper-case names, three- and four-digit
// exponents, leading-zero temperatures, two-column interference data).
#include <gtest/gtest.h>

#include <filesystem>

#include "results/max_absorbance.h"
#include "scan_fixture.h"
#include "scans/reader.h"

namespace svfit::scans {
namespace {

const std::string kReal = SVFIT_SOURCE_DIR "/../shared/data/real/";

struct RealSet {
  const char* folder;
  const char* startFile;
  char kind;
  int scans;
  int firstCount;  // points of the first scan
  int lastCount;   // points of the last scan
  long total;      // points of all scans
  int cell;
};

class RealData : public ::testing::TestWithParam<RealSet> {};

TEST_P(RealData, LoadsEveryScan) {
  const RealSet& set = GetParam();
  const std::string start = kReal + set.folder + "/" + set.startFile;
  if (!std::filesystem::exists(start)) GTEST_SKIP() << "real data not found: " << start;
  AnalysisState st;
  testing::NewRun(st, set.kind);
  ASSERT_EQ(testing::Load(st, start), LoadOutcome::kLoaded);
  ASSERT_EQ(st.scanCount, set.scans);
  EXPECT_EQ(st.cellNumber, set.cell);
  EXPECT_EQ(st.scanPointCount[1], set.firstCount);
  EXPECT_EQ(st.scanPointCount[set.scans], set.lastCount);
  long total = 0;
  for (int s = 1; s <= st.scanCount; ++s) {
    total += st.scanPointCount[s];
    for (int i = 2; i <= st.scanPointCount[s]; ++i) ASSERT_GT(st.scanRadius[s][i], st.scanRadius[s][i - 1]);
    // Times rise within one rotor speed (the equilibrium sets change speed).
    if (s > 1 && st.scanOmega2[s] == st.scanOmega2[s - 1]) {
      EXPECT_GT(st.scanRunTime[s], st.scanRunTime[s - 1]) << s;
    }
  }
  EXPECT_EQ(total, set.total);

  FinishLoading(st);
  results::ApplyLoadingCut(st);
  EXPECT_EQ(st.seqLast, set.scans);
  EXPECT_GT(st.pointTotal, 0);
  for (int s = 1; s <= st.scanCount; ++s) {
    ASSERT_GE(st.scanLastPoint[s], st.scanFirstPoint[s]);
    ASSERT_LE(st.scanLastPoint[s], st.scanPointCount[s]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, RealData,
    ::testing::Values(RealSet{"sedfit-bsa-ip4", "00001.IP4", 'P', 129, 1852, 1852, 129L * 1852, 4},
                      RealSet{"sedfit-igg-ip1", "00001.IP1", 'P', 226, 1759, 1759, 226L * 1759, 1},
                      RealSet{"mullins-spindata-ra2", "00001.RA2", 'R', 44, 316, 316, 14006, 2},
                      RealSet{"sedphat-6ch-ra1", "00001.RA1", 'R', 19, 357, 332, 6964, 1},
                      RealSet{"sedphat-xla386-ra2", "00001.RA2", 'R', 90, 326, 314, 29287, 2}),
    [](const ::testing::TestParamInfo<RealSet>& p) {
      std::string name = p.param.folder;
      for (char& c : name)
        if (c == '-') c = '_';
      return name;
    });

}  // namespace
}  // namespace svfit::scans
