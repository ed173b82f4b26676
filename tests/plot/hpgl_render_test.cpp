// The HPGL renderer: what it reads from the instructions, the page it makes,
// the pixels of the golden plots, and arbitrary bytes.
#include "plot/hpgl_render.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace svfit::plot {
namespace {

namespace fs = std::filesystem;

const std::string kGolden = SVFIT_SOURCE_DIR "/tests/testdata/hpgl/";

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class Render : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "svfit-render-XXXXXX").string();
    dir = std::string(::mkdtemp(pattern.data())) + "/";
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string dir;
};

TEST(HpglReading, PenStatesLabelsRotationPagesAndUnknownInstructions) {
  // The frame as the plots write it: one closed stroke of five points.
  HpglDrawing d = ParseHpgl("IN;VS4;PW0.5;SP1;PA1500,1500;PR PD6300,0;PR 0,4500;PR-6300,0;PR 0,-4500;PU;");
  ASSERT_EQ(d.pages.size(), 1u);
  ASSERT_EQ(d.pages[0].strokes.size(), 1u);
  const HpglStroke& frame = d.pages[0].strokes[0];
  ASSERT_EQ(frame.points.size(), 5u);
  EXPECT_EQ((std::pair(frame.points[2].x, frame.points[2].y)), (std::pair(7800.0, 6000.0)));
  EXPECT_DOUBLE_EQ(frame.widthMm, 0.5);
  // Ticks: "PA PD" starts a stroke from the pen position; pen 0 draws nothing.
  d = ParseHpgl("SP2;PA100,100;PA PD100,40;PU;PA200,100;PA PD200,40;PU;SP0;PA0,0;PD50,50;PU;"
                "SP1;PA10,10;CI30;WG10,0,360;PA0,0;ER20,10;");
  ASSERT_EQ(d.pages[0].strokes.size(), 3u);
  EXPECT_EQ(d.pages[0].strokes[0].pen, 2);
  ASSERT_EQ(d.pages[0].circles.size(), 2u);
  EXPECT_FALSE(d.pages[0].circles[0].filled);
  EXPECT_TRUE(d.pages[0].circles[1].filled);
  EXPECT_EQ(d.pages[0].strokes[2].points.size(), 5u);  // the rectangle
  // Labels: glyph by glyph with ETX, upwards after DI,0,1, another
  // terminator after DT, size from SI, bold from stroke weight 4.
  d = ParseHpgl("DT\x03;SI0.4,0.5;SD6,4;PA10,20;LB7\x03PA0,0;DI,0,1;LBab\x03" "DI,1,0;DT*;PA5,5;LBx;y*");
  const auto& labels = d.pages[0].labels;
  ASSERT_EQ(labels.size(), 3u);
  EXPECT_EQ(labels[0].text, "7");
  EXPECT_DOUBLE_EQ(labels[0].widthCm, 0.4);
  EXPECT_TRUE(labels[0].bold);
  EXPECT_DOUBLE_EQ(labels[1].angle, 90);
  EXPECT_EQ(labels[2].text, "x;y");
  // RO90 turns the page: x of the plot runs up the page.
  d = ParseHpgl("IN;RO90;SP1;PA1000,0;PD1000,500;");
  EXPECT_EQ((std::pair(d.pages[0].strokes[0].points[1].x, d.pages[0].strokes[0].points[1].y)),
            (std::pair(-500.0, 1000.0)));
  // Plots appended in one file are pages; the end escape sequences and an
  // unknown instruction are skipped, the unknown one named once.
  d = ParseHpgl("IN;DT\x03;DF;VS1;SP1;PA0,0;PD10,0;SP;DF;VS1;XX1,2;XX;SP1;PA0,0;PD0,10;SP;DF;\x1b%0A\x1b" "E");
  EXPECT_EQ(d.pages.size(), 2u);
  EXPECT_EQ(d.unknown, std::vector<std::string>{"XX"});
  EXPECT_EQ(d.escapes, 2);
}

TEST_F(Render, PageSizeAndPixels) {
  // A 4000 x 2000 unit angle with a 0.35 mm pen (14 units): the page is the
  // drawing and 1 cm (400 units) around it.
  const HpglDrawing d = ParseHpgl("IN;SP1;PA0,0;PD4000,0,4000,2000;PU;");
  const PageBox box = PageBoxOf(d.pages[0]);
  EXPECT_DOUBLE_EQ(box.x0, -414);
  EXPECT_DOUBLE_EQ(box.width, 4028 + 800);
  EXPECT_DOUBLE_EQ(box.height, 2028 + 800);
  ASSERT_EQ(RenderHpgl(d, dir + "a.pdf", PlotFormat::kPdf, {}, nullptr).size(), 1u);
  const std::string pdf = Read(dir + "a.pdf");
  const auto media = pdf.find("/MediaBox [ 0 0 ");
  ASSERT_NE(media, std::string::npos);
  double w = 0, h = 0;
  std::istringstream(pdf.substr(media + 16, 40)) >> w >> h;
  EXPECT_NEAR(w, box.width * 72 / 1016, 0.01);  // points
  EXPECT_NEAR(h, box.height * 72 / 1016, 0.01);
  ASSERT_EQ(RenderHpgl(d, dir + "a.png", PlotFormat::kPng, {.dpi = 100}, nullptr).size(), 1u);
  cairo_surface_t* png = cairo_image_surface_create_from_png((dir + "a.png").c_str());
  EXPECT_EQ(cairo_image_surface_get_width(png), static_cast<int>(std::ceil(box.width * 100 / 1016)));
  const double k = DeviceScale(box, PlotFormat::kPng, {.dpi = 100});
  auto pixel = [&](double x, double y) {
    const HpglPoint p = DevicePoint(box, k, x, y);
    const auto* row = cairo_image_surface_get_data(png) + static_cast<int>(p.y) * cairo_image_surface_get_stride(png);
    return reinterpret_cast<const std::uint32_t*>(row)[static_cast<int>(p.x)] & 0xFFFFFF;
  };
  EXPECT_EQ(pixel(2000, 0), 0x000000u);     // on the line
  EXPECT_EQ(pixel(4000, 1000), 0x000000u);
  EXPECT_EQ(pixel(2000, 1000), 0xFFFFFFu);  // inside the angle
  cairo_surface_destroy(png);
}

