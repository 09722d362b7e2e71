#pragma once
// How a self-test and its results are put into words, the same for every program.

#include <cstdint>
#include <string>

#include "devicecmd/SelfTest.h"

// "short", "extended", "vendor-specific", or "code N" for another test code.
std::string SelfTestName(std::uint8_t testCode);
// A stable name of a result for machine-readable output: "passed", "aborted-by-command", ...
std::string SelfTestResultName(std::uint8_t resultCode);
// The result in words: "passed", "failed in segment 2", "aborted by an abort command", ...
std::string SelfTestResultWords(const devicecmd::SelfTestEntry& entry);
