#pragma once
// What changed in a drive's health between two polls, as the events the Event Log and the
// tray are told. Pure: two states in, the events out. The IDs are a public interface
// (monitoring rules are written against them; the README lists them): never renumbered.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/HistorySample.h"

namespace history {

// The Event Log's entry types (EVENTLOG_ERROR_TYPE, _WARNING_TYPE, _INFORMATION_TYPE).
enum class EventLevel : std::uint16_t { Error = 1, Warning = 2, Information = 4 };

enum class EventId : std::uint16_t {
    DriveArrived = 1000,
    DriveLeft = 1001,
    HealthUnreadable = 1002,
    HealthReadableAgain = 1003,
    // A critical-warning bit set: 1100 + bit (0 spare below threshold, 1 temperature,
    // 2 reliability degraded, 3 read-only, 4 volatile memory backup failed, 5 persistent
    // memory read-only, 6 and 7 reserved); cleared: 1200 + bit.
    CriticalWarningSet = 1100,
    CriticalWarningCleared = 1200,
    WearPassed80 = 1300,
    WearPassed90 = 1301,
    WearPassed100 = 1302,
    SpareReachedThreshold = 1400,
    MediaErrorsRose = 1500,
    ErrorLogEntriesRose = 1501,
    WarningTemperatureTimeRose = 1600,
    CriticalTemperatureTimeRose = 1601,
};

struct HealthEvent {
    std::uint16_t id = 0;  // an EventId, or CriticalWarningSet / Cleared + bit
    EventLevel level = EventLevel::Information;
    std::string text;      // one sentence, for the entry's insertion string and the trace

    friend bool operator==(const HealthEvent& a, const HealthEvent& b) {
        return a.id == b.id && a.level == b.level && a.text == b.text;
    }
};

// A drive as one poll found it.
struct DriveState {
    bool present = false;         // the drive was listed and identified
    bool healthReadable = false;  // its health log was read this poll
    // The latest values read: this poll's when healthReadable, otherwise those kept from
    // before (the service may seed them from the history file's last line).
    std::optional<HistorySample> health;
};

// The events from one poll to the next, in a fixed order: presence, readability, warning
// bits (lowest bit first), wear, spare, errors, temperature time. Values are compared only
// when both states hold some and the new poll read its own. Wear gives one event, for the
// highest of 80, 90, 100 that it passed upwards; counters give one when they rose.
std::vector<HealthEvent> DetectChanges(const DriveState& before, const DriveState& after);

}  // namespace history
