// libFuzzer target: the HPGL renderer of svfit-plot (and of --png for plot
// files) on an arbitrary plot file: parsed into pages, then drawn as a PNG
// at a low resolution, or as SVG, into a temporary directory.
//
// Checked besides crashes and undefined behaviour: every page holds
// something, every coordinate and size is finite, every page box has a
// positive size and maps to finite device points.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "plot/hpgl_render.h"

namespace {

using namespace svfit::plot;

std::string g_dir;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s\n", what);
  std::abort();
}

bool Finite(const HpglPoint& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (g_dir.empty()) {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/svfit-fuzz-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    g_dir = pattern;
    std::atexit([] { std::filesystem::remove_all(g_dir); });
  }
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const HpglDrawing drawing = ParseHpgl(text);
  for (const HpglPage& page : drawing.pages) {
    Check(!page.empty(), "a page holds something");
    for (const HpglStroke& s : page.strokes) {
      for (const HpglPoint& p : s.points) Check(Finite(p), "finite stroke point");
    }
    for (const HpglCircle& c : page.circles) Check(Finite(c.centre) && std::isfinite(c.radius), "finite circle");
    for (const HpglLabel& l : page.labels) Check(Finite(l.at) && std::isfinite(l.angle), "finite label");
    const PageBox box = PageBoxOf(page);
    Check(box.width > 0 && box.height > 0 && std::isfinite(box.width) && std::isfinite(box.height), "page box");
    for (const PlotFormat format : {PlotFormat::kPng, PlotFormat::kSvg}) {
      const double scale = DeviceScale(box, format, {false, 10});
      Check(std::isfinite(scale) && scale > 0, "device scale");
      Check(Finite(DevicePoint(box, scale, page.minX, page.maxY)), "device point");
    }
  }
  if (drawing.pages.empty()) return 0;
  // Drawing is far slower than parsing: every eighth input is drawn, as PNG
  // only when its pages stay small (the renderer allows pages of hundreds of
  // megabytes, which would only measure the memory), else as SVG.
  if (size % 8 == 0) {
    bool small = true;
    for (const HpglPage& page : drawing.pages) {
      const PageBox box = PageBoxOf(page);
      const double scale = DeviceScale(box, PlotFormat::kPng, {false, 10});
      small = small && box.width * scale < 2000 && box.height * scale < 2000;
    }
    const bool png = small && size % 16 == 0;
    std::string error;
    RenderHpgl(drawing, g_dir + (png ? "/plot.png" : "/plot.svg"), png ? PlotFormat::kPng : PlotFormat::kSvg,
               {size % 32 == 0, 10}, &error);
  }
  return 0;
}
