// Batch sessions of the real program as a pipeline drives it, on the sample
// absorbance run and on a real interference run (BSA, RI and TI noise):
// meniscus, range, S1 and S2 placed with typed positions ("="), a fit and its
// continuation (F); then the same places reached with arrow keys, steered key
// by key over pipes by the [cross] lines. Both runs must fit the same numbers;
// the results file holds one line per fit with the report's digits, and its
// curve files residuals of measured minus fitted whose rms is the rmsd. Each
// prompt arrives on the pipe before the program waits for its answer.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "console/format.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using svfit::console::FormatExp11;
using svfit::console::FormatF;

std::string Read(const fs::path& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

const char* const kProgram = SVFIT_BINARY_DIR "/src/driver/svfit";

// The program on two pipes in `dir` with `options`, answered as its output arrives.
struct Program {
  Program(const fs::path& dir, std::vector<std::string> options) {
    int in[2], back[2];
    if (pipe(in) != 0 || pipe(back) != 0) std::abort();
    if ((pid = fork()) == 0) {
      dup2(in[0], 0), dup2(back[1], 1), close(in[1]), close(back[0]);
      std::vector<char*> argv{const_cast<char*>(kProgram)};
      for (std::string& o : options) argv.push_back(o.data());
      argv.push_back(nullptr);
      if (chdir(dir.c_str()) == 0) execv(kProgram, argv.data());
      _exit(127);
    }
    close(in[0]), close(back[1]);
    to = in[1], from = back[0];
  }
  void Write(const std::string& keys) {
    ASSERT_EQ(write(to, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  // Reads until `done` holds; false when nothing comes for 20 s.
  bool ReadUntil(const std::function<bool()>& done) {
    char buf[4096];
    pollfd p{from, POLLIN, 0};
    while (!done()) {
      const ssize_t n = poll(&p, 1, 20000) > 0 ? read(from, buf, sizeof buf) : 0;
      if (n <= 0) return false;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return true;
  }
  int Crosses() const {
    int n = 0;
    for (auto at = out.find("[cross "); at != std::string::npos; at = out.find("[cross ", at + 1))
      ++n;
    return n;
  }
  // Sends keys and reads until `count` whole [cross] lines have come.
  void Send(const std::string& keys, int count) {
    Write(keys);
    ASSERT_TRUE(ReadUntil([&] {
      return Crosses() >= count && out.find('\n', out.rfind("[cross ")) != std::string::npos;
    })) << "no [cross] line " << count << ":\n" << out;
  }
  // A number of the last [cross] line ("Radius", "OD").
  double Field(const std::string& name) const {
    const std::string line = out.substr(out.rfind("[cross "));
    return std::stod(line.substr(line.find(name + " = ") + name.size() + 3));
  }
  int Finish() {
    close(to);
    char buf[4096];
    for (ssize_t n; (n = read(from, buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<std::size_t>(n));
    close(from);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  pid_t pid = -1;
  int to = -1, from = -1;
  std::string out;
};

// Keys up to the range pick, up to the start values, after them; typed
// places with their keys.
struct Analysis {
  std::string directory, before, between, after;
  std::vector<std::pair<double, char>> picks;  // M, A, E, then 1, 2
};
const std::string kFits = "\n\n\n0\n" "\x1b\n\n\n\n \n\x1b" "F" "\x1b\n\n\n\n \n\x1b" "EF";

struct Outcome {
  fs::path dir;
  std::string transcript;
  std::vector<json> fits;
  std::vector<double> places;  // radius and ordinate where each mark was taken
  double pixel = 0;            // one pixel of the range pick [cm]
};

// With `targets` null the places are typed; else arrow keys steer to them.
Outcome Run(const Analysis& a, const std::vector<double>* targets) {
  Outcome r;
  std::string pattern = (fs::temp_directory_path() / "svfit-batch-XXXXXX").string();
  r.dir = ::mkdtemp(pattern.data());
  Program p(r.dir, {"--results", "fits.jsonl", "--curves", "curves"});
  int lines = 0;  // [cross] lines so far
  for (std::size_t k = 0; k < a.picks.size(); ++k) {
    if (k == 0 || k == 3) p.Send(k == 0 ? a.before : a.between, ++lines);  // a picking starts
    const auto [value, key] = a.picks[k];
    if (!targets && k == 0) {  // refused or left: the crosshair stays
      for (const char* keys : {"=9\r", "=x\r", "=\x1b", "=\r"}) p.Send(keys, ++lines);
    }
    if (!targets) p.Send("=" + FormatF(value, 0, 4) + "\r", ++lines);
    for (const std::string field : {"Radius", "OD"}) {  // across, then up or down
      const double target = targets ? (*targets)[r.places.size()] : p.Field(field);
      for (int step = 0; std::fabs(p.Field(field) - target) > 5e-5 && step < 300; ++step) {
        const double before = p.Field(field);
        const bool far = std::fabs(target - before) > 0.03;  // Shift: 15 pixels
        p.Send(std::string("\x1b[") + (far ? "1;2" : "") + "DCBA"[2 * (field == "OD") + (target > before)], ++lines);
        if (!far && k < 3 && field == "Radius") r.pixel = std::fabs(p.Field(field) - before);
      }
      r.places.push_back(p.Field(field));
    }
    p.Send(std::string(1, key), ++lines);
  }
  p.Send(a.after, lines);
  EXPECT_EQ(p.Finish(), 0) << p.out.substr(p.out.size() > 3000 ? p.out.size() - 3000 : 0);
  r.transcript = p.out;
  std::istringstream results(Read(r.dir / "fits.jsonl"));
  for (std::string line; std::getline(results, line);) r.fits.push_back(json::parse(line));
  return r;
}

void CheckAnalysis(const Analysis& a) {
  signal(SIGPIPE, SIG_IGN);  // a program that died early fails the test, not the run
  const Outcome typed = Run(a, nullptr);
  ASSERT_EQ(typed.places.size(), 10u);
  const Outcome steered = Run(a, &typed.places);
  // Typed radii on the nearest pixel, S1 and S2 on their s; the arrow keys
  // reached the same places and both runs fitted the same numbers.
  ASSERT_GT(steered.pixel, 0);
  for (std::size_t k = 0; k < 3; ++k)
    EXPECT_LE(std::fabs(typed.places[2 * k] - a.picks[k].first), 0.5 * steered.pixel + 5e-5) << k;
  for (std::size_t k = 3; k < 5; ++k)
    EXPECT_NE(typed.transcript.find(std::string(" S") + a.picks[k].second + " = " + FormatF(a.picks[k].first, 0, 2)),
              std::string::npos);
  EXPECT_EQ(steered.places, typed.places);
  EXPECT_NE(typed.transcript.find("crosshair to radius (cm) :  9\n9 is outside the plot ("), std::string::npos);
  EXPECT_NE(typed.transcript.find("not a number: x\n"), std::string::npos);
  ASSERT_EQ(typed.fits.size(), 2u);
  ASSERT_EQ(steered.fits.size(), 2u);
  for (int f = 0; f < 2; ++f) {
    const json& j = typed.fits[f];
    EXPECT_EQ(j["fit"], f + 1);
    EXPECT_EQ(j["parameters"], steered.fits[f]["parameters"]);
    EXPECT_EQ(j["rmsd"], steered.fits[f]["rmsd"]);
    EXPECT_EQ(fs::path(j["directory"].get<std::string>()), fs::weakly_canonical(a.directory) / "");
    const json& s = j["parameters"][1];
    EXPECT_NE(typed.transcript.find("(Svedb.units)  " + FormatExp11(s["value_svedberg"]) + "   " +
                                    FormatExp11(s["sd_svedberg"])),
              std::string::npos);
    EXPECT_NE(typed.transcript.find("(rmsd)/time diff./SSR   " + FormatF(j["rmsd"], 10, 5)), std::string::npos);

    // Its curve files: residual = measured − fitted exactly, and
    // √(Σ residual² / (points − free parameters)) is the rmsd.
    ASSERT_EQ(j["curves"].size(), j["scans"].get<std::size_t>());
    double sum = 0;
    long points = 0;
    for (const json& file : j["curves"]) {
      std::istringstream csv(Read(typed.dir / file.get<std::string>()));
      std::string line;
      std::getline(csv, line);
      for (double v[6]; std::getline(csv, line); ++points, sum += v[3] * v[3]) {
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), 6);
        ASSERT_EQ(v[3], v[1] - v[2]) << line;
      }
    }
    int free = 0;
    for (const json& p : j["parameters"]) free += !p["fixed"].get<bool>();
    EXPECT_EQ(points, j["points"].get<long>());
    EXPECT_NEAR(std::sqrt(sum / static_cast<double>(points - free)) / j["rmsd"].get<double>(), 1.0, 1e-9);
  }
  for (const Outcome* o : {&typed, &steered}) fs::remove_all(o->dir);
}

TEST(BatchSession, SampleRunTypedPlacesFitAsArrowKeysAndResultsMatchTheReport) {
  const std::string dir = SVFIT_SOURCE_DIR "/data/sample/abs";
  if (access((dir + "/00001.RA2").c_str(), R_OK) != 0) GTEST_SKIP() << "sample runs missing";
  // 6.8 S has left the plot in the last scan: the faster boundary is marked at 5.3 S.
  CheckAnalysis({dir, "\r\r\rS\r\r" + dir + "\n2\n\n\n\nE", "\n\nN\n\n\n\n\n\n\nNC", kFits,
                 {{6.05, 'M'}, {6.1, 'A'}, {7.1, 'E'}, {4.4, '1'}, {5.3, '2'}}});
}

TEST(BatchSession, RealInterferenceRunTypedPlacesFitAsArrowKeys) {
  const std::string dir = SVFIT_SOURCE_DIR "/../shared/data/real/sedfit-bsa-ip4";
  if (access((dir + "/00001.IP4").c_str(), R_OK) != 0) GTEST_SKIP() << "real data missing";
  CheckAnalysis({dir, "IN\r" + dir + "\n4\n\n\n\nE", "\n\nN\n\n\n\n\n\n\nYYC", kFits,
                 {{6.2299, 'M'}, {6.2532, 'A'}, {7.1550, 'E'}, {4.5, '1'}, {6.5, '2'}}});
}

// A script that answers each question only once it is on the pipe must never
// wait for a prompt stuck in a buffer: interference files with the 3000 rpm
// contour subtracted, outliers asked, Z at the device prompt.
TEST(BatchSession, EachPromptArrivesBeforeItsAnswerIsRead) {
  signal(SIGPIPE, SIG_IGN);  // a program that died early fails the test, not the run
  const std::string gen = "(O)ld or (N)ew XLA-files (New=default) or (I)nterference  (O/N/I) :  ";
  const std::string contour = "Subtraction of the whole 3000 rpm contour       (Y/N) :  ";
  const std::string outlier = "correct data outlies   (Yes=default)            (Y/N) :  ";
  const std::string bottom = "calculation of last bottom point                (Y/N) :  ";
  Program p(".", {});
  const std::pair<std::string, std::string> steps[] = {
      {gen, "i"}, {contour, "y"}, {outlier, "y"}, {bottom, "\n"}, {"(Y=restart;Z=exit) ", "z\n"}};
  for (const auto& [prompt, key] : steps) {
    EXPECT_TRUE(p.ReadUntil([&] { return p.out.find(prompt) != std::string::npos; })) << p.out;
    p.Write(key);
  }
  EXPECT_EQ(p.Finish(), 0) << p.out;
  EXPECT_EQ(p.out.substr(0, p.out.find("device")), gen + "I\n" + contour + "Y\n" + outlier +
                                                       "Y\n" + bottom + "N\n" +
                                                       "load data files in ascent sequence  !\n");
}

}  // namespace
