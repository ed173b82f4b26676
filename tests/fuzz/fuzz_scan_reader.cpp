// libFuzzer target: the scan reader on one arbitrary file, then the steps
// after loading.
//
// The input is the whole scan file. Its first byte also picks the setting, so
// that the seed files (real runs, the sample runs) reach every path:
//   bit 0  interference (.IP4) instead of absorbance (.RA2) files
//   bit 1  the file is the first of the series; else the middle of three
//   bit 2  interpolation of missing points     bit 3  last bottom point
//   bit 4  outlier correction                  bit 5  one-by-one loading
//   bit 6  3000 rpm option (absorbance: concentration; interference:
//          contour subtraction, then the series is loaded again)
// The sound neighbours are small made-up scans. After LoadSeries come
// FinishLoading (title lines, contour, offset, bottom cut, cleaning, counts)
// and the common near-bottom and maximal-absorbance cut.
//
// Besides crashes, leaks and undefined behaviour, a violated invariant of an
// accepted scan (at least 20 points, finite and strictly rising radii, finite
// values, first <= last <= count <= 2800) aborts with a message.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "console/crt.h"
#include "results/max_absorbance.h"
#include "scans/reader.h"
#include "state/state.h"

namespace {

using namespace svfit;

std::string g_root;  // temporary directory, one subdirectory per kind and placement

void Fail(const char* what, int scan, int point) {
  std::fprintf(stderr, "invariant broken: %s (scan %d, point %d)\n", what, scan, point);
  std::abort();
}

void CheckScans(const AnalysisState& st) {
  for (int s = 1; s <= st.scanCount; ++s) {
    if (st.scanPointCount[s] < 1 || st.scanPointCount[s] > kMaxPoints) Fail("point count", s, 0);
    if (!(1 <= st.scanFirstPoint[s] && st.scanFirstPoint[s] <= st.scanLastPoint[s] &&
          st.scanLastPoint[s] <= st.scanPointCount[s]))
      Fail("first <= last <= count", s, 0);
    if (!std::isfinite(st.scanOmega2[s]) || !std::isfinite(st.scanRunTime[s])) Fail("ω², time", s, 0);
    for (int i = 1; i <= st.scanPointCount[s]; ++i) {
      if (!std::isfinite(st.scanRadius[s][i]) || !std::isfinite(st.scanValue[s][i]))
        Fail("finite point", s, i);
      if (i > 1 && !(st.scanRadius[s][i] > st.scanRadius[s][i - 1])) Fail("rising radius", s, i);
    }
  }
}

// A sound scan of 40 points: a sedimentation boundary on a base line.
std::string SoundScan(char kind) {
  std::string text = kind == 'P' ? "cm/pixel:  0.00071350165, Sample\r\nP 4 20.0 50000 0003600 9.8000E10 675 50\r\n"
                                 : "made 0.5 mg/ml\r\nR 2 20.0 40000 0003600 5.6000E10 280 1\r\n";
  char line[80];
  for (int i = 0; i < 40; ++i) {
    const double r = 6.2 + 0.01 * i;
    const double v = 0.8 / (1 + std::exp(-(r - 6.4) / 0.03)) + 0.05;
    if (kind == 'P')
      std::snprintf(line, sizeof line, "%9.4f  %13.5E\r\n", r, v);
    else
      std::snprintf(line, sizeof line, "%9.4f  %13.5E  %13.5E\r\n", r, v, 0.01);
    text += line;
  }
  return text;
}

void Write(const std::string& path, const char* data, std::size_t size) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(data, static_cast<std::streamsize>(size));
}

void MakeRoot() {
  std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/svfit-fuzz-XXXXXX");
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  g_root = pattern;
  std::atexit([] { std::filesystem::remove_all(g_root); });
  for (const char kind : {'R', 'P'}) {
    const std::string ext = kind == 'P' ? ".IP4" : ".RA2";
    const std::string sound = SoundScan(kind);
    for (const char* placement : {"first", "middle"}) {
      const std::string dir = g_root + "/" + kind + placement + "/";
      std::filesystem::create_directories(dir);
      Write(dir + "00002" + ext, sound.data(), sound.size());
      if (placement[0] == 'm') {
        Write(dir + "00001" + ext, sound.data(), sound.size());
        Write(dir + "00003" + ext, sound.data(), sound.size());
      }
    }
  }
}

void Setup(AnalysisState& st, char kind, unsigned flags) {
  st.resetForAnalysis();
  st.resetSeries();
  st.fileGeneration = kind == 'P' ? 'I' : 'N';
  st.dataKind = kind;
  st.valueLimit = kind == 'P' ? 15.0 : 3.0;
  st.fileStep = 1;
  st.interpolate = (flags & 4) != 0;
  st.lastBottomPoint = (flags & 8) ? 'Y' : 'N';
  st.outlierCorrection = (flags & 16) ? 'Y' : 'N';
  st.loadOneByOne = kind == 'R' && (flags & 32) != 0;
  st.use3000 = (flags & 64) != 0;
  st.contourSubtraction = kind == 'P' && st.use3000;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (g_root.empty()) MakeRoot();
  if (size == 0 || size > (1u << 20)) return -1;
  const unsigned flags = data[0];
  const char kind = (flags & 1) ? 'P' : 'R';
  const bool first = (flags & 2) != 0;
  const std::string ext = kind == 'P' ? ".IP4" : ".RA2";
  const std::string dir = g_root + "/" + kind + (first ? "first" : "middle") + "/";
  const std::string fuzzed = dir + (first ? "00001" : "00002") + ext;
  Write(fuzzed, reinterpret_cast<const char*>(data), size);

  auto st = std::make_unique<AnalysisState>();
  Setup(*st, kind, flags);
  // Keys for every question loading may ask: E ends the series at the first
  // missing file; the 3000 rpm evaluation waits for Enter and may ask for a
  // concentration (N: none).
  console::StartTestConsole("E\rN\r\r\rE");
  try {
    if (!scans::SetStartFile(*st, dir + "00001" + ext)) std::abort();
    scans::LoadOutcome outcome = scans::LoadSeries(*st);
    CheckScans(*st);
    if (outcome == scans::LoadOutcome::kFile3000Done) {
      // The series itself, with the 3000 rpm profile kept for the contour.
      if (!scans::SetStartFile(*st, dir + "00001" + ext)) std::abort();
      outcome = scans::LoadSeries(*st);
      CheckScans(*st);
    }
    if (outcome != scans::LoadOutcome::kLoaded) return 0;
    scans::FinishLoading(*st);
    results::ApplyLoadingCut(*st);
    CheckScans(*st);
  } catch (const console::ConsoleExited&) {
    // More than 2800 points in a file: the program's fatal stop, as intended.
  } catch (const console::InputEnded&) {
    // A question beyond the scripted answers.
  }
  return 0;
}
