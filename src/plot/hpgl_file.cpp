// HPGL plot files: the file dialogue, the page geometry and the instruction
// text (see hpgl_file.h).
//
// The dialogue, in order: the scans to draw (first, last, step; not for the
// noise and distribution plots), pencil bold text, plotter or laser printer,
// from the second plot on whether to append to the file of the first, the
// offsets, the directory and the name of a new file, the graph size, the
// rotation. A new file is created at once (so that a directory without write
// permission is found while the user can still choose another) and filled
// when the plot is complete; an appended plot skips everything from the
// offsets on and keeps the size, offsets and rotation in force.
//
// Page geometry (plotter units, 400 per cm): the frame runs from 1500 units
// inside the origin to 200 units short of the graph's width, and from 1500
// units above the origin to the graph's height; the margins hold numbers and
// legends. Label sizes follow the graph size through the text factor
// f = 1.25 (15/height)^(1/4), so that a smaller graph gets relatively larger
// text. A pen plotter's rotated page is 7720 units high (193 mm).
#include "plot/hpgl_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>

#include "console/crt.h"
#include "console/format.h"
#include "console/prompt.h"
#include "scans/selection.h"

namespace svfit::plot {
namespace {

using console::AskKey;
using console::AskNumber;
using console::AskYesNo;
using console::YesNo;

constexpr int kRotatedTopLimit = 7720;  // highest frame top of a rotated pen-plotter page

std::string SystemError() { return errno != 0 ? std::string(": ") + std::strerror(errno) : ""; }

// A whole number asked with its current value in the prompt; an empty
// answer keeps it and writes it into the answer column.
int AskInteger(const std::string& prompt, int current, std::function<bool(double)> valid,
               console::FirstChar first = console::FirstChar::kDigit) {
  const std::string shown = std::to_string(current);
  return AskNumber({.prompt = prompt,
                    .defaultValue = static_cast<double>(current),
                    .defaultColumn = static_cast<int>(prompt.size()) + 1,
                    .first = first,
                    .integer = true,
                    .defaultText = shown,
                    .valid = std::move(valid)})
      .asInt();
}

// First, last and step of the scans to draw (positions of scanSequence).
// Residual panels are at most nine: the step is raised until the range
// divided by it is at most 9.
void AskScanRange(const AnalysisState& st, PlotFileSettings& s, bool residualOnly) {
  const int lo = st.seqFirst, hi = std::max(st.seqFirst, st.seqLast);
  // Settings from an earlier plot that the sequence no longer has are pulled in.
  s.first = s.first < lo || s.first > hi ? lo : s.first;
  s.last = s.last < s.first || s.last > hi ? hi : s.last;
  s.first = AskInteger("First data file to draw                   " + console::FormatI(s.first, 4) + " : ",
                       s.first, [&](double v) { return v >= lo && v <= hi; },
                       console::FirstChar::kOneToNine);
  if (s.last < s.first) s.last = hi;
  const int first = s.first;
  s.last = AskInteger("Last data file to draw                    " + console::FormatI(s.last, 4) + " : ",
                      s.last, [&](double v) { return v >= first && v <= hi; },
                      console::FirstChar::kOneToNine);
  const std::string prompt = "Sequence of data files to draw (each 1. 2. n.) : ";
  const int row = console::CursorRow();
  const long scrolls = console::LinesScrolled();
  s.step = AskNumber({.prompt = prompt, .defaultValue = 1,
                      .defaultColumn = static_cast<int>(prompt.size()) + 1, .integer = true})
               .asInt();
  if (s.step < 1) s.step = 1;
  if (residualOnly)
    while ((s.last - s.first + 1) / static_cast<double>(s.step) > 9.000001) ++s.step;
  // The step in force, in the answer column.
  const int x = console::CursorColumn(), y = console::CursorRow();
  console::MoveCursor(static_cast<int>(prompt.size()) + 1,
                      std::max(1, row - static_cast<int>(console::LinesScrolled() - scrolls)));
  console::ClearToEndOfLine();
  console::Write(std::to_string(s.step));
  console::MoveCursor(x, y);
}

// A graph size in cm; the frame needs more than the 1700 units (4.25 cm) of
// margins across and 1500 units (3.75 cm) up.
double AskSize(const std::string& prompt, double byDefault, double smallest) {
  return AskNumber({.prompt = prompt,
                    .defaultValue = byDefault,
                    .defaultColumn = static_cast<int>(prompt.size()) + 1,
                    .defaultWidth = 5,
                    .defaultDecimals = 2,
                    .valid = [smallest](double v) { return v >= smallest && v <= 500; }})
      .value;
}

bool Append(const std::string& path, std::string_view text) {
  errno = 0;
  std::ofstream f(path, std::ios::binary | std::ios::app);
  if (!f) return false;
  f.write(text.data(), static_cast<std::streamsize>(text.size()));
  f.close();
  return !f.fail();
}

}  // namespace

PlotGeometry ComputeGeometry(PlotFileSettings& s, PlotKind kind, bool residualsBelow) {
  PlotGeometry g;
  g.width = s.width;
  g.height = s.height;
  g.left = s.xOffset + 1500;
  g.right = static_cast<int>(400 * s.width) + s.xOffset - 200;
  g.top = static_cast<int>(400 * s.height) + s.yOffset;
  if (s.rotate && g.top > kRotatedTopLimit) {
    s.yOffset -= g.top - kRotatedTopLimit;  // stays lowered for the plots that follow
    g.top = kRotatedTopLimit;
  }
  g.bottom = s.yOffset + 1500;
  g.plotWidth = g.right - g.left;
  g.textFactor = (kind == PlotKind::kResidualOnly ? 1.125 : 1.25) * std::pow(15.0 / s.height, 0.25);
  g.advance = static_cast<int>(10 * s.width + 10);
  g.narrow = static_cast<int>(6 * s.width + 10);
  g.tick = static_cast<int>(3 * s.width);
  g.numberBaseline = g.bottom - static_cast<int>(14 * s.height * g.textFactor + 15);
  const int d = g.top - g.bottom;
  g.dataHeight = residualsBelow ? d - d / 4 : d - static_cast<int>(20 * s.height);
  g.bandBase = g.bottom + static_cast<int>(8 * s.height);
  return g;
}

void LowerTopForPanels(PlotGeometry& g, int panels) {
  if (panels < 1 || panels >= 9) return;
  g.top = g.bottom + panels * 2 * ((g.top - g.bottom) / 18);
  g.dataHeight = g.top - g.bottom - static_cast<int>(20 * g.height);
}

// ---- Instruction text ---------------------------------------------------------------

void HpglOut::MoveTo(long x, long y) { text_ += "PA" + std::to_string(x) + "," + std::to_string(y) + ";"; }
void HpglOut::DrawTo(long x, long y) { text_ += "PD" + std::to_string(x) + "," + std::to_string(y) + ";"; }
void HpglOut::Pen(int pen) { text_ += "SP" + std::to_string(pen) + ";"; }

std::string CmText(double cm) { return console::RealToText(cm, 5, 3); }

void HpglOut::TextSize(double widthCm, double heightCm) {
  text_ += "SI" + CmText(widthCm) + "," + CmText(heightCm) + ";";
}

void HpglOut::Glyph(long x, long y, char glyph) {
  const int copies = bold_ ? 2 : 1;
  for (int i = 0; i < copies; ++i) {
    for (int j = 0; j < copies; ++j) {
      MoveTo(x + 6 * i, y - 6 * j);
      text_ += "LB";
      text_ += glyph;
      text_ += kEtx;
      Line();
    }
  }
}

void HpglOut::Label(long x, long y, std::string_view text, int advance, int narrow) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    Glyph(x, y, text[i]);
    const bool beforePoint = i + 1 < text.size() && text[i + 1] == '.';
    x += text[i] == '.' || beforePoint ? narrow : advance;
  }
}

