// Viewport hardcopies: one PDF job per run, checked by rendering the pages
// with pdftoppm (poppler-utils) at 72 dpi, so one pixel is one point.
#include "console/hardcopy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "console/crt.h"
#include "console/graph.h"

namespace svfit::console {
namespace {

namespace fs = std::filesystem;

// A rendered page: 8-bit grey pixels.
struct Page {
  int w = 0, h = 0;
  std::vector<unsigned char> px;
  bool Dark(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x] < 128; }
  // First and last dark row in column x, or (rows = false) dark column in row x.
  std::pair<int, int> DarkSpan(int x, bool rows = true) const {
    std::pair<int, int> span{-1, -1};
    for (int k = 0; k < (rows ? h : w); ++k)
      if (rows ? Dark(x, k) : Dark(k, x)) span = {span.first < 0 ? k : span.first, k};
    return span;
  }
};

// Page `page` of the PDF rendered at 72 dpi (one pixel a point), and the page count.
Page Render(const std::string& pdf, int page) {
  const std::string n = std::to_string(page);
  Page p;
  const std::string command = "pdftoppm -r 72 -gray -singlefile -f " + n + " -l " + n + " " + pdf;
  if (std::system((command + " page").c_str()) != 0) return p;
  std::ifstream in("page.pgm", std::ios::binary);
  std::string magic;
  int maxval = 0;
  in >> magic >> p.w >> p.h >> maxval;
  in.get();
  p.px.resize(static_cast<std::size_t>(p.w) * p.h);
  in.read(reinterpret_cast<char*>(p.px.data()), static_cast<std::streamsize>(p.px.size()));
  return p;
}

int PageCount(const std::string& pdf) {
  FILE* f = popen(("pdfinfo " + pdf + " 2>/dev/null").c_str(), "r");
  char line[256];
  int pages = 0;
  while (f && std::fgets(line, sizeof line, f) && std::sscanf(line, "Pages: %d", &pages) != 1) {}
  if (f) pclose(f);
  return pages;
}

class Hardcopy : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v pdftoppm >/dev/null && command -v pdfinfo >/dev/null") != 0)
      GTEST_SKIP() << "pdftoppm/pdfinfo (poppler-utils) missing: run make setup";
    oldDir = fs::current_path();
    dir = fs::temp_directory_path() / ("svfit-hardcopy-test-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "bin");
    fs::current_path(dir);
    oldPath = std::getenv("PATH");
    setenv("PATH", ((dir / "bin").string() + ":" + oldPath).c_str(), 1);
    Script("lpstat", "echo 'no system default destination'");
    StartTestConsole("");
    SetGraphicsFrontend(GraphicsFrontend::kHeadless);
    int d = 0, m = 1;
    OpenGraphics(d, m, "");
  }
  void TearDown() override {
    if (oldPath.empty()) return;
    EndHardcopyJob();
    CloseGraphics();
    setenv("PATH", oldPath.c_str(), 1);
    fs::current_path(oldDir);
    fs::remove_all(dir);
  }
  void Script(const std::string& name, const std::string& body) {
    const fs::path p = dir / "bin" / name;
    std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(p, fs::perms::owner_all);
  }
  // The PDF files kept in the current directory.
  std::vector<std::string> KeptFiles() {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().extension() == ".pdf") v.push_back(e.path().filename().string());
    return v;
  }
  // The whole surface in colour c (the background of the window).
  static void Fill(int c) {
    SetBackColor(c);
    ClearSurface();
  }

  fs::path dir, oldDir;
  std::string oldPath;
};

