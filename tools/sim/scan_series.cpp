// Scan series simulation: Lamm solution plus instrument-like noise, formatted
// line by line as the instrument software writes its scan files.
//
// Number forms (the reader converts them with strtod, the column widths keep
// the files readable side by side with real ones):
//   header  "R 2 20.0 42000 0001234 1.2345E10 280 1": temperature %04.1f,
//           speed right-aligned in 5, elapsed time in 7 digits with zeros,
//           ω²t with a 4-decimal mantissa and an unsigned 2-digit exponent;
//   absorbance data  "%9.4f" radius, value in 15 and deviation in 16 columns,
//           5-decimal mantissa and a 4-digit exponent ("4.60000E-0003");
//   interference data  "%9.4f" radius, value "%15.5E" ("1.62919E+00").
//
// Random numbers come from three separate 64-bit Mersenne Twister streams
// (TI profile, RI offsets, point noise) derived from the seed, with our own
// Box–Muller transform, so a seed gives the same files on every platform and
// changing one noise level does not reshuffle the others.
#include "sim/scan_series.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <stdexcept>
#include <utility>

namespace svfit::sim {
namespace {

constexpr const char* kLineEnd = "\r\n";

std::string format(const char* fmt, auto... args) {
  char buf[160];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

// Mantissa with `decimals` decimals and an exponent of `digits` digits,
// signed ("E-0003") or not ("E10").
std::string exponentForm(double x, int decimals, int digits, bool signedExponent) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*E", decimals, x);
  std::string s = buf;
  const std::size_t e = s.find('E');
  const int exponent = std::atoi(s.c_str() + e + 1);
  std::string out = s.substr(0, e + 1);
  if (signedExponent || exponent < 0) out += exponent < 0 ? '-' : '+';
  return out + format("%0*d", digits, std::abs(exponent));
}

std::string rightAligned(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

// splitmix64: decorrelated seeds for the separate streams.
std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

class Random {
 public:
  Random(std::uint64_t seed, std::uint64_t stream) : engine_(mix(seed ^ mix(stream))) {}
  double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }  // [0, 1)
  double gaussian() {  // Box–Muller, N(0, 1)
    if (hasSpare_) {
      hasSpare_ = false;
      return spare_;
    }
    const double u1 = 1.0 - uniform();  // (0, 1]
    const double u2 = uniform();
    const double radius = std::sqrt(-2.0 * std::log(u1));
    spare_ = radius * std::sin(2 * std::numbers::pi * u2);
    hasSpare_ = true;
    return radius * std::cos(2 * std::numbers::pi * u2);
  }

 private:
  std::mt19937_64 engine_;
  bool hasSpare_ = false;
  double spare_ = 0;
};

int pointCount(const SeriesSetup& setup) {
  if (!(setup.radialStep > 0) || !(setup.radiusEnd >= setup.radiusStart)) return 0;
  const double n = std::floor((setup.radiusEnd - setup.radiusStart) / setup.radialStep + 1e-9) + 1;
  return n > 1e7 ? 10000000 : static_cast<int>(n);
}

std::string titleLine(const SeriesSetup& setup) {
  if (setup.optics == Optics::kInterference)
    return format("cm/pixel:  %.11f, ", setup.radialStep) + setup.title;
  return setup.title;
}

// A smooth random radial profile: 16 cosines with periods between 0.03 and
// 0.5 cm and random phases, scaled to the wanted rms over the radii.
std::vector<double> smoothProfile(const std::vector<double>& radii, double rms, Random& rng) {
  std::vector<double> p(radii.size(), 0.0);
  if (rms <= 0 || radii.empty()) return p;
  for (int k = 0; k < 16; ++k) {
    const double period = 0.03 * std::pow(0.5 / 0.03, rng.uniform());  // [cm]
    const double phase = 2 * std::numbers::pi * rng.uniform();
    const double amplitude = rng.gaussian();
    for (std::size_t j = 0; j < radii.size(); ++j)
      p[j] += amplitude * std::cos(2 * std::numbers::pi * radii[j] / period + phase);
  }
  double sum = 0;
  for (double v : p) sum += v * v;
  const double scale = sum > 0 ? rms / std::sqrt(sum / static_cast<double>(p.size())) : 0.0;
  for (double& v : p) v *= scale;
  return p;
}

bool printable(const std::string& s) {
  for (unsigned char ch : s)
    if (ch < 32 || ch > 126) return false;
  return true;
}

}  // namespace

std::string headerLine(char kind, int cell, double temperature, double rpm, double elapsed,
                       double omega2t, int wavelength, int lastField) {
  return format("%c %d %04.1f %5ld %07ld ", kind, cell, temperature, std::lround(rpm),
                std::lround(elapsed)) +
         exponentForm(omega2t, 4, 2, false) + format(" %d %d", wavelength, lastField);
}

std::string absorbanceLine(double radius, double value, double sd) {
  return format("%9.4f", radius) + rightAligned(exponentForm(value, 5, 4, true), 15) +
         rightAligned(exponentForm(sd, 5, 4, true), 16);
}

std::string interferenceLine(double radius, double value) {
  return format("%9.4f%15.5E", radius, value);
}

std::string scanFileName(Optics optics, int number, int cell) {
  return format(optics == Optics::kAbsorbance ? "%05d.RA%d" : "%05d.IP%d", number, cell);
}

std::string checkSetup(const SeriesSetup& setup) {
  const Experiment& run = setup.run;
  const bool absorbance = setup.optics == Optics::kAbsorbance;
  if (run.components.empty() || run.components.size() > kMaxComponents)
    return "give one to four components";
  for (const Component& c : run.components) {
    if (!std::isfinite(c.s) || !std::isfinite(c.c0))
      return "a component's s or loading concentration is not a number";
    if (!(c.D > 0 && std::isfinite(c.D)))
      return "a component's diffusion coefficient must be above 0 (for a molar mass, s and "
             "1 - vbar*density must have the same sign)";
  }
  if (!(run.meniscus > 0 && run.bottom > run.meniscus))
    return format("the meniscus (%.4f cm) must lie above 0 and below the bottom (%.4f cm)",
                  run.meniscus, run.bottom);
  if (!(run.rpm >= 1000 && run.rpm <= 60000))
    return format("the rotor speed (%.0f rpm) must lie between 1000 and 60000 rpm", run.rpm);
  if (!(run.accelerationTime >= 0 && run.accelerationTime < 3600))
    return "the acceleration time must lie between 0 and 3600 s";
  if (!(setup.temperature >= 0 && setup.temperature <= 45))
    return "the temperature must lie between 0 and 45 deg C";
  if (!(setup.wavelength >= 190 && setup.wavelength <= 800))
    return "the wavelength must lie between 190 and 800 nm";
  if (setup.cell < 1 || setup.cell > 9) return "the cell number must be a digit 1 to 9";
  if (!printable(setup.title)) return "the title must be plain printable text";
  if (titleLine(setup).size() > kMaxTitleLength)
    return format("the title line must not exceed %d characters", kMaxTitleLength);
  if (!(setup.radiusStart > 0 && setup.radiusEnd > setup.radiusStart))
    return "the radial range must run from a positive start to a larger end";
  const double minStep = absorbance ? 0.001 : 0.0002;
  if (!(setup.radialStep >= minStep && setup.radialStep <= 0.1))
    return format("the radial step must lie between %g and 0.1 cm", minStep);
  const int points = pointCount(setup);
  if (points < 20 || points > kMaxPointsPerFile)
    return format("a scan would hold %d points; the program reads 20 to %d per file "
                  "(change the radial range or step)",
                  points, kMaxPointsPerFile);
  if (setup.scanCount < 1 || setup.scanCount > kMaxScansPerSeries)
    return format("the number of scans must lie between 1 and %d", kMaxScansPerSeries);
  if (setup.firstFileNumber < 1 || setup.firstFileNumber + setup.scanCount - 1 > 99999)
    return "file numbers must stay between 00001 and 99999";
  if (!(setup.firstScan >= 0)) return "the first scan must not come before the start";
  if (setup.scanCount > 1 && !(setup.interval >= 1))
    return "scans must be at least 1 s apart";
  const double last = setup.firstScan + (setup.scanCount - 1) * setup.interval;
  if (!(last <= 9999999)) return "the last scan time exceeds the 7 digits of the header";
  if (!(setup.secondsPerCm >= 0 && std::isfinite(setup.secondsPerCm)))
    return "the scanning time per cm must not be negative";
  if (!absorbance && setup.secondsPerCm > 0)
    return "interference scans are taken at one instant: no scanning time per cm";
  const double scanDuration = setup.secondsPerCm * (setup.radiusEnd - setup.radiusStart);
  if (setup.scanCount > 1 && scanDuration >= setup.interval)
    return format("a scan takes %.0f s at %g s/cm, longer than the %.0f s between scans",
                  scanDuration, setup.secondsPerCm, setup.interval);
  if (!(setup.noise >= 0 && setup.riNoise >= 0 && setup.tiNoise >= 0) ||
      !std::isfinite(setup.noise + setup.riNoise + setup.tiNoise))
    return "noise levels must not be negative";
  if (!std::isfinite(setup.baseline)) return "the base line is not a number";
  if (!(setup.ceiling >= 0 && std::isfinite(setup.ceiling)))
    return "the ceiling must not be negative";
  if (!(setup.tolerance > 0 && setup.tolerance <= 0.01))
    return "the tolerance must lie above 0 and at most 0.01";
  return "";
}

Series simulateSeries(const SeriesSetup& setup) {
  if (const std::string problem = checkSetup(setup); !problem.empty())
    throw std::invalid_argument(problem);
  const bool absorbance = setup.optics == Optics::kAbsorbance;

  Series series;
  const int points = pointCount(setup);
  for (int k = 0; k < points; ++k) {
    const double r = setup.radiusStart + k * setup.radialStep;
    // Absorbance radii are solved where the file says they are (4 decimals);
    // interference radii lie on the exact pixel grid the reader rebuilds.
    series.radii.push_back(absorbance ? std::round(r * 1e4) / 1e4 : r);
  }
  for (int i = 0; i < setup.scanCount; ++i)
    series.times.push_back(std::round(setup.firstScan + i * setup.interval));

  Profiles solution = solveLamm(setup.run, series.times, series.radii,
                                absorbance ? setup.secondsPerCm : 0.0, setup.tolerance);
  series.signal = std::move(solution.c);
  series.cells = solution.cells;
  series.errorEstimate = solution.errorEstimate;
  series.converged = solution.converged;

  Random tiRandom(setup.seed, 1), riRandom(setup.seed, 2), noiseRandom(setup.seed, 3);
  series.tiProfile = smoothProfile(series.radii, setup.tiNoise, tiRandom);
  for (int i = 0; i < setup.scanCount; ++i)
    series.riOffsets.push_back(setup.riNoise > 0 ? setup.riNoise * riRandom.gaussian() : 0.0);

  const std::string title = titleLine(setup);
  for (int i = 0; i < setup.scanCount; ++i) {
    std::string text = title + kLineEnd;
    text += headerLine(absorbance ? 'R' : 'P', setup.cell, setup.temperature, setup.run.rpm,
                       series.times[i], omega2tIntegral(setup.run, series.times[i]),
                       setup.wavelength, absorbance ? 1 : static_cast<int>(setup.run.rpm / 1000));
    text += kLineEnd;
    for (int j = 0; j < points; ++j) {
      double value = series.signal[i][j] + setup.baseline + series.tiProfile[j] +
                     series.riOffsets[i];
      if (setup.noise > 0) value += setup.noise * noiseRandom.gaussian();
      // The optics cannot follow the steep pile-up at the bottom.
      if (setup.ceiling > 0) value = std::min(value, setup.ceiling);
      text += absorbance ? absorbanceLine(series.radii[j], value, setup.noise)
                         : interferenceLine(series.radii[j], value);
      text += kLineEnd;
    }
    series.files.push_back(
        {scanFileName(setup.optics, setup.firstFileNumber + i, setup.cell), std::move(text)});
  }
  return series;
}

void writeSeries(const Series& series, const std::string& dir, bool overwrite) {
  namespace fs = std::filesystem;
  const fs::path base(dir.empty() ? "." : dir);
  std::error_code ec;
  fs::create_directories(base, ec);
  if (ec || !fs::is_directory(base))
    throw std::runtime_error("cannot create the directory " + base.string() +
                             (ec ? ": " + ec.message() : ""));
  if (!overwrite) {
    for (const ScanFile& f : series.files)
      if (fs::exists(base / f.name))
        throw std::runtime_error((base / f.name).string() +
                                 " exists already; nothing written (overwrite on request only)");
  }
  for (const ScanFile& f : series.files) {
    const fs::path path = base / f.name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(f.text.data(), static_cast<std::streamsize>(f.text.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
}

}  // namespace svfit::sim
