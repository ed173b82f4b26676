// The results file (JSON Lines) and the curve files (CSV) of each fit.
//
// Every number is computed as the report computes it, so a value read from
// the JSON and printed in the report's form gives the report's digits:
// sedimentation coefficients are kept as s·ω²_first [1/s] and also given in
// Svedberg units (× 1e13/ω²_first); the base line is shown as P[3] plus the
// mean RI offset when RI noise replaces it (no TI noise), without a standard
// deviation; the iteration count is the report's (iterations + faults); the
// radius range runs from the start radius to the near-bottom radius [cm]; the
// Archibald masses are given where the report shows them, else null.
//
// The JSON is built with nlohmann::ordered_json (fields in reading order) and
// written on one line; non-finite numbers become null, bytes that are not
// UTF-8 (a Latin-1 file name) are replaced rather than refused.
#include "results/fit_outputs.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <cstdio>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include <nlohmann/json.hpp>

#include "console/crt.h"
#include "models/catalogue.h"
#include "results/fit_outcome.h"
#include "results/molecular.h"

namespace svfit::results {
namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

// A number, or null when it is not finite (an undefined derived quantity).
Json Number(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }
Json Number(Extended v) { return Number(static_cast<double>(v)); }

// Position of parameter k in the free list, 0 when k was fixed.
int FreePosition(const AnalysisState& st, int k) {
  for (int i = 1; i <= st.freeCount && i <= kMaxParams; ++i) {
    if (st.freeIndex[i] == k) return i;
  }
  return 0;
}

double StdDevOf(const AnalysisState& st, int k) {
  const int i = FreePosition(st, k);
  return i > 0 ? st.stdDev[i] : 0.0;
}

std::string Trimmed(std::string s) {
  s.erase(s.find_last_not_of(' ') + 1);
  return s;
}

// The role of parameter k in the model: short name, unit and component.
struct Role {
  std::string name;
  std::string unit;
  int component = 0;  // 0: belongs to no component
};

Role RoleOf(const AnalysisState& st, const models::ModelInfo& model, int k) {
  const std::string data = st.dataKind == 'P' ? "fringes" : "OD";
  const int components = models::componentCountFor(model, st.paramCount);
  for (int c = 1; c <= components; ++c) {
    const models::ComponentSlots slot = models::componentSlots(model, c);
    if (k == slot.c0) return {"c0", data, c};
    if (k == slot.s) return {"s", "1/s", c};           // s·ω²_first
    if (k == slot.dOrM) return {"D", "cm2/s", c};     // a given molar mass is applied as D
  }
  if (k == 3) return {"base_line", data};
  if (k == 4) return {"meniscus", "cm"};
  if (model.hasBottom && k == 5) return {"bottom", "cm"};
  if (model.hasBottom && k == 6) return {"slope", data + "/cm"};  // the term linear in r
  if (model.layout == models::Layout::Fujita && k == 5) return {"k", "1/" + data};  // s = s0·(1 − k·c)
  return {"p" + std::to_string(k), ""};
}

const char* OutcomeName(FitOutcome outcome) {
  switch (outcome) {
    case FitOutcome::kFitted: return "fitted";
    case FitOutcome::kStopped: return "stopped";
    case FitOutcome::kEvaluated: return "evaluated";
    case FitOutcome::kSingular: return "singular";
    case FitOutcome::kNotFinite: return "not_finite";
    case FitOutcome::kDiverged: return "diverged";
    case FitOutcome::kDampingLimit: return "damping_limit";
  }
  return "unknown";
}

bool IsSedimentation(const Role& r) { return r.name == "s"; }

Json Parameters(const AnalysisState& st, const models::ModelInfo& model) {
  const double sFactor = 1e13 / st.omega2First;  // s·ω²_first [1/s] -> Svedberg
  const bool riBaseLine = st.riNoiseOn && !st.tiNoiseOn;
  Json list = Json::array();
  for (int k = 1; k <= st.paramCount && k <= kMaxParams; ++k) {
    const Role role = RoleOf(st, model, k);
    const bool fixed = FreePosition(st, k) == 0;
    double value = st.param[k];
    Json sd = fixed ? Json(nullptr) : Number(StdDevOf(st, k));
    if (k == 3 && riBaseLine) {
      value += st.meanRiOffset;  // the base-line level of the RI offsets
      sd = nullptr;
    }
    Json p;
    p["index"] = k;
    p["name"] = role.name;
    if (role.component > 0) p["component"] = role.component;
    p["label"] = Trimmed(models::parameterName(model.layout, k));
    p["unit"] = role.unit;
    p["value"] = Number(value);
    p["sd"] = sd;
    p["start"] = Number(st.startValue[k]);
    p["fixed"] = fixed;
    if (IsSedimentation(role)) {
      p["value_svedberg"] = Number(st.param[k] * sFactor);
      p["sd_svedberg"] = fixed ? Json(nullptr) : Number(StdDevOf(st, k) * sFactor);
      p["start_svedberg"] = Number(st.startValue[k] * sFactor);
    }
    if (role.name == "D") p["molar_mass_given"] = st.molMassGiven[role.component];
    list.push_back(std::move(p));
  }
  return list;
}

// The molecular quantities of each component, as the report's four lines.
Json Components(const AnalysisState& st, const models::ModelInfo& model) {
  const double sFactor = 1e13 / st.omega2First;
  Json list = Json::array();
  const int components = models::componentCountFor(model, st.paramCount);
  for (int c = 1; c <= components; ++c) {
    const ComponentInput in = ComponentInputOf(st, c);
    const MolecularQuantities q = ComputeMolecularQuantities(st, in);
    Json j;
    j["component"] = c;
    j["s_svedberg"] = Number(in.sw * sFactor);
    j["D"] = Number(in.D);
    j["psv"] = Number(in.vbar);
    j["psv_rho"] = Number(in.vrho);
    j["molar_mass"] = Number(q.molarMass);
    j["molar_mass_sd"] = Number(q.sdMolarMass);
    j["stokes_radius_m"] = Number(0.01L * q.stokesRadius);
    j["excluded_volume_l_per_g"] = Number(q.excludedVolume);
    j["water_thickness_m"] = Number(0.01L * (q.stokesRadius - q.anhydrousRadius));
    j["water_volume_ml_per_g"] = Number(q.waterVolume);
    j["friction_ratio"] = Number(q.frictionRatio);
    j["remarks"] = MolecularRemarks(q, in);
    list.push_back(std::move(j));
  }
  return list;
}

// The Archibald masses where the report prints them [g/mol].
Json Archibald(const AnalysisState& st, const models::ModelInfo& model) {
  bool meniscus = false, bottom = false;
  switch (model.reportFamily) {
    case 'N': meniscus = bottom = st.paramCount == 7; break;
    case 'R': bottom = true; break;
    case 'F': meniscus = st.paramCount == 5; break;
    case 'S': meniscus = true; break;
    default: break;  // H, P: none
  }
  // H, P and S have no meniscus boundary to evaluate: the report prints 0 for
  // S (its layout has the line), the results file says there is no value.
  meniscus = meniscus && model.archibald;
  Json j;
  j["meniscus"] = meniscus ? Number(st.archibaldMeniscus) : Json(nullptr);
  j["bottom"] = bottom ? Number(st.archibaldBottom) : Json(nullptr);
  return j;
}

// The directory of the series as an absolute path, and a scan's file
// relative to it when it lies there.
std::string AbsoluteDirectory(const std::string& dir) {
  std::error_code ec;
  const fs::path p = fs::absolute(dir.empty() ? fs::path(".") : fs::path(dir), ec);
  std::string s = (ec ? fs::path(dir) : p.lexically_normal()).string();
  if (!s.empty() && s.back() != '/') s += '/';
  return s;
}

std::string FileInSeries(const std::string& directory, const std::string& path) {
  if (path.empty()) return "";
  std::error_code ec;
  const std::string abs = fs::absolute(path, ec).lexically_normal().string();
  if (!ec && abs.compare(0, directory.size(), directory) == 0) return abs.substr(directory.size());
  return ec ? path : abs;
}

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Shortest text that reads back as the same double.
void AppendNumber(std::string& out, double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

std::string IsoNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string s = buf;  // +hhmm -> +hh:mm
  if (s.size() >= 5) s.insert(s.size() - 2, ":");
  return s;
}

}  // namespace

