// The graphics surface: one framebuffer of 0x00RRGGBB pixels and the drawing
// operations on it (see graph.h).
//
// Every primitive is rasterised here, so the pixels are the same on every
// machine: lines by Bresenham's algorithm, visiting every pixel from the start
// up to but not including the end point (a pen that moves to the end point;
// joined segments therefore set each pixel once, which exclusive-or drawing
// needs to stay reversible), ellipses by a scanline test of pixel centres,
// text by FreeType in monochrome mode (no antialiasing: every text pixel is
// exactly the drawing colour). Thick lines and text are first collected as a
// pixel set and then written once, so a write mode touches each pixel once.
//
// Fonts follow the cell-height convention of the classic desktop font API: a
// font "h pixels high" has ascent + descent (the OS/2 win metrics) of h pixels,
// and a font "w pixels wide" has an average character width of w pixels.
#include "console/graph.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <tuple>

#include "console/crt.h"
#include "console/graph_frontend.h"

namespace svfit::console {
namespace {

constexpr int kWidth = 1024;   // the surface of both front ends [pixels]
constexpr int kHeight = 768;

// Dash masks of the line styles, one bit per pixel along the line, most
// significant bit first: solid, dotted, dash-dot, dashed, user (drawn solid).
constexpr std::uint16_t kLineMasks[5] = {0xFFFF, 0xCCCC, 0xFC78, 0xF8F8, 0xFFFF};

// Hatch patterns 2..11, one byte per row, bit k = pixel column k.
constexpr std::uint8_t kHatch[12][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0},                                  // 0 background
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},          // 1 solid
    {0xFF, 0, 0, 0, 0, 0, 0, 0},                               // 2 horizontal
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},          // 3 "/"
    {0xC0, 0x60, 0x30, 0x18, 0x0C, 0x06, 0x03, 0x81},          // 4 "/" thick
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},          // 5 "\"
    {0x03, 0x06, 0x0C, 0x18, 0x30, 0x60, 0xC0, 0x81},          // 6 "\" thick
    {0xFF, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01},          // 7 cross-hatch
    {0xFF, 0x11, 0x11, 0x11, 0xFF, 0x11, 0x11, 0x11},          // 8 dense cross-hatch
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},          // 9 diagonal cross
    {0x99, 0x5A, 0x24, 0x5A, 0x99, 0x5A, 0x24, 0x5A},          // 10 dense diagonal cross
    {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01},          // 11 vertical
};

struct Font {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  int upem = 2048, winAscent = 1705, winDescent = 615, avgWidth = 1229;
  // The font in use: requested and obtained metrics.
  int width = 0;    // average character width [pixels]
  int height = 0;   // cell height = ascent + descent [pixels]
  int ascent = 0;   // [pixels]
  int style = 0;    // bits: 1 bold, 2 italic, 4 underline, 8 strike-out
  int angle = 0;    // degrees, counter-clockwise
  double emX = 0, emY = 0;  // em square [pixels]
};

