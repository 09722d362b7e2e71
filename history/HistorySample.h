#pragma once
// One line of a drive's health history: the values a poll read from the drive's health
// log, and when. Pure: no system call here or anywhere in history/.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "devicecmd/HealthDecode.h"

namespace history {

struct HistorySample {
    std::int64_t timeUtc = 0;             // seconds since 1970-01-01T00:00:00Z
    std::uint16_t temperatureKelvin = 0;  // 0: the drive reports none
    std::uint8_t availableSpare = 0;      // percent
    std::uint8_t availableSpareThreshold = 0;
    std::uint8_t percentageUsed = 0;      // may pass 100
    devicecmd::U128 dataUnitsRead;        // kept exact: 128-bit counters never pass through a double
    devicecmd::U128 dataUnitsWritten;
    devicecmd::U128 powerOnHours;
    devicecmd::U128 powerCycles;
    devicecmd::U128 unsafeShutdowns;
    devicecmd::U128 mediaErrors;
    devicecmd::U128 errorLogEntries;
    std::uint32_t warningTemperatureMinutes = 0;
    std::uint32_t criticalTemperatureMinutes = 0;
    std::uint8_t criticalWarning = 0;

    // Every value but the time.
    bool SameValues(const HistorySample& other) const;
    friend bool operator==(const HistorySample& a, const HistorySample& b) {
        return a.timeUtc == b.timeUtc && a.SameValues(b);
    }
    friend bool operator!=(const HistorySample& a, const HistorySample& b) { return !(a == b); }
};

// The sample of a decoded health log read at timeUtc.
HistorySample SampleOf(const devicecmd::DriveHealth& health, std::int64_t timeUtc);

constexpr std::int64_t SecondsPerDay = 86400;

// A sample is due when there is none yet, when any value changed, when a day has passed
// since the last one, or when the clock went back before it (so a clock set back never
// stops the daily line).
bool SampleDue(const std::optional<HistorySample>& last, const HistorySample& next);

// "2026-12-11T12:22:06Z". Times from year 0000 to 9999 only.
std::string FormatUtc(std::int64_t timeUtc);
// The form FormatUtc writes, nothing else (the seconds field 00-59, a real calendar date).
std::optional<std::int64_t> ParseUtc(std::string_view text);

// Decimal digits of a 128-bit counter; none for anything but 1 to 39 digits with a value
// below 2^128.
std::optional<devicecmd::U128> ParseU128(std::string_view digits);

}  // namespace history
