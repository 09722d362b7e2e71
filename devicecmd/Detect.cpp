#include "devicecmd/Detect.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "devicecmd/Bytes.h"
#include "devicecmd/IntelRst.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/Requests.h"

namespace devicecmd {

int IdentifyDevice(platform::Device device, TransportWord transport, std::uint8_t* buffer,
                   std::uint8_t cns, std::uint32_t nsid) {
    const std::uint8_t code = TransportCodeOf(transport);
    if (code == TransportSat || code == TransportAta) {
        return SendDeviceCommand(device, transport, AtaOpcodeIdentifyDevice, 0, 0, buffer, 1, DirectionRead,
                                 VendorFeatures, VendorAtaDevice, VendorTimeoutSeconds, VendorAttempts);
    }

    std::array<std::uint8_t, IdentifyDataSize> area{};
    const NvmeCommand identify = BuildNvmeCommand(NvmeOpcodeIdentify, cns, 0, 0);
    int result = 0;
    switch (code) {
        case TransportNvmeInbox:
            result = QueryProtocolSpecificProperty(device, area.data(), IdentifyDataSize, ProtocolDataTypeIdentify,
                                                   PropertyIdAdapterProtocolSpecific, cns & 3u, nsid);
            break;
        case TransportNvmeMiniport: {
            const auto bytes = identify.Bytes();
            result = SendMiniportNvmeCommand(device, bytes.data(), NvmeCommandSize, area.data(), IdentifyDataSize,
                                             DirectionRead, 0, NvmeTimeoutSeconds, NvmeAttempts, nullptr);
            break;
        }
        case TransportUsbBridge: {
            const auto block = BuildBridgeBlock(identify);
            result = SendBridgeNvmeCommand(device, block.data(), area.data(), IdentifyDataSize, DirectionRead, 1,
                                           static_cast<std::uint8_t>(NvmeTimeoutSeconds), 1, nullptr);
            break;
        }
        case TransportIntelRst: {
            // One attempt: the path is tried first on every RST adapter, also where its
            // driver predates the pass-through. A reply without identify-controller data
            // where it is read is no drive's answer.
            const auto bytes = identify.Bytes();
            result = SendIntelRstNvmeCommand(device, RstAddressOf(transport), bytes.data(), area.data(),
                                             IdentifyDataSize, DirectionRead, 0, NvmeTimeoutSeconds, 1, nullptr);
            if (result && cns == 1 && !LooksLikeIdentifyController(area.data())) {
                device.io->SetLastError(ErrorRefused);
                result = 0;
            }
            break;
        }
        default:
            return 0;
    }
    if (result && buffer != nullptr) std::copy(area.begin(), area.end(), buffer);
    return result;
}

int ReadVendorIdentify(platform::Device device, TransportWord transport, std::uint8_t* buffer,
                       std::uint32_t length) {
    constexpr std::uint32_t MaxLength = 0xFFFFu * SectorSize;  // the sector count is 16 bits
    if (buffer == nullptr || length == 0 || length > MaxLength) return 0;
    const auto sectors = static_cast<std::uint16_t>((length + SectorSize - 1) / SectorSize);

    return FailOnAllocationError([&] {
        std::vector<std::uint8_t> area(static_cast<std::size_t>(sectors) * SectorSize, 0);
        const int result = SendDeviceCommand(device, transport, VendorOpcodeRead, VendorSubcodeIdentify, 0,
                                             area.data(), sectors, DirectionRead, VendorFeatures, VendorAtaDevice,
                                             VendorTimeoutSeconds, VendorAttempts);
        if (!result) return 0;
        // Deciphered whole, then copied: a shorter length gets the plain prefix of the
        // record and nothing is written past it.
        DecipherVendorRecord(area.data(), VendorLayoutOf(transport));
        std::copy_n(area.begin(), length, buffer);
        return result;
    });
}

void TeaDecipherBlocks(std::uint8_t* data, std::size_t length, const std::uint8_t* key) {
    constexpr std::uint32_t Delta = 0x9E3779B9;
    constexpr std::uint32_t Cycles = 32;
    if (data == nullptr || key == nullptr) return;
    const std::uint32_t k0 = GetU32(key + 0), k1 = GetU32(key + 4), k2 = GetU32(key + 8), k3 = GetU32(key + 12);
    for (std::size_t block = 0; block + 8 <= length; block += 8) {
        std::uint32_t y = GetU32(data + block);
        std::uint32_t z = GetU32(data + block + 4);
        std::uint32_t sum = Delta * Cycles;
        for (std::uint32_t cycle = 0; cycle < Cycles; ++cycle) {
            z -= ((y << 4) + k2) ^ (y + sum) ^ ((y >> 5) + k3);
            y -= ((z << 4) + k0) ^ (z + sum) ^ ((z >> 5) + k1);
            sum -= Delta;
        }
        PutU32(data + block, y);
        PutU32(data + block + 4, z);
    }
}

int DetectController(platform::Device device, TransportWord transport, std::uint8_t& optimizeState) {
    const std::uint8_t code = TransportCodeOf(transport);
    if (code != TransportNvmeInbox && code != TransportNvmeMiniport && code != TransportUsbBridge &&
        code != TransportIntelRst)
        return 0;

    // Identify only proves that the drive answers; its data is not looked at.
    if (!IdentifyDevice(device, transport, nullptr, 1, 0)) return 0;

    const TransportWord served = (transport & ~TransportWord{0xFF00}) | MakeTransport(0, VendorLayout7305);
    std::array<std::uint8_t, VendorIdentifySize> record{};
    if (!ReadVendorIdentify(device, served, record.data(), static_cast<std::uint32_t>(record.size()))) return 0;
    if (!NamesServedController(record.data())) return 0;

    std::uint8_t state = OptimizeStateUnread;
    QueryOptimizeState(device, served, &state);  // a failed read leaves 0xFF
    optimizeState = state;
    return 1;
}

}  // namespace devicecmd
