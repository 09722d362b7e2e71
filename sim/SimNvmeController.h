#pragma once
// An NVMe controller of the VX310: admin identify and the vendor commands.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/SimFault.h"
#include "sim/SimFirmware.h"

namespace sim {

constexpr std::uint32_t IdentifyBytes = 4096;

enum class SimQueue { Admin, Io };

// The 15-bit status field of a completion entry (dword 3, bits 31-17).
enum SimNvmeStatus : std::uint16_t {
    NvmeSuccess = 0x000,
    NvmeInvalidOpcode = 0x001,
    NvmeInvalidField = 0x002,
    NvmeDataTransferError = 0x004,
    NvmeInternalError = 0x006,
    NvmeInvalidNamespace = 0x00B,
    NvmeSelfTestInProgress = 0x11D,  // command specific (type 1), status 1Dh
    NvmeMore = 0x2000,
    NvmeDoNotRetry = 0x4000,
};

enum SimNvmeOpcode : std::uint8_t {
    NvmeGetLogPage = 0x02,
    NvmeIdentify = 0x06,
    NvmeDeviceSelfTest = 0x14,
    NvmeVendorWrite = 0xFD,
    NvmeVendorRead = 0xFE,
};

enum SimVendorSubcode : std::uint32_t {
    SubcodeVendorIdentify = 0xA1,
    SubcodeStateWrite = 0xD7,
    SubcodeStateRead = 0xD8,
};

// Which way an opcode moves its data: the two low bits of the opcode.
enum class SimNvmeTransfer { None, ToController, FromController, Both };
SimNvmeTransfer TransferOf(std::uint8_t opcode);

using NvmeCommandDwords = std::array<std::uint32_t, 16>;

struct SimCompletion {
    std::uint32_t dword0 = 0;
    std::uint16_t status = NvmeSuccess;
    std::uint16_t commandId = 0;

    std::uint32_t Dword3() const;  // phase tag set, status field in bits 31-17
    std::array<std::uint8_t, 16> Entry() const;
};

struct SimExecutedCommand {
    SimQueue queue;
    NvmeCommandDwords command;
    std::uint32_t transferBytes;
    std::uint16_t status;
};

constexpr std::uint32_t HealthLogBytes = 512;
constexpr std::uint8_t LogPageHealthId = 0x02;
using SimHealthLog = std::array<std::uint8_t, HealthLogBytes>;

// The health log pages the demo and the tests set a drive to.
enum class SimHealthKind {
    Healthy,   // no warning, 38 °C, 3 % used
    Worn,      // 112 % used, spare 40 %: no warning bit
    Hot,       // 85 °C, the temperature warning bit, minutes above both thresholds
    SpareLow,  // spare 5 % under a threshold of 10 %, its warning bit
    ReadOnly,  // media in read-only mode, its warning bit
};
SimHealthLog SimHealthLogOf(SimHealthKind kind);

constexpr std::uint8_t LogPageSelfTestId = 0x06;
constexpr std::uint32_t SelfTestLogBytes = 564;
using SimSelfTestLog = std::array<std::uint8_t, SelfTestLogBytes>;

// How the drive's self-tests go wrong.
enum class SimSelfTestFault {
    None,
    FailingSegment,  // each test stops halfway with segment 2 failed, at a failing LBA
    DriveAborts,     // each test stops halfway, aborted for a reason the drive does not give
    LogRefused,      // Get Log Page 06h is refused
};

struct SimSelfTestConfig {
    bool supported = true;  // OACS bit 4; without it 14h is an invalid opcode
    std::uint32_t shortMs = 2 * 60 * 1000;
    std::uint32_t extendedMs = 10 * 60 * 1000;  // identify states it in whole minutes, rounded up
    SimSelfTestFault fault = SimSelfTestFault::None;
};

struct SimNvmeConfig {
    SimDriveIdentity identity;
    SimVendorConfig vendor;
    std::uint16_t pciVendorId = 0x1E5A;
    SimHealthLog healthLog = SimHealthLogOf(SimHealthKind::Healthy);
    SimSelfTestConfig selfTest;
};

class SimNvmeController {
public:
    using Config = SimNvmeConfig;

