// The analysis state: everything the loader, the fit, the reports and the plots
// share about one series of radial scans of one cell.
//
// One instance is created at program start and reused by every restart. The
// capacities are fixed (700 scans of 2800 points, 16 parameters, 4 components);
// the large per-point matrices are reserved as untouched zero pages, so the
// idle program stays small and the memory becomes resident only where a series
// is actually loaded.
//
// Indices are 1-based everywhere, as in the dialogue and the reports: scan
// numbers 1..700, point numbers 1..2800, parameter numbers 1..16, components
// 1..4. Index 0 of every array exists and is unused.
//
// Invariants a maintainer must not break:
//   1 <= scanFirstPoint[s] <= scanLastPoint[s] <= scanPointCount[s] <= 2800,
//   scanRadius[s][i] increases with i,
//   every loop over a scan runs from scanFirstPoint to scanLastPoint and every
//   loop over the series over scanSequence[seqFirst..seqLast],
//   seqLast <= scanCount - omittedCount.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace svfit {

using Extended = long double;  // 80-bit extended precision on x86-64

inline constexpr int kMaxScans = 700;        // scans (files) per analysis
inline constexpr int kMaxPoints = 2800;      // points per scan
inline constexpr int kMaxReadPoints = 4001;  // scratch points of one file being read
inline constexpr int kMaxParams = 16;        // fit parameters
inline constexpr int kMaxComponents = 4;     // sedimenting components
inline constexpr int kLineLength = 72;       // console answer, header or title line

// A [scan][point] matrix of 700 x 2800 values with 1-based indices:
// m[s][i] for s = 1..700, i = 1..2800. A row is contiguous. The storage is
// mapped zero pages, so pages are only made resident when written.
template <typename T>
class ScanMatrix {
 public:
  static constexpr int kStride = kMaxPoints + 1;
  static constexpr std::size_t kBytes = static_cast<std::size_t>(kMaxScans + 1) * kStride * sizeof(T);
  ScanMatrix();
  T* operator[](int scan) { return data_.get() + static_cast<std::size_t>(scan) * kStride; }
  const T* operator[](int scan) const {
    return data_.get() + static_cast<std::size_t>(scan) * kStride;
  }

 private:
  struct Free {
    void operator()(T* p) const;
  };
  std::unique_ptr<T, Free> data_;
};

// Per-scan and per-index arrays: index 0 unused.
template <typename T>
using PerScan = std::array<T, kMaxScans + 1>;
template <typename T>
using PerPoint = std::array<T, kMaxPoints + 1>;
template <typename T>
using PerParam = std::array<T, kMaxParams + 1>;
template <typename T>
using PerComponent = std::array<T, kMaxComponents + 1>;

// Which parts of the screen and plot the next graph shows (option letters
// C, G, T, V, P, B of the option menu set them).
struct DisplayFlags {
  bool dataPoints = true;         // data points drawn
  bool fittedCurves = true;       // model curves drawn
  bool residuals = true;          // residual band drawn
  bool concentration = true;      // concentration profiles drawn
  bool gradient = false;          // gradient (dc/dr) profiles drawn
  bool partialTraces = false;     // models N and R: meniscus and bottom traces apart
  bool spread = false;            // spread the traces if possible
  bool slow = false;              // draw set by set (option P)
  int plotFirst = 1;              // first used data set shown (option B), 1-based
  int plotLast = 0;               // last used data set shown, 0 = all
  int plotStep = 1;               // every plotStep-th data set is shown
  // The flags as a new graph starts them (letters C, G, T, V, F and R); the
  // data sets chosen with B stay until the used sets change.
  void resetFlags() {
    *this = DisplayFlags{.plotFirst = plotFirst, .plotLast = plotLast, .plotStep = plotStep};
  }
};

// How the last fit ended: whether its numbers are a result. Set by the fit,
// read by the report and the displays; the texts are fit::FitOutcomeText.
enum class FitOutcome {
  kFitted,        // a convergence test held: the numbers are a fit result
  kStopped,       // key I or the iteration limit before convergence: F goes on
  kEvaluated,     // no free parameter: the model evaluated once at the given values
  kSingular,      // singular normal equations: some parameters cannot be determined
  kNotFinite,     // standard deviations that are not finite numbers
  kDiverged,      // the sum of squares ended above its start: the fit went to its best point
  kDampingLimit,  // stopped at the damping limit before converging
};

