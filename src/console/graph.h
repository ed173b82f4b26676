// Graph: the 16-colour pixel surface on which plots, the graph viewer and the
// fit progress are drawn.
//
// One framebuffer of 32-bit RGB pixels (origin top left, y downwards) holds the
// exact result of every operation: Bresenham lines with styles and thickness,
// scanline-filled ellipses with fill patterns, the write modes copy, xor, or,
// and, monochrome FreeType text with the eight-"W" sizing rule, and image save
// and restore. Pixels are RGB rather than palette indices because exclusive-or
// drawing combines the colour values themselves (yellow xor brown is not a
// palette colour) and must restore the image exactly when drawn twice.
//
// The surface is shown in an SDL2 window when a display is available, and is
// otherwise a headless 1024 x 768 image; with the script console it is always
// headless. Every shown picture can be saved as a numbered PNG (--png DIR).
//
// Every operation except GraphicsErrorText and CloseGraphics raises
// GraphicsError (code -1) when no surface exists, and sets the result code to
// 0 when it succeeds.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace svfit::console {

// A failed graphics operation: an undefined colour, style, mode or
// justification, or drawing without a surface (code -1).
class GraphicsError : public std::runtime_error {
 public:
  GraphicsError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

inline constexpr int kGrOk = 0;
inline constexpr int kGrNoInitGraph = -1;
inline constexpr int kGrInvalidMode = -10;
inline constexpr int kGrError = -11;

// ---- Front end ---------------------------------------------------------------
enum class GraphicsFrontend { kAuto, kWindow, kHeadless };
// kAuto (the default): an SDL2 window when DISPLAY or WAYLAND_DISPLAY is set,
// SDL starts and the console is not the script front end; else headless.
// kWindow tries the window whatever the console (for tests under Xvfb).
void SetGraphicsFrontend(GraphicsFrontend kind);
// True while the surface is shown in a real window (mouse input is possible).
bool GraphicsWindowActive();
// --png DIR: every picture shown is saved as DIR/graph-NNN.png.
void SetPngDirectory(std::string dir);
std::string PngDirectory();  // "" without --png
// Marks a finished picture: when the surface is shown and its content changed
// since the last picture, the picture count rises, "[graph N]" (or
// "[graph N: FILE]") is announced in the script transcript, the PNG is saved
// when asked for, and the window is brought up to date. HideGraphics and
// CloseGraphics call it; the viewer calls it each time it waits for a key.
void PresentGraphics();
int PicturesShown();

// ---- Lifecycle ------------------------------------------------------------------
void OpenGraphics(int& driver, int& mode, std::string_view driverPath);
void CloseGraphics();
void ShowGraphics(int mode);
void HideGraphics();
bool GraphicsOpen();
bool GraphicsVisible();
int MaxGraphicsMode();
int MaxX();
int MaxY();
int GraphicsResult();
std::string GraphicsErrorText(int code);

// ---- Drawing state -----------------------------------------------------------------
void ClearSurface();
void SetDrawColor(int colour);  // 0..15, 20 (= 6), 56..63 (= 8..15)
int GetDrawColor();
void SetBackColor(int colour);
int GetBackColor();
void SetFill(int pattern, int colour);  // patterns 0..12
void SetFillBits(const std::uint8_t bits[8], int colour);
void SetLine(int style, int pattern, int thickness);  // styles 0..4
void SetDrawMode(int mode);  // 0 copy, 1 xor, 2 or, 3 and, 4 inverse copy
int GetDrawMode();
void MoveTo(int x, int y);
int CurrentX();
int CurrentY();

// ---- Drawing ---------------------------------------------------------------------------
void LineTo(int x, int y);
void DrawLine(int x1, int y1, int x2, int y2);
void FillEllipse(int x, int y, int rx, int ry);
void SetPixel(int x, int y, int colour);
// The colour number 0..15 of a pixel (0 for an RGB value outside the table).
int GetPixel(int x, int y);
std::uint32_t GetPixelRgb(int x, int y);  // 0x00RRGGBB

// ---- Text ------------------------------------------------------------------------------
void SetTextFont(int font, int direction, int size);
void ScaleTextFont(int multX, int divX, int multY, int divY);
void SetTextFontStyle(int styleBits, int angleDegrees);  // bits: 1 bold, 2 italic, 4 underline, 8 strike-out
void SetTextJustify(int horizontal, int vertical);  // h 0 left, 1 centre, 2 right; v 0 bottom, 1 baseline, 2 top
void DrawText(std::string_view latin1);
void DrawTextAt(int x, int y, std::string_view latin1);
int TextWidth(std::string_view latin1);
int TextHeight(std::string_view latin1);
// The current font's cell: width and height actually obtained [pixels].
int FontWidth();
int FontHeight();

// ---- Viewport and images -------------------------------------------------------------
struct ViewPort {
  int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool clip = false;
};
// Records the rectangle and moves to (0, 0); coordinates are not shifted and
// nothing is clipped.
void DefineViewPort(int x1, int y1, int x2, int y2, bool clip);
ViewPort GetViewPort();
// Bytes needed to save the rectangle (0 for an empty rectangle).
std::size_t ImageBufferSize(int x1, int y1, int x2, int y2);
// The buffer holds a self-contained image: a 16-byte header ("SVIM", width,
// height, pixel bits) followed by width x height pixels of 32 bits.
void SaveImage(int x1, int y1, int x2, int y2, std::vector<std::uint8_t>& buffer);
void RestoreImage(int x, int y, const std::vector<std::uint8_t>& buffer, int putMode);  // 0..4

// ---- For the hardcopy and tests ----------------------------------------------------
// Copies the rectangle of the backing image (clamped to the surface) as
// 0x00RRGGBB pixels, row by row; width and height are returned.
std::vector<std::uint32_t> CopyPixels(int x1, int y1, int x2, int y2, int& width, int& height);
// Writes the whole backing image as a PNG; false when it could not be written.
bool WritePng(const std::string& path);
// Writes what the window shows, read back from it, as a PNG; false without a
// window.
bool SaveWindowScreenshot(const std::string& path);

}  // namespace svfit::console
