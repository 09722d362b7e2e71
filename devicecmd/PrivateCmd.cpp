#include "devicecmd/PrivateCmd.h"

#include "devicecmd/Requests.h"

namespace devicecmd {

int QueryOptimizeState(platform::Device device, TransportWord transport, std::uint8_t* state) {
    if (state == nullptr) return 0;
    std::array<std::uint8_t, StatePayloadSize> payload{};
    const int result = SendDeviceCommand(device, transport, VendorOpcodeRead, VendorSubcodeReadState, 0,
                                         payload.data(), 1, DirectionRead, VendorFeatures, VendorAtaDevice,
                                         VendorTimeoutSeconds, VendorAttempts);
    if (!result) return 0;
    const std::optional<std::uint8_t> read = StateFromPayload(payload.data());
    if (!read) return 0;
    *state = *read;
    return result;
}

int CPrivateCmd::SetOptimize(platform::Device, TransportWord, std::uint8_t) { return 0; }

int CPrivateCMD7305::SetOptimize(platform::Device device, TransportWord transport, std::uint8_t value) {
    std::array<std::uint8_t, StatePayloadSize> payload = BuildStatePayload(value);
    return SendDeviceCommand(device, transport, VendorOpcodeWrite, VendorSubcodeWriteState, 0, payload.data(), 1,
                             DirectionWrite, VendorFeatures, VendorAtaDevice, VendorTimeoutSeconds,
                             VendorAttempts);
}

}  // namespace devicecmd
