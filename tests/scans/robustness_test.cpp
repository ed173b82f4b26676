// Damaged scan files: a seeded random mutation of generated and real files
// (truncation, random bytes, huge numbers, non-finite text, a missing header,
// overlong lines, binary junk) is fed to the reader in the middle of a series.
// The reader must neither crash nor hang nor read out of bounds (the suite
// also runs under the address and undefined-behaviour sanitizers), a broken
// file is skipped and the sound files around it still load, and every scan
// that is accepted keeps the invariants of the analysis state.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "results/max_absorbance.h"
#include "scan_fixture.h"
#include "scans/reader.h"
#include "scans/scan_file.h"

namespace svfit::scans {
namespace {

using testing::Point;
using testing::ScanText;
using testing::TempDir;
using testing::WriteFile;

struct Base {
  std::string name;
  char kind;
  std::string text;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<Base> Bases() {
  std::vector<Base> bases;
  std::vector<Point> abs, interference;
  for (int i = 0; i < 600; ++i) {
    const double r = 5.9 + 0.002 * i;
    abs.push_back({r, 0.8 / (1 + std::exp(-(r - 6.4) / 0.03)) + 0.05});
    interference.push_back({r, 2.0 / (1 + std::exp(-(r - 6.6) / 0.05))});
  }
  bases.push_back({"made-abs", 'R', ScanText("R 2 20.0 40000 0003600 5.6000E10 280 1", abs, "made 0.5 mg/ml", "\r\n")});
  bases.push_back({"made-ip", 'P',
                   ScanText("P 4 20.0 50000 0003600 9.8000E10 675 50", interference,
                            "cm/pixel:  0.00071350165, Sample", "\n", false)});
  const std::string real = SVFIT_SOURCE_DIR "/../shared/data/real/";
  const std::pair<const char*, char> files[] = {{"sedfit-bsa-ip4/00064.IP4", 'P'},
                                                {"mullins-spindata-ra2/00001.RA2", 'R'},
                                                {"sedphat-6ch-ra1/00001.RA1", 'R'},
                                                {"sedphat-xla386-ra2/00002.RA2", 'R'}};
  for (const auto& [file, kind] : files) {
    if (std::filesystem::exists(real + file)) bases.push_back({file, kind, ReadAll(real + file)});
  }
  return bases;
}

// Replaces one whitespace-separated token after the header by `with`.
void ReplaceToken(std::string& text, std::mt19937& rng, const std::string& with) {
  const std::size_t header = text.find('\n', text.find('\n') + 1);
  if (header == std::string::npos || header + 1 >= text.size()) return;
  std::size_t pos = header + 1 + rng() % (text.size() - header - 1);
  while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
  while (pos > 0 && !std::isspace(static_cast<unsigned char>(text[pos - 1]))) --pos;
  std::size_t end = pos;
  while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
  text.replace(pos, end - pos, with);
}

std::string Mutate(std::string text, std::mt19937& rng, int kind) {
  static const char* kHuge[] = {"1e308", "9e999", "-1E400", "123456789012345678901234567890", "1e-320",
                                "1.7976931348623157E308"};
  static const char* kNonFinite[] = {"nan", "NaN", "inf", "-INF", "Infinity", "0x1p3", "+-", "E"};
  switch (kind) {
    case 0:  // truncation
      text.resize(text.empty() ? 0 : rng() % text.size());
      break;
    case 1:  // random bytes
      for (int k = 0, n = 1 + static_cast<int>(rng() % 40); k < n && !text.empty(); ++k)
        text[rng() % text.size()] = static_cast<char>(rng() % 256);
      break;
    case 2:  // huge numbers
      for (int k = 0; k < 3; ++k) ReplaceToken(text, rng, kHuge[rng() % std::size(kHuge)]);
      break;
    case 3:  // non-finite and foreign number text
      ReplaceToken(text, rng, kNonFinite[rng() % std::size(kNonFinite)]);
      break;
    case 4: {  // the header line removed
      const std::size_t a = text.find('\n');
      const std::size_t b = a == std::string::npos ? a : text.find('\n', a + 1);
      if (b != std::string::npos) text.erase(a + 1, b - a);
      break;
    }
    case 5: {  // an overlong line
      const std::size_t at = text.empty() ? 0 : rng() % text.size();
      text.insert(at, std::string(50000 + rng() % 50000, rng() % 2 ? '7' : 'x'));
      break;
    }
    case 6: {  // binary junk inserted
      std::string junk(1 + rng() % 4000, '\0');
      for (char& c : junk) c = static_cast<char>(rng() % 256);
      text.insert(text.empty() ? 0 : rng() % text.size(), junk);
      break;
    }
    case 7: {  // a header with damaged numbers
      const std::size_t a = text.find('\n');
      if (a != std::string::npos && a + 6 < text.size()) {
        text.insert(a + 6, rng() % 2 ? "99999999999999999999999" : " -0 ");
      }
      break;
    }
    default:  // several at once
      for (int k = 0; k < 3; ++k) text = Mutate(std::move(text), rng, static_cast<int>(rng() % 8));
  }
  return text;
}

void ExpectSoundScans(const AnalysisState& st) {
  for (int s = 1; s <= st.scanCount; ++s) {
    ASSERT_GE(st.scanPointCount[s], 20) << s;
    ASSERT_LE(st.scanPointCount[s], kMaxPoints) << s;
    ASSERT_GE(st.scanFirstPoint[s], 1) << s;
    ASSERT_LE(st.scanFirstPoint[s], st.scanLastPoint[s]) << s;
    ASSERT_LE(st.scanLastPoint[s], st.scanPointCount[s]) << s;
    for (int i = 1; i <= st.scanPointCount[s]; ++i) {
      ASSERT_TRUE(std::isfinite(st.scanRadius[s][i]) && std::isfinite(st.scanValue[s][i])) << s << " " << i;
      if (i > 1) {
        ASSERT_GT(st.scanRadius[s][i], st.scanRadius[s][i - 1]) << s << " " << i;
      }
    }
    ASSERT_TRUE(std::isfinite(st.scanRunTime[s]) && std::isfinite(st.scanOmega2[s])) << s;
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
      // The mutated file between two sound ones, and once as the first file.
      for (int placement = 0; placement < 2; ++placement) {
        const std::string ext = base.kind == 'P' ? ".ip4" : ".ra2";
        WriteFile(dir.file("00001" + ext), placement == 0 ? base.text : mutated);
        WriteFile(dir.file("00002" + ext), placement == 0 ? mutated : base.text);
        WriteFile(dir.file("00003" + ext), base.text);
        AnalysisState st;
        if (base.kind == 'P') {
          testing::InterferenceRun(st);
        } else {
          testing::AbsorbanceRun(st);
          st.interpolate = (round % 2) == 0;
          st.lastBottomPoint = 'Y';
        }
        LoadOutcome outcome = LoadOutcome::kNothingLoaded;
        try {
          outcome = testing::Load(st, dir.file("00001" + ext), "E");
        } catch (const console::ConsoleExited&) {
          continue;  // more than 2800 points: the fatal stop, observed
        }
        SCOPED_TRACE(base.name + " mutation " + std::to_string(kind) + " placement " +
                     std::to_string(placement) + " round " + std::to_string(round));
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
  // The mutations exercised both sides.
  EXPECT_GT(accepted, 0);
  EXPECT_GT(skipped, 0);
}

TEST(Robustness, TextRulesOnRandomStrings) {
  std::mt19937 rng(7);
  const std::string alphabet = "0123456789+-.eE ,/:;<=>?@ABCDxXnaNif\t\r\n\x1a";
  for (int k = 0; k < 20000; ++k) {
    std::string s(rng() % 90, ' ');
    for (char& c : s) c = rng() % 4 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng() % 256);
    ScanHeader h;
    if (ParseHeader(s, h)) {
      ASSERT_GT(h.rotorSpeed, 0);
      ASSERT_TRUE(std::isfinite(h.omega2t) && std::isfinite(h.temperature));
    }
    double v = 0;
    if (FindTitleConcentration(s, v)) {
      ASSERT_GT(v, 0);
    }
    double step = 0.5e-3;
    ParseRadialStep(s, step);
    ASSERT_TRUE(step > 0 && step < 0.1);
    double list[7];
    ASSERT_LE(ParseNumberList(s, list, 7), 7);
    DataCursor cursor(s, 0, 1);
    double r = 0;
    for (int n = 0; n < 100 && cursor.Next(r, v) == DataCursor::Status::kPoint; ++n)
      ASSERT_TRUE(std::isfinite(r) && std::isfinite(v));
  }
}

}  // namespace
}  // namespace svfit::scans
