// The instrument's own files and damaged ones. Every real series loads
// completely with the counts that the files hold (CRLF, upper-case names,
// three- and four-digit exponents, leading-zero temperatures, two-column
// interference data). A seeded random mutation of generated and real files
// (truncation, random bytes, huge numbers, non-finite text, a missing header,
// overlong lines, binary junk) is fed to the reader in the middle of a series:
// the reader must neither crash nor hang nor read out of bounds (the suite
// also runs under the address and undefined-behaviour sanitizers), a broken
// file is skipped and the sound files around it still load, and every scan
// that is accepted keeps the invariants of the analysis state.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "results/max_absorbance.h"
#include "scan_fixture.h"
#include "scans/reader.h"

namespace svfit::scans {
namespace {

using namespace testing;

const std::string kReal = SVFIT_SOURCE_DIR "/../shared/data/real/";

TEST(RealData, EverySeriesLoadsEveryScan) {
  const struct {
    const char* folder;
    const char* startFile;
    char kind;
    int scans;
    int firstCount;  // points of the first scan
    int lastCount;   // points of the last scan
    long total;      // points of all scans
    int cell;
  } sets[] = {{"sedfit-bsa-ip4", "00001.IP4", 'P', 129, 1852, 1852, 129L * 1852, 4},
              {"sedfit-igg-ip1", "00001.IP1", 'P', 226, 1759, 1759, 226L * 1759, 1},
              {"mullins-spindata-ra2", "00001.RA2", 'R', 44, 316, 316, 14006, 2},
              {"sedphat-6ch-ra1", "00001.RA1", 'R', 19, 357, 332, 6964, 1},
              {"sedphat-xla386-ra2", "00001.RA2", 'R', 90, 326, 314, 29287, 2}};
  int found = 0;
  for (const auto& set : sets) {
    const std::string start = kReal + set.folder + "/" + set.startFile;
    if (!std::filesystem::exists(start)) continue;
    ++found;
    SCOPED_TRACE(set.folder);
    AnalysisState st;
    NewRun(st, set.kind);
    ASSERT_EQ(Load(st, start), LoadOutcome::kLoaded);
    ASSERT_EQ(st.scanCount, set.scans);
    EXPECT_EQ(st.cellNumber, set.cell);
    EXPECT_EQ(st.scanPointCount[1], set.firstCount);
    EXPECT_EQ(st.scanPointCount[set.scans], set.lastCount);
    long total = 0;
    for (int s = 1; s <= st.scanCount; ++s) {
      total += st.scanPointCount[s];
      for (int i = 2; i <= st.scanPointCount[s]; ++i)
        ASSERT_GT(st.scanRadius[s][i], st.scanRadius[s][i - 1]);
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
  if (found == 0) GTEST_SKIP() << "real data not found under " << kReal;
}

struct Base {
  std::string name;
  char kind;
  std::string text;
};

std::vector<Base> Bases() {
  auto step = [](double mid, double h) {
    return Ramp(600, 5.9, 0.002, [=](double r) { return h / (1 + std::exp(-(r - mid) / 0.03)) + 0.05; });
  };
  std::vector<Base> bases = {
      {"made-abs", 'R', ScanText(kAbsHeader, step(6.4, 0.8), "made 0.5 mg/ml", "\r\n")},
      {"made-ip", 'P',
       ScanText("P 4 20.0 50000 0003600 9.8000E10 675 50", step(6.6, 2.0), "cm/pixel:  0.00071350165, Sample", "\n",
                false)}};
  for (const auto& [file, kind] : {std::pair{"sedfit-bsa-ip4/00064.IP4", 'P'}, {"mullins-spindata-ra2/00001.RA2", 'R'},
                                   {"sedphat-6ch-ra1/00001.RA1", 'R'}, {"sedphat-xla386-ra2/00002.RA2", 'R'}}) {
    if (std::filesystem::exists(kReal + file))
      bases.push_back({file, kind, ReadFile(kReal + file)});
  }
  return bases;
}

// Replaces one whitespace-separated token after the header by `with`.
void ReplaceToken(std::string& text, std::mt19937& rng, const std::string& with) {
  const std::size_t header = text.find('\n', text.find('\n') + 1);
  if (header == npos || header + 1 >= text.size()) return;
  auto blank = [&](std::size_t i) { return std::isspace(static_cast<unsigned char>(text[i])) != 0; };
  std::size_t pos = header + 1 + rng() % (text.size() - header - 1);
  while (pos < text.size() && blank(pos)) ++pos;
  while (pos > 0 && !blank(pos - 1)) --pos;
  std::size_t end = pos;
  while (end < text.size() && !blank(end)) ++end;
  text.replace(pos, end - pos, with);
}

std::string Mutate(std::string text, std::mt19937& rng, int kind) {
  static const char* kHuge[] = {"1e308", "9e999", "-1E400", "123456789012345678901234567890", "1e-320",
                                "1.7976931348623157E308"};
  static const char* kNonFinite[] = {"nan", "NaN", "inf", "-INF", "Infinity", "0x1p3", "+-", "E"};
  auto at = [&] { return text.empty() ? 0 : rng() % text.size(); };
  const std::size_t line2 = text.find('\n');
  switch (kind) {
    case 0:  // truncation
      text.resize(at());
      break;
    case 1:  // random bytes
      for (int k = 0, n = 1 + static_cast<int>(rng() % 40); k < n && !text.empty(); ++k)
        text[at()] = static_cast<char>(rng() % 256);
      break;
    case 2:  // huge numbers
      for (int k = 0; k < 3; ++k) ReplaceToken(text, rng, kHuge[rng() % std::size(kHuge)]);
      break;
    case 3:  // non-finite and foreign number text
      ReplaceToken(text, rng, kNonFinite[rng() % std::size(kNonFinite)]);
      break;
    case 4:  // the header line removed
      if (line2 != npos && text.find('\n', line2 + 1) != npos) text.erase(line2 + 1, text.find('\n', line2 + 1) - line2);
      break;
    case 5:  // an overlong line
      text.insert(at(), std::string(50000 + rng() % 50000, rng() % 2 ? '7' : 'x'));
      break;
    case 6: {  // binary junk inserted
      std::string junk(1 + rng() % 4000, '\0');
      for (char& c : junk) c = static_cast<char>(rng() % 256);
      text.insert(at(), junk);
      break;
    }
    case 7:  // a header with damaged numbers
      if (line2 != npos && line2 + 6 < text.size()) text.insert(line2 + 6, rng() % 2 ? "99999999999999999999999" : " -0 ");
      break;
    default:  // several at once
      for (int k = 0; k < 3; ++k) text = Mutate(std::move(text), rng, static_cast<int>(rng() % 8));
  }
  return text;
}

void ExpectSoundScans(const AnalysisState& st) {
  for (int s = 1; s <= st.scanCount; ++s) {
    ASSERT_TRUE(20 <= st.scanPointCount[s] && st.scanPointCount[s] <= kMaxPoints) << s;
    ASSERT_TRUE(1 <= st.scanFirstPoint[s] && st.scanFirstPoint[s] <= st.scanLastPoint[s] &&
                st.scanLastPoint[s] <= st.scanPointCount[s])
        << s;
    ASSERT_TRUE(std::isfinite(st.scanRunTime[s]) && std::isfinite(st.scanOmega2[s])) << s;
    for (int i = 1; i <= st.scanPointCount[s]; ++i) {
      ASSERT_TRUE(std::isfinite(st.scanRadius[s][i]) && std::isfinite(st.scanValue[s][i])) << s << " " << i;
      ASSERT_TRUE(i == 1 || st.scanRadius[s][i] > st.scanRadius[s][i - 1]) << s << " " << i;
    }
  }
}

TEST(Robustness, MutatedFilesInASeriesAreSkippedOrLoadSoundly) {
  const std::vector<Base> bases = Bases();
  std::mt19937 rng(20240531);
  TempDir dir;
  int accepted = 0, skipped = 0;
  for (int round = 0; round < 40; ++round) {
    for (const Base& base : bases) {
      const int kind = static_cast<int>(rng() % 9);
      const std::string mutated = Mutate(base.text, rng, kind);
      const std::string ext = base.kind == 'P' ? ".ip4" : ".ra2";
      // The mutated file between two sound ones, and once as the first file.
      for (int placement = 0; placement < 2; ++placement) {
        WriteFile(dir.file("00001" + ext), placement == 0 ? base.text : mutated);
        WriteFile(dir.file("00002" + ext), placement == 0 ? mutated : base.text);
        WriteFile(dir.file("00003" + ext), base.text);
        AnalysisState st;
        NewRun(st, base.kind);
        if (base.kind == 'R') st.interpolate = round % 2 == 0, st.lastBottomPoint = 'Y';
        LoadOutcome outcome = LoadOutcome::kNothingLoaded;
        try {
          outcome = Load(st, dir.file("00001" + ext), "E");
        } catch (const console::ConsoleExited&) {
          continue;  // more than 2800 points: the fatal stop, observed
        }
        SCOPED_TRACE(base.name + " mutation " + std::to_string(kind) + " placement " + std::to_string(placement) +
                     " round " + std::to_string(round));
        ASSERT_NE(outcome, LoadOutcome::kNothingLoaded);
        ASSERT_GE(st.scanCount, 2);  // the sound files around it
        ExpectSoundScans(st);
        (st.scanCount == 3 ? accepted : skipped) += 1;
        FinishLoading(st);
        results::ApplyLoadingCut(st);
        ExpectSoundScans(st);
      }
      if (HasFatalFailure()) return;
    }
  }
  EXPECT_GT(accepted, 0);  // the mutations exercised both sides
  EXPECT_GT(skipped, 0);
}

}  // namespace
}  // namespace svfit::scans
