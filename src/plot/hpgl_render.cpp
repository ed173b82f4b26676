// HPGL to PDF, SVG and PNG (see hpgl_render.h).
//
// Reading: an instruction is two letters and its parameters, numbers
// separated by commas or blanks, ended by ";" or by the next instruction
// ("PA PD1500,1440;" is PA without parameters, then PD). LB takes every byte
// up to the label terminator (ETX unless DT set another). The pen state
// follows the plotter: PA/PR choose absolute or relative moves, PU/PD lift or
// lower the pen and move through their points, CI draws around the pen
// position without moving it. Moves with the pen down and a pen selected
// (SP1..) join into one stroke until the pen is lifted or changed.
//
// Numbers are clamped to ±1e7 units (250 m) and parameter lists cut at
// 100000 numbers, so arbitrary input never overflows or exhausts memory.
//
// Drawing: 1 plotter unit = 0.025 mm = 72/1016 pt. Labels are drawn glyph by
// glyph, 1.5 character widths apart as a plotter spaces them, in the
// monospace face that fontconfig finds for "Courier New", scaled so that a
// capital stands the SI height and a glyph body the SI width.
#include "plot/hpgl_render.h"

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace svfit::plot {
namespace {

constexpr double kUnitsPerMm = 40;     // plotter units per mm
constexpr double kUnitsPerInch = 1016;
constexpr double kMargin = 400;        // page margin around the drawing [units]
constexpr double kLimit = 1e7;         // largest coordinate taken [units]
constexpr std::size_t kMaxParams = 100000;
constexpr double kDefaultWidthCm = 0.187, kDefaultHeightCm = 0.269;
constexpr double kPi = 3.14159265358979323846;

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

class Parser {
 public:
  explicit Parser(std::string_view text) : t_(text) { d_.pages.emplace_back(); Reset(true); }

  HpglDrawing Run() {
    while (i_ < t_.size()) {
      const char c = t_[i_];
      if (c == '\x1b') {
        SkipEscape();
      } else if (IsLetter(c) && i_ + 1 < t_.size() && IsLetter(t_[i_ + 1])) {
        const std::string m{Upper(c), Upper(t_[i_ + 1])};
        i_ += 2;
        Instruction(m);
      } else {
        ++i_;  // separators, line ends and stray bytes between instructions
      }
    }
    EndStroke();
    if (d_.pages.back().empty()) d_.pages.pop_back();
    return std::move(d_);
  }

 private:
  // ---- Reading -------------------------------------------------------------------------
  // ESC and a printer-language sequence: a parameterised one ("%0A") ends at
  // its upper-case letter, any other is two bytes ("E").
  void SkipEscape() {
    ++i_;
    ++d_.escapes;
    if (i_ < t_.size() && t_[i_] >= 33 && t_[i_] <= 47) {
      for (int n = 0; i_ < t_.size() && n < 64; ++n) {
        const char c = t_[i_++];
        if (c >= 64 && c <= 94) break;
      }
    } else if (i_ < t_.size()) {
      ++i_;
    }
  }

  std::vector<double> Params() {
    std::vector<double> p;
    while (i_ < t_.size()) {
      const char c = t_[i_];
      if (c == ';') {
        ++i_;
        break;
      }
      if (c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++i_;
        continue;
      }
      if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.')) break;
      std::size_t j = i_ + 1;
      while (j < t_.size() && j - i_ < 40 &&
             (std::isdigit(static_cast<unsigned char>(t_[j])) || t_[j] == '.'))
        ++j;
      const std::string number(t_.substr(i_, j - i_));
      i_ = j;
      char* end = nullptr;
      double v = std::strtod(number.c_str(), &end);
      if (end == number.c_str() || !std::isfinite(v)) v = 0;
      if (p.size() < kMaxParams) p.push_back(std::clamp(v, -kLimit, kLimit));
    }
    return p;
  }

  // ---- State ---------------------------------------------------------------------------------
  void Reset(bool all) {
    EndStroke();
    absolute_ = true;
    run_ = 1;
    rise_ = 0;
    terminator_ = '\x03';
    charW_ = kDefaultWidthCm;
    charH_ = kDefaultHeightCm;
    bold_ = false;
    if (all) {
      penDown_ = false;
      pen_ = 1;
      width_ = 0.35;
      rotation_ = 0;
      pos_ = {};
    }
  }

  HpglPage& Page() { return d_.pages.back(); }
  // A new page when IN or DF follow a drawing.
  void EndPage() {
    EndStroke();
    if (!Page().empty()) d_.pages.emplace_back();
  }

  HpglPoint ToPage(HpglPoint p) const {
    switch (rotation_) {
      case 90: return {-p.y, p.x};
      case 180: return {-p.x, -p.y};
      case 270: return {p.y, -p.x};
      default: return p;
    }
  }

  void Extend(HpglPoint p, double around) {
    HpglPage& pg = Page();
    if (pg.empty() && stroke_.points.empty()) {
      pg.minX = pg.maxX = p.x;
      pg.minY = pg.maxY = p.y;
    }
    pg.minX = std::min(pg.minX, p.x - around);
    pg.maxX = std::max(pg.maxX, p.x + around);
    pg.minY = std::min(pg.minY, p.y - around);
    pg.maxY = std::max(pg.maxY, p.y + around);
  }

  void EndStroke() {
    if (stroke_.points.size() >= 2) Page().strokes.push_back(std::move(stroke_));
    stroke_ = {};
  }

  void LineTo(HpglPoint to) {
    if (penDown_ && pen_ > 0) {
      if (stroke_.points.empty()) {
        stroke_.pen = pen_;
        stroke_.widthMm = width_;
        const HpglPoint from = ToPage(pos_);
        Extend(from, width_ * kUnitsPerMm);
        stroke_.points.push_back(from);
      }
      const HpglPoint p = ToPage(to);
      Extend(p, width_ * kUnitsPerMm);
      stroke_.points.push_back(p);
    }
    pos_ = to;
  }

  void Moves(const std::vector<double>& p) {
    for (std::size_t k = 0; k + 1 < p.size(); k += 2) {
      HpglPoint to{p[k], p[k + 1]};
      if (!absolute_) to = {std::clamp(pos_.x + to.x, -kLimit, kLimit), std::clamp(pos_.y + to.y, -kLimit, kLimit)};
      LineTo(to);
    }
  }

  void Circle(double radius, double start, double sweep, bool filled) {
    EndStroke();
    if (pen_ <= 0 || radius == 0) return;
    HpglCircle c;
    c.centre = ToPage(pos_);
    c.radius = std::fabs(radius);
    c.start = start + rotation_;
    c.sweep = std::clamp(sweep, -360.0, 360.0);
    c.filled = filled;
    c.pen = pen_;
    c.widthMm = width_;
    Extend(c.centre, c.radius + width_ * kUnitsPerMm);
    Page().circles.push_back(c);
  }

  void Label() {
    std::string text;
    while (i_ < t_.size() && t_[i_] != terminator_) {
      const unsigned char c = static_cast<unsigned char>(t_[i_++]);
      if (c >= 32 && c != 127) text += static_cast<char>(c);
    }
    if (i_ < t_.size()) ++i_;  // the terminator
    EndStroke();
    const double angle = std::atan2(rise_, run_) * 180 / kPi;
    const double pitch = 1.5 * charW_ * 10 * kUnitsPerMm;  // a plotter's character spacing [units]
    const HpglPoint start = pos_;
    if (pen_ > 0 && !text.empty()) {
      HpglLabel l;
      l.at = ToPage(start);
      l.text = text;
      l.widthCm = charW_;
      l.heightCm = charH_;
      l.angle = angle + rotation_;
      l.pen = pen_;
      l.bold = bold_;
      const double length = pitch * static_cast<double>(text.size());
      const double a = l.angle * kPi / 180;
      const double h = std::fabs(charH_) * 10 * kUnitsPerMm;
      // The box of the label: along the baseline and one character height up.
      for (const auto& [u, v] : {std::pair{0.0, 0.0}, {length, 0.0}, {0.0, h}, {length, h}})
        Extend({l.at.x + u * std::cos(a) - v * std::sin(a), l.at.y + u * std::sin(a) + v * std::cos(a)}, 0);
      Page().labels.push_back(std::move(l));
    }
    // The pen stands after the label, as on a plotter.
    const double unitRun = std::hypot(run_, rise_) > 0 ? run_ / std::hypot(run_, rise_) : 1;
    const double unitRise = std::hypot(run_, rise_) > 0 ? rise_ / std::hypot(run_, rise_) : 0;
    const double advance = pitch * static_cast<double>(text.size());
    pos_ = {std::clamp(start.x + advance * unitRun, -kLimit, kLimit),
            std::clamp(start.y + advance * unitRise, -kLimit, kLimit)};
  }

  void Unknown(const std::string& m) {
    if (std::find(d_.unknown.begin(), d_.unknown.end(), m) == d_.unknown.end()) d_.unknown.push_back(m);
  }

  void Instruction(const std::string& m) {
    if (m == "LB") return Label();
    if (m == "DT") {  // the next byte is the new label terminator; "DT;" restores ETX
      if (i_ < t_.size() && t_[i_] != ';') terminator_ = t_[i_++];
      else terminator_ = '\x03';
      if (i_ < t_.size() && t_[i_] == ';') ++i_;
      return;
    }
    const std::vector<double> p = Params();
    if (m == "IN") {
      EndPage();
      Reset(true);
    } else if (m == "DF") {
      EndPage();
      Reset(false);
    } else if (m == "SP") {
      EndStroke();
      pen_ = p.empty() ? 0 : static_cast<int>(p[0]);
    } else if (m == "PA" || m == "PR") {
      absolute_ = m == "PA";
      Moves(p);
    } else if (m == "PU" || m == "PD") {
      penDown_ = m == "PD";
      if (!penDown_) EndStroke();
      Moves(p);
    } else if (m == "PW") {
      EndStroke();
      width_ = p.empty() ? 0.35 : std::clamp(p[0], 0.0, 100.0);
    } else if (m == "SI") {
      charW_ = p.size() >= 2 ? std::clamp(p[0], -100.0, 100.0) : kDefaultWidthCm;
      charH_ = p.size() >= 2 ? std::clamp(p[1], -100.0, 100.0) : kDefaultHeightCm;
    } else if (m == "SD") {
      for (std::size_t k = 0; k + 1 < p.size(); k += 2)
        if (p[k] == 6) bold_ = p[k + 1] >= 4;  // stroke weight: 4 and above is bold
    } else if (m == "DI") {
      if (p.size() >= 2 && (p[0] != 0 || p[1] != 0)) {
        run_ = p[0];
        rise_ = p[1];
      } else if (p.empty()) {
        run_ = 1;
        rise_ = 0;
      }
    } else if (m == "CI") {
      if (!p.empty()) Circle(p[0], 0, 360, false);
    } else if (m == "WG") {
      if (p.size() >= 3) Circle(p[0], p[1], p[2], true);
    } else if (m == "ER") {
      if (p.size() >= 2) {
        EndStroke();
        const HpglPoint o = pos_;
        const bool down = penDown_;
        penDown_ = true;
        for (const auto& q : {HpglPoint{o.x + p[0], o.y}, HpglPoint{o.x + p[0], o.y + p[1]},
                              HpglPoint{o.x, o.y + p[1]}, o})
          LineTo(q);
        EndStroke();
        penDown_ = down;
        pos_ = o;
      }
    } else if (m == "RO") {
      EndStroke();
      const long r = p.empty() ? 0 : std::lround(p[0] / 90) * 90 % 360;
      rotation_ = static_cast<int>(r < 0 ? r + 360 : r);
    } else if (m == "VS") {
      // pen speed: nothing to draw
    } else {
      Unknown(m);
    }
  }

  std::string_view t_;
  std::size_t i_ = 0;
  HpglDrawing d_;
  HpglStroke stroke_;
  HpglPoint pos_;
  bool penDown_ = false, absolute_ = true, bold_ = false;
  int pen_ = 1, rotation_ = 0;
  double width_ = 0.35, run_ = 1, rise_ = 0, charW_ = kDefaultWidthCm, charH_ = kDefaultHeightCm;
  char terminator_ = '\x03';
};

// ---- Drawing ---------------------------------------------------------------------------------

struct Colour {
  double r, g, b;
};
// Pens 1..6: black, red, green, blue, magenta, orange; further pens repeat them.
Colour PenColour(int pen, bool black) {
  static const Colour kPens[] = {{0, 0, 0}, {0.8, 0.05, 0.05}, {0, 0.55, 0.1},
                                 {0.05, 0.2, 0.85}, {0.7, 0, 0.7}, {0.9, 0.5, 0}};
  if (black || pen < 1) return kPens[0];
  return kPens[(pen - 1) % 6];
}

std::string Utf8(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  if (u < 0x80) return std::string(1, c);
  return {static_cast<char>(0xC0 | (u >> 6)), static_cast<char>(0x80 | (u & 0x3F))};
}

void DrawPage(cairo_t* cr, const HpglPage& page, const PageBox& box, double k, const RenderOptions& o,
              bool whiteBackground) {
  if (whiteBackground) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
  }
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  auto colour = [&](int pen) {
    const Colour c = PenColour(pen, o.black);
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
  };
  auto at = [&](HpglPoint p) { return DevicePoint(box, k, p.x, p.y); };
  for (const HpglStroke& s : page.strokes) {
    colour(s.pen);
    cairo_set_line_width(cr, std::max(s.widthMm * kUnitsPerMm * k, 0.25));
    const HpglPoint p0 = at(s.points.front());
    cairo_move_to(cr, p0.x, p0.y);
    for (const HpglPoint& q : s.points) {
      const HpglPoint d = at(q);
      cairo_line_to(cr, d.x, d.y);
    }
    cairo_stroke(cr);
  }
  for (const HpglCircle& c : page.circles) {
    colour(c.pen);
    const HpglPoint m = at(c.centre);
    const double r = c.radius * k;
    if (c.filled && std::fabs(c.sweep) < 360) {
      // A wedge: the centre and the arc, counterclockwise on the page (y up).
      cairo_move_to(cr, m.x, m.y);
      const int n = 64;
      for (int i = 0; i <= n; ++i) {
        const double a = (c.start + c.sweep * i / n) * kPi / 180;
        cairo_line_to(cr, m.x + r * std::cos(a), m.y - r * std::sin(a));
      }
      cairo_close_path(cr);
      cairo_fill(cr);
    } else {
      cairo_new_sub_path(cr);
      cairo_arc(cr, m.x, m.y, r, 0, 2 * kPi);
      if (c.filled) {
        cairo_fill(cr);
      } else {
        cairo_set_line_width(cr, std::max(c.widthMm * kUnitsPerMm * k, 0.25));
        cairo_stroke(cr);
      }
    }
  }
  // Glyph metrics of the face at size 1: cap height and advance.
  for (const bool bold : {false, true}) {
    cairo_select_font_face(cr, "Courier New", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 1);
    cairo_text_extents_t cap;
    cairo_text_extents(cr, "H", &cap);
    const double capRatio = cap.height > 0.1 ? cap.height : 0.66;
    const double advanceRatio = cap.x_advance > 0.1 ? cap.x_advance : 0.6;
    for (const HpglLabel& l : page.labels) {
      if (l.bold != bold) continue;
      colour(l.pen);
      const double w = l.widthCm * 10 * kUnitsPerMm * k, h = l.heightCm * 10 * kUnitsPerMm * k;
      if (std::fabs(w) < 1e-3 || std::fabs(h) < 1e-3) continue;
      cairo_matrix_t font;
      // A glyph body a little wider than the character width, as the plotter font.
      cairo_matrix_init_scale(&font, 1.35 * w / advanceRatio, h / capRatio);
      cairo_set_font_matrix(cr, &font);
      const double a = l.angle * kPi / 180, pitch = 1.5 * l.widthCm * 10 * kUnitsPerMm;
      for (std::size_t i = 0; i < l.text.size(); ++i) {
        if (l.text[i] == ' ') continue;
        const HpglPoint p = at({l.at.x + pitch * static_cast<double>(i) * std::cos(a),
                                l.at.y + pitch * static_cast<double>(i) * std::sin(a)});
        cairo_save(cr);
        cairo_translate(cr, p.x, p.y);
        cairo_rotate(cr, -a);
        cairo_move_to(cr, 0, 0);
        cairo_show_text(cr, Utf8(l.text[i]).c_str());
        cairo_restore(cr);
      }
    }
  }
}

std::string Extension(PlotFormat f) {
  switch (f) {
    case PlotFormat::kPdf: return ".pdf";
    case PlotFormat::kSvg: return ".svg";
    case PlotFormat::kPng: return ".png";
  }
  return "";
}

}  // namespace

