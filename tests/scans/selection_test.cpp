// File and cell selection: masks, listings, device answers, and the cell and
// name dialogues driven by scripted keys and a mouse click.
#include "scans/selection.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "console/crt.h"
#include "scan_fixture.h"

namespace svfit::scans {
namespace {

using namespace testing;

TEST(Masks, CellDigitExtensionsAndNamesWithoutExtension) {
  const struct {
    const char* name;
    const char* mask;
    bool match;
  } cases[] = {{"00001.RA2", "*.r?2", true}, {"00001.ra2", "*.r?2", true},  {"00001.ra1", "*.r?2", false},
               {"00001.ip2", "*.r?2", false}, {"00001.ra", "*.r?2", false}, {"040505", "??????", true},
               {"run", "??????", true},  // "?" may match nothing at the end
               {"1234567", "??????", false}, {"a.b", "??????", false},      {"R01", "*.", true},
               {"x.y", "*.", false},          {"r07", "r??", true},         {"any.th.ing", "*", true}};
  for (const auto& c : cases) EXPECT_EQ(MatchMask(c.name, c.mask), c.match) << c.name << " " << c.mask;
}

TEST(Listing, SortedByBytesWithoutDotNamesAndTheDirectoryAnswer) {
  TempDir dir;
  for (const char* name : {"b", "B", "_x", "a", ".hidden", "00002.RA2", "00001.RA2"}) WriteFile(dir.file(name), "x");
  EXPECT_EQ(ListDirectory(dir.path(), "*"), (std::vector<std::string>{"00001.RA2", "00002.RA2", "B", "_x", "a", "b"}));
  EXPECT_EQ(ListDirectory(dir.path(), "*.r?2"), (std::vector<std::string>{"00001.RA2", "00002.RA2"}));
  EXPECT_TRUE(ListDirectory(dir.file("missing/"), "*").empty());
  EXPECT_EQ(DirectoryFromAnswer("~/run"), std::string(std::getenv("HOME") ? std::getenv("HOME") : "") + "/run/");
  EXPECT_EQ(DirectoryFromAnswer("/data/run"), "/data/run/");
  EXPECT_EQ(DirectoryFromAnswer("/data/run/"), "/data/run/");
  EXPECT_EQ(DirectoryFromAnswer("~x"), "~x/");  // another user's home is not expanded
}

class CellDialog : public ::testing::Test {
 protected:
  AnalysisState st;
  TempDir dir;
  void SetUp() override {
    NewRun(st, 'R');
    std::filesystem::create_directory(dir.file("040505"));
    std::filesystem::create_directory(dir.file("125508"));
    for (const char* name : {"040505/00001.RA2", "040505/00002.RA2", "040505/00003.RA2"})
      WriteFile(dir.file(name), ScanText(kAbsHeader, Flat(30), "SegB", "\r\n"));
  }
};

TEST_F(CellDialog, MouseClickRefusalsRestartAndMissingStartFile) {
  // The first name of row 2 is "040505": column 0, row 2 of the console.
  console::StartTestConsole(dir.path() + "\r2\r\r\r\r");
  console::PostMouse(4, console::CellHeight() * 1 + 2, 1, false);
  SelectFiles(st);
  console::PostMouse(4, 4, 0, false);
  EXPECT_EQ(st.firstFileName, dir.file("040505/00001.RA2"));
  EXPECT_EQ(st.fileStep, 1);

  // An empty device answer is refused; Y restarts; a missing start number
  // gives "File not found. New attempt ?"; N at the confirmation starts
  // again; cell 9 goes back to the device prompt.
  const std::string d = dir.path() + "\r";
  console::StartTestConsole("\rY\r" + d + "040505\r2\r7\r\r" + d + "040505\r2\r\r\rN" + d + "040505\r9\r" + d +
                            "040505\r2\r3\r\rY");
  SelectFiles(st);
  EXPECT_EQ(st.firstFileName, dir.file("040505/00003.RA2"));
  const std::string out = console::TestTranscript();
  EXPECT_NE(out.find("File not found. New attempt ?"), npos);
  EXPECT_NE(out.find("The correct start file            (Y/N) : N"), npos);
}

TEST_F(CellDialog, UnknownDirectoryIsAskedAgainAndZEndsTheProgram) {
  const std::string nowhere = dir.file(std::string(120, 'w'));  // not cut: paths run long
  console::StartTestConsole(nowhere + "\rZ\r");
  try {
    SelectFiles(st);
    FAIL() << "no halt";
  } catch (const console::ConsoleExited& e) {
    EXPECT_EQ(e.code, 0);
  }
  std::string t = console::TestTranscript();
  std::erase(t, '\n');  // the long line wraps on the 80-column screen
  EXPECT_NE(t.find("directory not found: " + nowhere + "/"), npos);
}

TEST(NameDialog, OldGenerationFileByName) {
  AnalysisState st;
  NewRun(st, 'R');
  st.fileGeneration = 'O';
  TempDir dir;
  std::filesystem::create_directory(dir.file("RUN1"));
  for (const char* name : {"RUN1/R07", "RUN1/R08"}) WriteFile(dir.file(name), ScanText(kAbsHeader, Flat(30)));
  // Into the subdirectory, then the file by name; Y confirms.
  console::StartTestConsole(dir.path() + "\rRUN1\rR07\rY");
  SelectFiles(st);
  EXPECT_EQ(st.firstFileName, dir.file("RUN1/R07"));
  EXPECT_EQ(st.startFileNumber, 7);
  EXPECT_NE(console::TestTranscript().find("device with path way (Y=restart; Z=exit) "), npos);
}

TEST(ExportPath, EmptyRefusedMissingDirectoryCreatedOnYesUnwritableAskedAgain) {
  TempDir dir;
  const std::string made = dir.file("out/plots");
  // Empty answer refused; "N" to creating the directory asks for the path
  // again; then "Y" creates it.
  console::StartTestConsole("\r" + made + "\rN" + made + "\rY");
  EXPECT_EQ(AskExportPath(), made + "/");
  EXPECT_TRUE(std::filesystem::is_directory(made));
  const std::string transcript = console::TestTranscript();
  EXPECT_EQ(transcript.rfind("device with path way (without file name)       : \n", 0), 0u) << transcript;
  EXPECT_NE(transcript.find("create it             (Y/N) :  N\n"), std::string::npos) << transcript;
  // An existing directory with "/" already there is taken as it is; a path
  // under a file cannot be created and is named, then asked again.
  WriteFile(dir.file("file"), "x");
  console::StartTestConsole(dir.file("file/sub") + "\rY" + dir.path() + "\r");
  EXPECT_EQ(AskExportPath(), dir.path());
  EXPECT_NE(console::TestTranscript().find("cannot create " + dir.file("file/sub/")), std::string::npos);
}

}  // namespace
}  // namespace svfit::scans
