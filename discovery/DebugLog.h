#pragma once
// The program's debug log. It writes only when the level has a bit in 0x3FE and its
// stream is open; the stream starts closed and the program never opens it, so the log
// is silent unless a test (or a debugging session) hands it a stream.

#include <cstdint>
#include <cstdio>

namespace discovery {

enum DebugLevel : std::uint32_t {
    LogProgress = 0x02,
    LogDetails = 0x08,
    LogErrors = 0x80,
};
constexpr std::uint32_t DebugLevelMask = 0x3FE;

// printf-style (%S takes a wide text). Writes, flushes, and returns the count written;
// returns 0 when the level is masked out or the stream is closed. A write or flush that
// reports an error (also through the stream's error mark) sets the failure flag and
// returns 0.
int DebugLog(std::uint32_t level, const char* format, ...);

// The stream the log writes to; null closes it. Not owned.
void SetDebugLogStream(std::FILE* stream);
std::FILE* DebugLogStream();
// Narrows further which levels are written (all that 0x3FE lets through by default), so
// that a test can tell the lines of one level from the others.
void SetDebugLogLevelFilter(std::uint32_t levels);
// The process-wide flag set by a failed write; cleared only here.
bool DebugLogFailed();
void ClearDebugLogFailure();

}  // namespace discovery
