#include "sim/SimScsi.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "sim/SimBytes.h"
#include "sim/SimLayouts.h"

namespace sim {
namespace {

constexpr platform::Layout Spt = ScsiPassThroughLayout;
constexpr std::uint32_t PassThroughSize = Spt.Size();

enum DataInValue : std::uint8_t { ScsiDataOut = 0, ScsiDataIn = 1, ScsiDataUnspecified = 2 };

constexpr std::uint32_t MaxTimeoutSeconds = 30 * 60 * 60;
constexpr std::uint32_t MaxTransferBytes = 1u << 20;
constexpr std::uint32_t FixedSenseBytes = 18;

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
    const std::uint8_t cdbLength = in[Spt[SimSpt::CdbLength]];
    const std::uint8_t senseLength = in[Spt[SimSpt::SenseInfoLength]];
    const std::uint8_t dataIn = in[Spt[SimSpt::DataIn]];
    const std::uint32_t transfer = Get32(in + Spt[SimSpt::DataTransferLength]);
    const std::uint32_t timeout = Get32(in + Spt[SimSpt::TimeOutValue]);
    const std::uint64_t dataField = platform::GetPointerField(in + Spt[SimSpt::DataBuffer], Spt.Width());
    const std::uint32_t senseOffset = Get32(in + Spt[SimSpt::SenseInfoOffset]);

    if (Get16(in + Spt[SimSpt::Length]) != PassThroughSize || cdbLength == 0 || cdbLength > 16 || dataIn > ScsiDataUnspecified ||
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
    std::memcpy(cdb.data(), in + Spt[SimSpt::Cdb], cdbLength);
    SimScsiOutcome outcome;
    if (fault.count.Fire())
        outcome = SimScsiOutcome::Check(fault.key, fault.asc, fault.ascq);
    else
        outcome = target.Execute(cdb.data(), cdbLength, dataIn == ScsiDataIn, data, transfer);

    std::uint8_t* out = call.out;
    std::memcpy(out, in, PassThroughSize);
    out[Spt[SimSpt::ScsiStatus]] = outcome.scsiStatus;
    Put32(out + Spt[SimSpt::DataTransferLength], outcome.transferred);
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
        out[Spt[SimSpt::SenseInfoLength]] = count;
        returned = std::max(returned, senseOffset + count);
    } else {
        out[Spt[SimSpt::SenseInfoLength]] = 0;
    }
    if (!direct && dataIn == ScsiDataIn && outcome.transferred != 0) {
        std::memcpy(out + dataField, bounce.data(), outcome.transferred);
        returned = std::max(returned, static_cast<std::uint32_t>(dataField) + outcome.transferred);
    }
    return SimResult::Success(returned);
}

}  // namespace sim