// The two layouts the viewer prints: upright 1530 x 968 and turned 1162 x 1275.
TEST_F(Hardcopy, OneJobOfHardcopiesOneUnderTheOtherUprightAndTurned) {
  Fill(4);  // red everywhere, white frame: all ink in colour mode 0
  DrawLine(0, 0, 1023, 0);
  EXPECT_FALSE(HardcopyPending());
  PrintViewPort(85, 1530, 968, 0);
  EXPECT_TRUE(HardcopyPending());
  EXPECT_NE(TestTranscript().find("svfit-hardcopy-"), std::string::npos);
  Fill(0);  // black is paper; the lower half is ink
  for (int y = 384; y <= 767; ++y) DrawLine(0, y, 1024, y);
  PrintViewPort(85, 1530, 968, 0);
  Fill(0);
  for (int x = 0; x < 512; ++x) DrawLine(x, 0, x, 768);  // the left half ink
  PrintViewPort(85, 1530, 968, 0);   // a third does not fit under them
  PrintViewPort(85, 1162, 1275, 1);  // turned by 90 degrees counter-clockwise
  const std::string note = EndHardcopyJob();
  EXPECT_FALSE(HardcopyPending());
  const auto kept = KeptFiles();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(note, "Graph hardcopies saved in " + kept[0]);
  EXPECT_EQ(kept[0].size(), std::string("svfit-hardcopy-YYYYMMDD-HHMMSS.pdf").size());
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(fs::status(kept[0]).permissions(), static_cast<fs::perms>(0666 & ~mask));  // not 0600
  EXPECT_EQ(PageCount(kept[0]), 2);
  const Page p = Render(kept[0], 1);
  ASSERT_NEAR(p.w, 595, 1);  // A4
  ASSERT_NEAR(p.h, 842, 1);
  // x = 85/216 inch = 28.3 pt, width 1530/216 inch = 510 pt.
  const auto cols = p.DarkSpan(100, false);
  EXPECT_NEAR(cols.first, 28.3, 1.5);
  EXPECT_NEAR(cols.second, 28.3 + 510, 1.5);
  // First image from 28.3 pt, 968/216 inch = 322.7 pt high; the second below
  // it, ink only in its lower half.
  const auto rows = p.DarkSpan(300);
  EXPECT_NEAR(rows.first, 28.3, 1.5);
  EXPECT_NEAR(rows.second, 28.3 + 2 * 322.7, 1.5);
  EXPECT_TRUE(p.Dark(300, 340));
  EXPECT_FALSE(p.Dark(300, 360));  // upper half of the second: paper
  EXPECT_FALSE(p.Dark(300, 500));
  EXPECT_TRUE(p.Dark(300, 530));
  // The third at the top of page 2, ink in the left half of its 510 pt.
  const Page q = Render(kept[0], 2);
  const auto left = q.DarkSpan(100, false);
  EXPECT_NEAR(left.first, 28.3, 1.5);
  EXPECT_NEAR(left.second, 28.3 + 510 / 2.0, 1.5);
  EXPECT_NEAR(q.DarkSpan(100).first, 28.3, 1.5);
  EXPECT_TRUE(q.Dark(100, 349));  // it ends at 28.3 + 322.7 pt
  EXPECT_FALSE(q.Dark(100, 353));
  // The turned image below, 1275/216 inch = 425 pt high: the screen's left
  // half is now its lower half.
  const double top = 28.3 + 322.7, mid = top + 425 / 2.0, bottom = top + 425;
  EXPECT_FALSE(q.Dark(200, static_cast<int>(mid) - 3));
  EXPECT_TRUE(q.Dark(200, static_cast<int>(mid) + 3));
  EXPECT_TRUE(q.Dark(200, static_cast<int>(bottom) - 2));
  EXPECT_FALSE(q.Dark(200, static_cast<int>(bottom) + 2));
  EXPECT_NEAR(q.DarkSpan(static_cast<int>(bottom) - 10, false).second, 28.3 + 1162 / 3.0, 1.5);
}

TEST_F(Hardcopy, GoesToTheDefaultPrinterAndARefusedJobLeavesTheFile) {
  Script("lpstat", "echo 'system default destination: labprinter'");
  Script("lp", "echo \"$@\" > lp-args; for a; do f=$a; done; cp \"$f\" printed.out");
  Fill(5);
  PrintViewPort(85, 1530, 968, 0);
  EXPECT_NE(TestTranscript().find("printer labprinter"), std::string::npos);
  EXPECT_EQ(EndHardcopyJob(), "Graph hardcopies sent to printer labprinter");
  EXPECT_TRUE(KeptFiles().empty());
  std::ifstream args("lp-args");
  std::string line;
  std::getline(args, line);
  EXPECT_NE(line.find("-dlabprinter"), std::string::npos);
  EXPECT_EQ(PageCount("printed.out"), 1);

  Script("lp", "exit 1");
  PrintViewPort(85, 1530, 968, 0);
  EXPECT_NE(EndHardcopyJob().find("did not take the job"), std::string::npos);
  EXPECT_EQ(KeptFiles().size(), 1u);
}

}  // namespace
}  // namespace svfit::console
