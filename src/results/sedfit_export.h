// Input files for the external SEDFIT program (option U, models N, C and M):
// one data file per used scan, a list file naming them and a parameter file
// "~tmppars.<ext>" of 84 start values derived from the current fit.
//
// The extension says what the files hold: "ra" absorbance or "ip"
// interference, then "0" for meniscus and bottom as marked in the viewer or
// "9" as estimated by the fit. Exported data files are named by the scan
// index, zero-padded to the digits of the loaded file numbers (00003.ra9);
// the list names them with "_" before the extension (00003_ra9).
//
// The texts are built apart from the writing, so tests compare them; the
// dialogue (ExportForSedfit) asks the directory, the divisor and O/E, then
// writes every file, overwriting files of the same names and nothing else.
#pragma once

#include <array>
#include <string>

#include "state/state.h"

namespace svfit::results {

inline constexpr int kSedfitSlots = 84;
using SedfitSlotArray = std::array<double, kSedfitSlots + 1>;  // slots 1..84, index 0 unused

// "ra0", "ra9", "ip0" or "ip9".
std::string SedfitExtension(const AnalysisState& st, bool estimated);
// The 84 start values of the parameter file for the current model.
SedfitSlotArray SedfitSlots(const AnalysisState& st, double divisor, bool estimated);
std::string SedfitParameterText(const SedfitSlotArray& slots);
// The data file of one scan (data values divided by `divisor`).
std::string SedfitDataText(const AnalysisState& st, int scan, double divisor);
// The list file: the directory (absolute), then one entry per used scan.
std::string SedfitListText(const AnalysisState& st, const std::string& directory, bool estimated);

// Writes the data files, the list file and the parameter file into
// `directory` (ending in "/"). Returns "" when all were written, else a
// message naming the file that failed.
std::string WriteSedfitFiles(const AnalysisState& st, const std::string& directory, double divisor,
                             bool estimated);

// Option U: the path prompt, the divisor, the radius choice O/E, the files,
// then a pause of 200 ms. A file that cannot be written is named on the
// console and the dialogue goes on.
void ExportForSedfit(AnalysisState& st);

}  // namespace svfit::results
