// Choosing the directory, the cell and the start file of a series.
//
// New-generation absorbance and interference files are chosen by cell: the
// run directory, the cell number, the start number and the file step. Old
// generation files are chosen by name from the directory listing. Both
// dialogues show the directory's entries (typed answer or mouse click) and
// end with a look at the start file up to its header.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "state/state.h"

namespace svfit::scans {

// The dialogue by the file generation of the run options. Sets
// directoryPath, firstFileName, currentFileName, fileNumberWidth, extension,
// startFileNumber and fileStep. Z at the device prompt ends the program.
void SelectFiles(AnalysisState& st);

// The path prompt of the files the program writes (SEDFIT export, HPGL plot
// files): "device with path way (without file name)       : " and a
// directory, absolute or relative, "~" for the home directory. An empty
// answer is asked again. A directory that does not exist is created after
// "... (Y/N) :  " is answered Y (N asks for the path again); one that cannot
// be created or written to is named in a message and the path asked again.
// The normalised path, ending in "/", is echoed in yellow at column 50 of
// the prompt line and returned.
std::string AskExportPath();

// ---- Pieces of the dialogue, apart for tests ----------------------------------------
// File-name mask with "?" (one character, or none at the end of the name or
// of the extension) and "*" (any run); letters match regardless of case.
bool MatchMask(std::string_view name, std::string_view mask);
// Entries of a directory matching a mask: names starting with "." left out,
// sorted by byte comparison (the listing shows at most 12 characters of each). Empty when the directory cannot be read.
std::vector<std::string> ListDirectory(const std::string& directory, std::string_view mask);
// The directory named at the device prompt: a leading "~" is the home
// directory; "/" is appended when missing.
std::string DirectoryFromAnswer(std::string_view answer);

}  // namespace svfit::scans