struct Surface {
  bool open = false;
  bool visible = false;
  std::vector<std::uint32_t> pix;
  int drawColor = 15, backColor = 0;
  int fillPattern = 1, fillColor = 15;
  std::uint8_t userPattern[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  int lineStyle = 0, linePattern = 0, thickness = 1;
  int writeMode = 0;
  int cpX = 0, cpY = 0;
  int textFont = 0, textDirection = 0, textSize = 1;
  int alignFlags = 0;  // bit 0 update position, bits 1-2 horizontal, bits 3-4 vertical
  int justH = 0, justV = 2;
  ViewPort viewPort;
};

Surface g_s;
Font g_font;
int g_result = 0;

// ---- Checks and colours ----------------------------------------------------------

void RequireSurface() {
  if (!g_s.open) {
    g_result = kGrNoInitGraph;
    throw GraphicsError(kGrNoInitGraph, GraphicsErrorText(kGrNoInitGraph));
  }
}

std::uint32_t RgbOf(int colour) {
  const console::Rgb c = PaletteColor(colour);
  return (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
}

// Colour numbers 0..15 and the aliases 20 and 56..63.
int CheckedColor(int colour) {
  if (colour >= 0 && colour <= 15) return colour;
  if (colour == 20) return 6;
  if (colour >= 56 && colour <= 63) return colour - 48;
  throw GraphicsError(kGrError, "Undefined colour " + std::to_string(colour) + " (colours are 0..15)");
}

int ColorNumber(std::uint32_t rgb) {
  for (int c = 0; c < 16; ++c)
    if (RgbOf(c) == rgb) return c;
  return 0;
}

void Changed() { frontend::Invalidate(g_s.pix, kWidth, kHeight, false); }

// ---- Pixels ---------------------------------------------------------------------------

inline bool Inside(int x, int y) { return x >= 0 && y >= 0 && x < kWidth && y < kHeight; }

inline std::uint32_t Combine(std::uint32_t dst, std::uint32_t src, int mode) {
  switch (mode) {
    case 1: return dst ^ src;
    case 2: return dst | src;
    case 3: return dst & src;
    case 4: return ~src & 0xFFFFFFu;
    default: return src;
  }
}

inline void Put(int x, int y, std::uint32_t rgb, int mode) {
  if (!Inside(x, y)) return;
  std::uint32_t& p = g_s.pix[static_cast<std::size_t>(y) * kWidth + x];
  p = Combine(p, rgb, mode);
}

// A set of pixels written once: sorted and without repeats.
void PutSet(std::vector<int>& idx, std::uint32_t rgb, int mode) {
  std::sort(idx.begin(), idx.end());
  idx.erase(std::unique(idx.begin(), idx.end()), idx.end());
  for (int i : idx) g_s.pix[static_cast<std::size_t>(i)] = Combine(g_s.pix[static_cast<std::size_t>(i)], rgb, mode);
}

// ---- Lines -------------------------------------------------------------------------------

// Bresenham from (x1, y1) towards (x2, y2), the end point excluded; calls
// plot(x, y, n) with the running pixel number n.
template <typename Plot>
void Bresenham(int x1, int y1, int x2, int y2, Plot plot) {
  const int dx = std::abs(x2 - x1), dy = -std::abs(y2 - y1);
  const int sx = x1 < x2 ? 1 : -1, sy = y1 < y2 ? 1 : -1;
  int err = dx + dy, n = 0;
  while (x1 != x2 || y1 != y2) {
    plot(x1, y1, n++);
    const int e2 = 2 * err;
    if (e2 >= dy) { err += dy; x1 += sx; }
    if (e2 <= dx) { err += dx; y1 += sy; }
  }
}

void Line(int x1, int y1, int x2, int y2) {
  const std::uint32_t rgb = RgbOf(g_s.drawColor);
  const std::uint16_t mask = kLineMasks[g_s.lineStyle];
  const int t = g_s.lineStyle == 0 ? g_s.thickness : 1;
  if (t <= 1) {
    Bresenham(x1, y1, x2, y2, [&](int x, int y, int n) {
      if (mask & (0x8000 >> (n & 15))) Put(x, y, rgb, g_s.writeMode);
    });
  } else {
    // A square pen of t x t pixels centred on the line.
    std::vector<int> idx;
    const int lo = -(t - 1) / 2, hi = t / 2;
    Bresenham(x1, y1, x2, y2, [&](int x, int y, int) {
      for (int v = lo; v <= hi; ++v)
        for (int u = lo; u <= hi; ++u)
          if (Inside(x + u, y + v)) idx.push_back((y + v) * kWidth + x + u);
    });
    PutSet(idx, rgb, g_s.writeMode);
  }
  Changed();
}

// ---- Fonts and text ----------------------------------------------------------------------

void LoadFace() {
  if (g_font.face) return;
  std::string file;
  if (FcInit()) {
    for (const char* name : {"Courier New", "Liberation Mono", "monospace"}) {
      FcPattern* pat = FcNameParse(reinterpret_cast<const FcChar8*>(name));
      FcConfigSubstitute(nullptr, pat, FcMatchPattern);
      FcDefaultSubstitute(pat);
      FcResult res;
      FcPattern* match = FcFontMatch(nullptr, pat, &res);
      FcChar8* path = nullptr;
      int spacing = 0;
      if (match && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch &&
          (FcPatternGetInteger(match, FC_SPACING, 0, &spacing) != FcResultMatch || spacing >= FC_MONO))
        file = reinterpret_cast<const char*>(path);
      if (match) FcPatternDestroy(match);
      FcPatternDestroy(pat);
      if (!file.empty()) break;
    }
  }
  if (file.empty() || FT_Init_FreeType(&g_font.lib) != 0 ||
      FT_New_Face(g_font.lib, file.c_str(), 0, &g_font.face) != 0)
    throw GraphicsError(-8, GraphicsErrorText(-8));
  g_font.upem = g_font.face->units_per_EM;
  if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(g_font.face, FT_SFNT_OS2))) {
    g_font.winAscent = os2->usWinAscent;
    g_font.winDescent = os2->usWinDescent;
    g_font.avgWidth = os2->xAvgCharWidth;
  } else {
    g_font.winAscent = g_font.face->ascender;
    g_font.winDescent = -g_font.face->descender;
    g_font.avgWidth = g_font.face->max_advance_width;
  }
}

