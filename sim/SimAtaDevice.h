#pragma once
// An ATA drive with the same vendor firmware: IDENTIFY DEVICE and the vendor commands
// 0xFC (read) and 0xFD (write) with the subcode in address bits 47-32.

#include <array>
#include <cstdint>
#include <vector>

#include "sim/SimFault.h"
#include "sim/SimFirmware.h"

namespace sim {

constexpr std::uint32_t AtaSectorBytes = 512;

enum SimAtaOpcode : std::uint8_t {
    AtaIdentifyDevice = 0xEC,
    AtaVendorRead = 0xFC,
    AtaVendorWrite = 0xFD,
};

enum SimAtaStatus : std::uint8_t { AtaStatusGood = 0x50, AtaStatusError = 0x51 };
enum SimAtaError : std::uint8_t { AtaErrorNone = 0, AtaErrorAbort = 0x04 };

// How the host moves the command's data.
enum class SimAtaProtocol { NonData, PioIn, PioOut, DmaIn, DmaOut };

// The registers of one command as the device receives them.
struct SimAtaCommand {
    std::uint8_t command = 0;
    std::uint16_t features = 0;
    std::uint16_t count = 0;
    std::uint64_t lba = 0;  // 48 bits
    std::uint8_t device = 0;
};

struct SimAtaOutcome {
    std::uint8_t status = AtaStatusGood;
    std::uint8_t error = AtaErrorNone;
    bool Failed() const { return (status & 1) != 0; }
};

struct SimAtaConfig {
    SimDriveIdentity identity;
    SimVendorConfig vendor;
};

class SimAtaDevice {
public:
    using Config = SimAtaConfig;

    explicit SimAtaDevice(Config config = {});

    // The protocol the device expects for a command; NonData for commands it does not know.
    static SimAtaProtocol ProtocolOf(std::uint8_t command);

    // data holds length bytes moving the way protocol says.
    SimAtaOutcome Execute(const SimAtaCommand& command, SimAtaProtocol protocol, std::uint8_t* data,
                          std::uint32_t length);

    // Aborts the next commands with this opcode.
    void AbortCommands(std::uint8_t opcode, std::uint32_t times = Forever);

    SimVendorFirmware& Firmware() { return firmware_; }
    std::array<std::uint8_t, AtaSectorBytes> IdentifyData() const;
    const std::vector<SimAtaCommand>& History() const { return history_; }
    // A hardware or software reset, as the host's translator issues it: mounted volumes
    // on the drive lose what was in flight.
    void Reset() { ++resets_; }
    std::uint32_t Resets() const { return resets_; }
    // The device as it was built: its firmware's configuration, no abort armed, no
    // history, no reset counted.
    void FactoryReset() {
        firmware_.FactoryReset();
        aborts_.clear();
        history_.clear();
        resets_ = 0;
    }

private:
    struct Abort {
        std::uint8_t opcode;
        SimFaultCount count;
    };
    SimAtaOutcome Run(const SimAtaCommand& command, SimAtaProtocol protocol, std::uint8_t* data,
                      std::uint32_t length);

    SimDriveIdentity identity_;
    SimVendorFirmware firmware_;
    std::vector<Abort> aborts_;
    std::vector<SimAtaCommand> history_;
    std::uint32_t resets_ = 0;
};

}  // namespace sim
