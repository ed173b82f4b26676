// Batch sessions of the real program as a pipeline drives it: the meniscus,
// the fitted range and S1, S2 placed with typed positions ("=") on the sample
// absorbance run and on a real interference run (BSA, RI and TI noise), then
// a fit and its continuation (F). The same positions are reached once more
// with arrow keys, steered prompt by prompt over pipes by the Radius of each
// [cross] line, and both runs must give the same fits. The results file of
// the typed run is read back: one line per fit, each parameter as the report
// shows it; its curve files hold residuals that are measured minus fitted and
// whose rms is the report's rmsd.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

const std::string kProgram = SVFIT_BINARY_DIR "/src/driver/svfit";

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The program on two pipes in a fresh directory, with --results and --curves.
class Program {
 public:
  explicit Program(const fs::path& dir) {
    int in[2], back[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(back), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(back[1], 1);
      close(in[1]);
      close(back[0]);
      if (chdir(dir.c_str()) != 0) _exit(127);
      execl(kProgram.c_str(), kProgram.c_str(), "--results", "fits.jsonl", "--curves", "curves",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(back[1]);
    to_ = in[1];
    from_ = back[0];
  }
  void Send(const std::string& keys) {
    ASSERT_EQ(write(to_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  // Reads until `count` [cross] lines have arrived; false after 20 s of silence.
  bool WaitForCross(int count) {
    char buf[4096];
    pollfd p{from_, POLLIN, 0};
    while (Crosses() < count || out.find('\n', out.rfind("[cross ")) == std::string::npos) {
      ssize_t n = 0;
      if (poll(&p, 1, 20000) <= 0 || (n = read(from_, buf, sizeof buf)) <= 0) return false;
      out.append(buf, static_cast<std::size_t>(n));
    }
    return true;
  }
  int Crosses() const {
    int n = 0;
    for (auto at = out.find("[cross "); at != std::string::npos; at = out.find("[cross ", at + 1)) ++n;
    return n;
  }
  // Radius [cm] and ordinate [OD or fringes] of the crosshair in the last [cross] line.
  double Field(const std::string& name) const {
    const std::string line = out.substr(out.rfind("[cross "));
    return std::stod(line.substr(line.find(name + " = ") + name.size() + 3));
  }
  // Ends the input and collects the rest; the exit code.
  int Finish() {
    close(to_);
    char buf[4096];
    for (ssize_t n; (n = read(from_, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    close(from_);
    int status = 0;
    waitpid(pid_, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string out;

 private:
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
};

// One analysis: the keys up to the range pick, between the range and the
// start values, and after them; the typed positions and their keys.
struct Analysis {
  std::string directory;
  std::string before, between, after;
  std::vector<std::pair<double, char>> range, startValues;  // typed value, key
};

const std::string kResults = "\x1b" "\n\n\n\n" " " "\n" "\x1b";  // fit picture, constants, report, graph

Analysis Sample() {
  const std::string dir = SVFIT_SOURCE_DIR "/data/sample/abs";
  return {dir,
          "\r\r\rS\r\r" + dir + "\n2\n\n\n\nE",
          "\n\nN" "\n\n\n\n\n\n\n" "N" "C",
          "\n" "\n\n" "0\n" + kResults + "F" + kResults + "EF",
          {{6.05, 'M'}, {6.1, 'A'}, {7.1, 'E'}},
          {{4.4, '1'}, {5.3, '2'}}};  // 6.8 S has left the plot in the last scan
}

Analysis RealInterference() {
  const std::string dir = SVFIT_SOURCE_DIR "/../shared/data/real/sedfit-bsa-ip4";
  return {dir,
          "IN\r" + dir + "\n4\n\n\n\nE",
          "\n\nN" "\n\n\n\n\n\n\n" "YY" "C",
          "\n" "\n\n" "0\n" + kResults + "F" + kResults + "EF",
          {{6.2299, 'M'}, {6.2532, 'A'}, {7.1550, 'E'}},
          {{4.5, '1'}, {6.5, '2'}}};
}

std::string Typed(double v) { return "=" + FormatF(v, 0, 4) + "\r"; }

struct Outcome {
  fs::path dir;
  std::string transcript;
  std::vector<json> fits;
  std::vector<double> radii;  // the crosshair where each mark is taken: radius [cm], OD, ...
  double pixel = 0;           // one pixel of the range pick [cm], when steered
};

// Runs the analysis with typed positions, or with arrow keys steered to
// `targets` (the radii the typed run showed), waiting for the [cross] line
// of every key; notes the crosshair's radius where each mark is taken.
Outcome Run(const Analysis& a, const std::vector<double>* targets) {
  Outcome r;
  std::string pattern = (fs::temp_directory_path() / "svfit-batch-XXXXXX").string();
  r.dir = ::mkdtemp(pattern.data());
  Program p(r.dir);
  int lines = 0;  // [cross] lines expected so far
  auto send = [&](const std::string& keys) {
    p.Send(keys);
    EXPECT_TRUE(p.WaitForCross(++lines)) << p.out;
  };
  auto place = [&](const std::vector<std::pair<double, char>>& picks, bool range) {
    EXPECT_TRUE(p.WaitForCross(++lines)) << p.out;  // the picking starts
    for (const auto& [value, key] : picks) {
      if (targets == nullptr) send(Typed(value));
      // Across to the radius, then up or down to the ordinate.
      for (const char* field : {"Radius", "OD"}) {
        const double target = targets != nullptr ? (*targets)[r.radii.size()] : p.Field(field);
        const bool across = field[0] == 'R';
        for (int step = 0; std::fabs(p.Field(field) - target) > 5e-5 && step < 300; ++step) {
          const double before = p.Field(field);
          const bool far = std::fabs(target - before) > 0.03;  // Shift: 15 pixels
          send(std::string("\x1b[") + (far ? "1;2" : "") + "DCBA"[2 * !across + (target > before)]);
          if (!far && range && across) r.pixel = std::fabs(p.Field("Radius") - before);
        }
        r.radii.push_back(p.Field(field));
      }
      send(std::string(1, key));
    }
  };
  p.Send(a.before);
  place(a.range, true);
  p.Send(a.between);
  place(a.startValues, false);
  p.Send(a.after);
  EXPECT_EQ(p.Finish(), 0) << p.out.substr(p.out.size() > 3000 ? p.out.size() - 3000 : 0);
  r.transcript = p.out;
  std::istringstream results(Read(r.dir / "fits.jsonl"));
  for (std::string line; std::getline(results, line);) r.fits.push_back(json::parse(line));
  return r;
}

void CheckAnalysis(const Analysis& a) {
  const Outcome typed = Run(a, nullptr);
  ASSERT_EQ(typed.radii.size(), 10u);
  const Outcome steered = Run(a, &typed.radii);
  // Typed radii land on the nearest pixel, S1 and S2 on their s; the arrow
  // keys reached the same places, and both runs fitted the same numbers.
  ASSERT_GT(steered.pixel, 0);
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_LE(std::fabs(typed.radii[2 * i] - a.range[i].first), 0.5 * steered.pixel + 5e-5) << i;
  for (const auto& [s, key] : a.startValues)
    EXPECT_NE(typed.transcript.find(" S" + std::string(1, key) + " = " + FormatF(s, 0, 2)), std::string::npos);
  EXPECT_EQ(steered.radii, typed.radii);
  ASSERT_EQ(typed.fits.size(), 2u);
  ASSERT_EQ(steered.fits.size(), 2u);
  for (int f = 0; f < 2; ++f) {
    const json& j = typed.fits[f];
    EXPECT_EQ(j["fit"], f + 1);
    EXPECT_EQ(j["parameters"], steered.fits[f]["parameters"]);
    EXPECT_EQ(j["rmsd"], steered.fits[f]["rmsd"]);
    EXPECT_EQ(fs::path(j["directory"].get<std::string>()), fs::weakly_canonical(a.directory) / "");
    EXPECT_NE(typed.transcript.find("Svedberg coeff. (Svedb.units)  " + FormatExp11(j["parameters"][1]["value_svedberg"]) +
                                    "   " + FormatExp11(j["parameters"][1]["sd_svedberg"])),
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

TEST(BatchSession, SampleRunTypedPositionsFitAsArrowKeysAndResultsMatchTheReport) {
  signal(SIGPIPE, SIG_IGN);  // a program that died early fails the test, not the run
  if (access(SVFIT_SOURCE_DIR "/data/sample/abs/00001.RA2", R_OK) != 0) GTEST_SKIP() << "sample runs missing";
  CheckAnalysis(Sample());
}

TEST(BatchSession, RealInterferenceRunTypedPositionsFitAsArrowKeys) {
  signal(SIGPIPE, SIG_IGN);
  if (access(SVFIT_SOURCE_DIR "/../shared/data/real/sedfit-bsa-ip4/00001.IP4", R_OK) != 0)
    GTEST_SKIP() << "real data missing";
  CheckAnalysis(RealInterference());
}

}  // namespace
