// Command line of svfit-sim. Options are "--name value" or "--name=value";
// components are "s=4.4,D=6e-7,c=0.8" or "s=4.4,M=66000,c=0.8[,vbar=0.73]",
// a molar mass being turned into D by the Svedberg equation at the run's
// temperature and solvent density once all options are read.
#include "sim/sim_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <stdexcept>

namespace svfit::sim {
namespace {

[[noreturn]] void fail(const std::string& message) { throw std::invalid_argument(message); }

double toNumber(const std::string& option, const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(v))
    fail(option + ": '" + text + "' is not a number");
  return v;
}

long toInteger(const std::string& option, const std::string& text) {
  const double v = toNumber(option, text);
  if (v != std::floor(v) || std::abs(v) > 1e15)
    fail(option + ": '" + text + "' is not a whole number");
  return static_cast<long>(v);
}

// A component before the solvent is known: D given, or M (and maybe v̄).
struct ComponentText {
  double s = 0, c0 = 0;
  std::optional<double> D, M, vbar;
};

ComponentText parseComponent(const std::string& text) {
  const std::string option = "--component '" + text + "'";
  ComponentText c;
  bool haveS = false, haveC = false;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t comma = text.find(',', pos);
    if (comma == std::string::npos) comma = text.size();
    const std::string item = text.substr(pos, comma - pos);
    pos = comma + 1;
    const std::size_t eq = item.find('=');
    if (eq == std::string::npos) fail(option + ": expected key=value, found '" + item + "'");
    const std::string key = item.substr(0, eq);
    const double v = toNumber(option + " " + key, item.substr(eq + 1));
    if (key == "s") {
      c.s = v;
      haveS = true;
    } else if (key == "D") {
      c.D = v;
    } else if (key == "M") {
      c.M = v;
    } else if (key == "c") {
      c.c0 = v;
      haveC = true;
    } else if (key == "vbar") {
      c.vbar = v;
    } else {
      fail(option + ": unknown key '" + key + "' (use s, D or M, c, vbar)");
    }
  }
  if (!haveS) fail(option + ": s= (Svedberg) is missing");
  if (!haveC) fail(option + ": c= (loading concentration) is missing");
  if (c.D.has_value() == c.M.has_value()) fail(option + ": give either D= or M=, not both or none");
  if (c.D && !(*c.D > 0)) fail(option + ": D must be above 0 cm^2/s");
  if (c.M && !(*c.M > 0)) fail(option + ": M must be above 0 g/mol");
  if (c.D && c.vbar) fail(option + ": vbar= goes with M=, not with D=");
  return c;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  SeriesSetup& setup = cl.setup;
  std::vector<ComponentText> components;
  double vbar = 0.73, density = 1.0;
  std::optional<double> step;
  std::optional<long> wavelength;

