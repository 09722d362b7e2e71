#pragma once
// A drive's history file: CSV with a header line, one line a sample, so that a spreadsheet
// opens it. Written by appending whole lines; read by one parser that never fails on what a
// power loss leaves (a torn last line) and says plainly when a file is not a history file.
//
// Size: a line holds at most MaxLineBytes; a typical one about 110 bytes. A sample is
// written when a value changed or a day has passed, so ten years of daily samples
// (3,650 lines) stay under 0.5 MB, and under 1.6 MB even at the longest line. A file is
// read only up to MaxFileBytes (more than 30 years of a sample every hour at the longest
// line); a larger one is not read but kept aside like a file that does not parse.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "history/HistorySample.h"

namespace history {

// The header line, without its line feed.
extern const char HistoryHeader[];

constexpr std::size_t MaxLineBytes = 512;
constexpr std::size_t MaxFileBytes = 128u << 20;

// One sample as a line, ending in a line feed.
std::string FormatLine(const HistorySample& sample);

enum class ParseStatus {
    Parsed,      // the samples below are every complete line (an empty file too)
    Unparsable,  // not a history file of this program, or a line in it is damaged
    TooLarge,    // larger than MaxFileBytes: not read
};

struct ParsedHistory {
    ParseStatus status = ParseStatus::Parsed;
    std::vector<HistorySample> samples;
    // Bytes up to the end of the last complete line (header included); anything after it
    // is a torn line that a power loss left, or a header not yet complete.
    std::size_t completeBytes = 0;
    bool tornTail = false;
    std::size_t badLine = 0;  // Unparsable: the 1-based line that failed
};

// Lines end in LF (a CR before it is taken too). A last line without its line feed was
// torn while written: skipped, whatever it holds.
ParsedHistory ParseHistory(std::string_view bytes);

}  // namespace history
