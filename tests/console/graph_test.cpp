// The graphics surface, pixel by pixel on the headless front end, in the
// modes the plots use; viewport hardcopies: one PDF job per run, checked by
// rendering the pages with pdftoppm (poppler-utils) at 72 dpi, so one pixel is
// one point; and the SDL2 window front end under a virtual X server (Xvfb):
// the window opens with the first picture and shows the surface.
#include "console/graph.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>

#include "console/crt.h"
#include "console/hardcopy.h"

namespace svfit::console {
namespace {

class Surface : public ::testing::Test {
 protected:
  void SetUp() override {
    StartTestConsole("");
    SetGraphicsFrontend(GraphicsFrontend::kHeadless);
    int driver = 0, mode = 1;
    OpenGraphics(driver, mode, "");
    EXPECT_EQ(std::pair(driver, mode), std::pair(9, 2));
  }
  void TearDown() override { CloseGraphics(); }

  // Pixels of colour c inside the rectangle.
  static int Count(int x1, int y1, int x2, int y2, int c) {
    int n = 0;
    for (int y = y1; y <= y2; ++y)
      for (int x = x1; x <= x2; ++x) n += GetPixel(x, y) == c;
    return n;
  }
};

TEST_F(Surface, OpensBlackColourNumbersAndAliasesAndNeedsASurfaceToDrawOn) {
  EXPECT_EQ(MaxX(), 1023);
  EXPECT_EQ(MaxY(), 767);
  EXPECT_EQ(Count(0, 0, 1023, 767, 0), 1024 * 768);
  EXPECT_EQ(GetDrawColor(), 15);
  SetDrawColor(20);
  DrawLine(10, 10, 20, 10);
  EXPECT_EQ(GetPixelRgb(12, 10), 0x808000u);  // brown is (128, 128, 0)
  EXPECT_EQ(GetDrawColor(), 6);
  try {
    SetDrawColor(16);
    FAIL() << "colour 16 accepted";
  } catch (const GraphicsError& e) {
    EXPECT_NE(std::string(e.what()).find("Undefined colour"), std::string::npos);
  }
  for (int c : {21, -1}) EXPECT_THROW(SetDrawColor(c), GraphicsError) << c;
  // Drawing without a surface is an error.
  CloseGraphics();
  try {
    DrawLine(0, 0, 5, 5);
    FAIL() << "drawing without a surface";
  } catch (const GraphicsError& e) {
    EXPECT_EQ(e.code(), -1);
    EXPECT_EQ(std::string(e.what()), GraphicsErrorText(-1));
  }
  CloseGraphics();  // no surface: only the result code
  EXPECT_EQ(GraphicsResult(), -1);
  int d = 0, m = 0;
  OpenGraphics(d, m, "");
  EXPECT_EQ(GraphicsResult(), 0);
}

TEST_F(Surface, LinesExcludeTheirEndPointKeepThePositionAndTakeTheirStyle) {
  DrawLine(0, 0, 50, 50);
  EXPECT_EQ(std::tuple(GetPixel(0, 0), GetPixel(49, 49), GetPixel(50, 50)), std::tuple(15, 15, 0));
  EXPECT_EQ(CurrentX(), 0);
  MoveTo(500, 500);
  LineTo(510, 500);
  LineTo(510, 510);
  EXPECT_EQ(std::pair(CurrentX(), CurrentY()), std::pair(510, 510));
  EXPECT_EQ(Count(500, 500, 510, 510, 15), 20);  // corner pixel set once
  SetLine(1, 0, 1);  // dotted
  DrawLine(10, 100, 110, 100);
  EXPECT_EQ(Count(10, 99, 110, 99, 15) + Count(10, 101, 110, 101, 15), 0);
  EXPECT_EQ(Count(10, 100, 109, 100, 15), 50);  // 2 on, 2 off
  EXPECT_EQ(GetPixel(12, 100), 0);
  SetLine(3, 0, 1);  // dashed: 5 on, 3 off
  DrawLine(10, 300, 26, 300);
  EXPECT_EQ(Count(10, 300, 25, 300, 15), 10);
}

TEST_F(Surface, XorCrosshairDrawnTwiceRestoresThePicture) {
  SetDrawColor(14);
  DrawLine(0, 5, 100, 5);
  SetDrawMode(1);
  SetDrawColor(6);
  DrawLine(0, 5, 100, 5);
  EXPECT_EQ(GetPixelRgb(50, 5), 0xFFFF00u ^ 0x808000u);  // not a palette colour
  DrawLine(0, 5, 100, 5);
  EXPECT_EQ(GetPixel(50, 5), 14);  // drawn twice: restored
  // A crosshair over a filled ellipse and a line, in XOR twice.
  SetDrawMode(0);
  SetFill(1, 12);
  FillEllipse(300, 300, 40, 30);
  SetDrawColor(9);
  DrawLine(0, 310, 1023, 310);
  std::vector<std::uint8_t> before, after;
  SaveImage(0, 0, 1023, 767, before);
  SetDrawMode(1);
  SetDrawColor(14);
  for (int pass = 0; pass < 2; ++pass) {
    DrawLine(300, 0, 300, 700);
    DrawLine(100, 310, 1023, 310);
  }
  SaveImage(0, 0, 1023, 767, after);
  EXPECT_EQ(before, after);
}

TEST_F(Surface, FilledEllipseCoversItsBoundingBoxImagesAreSavedAndRestored) {
  SetDrawColor(4);
  SetFill(1, 4);
  FillEllipse(50, 50, 2, 2);
  EXPECT_EQ(Count(40, 40, 60, 60, 4), 21);  // 3 + 5 + 5 + 5 + 3
  EXPECT_EQ(std::pair(GetPixel(48, 50), GetPixel(52, 50)), std::pair(4, 4));  // 48 to 52
  EXPECT_EQ(GetPixel(47, 50) + GetPixel(48, 48), 0);      // not beyond, corners cut
  FillEllipse(100, 100, 10, 4);
  EXPECT_EQ(Count(89, 95, 111, 105, 4), Count(90, 96, 110, 104, 4));  // within x +- 10, y +- 4
  EXPECT_EQ(GetPixel(90, 100), 4);
  EXPECT_EQ(GetPixel(100, 96), 4);
  SetDrawColor(15);
  SetFill(1, 12);  // the outline in the drawing colour
  FillEllipse(300, 300, 20, 20);
  EXPECT_EQ(std::pair(GetPixel(300, 300), GetPixel(300, 280)), std::pair(12, 15));
  // Images saved and restored in place and elsewhere.
  ClearSurface();
  SetFill(1, 10);
  FillEllipse(60, 60, 30, 20);
  std::vector<std::uint8_t> buf, whole, again;
  SaveImage(20, 30, 120, 90, buf);
  EXPECT_LE(buf.size(), ImageBufferSize(20, 30, 120, 90));
  SaveImage(0, 0, 1023, 767, whole);
  RestoreImage(20, 30, buf, 0);  // copy onto itself: unchanged
  SaveImage(0, 0, 1023, 767, again);
  EXPECT_EQ(whole, again);
  RestoreImage(300, 300, buf, 0);  // elsewhere
  EXPECT_EQ(GetPixel(340, 330), 10);
  EXPECT_EQ(GetPixel(300, 290), 0);
  EXPECT_EQ(ImageBufferSize(10, 10, 5, 5), 0u);
}

// The bounding box of the pixels of colour c: x1, y1, x2, y2.
std::array<int, 4> Ink(int c) {
  std::array<int, 4> b{1 << 30, 1 << 30, -1, -1};
  for (int y = 0; y <= MaxY(); ++y)
    for (int x = 0; x <= MaxX(); ++x)
      if (GetPixel(x, y) == c) b = {std::min(b[0], x), std::min(b[1], y), std::max(b[2], x), y};
  return b;
}

TEST_F(Surface, TextSizeFollowsTheEightWRuleAndAlignment) {
  SetTextFont(2, 0, 4);  // W = 28 x 100 / 60 = 46 pixels for eight characters
  const int h = FontHeight();
  EXPECT_NEAR(TextWidth("WWWWWWWW"), 46, 8);
  EXPECT_EQ(TextHeight("x"), h);
  ScaleTextFont(20, 10, 20, 10);  // twice the height
  EXPECT_EQ(FontHeight(), 2 * h);
  EXPECT_NEAR(TextWidth("WWWWWWWW"), 92, 12);
  EXPECT_EQ(TextWidth("abc") * 2, TextWidth("abcdef"));  // monospaced
  SetDrawColor(14);
  SetTextJustify(1, 1);  // centred on the baseline
  DrawTextAt(500, 300, "HH");
  auto b = Ink(14);
  EXPECT_EQ(b[3], 299);  // capitals stand on the baseline
  EXPECT_NEAR((b[0] + b[2]) / 2.0, 500, 2);
  EXPECT_EQ(CurrentX(), 500);  // centred text leaves the position
  ClearSurface();
  SetTextJustify(0, 2);  // left, top
  DrawTextAt(100, 100, "H");
  b = Ink(14);
  EXPECT_TRUE(b[1] >= 100 && b[1] < 100 + FontHeight() / 2 && b[0] >= 100) << b[0] << " " << b[1];
  EXPECT_EQ(CurrentX(), 100 + TextWidth("H"));  // moves past the text
  ClearSurface();
  SetTextJustify(2, 0);  // right, bottom
  DrawTextAt(600, 400, "Hg");
  b = Ink(14);
  EXPECT_TRUE(b[2] <= 600 && b[2] >= 600 - 4) << b[2];
  EXPECT_LE(b[3], 400);
  EXPECT_GT(b[3], 400 - FontHeight() / 3);  // the descender reaches near the bottom
}

// ---- Hardcopies -------------------------------------------------------------------------

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

class Hardcopy : public Surface {
 protected:
  void SetUp() override {
    if (std::system("command -v pdftoppm >/dev/null && command -v pdfinfo >/dev/null") != 0)
      GTEST_SKIP() << "pdftoppm/pdfinfo (poppler-utils) missing: run make setup";
    Surface::SetUp();
    oldDir = fs::current_path();
    dir = fs::temp_directory_path() / ("svfit-hardcopy-test-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "bin");
    fs::current_path(dir);
    oldPath = std::getenv("PATH");
    setenv("PATH", ((dir / "bin").string() + ":" + oldPath).c_str(), 1);
    Script("lpstat", "echo 'no system default destination'");
  }
  void TearDown() override {
    if (oldPath.empty()) return;
    EndHardcopyJob();
    Surface::TearDown();
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

// ---- The window -------------------------------------------------------------------------

// Starts Xvfb on a display it picks itself; returns its pid and ":number",
// or "" when it did not start within 10 s.
std::string StartXvfb(pid_t& pid) {
  int fds[2];
  if (pipe(fds) != 0) return "";
  pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  for (char c; poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n';) number += c;
  close(fds[0]);
  if (!number.empty()) return ":" + number;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return "";
}

TEST(WindowSmoke, PictureShownInAnSdlWindow) {
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Xvfb is not installed (make setup installs it): no window front end test";
  pid_t xvfb = 0;
  const std::string display = StartXvfb(xvfb);
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  setenv("DISPLAY", display.c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  setenv("SDL_VIDEODRIVER", "x11", 1);
  StartTestConsole("");
  SetGraphicsFrontend(GraphicsFrontend::kWindow);
  int d = 0, m = 1;
  OpenGraphics(d, m, "");
  HideGraphics();
  EXPECT_FALSE(GraphicsWindowActive());  // no window before there is a picture
  ShowGraphics(2);
  DrawLine(0, 0, 1023, 767);
  SetFill(1, 12);
  FillEllipse(500, 300, 120, 80);
  SetDrawColor(14);
  DrawTextAt(100, 600, "svfit 6.05 cm");
  EXPECT_TRUE(GraphicsWindowActive());
  PresentGraphics();
  // What the window shows, read back from it, and the surface, both written
  // by the same PNG writer: the same pixels give the same bytes.
  ASSERT_TRUE(SaveWindowScreenshot("window-smoke-shown.png"));
  ASSERT_TRUE(WritePng("window-smoke-drawn.png"));
  EXPECT_EQ(std::system("cmp -s window-smoke-shown.png window-smoke-drawn.png"), 0);
  std::remove("window-smoke-shown.png");
  std::remove("window-smoke-drawn.png");
  CloseGraphics();
  SetGraphicsFrontend(GraphicsFrontend::kAuto);
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
}

}  // namespace
}  // namespace svfit::console
