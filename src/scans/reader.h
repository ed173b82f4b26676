// Loading a series of scan files into the analysis state.
//
// The driver calls, after the run options and the file selection:
//   LoadSeries(st)    reads file after file from the start file on until the
//                     next file is missing (with the "FURTHER FILE NOT FOUND"
//                     question and an optional second file set);
//   FinishLoading(st) the steps after loading: radial range of a simultaneous
//                     load, title lines, 3000 rpm contour subtraction, data
//                     offset, bottom-point cut, outlier correction, the
//                     series bookkeeping and the default radii;
//   results::ApplyLoadingCut(st) then cuts every scan at the common
//                     near-bottom radius and maximal absorbance.
// A 3000 rpm file is read alone: LoadSeries returns kFile3000Done and the
// driver resumes the run options at the load-mode question.
#pragma once

#include <functional>
#include <string>

#include "state/state.h"

namespace svfit::scans {

// A radial range picked in the viewer [cm]. meniscus and bottom are 0 when
// they were not marked.
struct RadialPick {
  double start = 0;     // start radius for fitting
  double end = 0;       // end radius for fitting
  double meniscus = 0;  // marked meniscus, 0 = not marked
  double bottom = 0;    // marked bottom, 0 = not marked
};

// The radial-range pick: for scan > 0 the file just read (one-by-one loading,
// stored as that scan but not yet counted), for scan == 0 the whole loaded
// series (simultaneous loading; the sequence is then every loaded scan).
// This pick asks nobody: the range of the series (the first file's first and
// last radius) is kept and nothing is marked, so every point of every file is
// kept. The program picks in the graph viewer instead (plot/range_pick.h).
RadialPick PickRadialRange(AnalysisState& st, int scan);

// A scan keeps at least this many points: a file with fewer is skipped, and a
// radial range that holds fewer is no range for the series.
inline constexpr int kMinScanPoints = 20;
// The points of a loaded scan that a pick of the series keeps: from the
// smaller of start radius and meniscus up to the bottom (or the last point).
int PointsInPick(const AnalysisState& st, int scan, const RadialPick& pick);

// Seams for the parts the loader does not own.
struct LoadHooks {
  // The radial-range pick (the viewer's, PickRangeInViewer); PickRadialRange
  // when empty.
  std::function<RadialPick(AnalysisState&, int scan)> pickRange;
  // More files after "FURTHER FILE NOT FOUND" was answered N: the file
  // selection dialogue, which sets the start file fields of the state. False
  // (or empty) ends the loading.
  std::function<bool(AnalysisState&)> selectMoreFiles;
  // Shows one loaded scan on the graphics surface (the 3000 rpm scan, which
  // stays on screen until Enter); nothing is shown when empty.
  std::function<void(AnalysisState&, int scan)> showProfile;
};

enum class LoadOutcome {
  kLoaded,         // scanCount >= 1 scans loaded
  kFile3000Done,   // the 3000 rpm file was read and evaluated
  kNothingLoaded,  // no file of the selection could be used
};

LoadOutcome LoadSeries(AnalysisState& st, const LoadHooks& hooks = {});
void FinishLoading(AnalysisState& st, const LoadHooks& hooks = {});

// ---- File names ---------------------------------------------------------------
// Sets directoryPath, firstFileName, fileNumberWidth, extension and
// startFileNumber from the path of a start file such as "/run/00001.RA2"
// (numbered files) or "/run/R01" (old-generation files: the last two
// characters are the number). False when the name has no number where the
// file generation expects it.
bool SetStartFile(AnalysisState& st, const std::string& path);
// The file after `number` in the series: the number advanced by the file step
// (old generation: by one), written with the same width, directory and
// extension as the start file. `number` is advanced.
std::string NextFileName(const AnalysisState& st, int& number);

// ---- Steps after loading, apart for tests ----------------------------------------
// Trims a scan at the cell bottom: over the last eighth of the used points,
// the first value that falls well below the running maxima ends the scan.
void BottomPointCut(AnalysisState& st, int scan);
// Fills grid positions that a scan skips, with the radial step in 0.001 cm.
// False (scan unchanged) when the filled scan would exceed 2800 points.
bool InterpolateScan(AnalysisState& st, int scan, int stepThousandths);
// Smallest point spacing of a scan in 0.001 cm, rounded, at least 1.
int AbsorbanceRadialStep(const AnalysisState& st, int scan);

}  // namespace svfit::scans
