// The report channel (see report_text.h). Consecutive text is merged into one
// piece so that the console receives a report as few large writes.
#include "results/report_text.h"

#include <ctime>

#include "console/crt.h"

namespace svfit::results {

ReportDate CurrentReportDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_wday};
}

std::string FormatReportDate(const ReportDate& date) {
  return std::to_string(date.day) + ":" + std::to_string(date.month) + ":" +
         std::to_string(date.year);
}

void ReportText::Text(std::string_view text) {
  if (text.empty()) return;
  if (!pieces_.empty() && pieces_.back().kind == Kind::kText) {
    pieces_.back().text += text;
  } else {
    pieces_.push_back({Kind::kText, std::string(text), 0});
  }
}

void ReportText::Line(std::string_view text) {
  Text(indent_);
  Text(text);
  Text("\n");
}

void ReportText::Color(int colour) {
  if (!toPrinter_) pieces_.push_back({Kind::kColor, {}, colour});
}

void ReportText::WaitKey() {
  if (!toPrinter_) pieces_.push_back({Kind::kWaitKey, {}, 0});
}

std::string ReportText::Plain() const {
  std::string s;
  for (const auto& p : pieces_) {
    if (p.kind == Kind::kText) s += p.text;
  }
  return s;
}

std::string ReportText::Annotated() const {
  std::string s;
  for (const auto& p : pieces_) {
    switch (p.kind) {
      case Kind::kText: s += p.text; break;
      case Kind::kColor: s += "<c" + std::to_string(p.colour) + ">"; break;
      case Kind::kWaitKey: s += "<key>"; break;
    }
  }
  return s;
}

void ReportText::WriteToConsole() const {
  for (const auto& p : pieces_) {
    switch (p.kind) {
      case Kind::kText: {
        // On the console a line feed only moves down: each line ends in CR LF.
        std::string_view text = p.text;
        for (std::size_t nl = text.find('\n'); nl != std::string_view::npos; nl = text.find('\n')) {
          console::WriteLn(text.substr(0, nl));
          text.remove_prefix(nl + 1);
        }
        console::Write(text);
        break;
      }
      case Kind::kColor: console::SetTextColor(p.colour); break;
      case Kind::kWaitKey:
        // An extended key arrives as 0 and its scan code: take both, so that
        // nothing of the paging key is left for the next prompt.
        if (console::ReadKey() == 0) console::ReadKey();
        break;
    }
  }
}

}  // namespace svfit::results
