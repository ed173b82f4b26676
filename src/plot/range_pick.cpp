// The radial-range pick of the loader in the graph viewer (see range_pick.h).
//
// The viewer writes what the crosshair marks straight into the analysis
// state: A the start radius, E the end radius (at most 7.3 cm), the
// near-bottom radius and the bottom mark (the radius itself), M the meniscus
// mark. Here those fields are saved before the picking, read back into a
// RadialPick afterwards and restored, so a file the loader then drops leaves
// the series range as it was.
//
// The picture keeps the picked range: after the picking the meniscus, start,
// end and bottom are drawn as labelled vertical lines before the surface is
// hidden, so the last picture of each pick (and its PNG with --png) shows
// what was chosen.
#include "plot/range_pick.h"

#include <string>

#include "console/crt.h"
#include "console/graph.h"
#include "plot/screen_plot.h"
#include "plot/viewer.h"

namespace svfit::plot {
namespace {

namespace gr = svfit::console;

constexpr double kNarrowest = 0.05;  // [cm] a narrower range is no range (as the loader's rule)

struct Marks {
  double start, end, nearBottom, meniscus, bottom;  // [cm]
};

Marks SaveMarks(const AnalysisState& st) {
  return {st.startRadius, st.endRadius, st.nearBottomRadius, st.meniscusMarked, st.bottomMarked};
}

void RestoreMarks(AnalysisState& st, const Marks& m) {
  st.startRadius = m.start;
  st.endRadius = m.end;
  st.nearBottomRadius = m.nearBottom;
  st.meniscusMarked = m.meniscus;
  st.bottomMarked = m.bottom;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A caption in the top left corner of the data area, where a sedimentation
// profile has no points (low values near the meniscus).
void Caption(const AxisScale& sc, const std::string& text) {
  UseMenuFont();
  gr::SetTextJustify(0, 2);
  gr::SetDrawColor(gr::kLightGray);
  gr::DrawTextAt(sc.left + 8, sc.dataTop + 4, text);
  gr::SetDrawColor(gr::kWhite);
}

// One-by-one loading: the file just read (stored as `scan`, not yet counted),
// with the 3000 rpm profile of the run in the same scale when one was read.
AxisScale DrawFile(const AnalysisState& st, int scan) {
  const AxisScale sc =
      DrawProfilePlot(st.scanRadius[scan], st.scanValue[scan], 1, st.scanPointCount[scan]);
  std::string caption = BaseName(st.currentFileName) + "   scan " + std::to_string(scan);
  if (st.profile3000Count > 1) {
    AddProfile(sc, st.profile3000Radius.data(), st.profile3000Value.data(), 1, st.profile3000Count);
    caption += "   with the 3000 rpm profile";
  }
  Caption(sc, caption);
  return sc;
}

// Simultaneous loading: every loaded scan.
AxisScale DrawSeries(AnalysisState& st) {
  const AxisScale sc = DrawSeriesPlot(st);
  Caption(sc, st.dataFileNote + "   " + std::to_string(st.scanCount) + " scans");
  return sc;
}

// A labelled vertical line at radius r, when r lies inside the picture. The
// label stands on text row `row` under the caption, on the preferred side of
// the line when there is room.
void MarkLine(const AxisScale& sc, double r, int colour, const std::string& label, int row, bool preferLeft) {
  const int x = sc.XPixel(r);
  const int right = sc.left + sc.width;
  if (x <= sc.left || x >= right) return;
  UseMenuFont();
  gr::SetDrawColor(colour);
  gr::SetLine(3, 0, 1);  // dashed: the data points stay readable
  gr::DrawLine(x, sc.dataTop + 4 + gr::FontHeight(), x, sc.dataBottom);  // under the caption
  gr::SetLine(0, 0, 1);
  const int w = gr::TextWidth(label);
  const bool left = preferLeft ? x - 4 - w > sc.left + 2 : x + 4 + w >= right - 2;
  gr::SetTextJustify(left ? 2 : 0, 2);
  gr::DrawTextAt(left ? x - 4 : x + 4, sc.dataTop + 4 + row * gr::FontHeight(), label);
  gr::SetTextJustify(0, 2);
}

void DrawPick(const AxisScale& sc, const RadialPick& p) {
  if (p.meniscus != p.start) MarkLine(sc, p.meniscus, gr::kLightMagenta, "meniscus", 1, true);
  MarkLine(sc, p.start, gr::kLightGreen, "start", 2, false);
  MarkLine(sc, p.end, gr::kLightRed, "end", 1, true);
  if (p.bottom != p.end) MarkLine(sc, p.bottom, gr::kLightRed, "bottom", 2, false);
  gr::SetDrawColor(gr::kWhite);
}

}  // namespace

void ShowScanProfile(AnalysisState& st, int scan) {
  DrawProfilePlot(st.scanRadius[scan], st.scanValue[scan], 1, st.scanPointCount[scan]);
  gr::PresentGraphics();
}

RadialPick PickFromMarks(const AnalysisState& st) {
  RadialPick p;
  p.start = st.startRadius;
  p.end = st.endRadius;
  p.meniscus = st.meniscusMarked > kMarkSet ? st.meniscusMarked : p.start;
  p.bottom = st.bottomMarked > kMarkSet ? st.bottomMarked : p.end;
  return p;
}

RadialPick PickRangeInViewer(AnalysisState& st, int scan) {
  if (!gr::GraphicsOpen()) return scans::PickRadialRange(st, scan);
  const Marks before = SaveMarks(st);
  RadialPick pick;
  for (;;) {
    const AxisScale sc = scan > 0 ? DrawFile(st, scan) : DrawSeries(st);
    GraphViewer(st, {'N'}, sc);
    pick = PickFromMarks(st);
    DrawPick(sc, pick);
    gr::HideGraphics();
    // One file at a time the loader judges the range (a collapsed range ends
    // the loading); for the whole series there is nothing else to do but ask
    // again, from the marks as they were, so that Enter alone then keeps the
    // range of the first file.
    const bool narrowBefore = before.end - before.start < kNarrowest;
    if (scan > 0 || narrowBefore) break;
    const bool wide = pick.end - pick.start >= kNarrowest;
    // A range that holds too few points of the first scan would be no cut at
    // all: the loader keeps such scans whole.
    const bool enough =
        st.scanCount < 1 || scans::PointsInPick(st, 1, pick) >= scans::kMinScanPoints;
    if (wide && enough) break;
    gr::SetTextColor(gr::kLightMagenta);
    gr::WriteLn(wide ? "fewer than " + std::to_string(scans::kMinScanPoints) +
                           " data points in the range: pick the range again"
                     : "start and end radius less than 0.05 cm apart: pick the range again");
    gr::SetTextColor(gr::kWhite);
    RestoreMarks(st, before);
  }
  RestoreMarks(st, before);
  return pick;
}

}  // namespace svfit::plot
