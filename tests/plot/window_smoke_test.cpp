// The SDL2 window front end under a virtual X server (Xvfb): the window
// opens, shows a drawn series, and what it shows is the framebuffer.
#include <cairo.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "console/crt.h"
#include "console/graph.h"
#include "plot/screen_plot.h"
#include "synthetic_series.h"

namespace svfit::plot {
namespace {

namespace gr = svfit::console;

// Starts Xvfb on a display it picks itself; returns its pid and number.
bool StartXvfb(pid_t& pid, std::string& display) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  char c;
  while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return false;
  }
  display = ":" + number;
  return true;
}

TEST(WindowSmoke, SeriesShownInAnSdlWindow) {
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Xvfb is not installed (make setup installs it): the window front end is not tested";
  pid_t xvfb = 0;
  std::string display;
  ASSERT_TRUE(StartXvfb(xvfb, display)) << "Xvfb did not start";
  setenv("DISPLAY", display.c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  setenv("SDL_VIDEODRIVER", "x11", 1);
  gr::StartTestConsole("");
  gr::SetGraphicsFrontend(gr::GraphicsFrontend::kWindow);
  int d = 0, m = 1;
  gr::OpenGraphics(d, m, "");
  gr::HideGraphics();
  EXPECT_FALSE(gr::GraphicsWindowActive());
  static AnalysisState st;
  testing::MakeSeries(st, 12);
  DrawSeriesPlot(st);
  EXPECT_TRUE(gr::GraphicsWindowActive());
  gr::PresentGraphics();
  const std::string shot = "window-smoke.png";
  ASSERT_TRUE(gr::SaveWindowScreenshot(shot));
  cairo_surface_t* img = cairo_image_surface_create_from_png(shot.c_str());
  ASSERT_EQ(cairo_surface_status(img), CAIRO_STATUS_SUCCESS);
  ASSERT_EQ(cairo_image_surface_get_width(img), 1024);
  ASSERT_EQ(cairo_image_surface_get_height(img), 768);
  int w = 0, h = 0;
  const auto fb = gr::CopyPixels(0, 0, 1023, 767, w, h);
  const auto* data = cairo_image_surface_get_data(img);
  const int stride = cairo_image_surface_get_stride(img);
  int differ = 0, lit = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const std::uint32_t shown = *reinterpret_cast<const std::uint32_t*>(data + y * stride + 4 * x) & 0xFFFFFF;
      differ += shown != fb[static_cast<std::size_t>(y) * w + x];
      lit += shown != 0;
    }
  cairo_surface_destroy(img);
  EXPECT_EQ(differ, 0);
  EXPECT_GT(lit, 10000);  // frame, numbers and points are there
  gr::CloseGraphics();
  gr::SetGraphicsFrontend(gr::GraphicsFrontend::kAuto);
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
}

}  // namespace
}  // namespace svfit::plot
