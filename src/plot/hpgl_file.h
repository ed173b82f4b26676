// HPGL plot files: the settings kept for the program run, the page geometry
// in plotter units, the instruction text of one plot, and the file dialogue.
//
// A plot is built as text in an HpglOut and written to its file once, at the
// end of the plot dialogue; several plots may go into one file (appended),
// which then stays open until the program ends and gets the plotter's reset
// sequence. Plotter units: 400 per cm (0.025 mm); every coordinate written is
// an integer.
//
//   PlotFileSettings s;                  // once per program run
//   OpenedPlot p = OpenPlotFile(st, s, PlotKind::kData, residualsBelow);
//   HpglOut out(s.boldText);  out.Put(p.header);  ... drawing ...
//   out.Put(PlotTrailer(...));  WritePlotText(s, p, out.text());
//   ...                                  // at program end:
//   FinishPlotFile(s);
#pragma once

#include <string>
#include <string_view>

#include "state/state.h"

namespace svfit::plot {

inline constexpr char kEtx = '\x03';  // the label terminator set in every file header

// What a plot shows: the data (with fits, gradients, residual band), residual
// panels only, one noise curve only, or the distribution g(s*) only.
enum class PlotKind { kData, kResidualOnly, kTiNoise, kRiNoise, kDistribution };

// Plot file settings, kept for the whole program run.
struct PlotFileSettings {
  int plotCounter = 0;             // plot dialogues run; above 1 appending is offered
  int xOffset = 0;                 // origin shift to the right [plotter units]
  int yOffset = 0;                 // origin shift upwards [plotter units]; may turn negative
  double width = 20;               // width of the graph [cm]
  double height = 15;              // height of the graph [cm]
  bool boldText = false;           // pencil-plotter bold: every label glyph written 4 times
  bool slideBold = false;          // bold text for slides: wider pens, heavier label strokes
  char device = 'L';               // 'P' pen plotter, 'L' laser printer
  bool rotate = false;             // a pen-plotter plot turned by 90 degrees
  int first = 0, last = 0;         // scan sequence positions drawn (0: not chosen yet)
  int step = 1;                    // every step-th position from first to last
  std::string path;                // directory + name + ".HGL" of the current file; "" none
  std::string name;                // the file name as typed (for the file-name label)
  bool open = false;               // plots were written and the file is not finished
};

// The page of one plot in plotter units (integers truncated toward zero).
struct PlotGeometry {
  double width = 20, height = 15;  // graph size [cm]
  int left = 1500, right = 7800;   // frame edges x
  int bottom = 1500, top = 6000;   // frame edges y
  int plotWidth = 6300;            // W = right - left
  double textFactor = 1.25;        // f = 1.25 (15/height)^(1/4); 1.125 for residual panels
  int advance = 210;               // glyph advance a = trunc(10 width + 10)
  int narrow = 130;                // narrow advance n = trunc(6 width + 10): "." and the glyph before
  int tick = 60;                   // tick length t = trunc(3 width)
  int numberBaseline = 1223;       // baseline of the abscissa numbers
  int dataHeight = 4200;           // H: data area height
  int bandBase = 1620;             // lower edge of the residual band, bottom + trunc(8 height)
};

// The geometry of the settings' offsets and size. A rotated pen-plotter plot
// whose top would reach 7721 or more keeps its top at 7720: the Y offset of
// the settings is lowered by the excess and stays lowered for later plots.
// residualsBelow: a residual band is drawn under the data (H = D - D div 4).
PlotGeometry ComputeGeometry(PlotFileSettings& s, PlotKind kind, bool residualsBelow);
// Residual panels: with k < 9 panels the top is lowered so that each keeps
// the height it would have among nine.
void LowerTopForPanels(PlotGeometry& g, int panels);

// The instruction text of one plot. Numbers are plain integers; a label is
// written glyph by glyph ("PA x,y;LB" glyph ETX), four times at (x + 6i,
// y - 6j), i, j in 0..1, when pencil-plotter bold is on.
class HpglOut {
 public:
  explicit HpglOut(bool bold = false) : bold_(bold) {}
  void Put(std::string_view s) { text_ += s; }
  void Line() { text_ += '\n'; }  // a line break between instructions, for people reading the file
  void MoveTo(long x, long y);    // "PA x,y;"
  void DrawTo(long x, long y);    // "PD x,y;"
  void Pen(int pen);              // "SP p;"
  // "SI w,h;": character width and height in cm, 3 decimals.
  void TextSize(double widthCm, double heightCm);
  void Glyph(long x, long y, char glyph);
  // A label from (x, y) to the right: a glyph advances by `advance`, a "."
  // and the glyph before it by `narrow`.
  void Label(long x, long y, std::string_view text, int advance, int narrow);
  // The width Label gives `text`.
  static long LabelWidth(std::string_view text, int advance, int narrow);
  const std::string& text() const { return text_; }
  bool bold() const { return bold_; }

 private:
  bool bold_;
  std::string text_;
};

// A number of an instruction in cm: 3 decimals ("0.187").
std::string CmText(double cm);

// The file dialogue; see hpgl_file.cpp for the prompts. Returns the header
// (for a new file "IN;", "RO90;" when asked, "DT" ETX ";DF;"; always "VS1;")
// and the geometry; a new file has been created (empty) at `s.path`.
struct OpenedPlot {
  std::string header;
  PlotGeometry geometry;
  bool appended = false;  // the plot goes on the end of the file of the last plot
};
OpenedPlot OpenPlotFile(const AnalysisState& st, PlotFileSettings& s, PlotKind kind,
                        bool residualsBelow);

// The end of a plot: with the file-name label (SI0.187,0.269; and "LB "
// directory, name, suffix 450 units right of and 150 above the plot's
// origin) when asked, then "SP;DF;".
std::string PlotTrailer(bool withName, const std::string& directory, const std::string& name,
                        const std::string& suffix, const PlotFileSettings& s);

// Writes the text of one plot to the file of the settings (appended to what
// is there) and marks the file open. On failure a console message names the
// file and false is returned.
bool WritePlotText(PlotFileSettings& s, const std::string& text);

// At program end: an open plot file gets ESC "%0A" ESC "E" (back to the
// printer language, reset) and is closed.
void FinishPlotFile(PlotFileSettings& s);

}  // namespace svfit::plot
