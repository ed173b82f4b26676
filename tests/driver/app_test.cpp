// The real program driven through pipes, as a batch user or a script does:
// the transcript of the run-option dialogue, the end on exhausted input, and
// no crash or hang on arbitrary bytes.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

namespace {

const char* const kProgram = SVFIT_BINARY_DIR "/src/driver/app/svfit";

struct RunResult {
  int exitCode = -1;  // -1: killed after the time limit or by a signal
  bool timedOut = false;
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the program with `input` as standard input (a file, not a terminal),
// standard output and error into files; kills it after `limitMs`.
RunResult RunProgram(const std::string& input, int limitMs = 10000) {
  char dir[] = "/tmp/svfit-app-XXXXXX";
  EXPECT_NE(mkdtemp(dir), nullptr);
  const std::string d = dir;
  {
    std::ofstream(d + "/in", std::ios::binary) << input;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir) != 0) _exit(120);
    const int in = open("in", O_RDONLY);
    const int out = open("out", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open("err", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execl(kProgram, kProgram, static_cast<char*>(nullptr));
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
  std::system(("rm -rf " + d).c_str());
  return r;
}

const std::string kGen = "(O)ld or (N)ew XLA-files (New=default) or (I)nterference  (O/N/I) :  ";
const std::string kInterp = "Interpolate missing data points                 (Y/N) :  ";
const std::string kConc3000 = "Calculate concentration from 3000 rpm file      (Y/N) :  ";
const std::string kContour = "Subtraction of the whole 3000 rpm contour       (Y/N) :  ";
const std::string kLoad = "Load all files (S)imultaneously or (O)ne by one (S/O) :  ";
const std::string kOutlier = "correct data outlies   (Yes=default)            (Y/N) :  ";
const std::string kBottom = "calculation of last bottom point                (Y/N) :  ";
const std::string kSeries = "load data files in ascent sequence  !\n";
// The run options end at the device prompt of the file selection; Z there
// ends the program.
const std::string kExit = "Z\n";

void ExpectDialogue(const RunResult& r, const std::string& dialogue) {
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, dialogue.size()), dialogue);
  EXPECT_NE(r.out.find("(Y=restart;", dialogue.size()), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
}

TEST(Program, NewFilesDialogueWithCrLfAnswersAndARefusedKey) {
  ExpectDialogue(RunProgram("\r\n\r\n\r\nx\r\ns\r\n\n" + kExit),
                 kGen + "N\n" + kInterp + "N\n" + kConc3000 + "N\n" + kLoad + "\n" + kLoad +
                     "\n" + kLoad + "S\n" + kOutlier + "Y\n" + kBottom + "N\n" + kSeries);
}

TEST(Program, OldFilesDialogue) {
  ExpectDialogue(RunProgram("oonJ" + kExit),
                 kGen + "O\n" + kLoad + "O\n" + kOutlier + "N\n" + kBottom + "Y\n" + kSeries);
}

TEST(Program, InterferenceDialogue) {
  ExpectDialogue(RunProgram("IYY\n" + kExit),
                 kGen + "I\n" + kContour + "Y\n" + kOutlier + "Y\n" + kBottom + "N\n" + kSeries);
  ExpectDialogue(RunProgram("i\nn" + kExit), kGen + "I\n" + kContour + "N\n" + kBottom + "N\n" + kSeries);
}

TEST(Program, RealSeriesToTheOptionMenuAndFinish) {
  const std::string dir = SVFIT_SOURCE_DIR "/../shared/data/real/mullins-spindata-ra2";
  if (access(dir.c_str(), R_OK) != 0) GTEST_SKIP() << "real scan files missing: " << dir;
  // Run options; directory, cell 2, start file and step by default, start
  // file confirmed; end of loading; no distribution; default end radius and
  // slit speed, 0 iterations (no fit); E and F at the menu.
  const RunResult r = RunProgram("\r\r\rS\r\r" + dir + "\n2\n\n\n\nEN\n\n0\nEF", 30000);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Number of the cell  (>8 back to the directory)    :  2\n"), std::string::npos);
  EXPECT_NE(r.out.find("Calculate Sedimentation Coefficient distribution (Y/N) :  N\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("max. number of iterations  (200=default)               :  0\n"),
            std::string::npos);
  EXPECT_NE(r.out.find(" Your option ?  E\nReally (F)inish  (F/N) F\n"), std::string::npos);
}

TEST(Program, TruncatedInputEndsWithCode3) {
  const RunResult r = RunProgram("\n\n");
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "input ended\n");
  // The question that was waiting is in the transcript, with its line ended.
  EXPECT_EQ(r.out, kGen + "N\n" + kInterp + "N\n" + kConc3000 + "\n");

  const RunResult empty = RunProgram("");
  EXPECT_EQ(empty.exitCode, 3);
}

TEST(Program, CtrlCEndsWithCode1) {
  const RunResult r = RunProgram("\n\x03\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.out.find("^C"), std::string::npos);
}

// Reads from `fd` until `text` has arrived; false after `limitMs`.
bool WaitFor(int fd, std::string& seen, const std::string& text, int limitMs = 5000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (seen.find(text) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    seen.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

TEST(Program, EachPromptArrivesBeforeItsAnswerIsRead) {
  signal(SIGPIPE, SIG_IGN);  // a program that died early fails the test, not the run
  int toChild[2], fromChild[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(fromChild), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(toChild[0], 0);
    dup2(fromChild[1], 1);
    close(toChild[1]);
    close(fromChild[0]);
    execl(kProgram, kProgram, static_cast<char*>(nullptr));
    _exit(127);
  }
  close(toChild[0]);
  close(fromChild[1]);
  std::string seen;
  const auto answer = [&](const char* key) {
    ASSERT_EQ(write(toChild[1], key, std::strlen(key)), static_cast<ssize_t>(std::strlen(key)));
  };
  // Prompt by prompt: nothing is sent before its question is on the pipe.
  EXPECT_TRUE(WaitFor(fromChild[0], seen, "(O/N/I) :  "));
  answer("i");
  EXPECT_TRUE(WaitFor(fromChild[0], seen, "contour       (Y/N) :  "));
  answer("n");
  EXPECT_TRUE(WaitFor(fromChild[0], seen, "last bottom point                (Y/N) :  "));
  answer("\n");
  EXPECT_TRUE(WaitFor(fromChild[0], seen, "(Y=restart;Z=exit) "));
  answer("z\n");
  close(toChild[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  close(fromChild[0]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
}

TEST(Program, ArbitraryBytesNeverCrashOrHang) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 12; ++round) {
    std::string input(static_cast<std::size_t>(rng() % 3000), '\0');
    for (char& c : input) {
      const unsigned k = rng() % 8;
      c = k == 0 ? '\x1b' : k == 1 ? '\r' : static_cast<char>(rng() % 256);
      if (c == '\x03') c = 'x';  // Ctrl-C would end the run early
    }
    const RunResult r = RunProgram(input, 20000);
    ASSERT_FALSE(r.timedOut) << "round " << round;
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 3) << "round " << round << ": " << r.exitCode;
  }
}

}  // namespace