// Makes the font: cell height `height`, average width `width` (0: natural
// proportions), style bits and angle; stores the metrics obtained.
void MakeFont(int width, int height, int style, int angle) {
  LoadFace();
  if (height == 0) height = 16;
  const double cell = g_font.winAscent + g_font.winDescent;
  g_font.emY = height > 0 ? std::abs(height) * g_font.upem / cell : -height;
  g_font.height = height > 0 ? height : static_cast<int>(std::lround(g_font.emY * cell / g_font.upem));
  g_font.ascent = static_cast<int>(std::lround(g_font.emY * g_font.winAscent / g_font.upem));
  g_font.emX = width > 0 ? std::abs(width) * double(g_font.upem) / g_font.avgWidth : g_font.emY;
  g_font.width = width > 0 ? width : static_cast<int>(std::lround(g_font.emX * g_font.avgWidth / g_font.upem));
  g_font.style = style;
  g_font.angle = angle;
  FT_Set_Char_Size(g_font.face, static_cast<FT_F26Dot6>(std::lround(g_font.emX * 64)),
                   static_cast<FT_F26Dot6>(std::lround(g_font.emY * 64)), 72, 72);
}

// One character of the current font, rendered: advance at angle 0, and the
// monochrome bitmap (one byte per pixel, 1 = ink) with its offset from the pen.
struct Glyph {
  int advance = 0;
  int left = 0, top = 0, width = 0, rows = 0;
  std::vector<std::uint8_t> ink;
};

