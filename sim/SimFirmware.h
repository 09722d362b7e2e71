#pragma once
// The drive firmware's vendor side: the vendor identify record and the optimize state,
// shared by the NVMe controller and the ATA device models.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/SimFault.h"
#include "sim/SimTea.h"

namespace sim {

constexpr std::size_t VendorRecordSize = 512;
constexpr std::size_t StatePayloadBytes = 512;
constexpr std::uint32_t StateSignature = 0x55AA55AA;

// Where the record's second enciphered range lies.
enum class SimRecordLayout { Layout5, Alternate };

struct SimDriveIdentity {
    std::string model = "Tavik VX310 Series SSD 512GB";
    std::string serial = "TVK310A0000000000017";
    std::string firmware = "VX31A005";
    std::uint64_t sectors = 1000215216;  // 512-byte sectors
};

struct SimVendorConfig {
    std::string controllerName = "VantorPlus VX310 NVMe Controller";
    TeaKey key{0x3C, 0x91, 0x5E, 0x07, 0xA2, 0xD4, 0x18, 0x6B, 0xF0, 0x27, 0x8D, 0x43, 0xB9, 0x65, 0x1A, 0xCE};
    std::string secondRange = "VX310 firmware build 2026.11";
    SimRecordLayout layout = SimRecordLayout::Layout5;
    bool enciphered = true;  // the alternate layout may carry its ranges in clear
    std::uint8_t optimizeState = 2;
};

enum class SimStateWrite { Accepted, BadSignature, BadValue };

class SimVendorFirmware {
public:
    explicit SimVendorFirmware(SimVendorConfig config = {}) : config_(config), built_(std::move(config)) {}

    // The record as it travels: controller name and second range enciphered.
    std::array<std::uint8_t, VendorRecordSize> VendorRecord() const;
    std::array<std::uint8_t, StatePayloadBytes> StatePayload();
    SimStateWrite WriteState(const std::uint8_t* payload);

    std::uint8_t OptimizeState() const { return config_.optimizeState; }
    void SetOptimizeState(std::uint8_t state) { config_.optimizeState = state; }
    const SimVendorConfig& Config() const { return config_; }

    // Faults: state replies without the signature.
    SimFaultCount stateWithoutSignature;

    // Back to the configuration it was built with (the optimize state among it), no fault armed.
    void FactoryReset() {
        config_ = built_;
        stateWithoutSignature.Disarm();
    }

private:
    SimVendorConfig config_;
    SimVendorConfig built_;
};

}  // namespace sim
