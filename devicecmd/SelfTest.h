#pragma once
// The drive's own diagnostic: the device self-test command (admin 14h) and its log (page
// 06h), on every NVMe path the drive is reached by. The requests are built and the log is
// decoded by pure functions; the senders add one submission each.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "devicecmd/Transport.h"

namespace devicecmd {

constexpr std::uint8_t NvmeOpcodeDeviceSelfTest = 0x14;
constexpr std::uint8_t LogPageSelfTest = 0x06;
constexpr std::uint32_t SelfTestLogSize = 564;
constexpr std::size_t SelfTestResultCount = 20;
constexpr std::size_t SelfTestResultSize = 28;
constexpr std::size_t SelfTestResultsOffset = 4;
static_assert(SelfTestResultsOffset + SelfTestResultCount * SelfTestResultSize == SelfTestLogSize);

using SelfTestLogBytes = std::array<std::uint8_t, SelfTestLogSize>;

// Self-test code: dword 10 bits 3:0 of the command, and the test's code in the log.
enum class SelfTestAction : std::uint8_t {
    Short = 0x1,
    Extended = 0x2,
    Abort = 0xF,
};

// The command: opcode 14h, namespace FFFFFFFFh (every namespace), dword 10 = the action,
// no data.
NvmeCommand BuildSelfTestCommand(SelfTestAction action);
// Get Log Page 06h, 564 bytes: dword 10 = 0x008C0006 (141 dwords, zero-based).
NvmeCommand BuildSelfTestLogCommand();
// The inbox driver's property query for log 06h.
std::vector<std::uint8_t> BuildSelfTestLogQuery();

// Sends the command through the drive's path (transport codes 2 to 5). One attempt: a
// start sent twice could start a test the first one already started, or abort it.
// 0 with the system's error, or 1117 for a refusal.
int SendSelfTest(platform::Device device, TransportWord transport, SelfTestAction action);
// Reads the whole log; 1 only when all 564 bytes came back, log untouched otherwise.
int ReadSelfTestLog(platform::Device device, TransportWord transport, SelfTestLogBytes& log);

// ---- identify controller ----

constexpr std::size_t IdentifyOacsOffset = 256;
constexpr std::size_t IdentifyEdsttOffset = 316;
constexpr std::uint16_t OacsDeviceSelfTest = 0x0010;

// Whether the drive offers the self-test (OACS bit 4), from 4096 bytes of identify data.
bool OffersSelfTest(const std::uint8_t* identifyController);
// The drive's stated extended test time in minutes (EDSTT); 0 when it states none.
std::uint16_t ExtendedTestMinutes(const std::uint8_t* identifyController);

// ---- log 06h ----

// What the drive is doing now (byte 0, bits 3:0).
enum class SelfTestOperation : std::uint8_t {
    None = 0x0,
    Short = 0x1,
    Extended = 0x2,
    VendorSpecific = 0xE,
};

// A result's outcome (its status byte, bits 3:0), as the log states it.
enum class SelfTestResult : std::uint8_t {
    Passed = 0x0,
    AbortedByCommand = 0x1,
    AbortedByReset = 0x2,
    AbortedByNamespaceRemoval = 0x3,
    AbortedByFormat = 0x4,
    FatalError = 0x5,
    FailedSegmentUnknown = 0x6,
    FailedSegment = 0x7,  // the segment number says which segment failed first
    AbortedUnknown = 0x8,
    AbortedBySanitize = 0x9,
    Unused = 0xF,         // the entry holds no result
};
// What a result means for its owner: how the test ended.
enum class SelfTestVerdict : std::uint8_t { Passed, Failed, Aborted, Unknown };
SelfTestVerdict VerdictOf(std::uint8_t resultCode);

// Valid diagnostic information flags of a result (byte 2).
enum SelfTestValidFlag : std::uint8_t {
    SelfTestNsidValid = 0x01,
    SelfTestLbaValid = 0x02,
    SelfTestStatusTypeValid = 0x04,
    SelfTestStatusCodeValid = 0x08,
};

struct SelfTestEntry {
    std::uint8_t resultCode = 0;  // SelfTestResult, or a reserved value (Ah to Eh) kept as given
    std::uint8_t testCode = 0;    // 1 short, 2 extended, Eh vendor specific
    std::uint8_t segment = 0;     // the first failed segment; meaningful with FailedSegment
    std::uint8_t validFlags = 0;
    std::uint64_t powerOnHours = 0;
    std::optional<std::uint32_t> nsid;
    std::optional<std::uint64_t> failingLba;
    std::optional<std::uint8_t> statusCodeType;
    std::optional<std::uint8_t> statusCode;

    SelfTestResult Result() const { return static_cast<SelfTestResult>(resultCode); }
    SelfTestVerdict Verdict() const { return VerdictOf(resultCode); }
    // The segment that failed, when the drive names one.
    std::optional<std::uint8_t> FailedSegmentNumber() const {
        return Result() == SelfTestResult::FailedSegment ? std::optional<std::uint8_t>(segment) : std::nullopt;
    }
};

struct SelfTestLog {
    std::uint8_t currentOperation = 0;  // SelfTestOperation, or another code as given
    std::uint8_t completionPercent = 0; // of the running test
    // The used entries, newest first, at most 20.
    std::vector<SelfTestEntry> results;

    bool Running() const { return currentOperation != 0; }
    const SelfTestEntry* Newest() const { return results.empty() ? nullptr : &results.front(); }
};

// Decodes a log of size bytes; none when it is shorter than the 564-byte page.
std::optional<SelfTestLog> DecodeSelfTestLog(const std::uint8_t* log, std::size_t size);

}  // namespace devicecmd
