#pragma once
// The drive's optimize feature: the state read and the vendor command sets that switch it.

#include <cstdint>

#include "devicecmd/Transport.h"

namespace devicecmd {

constexpr std::uint32_t OPTIMIZE_SIGNATURE = 0x55AA55AA;
constexpr std::size_t StatePayloadSize = 512;

enum OptimizeState : std::uint8_t {
    OptimizeStateOptimized = 0,    // feature on
    OptimizeStateOptimizable = 2,  // feature off, can be switched on
    OptimizeStateUnread = 0xFF,    // the state read failed
};

// Nonzero when the state was read; only then is *state written.
int QueryOptimizeState(platform::Device device, TransportWord transport, std::uint8_t* state);

// The vendor command-set interface. The base sends nothing and returns 0.
class CPrivateCmd {
public:
    virtual ~CPrivateCmd() = default;
    virtual int SetOptimize(platform::Device device, TransportWord transport, std::uint8_t value);
};

// The command set of the served controller family.
class CPrivateCMD7305 : public CPrivateCmd {
public:
    int SetOptimize(platform::Device device, TransportWord transport, std::uint8_t value) override;
};

}  // namespace devicecmd
