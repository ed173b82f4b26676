// The graphics surface, pixel by pixel on the headless front end.
#include "console/graph.h"

#include <gtest/gtest.h>

#include <array>
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
  for (const auto& [c, alias] : {std::pair{63, 15}, {56, 8}}) {
    SetDrawColor(c);
    EXPECT_EQ(GetDrawColor(), alias) << c;
  }
  try {
    SetDrawColor(16);
    FAIL() << "colour 16 accepted";
  } catch (const GraphicsError& e) {
    EXPECT_NE(std::string(e.what()).find("Undefined colour"), std::string::npos);
  }
  for (int c : {21, -1}) EXPECT_THROW(SetDrawColor(c), GraphicsError) << c;
  EXPECT_THROW(SetBackColor(64), GraphicsError);
}

TEST_F(Surface, LinesExcludeTheirEndPointKeepThePositionAndTakeStyleAndThickness) {
  DrawLine(0, 0, 50, 50);
  EXPECT_EQ(std::tuple(GetPixel(0, 0), GetPixel(49, 49), GetPixel(50, 50)), std::tuple(15, 15, 0));
  EXPECT_EQ(CurrentX(), 0);
  MoveTo(500, 500);
  LineTo(510, 500);
  LineTo(510, 510);
  EXPECT_EQ(std::pair(CurrentX(), CurrentY()), std::pair(510, 510));
  EXPECT_EQ(Count(500, 500, 510, 510, 15), 20);  // corner pixel set once
  SetLine(1, 0, 3);  // dotted: one pixel wide whatever the thickness
  DrawLine(10, 100, 110, 100);
  EXPECT_EQ(Count(10, 98, 110, 99, 15) + Count(10, 101, 110, 102, 15), 0);
  EXPECT_EQ(Count(10, 100, 109, 100, 15), 50);  // 2 on, 2 off
  EXPECT_EQ(GetPixel(12, 100), 0);
  SetLine(0, 0, 3);  // solid takes the thickness
  DrawLine(10, 200, 110, 200);
  EXPECT_EQ(Count(10, 199, 109, 201, 15), 300);
  EXPECT_EQ(Count(10, 198, 109, 198, 15) + Count(10, 202, 109, 202, 15), 0);
  SetLine(3, 0, 1);  // dashed: 5 on, 3 off
  DrawLine(10, 300, 26, 300);
  EXPECT_EQ(Count(10, 300, 25, 300, 15), 10);
  EXPECT_THROW(SetLine(5, 0, 1), GraphicsError);
}

TEST_F(Surface, WriteModesAndAnXorCrosshairDrawnTwiceRestoresThePicture) {
  SetDrawColor(14);
  DrawLine(0, 5, 100, 5);
  SetDrawMode(1);
  SetDrawColor(6);
  DrawLine(0, 5, 100, 5);
  EXPECT_EQ(GetPixelRgb(50, 5), 0xFFFF00u ^ 0x808000u);  // not a palette colour
  DrawLine(0, 5, 100, 5);
  EXPECT_EQ(GetPixel(50, 5), 14);  // drawn twice: restored
  SetDrawMode(3);
  SetDrawColor(2);
  DrawLine(0, 5, 100, 5);
  EXPECT_EQ(GetPixelRgb(50, 5), 0xFFFF00u & 0x008000u);
  SetDrawMode(2);
  SetDrawColor(1);
  DrawLine(0, 5, 100, 5);
  EXPECT_EQ(GetPixelRgb(50, 5), 0x008080u);  // green or blue = cyan
  EXPECT_THROW(SetDrawMode(5), GraphicsError);
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

TEST_F(Surface, FillPatternsAndTheEllipseCoversItsBoundingBox) {
  SetBackColor(1);
  SetFill(0, 14);  // background colour, never the given colour
  FillEllipse(100, 100, 20, 20);
  EXPECT_EQ(GetPixel(100, 100), 1);
  EXPECT_EQ(Count(80, 80, 120, 120, 14), 0);
  EXPECT_EQ(GetPixel(100, 80), 15);  // outline in the drawing colour
  SetFill(2, 14);  // horizontal lines with the background between them
  FillEllipse(300, 300, 30, 30);
  EXPECT_EQ(GetPixel(300, 296), 14);  // rows that are multiples of 8
  EXPECT_EQ(GetPixel(300, 297), 1);
  SetFill(11, 10);  // vertical lines
  FillEllipse(500, 300, 30, 30);
  EXPECT_EQ(GetPixel(496, 301), 10);
  EXPECT_EQ(GetPixel(497, 301), 1);
  const std::uint8_t bits[8] = {0x01, 0, 0, 0, 0, 0, 0, 0};
  SetFillBits(bits, 13);
  SetFill(12, 13);  // user pattern: fill colour on black, not on the background
  FillEllipse(700, 300, 30, 30);
  EXPECT_EQ(GetPixel(696, 296), 13);
  EXPECT_EQ(GetPixel(697, 296), 0);
  EXPECT_THROW(SetFill(13, 1), GraphicsError);
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
}

TEST_F(Surface, ViewportIsRecordedButNeitherClipsNorShifts) {
  DefineViewPort(100, 100, 200, 200, true);
  EXPECT_EQ(CurrentX(), 0);
  DrawLine(0, 0, 50, 50);
  DrawLine(300, 300, 400, 300);
  EXPECT_EQ(GetPixel(10, 10) + GetPixel(350, 300), 30);  // both white, unshifted
  const ViewPort vp = GetViewPort();
  EXPECT_TRUE(vp.x1 == 100 && vp.y2 == 200 && vp.clip);
  ShowGraphics(2);  // resets to the whole surface
  EXPECT_EQ(std::pair(GetViewPort().x2, GetViewPort().y2), std::pair(1023, 767));
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
  RestoreImage(20, 30, buf, 1);  // xor with itself: black
  EXPECT_EQ(Count(20, 30, 120, 90, 0), 101 * 61);
  RestoreImage(300, 300, buf, 0);  // elsewhere
  EXPECT_EQ(GetPixel(340, 330), 10);
  RestoreImage(300, 300, buf, 4);  // inverse copy
  EXPECT_EQ(GetPixelRgb(340, 330), 0xFF00FFu);
  EXPECT_THROW(RestoreImage(0, 0, buf, 5), GraphicsError);
  EXPECT_EQ(ImageBufferSize(10, 10, 5, 5), 0u);
}

TEST_F(Surface, ErrorCodesAndTexts) {
  EXPECT_EQ(GraphicsErrorText(0), "No error");
  EXPECT_EQ(GraphicsErrorText(5), "Unknown error code");
  ShowGraphics(3);
  EXPECT_EQ(GraphicsResult(), -10);
  ShowGraphics(2);
  EXPECT_EQ(GraphicsResult(), 0);
  try {
    SetTextJustify(0, 3);
    FAIL() << "vertical justification 3 accepted";
  } catch (const GraphicsError& e) {
    EXPECT_STREQ(e.what(), "SetTextJustify: Invalid vertical justify value!");
  }
  EXPECT_THROW(SetTextJustify(3, 0), GraphicsError);
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

}  // namespace
}  // namespace svfit::console