// A pixel is the colour (r, g, b in 0..1) within the rounding of 8 bits.
bool IsColour(std::uint32_t pixel, double r, double g, double b) {
  auto near = [](std::uint32_t v, double c) { return std::abs(static_cast<int>(v) - static_cast<int>(c * 255)) <= 2; };
  return near(pixel >> 16 & 255, r) && near(pixel >> 8 & 255, g) && near(pixel & 255, b);
}

// Every golden plot renders to SVG and PNG; in the data plot the frame
// corners are black and a filled data point has the colour of its pen.
TEST_F(Render, GoldenPlots) {
  int rendered = 0;
  for (const char* name : {"band", "gradient", "panels", "ri", "ti", "rotated", "distribution"}) {
    const std::string text = Read(kGolden + name + ".HGL");
    ASSERT_FALSE(text.empty()) << name;
    const HpglDrawing d = ParseHpgl(text);
    ASSERT_EQ(d.pages.size(), 1u) << name;
    EXPECT_TRUE(d.unknown.empty()) << name;
    // Every label of the file is read, glyph by glyph.
    std::size_t lb = 0;
    for (auto p = text.find("LB"); p != std::string::npos; p = text.find("LB", p + 1)) ++lb;
    EXPECT_EQ(d.pages[0].labels.size(), lb) << name;
    for (PlotFormat f : {PlotFormat::kSvg, PlotFormat::kPng}) {
      const std::string out = dir + name + (f == PlotFormat::kSvg ? ".svg" : ".png");
      ASSERT_EQ(RenderHpgl(d, out, f, {}, nullptr).size(), 1u) << out;
      EXPECT_GT(fs::file_size(out), 1000u) << out;
      ++rendered;
    }
  }
  EXPECT_EQ(rendered, 14);
  for (const char* name : {"band", "rotated"}) {
    const HpglDrawing d = ParseHpgl(Read(kGolden + name + ".HGL"));
    const HpglPage& page = d.pages[0];
    const PageBox box = PageBoxOf(page);
    const double k = DeviceScale(box, PlotFormat::kPng, {});
    cairo_surface_t* png = cairo_image_surface_create_from_png((dir + name + ".png").c_str());
    auto pixel = [&](HpglPoint at) {
      const HpglPoint p = DevicePoint(box, k, at.x, at.y);
      const auto* row = cairo_image_surface_get_data(png) + std::lround(p.y) * cairo_image_surface_get_stride(png);
      return reinterpret_cast<const std::uint32_t*>(row)[std::lround(p.x)] & 0xFFFFFF;
    };
    // The frame: the widest closed stroke of pen 1, black at its corners
    // (anti-aliasing may lighten a corner pixel a little).
    const HpglStroke* frame = nullptr;
    for (const HpglStroke& s : page.strokes)
      if (s.pen == 1 && s.points.size() == 5 &&
          (!frame || std::fabs(s.points[2].y - s.points[0].y) > std::fabs(frame->points[2].y - frame->points[0].y)))
        frame = &s;
    ASSERT_NE(frame, nullptr) << name;
    for (const HpglPoint& corner : frame->points) EXPECT_LT(pixel(corner) & 0xFF, 0x40u) << name;
    if (std::string(name) == "band") {
      EXPECT_EQ(frame->points[0].x, 1500);
      EXPECT_EQ(frame->points[2].y, 6000);
    } else {
      // The last point of the sixth scan, a filled circle of pen 6 (orange).
      const auto dot = std::find_if(page.circles.rbegin(), page.circles.rend(),
                                    [](const HpglCircle& c) { return c.filled; });
      ASSERT_NE(dot, page.circles.rend());
      EXPECT_EQ(dot->pen, 6);
      EXPECT_TRUE(IsColour(pixel(dot->centre), 0.9, 0.5, 0));
    }
    cairo_surface_destroy(png);
  }
}

TEST_F(Render, ArbitraryBytesNeverCrashIt) {
  std::mt19937 rng(20240501);
  const std::string golden = Read(kGolden + "band.HGL");
  const std::string alphabet = "PAPDPUPRSPCIWGLBDIDTSIERROINDF0123456789,;.- -\x03\x1b%";
  for (int round = 0; round < 300; ++round) {
    std::string text;
    if (round % 3 == 0) {  // the golden file with bytes changed
      text = golden.substr(0, 4000);
      for (int n = 0; n < 50; ++n) text[rng() % text.size()] = static_cast<char>(rng());
    } else {
      for (int n = rng() % 400; n > 0; --n)
        text += round % 3 == 1 ? static_cast<char>(rng()) : alphabet[rng() % alphabet.size()];
    }
    text += "PA9999999999,-9e99;PD1e308,5;CI-1e9;SI1e9,1e9;LB" + std::string(3, 'W');
    const HpglDrawing d = ParseHpgl(text);
    for (const HpglPage& p : d.pages) ASSERT_TRUE(std::isfinite(p.minX) && std::isfinite(p.maxY));
    if (round % 50 == 0 && !d.pages.empty()) {
      EXPECT_FALSE(RenderHpgl(d, dir + "f.png", PlotFormat::kPng, {}, nullptr).empty());
    }
  }
}

}  // namespace
}  // namespace svfit::plot