// Rendering through the hinting interpreter is slow, and the viewer redraws
// the same few texts at every key: glyphs are kept per font and character.
const Glyph& GetGlyph(unsigned char ch) {
  using Key = std::tuple<long, long, int, int, unsigned char>;
  static std::map<Key, Glyph> cache;
  const Key key{std::lround(g_font.emX * 64), std::lround(g_font.emY * 64), g_font.style, g_font.angle, ch};
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  Glyph glyph;
  const FT_UInt gi = FT_Get_Char_Index(g_font.face, ch);
  FT_Set_Transform(g_font.face, nullptr, nullptr);
  if (FT_Load_Glyph(g_font.face, gi, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) == 0)
    glyph.advance = static_cast<int>((g_font.face->glyph->advance.x + 32) >> 6);
  const double a = g_font.angle * M_PI / 180.0;
  const double shear = (g_font.style & 2) ? 0.2 : 0.0;
  // Rotation times shear, in FreeType's y-up 16.16 matrix form.
  FT_Matrix m;
  m.xx = static_cast<FT_Fixed>(std::lround(std::cos(a) * 65536));
  m.xy = static_cast<FT_Fixed>(std::lround((std::cos(a) * shear - std::sin(a)) * 65536));
  m.yx = static_cast<FT_Fixed>(std::lround(std::sin(a) * 65536));
  m.yy = static_cast<FT_Fixed>(std::lround((std::sin(a) * shear + std::cos(a)) * 65536));
  FT_Set_Transform(g_font.face, &m, nullptr);
  if (FT_Load_Glyph(g_font.face, gi, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) == 0) {
    FT_GlyphSlot slot = g_font.face->glyph;
    if ((g_font.style & 1) && slot->format == FT_GLYPH_FORMAT_OUTLINE)
      FT_Outline_Embolden(&slot->outline, static_cast<FT_Pos>(std::max(64.0, g_font.emY * 64 / 24)));
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) == 0) {
      const FT_Bitmap& bm = slot->bitmap;
      glyph.left = slot->bitmap_left;
      glyph.top = slot->bitmap_top;
      glyph.width = static_cast<int>(bm.width);
      glyph.rows = static_cast<int>(bm.rows);
      glyph.ink.resize(static_cast<std::size_t>(glyph.width) * glyph.rows);
      for (int row = 0; row < glyph.rows; ++row)
        for (int col = 0; col < glyph.width; ++col)
          glyph.ink[static_cast<std::size_t>(row) * glyph.width + col] =
              (bm.buffer[row * bm.pitch + (col >> 3)] >> (7 - (col & 7))) & 1;
    }
  }
  FT_Set_Transform(g_font.face, nullptr, nullptr);
  return cache.emplace(key, std::move(glyph)).first->second;
}

// Advance of one character at angle 0 [pixels], as the hinted font gives it.
int Advance(unsigned char ch) { return GetGlyph(ch).advance; }

int Width(std::string_view s) {
  int w = 0;
  for (unsigned char ch : s) w += Advance(ch);
  return w;
}

// Draws the text with its alignment point at (x, y); returns the advance.
int RenderText(int x, int y, std::string_view s) {
  const int w = Width(s);
  const double a = g_font.angle * M_PI / 180.0;
  const double dirX = std::cos(a), dirY = -std::sin(a);  // along the baseline, screen y down
  const double upX = -std::sin(a), upY = -std::cos(a);   // towards the ascent
  const int h = (g_s.alignFlags >> 1) & 3;
  const int v = (g_s.alignFlags >> 3) & 3;
  double along = h == 3 ? -w / 2.0 : h == 1 ? -w : 0.0;  // centre 6 -> 3, right 2 -> 1
  double above = v == 3 ? 0.0 : v == 1 ? double(g_font.height - g_font.ascent) : -double(g_font.ascent);
  // Origin of the baseline at the start of the text.
  double ox = x + along * dirX + above * upX;
  double oy = y + along * dirY + above * upY;
  std::vector<int> idx;
  double penX = ox, penY = oy;
  for (unsigned char ch : s) {
    const Glyph& g = GetGlyph(ch);
    const int bx = static_cast<int>(std::lround(penX)) + g.left;
    const int by = static_cast<int>(std::lround(penY)) - g.top;
    for (int row = 0; row < g.rows; ++row)
      for (int col = 0; col < g.width; ++col)
        if (g.ink[static_cast<std::size_t>(row) * g.width + col] && Inside(bx + col, by + row))
          idx.push_back((by + row) * kWidth + bx + col);
    penX += g.advance * dirX;
    penY += g.advance * dirY;
  }
  // Underline and strike-out: rules along the baseline.
  auto rule = [&](double offsetUp, int thick) {
    for (int t = 0; t < thick; ++t) {
      const double sx = ox + (offsetUp - t) * upX, sy = oy + (offsetUp - t) * upY;
      Bresenham(static_cast<int>(std::lround(sx)), static_cast<int>(std::lround(sy)),
                static_cast<int>(std::lround(sx + w * dirX)), static_cast<int>(std::lround(sy + w * dirY)),
                [&](int px, int py, int) {
                  if (Inside(px, py)) idx.push_back(py * kWidth + px);
                });
    }
  };
  const int thick = std::max(1, g_font.height / 14);
  if (g_font.style & 4) rule(-std::max(1, (g_font.height - g_font.ascent) / 2), thick);
  if (g_font.style & 8) rule(g_font.ascent / 3.0, thick);
  PutSet(idx, RgbOf(g_s.drawColor), 0);
  Changed();
  return w;
}

}  // namespace

