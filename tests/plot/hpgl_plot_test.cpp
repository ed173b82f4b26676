// The HPGL plot: page geometry, tick and label rules, the file and graph
// dialogues driven by scripted keys, and whole plots compared byte for byte
// with golden files under tests/testdata/hpgl (see the README there); the
// renderer of svfit-plot: what it reads, the page it makes, the pixels it
// draws of the golden plots.
//
// To rewrite the golden files after a deliberate change, run the test with
// SVFIT_WRITE_GOLDEN=1 and look at every changed plot (svfit-plot).
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "../scans/scan_fixture.h"

#include "console/crt.h"
#include "models/catalogue.h"
#include "models/model_pass.h"
#include "plot/hpgl_data.h"
#include "plot/hpgl_frame.h"
#include "plot/hpgl_render.h"

namespace svfit::plot {
namespace {

namespace fs = std::filesystem;
using scans::testing::Count;
using scans::testing::ReadFile;
using scans::testing::TempDir;

const std::string kGolden = SVFIT_SOURCE_DIR "/tests/testdata/hpgl/";
const std::string kEtxText(1, kEtx);

// The page, the residual band and panels, the rotated plot, the label glyphs
// and the ordinate numbers of each kind of plot are fixed by the golden plots;
// here the rules no golden plot reaches.
TEST(HpglAxes, RotatedOffsetTickSpacingAndLabelForms) {
  // A rotated pen-plotter plot 20 cm high: the top would be 8000; it stays at
  // 7720 and the Y offset, lowered by the excess, stays lowered for the next.
  PlotFileSettings s;
  s.rotate = true;
  s.height = 20;
  for (int plot = 1; plot <= 2; ++plot) {
    const PlotGeometry r = ComputeGeometry(s, PlotKind::kData, false);
    EXPECT_EQ((std::array{r.top, s.yOffset, r.bottom}), (std::array{7720, -280, 1220})) << plot;
  }
  // Steps and labels as on the screen (tests/plot/screen_plot_test.cpp), but
  // every k-th tick is numbered, k the least with fewer than 7k steps (8, 17
  // and 25 steps here); the RI-noise plots count data sets.
  for (const auto& [span, interval] : {std::pair{0.8, 2}, {1.75, 3}, {25.0, 4}})
    EXPECT_EQ(AbscissaTicksOf(6.0, span, 6300).interval, interval) << span;
  EXPECT_EQ(HpglAbscissaLabel(6.5, false), "6.5");
  EXPECT_EQ(HpglAbscissaLabel(20, true), "20");
  EXPECT_EQ(OrdinateLabel(0, 0.01, 2), "0.00");
}

TEST(HpglTexts, ScreenPositionsMapIntoTheFrameFromItsTop) {
  PlotFileSettings s;
  const PlotGeometry g = ComputeGeometry(s, PlotKind::kData, false);
  HpglOut out;
  // Near the top left of a 1024 x 768 screen: near the top left of the frame.
  WriteAdditionalTexts(out, g, {PlacedText{0, 0, 1024, 768, false, "Peak A"},
                                PlacedText{512, 768, 1024, 768, true, "_x\x03"}});
  EXPECT_NE(out.text().find("SP1;PA1550,6000;LBPeak A" + kEtxText), std::string::npos);
  EXPECT_NE(out.text().find("SP1;DI,0,1;PA4635,1500;LB_x" + kEtxText + "DI,1,0;"), std::string::npos);
}

// ---- The dialogue on a fitted model-C series ----------------------------------------------

const double kOmega2 = std::pow(M_PI * 50000.0 / 30.0, 2);  // ω² at 50000 rpm [rad²/s²]

// Model C, one component (0.8 OD, 4.4 S, base line 0.01 OD, meniscus 6.05 cm,
// D = 6e-7 cm²/s): `scans` scans of 80 points 0.01 cm apart from 6.0 cm,
// 1200 s apart, with a deterministic scatter of ±0.002 OD; fitCurve is the
// model. RI noise 0.01 sin(s), TI noise 0.005 cos(j/5) when asked for.
void MakeFit(AnalysisState& st, int scans, bool ri = false, bool ti = false) {
  st = AnalysisState{};
  st.modelLetter = 'C';
  st.paramCount = st.dParamIndex = 5;
  st.componentCount = 1;
  st.omega2First = kOmega2;
  st.param = {0, 0.8, 4.4e-13 * kOmega2, 0.01, 6.05, 6e-7};
  st.maxIterations = 200;
  st.fitDone = true;
  st.riNoiseOn = ri;
  st.tiNoiseOn = ti;
  st.directoryPath = "run/";
  st.scanCount = st.seqLast = scans;
  st.maxPointScan = 1;
  st.maxPointCount = 80;
  for (int k = 1; k <= scans; ++k) {
    st.scanSequence[k] = k;
    st.scanOmega2[k] = 1.0;
    st.scanRunTime[k] = st.scanTime[k] = 1200.0 * k;
    st.scanPointCount[k] = st.scanLastPoint[k] = 80;
    st.scanFirstPoint[k] = 1;
    if (ri) st.riNoise[k] = 0.01 * std::sin(k);
    const models::ScanModel model(st, k);
    for (int i = 1; i <= 80; ++i) {
      const double r = 6.0 + 0.01 * (i - 1);
      st.scanRadius[k][i] = r;
      if (ti) st.tiNoise[i] = 0.005 * std::cos(i / 5.0);
      st.pointScanCount[i] = scans;
      st.fitCurve[k][i] = model.value(r) + (ri ? st.riNoise[k] : 0) + (ti ? st.tiNoise[i] : 0);
      st.scanValue[k][i] = st.fitCurve[k][i] + 0.002 * std::sin(37.0 * i + k);
    }
  }
}

// A fixed distribution on the radii of scan 3: s* for a meniscus at 5.95 cm
// and t_mid = 3000 s (1.62 .. 14.25 S over the points 4 .. 70 shown), g(s*)
// two peaks, 0.05 at 4.4 S and 0.02 at 8 S, over a base line of -0.001.
void MakeDistribution(AnalysisState& st) {
  st.distExists = true;
  st.distMidScan = 3;
  st.distStart = 4;
  st.distEnd = st.distPointCount = 70;
  for (int i = 1; i <= 70; ++i) {
    const double s = st.distS[i] = 1e13 * std::log(st.scanRadius[3][i] / 5.95) / (kOmega2 * 3000);  // [S]
    st.distG[i] = 0.05 * std::exp(-std::pow((s - 4.4) / 0.8, 2)) + 0.02 * std::exp(-std::pow(s - 8, 2)) - 0.001;
  }
  const auto [lo, hi] = std::minmax_element(st.distG.begin() + 4, st.distG.begin() + 71);
  st.distMin = *lo;
  st.distMax = *hi;
}

class HpglDialogue : public ::testing::Test {
 protected:
  void SetUp() override { MakeFit(st, 6); }

