#include "history/HealthEvents.h"

#include <utility>

namespace history {
namespace {

bool Less(const devicecmd::U128& a, const devicecmd::U128& b) {
    return a.high < b.high || (a.high == b.high && a.low < b.low);
}

const char* WarningBitName(unsigned bit) {
    static const char* const names[8] = {
        "available spare below its threshold", "temperature out of range", "reliability degraded",
        "media read-only", "volatile memory backup failed", "persistent memory region read-only",
        "reserved bit 6", "reserved bit 7"};
    return names[bit & 7];
}

HealthEvent Event(std::uint16_t id, EventLevel level, std::string text) {
    return HealthEvent{id, level, std::move(text)};
}

HealthEvent Event(EventId id, EventLevel level, std::string text) {
    return Event(static_cast<std::uint16_t>(id), level, std::move(text));
}

std::string Counter(const char* what, const devicecmd::U128& from, const devicecmd::U128& to) {
    return std::string(what) + " rose from " + devicecmd::ToDecimal(from) + " to " + devicecmd::ToDecimal(to) + ".";
}

void CompareValues(const HistorySample& a, const HistorySample& b, std::vector<HealthEvent>& events) {
    for (unsigned bit = 0; bit < 8; ++bit) {
        const bool was = (a.criticalWarning >> bit) & 1;
        const bool is = (b.criticalWarning >> bit) & 1;
        if (was == is) continue;
        const std::string name = WarningBitName(bit);
        if (is) {
            events.push_back(Event(static_cast<std::uint16_t>(static_cast<unsigned>(EventId::CriticalWarningSet) + bit),
                                   EventLevel::Error, "The drive reports a critical warning: " + name + "."));
        } else {
            events.push_back(Event(static_cast<std::uint16_t>(static_cast<unsigned>(EventId::CriticalWarningCleared) + bit),
                                   EventLevel::Information, "The drive no longer reports: " + name + "."));
        }
    }
    static const struct {
        unsigned percent;
        EventId id;
        EventLevel level;
    } wear[] = {{100, EventId::WearPassed100, EventLevel::Error},
                {90, EventId::WearPassed90, EventLevel::Warning},
                {80, EventId::WearPassed80, EventLevel::Warning}};
    for (const auto& step : wear) {
        if (a.percentageUsed < step.percent && b.percentageUsed >= step.percent) {
            events.push_back(Event(step.id, step.level,
                                   "The drive has used " + std::to_string(b.percentageUsed) +
                                       " % of its rated endurance (passed " + std::to_string(step.percent) + " %)."));
            break;
        }
    }
    if (a.availableSpare > a.availableSpareThreshold && b.availableSpare <= b.availableSpareThreshold)
        events.push_back(Event(EventId::SpareReachedThreshold, EventLevel::Error,
                               "The drive's available spare fell to " + std::to_string(b.availableSpare) +
                                   " %, at or below its threshold of " + std::to_string(b.availableSpareThreshold) +
                                   " %."));
    if (Less(a.mediaErrors, b.mediaErrors))
        events.push_back(Event(EventId::MediaErrorsRose, EventLevel::Error,
                               Counter("Media and data integrity errors", a.mediaErrors, b.mediaErrors)));
    if (Less(a.errorLogEntries, b.errorLogEntries))
        events.push_back(Event(EventId::ErrorLogEntriesRose, EventLevel::Warning,
                               Counter("Error log entries", a.errorLogEntries, b.errorLogEntries)));
    if (a.warningTemperatureMinutes < b.warningTemperatureMinutes)
        events.push_back(Event(EventId::WarningTemperatureTimeRose, EventLevel::Warning,
                               "Time above the warning temperature rose from " +
                                   std::to_string(a.warningTemperatureMinutes) + " to " +
                                   std::to_string(b.warningTemperatureMinutes) + " minutes."));
    if (a.criticalTemperatureMinutes < b.criticalTemperatureMinutes)
        events.push_back(Event(EventId::CriticalTemperatureTimeRose, EventLevel::Error,
                               "Time above the critical temperature rose from " +
                                   std::to_string(a.criticalTemperatureMinutes) + " to " +
                                   std::to_string(b.criticalTemperatureMinutes) + " minutes."));
}

}  // namespace

std::vector<HealthEvent> DetectChanges(const DriveState& before, const DriveState& after) {
    std::vector<HealthEvent> events;
    if (!before.present && after.present)
        events.push_back(Event(EventId::DriveArrived, EventLevel::Information, "The drive is present."));
    if (before.present && !after.present) {
        events.push_back(Event(EventId::DriveLeft, EventLevel::Warning, "The drive is no longer present."));
        return events;
    }
    if (!after.present) return events;
    // A drive that arrives unreadable is told too: there was no reading before to lose.
    if ((before.healthReadable || !before.present) && !after.healthReadable)
        events.push_back(Event(EventId::HealthUnreadable, EventLevel::Warning,
                               "The drive's health log could not be read (refused or incomplete)."));
    if (before.present && !before.healthReadable && after.healthReadable)
        events.push_back(Event(EventId::HealthReadableAgain, EventLevel::Information,
                               "The drive's health log can be read again."));
    if (before.health && after.health && after.healthReadable) CompareValues(*before.health, *after.health, events);
    return events;
}

}  // namespace history