std::string FitResultsJson(const AnalysisState& st, const FitOutputSettings& settings,
                           const FitStamp& stamp) {
  const models::ModelInfo& model = models::modelInfo(st.modelLetter);
  const std::string directory = AbsoluteDirectory(st.directoryPath);
  Json j;
  j["program"] = "svfit";
  j["version"] = settings.version;
  j["fit"] = stamp.fitNumber;
  j["date"] = stamp.date;
  j["directory"] = directory;
  Json files = Json::array();
  for (int pos = std::max(st.seqFirst, 1); pos <= std::min(st.seqLast, kMaxScans); ++pos) {
    const int s = st.scanSequence[pos];
    if (s < 1 || s > kMaxScans) continue;
    files.push_back({{"scan", s}, {"file", FileInSeries(directory, st.scanFileName[s])},
                     {"time", Number(st.scanTime[s])}});
  }
  j["files"] = std::move(files);
  j["cell"] = st.cellNumber;
  j["data_kind"] = st.dataKind == 'P' ? "interference" : "absorbance";
  j["model"] = std::string(1, model.letter);
  j["components"] = models::componentCountFor(model, st.paramCount);
  // How the fit ended: "fitted" alone is a fit result (the report's header
  // says the others in words).
  j["outcome"] = OutcomeName(st.fitOutcome);
  const std::string outcomeLine = FitOutcomeLine(st);
  j["outcome_text"] = outcomeLine.empty() ? Json(nullptr) : Json(outcomeLine);
  Json undetermined = Json::array();
  for (int k = 1; k <= kMaxParams; ++k)
    if (st.undeterminedParams & (1u << k)) undetermined.push_back(k);
  j["undetermined"] = std::move(undetermined);
  j["parameters"] = Parameters(st, model);
  j["rmsd"] = Number(st.sigma);
  j["ssr"] = Number(st.sumSq);
  j["points"] = st.pointTotal;
  j["scans"] = st.seqLast - st.seqFirst + 1;
  j["iterations"] = st.iterCount + st.faultCount;
  j["faults"] = st.faultCount;
  j["damping"] = {{"start", Number(st.dampFitStart)}, {"final", Number(st.dampFinal)}};
  // ε = 2D/(r_m²·s·ω²_first) and τ = 2·s·ω²·t of the last scan, as reported.
  const double eps = 2 * st.param[model.dParamIndex] / (st.param[4] * st.param[4] * st.param[2]);
  j["epsilon"] = Number(eps);
  const int last = st.seqLast >= 1 && st.seqLast <= kMaxScans ? st.scanSequence[st.seqLast] : 0;
  j["tau"] = Number(2 * st.param[2] * st.scanTime[last]);
  j["radius_range"] = {{"start", Number(st.startRadius)}, {"end", Number(st.nearBottomRadius)}};
  j["noise"] = {{"ti", st.tiNoiseOn},
                {"ri", st.riNoiseOn},
                {"mean_ri_offset", Number(st.meanRiOffset)}};
  j["slit_speed_mm_per_s"] = Number(st.slitTimePerCm > 1e-10 ? 10.0 / st.slitTimePerCm : 0.0);
  j["time_offset"] = Number(st.diffTimeOffset);
  j["data_offset"] = Number(st.dataOffset);
  j["fit_seconds"] = Number(st.fitSeconds);
  j["max_iterations"] = st.maxIterations;
  j["outlier_correction"] = st.outlierCorrection == 'Y';
  j["temperature"] = Number(st.temperature);
  j["wavelength"] = Number(st.wavelength);
  j["rotor_speed"] = Number(st.rpmFirst);
  j["rotor_speed_last"] = Number(st.rpmLast);
  Json psv = Json::array();
  for (int c = 1; c <= models::componentCountFor(model, st.paramCount); ++c)
    psv.push_back(Number(st.psv[c]));
  j["psv"] = std::move(psv);
  j["density"] = Number(st.rho);
  j["viscosity"] = Number(st.viscosity);
  if (model.hasBottom)
    j["validity"] = {{"value", Number(st.validityValue)}, {"scan", st.validityScan}};
  j["molecular"] = Components(st, model);
  j["archibald"] = Archibald(st, model);
  if (!stamp.curveFiles.empty()) j["curves"] = stamp.curveFiles;
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ScanCurveCsv(const AnalysisState& st, int scan) {
  std::string out = "radius_cm,measured,fitted,residual,ri_noise,ti_noise\n";
  const double ri = st.riNoiseOn ? st.riNoise[scan] : 0.0;
  const int last = std::min(st.scanLastPoint[scan], kMaxPoints);
  for (int j = std::max(st.scanFirstPoint[scan], 1); j <= last; ++j) {
    // Interference values were loaded less the data offset (half the
    // smallest value); here they are as in the scan file again.
    const double measured = st.scanValue[scan][j] + st.dataOffset;
    const double fitted = st.fitCurve[scan][j] + st.dataOffset;  // residual: their difference
    for (const double v : {st.scanRadius[scan][j], measured, fitted, measured - fitted, ri,
                           st.tiNoiseOn ? st.tiNoise[j] : 0.0}) {
      AppendNumber(out, v);
      out += ',';
    }
    out.back() = '\n';
  }
  return out;
}

std::string CurveFileName(const AnalysisState& st, int fitNumber, int scan) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "fit%03d-", fitNumber);
  const std::string base = BaseName(st.scanFileName[scan]);
  return prefix + (base.empty() ? "scan" + std::to_string(scan) : base) + ".csv";
}

