#include "sim/SimNvmeController.h"

#include <algorithm>
#include <cstring>

#include "sim/SimBytes.h"

namespace sim {

SimNvmeTransfer TransferOf(std::uint8_t opcode) {
    switch (opcode & 3) {
        case 1: return SimNvmeTransfer::ToController;
        case 2: return SimNvmeTransfer::FromController;
        case 3: return SimNvmeTransfer::Both;
        default: return SimNvmeTransfer::None;
    }
}

std::uint32_t SimCompletion::Dword3() const {
    constexpr std::uint32_t phaseTag = 1u << 16;
    return commandId | phaseTag | (static_cast<std::uint32_t>(status & 0x7FFF) << 17);
}

std::array<std::uint8_t, 16> SimCompletion::Entry() const {
    std::array<std::uint8_t, 16> entry{};
    Put32(&entry[0], dword0);
    Put32(&entry[8], 1);  // admin submission queue, head 1
    Put32(&entry[12], Dword3());
    return entry;
}

SimNvmeController::SimNvmeController(Config config)
    : identity_(std::move(config.identity)),
      firmware_(std::move(config.vendor)),
      pciVendorId_(config.pciVendorId),
      healthLog_(config.healthLog),
      selfTestConfig_(config.selfTest) {}

void SimNvmeController::RejectCommands(std::uint8_t opcode, std::optional<std::uint32_t> dword15,
                                       std::uint16_t status, std::uint32_t times) {
    Rejection rejection{opcode, dword15, status, {}};
    rejection.count.Arm(times);
    rejections_.push_back(rejection);
}

SimCompletion SimNvmeController::Execute(SimQueue queue, const NvmeCommandDwords& command, std::uint8_t* data,
                                         std::uint32_t transferBytes) {
    SimCompletion completion;
    bool rejected = false;
    const std::uint8_t opcode = static_cast<std::uint8_t>(command[0]);
    for (auto& rejection : rejections_) {
        if (rejection.opcode == opcode && (!rejection.dword15 || *rejection.dword15 == command[15]) &&
            rejection.count.Fire()) {
            completion.status = rejection.status;
            rejected = true;
            break;
        }
    }
    if (!rejected) completion = Run(queue, command, data, transferBytes);
    completion.commandId = static_cast<std::uint16_t>(command[0] >> 16);
    history_.push_back({queue, command, transferBytes, completion.status});
    return completion;
}

SimCompletion SimNvmeController::Run(SimQueue queue, const NvmeCommandDwords& command, std::uint8_t* data,
                                     std::uint32_t transferBytes) {
    if (queue != SimQueue::Admin) return {0, NvmeInvalidOpcode};  // no I/O command set modelled
    switch (static_cast<std::uint8_t>(command[0])) {
        case NvmeIdentify: return Identify(command, data, transferBytes);
        case NvmeGetLogPage: return GetLogPage(command, data, transferBytes);
        case NvmeDeviceSelfTest:
            if (!selfTestConfig_.supported) return {0, NvmeInvalidOpcode};
            return DeviceSelfTest(command);
        case NvmeVendorRead: return VendorRead(command, data, transferBytes);
        case NvmeVendorWrite: return VendorWrite(command, data, transferBytes);
        default: return {0, NvmeInvalidOpcode};
    }
}

SimCompletion SimNvmeController::Identify(const NvmeCommandDwords& command, std::uint8_t* data,
                                          std::uint32_t transferBytes) {
    if (data == nullptr || transferBytes < IdentifyBytes) return {0, NvmeDataTransferError};
    const std::uint8_t cns = static_cast<std::uint8_t>(command[10]);
    const std::uint32_t nsid = command[1];
    std::array<std::uint8_t, IdentifyBytes> reply{};
    switch (cns) {
        case 0:
            if (nsid != 1 && nsid != 0xFFFFFFFF) return {0, NvmeInvalidNamespace};
            reply = IdentifyNamespace();
            break;
        case 1: reply = IdentifyController(); break;
        case 2: Put32(&reply[0], 1); break;  // active namespace list: namespace 1
        default: return {0, NvmeInvalidField};
    }
    std::memcpy(data, reply.data(), reply.size());
    return {};
}

SimCompletion SimNvmeController::GetLogPage(const NvmeCommandDwords& command, std::uint8_t* data,
                                            std::uint32_t transferBytes) {
    constexpr std::uint16_t InvalidLogPage = 0x109;  // command specific status 09h
    const std::uint8_t logId = static_cast<std::uint8_t>(command[10]);
    const std::uint64_t dwords = ((std::uint64_t{command[11] & 0xFFFF} << 16) | (command[10] >> 16)) + 1;
    const std::uint64_t bytes = dwords * 4;
    const std::uint64_t offset = (std::uint64_t{command[13]} << 32) | command[12];
    const bool selfTestLog = logId == LogPageSelfTestId && selfTestConfig_.supported;
    if (logId != LogPageHealthId && !selfTestLog) return {0, InvalidLogPage};
    if (selfTestLog && selfTestConfig_.fault == SimSelfTestFault::LogRefused) return {0, NvmeInternalError};
    // Both logs are kept for the whole controller; namespace 1 reads the same here.
    if (command[1] != 0xFFFFFFFF && command[1] != 0 && command[1] != 1) return {0, NvmeInvalidNamespace};
    if (data == nullptr || bytes > transferBytes) return {0, NvmeDataTransferError};
    std::vector<std::uint8_t> page;
    if (selfTestLog) {
        const SimSelfTestLog log = SelfTestLog();
        page.assign(log.begin(), log.end());
    } else {
        page.assign(healthLog_.begin(), healthLog_.end());
    }
    if (offset >= page.size() || (offset & 3) != 0) return {0, NvmeInvalidField};
    std::memset(data, 0, static_cast<std::size_t>(bytes));
    const std::uint64_t count = std::min<std::uint64_t>(bytes, page.size() - offset);
    std::memcpy(data, page.data() + offset, static_cast<std::size_t>(count));
    return {};
}

void SimNvmeController::AdvanceTime(std::uint64_t milliseconds) {
    nowMs_ += milliseconds;
    SettleSelfTest();
}

void SimNvmeController::BeginSelfTest(std::uint8_t code) {
    NvmeCommandDwords command{};
    command[0] = NvmeDeviceSelfTest;
    command[1] = 0xFFFFFFFF;
    command[10] = code;
    if (selfTestConfig_.supported) DeviceSelfTest(command);
}

SimCompletion SimNvmeController::DeviceSelfTest(const NvmeCommandDwords& command) {
    enum : std::uint8_t { Short = 0x1, Extended = 0x2, Abort = 0xF };
    constexpr std::uint8_t AbortedByCommand = 0x1;
    const std::uint32_t nsid = command[1];
    if (nsid != 0 && nsid != 1 && nsid != 0xFFFFFFFF) return {0, NvmeInvalidNamespace};
    SettleSelfTest();
    const std::uint8_t code = command[10] & 0x0F;
    switch (code) {
        case Short:
        case Extended:
            if (running_) return {0, NvmeSelfTestInProgress};
            running_ = RunningTest{code, nsid, nowMs_, code == Short ? selfTestConfig_.shortMs : selfTestConfig_.extendedMs};
            return {};
        case Abort:
            // With no test running there is nothing to abort, and nothing is logged.
            if (running_) {
                LogResult(AbortedByCommand, running_->code, false);
                running_.reset();
            }
            return {};
        default:
            return {0, NvmeInvalidField};
    }
}

void SimNvmeController::SettleSelfTest() {
    constexpr std::uint8_t Passed = 0x0;
    constexpr std::uint8_t FailedSegments = 0x7;
    constexpr std::uint8_t AbortedUnknown = 0x8;
    if (!running_) return;
    const std::uint64_t elapsed = nowMs_ - running_->startMs;
    const bool stopsHalfway = selfTestConfig_.fault == SimSelfTestFault::FailingSegment ||
                              selfTestConfig_.fault == SimSelfTestFault::DriveAborts;
    const std::uint64_t end = stopsHalfway ? running_->durationMs / 2 : running_->durationMs;
    if (elapsed < end) return;
    if (selfTestConfig_.fault == SimSelfTestFault::FailingSegment) {
        LogResult(FailedSegments, running_->code, true);
    } else {
        LogResult(selfTestConfig_.fault == SimSelfTestFault::DriveAborts ? AbortedUnknown : Passed, running_->code,
                  false);
    }
    running_.reset();
}

void SimNvmeController::LogResult(std::uint8_t result, std::uint8_t code, bool failedAt) {
    constexpr std::uint8_t FailedSegment = 2;
    constexpr std::uint64_t FailingLba = 0x1D5A3C40;
    constexpr std::uint8_t MediaErrors = 0x2;
    constexpr std::uint8_t UnrecoveredReadError = 0x81;
    std::array<std::uint8_t, 28> entry{};
    entry[0] = static_cast<std::uint8_t>((code << 4) | result);
    const std::uint64_t hours = Get64(&healthLog_[128]) + nowMs_ / (3600 * 1000);
    Put64(&entry[4], hours);
    if (failedAt) {
        entry[1] = FailedSegment;
        entry[2] = 0x0F;  // namespace, LBA, status code type and status code valid
        Put32(&entry[12], 1);
        Put64(&entry[16], FailingLba);
        entry[24] = MediaErrors;
        entry[25] = UnrecoveredReadError;
    }
    results_.insert(results_.begin(), entry);
    if (results_.size() > 20) results_.pop_back();
}

SimSelfTestLog SimNvmeController::SelfTestLog() const {
    constexpr std::uint8_t Unused = 0x0F;
    SimSelfTestLog log{};
    if (running_) {
        log[0] = running_->code;
        const std::uint64_t elapsed = nowMs_ - running_->startMs;
        const std::uint64_t percent = running_->durationMs == 0 ? 0 : elapsed * 100 / running_->durationMs;
        log[1] = static_cast<std::uint8_t>(std::min<std::uint64_t>(percent, 99));
    }
    for (std::size_t n = 0; n < 20; ++n) {
        std::uint8_t* at = &log[4 + 28 * n];
        if (n < results_.size()) {
            std::memcpy(at, results_[n].data(), 28);
        } else {
            at[0] = Unused;
        }
    }
    return log;
}

SimHealthLog SimHealthLogOf(SimHealthKind kind) {
    SimHealthLog log{};
    std::uint8_t warning = 0;
    std::uint16_t kelvin = 311;  // 38 °C
    std::uint8_t spare = 100;
    std::uint8_t used = 3;
    std::uint32_t warningMinutes = 0;
    std::uint32_t criticalMinutes = 0;
    switch (kind) {
        case SimHealthKind::Healthy: break;
        case SimHealthKind::Worn:
            spare = 40;
            used = 112;
            break;
        case SimHealthKind::Hot:
            warning = 0x02;
            kelvin = 358;  // 85 °C
            warningMinutes = 37;
            criticalMinutes = 4;
            break;
        case SimHealthKind::SpareLow:
            warning = 0x01;
            spare = 5;
            used = 61;
            break;
        case SimHealthKind::ReadOnly:
            warning = 0x08;
            used = 97;
            break;
    }
    log[0] = warning;
    Put16(&log[1], kelvin);
    log[3] = spare;
    log[4] = 10;  // available spare threshold
    log[5] = used;
    Put64(&log[32], 12345678);  // data units read: 6.32 TB
    Put64(&log[48], 9876543);   // data units written: 5.06 TB
    Put64(&log[64], 402311755);
    Put64(&log[80], 318224590);
    Put64(&log[96], 2210);
    Put64(&log[112], 412);   // power cycles
    Put64(&log[128], 1873);  // power-on hours
    Put64(&log[144], 7);     // unsafe shutdowns
    Put64(&log[160], kind == SimHealthKind::ReadOnly ? 3 : 0);
    Put64(&log[176], 2);     // error log entries
    Put32(&log[192], warningMinutes);
    Put32(&log[196], criticalMinutes);
    Put16(&log[200], kelvin);  // temperature sensor 1
    return log;
}

SimCompletion SimNvmeController::VendorRead(const NvmeCommandDwords& command, std::uint8_t* data,
                                            std::uint32_t transferBytes) {
    const std::uint64_t bytes = std::uint64_t{command[10]} * 4;
    if (bytes < VendorRecordSize || bytes > transferBytes || data == nullptr) return {0, NvmeInvalidField};
    std::array<std::uint8_t, VendorRecordSize> reply{};
    switch (command[15]) {
        case SubcodeVendorIdentify: reply = firmware_.VendorRecord(); break;
        case SubcodeStateRead: reply = firmware_.StatePayload(); break;
        default: return {0, NvmeInvalidField};
    }
    std::memset(data, 0, static_cast<std::size_t>(bytes));
    std::memcpy(data, reply.data(), reply.size());
    return {};
}

SimCompletion SimNvmeController::VendorWrite(const NvmeCommandDwords& command, const std::uint8_t* data,
                                             std::uint32_t transferBytes) {
    const std::uint64_t bytes = std::uint64_t{command[10]} * 4;
    if (bytes < StatePayloadBytes || bytes > transferBytes || data == nullptr) return {0, NvmeInvalidField};
    if (command[15] != SubcodeStateWrite) return {0, NvmeInvalidField};
    if (firmware_.WriteState(data) != SimStateWrite::Accepted) return {0, NvmeInvalidField};
    return {};
}

std::array<std::uint8_t, IdentifyBytes> SimNvmeController::IdentifyController() const {
    std::array<std::uint8_t, IdentifyBytes> data{};
    Put16(&data[0], pciVendorId_);
    Put16(&data[2], pciVendorId_);
    PutPadded(&data[4], 20, identity_.serial);
    PutPadded(&data[24], 40, identity_.model);
    PutPadded(&data[64], 8, identity_.firmware);
    data[72] = 6;     // recommended arbitration burst
    data[77] = 5;     // maximum data transfer size: 2^5 pages
    Put16(&data[78], 1);              // controller id
    Put32(&data[80], 0x00010400);     // version 1.4
    // Optional admin commands: security, format, firmware; device self-test (bit 4) when offered.
    Put16(&data[256], selfTestConfig_.supported ? 0x0017 : 0x0007);
    // Extended device self-test time, in minutes.
    Put16(&data[316], static_cast<std::uint16_t>((selfTestConfig_.extendedMs + 59999) / 60000));
    data[258] = 3;    // abort command limit
    data[260] = 0x14; // firmware slots
    data[512] = 0x66; // submission queue entry size
    data[513] = 0x44; // completion queue entry size
    Put32(&data[516], 1);             // number of namespaces
    return data;
}

std::array<std::uint8_t, IdentifyBytes> SimNvmeController::IdentifyNamespace() const {
    std::array<std::uint8_t, IdentifyBytes> data{};
    Put64(&data[0], identity_.sectors);
    Put64(&data[8], identity_.sectors);
    Put64(&data[16], identity_.sectors);
    data[130] = 9;  // format 0: 512-byte blocks
    return data;
}

}  // namespace sim