// ---- Lifecycle ------------------------------------------------------------------------

void OpenGraphics(int& driver, int& mode, std::string_view) {
  if (g_s.open) CloseGraphics();
  g_s = Surface{};
  g_s.pix.assign(static_cast<std::size_t>(kWidth) * kHeight, 0);
  g_s.open = true;
  static bool hooked = false;
  if (!hooked) {
    std::atexit([] { frontend::CloseWindow(); });  // the window goes with the program
    hooked = true;
  }
  frontend::OpenWindow(kWidth, kHeight);
  ShowGraphics(2);
  driver = 9;
  mode = 2;
  g_result = kGrOk;
}

void CloseGraphics() {
  if (!g_s.open) {
    g_result = kGrNoInitGraph;
    return;
  }
  if (g_s.visible) PresentGraphics();
  frontend::CloseWindow();
  g_s = Surface{};
  g_result = kGrOk;
}

void ShowGraphics(int mode) {
  RequireSurface();
  if (mode > 2) {
    g_result = kGrInvalidMode;
    return;
  }
  g_s.visible = true;
  frontend::ShowWindow(true);
  g_s.viewPort = ViewPort{0, 0, kWidth - 1, kHeight - 1, true};
  std::memset(g_s.userPattern, 0xFF, sizeof g_s.userPattern);
  SetFill(1, 15);
  SetTextFont(0, 0, 1);
  SetTextJustify(0, 2);
  g_s.writeMode = 0;
  g_s.lineStyle = 0;
  g_s.thickness = 1;
  SetDrawColor(15);
  SetBackColor(0);
  ClearSurface();
  frontend::NewPicture();
  frontend::Invalidate(g_s.pix, kWidth, kHeight, true);
  g_result = kGrOk;
}

void HideGraphics() {
  RequireSurface();
  if (g_s.visible) PresentGraphics();
  g_s.visible = false;
  frontend::ShowWindow(false);
  g_result = kGrOk;
}

bool GraphicsOpen() { return g_s.open; }
bool GraphicsVisible() { return g_s.open && g_s.visible; }
int MaxGraphicsMode() { return 2; }

int MaxX() {
  RequireSurface();
  g_result = kGrOk;
  return kWidth - 1;
}

int MaxY() {
  RequireSurface();
  g_result = kGrOk;
  return kHeight - 1;
}

int GraphicsResult() { return g_result; }

std::string GraphicsErrorText(int code) {
  switch (code) {
    case 0: return "No error";
    case -1: return "Graphics not installed (no graphics surface is open)";
    case -2: return "Graphics hardware not detected";
    case -3: return "Device driver file not found";
    case -4: return "Invalid device driver file";
    case -5: return "Not enough memory to load driver";
    case -6: return "Out of memory in scan fill";
    case -7: return "Out of memory in flood fill";
    case -8: return "Font file not found";
    case -9: return "Not enough memory to load font";
    case -10: return "Invalid graphics mode for selected driver";
    case -11: return "Graphics error  (generic error)";
    case -12: return "Graphics I/O error";
    case -13: return "Invalid font file";
    case -14: return "Invalid font number";
    default: return "Unknown error code";
  }
}

// ---- Drawing state --------------------------------------------------------------------

void ClearSurface() {
  RequireSurface();
  std::fill(g_s.pix.begin(), g_s.pix.end(), RgbOf(g_s.backColor));
  g_s.cpX = g_s.cpY = 0;
  Changed();
  g_result = kGrOk;
}

void SetDrawColor(int colour) {
  RequireSurface();
  g_s.drawColor = CheckedColor(colour);
  g_result = kGrOk;
}

int GetDrawColor() {
  RequireSurface();
  g_result = kGrOk;
  return ColorNumber(RgbOf(g_s.drawColor));
}

void SetBackColor(int colour) {
  RequireSurface();
  g_s.backColor = CheckedColor(colour);
  g_result = kGrOk;
}

