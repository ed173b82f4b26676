// Loading speed at full capacity: a series of 700 absorbance scan files of
// 2800 points each (three columns, CRLF, about 80 MB) is written to a
// temporary directory and loaded simultaneously; the figures are the wall
// times of the loading loop and of the steps after it. Target: loading under
// 2 s. The steps after loading run with the outlier correction on.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "console/crt.h"
#include "state/state.h"
#include "results/max_absorbance.h"
#include "scans/reader.h"

namespace {

std::string WriteSeries(const std::string& dir) {
  char line[128];
  std::string text;
  for (int f = 1; f <= svfit::kMaxScans; ++f) {
    text.clear();
    text += "bench series 0.5 mg/ml\r\n";
    std::snprintf(line, sizeof line, "R 2 20.0 50000 %07d %.4E 280 1\r\n", 200 + 60 * f,
                  2.74e7 * (200 + 60 * f));
    text += line;
    for (int i = 0; i < svfit::kMaxPoints; ++i) {
      const double r = 5.9 + 0.0004 * i;
      const double boundary = 6.0 + 0.0015 * f;  // [cm] moving boundary
      const double v = 1.0 / (1.0 + std::exp(-(r - boundary) / 0.02)) + 0.001 * ((i * 7919) % 13);
      std::snprintf(line, sizeof line, "%9.4f  %12.5E  %12.5E\r\n", r, v, 0.005);
      text += line;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%05d.RA2", f);
    std::FILE* out = std::fopen((dir + name).c_str(), "wb");
    if (!out) return {};
    std::fwrite(text.data(), 1, text.size(), out);
    std::fclose(out);
  }
  return dir + "00001.RA2";
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  std::string pattern = (std::filesystem::temp_directory_path() / "svfit-load-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) return 1;
  const std::string dir = pattern + "/";
  const std::string start = WriteSeries(dir);
  if (start.empty()) return 1;

  svfit::AnalysisState st;
  st.resetForAnalysis();
  st.resetSeries();
  svfit::console::StartTestConsole("E");
  svfit::scans::SetStartFile(st, start);

  auto t0 = std::chrono::steady_clock::now();
  const auto outcome = svfit::scans::LoadSeries(st);
  const double load = Seconds(t0);
  st.outlierCorrection = 'Y';  // bottom-point cut and outlier correction included
  t0 = std::chrono::steady_clock::now();
  svfit::scans::FinishLoading(st);
  svfit::results::ApplyLoadingCut(st);
  const double finish = Seconds(t0);

  long points = 0;
  for (int s = 1; s <= st.scanCount; ++s) points += st.scanPointCount[s];
  std::printf("load_bench: %d files x %d points (%ld points): loading %.3f s (target < 2 s), "
              "after loading (with outlier correction) %.3f s\n",
              st.scanCount, st.scanCount ? st.scanPointCount[1] : 0, points, load, finish);
  std::filesystem::remove_all(pattern);
  return outcome == svfit::scans::LoadOutcome::kLoaded && st.scanCount == svfit::kMaxScans ? 0 : 1;
}