  // Runs option Z on `keys`; the keys must all be used.
  PlotWritten Plot(const std::string& keys) {
    console::StartTestConsole(keys);
    PlotWritten w;
    EXPECT_NO_THROW(w = WriteHpglPlot(st, session));
    return w;
  }
  // The file part of the dialogue for a new file in the test directory.
  std::string NewFile(const std::string& name, const std::string& size = "\r\r", const std::string& device = "L") {
    return "N" + device + "\r\r" + dir + "\r" + name + "\r" + size;
  }
  static inline AnalysisState st;
  HpglSession session;
  TempDir tmp;
  const std::string dir = tmp.path();
};

TEST_F(HpglDialogue, FileNameAskedAgainNoFramePartsAndAppendedPlots) {
  // An empty name is asked again; a file that cannot be created is named
  // and the offsets and the name are asked again. N to every frame prompt
  // and to the name label leaves the header, the data drawing and the end.
  const std::string plain = "N" "N" "N" "C" "N" "\r\r\r" "NL\r\r" + dir + "\r" "\r" "no/such\r" "\r\r" + dir +
                            "\r" "data\r" "\r\r" "N" "\r" "N" "N" "NNNNN" "N";
  PlotWritten w = Plot(plain);
  ASSERT_TRUE(w.written);
  EXPECT_EQ(w.path, dir + "data.HGL");
  const std::string transcript = console::TestTranscript();
  EXPECT_EQ(Count(transcript, "File name without extender  :  "), 3);
  EXPECT_NE(transcript.find("the plot file " + dir + "no/such.HGL cannot be created"), std::string::npos);
  EXPECT_EQ(Count(transcript, "X-Offset     (5200)      0  : "), 2);
  std::string text = ReadFile(w.path);
  EXPECT_EQ(text.rfind("IN;DT" + kEtxText + ";DF;VS1;\nPW0.3;\nSI0.150,0.150;\nSP1;PA", 0), 0u);
  for (const char* absent : {"VS4", "LB", "DI", "PR"}) EXPECT_EQ(Count(text, absent), 0) << absent;
  EXPECT_TRUE(text.ends_with("PU;\nSD6,3;SP;DF;\n"));
  EXPECT_EQ(Count(text, "CI30;"), Count(text, "PA"));  // circles only: no curves were asked for
  // The next plot of the file stands above this one; appended, it asks
  // nothing about the file (its lone header: the plot-file session).
  EXPECT_EQ(session.file.yOffset, 6000 + 1500);
  w = Plot("N" "N" "N" "C" "N" "\r\r\r" "NL" "Y" "\r" "N" "N" "NNNNN" "N");
  text = ReadFile(w.path);
  EXPECT_NE(text.find("SP1;PA1500,9"), std::string::npos);  // 1500 units above the offset
  // A third plot into a new file: the old one is finished with "DF;" and the
  // new one starts at the foot of the page again.
  w = Plot("N" "N" "N" "C" "N" "\r\r\r" "NL" "N" "\r\r" + dir + "\rnext\r\r\rN" "\rNN" "NNNNN" "N");
  EXPECT_TRUE(ReadFile(dir + "data.HGL").ends_with("SP;DF;\nDF;"));
  EXPECT_EQ(session.file.plotCounter, 1);
  FinishPlotFile(session.file);
  const std::string next = ReadFile(dir + "next.HGL");
  EXPECT_EQ(next.substr(next.size() - 6), "\x1b%0A\x1b" "E");
  EXPECT_LT(std::stoi(next.substr(next.find("SP1;PA1500,") + 11)), 2000);
  FinishPlotFile(session.file);  // finished once only
  EXPECT_EQ(ReadFile(dir + "next.HGL"), next);
}

TEST_F(HpglDialogue, PensSmallSymbolsResidualPanelsAndTheExtension) {
  // Eight scans: pens 1..6, then 1 and 2 again. Radius 8: short strokes.
  MakeFit(st, 8);
  PlotWritten w = Plot("N" "N" "N" "C" "N" "\r\r\r" + NewFile("pens") + "N" "8\r" "N" "N" "NNNNN" "N");
  std::string text = ReadFile(w.path);
  std::string pens;
  for (auto p = text.find("SP"); p != std::string::npos; p = text.find("SP", p + 1)) pens += text[p + 2];
  EXPECT_EQ(pens.substr(0, 8), "12345612");
  EXPECT_EQ(Count(text, "CI"), 0);
  const auto from = text.find("SP1;PA") + 4, to = text.find(';', from);
  EXPECT_EQ(text.substr(to + 1, to - from + 1), "PD" + text.substr(from + 2, to - from - 2) + ";");

  // Residual panels of scans 1..40 with step 1: the step becomes 5, eight
  // panels, each with its zero line.
  MakeFit(st, 40);
  session = {};  // each plot into a file of its own
  // The abscissa legend emptied (Ctrl-Y) keeps its default; the ordinate's
  // edited to "res".
  w = Plot("N" "Y" "M" "S" "\r\r\r" + NewFile("panels") + "N" + "YYYY\x19\rYYY\x19res\r" + "N");
  text = ReadFile(w.path);
  EXPECT_NE(console::TestTranscript().find("Sequence of data files to draw (each 1. 2. n.) : 5"), std::string::npos);
  EXPECT_EQ(Count(text, "PU;SP1;PA1500,"), 8);
  EXPECT_EQ(session.options.residualMode, 'N');
  EXPECT_EQ(session.file.step, 1);
  EXPECT_EQ(Count(text, "DI,0,1;"), 3);  // "res", upwards
  EXPECT_NE(text.find("LB[" + kEtxText), std::string::npos);  // "radius [cm]"

  // One residual of 0.02 OD in a data range of 0.9 OD: 4 fits the band unit
  // b = H div 9, 8 would overflow it; the band labels show b in OD.
  MakeFit(st, 6);
  for (int k = 1; k <= 6; ++k)
    for (int i = 1; i <= 80; ++i) st.scanValue[k][i] = st.fitCurve[k][i];
  st.scanValue[6][80] += 0.02;
  session = {};
  w = Plot("N" "N" "N" "C" "Y" "C" "D" "\r\r\r" + NewFile("band") + "N" "\rNN" "NNNNN" "N");
  EXPECT_NE(console::TestTranscript().find("Extension of the residuals ref.to data :   4.00"), std::string::npos);
  text = ReadFile(w.path);
  const int h = 4500 - 4500 / 4, b = h / 9;
  double lo = 1e9, hi = -1e9;
  for (int k = 1; k <= 6; ++k)
    for (int i = 1; i <= 80; ++i) {
      lo = std::min(lo, st.scanValue[k][i]);
      hi = std::max(hi, st.scanValue[k][i]);
    }
  char label[32];
  std::snprintf(label, sizeof label, "LB+%.3f", b * (hi - lo) / h / 4);
  EXPECT_NE(text.find(label), std::string::npos) << label;
}

TEST_F(HpglDialogue, NoiseCurveKeepsItsZeroLineInTheFrame) {
  // A TI profile wholly above 0: the ordinate reaches down to 0, so that the
  // zero line is not drawn under the frame.
  MakeFit(st, 6, false, true);
  for (double& v : st.tiNoise) v += 0.03;
  const PlotWritten w = Plot("N" "NY" + NewFile("ti") + "N" "YYYY\rYYY\r" "Y");
  const HpglDrawing d = ParseHpgl(ReadFile(w.path));
  ASSERT_EQ(d.pages.size(), 1u);
  const auto& strokes = d.pages[0].strokes;
  const auto frame = std::find_if(strokes.begin(), strokes.end(),
                                  [](const HpglStroke& k) { return k.points.size() == 5; });
  ASSERT_NE(frame, strokes.end());
  const auto [lo, hi] = std::minmax({frame->points[0].y, frame->points[2].y});
  for (const HpglStroke& k : strokes)  // the ticks stand out by their length, 60
    for (const auto& pt : k.points) EXPECT_TRUE(pt.y >= lo - 60 && pt.y <= hi + 60) << pt.y;
}

// ---- Golden plots ---------------------------------------------------------------------------------

struct GoldenCase {
  const char* file;
  bool ri, ti, gradient, distribution;
  const char* keys;  // "@" stands for the test directory
};

class HpglGolden : public HpglDialogue, public ::testing::WithParamInterface<GoldenCase> {};

// Each golden plot, and what the renderer reads of it: one page, every label
// glyph by glyph, no unknown instruction; drawn as SVG and as PNG.
TEST_P(HpglGolden, MatchesByteForByteAndRenders) {
  const GoldenCase& c = GetParam();
  MakeFit(st, 6, c.ri, c.ti);
  if (c.distribution) MakeDistribution(st);
  st.display = DisplayFlags{};
  if (c.gradient) {
    st.display.concentration = false;
    st.display.gradient = true;
  }
  std::string keys = c.keys;
  keys.replace(keys.find('@'), 1, dir);
  const PlotWritten w = Plot(keys);
  ASSERT_TRUE(w.written);
  const std::string text = ReadFile(w.path);
  if (std::getenv("SVFIT_WRITE_GOLDEN")) std::ofstream(kGolden + c.file, std::ios::binary) << text;
  EXPECT_EQ(text, ReadFile(kGolden + c.file)) << c.file;
  const HpglDrawing d = ParseHpgl(text);
  ASSERT_EQ(d.pages.size(), 1u) << c.file;
  EXPECT_TRUE(d.unknown.empty()) << c.file;
  EXPECT_EQ(d.pages[0].labels.size(), Count(text, "LB")) << c.file;
  for (const char* extension : {".svg", ".png"}) {
    const std::string out = dir + "plot" + extension;
    ASSERT_EQ(RenderHpgl(d, out, extension[1] == 's' ? PlotFormat::kSvg : PlotFormat::kPng, {},
                         nullptr).size(), 1u) << out;
    EXPECT_GT(fs::file_size(out), 1000u) << out;
  }
}

// Keys: slide bold, the graph options, first/last/step, pencil bold and
// device, offsets, directory, name, width, height, rotation, the data
// drawing's questions, the frame parts, the name label.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Plots, HpglGolden, ::testing::Values(
    // Circles, fitted curves, the residual band as circles with the default extension.
    GoldenCase{"band.HGL", false, false, false, false,
               "N" "NNCYCD" "\r\r\r" "NL\r\r@\rband\r\r\rN" "\rNY" "YYYY\rYYY\r" "Y"},
    // Gradient curves only (option C) with pencil bold text.
    GoldenCase{"gradient.HGL", false, false, true, false,
               "N" "NNCN" "\r\r\r" "BL\r\r@\rgradient\r\r\rN" "YYYY\rYYY\r" "Y"},
    // Residual panels, extreme resolution, sprocket lines.
    GoldenCase{"panels.HGL", false, false, false, false,
               "N" "YES" "\r\r\r" "NL\r\r@\rpanels\r\r\rN" "YYYY\rYYY\r" "Y"},
    // RI noise alone, 9 cm high by default.
    GoldenCase{"ri.HGL", true, false, false, false, "N" "NY" "NL\r\r@\rri\r\r\rN" "YYYY\rYYY\r" "Y"},
    // TI noise alone.
    GoldenCase{"ti.HGL", false, true, false, false, "N" "NY" "NL\r\r@\rti\r\r\rN" "YYYY\rYYY\r" "Y"},
    // Pen plotter, turned by 90 degrees, 20 cm high; bold text for slides;
    // original points spread apart, a different symbol per scan; no name label.
    GoldenCase{"rotated.HGL", true, false, false, false,
               "Y" "NNYODN" "\r\r\r" "NP\r\r@\rrotated\r\r20\rY" "\r" "YYYY\rYYY\r" "N"},
    // The distribution g(s*) of MakeDistribution: no scans to choose.
    GoldenCase{"distribution.HGL", false, false, false, true,
               "N" "NY" "NL\r\r@\rdistribution\r\r\rN" "YYYY\rYYY\r" "Y"}));
