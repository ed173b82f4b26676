// The real program driven through pipes, as a batch user or a script does:
// the transcript of the run-option dialogue, the end on exhausted input, and
// no crash or hang on arbitrary bytes.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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
// To the menu and out: no distribution, then E and F at the menu.
const std::string kToTheEnd = "nef";

void ExpectDialogue(const RunResult& r, const std::string& dialogue) {
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, dialogue.size()), dialogue);
  EXPECT_NE(r.out.find(" Your option ?  E\nReally (F)inish  (F/N) F\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.err, "");
}

TEST(Program, NewFilesDialogueWithCrLfAnswersAndARefusedKey) {
  ExpectDialogue(RunProgram("\r\n\r\n\r\nx\r\ns\r\n\n" + kToTheEnd),
                 kGen + "N\n" + kInterp + "N\n" + kConc3000 + "N\n" + kLoad + "\n" + kLoad +
                     "\n" + kLoad + "S\n" + kOutlier + "Y\n" + kBottom + "N\n" + kSeries);
}

TEST(Program, OldFilesDialogue) {
  ExpectDialogue(RunProgram("oonJ" + kToTheEnd),
                 kGen + "O\n" + kLoad + "O\n" + kOutlier + "N\n" + kBottom + "Y\n" + kSeries);
}

TEST(Program, InterferenceDialogue) {
  ExpectDialogue(RunProgram("IYY\n" + kToTheEnd),
                 kGen + "I\n" + kContour + "Y\n" + kOutlier + "Y\n" + kBottom + "N\n" + kSeries);
  ExpectDialogue(RunProgram("i\nn" + kToTheEnd), kGen + "I\n" + kContour + "N\n" + kBottom + "N\n" + kSeries);
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
