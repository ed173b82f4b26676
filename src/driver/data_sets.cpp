// The option menu's editing of the fitted data sets and radial limits, and
// the choice of the data sets a graph shows (declared in flow.h).
//
//   A  omit positions of scanSequence: numbers, or one range "n-m"
//   S  seqFirst, the first used position     H  seqLast, the last
//   O  the sequence as loaded; on request every cut point as well
//   K  common near-bottom radius: the last used points, with the A_max cut
//   M  common start radius: the first used points
//   L  common maximal absorbance (results/max_absorbance.h)
//   B  which of the used data sets the graph shows, spreading on or off
// Editing never deletes data: it moves scanSequence, seqFirst, seqLast,
// scanFirstPoint and scanLastPoint only, so O with "Y" gives back every
// point exactly as loaded. Invariants kept by every letter:
//   1 <= seqFirst <= seqLast <= scanCount − omittedCount,
//   scanSequence[1..scanCount] is a permutation of the scan numbers (the
//   omitted scans stand behind the active part, in the order omitted), and
//   1 <= scanFirstPoint <= scanLastPoint <= scanPointCount for every scan.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "console/crt.h"
#include "console/format.h"
#include "console/prompt.h"
#include "driver/flow.h"
#include "results/max_absorbance.h"

namespace svfit::driver {
namespace {

using console::AskNumber;
using console::FirstChar;
using console::FormatF;
using console::FormatI;

// Scans still in the sequence: positions 1..ActiveCount may be used.
int ActiveCount(const AnalysisState& st) { return st.scanCount - st.omittedCount; }

// A changed set of used scans: the point counts follow, and the graph's
// choice of data sets (positions among the used ones) starts again from all.
void UsedSetsChanged(AnalysisState& st) {
  results::CountUsedPoints(st);
  st.display.plotFirst = 1;
  st.display.plotLast = 0;
  st.display.plotStep = 1;
}

// The positions an answer to A names, ascending and each once: a range n-m
// clamped to seqFirst..seqLast and expanded, or single numbers rounded. Empty
// when a number lies outside seqFirst..seqLast, when the range misses it
// altogether, has an end below 1 ("2--5") or more numbers after it ("4-6 9",
// of which only the range would be read), or when every used set would go
// (the answer is asked again).
std::vector<int> PositionsToOmit(const AnalysisState& st, const console::NumberList& list) {
  std::vector<int> pos;
  if (list.isRange) {
    if (list.more || list.values[0] < 1 || list.values[1] < 1) return {};
    long lo = std::lround(list.values[0]), hi = std::lround(list.values[1]);
    if (lo > hi) std::swap(lo, hi);
    for (long p = std::max<long>(lo, st.seqFirst); p <= std::min<long>(hi, st.seqLast); ++p)
      pos.push_back(static_cast<int>(p));
  } else {
    for (const double v : list.values) {
      const long p = std::lround(v);
      if (p < st.seqFirst || p > st.seqLast) return {};
      pos.push_back(static_cast<int>(p));
    }
  }
  // In the order given, the k-th number less k − 1 would name the position
  // after the earlier removals: "5 3" would take out 5 and 2. Sorted, every
  // number names the data set the user sees in the list.
  std::sort(pos.begin(), pos.end());
  pos.erase(std::unique(pos.begin(), pos.end()), pos.end());
  if (static_cast<int>(pos.size()) >= st.seqLast - st.seqFirst + 1) return {};
  return pos;
}

// A radius answer of K and M: 1..9 first, empty keeps the current value
// (written back at column 62 as F(8,4)).
double AskRadius(const std::string& prompt, double current, std::function<bool(double)> valid) {
  return AskNumber({.prompt = prompt,
                    .defaultValue = current,
                    .defaultColumn = 62,
                    .first = FirstChar::kOneToNine,
                    .defaultWidth = 8,
                    .defaultDecimals = 4,
                    .valid = std::move(valid)})
      .value;
}

// A count of data sets for B: a whole number, written back at column 57.
console::NumberAnswer AskSetCount(const std::string& prompt, int defaultValue, FirstChar first,
                                  std::function<bool(double)> valid) {
  return AskNumber({.prompt = prompt,
                    .defaultValue = static_cast<double>(defaultValue),
                    .defaultColumn = 57,
                    .first = first,
                    .integer = true,
                    .valid = std::move(valid)});
}

}  // namespace

bool OmitDataSets(AnalysisState& st) {
  const std::string prompt = "What data files shall be omitted (between" + FormatI(st.seqFirst, 3) +
                             " and " + FormatI(st.seqLast, 3) + ")   :  ";
  const console::NumberList list = console::AskNumberList(
      prompt, kMaxScans,
      {.ranges = true, .emptyAllowed = true, .valid = [&st](const console::NumberList& l) {
         return !PositionsToOmit(st, l).empty();
       }});
  if (list.values.empty()) return false;  // nothing named: back to the menu
  const std::vector<int> positions = PositionsToOmit(st, list);
  int* seq = st.scanSequence.data();
  for (std::size_t k = 0; k < positions.size(); ++k) {
    // Earlier removals moved this set k places up. The rest of the sequence
    // moves up by one and the removed scan goes to its end, behind the
    // scans omitted before it.
    const int p = positions[k] - static_cast<int>(k);
    std::rotate(seq + p, seq + p + 1, seq + st.scanCount + 1);
    --st.seqLast;
    ++st.omittedCount;
  }
  UsedSetsChanged(st);
  return true;
}

void ChooseStartSet(AnalysisState& st) {
  const std::string prompt = "number of starting file  (between  1 and " + FormatI(st.seqLast, 3) +
                             "),Now  " + FormatI(st.seqFirst, 3) + " : ";
  const int last = st.seqLast;
  st.seqFirst = AskNumber({.prompt = prompt,
                           .defaultValue = 1,
                           .defaultColumn = 58,
                           .first = FirstChar::kOneToNine,
                           .integer = true,
                           .valid = [last](double v) { return v >= 1 && v <= last; }})
                    .asInt();
  UsedSetsChanged(st);
}

void ChooseLastSet(AnalysisState& st) {
  // An empty answer takes every set still in the sequence (scanCount less the
  // omitted ones: positions beyond hold the omitted scans).
  const int active = ActiveCount(st);
  const int first = st.seqFirst;
  const std::string prompt = "The last data file to fit(between" + FormatI(first, 3) + " and " +
                             FormatI(active, 3) + "),now  " + FormatI(st.seqLast, 3) + " : ";
  st.seqLast = AskNumber({.prompt = prompt,
                          .defaultValue = static_cast<double>(active),
                          .defaultColumn = 58,
                          .first = FirstChar::kOneToNine,
                          .integer = true,
                          .valid = [first, active](double v) { return v >= first && v <= active; }})
                   .asInt();
  UsedSetsChanged(st);
}

void RestoreDataSets(AnalysisState& st) {
  for (int p = 1; p <= st.scanCount; ++p) st.scanSequence[p] = p;
  if (console::AskYesNo("Also the cutted data points shall be restored   (Y/N)  :  ",
                        console::YesNo::kEnterNo)) {
    st.maxAbsorbance = 0;
    for (int s = 1; s <= st.scanCount; ++s) {
      st.scanFirstPoint[s] = 1;
      st.scanLastPoint[s] = st.scanPointCount[s];
      st.bottomPoint[s] = 0;  // the points beyond the bottom come back as well
    }
    // The radii of the restored points; with the cuts kept (N) their radii
    // stay too, so the report names the range that is fitted.
    st.nearBottomRadius = st.bottomMarked;
    st.startRadius = st.meniscusMarked;
    st.endRadius = st.nearBottomRadius;
  }
  st.seqFirst = 1;
  st.seqLast = st.scanCount;
  st.omittedCount = 0;
  UsedSetsChanged(st);
}

void NewNearBottomRadius(AnalysisState& st) {
  // Above the start radius, so that every scan keeps points to fit.
  const double start = st.startRadius;
  const double r = AskRadius("Radius near bottom (orig.radius=" + FormatF(st.origEndRadius, 7, 4) +
                                 ") new radius: " + FormatF(st.endRadius, 6, 4) + " :  ",
                             st.endRadius, [start](double v) { return v > start; });
  // Beyond the data there is nothing to take: the radius is that of the last
  // point the files hold (a typed 100 cm would stand in the report).
  st.nearBottomRadius = st.fileMaxRadius > start ? std::min(r, st.fileMaxRadius) : r;
  st.endRadius = st.nearBottomRadius;
  results::SetCommonMaxAbsorbance(st, false);  // the radius, then A_max when one is set
  st.dampQ = 5;
}

void NewStartRadius(AnalysisState& st) {
  for (int s = 1; s <= st.scanCount; ++s) st.scanFirstPoint[s] = 1;
  // Below the near-bottom radius, so that every scan keeps points to fit.
  const double end = st.nearBottomRadius;
  const double r = AskRadius("New start radius (orig. radius=" + FormatF(st.origStartRadius, 7, 4) +
                                 ") new radius:" + FormatF(st.startRadius, 7, 4) + "  :  ",
                             st.startRadius, [end](double v) { return v < end; });
  st.startRadius = r;
  // The first point at or beyond r; a scan that ends before r (cut short by
  // A_max) keeps its last point as its only one.
  for (int s = 1; s <= st.scanCount; ++s) {
    const double* radius = st.scanRadius[s];
    const int last = st.scanLastPoint[s];
    const int i = static_cast<int>(std::lower_bound(radius + 1, radius + last + 1, r) - radius);
    st.scanFirstPoint[s] = std::min(i, last);
  }
  st.iterCount = 0;
  st.dampQ = 5;
}

void ProposeMaxAbsorbance(AnalysisState& st) { results::SetCommonMaxAbsorbance(st, true); }

void ChooseGraphSets(AnalysisState& st) {
  DisplayFlags& d = st.display;
  const int count = st.seqLast - st.seqFirst + 1;
  // Last set shown: empty means all; a number beyond the used sets keeps the
  // previous choice.
  const auto last = AskSetCount(
      "Chose last file                              (<=" + FormatI(count, 3) + ") :  ", count,
      FirstChar::kDigit, [](double v) { return v >= 1; });
  if (last.empty)
    d.plotLast = 0;
  else if (last.value <= count)
    d.plotLast = last.asInt();
  const int remaining = d.plotLast > 0 ? std::min(d.plotLast, count) : count;
  // First set shown: a negative number draws the traces unspread.
  const auto first = AskSetCount(
      "Chose start file (negativ without suppress)  (<=" + FormatI(remaining, 3) + ") :  ", 1,
      FirstChar::kSignOrDigit, {});
  const int f = first.asInt();
  d.spread = f >= 0;
  d.plotFirst = std::clamp(std::abs(f), 1, remaining);
  d.plotStep = AskSetCount("Chose sequence of data files       (each 1. 2. n. )  :  ", 1,
                           FirstChar::kDigit, [](double v) { return v >= 1; })
                   .asInt();
  console::Delay(100);
}

}  // namespace svfit::driver