// clang-format on

// ---- The renderer ------------------------------------------------------------------------

TEST(HpglReading, PenStatesLabelsRotationPagesAndUnknownInstructions) {
  // The frame as the plots write it: one closed stroke of five points.
  HpglDrawing d =
      ParseHpgl("IN;VS4;PW0.5;SP1;PA1500,1500;PR PD6300,0;PR 0,4500;PR-6300,0;PR 0,-4500;PU;");
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
  d = ParseHpgl("DT\x03;SI0.4,0.5;SD6,4;PA10,20;LB7\x03PA0,0;DI,0,1;LBab\x03"
                "DI,1,0;DT*;PA5,5;LBx;y*");
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
  d = ParseHpgl("IN;DT\x03;DF;VS1;SP1;PA0,0;PD10,0;SP;DF;VS1;XX1,2;XX;SP1;PA0,0;PD0,10;SP;DF;"
                "\x1b%0A\x1b" "E");
  EXPECT_EQ(d.pages.size(), 2u);
  EXPECT_EQ(d.unknown, std::vector<std::string>{"XX"});
  EXPECT_EQ(d.escapes, 2);
}

// The colour (0xRRGGBB) of the pixel of a rendered PNG under the plot point (x, y).
std::uint32_t PixelAt(cairo_surface_t* png, const PageBox& box, double k, double x, double y) {
  const HpglPoint p = DevicePoint(box, k, x, y);
  const auto* row = cairo_image_surface_get_data(png) +
                    static_cast<int>(p.y) * cairo_image_surface_get_stride(png);
  return reinterpret_cast<const std::uint32_t*>(row)[static_cast<int>(p.x)] & 0xFFFFFF;
}

