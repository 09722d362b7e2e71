// The change detector as a table: two polls of a drive in, the events and levels out.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "history/HealthEvents.h"

namespace {

using history::DriveState;
using history::EventLevel;
using history::HistorySample;

HistorySample Healthy() {
    HistorySample s;
    s.timeUtc = 1796991726;
    s.temperatureKelvin = 311;
    s.availableSpare = 100;
    s.availableSpareThreshold = 10;
    s.percentageUsed = 3;
    s.mediaErrors = {0, 0};
    s.errorLogEntries = {2, 0};
    return s;
}

DriveState Read(const HistorySample& s) { return DriveState{true, true, s}; }
DriveState Changed(const std::function<void(HistorySample&)>& change) {
    HistorySample s = Healthy();
    s.timeUtc += 3600;
    change(s);
    return Read(s);
}
const DriveState Absent{};
const DriveState UnreadableKeepingValues{true, false, Healthy()};
const DriveState UnreadableWithoutValues{true, false, std::nullopt};

using Expected = std::vector<std::pair<unsigned, EventLevel>>;

struct EventCase {
    const char* name;
    DriveState before;
    DriveState after;
    Expected events;
};

std::vector<EventCase> Cases() {
    const auto E = EventLevel::Error;
    const auto W = EventLevel::Warning;
    const auto I = EventLevel::Information;
    HistorySample worn79 = Healthy();
    worn79.percentageUsed = 79;
    HistorySample worn89 = Healthy();
    worn89.percentageUsed = 89;
    HistorySample spareHigh = Healthy();
    spareHigh.availableSpare = 11;
    HistorySample twoBits = Healthy();
    twoBits.criticalWarning = 0x03;
    HistorySample bigErrors = Healthy();
    bigErrors.mediaErrors = {~0ull, 0};
    return {
        {"nothing_changed", Read(Healthy()), Changed([](HistorySample&) {}), {}},
        {"only_counters_that_do_not_warn", Read(Healthy()), Changed([](HistorySample& s) {
             s.dataUnitsWritten.low += 1000;
             s.powerOnHours.low += 1;
             s.temperatureKelvin += 5;
         }),
         {}},
        {"spare_bit_set", Read(Healthy()), Changed([](HistorySample& s) { s.criticalWarning = 0x01; }), {{1100, E}}},
        {"read_only_bit_set", Read(Healthy()), Changed([](HistorySample& s) { s.criticalWarning = 0x08; }), {{1103, E}}},
        {"reserved_bit_set", Read(Healthy()), Changed([](HistorySample& s) { s.criticalWarning = 0x80; }), {{1107, E}}},
        {"one_set_one_cleared", Read(twoBits), Changed([](HistorySample& s) { s.criticalWarning = 0x06; }),
         {{1200, I}, {1102, E}}},
        {"temperature_bit_cleared", Read(twoBits), Changed([](HistorySample& s) { s.criticalWarning = 0x01; }),
         {{1201, I}}},
        {"wear_to_80", Read(worn79), Changed([](HistorySample& s) { s.percentageUsed = 80; }), {{1300, W}}},
        {"wear_to_90", Read(worn89), Changed([](HistorySample& s) { s.percentageUsed = 90; }), {{1301, W}}},
        {"wear_past_all_three_at_once", Read(worn79), Changed([](HistorySample& s) { s.percentageUsed = 101; }),
         {{1302, E}}},
        {"wear_within_a_band", Read(worn89), Changed([](HistorySample& s) { s.percentageUsed = 85; }), {}},
        {"wear_past_100_already", Changed([](HistorySample& s) { s.percentageUsed = 100; }),
         Changed([](HistorySample& s) { s.percentageUsed = 255; }), {}},
        {"spare_reaches_threshold", Read(spareHigh), Changed([](HistorySample& s) { s.availableSpare = 10; }),
         {{1400, E}}},
        {"spare_below_threshold_already", Changed([](HistorySample& s) { s.availableSpare = 9; }),
         Changed([](HistorySample& s) { s.availableSpare = 5; }), {}},
        {"media_errors_rise", Read(Healthy()), Changed([](HistorySample& s) { s.mediaErrors = {1, 0}; }), {{1500, E}}},
        {"media_errors_rise_past_2_64", Read(bigErrors), Changed([](HistorySample& s) { s.mediaErrors = {0, 1}; }),
         {{1500, E}}},
        {"media_errors_fall", Read(bigErrors), Changed([](HistorySample&) {}), {}},
        {"error_log_entries_rise", Read(Healthy()), Changed([](HistorySample& s) { s.errorLogEntries = {3, 0}; }),
         {{1501, W}}},
        {"warning_temperature_time_rises", Read(Healthy()),
         Changed([](HistorySample& s) { s.warningTemperatureMinutes = 1; }), {{1600, W}}},
        {"critical_temperature_time_rises", Read(Healthy()),
         Changed([](HistorySample& s) { s.criticalTemperatureMinutes = 2; }), {{1601, E}}},
        {"everything_at_once", Read(worn89), Changed([](HistorySample& s) {
             s.criticalWarning = 0x02;
             s.percentageUsed = 90;
             s.availableSpare = 10;
             s.mediaErrors = {1, 0};
             s.errorLogEntries = {3, 0};
             s.warningTemperatureMinutes = 1;
             s.criticalTemperatureMinutes = 1;
         }),
         {{1101, E}, {1301, W}, {1400, E}, {1500, E}, {1501, W}, {1600, W}, {1601, E}}},
        {"drive_arrives", Absent, Read(Healthy()), {{1000, I}}},
        {"drive_arrives_unreadable", Absent, UnreadableWithoutValues, {{1000, I}, {1002, W}}},
        // Values kept from before it left (the history's last line) are compared on return.
        {"drive_returns_with_a_warning", DriveState{false, false, Healthy()},
         Changed([](HistorySample& s) { s.criticalWarning = 0x01; }), {{1000, I}, {1100, E}}},
        {"drive_leaves", Read(Healthy()), Absent, {{1001, W}}},
        {"drive_leaves_unreadable", UnreadableKeepingValues, Absent, {{1001, W}}},
        {"stays_away", Absent, Absent, {}},
        {"health_becomes_unreadable", Read(Healthy()), UnreadableKeepingValues, {{1002, W}}},
        {"stays_unreadable", UnreadableKeepingValues, UnreadableKeepingValues, {}},
        // Values are compared with the last ones read, across the unreadable polls.
        {"readable_again_and_worse", UnreadableKeepingValues,
         Changed([](HistorySample& s) { s.mediaErrors = {4, 0}; }), {{1003, I}, {1500, E}}},
        {"readable_again_without_earlier_values", UnreadableWithoutValues, Read(Healthy()), {{1003, I}}},
    };
}

TEST(HealthEvents, Table) {
    for (const EventCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const auto events = history::DetectChanges(c.before, c.after);
        Expected got;
        for (const auto& e : events) {
            got.emplace_back(e.id, e.level);
            EXPECT_FALSE(e.text.empty());
        }
        EXPECT_EQ(got, c.events);
    }
}

TEST(HealthEvents, TextsNameTheValues) {
    HistorySample big = Healthy();
    big.mediaErrors = {~0ull, 0};
    HistorySample bigger = big;
    bigger.mediaErrors = {0, 1};
    const auto events = history::DetectChanges(Read(big), Read(bigger));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].text, "Media and data integrity errors rose from 18446744073709551615 to 18446744073709551616.");
}

}  // namespace
