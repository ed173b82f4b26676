// The radial range of a series picked with the crosshair of the graph viewer.
//
// The driver hands PickRangeInViewer to the loader as LoadHooks::pickRange
// and ShowScanProfile as LoadHooks::showProfile:
//   one-by-one loading   each file just read is drawn as a single profile
//                        (with the 3000 rpm profile when one was read) and
//                        the range is picked on it;
//   simultaneous loading the whole series is drawn once after loading and one
//                        range is picked for every scan.
// The viewer runs in mode N: M marks the meniscus, A the start radius, E the
// end radius and the bottom; picking ends with the finishing key, or by
// itself once A and E were pressed while meniscus and bottom are set.
#pragma once

#include "scans/reader.h"
#include "state/state.h"

namespace svfit::plot {

using scans::RadialPick;

// A mark above this radius counts as set; 0 means never marked.
inline constexpr double kMarkSet = 0.1;  // [cm]

// Shows the graphics surface, lets the user pick and hides it again. The
// marks the viewer writes into the state (startRadius, endRadius,
// nearBottomRadius, meniscusMarked, bottomMarked) are read back and the state
// is put back as it was: the loader alone takes the range over (it may still
// drop the file). A meniscus that is not set is taken as the start radius and
// a bottom that is not set as the end radius, so the points kept then run
// from the start to the end radius. Simultaneous loading (scan 0) asks again,
// from the marks as they were, while the start and end radius are less than
// 0.05 cm apart. Without an open
// graphics surface nothing is shown and PickRadialRange decides.
RadialPick PickRangeInViewer(AnalysisState& st, int scan);

// Draws scan 1..scanPointCount of `scan` as one profile and shows the surface
// (the 3000 rpm scan while the loader waits for Enter).
void ShowScanProfile(AnalysisState& st, int scan);

// The marks of a picking as the loader takes them: the state's start and end
// radius, its meniscus and bottom marks, or their defaults when not set.
RadialPick PickFromMarks(const AnalysisState& st);

}  // namespace svfit::plot
