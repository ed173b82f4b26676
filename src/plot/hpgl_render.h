// A renderer for the HPGL files the program writes: the instructions are
// read into pages of strokes, circles and labels, which cairo draws as PDF
// (all pages in one file), SVG or PNG (one file per page).
//
//   HpglDrawing d = ParseHpgl(text);
//   std::string error;
//   RenderHpgl(d, "data.pdf", PlotFormat::kPdf, {}, &error);
//
// Understood: IN, DF, DT, SP, PA, PR, PU, PD, PW, VS, SI, SD, DI, LB, CI, WG,
// ER, RO and the printer-language escape sequences (skipped). Any other
// instruction is skipped with its parameters and named in `unknown`.
// Coordinates are kept in plotter units (400 per cm) on the page, y upwards,
// after the rotation of RO.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace svfit::plot {

struct HpglPoint {
  double x = 0, y = 0;
};
struct HpglStroke {  // a polyline drawn with the pen down
  std::vector<HpglPoint> points;
  int pen = 1;
  double widthMm = 0.35;
};
struct HpglCircle {  // CI: an outline; WG: a filled wedge
  HpglPoint centre;
  double radius = 0;            // [plotter units]
  double start = 0, sweep = 360;  // [degrees], counterclockwise from the page's x axis
  bool filled = false;
  int pen = 1;
  double widthMm = 0.35;
};
struct HpglLabel {
  HpglPoint at;                 // start of the baseline
  std::string text;             // Latin-1
  double widthCm = 0.187, heightCm = 0.269;  // character size (SI)
  double angle = 0;             // direction of the baseline [degrees]
  int pen = 1;
  bool bold = false;            // stroke weight 4 or more (SD6,4)
};
struct HpglPage {
  std::vector<HpglStroke> strokes;
  std::vector<HpglCircle> circles;
  std::vector<HpglLabel> labels;
  double minX = 0, minY = 0, maxX = 0, maxY = 0;  // extent of everything drawn
  bool empty() const { return strokes.empty() && circles.empty() && labels.empty(); }
};
// A page ends where IN or DF follows something drawn (the end of a plot).
struct HpglDrawing {
  std::vector<HpglPage> pages;       // pages with something drawn
  std::vector<std::string> unknown;  // instructions skipped, each named once
  int escapes = 0;                   // escape sequences skipped
};
HpglDrawing ParseHpgl(std::string_view text);

// The page: the extent of the drawing with 1 cm (400 units) around it.
struct PageBox {
  double x0 = 0, y0 = 0, width = 0, height = 0;  // [plotter units]
};
PageBox PageBoxOf(const HpglPage& page);

enum class PlotFormat { kPdf, kSvg, kPng };
// The format named by the extension of a path (.pdf, .svg, .png, any case).
std::optional<PlotFormat> FormatOfPath(const std::string& path);

struct RenderOptions {
  bool black = false;  // every pen black instead of a colour per pen
  double dpi = 150;    // PNG resolution [pixels per inch]
};
// Device units per plotter unit of a page: points for PDF and SVG, pixels for
// PNG. Very large pages are scaled down to what the formats and memory allow.
double DeviceScale(const PageBox& box, PlotFormat format, const RenderOptions& options);
// Where the plotter point (x, y) lands on the page in device units (y down).
HpglPoint DevicePoint(const PageBox& box, double scale, double x, double y);

// The files of `pages` pages: `path` for the first, then path with "-2",
// "-3", ... before the extension (PDF: `path` alone).
std::vector<std::string> OutputPaths(const std::string& path, PlotFormat format, std::size_t pages);

// Renders every page; returns the files written. An empty drawing or a file
// that cannot be written gives an empty list and a message in `error`.
std::vector<std::string> RenderHpgl(const HpglDrawing& drawing, const std::string& path,
                                    PlotFormat format, const RenderOptions& options,
                                    std::string* error);

// The last plot of an HPGL file as a PNG (svfit --png). False, with a
// message, when the file holds no drawing or the PNG cannot be written.
bool RenderLastPlotPng(const std::string& hpglPath, const std::string& pngPath, std::string* error);

}  // namespace svfit::plot
