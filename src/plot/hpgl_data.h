// The printed plot of the current analysis as an HPGL file (option Z): the
// graph options dialogue, the drawing of data points, fitted curves,
// gradients and residuals, and the composition with frame, axes and legends.
//
//   HpglSession hpgl;                       // kept for the program run
//   PlotWritten w = WriteHpglPlot(st, hpgl); // one plot, into a new or the last file
//   ...
//   FinishPlotFile(hpgl.file);              // at the end of the program
#pragma once

#include <string>

#include "plot/hpgl_file.h"
#include "state/state.h"

namespace svfit::plot {

// Options of the graph dialogue, kept between plots (start values as shown).
struct PlotOptions {
  char residualMode = 'N';            // 'N' none, 'Y' band under the data, 'A' residual panels only
  double residualResolution = 0.18;   // data units the residual panels span (S L M H E: 1.62 .. 0.018)
  bool spread = false;                // spread the traces of original points apart
  char pointKind = 'C';               // 'O' original points, 'C' corrected for RI and TI noise
  char symbols = 'C';                 // 'C' one common symbol, 'D' a different symbol per scan
  char residualStyle = 'C';           // 'C' circles, 'S' sprocket line (connected points)
  char extensionChoice = 'D';         // 'A' the user's residual extension, 'D' the default
  double residualExtension = 0;       // residual magnification relative to the data scale
  int symbolRadius = 30;              // data point symbols [plotter units]
  bool fillCircles = false;           // common circles filled
};

struct HpglSession {
  PlotFileSettings file;
  PlotOptions options;
};

struct PlotWritten {
  bool written = false;    // the plot went into its file
  std::string path;        // that file
  PlotGeometry geometry;   // the page of the plot
};

// Option Z: "Bold text for slide ?" and the graph options dialogue, which
// asks what to draw, runs the file dialogue and writes one plot. Afterwards
// the step of the scans drawn is 1 again and the next plot of the file is
// placed 1500 units beyond the top of this one.
PlotWritten WriteHpglPlot(const AnalysisState& st, HpglSession& session);

// The graph options dialogue alone (the file, the drawing, the file name).
PlotWritten GraphOptionsDialog(const AnalysisState& st, HpglSession& session);

}  // namespace svfit::plot
