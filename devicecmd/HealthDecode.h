#pragma once
// The health information log decoded as the NVMe base standard lays it out. Pure:
// bytes in, values out.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace devicecmd {

// An unsigned 128-bit counter of the log, held as two halves so that both widths keep
// every digit.
struct U128 {
    std::uint64_t low = 0;
    std::uint64_t high = 0;

    friend bool operator==(const U128& a, const U128& b) { return a.low == b.low && a.high == b.high; }
};

// All decimal digits, e.g. "340282366920938463463374607431768211455" for 2^128 - 1.
std::string ToDecimal(const U128& value);
// Nearest double (for sizes shown rounded); exact below 2^53.
double ToDouble(const U128& value);

// Bits of the critical warning byte.
enum CriticalWarningBit : std::uint8_t {
    WarningSpareBelowThreshold = 0x01,
    WarningTemperature = 0x02,        // above an over- or below an under-temperature threshold
    WarningReliabilityDegraded = 0x04,
    WarningReadOnly = 0x08,
    WarningVolatileBackupFailed = 0x10,
    WarningPersistentMemoryReadOnly = 0x20,
    WarningReservedBits = 0xC0,
};

// Bits of the endurance group critical warning summary (byte 6): the same warnings, for
// any endurance group of the drive.
enum EnduranceGroupWarningBit : std::uint8_t {
    EnduranceGroupSpareBelowThreshold = 0x01,
    EnduranceGroupReliabilityDegraded = 0x04,
    EnduranceGroupReadOnly = 0x08,
    EnduranceGroupReservedBits = 0xF2,
};

struct DriveHealth {
    std::uint8_t criticalWarning = 0;
    std::uint16_t temperatureKelvin = 0;  // composite temperature; 0: not reported
    std::uint8_t availableSpare = 0;      // percent
    std::uint8_t availableSpareThreshold = 0;
    std::uint8_t percentageUsed = 0;      // may exceed 100 (to 255)
    std::uint8_t enduranceGroupWarning = 0;  // EnduranceGroupWarningBit; 0 before NVMe 1.4
    U128 dataUnitsRead;                   // units of 1,000 blocks of 512 bytes
    U128 dataUnitsWritten;
    U128 hostReadCommands;
    U128 hostWriteCommands;
    U128 controllerBusyMinutes;
    U128 powerCycles;
    U128 powerOnHours;
    U128 unsafeShutdowns;
    U128 mediaErrors;                     // media and data integrity errors
    U128 errorLogEntries;
    std::uint32_t warningTemperatureMinutes = 0;
    std::uint32_t criticalTemperatureMinutes = 0;

    // Degrees Celsius (Kelvin - 273), none when the drive does not report it.
    std::optional<int> TemperatureCelsius() const;
    // The spare is under a threshold the drive set, whatever bit 0 says.
    bool SpareBelowThreshold() const {
        return availableSpareThreshold != 0 && availableSpare < availableSpareThreshold;
    }
    // The drive warns: a critical-warning bit, an endurance group warning bit, or a spare
    // below its threshold. Better warned once too often than not at all.
    bool HasCriticalWarning() const {
        return criticalWarning != 0 || enduranceGroupWarning != 0 || SpareBelowThreshold();
    }
};

// Bytes in a data unit.
constexpr std::uint32_t HealthDataUnitBytes = 512000;

// Decodes a log of size bytes; none when it is shorter than the 512-byte page.
std::optional<DriveHealth> DecodeHealthLog(const std::uint8_t* log, std::size_t size);

// data units * 512,000 as an exact decimal byte count (fits: a 128-bit count times 512,000
// has at most 45 digits).
std::string DataUnitsToBytesDecimal(const U128& units);

}  // namespace devicecmd