HpglDrawing ParseHpgl(std::string_view text) { return Parser(text).Run(); }

PageBox PageBoxOf(const HpglPage& page) {
  return {page.minX - kMargin, page.minY - kMargin, page.maxX - page.minX + 2 * kMargin,
          page.maxY - page.minY + 2 * kMargin};
}

std::optional<PlotFormat> FormatOfPath(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return std::nullopt;
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (PlotFormat f : {PlotFormat::kPdf, PlotFormat::kSvg, PlotFormat::kPng})
    if (ext == Extension(f)) return f;
  return std::nullopt;
}

double DeviceScale(const PageBox& box, PlotFormat format, const RenderOptions& options) {
  const double longest = std::max(box.width, box.height);
  if (format == PlotFormat::kPng) {
    double k = std::clamp(options.dpi, 10.0, 2400.0) / kUnitsPerInch;  // pixels per unit
    // At most 10000 pixels a side and 40 million pixels in all.
    k = std::min(k, 10000 / longest);
    k = std::min(k, std::sqrt(4e7 / (box.width * box.height)));
    return k;
  }
  return std::min(72 / kUnitsPerInch, 14000 / longest);  // PDF pages end at 14400 pt
}

HpglPoint DevicePoint(const PageBox& box, double scale, double x, double y) {
  return {(x - box.x0) * scale, (box.y0 + box.height - y) * scale};
}