int GetBackColor() {
  RequireSurface();
  return g_s.backColor;
}

void SetFill(int pattern, int colour) {
  RequireSurface();
  if (pattern < 0 || pattern > 12)
    throw GraphicsError(kGrError, "Invalid fill pattern " + std::to_string(pattern));
  if (pattern != 0) g_s.fillColor = CheckedColor(colour);
  g_s.fillPattern = pattern;
  g_result = kGrOk;
}

void SetFillBits(const std::uint8_t bits[8], int colour) {
  RequireSurface();
  g_s.fillColor = CheckedColor(colour);
  std::memcpy(g_s.userPattern, bits, 8);
  g_result = kGrOk;
}

void SetLine(int style, int pattern, int thickness) {
  RequireSurface();
  if (style < 0 || style > 4) throw GraphicsError(kGrError, "Invalid line pattern " + std::to_string(style));
  g_s.lineStyle = style;
  g_s.linePattern = pattern;
  g_s.thickness = std::max(1, thickness);
  g_result = kGrOk;
}

void SetDrawMode(int mode) {
  RequireSurface();
  if (mode < 0 || mode > 4) throw GraphicsError(kGrError, "Undefined copy mode " + std::to_string(mode));
  g_s.writeMode = mode;
  g_result = kGrOk;
}

int GetDrawMode() {
  RequireSurface();
  return g_s.writeMode;
}

void MoveTo(int x, int y) {
  RequireSurface();
  g_s.cpX = x;
  g_s.cpY = y;
  g_result = kGrOk;
}

int CurrentX() {
  RequireSurface();
  return g_s.cpX;
}

int CurrentY() {
  RequireSurface();
  return g_s.cpY;
}

// ---- Drawing ----------------------------------------------------------------------------

void LineTo(int x, int y) {
  RequireSurface();
  Line(g_s.cpX, g_s.cpY, x, y);
  g_s.cpX = x;
  g_s.cpY = y;
  g_result = kGrOk;
}

void DrawLine(int x1, int y1, int x2, int y2) {
  RequireSurface();
  Line(x1, y1, x2, y2);
  g_result = kGrOk;
}

void FillEllipse(int x, int y, int rx, int ry) {
  RequireSurface();
  rx = std::abs(rx);
  ry = std::abs(ry);
  // Pixel (x+dx, y+dy) is inside when its centre lies in the ellipse with
  // semi-axes rx + 1/2 and ry + 1/2, in integers:
  // (2dx)^2 (2ry+1)^2 + (2dy)^2 (2rx+1)^2 <= (2rx+1)^2 (2ry+1)^2.
  const long long ax = (2LL * rx + 1) * (2LL * rx + 1), ay = (2LL * ry + 1) * (2LL * ry + 1);
  auto inside = [&](int dx, int dy) {
    return 4LL * dx * dx * ay + 4LL * dy * dy * ax <= ax * ay;
  };
  const std::uint32_t outline = RgbOf(g_s.drawColor);
  const std::uint32_t fill = RgbOf(g_s.fillColor), back = RgbOf(g_s.backColor);
  for (int dy = -ry; dy <= ry; ++dy)
    for (int dx = -rx; dx <= rx; ++dx) {
      if (!inside(dx, dy)) continue;
      const int px = x + dx, py = y + dy;
      const bool edge = !inside(dx - 1, dy) || !inside(dx + 1, dy) || !inside(dx, dy - 1) || !inside(dx, dy + 1);
      std::uint32_t c = outline;
      if (!edge) {
        const int col = ((px % 8) + 8) % 8, row = ((py % 8) + 8) % 8;
        if (g_s.fillPattern == 12)
          c = (g_s.userPattern[row] >> col) & 1 ? fill : 0;  // the user pattern is drawn on black
        else if (g_s.fillPattern == 0)
          c = back;
        else
          c = (kHatch[g_s.fillPattern][row] >> col) & 1 ? fill : back;
      }
      Put(px, py, c, g_s.writeMode);
    }
  Changed();
  g_result = kGrOk;
}

