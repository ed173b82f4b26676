// Private to the console library: how the graphics surface reaches the
// screen. The framebuffer (graph.cpp) calls these; graph_frontend.cpp shows it
// in an SDL2 window or keeps it headless, and saves the shown pictures.
#pragma once

#include <cstdint>
#include <vector>

namespace svfit::console::frontend {

// Makes the window for a w x h surface when the window front end applies;
// false means headless.
bool OpenWindow(int w, int h);
void CloseWindow();
void ShowWindow(bool visible);
// The framebuffer changed: the window is brought up to date at the next
// event pump (at once when `now`).
void Invalidate(const std::vector<std::uint32_t>& pixels, int w, int h, bool now);
bool WindowOpen();
// ShowGraphics cleared the surface for a new picture: whatever is drawn from
// now on counts as a new picture, even when it looks like the one before.
void NewPicture();

}  // namespace svfit::console::frontend

namespace svfit::console::detail {
// The framebuffer of the open surface (nullptr when none is open).
const std::vector<std::uint32_t>* SurfacePixels();

}  // namespace svfit::console::frontend
