#include "discovery/DebugLog.h"

#include <atomic>
#include <cstdarg>

namespace discovery {
namespace {

// Process-wide, as the log is: one stream and one failure flag for every caller.
std::atomic<std::FILE*> logStream{nullptr};
std::atomic<bool> logFailed{false};
std::atomic<std::uint32_t> levelFilter{~std::uint32_t{0}};

}  // namespace

int DebugLog(std::uint32_t level, const char* format, ...) {
    std::FILE* stream = logStream.load();
    if ((level & DebugLevelMask & levelFilter.load()) == 0 || stream == nullptr || format == nullptr) return 0;
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vfprintf(stream, format, arguments);
    va_end(arguments);
    // Some C libraries report a refused write only through the stream's error mark.
    const bool flushed = std::fflush(stream) == 0;
    if (written < 0 || !flushed || std::ferror(stream)) {
        logFailed = true;
        return 0;  // nothing can be said to have been written
    }
    return written;
}

void SetDebugLogStream(std::FILE* stream) { logStream = stream; }
void SetDebugLogLevelFilter(std::uint32_t levels) { levelFilter = levels; }
std::FILE* DebugLogStream() { return logStream.load(); }
bool DebugLogFailed() { return logFailed.load(); }
void ClearDebugLogFailure() { logFailed = false; }

}  // namespace discovery
