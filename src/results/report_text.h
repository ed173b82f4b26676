// The report channel: report text is built in a buffer and written once to its
// destination, the console window or the printer.
//
// A report for the console also carries colour changes and key waits (the
// paging of the console report); a report for the printer carries only text,
// each line starting with the five-blank indent of the printed page. The same
// buffer gives the plain text (what the destination receives) and an annotated
// text with the colour changes and waits marked, which the tests compare.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace svfit::results {

// Local calendar date of the report header.
struct ReportDate {
  int year = 0;
  int month = 0;      // 1..12
  int day = 0;        // 1..31
  int dayOfWeek = 0;  // 0 = Sunday
};
// Today's date from the system clock.
ReportDate CurrentReportDate();
// "5:12:2026": day, month and year without padding.
std::string FormatReportDate(const ReportDate& date);

class ReportText {
 public:
  explicit ReportText(bool toPrinter) : toPrinter_(toPrinter) {}

  bool toPrinter() const { return toPrinter_; }
  // Written at the start of every report line: five blanks on the printer.
  const std::string& indent() const { return indent_; }

  void Line(std::string_view text);  // indent, text, line end
  void Text(std::string_view text);  // text as it is (no indent, no line end)
  void Color(int colour);            // console only: text colour from here on
  void WaitKey();                    // console only: wait for one key (paging)

  // The text as the destination receives it.
  std::string Plain() const;
  // Plain text with "<cN>" at each colour change and "<key>" at each wait.
  std::string Annotated() const;
  // Writes the report to the console window with its colour changes and waits.
  void WriteToConsole() const;

 private:
  enum class Kind { kText, kColor, kWaitKey };
  struct Piece {
    Kind kind;
    std::string text;
    int colour;
  };
  bool toPrinter_;
  std::string indent_ = toPrinter_ ? "     " : "";
  std::vector<Piece> pieces_;
};

}  // namespace svfit::results
