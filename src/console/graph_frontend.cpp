// How the graphics surface reaches the user: an SDL2 window, or nothing
// (headless), and the numbered pictures of --png.
//
// The window shows the framebuffer through a streaming texture with a logical
// size, so it may be resized and mouse positions still arrive in surface
// pixels. Its events are read by the console's event pump (every console
// write, key wait and poll): keys go into the console's key queue, mouse
// positions and buttons into its mouse state. The window is repainted from the
// framebuffer at most every 30 ms while drawing goes on, and at once when a
// picture is finished or a key is awaited.
//
// A picture counts as shown when PresentGraphics finds the visible surface
// changed since the last picture (compared by a 64-bit FNV-1a hash).
#include <SDL.h>
#include <cairo.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "console/crt.h"
#include "console/graph.h"
#include "console/graph_frontend.h"

namespace svfit::console {
namespace {

GraphicsFrontend g_kind = GraphicsFrontend::kAuto;
std::string g_pngDir;
int g_shown = 0;              // pictures counted so far
std::uint64_t g_lastHash = 0;

struct Window {
  bool sdlStarted = false;
  SDL_Window* win = nullptr;
  SDL_Renderer* ren = nullptr;
  SDL_Texture* tex = nullptr;
  int w = 0, h = 0;
  bool stale = false;      // framebuffer newer than the window
  Uint32 lastPaint = 0;
  int mouseX = 0, mouseY = 0, buttons = 0;
} g_w;

std::uint64_t Hash(const std::vector<std::uint32_t>& pix) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::uint32_t p : pix) {
    h ^= p;
    h *= 1099511628211ull;
  }
  return h;
}

void Paint() {
  const auto* pix = detail::SurfacePixels();
  if (!g_w.tex || !pix) return;
  SDL_UpdateTexture(g_w.tex, nullptr, pix->data(), g_w.w * 4);
  SDL_RenderClear(g_w.ren);
  SDL_RenderCopy(g_w.ren, g_w.tex, nullptr, nullptr);
  SDL_RenderPresent(g_w.ren);
  g_w.stale = false;
  g_w.lastPaint = SDL_GetTicks();
}

bool ShiftHeld() { return (SDL_GetModState() & KMOD_SHIFT) != 0; }

// Extended keys as their scan codes; 0 for keys that are not extended.
int ScanCodeOf(SDL_Keycode k) {
  switch (k) {
    case SDLK_HOME: return kScanHome;
    case SDLK_UP: return kScanUp;
    case SDLK_PAGEUP: return kScanPageUp;
    case SDLK_LEFT: return kScanLeft;
    case SDLK_RIGHT: return kScanRight;
    case SDLK_END: return kScanEnd;
    case SDLK_DOWN: return kScanDown;
    case SDLK_PAGEDOWN: return kScanPageDown;
    case SDLK_INSERT: return kScanInsert;
    case SDLK_DELETE: return kScanDelete;
    case SDLK_F11: return kScanF11;
    case SDLK_F12: return kScanF12;
    default:
      if (k >= SDLK_F1 && k <= SDLK_F10) return kScanF1 + static_cast<int>(k - SDLK_F1);
      return 0;
  }
}

void HandleKey(const SDL_KeyboardEvent& e) {
  const SDL_Keycode k = e.keysym.sym;
  const Uint16 mod = e.keysym.mod;
  const bool shift = (mod & KMOD_SHIFT) != 0;
  if (const int scan = ScanCodeOf(k)) {
    PostExtendedKey(scan, shift);
    return;
  }
  if ((mod & KMOD_CTRL) && k >= SDLK_a && k <= SDLK_z) {
    PostKey(static_cast<int>(k - SDLK_a) + 1, shift);  // Ctrl-A .. Ctrl-Z = 1 .. 26
    return;
  }
  switch (k) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: PostKey(kKeyEnter, shift); break;
    case SDLK_ESCAPE: PostKey(kKeyEscape, shift); break;
    case SDLK_BACKSPACE: PostKey(kKeyBackspace, shift); break;
    case SDLK_TAB:
      if (!(mod & (KMOD_ALT | KMOD_CTRL))) PostKey(kKeyTab, shift);
      break;
    default: break;  // printable keys arrive as text input
  }
}

// UTF-8 text of a key press, as Latin-1 characters.
void HandleText(const char* utf8) {
  const bool shift = ShiftHeld();
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8); *p;) {
    unsigned cp = *p++;
    if (cp >= 0xC0 && cp < 0xE0 && (*p & 0xC0) == 0x80) cp = ((cp & 0x1F) << 6) | (*p++ & 0x3F);
    else if (cp >= 0x80) {
      while ((*p & 0xC0) == 0x80) ++p;
      continue;  // outside Latin-1
    }
    if (cp >= 32 && cp < 256 && cp != 127) PostKey(static_cast<int>(cp), shift);
  }
}

int ButtonBits(Uint32 state) {
  return ((state & SDL_BUTTON_LMASK) ? 1 : 0) | ((state & SDL_BUTTON_RMASK) ? 2 : 0) |
         ((state & SDL_BUTTON_MMASK) ? 4 : 0);
}