void FitOutputWriter::Report(bool& told, const std::string& what, const std::string& path) {
  const int error = errno;
  if (told) return;
  told = true;
  console::SetTextColor(console::kLightMagenta);
  console::WriteLn(what + " cannot be written (" + std::strerror(error) + "):");
  console::WriteLn("  " + path);
  console::SetTextColor(console::kWhite);
}

void FitOutputWriter::AfterFit(const AnalysisState& st) {
  if (!active()) return;
  FitStamp stamp;
  stamp.fitNumber = ++fits_;
  stamp.date = IsoNow();
  if (!settings_.curvesDir.empty()) {
    std::error_code ec;
    fs::create_directories(settings_.curvesDir, ec);
    std::set<std::string> used;  // a second file set may repeat a file name
    bool ok = true;
    for (int pos = std::max(st.seqFirst, 1); pos <= std::min(st.seqLast, kMaxScans); ++pos) {
      const int s = st.scanSequence[pos];
      if (s < 1 || s > kMaxScans) continue;
      std::string name = CurveFileName(st, stamp.fitNumber, s);
      if (!used.insert(name).second) {
        name.insert(name.size() - 4, "-scan" + std::to_string(s));
        used.insert(name);
      }
      const fs::path path = fs::path(settings_.curvesDir) / name;
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      out << ScanCurveCsv(st, s);
      out.close();
      if (!out) {
        ok = false;
        break;
      }
      stamp.curveFiles.push_back(path.string());
    }
    if (!ok) {
      stamp.curveFiles.clear();
      Report(curvesTold_, "curve files", settings_.curvesDir);
    }
  }
  if (!settings_.resultsFile.empty()) {
    std::ofstream out(settings_.resultsFile, std::ios::binary | std::ios::app);
    out << FitResultsJson(st, settings_, stamp) << '\n';
    out.close();
    if (!out) Report(resultsTold_, "results file", settings_.resultsFile);
  }
}

}  // namespace svfit::results