// A pixel is the colour (r, g, b in 0..1) within the rounding of 8 bits.
bool IsColour(std::uint32_t pixel, double r, double g, double b) {
  auto near = [](std::uint32_t v, double c) {
    return std::abs(static_cast<int>(v) - static_cast<int>(c * 255)) <= 2;
  };
  return near(pixel >> 16 & 255, r) && near(pixel >> 8 & 255, g) && near(pixel & 255, b);
}

TEST(HpglRendering, PageSizeAndPixelsOfALineAndOfTheRotatedGoldenPlot) {
  TempDir tmp;
  const std::string dir = tmp.path();
  // A 4000 x 2000 unit angle with a 0.35 mm pen (14 units): the page is the
  // drawing and 1 cm (400 units) around it.
  HpglDrawing d = ParseHpgl("IN;SP1;PA0,0;PD4000,0,4000,2000;PU;");
  PageBox box = PageBoxOf(d.pages[0]);
  EXPECT_DOUBLE_EQ(box.x0, -414);
  EXPECT_DOUBLE_EQ(box.width, 4028 + 800);
  EXPECT_DOUBLE_EQ(box.height, 2028 + 800);
  ASSERT_EQ(RenderHpgl(d, dir + "a.pdf", PlotFormat::kPdf, {}, nullptr).size(), 1u);
  const std::string pdf = ReadFile(dir + "a.pdf");
  const auto media = pdf.find("/MediaBox [ 0 0 ");
  ASSERT_NE(media, std::string::npos);
  double w = 0, h = 0;
  std::istringstream(pdf.substr(media + 16, 40)) >> w >> h;
  EXPECT_NEAR(w, box.width * 72 / 1016, 0.01);  // points
  EXPECT_NEAR(h, box.height * 72 / 1016, 0.01);
  ASSERT_EQ(RenderHpgl(d, dir + "a.png", PlotFormat::kPng, {.dpi = 100}, nullptr).size(), 1u);
  cairo_surface_t* png = cairo_image_surface_create_from_png((dir + "a.png").c_str());
  EXPECT_EQ(cairo_image_surface_get_width(png),
            static_cast<int>(std::ceil(box.width * 100 / 1016)));
  double k = DeviceScale(box, PlotFormat::kPng, {.dpi = 100});
  EXPECT_EQ(PixelAt(png, box, k, 2000, 0), 0x000000u);  // on the line
  EXPECT_EQ(PixelAt(png, box, k, 4000, 1000), 0x000000u);
  EXPECT_EQ(PixelAt(png, box, k, 2000, 1000), 0xFFFFFFu);  // inside the angle
  cairo_surface_destroy(png);

  // The rotated golden plot: the frame corners black, a filled data point in
  // the colour of its pen.
  d = ParseHpgl(ReadFile(kGolden + "rotated.HGL"));
  ASSERT_EQ(RenderHpgl(d, dir + "plot.png", PlotFormat::kPng, {}, nullptr).size(), 1u);
  const HpglPage& page = d.pages[0];
  box = PageBoxOf(page);
  k = DeviceScale(box, PlotFormat::kPng, {});
  png = cairo_image_surface_create_from_png((dir + "plot.png").c_str());
  // The frame: the widest closed stroke of pen 1, black at its corners
  // (anti-aliasing may lighten a corner pixel a little).
  const HpglStroke* frame = nullptr;
  for (const HpglStroke& s : page.strokes)
    if (s.pen == 1 && s.points.size() == 5 &&
        (!frame || std::fabs(s.points[2].y - s.points[0].y) >
                       std::fabs(frame->points[2].y - frame->points[0].y)))
      frame = &s;
  ASSERT_NE(frame, nullptr);
  for (const HpglPoint& c : frame->points) EXPECT_LT(PixelAt(png, box, k, c.x, c.y) & 0xFF, 0x40u);
  // The last point of the sixth scan, a filled circle of pen 6 (orange).
  const auto dot = std::find_if(page.circles.rbegin(), page.circles.rend(),
                                [](const HpglCircle& c) { return c.filled; });
  ASSERT_NE(dot, page.circles.rend());
  EXPECT_EQ(dot->pen, 6);
  EXPECT_TRUE(IsColour(PixelAt(png, box, k, dot->centre.x, dot->centre.y), 0.9, 0.5, 0));
  cairo_surface_destroy(png);
}

}  // namespace
}  // namespace svfit::plot