void SetPixel(int x, int y, int colour) {
  RequireSurface();
  Put(x, y, RgbOf(CheckedColor(colour)), 0);
  Changed();
  g_result = kGrOk;
}

int GetPixel(int x, int y) { return ColorNumber(GetPixelRgb(x, y)); }

std::uint32_t GetPixelRgb(int x, int y) {
  RequireSurface();
  return Inside(x, y) ? g_s.pix[static_cast<std::size_t>(y) * kWidth + x] : 0;
}

// ---- Text -----------------------------------------------------------------------------------

void SetTextFont(int font, int direction, int size) {
  RequireSurface();
  static constexpr int kBase[5] = {64, 110, 28, 129, 120};
  static constexpr int kD[10] = {100, 90, 80, 60, 45, 36, 30, 24, 20, 15};
  const int f = std::clamp(font, 0, 4);
  // Target width W of eight characters [pixels].
  const int target = f == 0 ? size * 64 : kBase[f] * 100 / kD[std::clamp(size, 1, 10) - 1];
  MakeFont(0, 20, 0, 0);
  const int w8 = std::max(1, Width("WWWWWWWW"));
  const int h = static_cast<int>(static_cast<long long>(std::abs(g_font.height)) * target / w8);
  MakeFont(0, std::max(1, h), 0, 0);
  g_s.textFont = font;
  g_s.textDirection = direction;
  g_s.textSize = size;
  g_s.alignFlags |= 1;
  g_result = kGrOk;
}

void ScaleTextFont(int multX, int divX, int multY, int divY) {
  RequireSurface();
  SetTextFont(g_s.textFont, g_s.textDirection, g_s.textSize);
  const long long w = divX ? static_cast<long long>(g_font.width) * multX / divX : g_font.width;
  const long long h = divY ? static_cast<long long>(g_font.height) * multY / divY : g_font.height;
  MakeFont(static_cast<int>(std::max(1LL, w)), static_cast<int>(std::max(1LL, h)), g_font.style, g_font.angle);
  g_result = kGrOk;
}

void SetTextFontStyle(int styleBits, int angleDegrees) {
  RequireSurface();
  LoadFace();
  MakeFont(g_font.width, g_font.height, styleBits & 15, angleDegrees);
  g_result = kGrOk;
}

void SetTextJustify(int horizontal, int vertical) {
  RequireSurface();
  if (horizontal < 0 || horizontal > 2)
    throw GraphicsError(kGrError, "SetTextJustify: Invalid horizontal justify value!");
  if (vertical < 0 || vertical > 2)
    throw GraphicsError(kGrError, "SetTextJustify: Invalid vertical justify value!");
  static constexpr int kH[3] = {0, 6, 2};
  static constexpr int kV[3] = {8, 24, 0};
  g_s.alignFlags = (g_s.alignFlags & 1) | kH[horizontal] | kV[vertical];
  g_s.justH = horizontal;
  g_s.justV = vertical;
  g_result = kGrOk;
}

void DrawText(std::string_view latin1) {
  RequireSurface();
  const int w = RenderText(g_s.cpX, g_s.cpY, latin1);
  if (g_s.alignFlags & 1) {
    // The position moves past the text: right of left-aligned text, left of
    // right-aligned text; centred text leaves it in place.
    const int along = g_s.justH == 0 ? w : g_s.justH == 2 ? -w : 0;
    const double a = g_font.angle * M_PI / 180.0;
    g_s.cpX += static_cast<int>(std::lround(along * std::cos(a)));
    g_s.cpY -= static_cast<int>(std::lround(along * std::sin(a)));
  }
  g_result = kGrOk;
}

void DrawTextAt(int x, int y, std::string_view latin1) {
  MoveTo(x, y);
  DrawText(latin1);
}

int TextWidth(std::string_view latin1) {
  RequireSurface();
  g_result = kGrOk;
  return Width(latin1);
}

int TextHeight(std::string_view) {
  RequireSurface();
  g_result = kGrOk;
  return g_font.height;
}

int FontWidth() {
  RequireSurface();
  return g_font.width;
}

