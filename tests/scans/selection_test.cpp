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

using testing::AbsorbanceRun;
using testing::Flat;
using testing::kAbsHeader;
using testing::ScanText;
using testing::TempDir;
using testing::WriteFile;

TEST(Masks, ExtensionMaskWithCellDigitIgnoresCase) {
  EXPECT_TRUE(MatchMask("00001.RA2", "*.r?2"));
  EXPECT_TRUE(MatchMask("00001.ra2", "*.r?2"));
  EXPECT_TRUE(MatchMask("00001.IP4", "*.ip4"));
  EXPECT_FALSE(MatchMask("00001.ra1", "*.r?2"));
  EXPECT_FALSE(MatchMask("00001.ip2", "*.r?2"));
  EXPECT_FALSE(MatchMask("00001.ra", "*.r?2"));
}

TEST(Masks, NamesWithoutExtension) {
  EXPECT_TRUE(MatchMask("040505", "??????"));
  EXPECT_TRUE(MatchMask("run", "??????"));  // "?" may match nothing at the end
  EXPECT_FALSE(MatchMask("1234567", "??????"));
  EXPECT_FALSE(MatchMask("a.b", "??????"));
  EXPECT_TRUE(MatchMask("R01", "*."));
  EXPECT_FALSE(MatchMask("x.y", "*."));
  EXPECT_TRUE(MatchMask("r07", "r??"));
  EXPECT_TRUE(MatchMask("anything.at.all", "*"));
}

TEST(Listing, SortedByBytesWithoutDotNames) {
  TempDir dir;
  for (const char* name : {"b", "B", "_x", "a", ".hidden", "00002.RA2", "00001.RA2"})
    WriteFile(dir.file(name), "x");
  EXPECT_EQ(ListDirectory(dir.path(), "*"),
            (std::vector<std::string>{"00001.RA2", "00002.RA2", "B", "_x", "a", "b"}));
  EXPECT_EQ(ListDirectory(dir.path(), "*.r?2"), (std::vector<std::string>{"00001.RA2", "00002.RA2"}));
  EXPECT_TRUE(ListDirectory(dir.file("missing/"), "*").empty());
}

TEST(DeviceAnswer, HomeAndTrailingSlash) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  EXPECT_EQ(DirectoryFromAnswer("~"), home + "/");
  EXPECT_EQ(DirectoryFromAnswer("~/run"), home + "/run/");
  EXPECT_EQ(DirectoryFromAnswer("/data/run"), "/data/run/");
  EXPECT_EQ(DirectoryFromAnswer("/data/run/"), "/data/run/");
  EXPECT_EQ(DirectoryFromAnswer("C"), "C/");
  EXPECT_EQ(DirectoryFromAnswer("~x"), "~x/");  // another user's home is not expanded
}

class CellDialog : public ::testing::Test {
 protected:
  AnalysisState st;
  TempDir dir;
  void SetUp() override {
    AbsorbanceRun(st);
    std::filesystem::create_directory(dir.file("040505"));
    std::filesystem::create_directory(dir.file("125508"));
    for (const char* name : {"040505/00001.RA2", "040505/00002.RA2", "040505/00003.RA2"})
      WriteFile(dir.file(name), ScanText(kAbsHeader, Flat(30), "SegB", "\r\n"));
  }
};

