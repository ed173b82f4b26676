// A simulated series of radial scans of one cell, written as the instrument
// writes them: one text file per scan, CRLF line ends, upper-case names
// 00001.RA2 (absorbance) or 00001.IP4 (interference).
//
//   line 1  title ("cm/pixel:  0.00071350165, <title>" for interference)
//   line 2  R|P cell temperature rpm elapsed-time ω²t wavelength n
//   data    radius, value, standard deviation (absorbance)
//           radius, value (interference, on a fixed pixel grid)
//
// Every value is the Lamm solution of the run plus the noise asked for:
// a base line, a smooth time-independent radial profile (TI), a per-scan
// offset (RI) and independent Gaussian noise per point.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/lamm.h"

namespace svfit::sim {

enum class Optics { kAbsorbance, kInterference };

inline constexpr int kMaxPointsPerFile = 2800;  // the reader stops the program above this
inline constexpr int kMaxScansPerSeries = 700;  // scans one analysis holds
inline constexpr int kMaxTitleLength = 72;      // characters the reader keeps of a line
inline constexpr double kPixelStep = 0.00071350165;  // interference pixel [cm]

struct SeriesSetup {
  Optics optics = Optics::kAbsorbance;
  Experiment run;                 // cell geometry, rotor, components
  double temperature = 20.0;      // [°C], header and Svedberg conversions
  int wavelength = 280;           // [nm]
  int cell = 1;                   // cell digit 1..9
  std::string title = "Simulated run";  // free text of line 1
  double radiusStart = 5.9;       // first radius written [cm]
  double radiusEnd = 7.25;        // last radius written, at most [cm]
  double radialStep = 0.003;      // [cm]
  double firstScan = 300;         // elapsed time of scan 1 [s]
  double interval = 300;          // between scans [s]
  int scanCount = 30;
  double secondsPerCm = 0;        // scanning-slit travel time, absorbance only [s/cm]
  double noise = 0;               // sd of independent noise per point [data units]
  double riNoise = 0;             // sd of the per-scan offset [data units]
  double tiNoise = 0;             // rms of the fixed smooth radial profile [data units]
  double baseline = 0;            // constant added to every value [data units]
  double ceiling = 0;             // readings above it are written as it; 0: none [data units]
  std::uint64_t seed = 1;         // of all random numbers
  int firstFileNumber = 1;        // number of the first file name
  double tolerance = 1e-5;        // of the Lamm solution, relative to the loading
};

struct ScanFile {
  std::string name;  // "00001.RA2"
  std::string text;  // whole file, CRLF line ends
};

struct Series {
  std::vector<ScanFile> files;
  std::vector<double> times;      // elapsed time of each scan [s]
  std::vector<double> radii;      // radii of every scan [cm]
  std::vector<std::vector<double>> signal;  // Lamm solution, noise-free [scan][point]
  std::vector<double> riOffsets;  // per-scan offset added [data units]
  std::vector<double> tiProfile;  // per-radius profile added [data units]
  int cells = 0;                  // radial cells of the solution's finest grid
  double errorEstimate = 0;       // of the solution, relative to the loading
  bool converged = false;         // errorEstimate <= the setup's tolerance
};

// Checks a setup and returns the first problem as a sentence, "" when sound.
std::string checkSetup(const SeriesSetup& setup);

// Solves the run and builds every file in memory. Throws std::invalid_argument
// with the message of checkSetup for an unsound setup.
Series simulateSeries(const SeriesSetup& setup);

// Writes the files into dir (created when missing). Refuses, before writing
// anything, when a file of the series exists and overwrite is false. Throws
// std::runtime_error naming the file on any failure.
void writeSeries(const Series& series, const std::string& dir, bool overwrite);

// The pieces of a scan file, each without its line end.
std::string headerLine(char kind, int cell, double temperature, double rpm, double elapsed,
                       double omega2t, int wavelength, int lastField);
std::string absorbanceLine(double radius, double value, double sd);
std::string interferenceLine(double radius, double value);
std::string scanFileName(Optics optics, int number, int cell);

}  // namespace svfit::sim