    explicit SimNvmeController(Config config = {});

    // data is the host's buffer of transferBytes for this command; which way it moves
    // follows the opcode.
    SimCompletion Execute(SimQueue queue, const NvmeCommandDwords& command, std::uint8_t* data,
                          std::uint32_t transferBytes);

    // Completes matching commands with this status instead of running them.
    void RejectCommands(std::uint8_t opcode, std::optional<std::uint32_t> dword15, std::uint16_t status,
                        std::uint32_t times = Forever);
    void ClearRejections() { rejections_.clear(); }

    SimVendorFirmware& Firmware() { return firmware_; }
    const SimDriveIdentity& Identity() const { return identity_; }
    std::array<std::uint8_t, IdentifyBytes> IdentifyController() const;
    std::array<std::uint8_t, IdentifyBytes> IdentifyNamespace() const;
    // The SMART / health information log page the controller answers Get Log Page 02h with.
    void SetHealthLog(const SimHealthLog& log) { healthLog_ = log; }
    const SimHealthLog& HealthLog() const { return healthLog_; }
    // The device self-test runs in simulated time, which moves only here.
    void AdvanceTime(std::uint64_t milliseconds);
    std::uint64_t NowMs() const { return nowMs_; }
    void SetSelfTest(const SimSelfTestConfig& config) { selfTestConfig_ = config; }
    // A test begun by another program: as if its command had come, without this program's history.
    void BeginSelfTest(std::uint8_t code);
    // Log 06h as the drive answers it now.
    SimSelfTestLog SelfTestLog() const;
    const std::vector<SimExecutedCommand>& History() const { return history_; }
    void ClearHistory() { history_.clear(); }
    // The controller as it was built: its firmware's configuration, no rejection, no history.
    void FactoryReset() {
        firmware_.FactoryReset();
        rejections_.clear();
        history_.clear();
        running_.reset();
        results_.clear();
        nowMs_ = 0;
    }

private:
    struct Rejection {
        std::uint8_t opcode;
        std::optional<std::uint32_t> dword15;
        std::uint16_t status;
        SimFaultCount count;
    };

    SimCompletion Run(SimQueue queue, const NvmeCommandDwords& command, std::uint8_t* data,
                      std::uint32_t transferBytes);
    SimCompletion VendorRead(const NvmeCommandDwords& command, std::uint8_t* data, std::uint32_t transferBytes);
    SimCompletion VendorWrite(const NvmeCommandDwords& command, const std::uint8_t* data,
                              std::uint32_t transferBytes);
    SimCompletion Identify(const NvmeCommandDwords& command, std::uint8_t* data, std::uint32_t transferBytes);
    SimCompletion GetLogPage(const NvmeCommandDwords& command, std::uint8_t* data, std::uint32_t transferBytes);
    SimCompletion DeviceSelfTest(const NvmeCommandDwords& command);
    // Ends the running test once its time (or its fault's) has come.
    void SettleSelfTest();
    void LogResult(std::uint8_t result, std::uint8_t code, bool failedAt);

    struct RunningTest {
        std::uint8_t code;  // 1 short, 2 extended
        std::uint32_t nsid;
        std::uint64_t startMs;
        std::uint64_t durationMs;
    };

    SimDriveIdentity identity_;
    SimVendorFirmware firmware_;
    std::uint16_t pciVendorId_;
    SimHealthLog healthLog_;
    std::vector<Rejection> rejections_;
    std::vector<SimExecutedCommand> history_;
    SimSelfTestConfig selfTestConfig_;
    std::uint64_t nowMs_ = 0;
    std::optional<RunningTest> running_;
    std::vector<std::array<std::uint8_t, 28>> results_;  // newest first, at most 20
};

}  // namespace sim
