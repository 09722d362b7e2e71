#include "sim/SimScsi.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "sim/SimBytes.h"

namespace sim {
namespace {

// SCSI_PASS_THROUGH and SCSI_PASS_THROUGH_DIRECT of a 32-bit process.
enum PassThroughOffset : std::uint32_t {
    PtLength = 0,
    PtScsiStatus = 2,
    PtCdbLength = 6,
    PtSenseInfoLength = 7,
    PtDataIn = 8,
    PtDataTransferLength = 12,
    PtTimeOutValue = 16,
    PtDataBuffer = 20,  // offset (buffered) or address (direct)
    PtSenseInfoOffset = 24,
    PtCdb = 28,
    PassThroughSize = 44,
};

enum DataInValue : std::uint8_t { ScsiDataOut = 0, ScsiDataIn = 1, ScsiDataUnspecified = 2 };

constexpr std::uint32_t MaxTimeoutSeconds = 30 * 60 * 60;
constexpr std::uint32_t MaxTransferBytes = 1u << 20;
constexpr std::uint32_t FixedSenseBytes = 18;

static_assert(sizeof(void*) == 4, "the pass-through layouts modelled here are those of a 32-bit process");

}  // namespace

SimScsiOutcome SimPlainScsiTarget::Execute(const std::uint8_t* cdb, std::uint8_t, bool dataIn, std::uint8_t* data,
                                           std::uint32_t length) {
    switch (cdb[0]) {
        case 0x00: return SimScsiOutcome::Good(0);  // TEST UNIT READY
        case 0x12: {                                 // INQUIRY
            if (!dataIn) return SimScsiOutcome::Check(SenseIllegalRequest, AscInvalidFieldInCdb);
            std::array<std::uint8_t, 36> inquiry{};
            inquiry[2] = 0x06;
            inquiry[3] = 0x02;
            inquiry[4] = 31;
            PutPadded(&inquiry[8], 8, "Tavik");
            PutPadded(&inquiry[16], 16, "VX310 SSD");
            PutPadded(&inquiry[32], 4, "1.0");
            const std::uint32_t count = std::min<std::uint32_t>(length, inquiry.size());
            std::memcpy(data, inquiry.data(), count);
            return SimScsiOutcome::Good(count);
        }
        default: return SimScsiOutcome::Check(SenseIllegalRequest, AscInvalidOpcode);
    }
}

SimResult HandleScsiPassThrough(SimScsiTarget& target, const SimCall& call, SimSenseFault& fault) {
    const bool direct = call.code == IoctlScsiPassThroughDirect;
    if (call.inSize < PassThroughSize || call.outSize < PassThroughSize) return SimResult::Failure(ErrorInvalidParameter);
    const std::uint8_t* in = call.in;
    const std::uint8_t cdbLength = in[PtCdbLength];
    const std::uint8_t senseLength = in[PtSenseInfoLength];
    const std::uint8_t dataIn = in[PtDataIn];
    const std::uint32_t transfer = Get32(in + PtDataTransferLength);
    const std::uint32_t timeout = Get32(in + PtTimeOutValue);
    const std::uint32_t dataField = Get32(in + PtDataBuffer);
    const std::uint32_t senseOffset = Get32(in + PtSenseInfoOffset);

    if (Get16(in + PtLength) != PassThroughSize || cdbLength == 0 || cdbLength > 16 || dataIn > ScsiDataUnspecified ||
        timeout == 0 || timeout > MaxTimeoutSeconds || transfer > MaxTransferBytes)
        return SimResult::Failure(ErrorInvalidParameter);
    if (senseLength != 0 &&
        (senseOffset < PassThroughSize || std::uint64_t{senseOffset} + senseLength > call.outSize))
        return SimResult::Failure(ErrorInvalidParameter);

    // Where the data lives: inside the request (buffered) or at the caller's address (direct).
    std::vector<std::uint8_t> bounce;
    std::uint8_t* data = nullptr;
    if (transfer != 0) {
        if (direct) {
            data = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(dataField));
            if (data == nullptr) return SimResult::Failure(ErrorInvalidParameter);
        } else {
            const std::uint32_t limit = dataIn == ScsiDataIn ? call.outSize : call.inSize;
            if (dataField < PassThroughSize || std::uint64_t{dataField} + transfer > limit)
                return SimResult::Failure(ErrorInvalidParameter);
            bounce.assign(transfer, 0);
            if (dataIn != ScsiDataIn) std::memcpy(bounce.data(), in + dataField, transfer);
            data = bounce.data();
        }
    }

    std::array<std::uint8_t, 16> cdb{};
    std::memcpy(cdb.data(), in + PtCdb, cdbLength);
    SimScsiOutcome outcome;
    if (fault.count.Fire())
        outcome = SimScsiOutcome::Check(fault.key, fault.asc, fault.ascq);
    else
        outcome = target.Execute(cdb.data(), cdbLength, dataIn == ScsiDataIn, data, transfer);

    std::uint8_t* out = call.out;
    std::memcpy(out, in, PassThroughSize);
    out[PtScsiStatus] = outcome.scsiStatus;
    Put32(out + PtDataTransferLength, outcome.transferred);
    std::uint32_t returned = PassThroughSize;
    if (outcome.scsiStatus == 2 && senseLength != 0) {
        std::array<std::uint8_t, FixedSenseBytes> sense{};
        sense[0] = 0x70;  // current error, fixed format
        sense[2] = outcome.senseKey;
        sense[7] = FixedSenseBytes - 8;
        sense[12] = outcome.asc;
        sense[13] = outcome.ascq;
        const std::uint8_t count = static_cast<std::uint8_t>(std::min<std::uint32_t>(senseLength, FixedSenseBytes));
        std::memcpy(out + senseOffset, sense.data(), count);
        out[PtSenseInfoLength] = count;
        returned = std::max(returned, senseOffset + count);
    } else {
        out[PtSenseInfoLength] = 0;
    }
    if (!direct && dataIn == ScsiDataIn && outcome.transferred != 0) {
        std::memcpy(out + dataField, bounce.data(), outcome.transferred);
        returned = std::max(returned, dataField + outcome.transferred);
    }
    return SimResult::Success(returned);
}

}  // namespace sim