struct AnalysisState {
  AnalysisState();
  // Every start of an analysis (the first and each restart): clears param,
  // component count and flags, sets radialStep, divisor and concentration to
  // their initial values. The set-up defaults (psv, rho, iterations, model
  // letter) are kept.
  void resetForAnalysis();
  // Start of loading: scanCount 0, seqFirst 1, scanFirstPoint 1 for every scan,
  // radial range and the meniscus and bottom marks 0, second-set mark cleared.
  void resetSeries();
  // psvRho[k] = psv[k] * rho for every component.
  void updatePsvRho();

  // ---- Per-point matrices, 700 scans x 2800 points -------------------------
  ScanMatrix<double> scanRadius;            // radius of the point [cm]
  ScanMatrix<double> scanValue;             // measured value [OD or fringes]; cleaned in place
  ScanMatrix<double> modelValue;            // scanValue minus model value (no noise terms)
  ScanMatrix<double> fitCurve;              // fitted value: model plus noise terms
  ScanMatrix<std::uint16_t> pointMultiplicity;  // 1 up to scanLastPoint, 0 beyond
  // paramDeriv[m] holds the derivative with respect to the m-th free parameter.
  // Allocated (zero pages) only when first used by a fit: see paramDerivBlock().
  ScanMatrix<double>& paramDerivBlock(int m);  // m = 1..16

  // ---- Per-scan arrays, scan 1..700 ----------------------------------------
  PerScan<int> scanPointCount{};      // points stored for the scan
  PerScan<int> scanFirstPoint{};      // first point used for fitting (1 after loading)
  PerScan<int> scanLastPoint{};       // last point used for fitting
  PerScan<int> bottomPoint{};         // last point before the cell bottom found at loading, 0 = not asked for
  PerScan<double> scanOmega2{};       // ω² of the scan [rad²/s²], divided by omega2First after loading
  PerScan<double> scanRunTime{};      // header ω²t integral / ω² of the scan [s]
  PerScan<double> scanElapsed{};      // header elapsed time since the rotor started [s]
  PerScan<double> scanTime{};         // time used by the models [s]: run time + slit correction
  PerScan<std::string> scanTitle;     // header line of the scan file
  PerScan<std::string> scanFileName;  // path of the file the scan was read from
  PerScan<double> riNoise{};          // radially independent baseline offset [data units]
  PerScan<int> rpm3000Offset{};       // index shift against the 3000 rpm profile

  // ---- Per-radial-index arrays, point 1..2800 ------------------------------
  PerPoint<double> tiNoise{};         // time-independent noise of the index [data units]
  PerPoint<int> pointScanCount{};     // used scans containing the index
  PerPoint<double> profile3000Radius{};  // 3000 rpm profile: radius [cm]
  PerPoint<double> profile3000Value{};   // 3000 rpm profile: value (interference: minus its minimum)
  int profile3000Count = 0;           // points of the 3000 rpm profile

  // ---- Series bookkeeping ---------------------------------------------------
  int scanCount = 0;                  // scans loaded
  PerScan<int> scanSequence{};        // scan numbers in fit/list/draw order
  int seqFirst = 1;                   // first used position in scanSequence
  int seqLast = 0;                    // last used position in scanSequence
  int omittedCount = 0;               // scans removed by option A
  int curScan = 0;                    // scan under work
  int maxPointCount = 0;              // largest scanLastPoint over the used scans
  int maxPointScan = 0;               // first scan that has it

  // ---- Scan header values (the last file's stay for the report) ------------
  int cellNumber = 0;                 // cell 1..9
  double temperature = 20.0;          // [°C]
  double rotorSpeed = 0;              // [rpm]
  double wavelength = 0;              // [nm]
  double runTime = 0;                 // header ω²t / ω² [s]
  double timeOffset = 0;              // |elapsed time − runTime| [s]
  double headerSeventh = 0;           // seventh header number (replicates or similar)
  double omega2First = 0;             // ω² of the first scan loaded [rad²/s²]
  double rpmFirst = 0;                // rotor speed of the first scan [rpm]
  double rpmLast = 0;                 // rotor speed of the last scan [rpm]