TEST_F(CellDialog, TypedAnswersWithCellAdvanceAndFileStep) {
  // Directory, run directory typed, cell 1 (none) then the offered cell 2,
  // start number 2, every second file, Enter confirms the start file.
  console::StartTestConsole(dir.path() + "\r040505\r\r\r2\r2\r\r");
  SelectFiles(st);
  EXPECT_EQ(st.directoryPath, dir.file("040505/"));
  EXPECT_EQ(st.firstFileName, dir.file("040505/00002.RA2"));
  EXPECT_EQ(st.extension, "RA2");
  EXPECT_EQ(st.fileNumberWidth, 5);
  EXPECT_EQ(st.startFileNumber, 2);
  EXPECT_EQ(st.fileStep, 2);
  const std::string out = console::TestTranscript();
  EXPECT_NE(out.find("device with path (Y=restart;Z=exit) "), std::string::npos);
  EXPECT_NE(out.find("040505"), std::string::npos);
  EXPECT_NE(out.find("125508"), std::string::npos);
  EXPECT_NE(out.find("Number of the cell  (>8 back to the directory)    :  "), std::string::npos);
  EXPECT_NE(out.find("Number of the  starting file                      :  "), std::string::npos);
  EXPECT_NE(out.find("What sequence of files (each 1. 2. n.)are desired :  "), std::string::npos);
  // The start file up to the header line and one line beyond, then the question.
  EXPECT_NE(out.find("SegB\n" + std::string(kAbsHeader) + "\n"), std::string::npos);
  EXPECT_NE(out.find("The correct start file            (Y/N) : Y"), std::string::npos);
}

TEST_F(CellDialog, MouseClickChoosesTheRunDirectory) {
  // The first name of row 2 is "040505": column 0, row 2 of the console.
  console::StartTestConsole(dir.path() + "\r2\r\r\r\r");
  console::PostMouse(4, console::CellHeight() * 1 + 2, 1, false);
  SelectFiles(st);
  console::PostMouse(4, 4, 0, false);
  EXPECT_EQ(st.firstFileName, dir.file("040505/00001.RA2"));
  EXPECT_EQ(st.fileStep, 1);
}

TEST_F(CellDialog, RefusalsRestartAndMissingStartFile) {
  // An empty device answer is refused; Y restarts; a missing start number
  // gives "File not found. New attempt ?"; N at the confirmation starts
  // again; cell 9 goes back to the device prompt.
  const std::string d = dir.path() + "\r";
  console::StartTestConsole("\rY\r" + d + "040505\r2\r7\r\r" + d + "040505\r2\r\r\rN" + d + "040505\r9\r" + d +
                            "040505\r2\r3\r\rY");
  SelectFiles(st);
  EXPECT_EQ(st.firstFileName, dir.file("040505/00003.RA2"));
  const std::string out = console::TestTranscript();
  EXPECT_NE(out.find("File not found. New attempt ?"), std::string::npos);
  EXPECT_NE(out.find("The correct start file            (Y/N) : N"), std::string::npos);
}

TEST_F(CellDialog, ZEndsTheProgram) {
  console::StartTestConsole("Z\r");
  try {
    SelectFiles(st);
    FAIL() << "no halt";
  } catch (const console::ConsoleExited& e) {
    EXPECT_EQ(e.code, 0);
  }
}

TEST_F(CellDialog, UnknownDirectoryIsNamedAndAskedAgain) {
  console::StartTestConsole(dir.file("nowhere") + "\rZ\r");
  EXPECT_THROW(SelectFiles(st), console::ConsoleExited);
  EXPECT_NE(console::TestTranscript().find("directory not found: " + dir.file("nowhere/")), std::string::npos);
}

TEST(NameDialog, OldGenerationFileByName) {
  AnalysisState st;
  AbsorbanceRun(st);
  st.fileGeneration = 'O';
  TempDir dir;
  std::filesystem::create_directory(dir.file("RUN1"));
  WriteFile(dir.file("RUN1/R07"), ScanText(kAbsHeader, Flat(30)));
  WriteFile(dir.file("RUN1/R08"), ScanText(kAbsHeader, Flat(30)));
  // Into the subdirectory, then the file by name; Y confirms.
  console::StartTestConsole(dir.path() + "\rRUN1\rR07\rY");
  SelectFiles(st);
  EXPECT_EQ(st.firstFileName, dir.file("RUN1/R07"));
  EXPECT_EQ(st.startFileNumber, 7);
  EXPECT_EQ(st.fileStep, 1);
  const std::string out = console::TestTranscript();
  EXPECT_NE(out.find("device with path way (Y=restart; Z=exit) "), std::string::npos);
  EXPECT_NE(out.find("File name"), std::string::npos);
}

}  // namespace
}  // namespace svfit::scans
