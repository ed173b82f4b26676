// The real program run through pipes, as a batch user or a script runs it:
// standard input from a file (not a terminal), standard output and error
// into files, in a fresh temporary directory that is removed afterwards.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace svfit::testing {

inline const char* const kProgram = SVFIT_BINARY_DIR "/src/driver/app/svfit";

struct RunResult {
  int exitCode = -1;  // -1: killed after the time limit or by a signal
  bool timedOut = false;
  std::string out, err;
  // Files the run left in the subdirectory "png" of its directory (where
  // "--png png" puts the pictures), sorted, each with its first 8 bytes.
  std::vector<std::pair<std::string, std::string>> pngFiles;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the program with `input` as standard input and the command-line
// arguments `args`; kills it after `limitMs`.
inline RunResult RunProgram(const std::string& input, int limitMs = 10000,
                            const std::vector<std::string>& args = {}) {
  char dir[] = "/tmp/svfit-app-XXXXXX";
  EXPECT_NE(mkdtemp(dir), nullptr);
  const std::string d = dir;
  {
    std::ofstream(d + "/in", std::ios::binary) << input;
  }
  std::vector<std::string> argStore{kProgram};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir) != 0) _exit(120);
    const int in = open("in", O_RDONLY);
    const int out = open("out", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open("err", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(kProgram, argv.data());
    _exit(127);
  }
  RunResult r;
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    if (std::chrono::steady_clock::now() > end) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      r.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!r.timedOut && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  r.out = ReadAll(d + "/out");
  r.err = ReadAll(d + "/err");
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(d + "/png", ec))
    r.pngFiles.emplace_back(e.path().filename().string(), ReadAll(e.path().string()).substr(0, 8));
  std::sort(r.pngFiles.begin(), r.pngFiles.end());
  std::filesystem::remove_all(d, ec);
  return r;
}

}  // namespace svfit::testing
