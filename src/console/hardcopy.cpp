// Hardcopy of the graphics viewport: one PDF print job per run (see
// hardcopy.h).
//
// Page geometry is kept in printer pixels of a 600 dpi device: a size of v
// units of 1/216 inch is v x 600 / 216 device pixels (integer multiply-divide
// per axis, as a printer driver would do it), and cairo draws the device pixels
// on the A4 page at 72 / 600 points each. The viewport is copied pixel for
// pixel into an image (turned by the orientation, counter-clockwise), reduced
// to two colours in colour modes 0 and 1, and painted stretched, without
// smoothing, into its rectangle; the next hardcopy goes below it, on a new page
// when it does not fit.
//
// The job is finished by EndHardcopyJob or, at the latest, at program exit.
#include "console/hardcopy.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>

#include "console/crt.h"
#include "console/graph.h"

extern char** environ;

namespace svfit::console {
namespace {

constexpr long long kDeviceDpi = 600;  // printer pixels per inch
constexpr long long kUnitsPerInch = 216;
constexpr double kPageWidthPt = 595.2756, kPageHeightPt = 841.8898;  // A4 [points]
constexpr long long kTopMargin = 85;   // first hardcopy starts 85/216 inch below the top
constexpr long long kPageHeightDev = static_cast<long long>(kPageHeightPt / 72.0 * kDeviceDpi);

int g_colorMode = 0;

struct Job {
  cairo_surface_t* pdf = nullptr;
  cairo_t* cr = nullptr;
  std::string tempPath;     // where the PDF is written while the job runs
  std::string printer;      // default destination, "" when none
  std::string keptName;     // svfit-hardcopy-YYYYMMDD-HHMMSS.pdf
  long long y = 0;          // vertical position on the page [device pixels]
  bool pageUsed = false;
} g_job;

long long ToDevice(long long units) { return units * kDeviceDpi / kUnitsPerInch; }

// The default destination that `lpstat -d` names, or "".
std::string DefaultPrinter() {
  FILE* p = popen("lpstat -d 2>/dev/null", "r");
  if (!p) return "";
  std::string out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  const std::string key = "system default destination:";
  const auto at = out.find(key);
  if (at == std::string::npos) return "";
  std::string name = out.substr(at + key.size());
  const auto b = name.find_first_not_of(" \t");
  const auto e = name.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? "" : name.substr(b, e - b + 1);
}

bool RunLp(const std::string& printer, const std::string& file) {
  std::string dest = "-d" + printer;
  const char* argv[] = {"lp", "-s", dest.c_str(), "-t", "svfit hardcopy", file.c_str(), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "lp", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) return false;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void FinishAtExit() {
  const std::string note = EndHardcopyJob();
  if (!note.empty()) std::fprintf(stderr, "%s\n", note.c_str());
}

void StartJob() {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
  g_job.keptName = std::string("svfit-hardcopy-") + stamp + ".pdf";
  std::error_code ec;
  std::string dir = std::filesystem::temp_directory_path(ec).string();
  if (ec) dir = "/tmp";
  std::string templ = dir + "/svfit-hardcopy-XXXXXX";
  const int fd = mkstemp(templ.data());
  if (fd < 0) throw std::runtime_error("cannot create a temporary file for the hardcopy in " + dir);
  close(fd);
  g_job.tempPath = templ;
  g_job.pdf = cairo_pdf_surface_create(templ.c_str(), kPageWidthPt, kPageHeightPt);
  g_job.cr = cairo_create(g_job.pdf);
  g_job.y = ToDevice(kTopMargin);
  g_job.pageUsed = false;
  g_job.printer = DefaultPrinter();
  static bool hooked = false;
  if (!hooked) {
    std::atexit(FinishAtExit);
    hooked = true;
  }
  WriteLn(g_job.printer.empty()
              ? "Graph hardcopies of this run are collected in " + g_job.keptName + " (written when svfit ends)"
              : "Graph hardcopies of this run go to printer " + g_job.printer + " when svfit ends");
}

// The viewport pixels turned counter-clockwise by orientation x 90 degrees.
std::vector<std::uint32_t> Turned(const std::vector<std::uint32_t>& src, int w, int h, int orientation,
                                  int& outW, int& outH) {
  const bool swap = orientation == 1 || orientation == 3;
  outW = swap ? h : w;
  outH = swap ? w : h;
  std::vector<std::uint32_t> out(src.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int u = x, v = y;
      switch (orientation) {
        case 1: u = y; v = w - 1 - x; break;           // 90 degrees counter-clockwise
        case 2: u = w - 1 - x; v = h - 1 - y; break;   // 180 degrees
        case 3: u = h - 1 - y; v = x; break;           // 270 degrees
        default: break;
      }
      out[static_cast<std::size_t>(v) * outW + u] = src[static_cast<std::size_t>(y) * w + x];
    }
  return out;
}

}  // namespace

void SetHardcopyColorMode(int mode) { g_colorMode = mode; }

bool HardcopyPending() { return g_job.pdf != nullptr; }

void PrintViewPort(int x, int width, int height, int orientation) {
  const ViewPort vp = GetViewPort();
  const int w = vp.x2 - vp.x1 + 1, h = vp.y2 - vp.y1 + 1;
  if (width == 0 && height == 0) return;
  if (w <= 0 || h <= 0) return;
  orientation = ((orientation % 4) + 4) % 4;
  // Proportion height / width of the printed image; screen pixels are square.
  double r = double(h) / w;
  if (orientation == 1 || orientation == 3) r = 1.0 / r;
  long long widthUnits = width, heightUnits = height;
  if (width == 0) widthUnits = std::llround(height / r);
  else if (height == 0) heightUnits = std::llround(width * r);
  const long long devX = ToDevice(x), devW = ToDevice(widthUnits), devH = ToDevice(heightUnits);
  constexpr long long kMax = std::numeric_limits<std::int32_t>::max();
  if (devW < 0 || devH < 0 || devW >= kMax || devH >= kMax) {
    SetDrawColor(15);
    DrawTextAt(0, 0, "PrintViewPort: Zu starke Vergr\xF6\xDF" "erung!");
    PresentGraphics();
    ConsoleHalt(1);
  }
  if (devW == 0 || devH == 0) return;
  if (!g_job.pdf) StartJob();
  BusyPointer(true);
  int cw = 0, ch = 0;
  const auto pixels = CopyPixels(vp.x1, vp.y1, vp.x2, vp.y2, cw, ch);
  int iw = 0, ih = 0;
  std::vector<std::uint32_t> image = Turned(pixels, cw, ch, orientation, iw, ih);
  if (g_colorMode == 0 || g_colorMode == 1) {
    // Two colours: the key colour (black background, or white) becomes white
    // paper, every other pixel black ink.
    const std::uint32_t key = g_colorMode == 0 ? 0x000000u : 0xFFFFFFu;
    for (auto& p : image) p = p == key ? 0xFFFFFFu : 0x000000u;
  }
  if (g_job.y + devH > kPageHeightDev && g_job.pageUsed) {
    cairo_show_page(g_job.cr);
    g_job.y = ToDevice(kTopMargin);
    g_job.pageUsed = false;
  }
  cairo_surface_t* img = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(image.data()),
                                                             CAIRO_FORMAT_RGB24, iw, ih, iw * 4);
  cairo_t* cr = g_job.cr;
  const double pt = 72.0 / kDeviceDpi;  // points per device pixel
  cairo_save(cr);
  cairo_translate(cr, devX * pt, g_job.y * pt);
  cairo_scale(cr, devW * pt / iw, devH * pt / ih);
  cairo_set_source_surface(cr, img, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_rectangle(cr, 0, 0, iw, ih);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_flush(g_job.pdf);
  cairo_surface_destroy(img);
  g_job.y += devH;
  g_job.pageUsed = true;
  BusyPointer(false);
}

std::string EndHardcopyJob() {
  if (!g_job.pdf) return "";
  if (g_job.pageUsed) cairo_show_page(g_job.cr);
  cairo_destroy(g_job.cr);
  cairo_surface_finish(g_job.pdf);
  const bool ok = cairo_surface_status(g_job.pdf) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(g_job.pdf);
  Job job = g_job;
  g_job = Job{};
  if (!ok) return "The graph hardcopies could not be written (" + job.tempPath + ")";
  if (!job.printer.empty() && RunLp(job.printer, job.tempPath)) {
    std::remove(job.tempPath.c_str());
    return "Graph hardcopies sent to printer " + job.printer;
  }
  std::error_code ec;
  std::filesystem::rename(job.tempPath, job.keptName, ec);
  if (ec) {  // another file system: copy, then remove the temporary file
    ec.clear();
    std::filesystem::copy_file(job.tempPath, job.keptName, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return "Graph hardcopies kept in " + job.tempPath + " (the current directory is not writable)";
    std::remove(job.tempPath.c_str());
  }
  // The temporary file was private (0600); kept, it reads like the user's
  // other files.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::chmod(job.keptName.c_str(), 0666 & ~mask);
  return (job.printer.empty() ? "" : "Printer " + job.printer + " did not take the job; ") +
         std::string("Graph hardcopies saved in ") + job.keptName;
}

}  // namespace svfit::console
