#pragma once
// Opens the debug log on a temporary file for one test and reads back what it wrote.

#include <cstdint>
#include <cstdio>
#include <string>

#include "discovery/DebugLog.h"

namespace discovery_test {

class LogCapture {
public:
    LogCapture() : file_(std::tmpfile()) {
        discovery::SetDebugLogStream(file_);
        discovery::ClearDebugLogFailure();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    ~LogCapture() {
        discovery::SetDebugLogStream(nullptr);
        discovery::SetDebugLogLevelFilter(~std::uint32_t{0});
        if (file_ != nullptr) std::fclose(file_);
    }

    bool IsOpen() const { return file_ != nullptr; }
    // Only lines of these levels are written from now on.
    void OnlyLevels(std::uint32_t levels) { discovery::SetDebugLogLevelFilter(levels); }

    std::string Text() const {
        if (file_ == nullptr) return {};
        std::fflush(file_);
        const long end = std::ftell(file_);
        std::string text(end > 0 ? static_cast<std::size_t>(end) : 0, '\0');
        std::rewind(file_);
        const std::size_t read = std::fread(&text[0], 1, text.size(), file_);
        text.resize(read);
        std::fseek(file_, 0, SEEK_END);
        return text;
    }

private:
    std::FILE* file_;
};

}  // namespace discovery_test
