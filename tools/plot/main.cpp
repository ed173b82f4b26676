// svfit-plot: draws an HPGL plot file of svfit as PDF, SVG or PNG, so that
// a plot can be looked at and put into a paper without a pen plotter.
//
//   svfit-plot data.HGL                 -> data.pdf
//   svfit-plot data.HGL -o fig.svg      -> fig.svg (fig-2.svg, ... for further plots)
//   svfit-plot data.HGL -o fig.png --dpi 300 --black
//
// Several plots appended in one file become several pages. Instructions the
// renderer does not know are skipped with one warning that names them.
// Exit codes: 0 written, 1 the file cannot be read or nothing written, 2 bad
// command line.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "plot/hpgl_render.h"

namespace {

int Usage(const char* message) {
  if (message) std::fprintf(stderr, "svfit-plot: %s\n", message);
  std::fprintf(message ? stderr : stdout,
               "usage: svfit-plot FILE.HGL [-o OUTPUT.pdf|.svg|.png] [--black] [--dpi N]\n"
               "  draws the HPGL plot file as PDF (the default: FILE.pdf), SVG or PNG;\n"
               "  further plots of the file become further pages (PDF) or files\n"
               "  OUTPUT-2.svg, OUTPUT-3.svg, ... (SVG, PNG).\n"
               "  --black  every pen black      --dpi N  PNG resolution (150)\n");
  return message ? 2 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string input, output;
  svfit::plot::RenderOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") return Usage(nullptr);
    if (a == "--black") {
      options.black = true;
    } else if (a == "-o" && i + 1 < argc) {
      output = argv[++i];
    } else if (a == "--dpi" && i + 1 < argc) {
      char* end = nullptr;
      options.dpi = std::strtod(argv[++i], &end);
      if (*end != '\0' || !(options.dpi >= 10 && options.dpi <= 2400)) return Usage("--dpi takes 10 to 2400");
    } else if (!a.empty() && a[0] != '-' && input.empty()) {
      input = a;
    } else {
      return Usage(("unknown argument " + a).c_str());
    }
  }
  if (input.empty()) return Usage("no plot file named");
  if (output.empty()) {
    const std::size_t dot = input.rfind('.'), slash = input.rfind('/');
    output = (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? input.substr(0, dot) : input) + ".pdf";
  }
  const auto format = svfit::plot::FormatOfPath(output);
  if (!format) return Usage("the output must end in .pdf, .svg or .png");

  std::ifstream in(input, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "svfit-plot: cannot read %s: %s\n", input.c_str(), std::strerror(errno));
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const svfit::plot::HpglDrawing drawing = svfit::plot::ParseHpgl(text.str());
  if (!drawing.unknown.empty()) {
    std::string names;
    for (const std::string& m : drawing.unknown) names += " " + m;
    std::fprintf(stderr, "svfit-plot: %s: skipped unknown instructions:%s\n", input.c_str(), names.c_str());
  }
  std::string error;
  const auto files = svfit::plot::RenderHpgl(drawing, output, *format, options, &error);
  if (files.empty()) {
    std::fprintf(stderr, "svfit-plot: %s: %s\n", input.c_str(), error.c_str());
    return 1;
  }
  for (const std::string& f : files) std::printf("%s\n", f.c_str());
  return 0;
}