long HpglOut::LabelWidth(std::string_view text, int advance, int narrow) {
  long w = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    w += text[i] == '.' || (i + 1 < text.size() && text[i + 1] == '.') ? narrow : advance;
  return w;
}

// ---- The file dialogue ----------------------------------------------------------------

OpenedPlot OpenPlotFile(const AnalysisState& st, PlotFileSettings& s, PlotKind kind,
                        bool residualsBelow) {
  const bool noisePlot = kind == PlotKind::kTiNoise || kind == PlotKind::kRiNoise;
  // The noise curves and the distribution are one curve each: no scans to choose.
  if (!noisePlot && kind != PlotKind::kDistribution)
    AskScanRange(st, s, kind == PlotKind::kResidualOnly);
  s.boldText = AskKey({.prompt = "Text bold or normal for pencil plotter   (B/N) : ",
                       .keys = "B", .otherwise = 'N'}) == 'B';
  s.device = static_cast<char>(AskKey({.prompt = "Plot file for (P)lotter, HP-(L)aserprinter     : ",
                                       .keys = "P", .otherwise = 'L'}));
  ++s.plotCounter;
  OpenedPlot p;
  if (s.plotCounter > 1 && !s.path.empty()) {
    if (AskYesNo("Shall the new plot file appended to the first plot file  (Y/N)  : ",
                 YesNo::kEnterNo)) {
      p.appended = true;
    } else {
      // The file of the earlier plots is finished; the new one starts at the foot of the page.
      if (!Append(s.path, "DF;")) console::WriteNote("plot file " + s.path + " could not be finished" + SystemError());
      s.open = false;
      s.plotCounter = 1;
      s.yOffset = 0;
    }
  }
  if (!p.appended) {
    for (;;) {
      s.xOffset = AskInteger("X-Offset     (5200)   " + console::FormatI(s.xOffset, 4) + "  : ",
                             s.xOffset, [](double v) { return v >= 0 && v <= 65535; });
      s.yOffset = AskInteger("Y-Offset     (3500)   " + console::FormatI(s.yOffset, 4) + "  : ",
                             s.yOffset, [](double v) { return v >= 0 && v <= 65535; });
      const std::string directory = scans::AskExportPath();
      std::string name;
      while (name.empty()) {
        console::Write("File name without extender  :  ");
        name = console::ReadPathAnswer();
        const std::size_t a = name.find_first_not_of(' ');
        name = a == std::string::npos ? "" : name.substr(a, name.find_last_not_of(' ') - a + 1);
      }
      const std::string path = directory + name + ".HGL";
      errno = 0;
      std::ofstream f(path, std::ios::binary | std::ios::trunc);
      if (f) {
        s.path = path;
        s.name = name;
        break;
      }
      console::WriteNote("the plot file " + path + " cannot be created" + SystemError());
    }
    s.width = AskSize("Width of the graph    cm    =  ", 20, 5);
    s.height = AskSize("Height of the graph   cm    =  ", noisePlot ? 9 : 15, 4);
    p.header = "IN;";
    const bool rotated = AskYesNo("Rotate the Graph  90\xB0 (Y/N) :  ", YesNo::kEnterYes);
    if (rotated) p.header += "RO90;";
    s.rotate = rotated && s.device == 'P';
    p.header += "DT";
    p.header += kEtx;
    p.header += ";DF;";
  }
  p.header += "VS1;";  // slowest pen speed: the densest lines come out best
  p.header += '\n';
  p.geometry = ComputeGeometry(s, kind, residualsBelow);
  return p;
}

std::string PlotTrailer(bool withName, const std::string& directory, const std::string& name,
                        const std::string& suffix, const PlotFileSettings& s) {
  std::string t;
  if (withName) {
    // Under the plot's own lower left corner: a plot appended above another
    // one must not write its name over the name of the first.
    const int x = 450 + s.xOffset, y = 150 + std::max(0, s.yOffset);
    t += "SI0.187,0.269;SP1;PA" + std::to_string(x) + "," + std::to_string(y) + ";LB " + directory + " " +
         name + "  " + suffix;
    t += kEtx;
    t += ";PU;PA0,0;SP0;\n";
  }
  t += "SP;DF;\n";
  return t;
}

bool WritePlotText(PlotFileSettings& s, const std::string& text) {
  if (!Append(s.path, text)) {
    console::WriteNote("the plot could not be written to " + s.path + SystemError());
    return false;
  }
  s.open = true;
  return true;
}

void FinishPlotFile(PlotFileSettings& s) {
  if (!s.open || s.path.empty()) return;
  if (!Append(s.path, "\x1b%0A\x1b" "E"))
    console::WriteNote("plot file " + s.path + " could not be finished" + SystemError());
  s.open = false;
}

}  // namespace svfit::plot
