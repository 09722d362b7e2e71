#include "sim/SimAtaDevice.h"

#include <cstring>

#include "sim/SimBytes.h"

namespace sim {
namespace {

constexpr SimAtaOutcome Aborted{AtaStatusError, AtaErrorAbort};

// ATA strings: blank padded, the two characters of each word swapped.
void PutAtaString(std::uint8_t* p, std::size_t width, const std::string& text) {
    PutPadded(p, width, text);
    for (std::size_t i = 0; i + 1 < width; i += 2) std::swap(p[i], p[i + 1]);
}

}  // namespace

SimAtaDevice::SimAtaDevice(Config config)
    : identity_(std::move(config.identity)), firmware_(std::move(config.vendor)) {}

SimAtaProtocol SimAtaDevice::ProtocolOf(std::uint8_t command) {
    switch (command) {
        case AtaIdentifyDevice:
        case AtaVendorRead: return SimAtaProtocol::PioIn;
        case AtaVendorWrite: return SimAtaProtocol::PioOut;
        default: return SimAtaProtocol::NonData;
    }
}

void SimAtaDevice::AbortCommands(std::uint8_t opcode, std::uint32_t times) {
    Abort abort{opcode, {}};
    abort.count.Arm(times);
    aborts_.push_back(abort);
}

SimAtaOutcome SimAtaDevice::Execute(const SimAtaCommand& command, SimAtaProtocol protocol, std::uint8_t* data,
                                    std::uint32_t length) {
    history_.push_back(command);
    for (auto& abort : aborts_)
        if (abort.opcode == command.command && abort.count.Fire()) return Aborted;
    return Run(command, protocol, data, length);
}

SimAtaOutcome SimAtaDevice::Run(const SimAtaCommand& command, SimAtaProtocol protocol, std::uint8_t* data,
                                std::uint32_t length) {
    if (protocol != ProtocolOf(command.command)) return Aborted;
    const std::uint32_t subcode = static_cast<std::uint32_t>((command.lba >> 32) & 0xFFFF);
    const std::uint32_t countBytes = std::uint32_t{command.count} * AtaSectorBytes;
    switch (command.command) {
        case AtaIdentifyDevice: {
            if (data == nullptr || length != AtaSectorBytes) return Aborted;
            const auto identify = IdentifyData();
            std::memcpy(data, identify.data(), identify.size());
            return {};
        }
        case AtaVendorRead: {
            if (data == nullptr || command.count == 0 || length != countBytes) return Aborted;
            std::array<std::uint8_t, VendorRecordSize> reply{};
            if (subcode == 0xA1) reply = firmware_.VendorRecord();
            else if (subcode == 0xD8) reply = firmware_.StatePayload();
            else return Aborted;
            std::memset(data, 0, length);
            std::memcpy(data, reply.data(), reply.size());
            return {};
        }
        case AtaVendorWrite:
            if (data == nullptr || command.count == 0 || length != countBytes || subcode != 0xD7) return Aborted;
            return firmware_.WriteState(data) == SimStateWrite::Accepted ? SimAtaOutcome{} : Aborted;
        default: return Aborted;
    }
}

std::array<std::uint8_t, AtaSectorBytes> SimAtaDevice::IdentifyData() const {
    std::array<std::uint8_t, AtaSectorBytes> data{};
    auto word = [&data](std::size_t index, std::uint16_t value) { Put16(&data[index * 2], value); };
    word(0, 0x0040);  // fixed device
    PutAtaString(&data[20], 20, identity_.serial);
    PutAtaString(&data[46], 8, identity_.firmware);
    PutAtaString(&data[54], 40, identity_.model);
    word(49, 0x0300);  // LBA and DMA supported
    const std::uint32_t lba28 = identity_.sectors > 0x0FFFFFFF ? 0x0FFFFFFF : static_cast<std::uint32_t>(identity_.sectors);
    word(60, static_cast<std::uint16_t>(lba28));
    word(61, static_cast<std::uint16_t>(lba28 >> 16));
    word(83, 0x4400);  // 48-bit addressing
    word(86, 0x0400);
    Put64(&data[200], identity_.sectors);
    // Integrity word: signature 0xA5, then the checksum that makes all bytes sum to 0.
    data[510] = 0xA5;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
    data[511] = static_cast<std::uint8_t>(-sum);
    return data;
}

}  // namespace sim
