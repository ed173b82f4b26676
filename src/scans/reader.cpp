// The scan reader: one file after the other into the analysis state.
//
// Each file is read at once into a buffer and walked twice at most: for the
// first file of a series a pre-pass finds the lower radial bound (the first
// radius − 0.01 cm, or 0.1 cm before a sharp drop of the signal near the
// meniscus region) and, for interference data, the start radius that gives
// points spaced by radialStep the mean radius of the file; then the data
// lines are taken until an end condition. Interference radii of cells 1..8
// are rebuilt on the pixel grid r_i = r_1 + (i − 1)·radialStep.
//
// Invariant kept for every accepted scan: at least 20 points, radii strictly
// increasing, scanFirstPoint = 1 <= scanLastPoint = scanPointCount <= 2800.
#include "scans/reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <vector>

#include "console/crt.h"
#include "console/format.h"
#include "console/graph.h"
#include "console/prompt.h"
#include "scans/cleaning.h"
#include "scans/scan_file.h"
#include "scans/selection.h"

namespace svfit::scans {
namespace {

using console::FormatF;
using console::FormatI;

constexpr int kMinPoints = kMinScanPoints;               // fewer points: file skipped
constexpr double kEndRadius = 7.25;                      // [cm] beyond it a wild value ends the data
constexpr double kLowValue = -0.6;                       // [OD or fringes] lowest sound value there
constexpr double kSameRadius = 1e-6;                     // [cm] closer radii are one radius twice
constexpr double kNoSignal = 1e-8;  // sum of |absorbance| at most this: an empty file
constexpr std::size_t kMaxFileBytes = 64u << 20;         // no scan file comes near 64 MB
constexpr double kOtherWavelength = 5;  // [nm] wider apart: scans of another setting

enum class FileResult { kAccepted, kSkipped, kDropped, kEndLoading };

// Working data of one loading run.
struct Session {
  std::string text;                 // the file being read
  std::vector<double> radius;       // scratch points of that file [cm], index 1..
  std::vector<double> value;        // [OD or fringes]
  double lowerBound = 0;            // [cm] radii below are not data
  double gridStart = 0;             // [cm] interference: radius of the first point
  bool inSecondSet = false;         // files after "FURTHER FILE NOT FOUND" answered N
  bool secondSetTitlesTaken = false;
  std::string firstLoaded, lastLoaded;  // file names of the first and last scan
  double firstWavelength = 0;           // [nm] of the first scan loaded
};

bool Simultaneous(const AnalysisState& st) { return !st.loadOneByOne; }
bool Interference(const AnalysisState& st) { return st.dataKind == 'P'; }

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Reads a whole file into `text`. False when it cannot be read or is no
// plausible scan file by its size.
bool ReadWholeFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            static_cast<std::size_t>(info.st_size) <= kMaxFileBytes;
  if (ok) {
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
      if (n < 0) {
        ok = false;
        break;
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    text.resize(done);
  }
  ::close(fd);
  return ok;
}

double Omega2(double rpm) {
  const double omega = std::numbers::pi * rpm / 30.0;  // ω [rad/s] from rpm
  return omega * omega;
}

// Pre-pass over the first file of a series: lower radial bound and, for
// interference data, the start radius of the pixel grid.
void PrePass(const AnalysisState& st, Session& s, std::size_t dataStart, int firstLine,
             int cell) {
  DataCursor cursor(s.text, dataStart, firstLine);
  double r = 0, v = 0;
  double sum = 0;
  long n = 0;
  bool searching = cell >= 1 && cell <= 8;
  double previous = -1000;
  while (cursor.Next(r, v) == DataCursor::Status::kPoint) {
    if (n == 0) s.lowerBound = r - 0.01;
    if (searching) {
      if (r >= 7.0) {
        searching = false;
      } else if (previous - std::fabs(v) > 0.15 && std::fabs(v) < 0.5 * std::fabs(previous)) {
        // A sharp fall of the signal (window or reference edge): the data
        // start 0.1 cm before it.
        s.lowerBound = r - 0.1;
        searching = false;
      }
      previous = v;
    }
    sum += r;
    ++n;
  }
  if (n > 0) {
    const double nd = static_cast<double>(n);
    s.gridStart = (sum - nd * (nd - 1) / 2 * st.radialStep) / nd;
  }
}

void PrintHeaderValues(const AnalysisState& st) {
  console::WriteLn("cell               :    " + FormatI(st.cellNumber, 3));
  console::WriteLn("temperature        :   " + FormatF(st.temperature, 4, 1));
  console::WriteLn("wavelength         :    " + FormatF(st.wavelength, 3, 0));
  console::WriteLn("rotor speed        :  " + FormatF(st.rotorSpeed, 5, 0));
  console::WriteLn("running time (sec) : " + FormatF(st.runTime, 6, 0));
}

void NoteUnreadable(const std::string& path, const std::string& why) {
  console::WriteNote("file skipped: " + BaseName(path) + " (" + why + ")");
}

// Copies points 1..n of the scratch arrays into scan `scan` of the state.
void StoreScan(AnalysisState& st, const Session& s, int scan, int first, int last) {
  double* radius = st.scanRadius[scan];
  double* value = st.scanValue[scan];
  int n = 0;
  for (int i = first; i <= last; ++i) {
    ++n;
    radius[n] = s.radius[static_cast<std::size_t>(i)];
    value[n] = s.value[static_cast<std::size_t>(i)];
  }
  st.scanPointCount[scan] = n;
  st.scanFirstPoint[scan] = 1;
  st.scanLastPoint[scan] = n;
}

// Index range of the scratch points with lo <= r <= hi.
void RangeOf(const Session& s, int n, double lo, double hi, int& first, int& last) {
  first = 1;
  while (first <= n && s.radius[static_cast<std::size_t>(first)] < lo - kSameRadius) ++first;
  last = n;
  while (last >= first && s.radius[static_cast<std::size_t>(last)] > hi + kSameRadius) --last;
}

FileResult LoadFile(AnalysisState& st, Session& s, const LoadHooks& hooks) {
  const std::string& path = st.currentFileName;
  if (!ReadWholeFile(path, s.text)) {
    NoteUnreadable(path, "not readable");
    return FileResult::kSkipped;
  }
  // A file whose lines end with line ends but whose last line has none was
  // cut off (an interrupted copy): that line may hold "2" of "2.35630", so it
  // is left out, and said.
  const std::size_t end = std::min(s.text.find('\x1a'), s.text.size());  // Ctrl-Z ends a text
  const std::size_t lastEnd = s.text.find_last_of("\r\n", end == 0 ? 0 : end - 1);
  if (end > 0 && lastEnd != std::string::npos && lastEnd + 1 < end) {
    s.text.resize(lastEnd + 1);
    console::WriteNote(BaseName(path) + " ends inside a line: that line is left out");
  }
  // 1. Lines up to the header.
  const HeaderSearch head = FindHeader(s.text, st.dataKind);
  if (!Simultaneous(st)) {
    std::size_t pos = 0;
    std::string_view line;
    for (int k = 1; NextLine(s.text, pos, line); ++k) {
      console::WriteLn(FormatI(k, 3) + "  " + CutLine(line));
      if (k == head.headerLine || k >= 200) break;
    }
  }
  if (head.headerLine == 0) {
    NoteUnreadable(path, "no header line");
    return FileResult::kSkipped;
  }

  // 2. Interference: the pixel spacing from the title row.
  if (Interference(st)) ParseRadialStep(head.titleLines[0], st.radialStep);

  // 3. Header values.
  ScanHeader header;
  if (!ParseHeader(head.header, header)) {
    NoteUnreadable(path, "header unreadable");
    return FileResult::kSkipped;
  }
  // Every time of the models is ω²t over ω²: a scan without a positive
  // integral has no place in the run.
  if (!(header.omega2t > 0)) {
    NoteUnreadable(path, "omega^2t not above 0");
    return FileResult::kSkipped;
  }
  const double omega2 = Omega2(header.rotorSpeed);
  st.cellNumber = head.header[2] - '0';
  st.temperature = header.temperature;
  st.rotorSpeed = header.rotorSpeed;
  st.wavelength = header.wavelength;
  st.headerSeventh = header.seventh;
  st.runTime = header.omega2t / omega2;  // [s] time of the equivalent run at full speed
  st.timeOffset = std::fabs(header.elapsedTime - st.runTime);
  if (!Simultaneous(st)) PrintHeaderValues(st);

  // 4. Pre-pass over the first file of the series.
  const int firstDataLine = head.headerLine + 1;
  if (st.scanCount == 0) PrePass(st, s, head.dataStart, firstDataLine, st.cellNumber);

  // 5. The data lines.
  const bool grid = Interference(st) && st.cellNumber <= 8;
  DataCursor cursor(s.text, head.dataStart, firstDataLine);
  double r = 0, v = 0, sum = 0;
  int n = 0;
  for (;;) {
    const DataCursor::Status status = cursor.Next(r, v);
    if (status == DataCursor::Status::kEndOfFile) break;
    if (status == DataCursor::Status::kBadLine) {
      NoteUnreadable(path, "line " + std::to_string(cursor.lineNumber()) + " unreadable");
      return FileResult::kSkipped;
    }
    if (r < s.lowerBound) continue;
    if ((v < kLowValue || v > st.valueLimit) && r > kEndRadius) break;
    if (r == 0 && v == 0) break;
    if (grid) r = n * st.radialStep + s.gridStart;
    if (++n > kMaxPoints) {
      NoteUnreadable(path, "more than " + std::to_string(kMaxPoints) + " data points");
      return FileResult::kSkipped;
    }
    if (r < 0) r = 0;
    if (n > 1 && std::fabs(r - s.radius[static_cast<std::size_t>(n - 1)]) < kSameRadius) {
      NoteUnreadable(path, "line " + std::to_string(cursor.lineNumber()) + " repeats a radius");
      return FileResult::kSkipped;
    }
    s.radius[static_cast<std::size_t>(n)] = r;
    s.value[static_cast<std::size_t>(n)] = v;
    sum += std::fabs(v);  // a base line below 0 is still a signal
  }

  // 6. Too short, or an absorbance scan without signal.
  const std::string tooFew = "fewer than " + std::to_string(kMinPoints) + " data points";
  if (n < kMinPoints) {
    NoteUnreadable(path, tooFew);
    return FileResult::kSkipped;
  }
  if (!Interference(st) && !st.use3000 && sum <= kNoSignal) {
    NoteUnreadable(path, "no signal");
    return FileResult::kSkipped;
  }

  // 7. Trailing points that run back in radius are dropped; a scan that runs
  // back earlier ends before that point, so radii always increase.
  while (n > 1 && s.radius[static_cast<std::size_t>(n)] < s.radius[static_cast<std::size_t>(n - 1)]) --n;
  for (int i = 2; i <= n; ++i) {
    if (s.radius[static_cast<std::size_t>(i)] <= s.radius[static_cast<std::size_t>(i - 1)]) {
      n = i - 1;
      break;
    }
  }
  if (n < kMinPoints) {
    NoteUnreadable(path, tooFew);
    return FileResult::kSkipped;
  }

  // The radii the files cover before any cut: the cell lies within them, so
  // the fit keeps its meniscus and bottom there.
  const double fileFirst = s.radius[1], fileLast = s.radius[static_cast<std::size_t>(n)];
  const bool firstFile = st.scanCount == 0 || st.fileMaxRadius <= 0;
  st.fileMinRadius = firstFile ? fileFirst : std::min(st.fileMinRadius, fileFirst);
  st.fileMaxRadius = firstFile ? fileLast : std::max(st.fileMaxRadius, fileLast);

  // 8. Radial range: the series range from the first file unless set.
  if (st.startRadius == 0 && st.endRadius == 0) {
    st.startRadius = s.radius[1];
    st.endRadius = s.radius[static_cast<std::size_t>(n)];
  }
  const int scan = st.scanCount + 1;
  if (scan > kMaxScans) return FileResult::kEndLoading;
  int first = 1, last = n;
  if (!Simultaneous(st)) {
    StoreScan(st, s, scan, 1, n);
    const auto pick = hooks.pickRange ? hooks.pickRange : PickRadialRange;
    const RadialPick range = pick(st, scan);
    console::WriteLn("number of data points      : " + FormatI(n, 4));
    console::WriteLn("start radius for fitting   : " + FormatF(range.start, 7, 4));
    console::WriteLn("end radius for fitting     : " + FormatF(range.end, 7, 4));
    console::WriteLn("meniscus radius            : " + FormatF(range.meniscus, 7, 4));
    if (range.start > range.end + 0.1) return FileResult::kDropped;
    if (range.end - range.start < 0.05) return FileResult::kEndLoading;
    st.startRadius = range.start;
    st.endRadius = range.end;
    if (range.meniscus > 0) st.meniscusMarked = range.meniscus;
    if (range.bottom > 0) st.bottomMarked = range.bottom;
    const double lo = range.meniscus > 0 ? std::min(range.start, range.meniscus) : range.start;
    const double hi = range.bottom > 0 ? range.bottom : s.radius[static_cast<std::size_t>(n)];
    RangeOf(s, n, lo, hi, first, last);
    if (last - first + 1 < kMinPoints) return FileResult::kDropped;
  }
  StoreScan(st, s, scan, first, last);
  if (!Simultaneous(st) && !Interference(st)) {
    const int step = AbsorbanceRadialStep(st, scan);
    if (st.scanCount == 0) st.absRadialStep = step;
    if (st.interpolate) InterpolateScan(st, scan, step);
  }

  // Accepted. Scans of another wavelength, or taken before the scan loaded
  // last, are kept (the user chose the files) but named: fitted together
  // with the others they cannot be described by one model.
  if (scan == 1) s.firstWavelength = header.wavelength;
  if (!Interference(st) && std::fabs(header.wavelength - s.firstWavelength) > kOtherWavelength) {
    console::WriteNote(BaseName(path) + ": wavelength " + FormatF(header.wavelength, 3, 0) +
         " nm, the series began at " + FormatF(s.firstWavelength, 3, 0) + " nm");
  }
  if (scan > 1 && header.omega2t < st.scanRunTime[scan - 1] * st.scanOmega2[scan - 1]) {
    console::WriteNote(BaseName(path) + ": taken before the file loaded before it (its omega^2t is smaller)");
  }
  st.scanCount = scan;
  st.scanOmega2[scan] = omega2;
  st.scanRunTime[scan] = st.runTime;
  st.scanElapsed[scan] = header.elapsedTime;
  st.scanTime[scan] = st.runTime;
  st.scanTitle[scan] = head.header;
  st.scanFileName[scan] = path;
  st.rpm3000Offset[scan] = 0;
  st.riNoise[scan] = 0;
  if (scan == 1) {
    st.omega2First = omega2;
    st.rpmFirst = st.rotorSpeed;
    st.titleLines = head.titleLines;
    s.firstLoaded = BaseName(path);
  } else if (s.inSecondSet && !s.secondSetTitlesTaken) {
    st.secondTitleLines = head.titleLines;
    s.secondSetTitlesTaken = true;
  }
  st.rpmLast = st.rotorSpeed;
  s.lastLoaded = BaseName(path);
  if (!Simultaneous(st)) {
    console::WriteLn("Number of data points/file : " + std::to_string(st.scanLastPoint[scan]) + "/ " +
                     FormatI(st.scanCount, 2));
  }
  return FileResult::kAccepted;
}

// "FURTHER FILE NOT FOUND": true when more files of the series follow.
bool AskForMoreFiles(AnalysisState& st, Session& s, const LoadHooks& hooks) {
  console::SetMousePosition(200, 200);
  if (st.secondSetLoaded) {
    console::ClearScreen();
    return false;
  }
  console::WriteLn("FURTHER FILE NOT FOUND");
  console::Write("end of data loading (E) or (N)ew name(with path) for further files (E/N) :  ");
  int key = console::ReadKey();
  if (key == 0) {
    console::ReadKey();  // an extended key answers "end"
    key = 'E';
  }
  key = std::toupper(key);
  if (key >= 32 && key < 127) console::Write(std::string(1, static_cast<char>(key)));
  console::WriteLn();
  if (key != 'N') return false;
  st.secondSetLoaded = true;
  st.firstSetTitle = st.setTitle;
  if (hooks.selectMoreFiles) {
    if (!hooks.selectMoreFiles(st)) return false;
  } else {
    SelectFiles(st);
  }
  s.inSecondSet = true;
  st.secondSpeedFirstScan = st.scanCount + 1;
  return true;
}

std::string SetTitleOf(const std::string& path) {
  return CutLine(path.size() > 4 ? std::string_view(path).substr(0, path.size() - 4) : path);
}

// The loading concentration [mg/ml] from the title row of the 3000 rpm
// file, confirmed or typed, and the divisor that turns absorbances into
// concentrations. A concentration must be above 0: it divides.
void AskConcentration(AnalysisState& st) {
  double found = 0;
  double concentration = 0;
  auto positive = [](double c) { return c > 0; };
  if (FindTitleConcentration(st.titleLines[0], found)) {
    const std::string prompt = "Concentration found in title-row" + FormatF(found, 7, 4) + " :  ";
    concentration = console::AskNumber({.prompt = prompt,
                                        .defaultValue = found,
                                        .defaultColumn = 43,
                                        .first = console::FirstChar::kAny,
                                        .defaultWidth = 7,
                                        .defaultDecimals = 4,
                                        .valid = positive})
                        .value;
  } else {
    console::WriteLn("No concentration data found in title row, important only for");
    if (!console::AskYesNo("estimation of ass.constants by sedfit, input wanted  (Y/N) : ",
                           console::YesNo::kOnlyY)) {
      st.concentration = -1;
      return;
    }
    for (;;) {  // asked until a concentration is given
      const console::NumberAnswer answer = console::AskNumber(
          {.prompt = "Concentration of solute  mg/ml          :  ", .first = console::FirstChar::kAny,
           .valid = positive});
      if (!answer.empty) {
        concentration = answer.value;
        break;
      }
      console::MoveCursor(1, console::CursorRow() - 1);
      console::ClearToEndOfLine();
    }
  }
  st.concentration = concentration;
  st.concDivisor = st.extinction3000 / concentration;
  console::WriteLn("Divisor for conversion to concentration : " + FormatF(st.concDivisor, 7, 4));
  console::ReadAnswer();
}

// The 3000 rpm file read as scan 1: for absorbance the straight line through
// its points gives the extinction in the middle of the cell; for interference
// its contour (value minus its minimum) is kept for the subtraction.
void Evaluate3000(AnalysisState& st, const LoadHooks& hooks) {
  const int n = st.scanPointCount[1];
  const double* r = st.scanRadius[1];
  const double* v = st.scanValue[1];
  st.file3000Name = st.currentFileName;
  if (Interference(st)) {
    double minimum = v[1];
    for (int i = 1; i <= n; ++i) minimum = std::min(minimum, v[i]);
    for (int i = 1; i <= n; ++i) {
      st.profile3000Radius[static_cast<std::size_t>(i)] = r[i];
      st.profile3000Value[static_cast<std::size_t>(i)] = v[i] - minimum;
    }
    st.profile3000Count = n;
    st.contourSubtraction = true;
    return;
  }
  // The profile is kept, so that each scan loaded one by one is drawn beside
  // it; it is only subtracted from interference scans.
  for (int i = 1; i <= n; ++i) {
    st.profile3000Radius[static_cast<std::size_t>(i)] = r[i];
    st.profile3000Value[static_cast<std::size_t>(i)] = v[i];
  }
  st.profile3000Count = n;
  // The 3000 rpm scan is shown until Enter is pressed.
  const bool show = hooks.showProfile && console::GraphicsOpen();
  if (show) hooks.showProfile(st, 1);
  console::ReadAnswer();
  if (show) console::HideGraphics();
  // value = a + b·r by least squares, centred on the mean radius.
  Extended sr = 0, sv = 0;
  for (int i = 1; i <= n; ++i) sr += r[i], sv += v[i];
  const Extended rm = sr / n, vm = sv / n;
  Extended srr = 0, srv = 0;
  for (int i = 1; i <= n; ++i) srr += (r[i] - rm) * (r[i] - rm), srv += (r[i] - rm) * (v[i] - vm);
  const double b = srr > 0 ? static_cast<double>(srv / srr) : 0.0;
  const double a = static_cast<double>(vm - b * rm);
  st.slope3000 = b;
  // [OD] extinction in the middle of the scanned range
  st.extinction3000 = a + b * (r[1] + r[n]) * 0.5;
  console::WriteLn("Extinction                              : " + FormatF(st.extinction3000, 7, 4));
  console::WriteLn("Slop                                    : " + FormatF(st.slope3000, 7, 4));
  AskConcentration(st);
}
}  // namespace

// ---- File names -------------------------------------------------------------------

bool SetStartFile(AnalysisState& st, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = path.substr(dir.size());
  std::string digits;
  if (st.fileGeneration == 'O') {
    if (name.size() < 2) return false;
    digits = name.substr(name.size() - 2);
    st.extension.clear();
    st.fileNumberWidth = 2;
  } else {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    digits = name.substr(0, dot);
    st.extension = name.substr(dot + 1);
    st.fileNumberWidth = static_cast<int>(digits.size());
  }
  if (digits.empty() || digits.size() > 9 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  st.directoryPath = dir;
  st.firstFileName = path;
  st.currentFileName = path;
  st.startFileNumber = std::stoi(digits);
  return true;
}

std::string NextFileName(const AnalysisState& st, int& number) {
  if (st.fileGeneration == 'O') {
    number += 1;
    const std::string name = BaseName(st.currentFileName);
    const std::string stem = name.substr(0, name.size() >= 2 ? name.size() - 2 : 0);
    return st.directoryPath + stem + console::IntToTwoDigits(number);
  }
  number += std::max(1, st.fileStep);
  return st.directoryPath + console::IntToTextZeros(number, st.fileNumberWidth) + "." + st.extension;
}

// ---- The radial-range pick until the viewer takes it over ---------------------------

int PointsInPick(const AnalysisState& st, int scan, const RadialPick& pick) {
  const double lo = pick.meniscus > 0 ? std::min(pick.start, pick.meniscus) : pick.start;
  const double hi = pick.bottom > 0 ? pick.bottom : 1e300;
  const double* r = st.scanRadius[scan];
  int count = 0;
  for (int i = 1; i <= st.scanPointCount[scan]; ++i)
    count += r[i] >= lo - kSameRadius && r[i] <= hi + kSameRadius;
  return count;
}

RadialPick PickRadialRange(AnalysisState& st, int scan) {
  (void)scan;
  RadialPick pick;
  pick.start = st.startRadius;
  pick.end = st.endRadius;
  return pick;
}

// ---- Loading loop -----------------------------------------------------------------

LoadOutcome LoadSeries(AnalysisState& st, const LoadHooks& hooks) {
  Session s;
  s.radius.assign(static_cast<std::size_t>(kMaxReadPoints) + 1, 0.0);
  s.value.assign(static_cast<std::size_t>(kMaxReadPoints) + 1, 0.0);
  st.scanCount = 0;
  st.secondSpeedFirstScan = 0;
  st.riNoise.fill(0.0);
  st.tiNoise.fill(0.0);
  st.setTitle = SetTitleOf(st.firstFileName);
  st.currentFileName = st.firstFileName;
  int number = st.startFileNumber;

  for (;;) {
    if (!FileExists(st.currentFileName)) {
      if (st.scanCount >= kMaxScans || !AskForMoreFiles(st, s, hooks)) break;
      st.setTitle = SetTitleOf(st.firstFileName);
      st.currentFileName = st.firstFileName;
      number = st.startFileNumber;
      continue;
    }
    const FileResult result = LoadFile(st, s, hooks);
    if (result == FileResult::kEndLoading) break;
    if (result == FileResult::kAccepted && st.use3000) {
      Evaluate3000(st, hooks);
      st.use3000 = false;
      return LoadOutcome::kFile3000Done;
    }
    if (st.scanCount >= kMaxScans) {
      console::WriteNote(std::to_string(kMaxScans) + " scans loaded, the most a series holds: loading ends here");
      break;
    }
    st.currentFileName = NextFileName(st, number);
    if (!Simultaneous(st)) {
      console::WriteLn("Name des " + FormatI(st.scanCount + 1, 2) + ".  data files   : " +
                       st.currentFileName);
    }
  }
  if (st.scanCount == 0) {
    console::WriteNote("no usable scan file found");
    return LoadOutcome::kNothingLoaded;
  }
  st.dataFileNote = "data files " + s.firstLoaded + " - " + s.lastLoaded;
  return LoadOutcome::kLoaded;
}

// ---- After loading -------------------------------------------------------------------

int AbsorbanceRadialStep(const AnalysisState& st, int scan) {
  const double* r = st.scanRadius[scan];
  double smallest = 1e300;
  for (int i = 2; i <= st.scanPointCount[scan]; ++i) smallest = std::min(smallest, r[i] - r[i - 1]);
  if (!(smallest < 1e300)) return 1;
  // [0.001 cm]; a spacing below 0.0005 cm still counts as one step, so the
  // grid of the interpolation never has a zero step.
  return std::max(1, static_cast<int>(std::lround(std::min(smallest * 1000.0, 1e6))));
}

bool InterpolateScan(AnalysisState& st, int scan, int stepThousandths) {
  const int n = st.scanPointCount[scan];
  if (n < 2 || stepThousandths < 1) return true;
  double* r = st.scanRadius[scan];
  double* v = st.scanValue[scan];
  // Radii far outside any rotor (damaged files) cannot be put on the grid of
  // integer units below; such a scan is left as read.
  for (int i = 1; i <= n; ++i) {
    if (!(r[i] >= 0.0 && r[i] <= 1e4)) return true;
  }
  // Radii in integer units of 1e-4 cm; the grid runs from the first radius in
  // steps of g units.
  const long g = 10L * stepThousandths;
  const long base = std::lround(r[1] * 1e4);
  std::vector<double> nr, nv;
  nr.reserve(static_cast<std::size_t>(kMaxPoints));
  nv.reserve(static_cast<std::size_t>(kMaxPoints));
  for (int i = 1; i <= n; ++i) {
    if (static_cast<int>(nr.size()) >= kMaxPoints) return false;
    nr.push_back(r[i]);
    nv.push_back(v[i]);
    if (i == n) break;
    const long ua = std::lround(r[i] * 1e4), ub = std::lround(r[i + 1] * 1e4);
    if (ub - ua <= g) continue;
    // Grid positions strictly inside the gap, more than half a step away from
    // both neighbours.
    long k = (ua - base) / g + 1;
    for (long q = base + k * g; q < ub; q = base + (++k) * g) {
      if (2 * (q - ua) <= g || 2 * (ub - q) <= g) continue;
      if (static_cast<int>(nr.size()) >= kMaxPoints) return false;
      const double t = static_cast<double>(q - ua) / static_cast<double>(ub - ua);
      nr.push_back(static_cast<double>(q) * 1e-4);
      nv.push_back(v[i] + (v[i + 1] - v[i]) * t);
    }
  }
  const int m = static_cast<int>(nr.size());
  for (int i = 1; i <= m; ++i) {
    r[i] = nr[static_cast<std::size_t>(i - 1)];
    v[i] = nv[static_cast<std::size_t>(i - 1)];
  }
  st.scanPointCount[scan] = m;
  st.scanLastPoint[scan] = m;
  return true;
}

void BottomPointCut(AnalysisState& st, int scan) {
  const int n = st.scanLastPoint[scan];
  const int from = n - n / 8;
  const double* v = st.scanValue[scan];
  double largest = v[from];
  for (int i = from; i <= n; ++i) largest = std::max(largest, v[i]);
  const double h = 0.5 * largest;
  double p1 = 0, p2 = 0;  // running maximum and the maximum before it
  for (int i = from; i <= n; ++i) {
    if (v[i] <= 0.825 * p1 && v[i] <= 0.9 * p2 && std::fabs(v[i]) < h) {
      if (i - 1 >= st.scanFirstPoint[scan]) st.scanLastPoint[scan] = i - 1;
      return;
    }
    if (v[i] >= p1) {
      p2 = p1;
      p1 = v[i];
    }
  }
}

namespace {

// Keeps the points of a scan with lo <= r <= hi (when at least 20 remain).
bool CutScan(AnalysisState& st, int scan, double lo, double hi) {
  const int n = st.scanPointCount[scan];
  double* r = st.scanRadius[scan];
  double* v = st.scanValue[scan];
  int first = 1, last = n;
  while (first <= n && r[first] < lo - kSameRadius) ++first;
  while (last >= first && r[last] > hi + kSameRadius) --last;
  if (last - first + 1 < kMinPoints) return false;
  if (first == 1 && last == n) return true;
  const int m = last - first + 1;
  if (first > 1) {
    std::copy(r + first, r + last + 1, r + 1);
    std::copy(v + first, v + last + 1, v + 1);
  }
  st.scanPointCount[scan] = m;
  st.scanFirstPoint[scan] = 1;
  st.scanLastPoint[scan] = m;
  return true;
}

// Subtracts the 3000 rpm contour from every scan on the same radial grid.
void SubtractContour(AnalysisState& st) {
  const int count = st.profile3000Count;
  if (count < 2) return;
  const double* pr = st.profile3000Radius.data();
  const double* pv = st.profile3000Value.data();
  for (int s = 1; s <= st.scanCount; ++s) {
    CutScan(st, s, pr[1], pr[count]);
    double* r = st.scanRadius[s];
    double* v = st.scanValue[s];
    // The profile point at the scan's first radius (within 1e-6 cm); when the
    // grids are shifted against each other, the nearest profile point.
    const double* hit = std::lower_bound(pr + 1, pr + count + 1, r[1] - kSameRadius);
    int k = static_cast<int>(hit - pr);
    if (k > count) k = count;
    if (k > 1 && std::fabs(pr[k - 1] - r[1]) < std::fabs(pr[k] - r[1])) --k;
    const int offset = k - 1;
    int n = st.scanPointCount[s];
    if (offset + n > count) n = count - offset;
    if (n < 1) continue;
    for (int j = 1; j <= n; ++j) v[j] -= pv[offset + j];
    st.scanPointCount[s] = n;
    st.scanLastPoint[s] = n;
    st.rpm3000Offset[s] = offset;
  }
}

}  // namespace

void FinishLoading(AnalysisState& st, const LoadHooks& hooks) {
  if (st.scanCount < 1) return;
  // ω² of every scan relative to the first: s parameters are s·ω²_first.
  const double reference = st.omega2First;
  for (int s = 1; s <= st.scanCount; ++s) st.scanOmega2[s] /= reference;

  // 1. The radial scan speed matters only for absorbance scans of cells 1..8.
  if (!Interference(st) && st.absRadialStep == 0) st.absRadialStep = AbsorbanceRadialStep(st, 1);
  st.slitTimePerCm =
      (Interference(st) || st.cellNumber == 9) ? 0.0 : 120.0 / std::max(1, st.absRadialStep);

  // The series as loaded is the sequence (the viewer draws the sequence).
  for (int p = 1; p <= st.scanCount; ++p) st.scanSequence[p] = p;
  st.seqFirst = 1;
  st.seqLast = st.scanCount;
  st.omittedCount = 0;

  // 2. Simultaneous loading: one radial range for the whole series.
  if (Simultaneous(st)) {
    const auto pick = hooks.pickRange ? hooks.pickRange : PickRadialRange;
    const RadialPick range = pick(st, 0);
    if (range.end > range.start) {
      st.startRadius = range.start;
      st.endRadius = range.end;
    }
    if (range.meniscus > 0) st.meniscusMarked = range.meniscus;
    if (range.bottom > 0) st.bottomMarked = range.bottom;
    const double lo = range.meniscus > 0 ? std::min(range.start, range.meniscus) : range.start;
    const double hi = range.bottom > 0 ? range.bottom : 1e300;
    int whole = 0;  // scans with too few points in the range: kept whole
    for (int s = 1; s <= st.scanCount; ++s) {
      if ((lo > 0 || hi < 1e300) && !CutScan(st, s, lo, hi)) ++whole;
      if (st.interpolate && !Interference(st)) InterpolateScan(st, s, st.absRadialStep);
    }
    if (whole > 0)
      console::WriteLn(std::to_string(whole) + " data set(s) with fewer than " +
                       std::to_string(kMinPoints) + " points in the range: kept whole");
    // What was picked, as one-by-one loading shows it for each file.
    console::WriteLn("start radius for fitting   : " + FormatF(st.startRadius, 7, 4));
    console::WriteLn("end radius for fitting     : " + FormatF(st.endRadius, 7, 4));
    console::WriteLn("meniscus radius            : " + FormatF(range.meniscus, 7, 4));
    console::WriteLn("Number of data points/file : " + std::to_string(st.scanLastPoint[st.scanCount]) + "/ " +
                     FormatI(st.scanCount, 2));
    // The scans begin at the meniscus when it lies inside the start radius,
    // and the fit uses every point of a scan until option M moves its start.
    if (range.meniscus > 0 && range.meniscus < range.start - kSameRadius)
      console::WriteLn("the fit starts at the meniscus; option M moves it to the start radius");
  }

  // 3. Title lines.
  for (int k = 0; k < 3; ++k) {
    st.infoLines[static_cast<std::size_t>(k)] = st.titleLines[static_cast<std::size_t>(k)];
    st.infoLines[static_cast<std::size_t>(k + 3)] =
        st.secondSetLoaded ? st.secondTitleLines[static_cast<std::size_t>(k)] : std::string();
  }
  for (const std::string& line : st.infoLines)
    if (!line.empty()) console::WriteLn(line);
  console::WriteLn("wait");

  // 4. Interference: the 3000 rpm contour.
  if (Interference(st) && st.contourSubtraction) SubtractContour(st);

  // 5. Interference: half the smallest value is taken off every value, so
  // the data start near zero.
  double y0 = 0;
  if (Interference(st)) {
    double smallest = st.scanValue[1][1];
    for (int s = 1; s <= st.scanCount; ++s)
      for (int i = st.scanFirstPoint[s]; i <= st.scanLastPoint[s]; ++i)
        smallest = std::min(smallest, st.scanValue[s][i]);
    y0 = 0.5 * smallest;
    for (int s = 1; s <= st.scanCount; ++s)
      for (int i = 1; i <= st.scanPointCount[s]; ++i) st.scanValue[s][i] -= y0;
  }
  st.dataOffset = y0;

  // 6. Bottom point and outliers.
  if (st.lastBottomPoint == 'Y' || st.outlierCorrection == 'Y') {
    for (int s = 1; s <= st.scanCount; ++s) BottomPointCut(st, s);
  }
  // Asked for by the user, the bottom stays the end of every scan for the
  // radial cuts that follow; found only to keep the outlier test off the
  // bottom, it is not kept.
  for (int s = 1; s <= st.scanCount; ++s)
    st.bottomPoint[s] = st.lastBottomPoint == 'Y' ? st.scanLastPoint[s] : 0;
  if (st.outlierCorrection == 'Y') CorrectOutliers(st, y0);

  // 7. The default radii.
  double minR = st.scanRadius[1][1], maxR = minR;
  for (int s = 1; s <= st.scanCount; ++s) {
    minR = std::min(minR, st.scanRadius[s][st.scanFirstPoint[s]]);
    maxR = std::max(maxR, st.scanRadius[s][st.scanLastPoint[s]]);
  }
  st.minRadius = minR;
  st.maxRadius = maxR;
  if (st.startRadius <= 0) st.startRadius = minR;
  if (st.endRadius <= 0 || st.endRadius > maxR) st.endRadius = maxR;
  st.nearBottomRadius = st.endRadius;
  if (st.meniscusMarked <= 0) st.meniscusMarked = minR;
  if (st.bottomMarked <= 0) st.bottomMarked = maxR;
  st.origStartRadius = st.startRadius;
  st.origEndRadius = st.endRadius;

}

}  // namespace svfit::scans
