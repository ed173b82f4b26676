// The graphics surface, pixel by pixel on the headless front end, in the
// modes the plots use; and the SDL2 window front end under a virtual X server
// (Xvfb): the window opens with the first picture and shows the surface.
#include "console/graph.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>

#include "console/crt.h"

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

TEST_F(Surface, OpensBlackAndColourNumbersAndAliases) {
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

TEST_F(Surface, FilledEllipseCoversItsBoundingBox) {
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
}

TEST_F(Surface, SaveAndRestoreImages) {
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

TEST_F(Surface, DrawingWithoutASurfaceIsAnError) {
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
