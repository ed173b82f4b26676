// The program through a pipe: the sample absorbance run (4.4 S and 6.8 S),
// the radial distribution, then the time derivative up to scan 12 with two
// peaks marked, model C from them, U into a new directory and into one where
// a file cannot be written, end. The scan files are only read.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(DistributionSession, SampleRunFromTheDistributionToTheSedfitFiles) {
  const fs::path sample = SVFIT_SOURCE_DIR "/data/sample/abs";
  if (!fs::exists(sample / "00001.RA2")) GTEST_SKIP() << "sample run missing";
  std::map<fs::path, std::string> before;  // the contents of every input file
  for (const auto& e : fs::directory_iterator(sample)) before[e.path()] = ReadAll(e.path());
  // n pixels left (n < 0) or right, 15 at a time with Shift.
  auto move = [](int n) {
    std::string s, k = n < 0 ? "D" : "C";
    for (n = std::abs(n); n >= 15; n -= 15) s += "\x1b[1;2" + k;
    while (n-- > 0) s += "\x1b[" + k;
    return s;
  };
  const std::string input =
      "\r\r\rS\r\r" + sample.string() + "\n2\n\n\n\nE"                     // run options, files
      + move(-168) + "M" + move(35) + "A" + move(701) + "E"               // meniscus 6.0498, 6.0997 .. 7.0993 cm
      + "\n\nYR\r" + "12\n" + "T" + move(282) + "1" + move(248) + "2\r\rN"   // all sets; R; T to scan 12, S1, S2, kept
      + "\n\n\n\n\n\n\nNC\n\n0\n\x1bx"                                  // defaults, no RI noise, C, none fixed; a key
      + "\n\n\n\n \n\x1b"                                                 // constants, report, graph
      + "Uexport/new\nY" + ".5\n0\n\nE"                                   // .5 and 0 refused, then 1
      + "Ublocked\n\nOx" + "EF";                                          // a file fails; a key; end

  char dir[] = "/tmp/svfit-dist-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const fs::path d = dir;
  fs::create_directories(d / "blocked/list.ra0");  // directories where files go
  fs::create_directories(d / "sample.FHT");
  std::ofstream(d / "blocked/00001.ra0") << "old";
  std::ofstream(d / "blocked/notes.txt") << "mine";
  std::ofstream(d / "in", std::ios::binary) << input;
  const int status = std::system(("cd " + d.string() + " && exec timeout -s KILL 120 '" SVFIT_BINARY_DIR
                                  "/src/driver/svfit' <in >out 2>err").c_str());
  const std::string t = ReadAll(d / "out");
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadAll(d / "err") << t;

  EXPECT_NE(t.find("Designate new last file for difference between   5- 30 :  \n"
                   "Go directly for producing the distribution plot  (Y/N) :  N\n"),
            std::string::npos);
  EXPECT_NE(t.find("components from the distribution:  S1 = 4.21  S2 = 6.01\n"), std::string::npos);
  for (const auto& [label, s] : {std::pair{"\nSvedberg coeff. (Svedb.units)   ", 4.4}, {"\n2.Svedberg coeff.(Svedb.units)  ", 6.8}})
    EXPECT_NEAR(std::stod(t.substr(t.find(label) + 33, 11)) / s, 1.0, 0.005) << label;

  // The time-method distribution after the fit with C, named after the
  // folder above the run, cannot be written; the SEDFIT files.
  EXPECT_NE(t.find("cannot write the distribution file sample.FHT in the current directory\npress a key"),
            std::string::npos);
  const std::string divisor = "Divisor for conversion of data values to concentration for equilibria :";
  EXPECT_NE(t.find(divisor + ".5\n" + divisor + "0\n" + divisor + " 1.0000\n"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(d / "export/new"), fs::directory_iterator()), 32);
  EXPECT_EQ(ReadAll(d / "export/new/list.ra9").substr(0, d.string().size() + 23), d.string() + "/export/new/\n00001_ra9\n");
  EXPECT_EQ(ReadAll(d / "export/new/00030.ra9"), ReadAll(d / "blocked/00030.ra0"));  // O and E: the same data
  EXPECT_NE(t.find("cannot write blocked/list.ra0: Is a directory\npress a key"), std::string::npos);
  EXPECT_EQ(ReadAll(d / "blocked/notes.txt"), "mine");
  EXPECT_NE(ReadAll(d / "blocked/00001.ra0"), "old");  // overwritten
  for (const auto& [path, text] : before) EXPECT_EQ(ReadAll(path), text) << path;  // input unchanged
  fs::remove_all(d);
}

}  // namespace
