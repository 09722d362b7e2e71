#include "optimize/SelfTestWords.h"

using devicecmd::SelfTestResult;

std::string SelfTestName(std::uint8_t testCode) {
    switch (testCode) {
        case 0x1: return "short";
        case 0x2: return "extended";
        case 0xE: return "vendor-specific";
        default: return "code " + std::to_string(testCode);
    }
}

std::string SelfTestResultName(std::uint8_t resultCode) {
    switch (static_cast<SelfTestResult>(resultCode)) {
        case SelfTestResult::Passed: return "passed";
        case SelfTestResult::AbortedByCommand: return "aborted-by-command";
        case SelfTestResult::AbortedByReset: return "aborted-by-reset";
        case SelfTestResult::AbortedByNamespaceRemoval: return "aborted-by-namespace-removal";
        case SelfTestResult::AbortedByFormat: return "aborted-by-format";
        case SelfTestResult::FatalError: return "fatal-error";
        case SelfTestResult::FailedSegmentUnknown: return "failed-segment-unknown";
        case SelfTestResult::FailedSegment: return "failed-segment";
        case SelfTestResult::AbortedUnknown: return "aborted-unknown";
        case SelfTestResult::AbortedBySanitize: return "aborted-by-sanitize";
        default: return "reserved-" + std::to_string(resultCode);
    }
}

std::string SelfTestResultWords(const devicecmd::SelfTestEntry& entry) {
    switch (entry.Result()) {
        case SelfTestResult::Passed: return "passed";
        case SelfTestResult::AbortedByCommand: return "aborted by an abort command";
        case SelfTestResult::AbortedByReset: return "aborted by a controller reset";
        case SelfTestResult::AbortedByNamespaceRemoval: return "aborted: a namespace was removed";
        case SelfTestResult::AbortedByFormat: return "aborted by a format command";
        case SelfTestResult::FatalError: return "failed: a fatal or unknown error";
        case SelfTestResult::FailedSegmentUnknown: return "failed in a segment the drive does not name";
        case SelfTestResult::FailedSegment: return "failed in segment " + std::to_string(entry.segment);
        case SelfTestResult::AbortedUnknown: return "aborted by the drive for an unknown reason";
        case SelfTestResult::AbortedBySanitize: return "aborted by a sanitize operation";
        default: return "result code " + std::to_string(entry.resultCode) + " (not defined)";
    }
}