int FontHeight() {
  RequireSurface();
  return g_font.height;
}

// ---- Viewport and images -------------------------------------------------------------------

void DefineViewPort(int x1, int y1, int x2, int y2, bool clip) {
  RequireSurface();
  g_s.viewPort = ViewPort{x1, y1, x2, y2, clip};
  g_s.cpX = g_s.cpY = 0;
  g_result = kGrOk;
}

ViewPort GetViewPort() {
  RequireSurface();
  g_result = kGrOk;
  return g_s.viewPort;
}

namespace {
constexpr std::size_t kImageHeader = 16;  // "SVIM", width, height, bits per pixel

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t GetU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
}  // namespace

std::size_t ImageBufferSize(int x1, int y1, int x2, int y2) {
  RequireSurface();
  g_result = kGrOk;
  if (x2 < x1 || y2 < y1) return 0;
  return kImageHeader + static_cast<std::size_t>(x2 - x1 + 1) * static_cast<std::size_t>(y2 - y1 + 1) * 4;
}

void SaveImage(int x1, int y1, int x2, int y2, std::vector<std::uint8_t>& buffer) {
  RequireSurface();
  const int w = std::max(0, x2 - x1 + 1), h = std::max(0, y2 - y1 + 1);
  buffer.assign(kImageHeader + static_cast<std::size_t>(w) * h * 4, 0);
  std::memcpy(buffer.data(), "SVIM", 4);
  PutU32(buffer.data() + 4, static_cast<std::uint32_t>(w));
  PutU32(buffer.data() + 8, static_cast<std::uint32_t>(h));
  PutU32(buffer.data() + 12, 32);
  std::uint8_t* p = buffer.data() + kImageHeader;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x, p += 4)
      PutU32(p, Inside(x1 + x, y1 + y) ? g_s.pix[static_cast<std::size_t>(y1 + y) * kWidth + x1 + x] : 0);
  g_result = kGrOk;
}

void RestoreImage(int x, int y, const std::vector<std::uint8_t>& buffer, int putMode) {
  RequireSurface();
  if (putMode < 0 || putMode > 4)
    throw GraphicsError(kGrError, "Undefined bit-block copy mode " + std::to_string(putMode));
  if (buffer.size() < kImageHeader || std::memcmp(buffer.data(), "SVIM", 4) != 0)
    throw GraphicsError(kGrError, "RestoreImage: the buffer holds no saved image");
  const std::uint32_t w = GetU32(buffer.data() + 4), h = GetU32(buffer.data() + 8);
  if (buffer.size() < kImageHeader + std::size_t{w} * h * 4)
    throw GraphicsError(kGrError, "RestoreImage: the saved image is incomplete");
  const std::uint8_t* p = buffer.data() + kImageHeader;
  for (std::uint32_t row = 0; row < h; ++row)
    for (std::uint32_t col = 0; col < w; ++col, p += 4)
      Put(x + static_cast<int>(col), y + static_cast<int>(row), GetU32(p), putMode);
  frontend::Invalidate(g_s.pix, kWidth, kHeight, true);
  g_result = kGrOk;
}

std::vector<std::uint32_t> CopyPixels(int x1, int y1, int x2, int y2, int& width, int& height) {
  RequireSurface();
  x1 = std::clamp(x1, 0, kWidth - 1);
  x2 = std::clamp(x2, 0, kWidth - 1);
  y1 = std::clamp(y1, 0, kHeight - 1);
  y2 = std::clamp(y2, 0, kHeight - 1);
  width = std::max(0, x2 - x1 + 1);
  height = std::max(0, y2 - y1 + 1);
  std::vector<std::uint32_t> out(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y)
    std::copy_n(g_s.pix.begin() + static_cast<std::ptrdiff_t>((y1 + y) * kWidth + x1), width,
                out.begin() + static_cast<std::ptrdiff_t>(y) * width);
  return out;
}

namespace detail {
const std::vector<std::uint32_t>* SurfacePixels() { return g_s.open ? &g_s.pix : nullptr; }
}  // namespace detail

}  // namespace svfit::console
