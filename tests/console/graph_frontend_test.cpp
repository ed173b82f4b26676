// The SDL2 window front end under a virtual X server (Xvfb): the window opens
// with the first picture, and what it shows is the drawing surface.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/crt.h"
#include "console/graph.h"

namespace svfit::console {
namespace {

// Starts Xvfb on a display it picks itself; returns its pid and ":number",
// or "" when it did not start within 10 s.
std::string StartXvfb(pid_t& pid) {
  int fds[2];
  if (pipe(fds) != 0) return "";
  pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  for (char c; poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n';) number += c;
  close(fds[0]);
  if (!number.empty()) return ":" + number;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  return "";
}

TEST(WindowSmoke, PictureShownInAnSdlWindow) {
  if (std::system("command -v Xvfb >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "Xvfb is not installed (make setup installs it): the window front end is not tested";
  pid_t xvfb = 0;
  const std::string display = StartXvfb(xvfb);
  ASSERT_FALSE(display.empty()) << "Xvfb did not start";
  setenv("DISPLAY", display.c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  setenv("SDL_VIDEODRIVER", "x11", 1);
  StartTestConsole("");
  SetGraphicsFrontend(GraphicsFrontend::kWindow);
  int d = 0, m = 1;
  OpenGraphics(d, m, "");
  HideGraphics();
  EXPECT_FALSE(GraphicsWindowActive());  // no window before there is a picture
  ShowGraphics(2);
  DrawLine(0, 0, 1023, 767);
  SetFill(1, 12);
  FillEllipse(500, 300, 120, 80);
  SetDrawColor(14);
  DrawTextAt(100, 600, "svfit 6.05 cm");
  EXPECT_TRUE(GraphicsWindowActive());
  PresentGraphics();
  // What the window shows, read back from it, and the surface, both written
  // by the same PNG writer: the same pixels give the same bytes.
  ASSERT_TRUE(SaveWindowScreenshot("window-smoke-shown.png"));
  ASSERT_TRUE(WritePng("window-smoke-drawn.png"));
  EXPECT_EQ(std::system("cmp -s window-smoke-shown.png window-smoke-drawn.png"), 0);
  std::remove("window-smoke-shown.png");
  std::remove("window-smoke-drawn.png");
  CloseGraphics();
  SetGraphicsFrontend(GraphicsFrontend::kAuto);
  kill(xvfb, SIGTERM);
  waitpid(xvfb, nullptr, 0);
}

}  // namespace
}  // namespace svfit::console