void Pump(bool wait) {
  if (!g_w.win) return;
  SDL_Event e;
  bool any = wait ? SDL_WaitEventTimeout(&e, 10) != 0 : SDL_PollEvent(&e) != 0;
  while (any) {
    switch (e.type) {
      case SDL_KEYDOWN: HandleKey(e.key); break;
      case SDL_TEXTINPUT: HandleText(e.text.text); break;
      case SDL_MOUSEMOTION:
        g_w.mouseX = e.motion.x;
        g_w.mouseY = e.motion.y;
        g_w.buttons = ButtonBits(e.motion.state);
        PostMouse(g_w.mouseX, g_w.mouseY, g_w.buttons, ShiftHeld());
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        g_w.mouseX = e.button.x;
        g_w.mouseY = e.button.y;
        g_w.buttons = ButtonBits(SDL_GetMouseState(nullptr, nullptr));
        PostMouse(g_w.mouseX, g_w.mouseY, g_w.buttons, ShiftHeld());
        break;
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED) g_w.stale = true;
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) ConsoleHalt(1);
        break;
      case SDL_QUIT: ConsoleHalt(1);
      default: break;
    }
    any = SDL_PollEvent(&e) != 0;
  }
  if (g_w.stale && (wait || SDL_GetTicks() - g_w.lastPaint >= 30)) Paint();
}

bool WantWindow() {
  if (g_kind != GraphicsFrontend::kAuto) return g_kind == GraphicsFrontend::kWindow;
  if (IsScriptFrontend()) return false;
  const char* x = std::getenv("DISPLAY");
  const char* wl = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wl && *wl);
}

}  // namespace

namespace frontend {

bool OpenWindow(int w, int h) {
  CloseWindow();
  if (!WantWindow()) return false;
  if (!g_w.sdlStarted) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");  // Ctrl-C belongs to the console
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    g_w.sdlStarted = true;
  }
  g_w.win = SDL_CreateWindow("svfit Graphics", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h,
                             SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  if (g_w.win) g_w.ren = SDL_CreateRenderer(g_w.win, -1, 0);
  if (g_w.ren) g_w.tex = SDL_CreateTexture(g_w.ren, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, w, h);
  if (!g_w.tex) {
    CloseWindow();
    return false;
  }
  SDL_RenderSetLogicalSize(g_w.ren, w, h);
  SDL_StartTextInput();
  g_w.w = w;
  g_w.h = h;
  SetEventPump(Pump);
  return true;
}

void CloseWindow() {
  if (g_w.win) SetEventPump(nullptr);
  if (g_w.tex) SDL_DestroyTexture(g_w.tex);
  if (g_w.ren) SDL_DestroyRenderer(g_w.ren);
  if (g_w.win) SDL_DestroyWindow(g_w.win);
  g_w.tex = nullptr;
  g_w.ren = nullptr;
  g_w.win = nullptr;
  // The display connection is not kept while no window is open: the next
  // OpenGraphics starts SDL's video again.
  if (g_w.sdlStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  g_w.sdlStarted = false;
}

void ShowWindow(bool visible) {
  if (!g_w.win) return;
  if (visible) {
    SDL_ShowWindow(g_w.win);
    SDL_RaiseWindow(g_w.win);
    Paint();
  } else {
    SDL_HideWindow(g_w.win);
  }
}

void Invalidate(const std::vector<std::uint32_t>&, int, int, bool now) {
  if (!g_w.win) return;
  g_w.stale = true;
  if (now) Paint();
}

bool WindowOpen() { return g_w.win != nullptr; }

void NewPicture() {
  // The cleared surface is no picture of its own: only what is drawn on it is.
  if (const auto* pix = detail::SurfacePixels()) g_lastHash = Hash(*pix);
}

}  // namespace frontend

void SetGraphicsFrontend(GraphicsFrontend kind) { g_kind = kind; }
bool GraphicsWindowActive() { return g_w.win != nullptr && GraphicsVisible(); }
void SetPngDirectory(std::string dir) { g_pngDir = std::move(dir); }
std::string PngDirectory() { return g_pngDir; }
int PicturesShown() { return g_shown; }

bool WritePng(const std::string& path) {
  const auto* pix = detail::SurfacePixels();
  if (!pix) return false;
  const int w = MaxX() + 1, h = MaxY() + 1;
  cairo_surface_t* s = cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(pix->data())), CAIRO_FORMAT_RGB24, w, h, w * 4);
  const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

bool SaveWindowScreenshot(const std::string& path) {
  if (!g_w.win) return false;
  Paint();
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, g_w.w, g_w.h);
  cairo_surface_flush(s);
  const bool read = SDL_RenderReadPixels(g_w.ren, nullptr, SDL_PIXELFORMAT_RGB888, cairo_image_surface_get_data(s),
                                         cairo_image_surface_get_stride(s)) == 0;
  cairo_surface_mark_dirty(s);
  const bool ok = read && cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}

void PresentGraphics() {
  const auto* pix = detail::SurfacePixels();
  if (!pix || !GraphicsVisible()) return;
  if (g_w.win) Paint();
  const std::uint64_t h = Hash(*pix);
  if (h == g_lastHash) return;
  g_lastHash = h;
  ++g_shown;
  std::string note = "[graph " + std::to_string(g_shown);
  if (!g_pngDir.empty()) {
    char name[32];
    std::snprintf(name, sizeof name, "graph-%03d.png", g_shown);
    const std::string path = (std::filesystem::path(g_pngDir) / name).string();
    std::error_code ec;
    std::filesystem::create_directories(g_pngDir, ec);
    if (WritePng(path))
      note += ": " + path;
    else
      WriteLn("The picture could not be written to " + path);
  }
  Announce(note + "]");
}

}  // namespace svfit::console
