// The fit's picture on the graphics surface: the frame with "files: n", the
// iteration number, the fitted curve of every scan redrawn after each
// evaluation, and the status line of the iteration.
//
// FitDisplayObserver() hands these to the fit (fit/fit.h), which calls, in
// this order:
//   BeginFitDisplay(st)                 once, before the first evaluation
//   ShowIterationNumber(iterCount + 1)  at the start of every evaluation
//   RedrawFitCurve(st, s, ScanColor(s)) after the points of scan s got their
//                                       fitCurve values
//   ShowFitStatus(...)                  after every accepted or final step
//   EndFitDisplay()                     when the fit stops
// The scale of the picture is fixed by BeginFitDisplay from the data.
#pragma once

#include <string>

#include "fit/fit.h"
#include "plot/viewer.h"
#include "state/state.h"

namespace svfit::plot {

// Shows the surface, draws frame and abscissa for the used points of the
// sequence and writes "files: " with seqLast - seqFirst + 1. Forgets the
// curves and status values of an earlier fit.
void BeginFitDisplay(const AnalysisState& st);

// Erases the number drawn before (colour 0) and draws n in colour 14.
void ShowIterationNumber(int n);

// Erases the curve drawn before for scan s (colour 0) and draws the curve
// through fitCurve[s][scanFirstPoint..scanLastPoint] in `colour`.
void RedrawFitCurve(const AnalysisState& st, int s, int colour);

// The status line: the previous line is erased by drawing its text in colour
// 0; then SS, dSS and ssLimit (colour 14), 0.001 and stepNorm (colour 13) and
// q (colour 14), each in the report's exponent form followed by one blank
// except the last.
void ShowFitStatus(double sumSq, double dSumSq, double ssLimit, double stepNorm, double q);

// After the fit, when its numbers are not a fit result: `outcome` under the
// status line and `detail` (which parameters were not determined) at the top
// of the data area, both in colour 13. Either may be empty.
void ShowFitOutcome(const std::string& outcome, const std::string& detail);

// The scale of the fit picture, for handing it to the viewer.
AxisScale FitDisplayScale();

// Forgets the kept curves and status line (their pixels stay on the surface).
void EndFitDisplay();

// The picture above as the fit's observer: frame, iteration number, every
// scan's curve in its colour and the status line. Leaves stopRequested empty.
fit::FitObserver FitDisplayObserver();

}  // namespace svfit::plot