std::vector<std::string> OutputPaths(const std::string& path, PlotFormat format, std::size_t pages) {
  std::vector<std::string> paths;
  if (format == PlotFormat::kPdf) return {path};
  const std::size_t slash = path.rfind('/');
  std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
  for (std::size_t i = 1; i <= pages; ++i)
    paths.push_back(i == 1 ? path : path.substr(0, dot) + "-" + std::to_string(i) + path.substr(dot));
  return paths;
}

std::vector<std::string> RenderHpgl(const HpglDrawing& drawing, const std::string& path,
                                    PlotFormat format, const RenderOptions& options,
                                    std::string* error) {
  std::string dummy;
  std::string& err = error ? *error : dummy;
  if (drawing.pages.empty()) {
    err = "nothing is drawn";
    return {};
  }
  const std::vector<std::string> paths = OutputPaths(path, format, drawing.pages.size());
  cairo_surface_t* pdf = nullptr;
  for (std::size_t i = 0; i < drawing.pages.size(); ++i) {
    const HpglPage& page = drawing.pages[i];
    const PageBox box = PageBoxOf(page);
    const double k = DeviceScale(box, format, options);
    const double w = box.width * k, h = box.height * k;
    cairo_surface_t* surface = nullptr;
    switch (format) {
      case PlotFormat::kPdf:
        if (!pdf) pdf = cairo_pdf_surface_create(path.c_str(), w, h);
        else cairo_pdf_surface_set_size(pdf, w, h);
        surface = pdf;
        break;
      case PlotFormat::kSvg: surface = cairo_svg_surface_create(paths[i].c_str(), w, h); break;
      case PlotFormat::kPng:
        surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(1, static_cast<int>(std::ceil(w))),
                                             std::max(1, static_cast<int>(std::ceil(h))));
        break;
    }
    cairo_t* cr = cairo_create(surface);
    DrawPage(cr, page, box, k, options, format == PlotFormat::kPng);
    if (format == PlotFormat::kPdf) cairo_show_page(cr);
    cairo_destroy(cr);
    bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    if (format == PlotFormat::kPng) {
      ok = ok && cairo_surface_write_to_png(surface, paths[i].c_str()) == CAIRO_STATUS_SUCCESS;
      cairo_surface_destroy(surface);
    } else if (format == PlotFormat::kSvg) {
      cairo_surface_finish(surface);
      ok = ok && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
      cairo_surface_destroy(surface);
    }
    if (!ok) {
      if (pdf) cairo_surface_destroy(pdf);
      err = "cannot write " + paths[std::min(i, paths.size() - 1)];
      return {};
    }
  }
  if (pdf) {
    cairo_surface_finish(pdf);
    const bool ok = cairo_surface_status(pdf) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(pdf);
    if (!ok) {
      err = "cannot write " + path;
      return {};
    }
  }
  return paths;
}

bool RenderLastPlotPng(const std::string& hpglPath, const std::string& pngPath, std::string* error) {
  std::ifstream in(hpglPath, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    if (error) *error = "cannot read " + hpglPath;
    return false;
  }
  HpglDrawing d = ParseHpgl(text.str());
  if (d.pages.size() > 1) d.pages.erase(d.pages.begin(), d.pages.end() - 1);
  return !RenderHpgl(d, pngPath, PlotFormat::kPng, {}, error).empty();
}

}  // namespace svfit::plot
