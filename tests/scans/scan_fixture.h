// Files made by the tests: a temporary directory, whole files read and
// written, and a writer for absorbance and interference scan files in the
// instrument's layout.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "console/crt.h"
#include "state/state.h"
#include "scans/reader.h"

namespace svfit::scans::testing {

inline constexpr auto npos = std::string::npos;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "svfit-scans-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string path() const { return path_.string() + "/"; }
  std::string file(const std::string& name) const { return path() + name; }

 private:
  std::filesystem::path path_;
};

struct Point {
  double radius;
  double value;
};

// A scan file: title row, header line, data lines; `eol` "\n" or "\r\n".
// Absorbance lines carry a third column (the standard deviation).
inline std::string ScanText(const std::string& header, const std::vector<Point>& points,
                            const std::string& title = "test scan", const std::string& eol = "\n",
                            bool thirdColumn = true) {
  std::string text = title + eol + header + eol;
  char line[96];
  for (const Point& p : points) {
    if (thirdColumn)
      std::snprintf(line, sizeof line, "%9.4f  %13.5E  %13.5E", p.radius, p.value, 0.01);
    else
      std::snprintf(line, sizeof line, "%9.4f  %13.5E", p.radius, p.value);
    text += line + eol;
  }
  return text;
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
inline std::string ReadFile(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}
// How often `what` occurs in `text`, overlaps included.
inline int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto p = text.find(what); p != npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// n points from r0 in steps of dr with value f(r).
inline std::vector<Point> Ramp(int n, double r0, double dr, const std::function<double(double)>& f) {
  std::vector<Point> points;
  for (int i = 0; i < n; ++i) points.push_back({r0 + i * dr, f(r0 + i * dr)});
  return points;
}
inline std::vector<Point> Flat(int n, double r0 = 6.0, double dr = 0.001, double value = 0.5) {
  return Ramp(n, r0, dr, [value](double) { return value; });
}

inline const char* kAbsHeader = "R 2 20.0 40000 0003600 5.6000E10 280 1";

// A state ready to load new-generation absorbance ('R') or interference ('P')
// files simultaneously.
inline void NewRun(AnalysisState& st, char kind) {
  st.resetForAnalysis();
  st.resetSeries();
  st.fileGeneration = kind == 'P' ? 'I' : 'N';
  st.dataKind = kind;
  st.valueLimit = kind == 'P' ? 15.0 : 3.0;
  st.fileStep = 1;
}

// Loads from `startFile` with the console scripted by `keys`. The test
// console throws console::ConsoleExited where the program would halt.
inline LoadOutcome Load(AnalysisState& st, const std::string& startFile, const std::string& keys = "E",
                        LoadHooks hooks = {}) {
  console::StartTestConsole(keys);
  EXPECT_TRUE(SetStartFile(st, startFile)) << startFile;
  return LoadSeries(st, hooks);
}

}  // namespace svfit::scans::testing
