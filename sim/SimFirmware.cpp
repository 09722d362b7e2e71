#include "sim/SimFirmware.h"

#include <algorithm>
#include <cstring>

#include "sim/SimBytes.h"

namespace sim {
namespace {

enum RecordOffset : std::size_t {
    NameOffset = 0,
    NameSize = 64,
    KeyOffset = 128,
    AlternateFlagOffset = 156,
    SecondRangeLayout5 = 176,
    SecondRangeAlternate = 400,
    SecondRangeSize = 32,
};

void PutText(std::uint8_t* p, std::size_t width, const std::string& text) {
    std::memcpy(p, text.data(), std::min(width, text.size()));
}

}  // namespace

std::array<std::uint8_t, VendorRecordSize> SimVendorFirmware::VendorRecord() const {
    std::array<std::uint8_t, VendorRecordSize> record{};
    PutText(&record[NameOffset], NameSize, config_.controllerName);
    std::copy(config_.key.begin(), config_.key.end(), record.begin() + KeyOffset);
    const std::size_t second =
        config_.layout == SimRecordLayout::Layout5 ? SecondRangeLayout5 : SecondRangeAlternate;
    PutText(&record[second], SecondRangeSize, config_.secondRange);
    record[144] = 0x05;  // record revision
    if (config_.layout == SimRecordLayout::Alternate) record[AlternateFlagOffset] = config_.enciphered ? 1 : 0;
    if (config_.enciphered) {
        TeaEncipherBlocks(&record[NameOffset], NameSize, config_.key);
        TeaEncipherBlocks(&record[second], SecondRangeSize, config_.key);
    }
    return record;
}

std::array<std::uint8_t, StatePayloadBytes> SimVendorFirmware::StatePayload() {
    std::array<std::uint8_t, StatePayloadBytes> payload{};
    if (!stateWithoutSignature.Fire()) Put32(&payload[0], StateSignature);
    payload[4] = config_.optimizeState;
    return payload;
}

SimStateWrite SimVendorFirmware::WriteState(const std::uint8_t* payload) {
    if (Get32(payload) != StateSignature) return SimStateWrite::BadSignature;
    const std::uint8_t value = payload[4];
    if (value != 0 && value != 2) return SimStateWrite::BadValue;
    config_.optimizeState = value;
    return SimStateWrite::Accepted;
}

}  // namespace sim