  // ---- Radial range of the series [cm] -------------------------------------
  double startRadius = 0;             // start radius for fitting
  double endRadius = 0;               // end radius for fitting
  double nearBottomRadius = 0;        // near-bottom radius
  double meniscusMarked = 0;          // meniscus marked in the viewer
  double bottomMarked = 0;            // bottom marked in the viewer
  double origStartRadius = 0;         // start radius as first chosen
  double origEndRadius = 0;           // end radius as first chosen
  double minRadius = 0, maxRadius = 0;  // extent of the loaded radii
  double fileMinRadius = 0, fileMaxRadius = 0;  // radii the files cover, before any cut; 0: unknown
  double minValue = 0, maxValue = 0;    // extent of the loaded values (plot scales)

  // ---- Title lines ---------------------------------------------------------
  std::array<std::string, 3> titleLines;        // first three lines of the scan file
  std::array<std::string, 3> secondTitleLines;  // of a second file set
  bool secondSetLoaded = false;       // more files were added after "FURTHER FILE NOT FOUND"
  int secondSpeedFirstScan = 0;       // first scan of a second speed set, 0 if none

  // ---- Run options (first dialog) ------------------------------------------
  char fileGeneration = 'N';          // 'N' new, 'O' old, 'I' interference files
  char dataKind = 'R';                // 'R' absorbance, 'P' interference
  std::string dataKindText = " (absorption)";  // printed in reports
  double valueLimit = 3.0;            // largest data value accepted [OD or fringes]
  std::array<std::string, 2> fileMasks{"r??", ".r?"};
  bool interpolate = false;           // fill missing absorbance points
  bool use3000 = false;               // 3000 rpm file option
  bool contourSubtraction = false;    // interference: subtract the 3000 rpm contour
  bool loadOneByOne = false;          // one-by-one loading instead of simultaneous
  char outlierCorrection = 'N';       // 'Y' or 'N'
  char lastBottomPoint = 'N';         // 'Y' or 'N'
  double radialStep = 0.00072625799;  // interference point spacing [cm]
  int absRadialStep = 0;              // absorbance radial step [0.001 cm]
  double extinction3000 = 0;          // 3000 rpm extinction [OD]
  double slope3000 = 0;               // 3000 rpm slope [OD/cm]
  double concentration = -1;          // loading concentration [mg/ml], -1 unknown
  double concDivisor = 1.0;           // divisor for conversion to concentration
  double dataOffset = 0;              // interference: half the smallest value [fringes]

  // ---- File selection ------------------------------------------------------
  std::string directoryPath;          // ends in "/"
  std::string currentFileName;        // full path of the file being read
  std::string firstFileName;          // full path of the start file
  int fileNumberWidth = 5;            // digits of the numeric part of the name
  std::string extension;              // e.g. "ra1", "IP4" (case as found)
  int startFileNumber = 1;            // number of the start file
  int fileStep = 1;                   // every n-th file
  std::string file3000Name;           // file picked as the 3000 rpm scan

  // ---- Fit set-up (set by the set-up dialog) --------------------------------
  char modelLetter = 'C';             // F, H, P, S, R, N, C, M, O or D
  char prevModelLetter = 'Z';         // 'Z' = no model yet
  PerParam<double> param{};           // parameter vector P[1..16]
  PerParam<double> startValue{};      // parameters when the last fit started
  int paramCount = 0;                 // parameters of the layout in use
  int dParamIndex = 0;                // position of component 1's D-or-M parameter
  int componentCount = 0;             // sedimenting components (1..4)
  PerParam<int> freeIndex{};          // parameter numbers being fitted, ascending
  int freeCount = 0;                  // number of fitted parameters
  int maxIterations = 200;            // 0 = no fit
  double dampStart = 5;               // damping answer (sign kept)
  double dampQ = 5;                   // damping the next fit starts with
  PerComponent<double> psv{};         // partial specific volume [ml/g]
  PerComponent<double> psvRho{};      // psv * rho
  double rho = 1.0;                   // solvent density [g/ml]
  double viscosity = 1.0;             // solvent viscosity [cP]
  bool riNoiseOn = false;             // eliminate radially independent noise
  bool tiNoiseOn = false;             // eliminate time-independent noise
  double diffTimeOffset = 0;          // added to the time of diffusion terms [s]
  double slitTimePerCm = 0;           // scan-speed factor [s/cm], 0 unused
  PerComponent<bool> molMassGiven{};  // D-or-M parameter holds a molar mass
  PerComponent<double> dPerS{};       // D = s·dPerS when molMassGiven
  PerComponent<double> epsPerS{};     // eps numerator when molMassGiven
  // The D [cm²/s] each component ended the last fit with (0 for a molar
  // mass): carried on unchanged as a start value it stays a D, even above the
  // 2e-5 that marks a typed or estimated value as a molar mass.
  PerComponent<double> fittedDiffusion{};
  double bottomMin = 0;               // smallest admissible bottom radius [cm]
  double linearRefRadius = 0;         // radius where the linear term of R and N is 0 [cm]
  std::array<double, 5> markedS{};    // S1..S4 picked in the viewer [S]
  std::array<double, 5> markedAmp{};  // amplitudes at the picked positions
  int markedCount = 0;                // components marked in the viewer
  double maxAbsorbance = 0;           // common maximal absorbance A_max, 0 = none
  double origMaxValue = 0;            // largest value after the loading cut (A_orig)
  double displayOffset = 0;           // offset of the data in plots and viewer
  int graphDriver = 0;                // graphics driver number from the start of the analysis
  int graphMode = 0;                  // graphics mode for ShowGraphics in every later graph

