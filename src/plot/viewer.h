// The graph viewer and the screen layout shared by every screen plot.
//
// Screens are laid out on a virtual 1024 x 768 grid and scaled to the surface
// (x scale = MaxX / 1023, y scale = MaxY / 767). A plot draws its frame,
// abscissa and data; the viewer adds the ordinate numbers (and in mode J the
// scan list), shows the menu text while it waits for a key, and picks values
// with an exclusive-or crosshair.
//
// What the crosshair keys write into the analysis state:
//   M  meniscusMarked := radius                                  (mode N)
//   E  endRadius := min(radius, 7.3 cm),
//      bottomMarked := radius                        (not B, not start values)
//   A  startRadius := radius                         (not B, not start values)
//   1..4  markedS[k] := sedimentation coefficient at the crosshair [S],
//      markedAmp[k] := ordinate value there; markedCount rises when markedS[k]
//      was 0                                               (start-value mode)
//   Escape  markedS, markedAmp, markedCount := 0    (distribution display)
// so a loader takes "start radius, end radius, meniscus and bottom" from
// startRadius, endRadius, meniscusMarked and bottomMarked.
#pragma once

#include <string>
#include <vector>

#include "state/state.h"

namespace svfit::plot {

// Pixel geometry of the screen plots (all in pixels of the surface).
struct ScreenLayout {
  double xScale = 1, yScale = 1;  // MaxX / 1023, MaxY / 767
  int left = 0;          // plot area left edge (frame)
  int right = 0;         // MaxX
  int top = 0;           // top of the data area
  int bottomLine = 0;    // frame bottom; abscissa numbers below it
  int listRight = 0;     // the scan list column ends here; ordinate numbers right of it
  int bandHeight = 0;    // height of the residual band (under the data area)
  int bandGap = 0;       // gap between the data area and the band
  int statusX = 0, statusY = 0;  // status line (top edge of the text)
  int menuX = 0, menuY = 0;      // menu text (top edge)
  int iterX = 0, iterY = 0;      // iteration number of the fit
  int filesX = 0, filesY = 0;    // "files: n" of the fit
  int Scale(double gridX) const;   // grid units -> pixels, x direction
  int ScaleY(double gridY) const;  // grid units -> pixels, y direction
};
ScreenLayout MakeScreenLayout();  // from MaxX and MaxY of the open surface

// Fonts of the screens: the base font (font 2, size 4) scaled for the menu
// texts or for the scan list and the numbers.
void UseMenuFont();
void UseNumberFont();

// The mapping between data and pixels of one picture.
struct AxisScale {
  double xMin = 0, xSpan = 1;  // radius at the left edge and radius range [cm]
  double yMin = 0, yMax = 1;   // ordinate range [data units]
  int left = 0, width = 1;     // plot area: left edge and width [pixels]
  int dataTop = 0, dataBottom = 1;  // data area [pixels]
  double UnitsPerPixel() const { return (yMax - yMin) / (dataBottom - dataTop); }
  int XPixel(double r) const;  // unclamped
  int YPixel(double v) const;  // clamped to the data area
  double Radius(int px) const;
  double Value(int py) const;
};

// One additional text placed with Ctrl-V, for the HPGL plot.
struct PlacedText {
  int x = 0, y = 0;            // surface pixels of the crosshair
  int screenWidth = 0, screenHeight = 0;  // MaxX + 1, MaxY + 1 when placed
  bool vertical = false;       // always false from the viewer
  std::string text;            // Latin-1
};
const std::vector<PlacedText>& PlacedTexts();
void ClearPlacedTexts();

struct ViewerRequest {
  char mode = 'A';          // 'J', 'A', 'B' or 'N'
  bool startValues = false; // crosshair picks S1..S4 (keys 1-4) instead of radii
  bool distribution = false; // with startValues: the abscissa is s* [S] of a distribution;
                             // keys 1-4 mark peaks, Escape ends without marks
  bool turnedHardcopy = false;  // Ctrl-L prints turned by 90 degrees
};
struct ViewerResult {
  bool meniscusPicked = false;  // M was pressed
  bool endPicked = false;       // E was pressed
  bool startPicked = false;     // A was pressed
  bool printed = false;         // a hardcopy was made (Ctrl-L)
  int lastKey = 0;              // key that left the viewer
};

// The finishing key of crosshair picking: Ctrl-N (14) at start. Enter (13)
// ends the picking as well, whatever the setting.
void SetCrosshairFinishKey(int key);
int CrosshairFinishKey();

// Runs the viewer on the picture that is on the surface, drawn with `scale`.
ViewerResult GraphViewer(AnalysisState& st, const ViewerRequest& request, const AxisScale& scale);

// The colour of the i-th scan drawn (i from 1): c = 16 - i, c - 2 when
// 2 <= c <= 8, then + 15 while below 1.
int ScanColor(int i);

// The swap file of the viewer ("swapdata.$$$" in the current directory, or in
// the temporary directory when that is not writable); "" before first use.
std::string SwapFilePath();

}  // namespace svfit::plot