  for (std::size_t k = 0; k < args.size(); ++k) {
    std::string name = args[k];
    std::optional<std::string> inlineValue;
    if (const std::size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    auto flag = [&]() {
      if (inlineValue) fail(name + " takes no value");
    };
    auto value = [&]() -> std::string {
      if (inlineValue) return *inlineValue;
      if (k + 1 >= args.size()) fail(name + " needs a value");
      return args[++k];
    };
    auto number = [&]() { return toNumber(name, value()); };
    auto integer = [&]() { return toInteger(name, value()); };

    if (name == "--help" || name == "-h") {
      flag();
      cl.help = true;
    } else if (name == "--absorbance") {
      flag();
      setup.optics = Optics::kAbsorbance;
    } else if (name == "--interference") {
      flag();
      setup.optics = Optics::kInterference;
    } else if (name == "--component") {
      if (components.size() == kMaxComponents) fail("--component: at most four components");
      components.push_back(parseComponent(value()));
    } else if (name == "--vbar") {
      vbar = number();
    } else if (name == "--density") {
      density = number();
    } else if (name == "--rpm") {
      setup.run.rpm = number();
    } else if (name == "--accel-time") {
      setup.run.accelerationTime = number();
    } else if (name == "--temperature") {
      setup.temperature = number();
    } else if (name == "--wavelength") {
      wavelength = integer();
    } else if (name == "--meniscus") {
      setup.run.meniscus = number();
    } else if (name == "--bottom") {
      setup.run.bottom = number();
    } else if (name == "--r-start") {
      setup.radiusStart = number();
    } else if (name == "--r-end") {
      setup.radiusEnd = number();
    } else if (name == "--step") {
      step = number();
    } else if (name == "--first") {
      setup.firstScan = number();
    } else if (name == "--interval") {
      setup.interval = number();
    } else if (name == "--scans") {
      setup.scanCount = static_cast<int>(std::clamp(integer(), -1L, 100000L));
    } else if (name == "--noise") {
      setup.noise = number();
    } else if (name == "--ri-noise") {
      setup.riNoise = number();
    } else if (name == "--ti-noise") {
      setup.tiNoise = number();
    } else if (name == "--baseline") {
      setup.baseline = number();
    } else if (name == "--ceiling") {
      setup.ceiling = number();
    } else if (name == "--slit-time") {
      setup.secondsPerCm = number();
    } else if (name == "--seed") {
      const long seed = integer();
      if (seed < 0) fail("--seed must not be negative");
      setup.seed = static_cast<std::uint64_t>(seed);
    } else if (name == "--cell") {
      setup.cell = static_cast<int>(std::clamp(integer(), -1L, 100L));
    } else if (name == "--title") {
      setup.title = value();
    } else if (name == "--first-file") {
      setup.firstFileNumber = static_cast<int>(std::clamp(integer(), -1L, 1000000L));
    } else if (name == "--out") {
      cl.outputDir = value();
      if (cl.outputDir.empty()) fail("--out needs a directory");
    } else if (name == "--force") {
      flag();
      cl.overwrite = true;
    } else if (name == "--quiet") {
      flag();
      cl.quiet = true;
    } else if (name == "--tolerance") {
      setup.tolerance = number();
    } else {
      fail("unknown option '" + args[k] + "'");
    }
  }
  if (cl.help) return cl;

  const bool interference = setup.optics == Optics::kInterference;
  setup.radialStep = step.value_or(interference ? kPixelStep : 0.003);
  setup.wavelength = static_cast<int>(wavelength.value_or(interference ? 675 : 280));
  if (interference && setup.title == SeriesSetup{}.title) setup.title = "Sample";

  if (components.empty()) fail("give at least one --component (see --help)");
  for (const ComponentText& c : components) {
    Component comp{c.s, 0.0, c.c0};
    if (c.D) {
      comp.D = *c.D;
    } else {
      const double v = c.vbar.value_or(vbar);
      if (!(c.s * (1 - v * density) > 0))
        fail("--component with M=: s and 1 - vbar*density (" + std::to_string(1 - v * density) +
             ") must have the same sign and not be 0");
      comp.D = diffusionFromMolarMass(c.s, *c.M, v, density, setup.temperature);
    }
    setup.run.components.push_back(comp);
  }
  if (const std::string problem = checkSetup(setup); !problem.empty()) fail(problem);
  return cl;
}

std::string helpText() {
  return R"(svfit-sim: simulate a sedimentation velocity run and write its scan files.

The concentration profiles are the numerical solution of the Lamm equation for
the sector-shaped cell (one to four non-interacting components, closed meniscus
and bottom), accurate to the tolerance relative to the loading concentration.
One file per scan, as the instrument writes them (CRLF line ends):
  absorbance    NNNNN.RA<cell>: title, "R <cell> <T> <rpm> <time> <w2t> <nm> 1",
                radius / absorbance / standard deviation
  interference  NNNNN.IP<cell>: "cm/pixel:  <step>, <title>", "P ...",
                radius / fringes on a fixed pixel grid

Usage: svfit-sim --component SPEC [--component SPEC ...] [options]

Components (one to four):
  --component s=S,D=D,c=C         s [S], D [cm^2/s], loading concentration C
                                  [OD or fringes]
  --component s=S,M=M,c=C[,vbar=V]
                                  molar mass M [g/mol]; D from the Svedberg
                                  equation D = s R T / (M (1 - vbar rho))
  --vbar V         partial specific volume for M= components [ml/g] (0.73)
  --density RHO    solvent density [g/ml] (1.0)

Run:
  --rpm N          rotor speed [rpm] (42000)
  --accel-time S   linear acceleration from rest to speed [s] (0); header
                   times count from the start, w2t integrates the ramp;
                   scans may fall within it (the header keeps the set speed)
  --temperature T  [deg C] (20.0)
  --meniscus R     [cm] (6.0)
  --bottom R       [cm] (7.2)

Scans:
  --absorbance     absorbance scans, .RA<cell> (the default)
  --interference   interference scans, .IP<cell>
  --cell N         cell digit 1 to 9 (1)
  --wavelength NM  (280 absorbance, 675 interference)
  --title TEXT     title line ("Simulated run"; interference: "Sample")
  --r-start R      first radius written [cm] (5.9)
  --r-end R        last radius written, at most [cm] (7.25)
  --step H         radial step [cm] (0.003; interference 0.00071350165)
  --first T        elapsed time of the first scan [s] (300)
  --interval T     time between scans [s] (300); scan times are rounded to
                   whole seconds, as the header holds them
  --scans N        number of scans (30)
  --slit-time S    absorbance: seconds the slit needs per cm; the point at r
                   is taken at header time + S (r - first radius) (0)

Noise (in data units, 0 = none):
  --noise SD       independent Gaussian noise of every point (0)
  --ri-noise SD    one random offset per scan (radially independent) (0)
  --ti-noise SD    one smooth random radial profile added to every scan
                   (time independent), scaled to this rms (0)
  --baseline B     constant added to every value (0)
  --ceiling V      readings above V are written as V: the optics cannot
                   follow the steep pile-up at the bottom (no ceiling)
  --seed N         of all random numbers; the same seed gives the same
                   files (1)

Output:
  --out DIR        directory, created when missing (.)
  --first-file N   number of the first file name (1)
  --force          overwrite existing scan files (otherwise nothing is
                   written when one exists)
  --tolerance X    accuracy of the solution relative to the loading (1e-5)
  --quiet          no summary
  --help           this text

Example (absorbance, two species, realistic noise and slit delay):
  svfit-sim --component s=4.4,D=6e-7,c=0.6 --component s=7.0,D=4.5e-7,c=0.2 \
            --rpm 42000 --meniscus 6.05 --bottom 7.2 --cell 2 --noise 0.004 \
            --slit-time 40 --scans 30 --interval 300 --seed 7 --out abs
)";
}

}  // namespace svfit::sim
