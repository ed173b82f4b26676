// Hardcopy: printing the graphics viewport on paper.
//
// Sizes and positions are in units of 1/216 inch. All hardcopies of a run go
// into one PDF print job (A4 pages, one image below the other, a new page when
// the next one does not fit); the job is finished when the program ends, or
// earlier by EndHardcopyJob. A finished job goes to the default printer (`lp`)
// when `lpstat -d` names one, otherwise it is kept in the current directory as
// svfit-hardcopy-YYYYMMDD-HHMMSS.pdf; the console says which.
#pragma once

#include <string>

namespace svfit::console {

// Prints the current viewport at left margin x, scaled to width x height
// (one of them 0: derived from the viewport's proportions; both 0: nothing),
// turned by orientation x 90 degrees (0..3).
void PrintViewPort(int x, int width, int height, int orientation);

// 0 black on white (default), 1 white on black, 2 colour.
void SetHardcopyColorMode(int mode);

// True while a print job holds hardcopies that have not gone out yet.
bool HardcopyPending();
// Finishes the running job now (printer or kept file) and returns the console
// note that says where it went; "" when no job was running.
std::string EndHardcopyJob();

}  // namespace svfit::console