  // ---- Fit results ----------------------------------------------------------
  PerParam<double> stdDev{};          // standard deviation of the i-th free parameter
  int iterCount = 0;                  // iterations done
  int faultCount = 0;                 // rejected iterations
  double sumSq = 0;                   // sum of squared residuals of the last evaluation
  double sigma = 0;                   // rms deviation after the fit
  double sumSqData = 0;               // Σ scanValue² over the fitted points
  long pointTotal = 0;                // fitted points
  double dampFinal = 0;               // damping at the end of the fit
  double fitSeconds = 0;              // accumulated fit time [s]
  bool fitDone = false;               // at least one iteration ran
  bool restoredAfterFit = false;      // O since the last fit: its report is of other data sets
  FitOutcome fitOutcome = FitOutcome::kFitted;  // how the last fit ended
  unsigned undeterminedParams = 0;    // bit k set: the last fit could not determine P[k]
  double validityValue = 0;           // bounded-cell validity maximum
  int validityScan = 0;               // scan of the last maximum still at most 1
  double archibaldMeniscus = 0;       // [g/mol]
  double archibaldBottom = 0;         // [g/mol]
  double meanRiOffset = 0;            // mean RI offset over the sequence
  double meniscusCorrValue = 1.0;     // meniscusCorr(P[4]) of the last step
  char postFitOption = ' ';           // option letter of the menu; 'F' resumes a fit
  double dampFitStart = 5;            // damping q the last fit started with (report)

  // ---- Display and report ---------------------------------------------------
  DisplayFlags display;               // what the next graph shows
  std::string setTitle;               // current data-file set (path without extension)
  std::string firstSetTitle;          // first set when a second one was loaded
  std::array<std::string, 6> infoLines;  // information lines of the loaded series
  std::string dataFileNote;           // data-file note shown on the console report

  // ---- Sedimentation coefficient distribution g(s*) --------------------------
  // What the last distribution computed, kept for its display, its file and
  // the plot files. G and s* belong to the radial points of the middle scan.
  bool distExists = false;            // a distribution was computed in this analysis
  char distMethod = 'T';              // 'R' radial derivative, 'T' time derivative
  int distFirstScan = 0;              // k0: first scan of the range
  int distLastScan = 0;               // k: last scan of the range (the plateau scan)
  int distAverage = 0;                // n_avg: scans averaged beyond the first
  int distDistance = 0;               // d: scan distance of the time difference (0 for R)
  int distPasses = 0;                 // smoothing passes over scans and profile
  int distMidScan = 0;                // c: the scan whose radii carry G
  int distPointCount = 0;             // n: points of G (last used point of scan k)
  int distPlateau = 0;                // p: plateau index found in scan k
  int distCut = 0;                    // m_cut: points between the end shown and p (130 R, 180 T)
  int distStart = 0;                  // e div 16 (at least 1): first point shown and written
  int distEnd = 0;                    // e = p - m_cut: last point shown and written
  double distMidTime = 0;             // t_mid: run time the abscissa refers to [s]
  PerPoint<double> distG{};           // g(s*) of point 1..distPointCount [data units, 1e-12 scale]
  PerPoint<double> distS{};           // s* of point 1..distPointCount [S]
  double distMin = 0, distMax = 0;    // smallest and largest G over e div 16 .. e
  double distCorrectionK = 0;         // K of the time-method correction; 0: none
  bool distMarksPending = false;      // peaks marked on the display, not yet taken by a set-up

 private:
  std::array<std::unique_ptr<ScanMatrix<double>>, kMaxParams + 1> paramDeriv_;
};

}  // namespace svfit
