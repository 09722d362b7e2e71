#pragma once
// The platform's SCSI pass-through (buffered and direct, laid out for the running width)
// in front of a SCSI target: request checks as the port driver makes them, sense data back.

#include <cstdint>

#include "sim/SimFault.h"
#include "sim/SimMachine.h"

namespace sim {

enum SimSenseKey : std::uint8_t {
    SenseNone = 0x0,
    SenseNotReady = 0x2,
    SenseHardwareError = 0x4,
    SenseIllegalRequest = 0x5,
    SenseUnitAttention = 0x6,
    SenseAbortedCommand = 0xB,
};

// Additional sense codes the simulated targets use (with qualifier 0).
enum SimAdditionalSense : std::uint8_t {
    AscInvalidOpcode = 0x20,
    AscInvalidFieldInCdb = 0x24,
    AscPowerOnReset = 0x29,
    AscCommandSequenceError = 0x2C,
};

struct SimScsiOutcome {
    std::uint8_t scsiStatus = 0;  // 0 good, 2 check condition
    std::uint8_t senseKey = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    std::uint32_t transferred = 0;

    static SimScsiOutcome Good(std::uint32_t transferred) { return {0, 0, 0, 0, transferred}; }
    static SimScsiOutcome Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0) {
        return {2, key, asc, ascq, 0};
    }
};

class SimScsiTarget {
public:
    virtual ~SimScsiTarget() = default;
    // data holds length bytes: filled by the target when dataIn, read by it otherwise.
    virtual SimScsiOutcome Execute(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataIn,
                                   std::uint8_t* data, std::uint32_t length) = 0;
};

// Answers TEST UNIT READY and INQUIRY only, as a disk stack does for CDBs it does not translate.
class SimPlainScsiTarget : public SimScsiTarget {
public:
    SimScsiOutcome Execute(const std::uint8_t* cdb, std::uint8_t cdbLength, bool dataIn, std::uint8_t* data,
                           std::uint32_t length) override;
};

// Faults of the port: the next requests end with this sense instead of reaching the target.
struct SimSenseFault {
    SimFaultCount count;
    std::uint8_t key = SenseUnitAttention;
    std::uint8_t asc = AscPowerOnReset;
    std::uint8_t ascq = 0;

    void Arm(std::uint8_t senseKey, std::uint8_t additional, std::uint8_t qualifier, std::uint32_t times) {
        key = senseKey;
        asc = additional;
        ascq = qualifier;
        count.Arm(times);
    }
};

// One IOCTL_SCSI_PASS_THROUGH(_DIRECT) call through to target.
SimResult HandleScsiPassThrough(SimScsiTarget& target, const SimCall& call, SimSenseFault& fault);

}  // namespace sim
