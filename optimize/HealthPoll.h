#pragma once
// One poll of the health service, without the service: every drive that identifies on an
// NVMe path is read as zephra-cli list reads it, each under its machine-wide lock (not
// waited for: a drive whose lock is held is skipped until the next poll, and the trace
// says so), its sample appended to its history when due, and what changed since the last
// poll turned into events.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "history/HealthEvents.h"
#include "history/HistoryStore.h"
#include "platform/DriveLockIo.h"
#include "platform/System.h"

struct PolledEvent {
    std::int32_t disk = 0;
    std::string model;
    std::string serial;
    history::HealthEvent event;
};

struct PollResult {
    std::vector<PolledEvent> events;
    std::vector<std::string> trace;             // one line per drive, and one per skipped disk
    std::optional<std::uint32_t> listingError;  // the poll changed nothing
};

class HealthWatch {
public:
    explicit HealthWatch(history::HistoryStore& store) : store_(store) {}

    // The drives as they stand at nowUtc. A drive first met with a history file is taken as
    // present before, at the file's last values: a restarted service reports what changed
    // since it last wrote, not every drive as new.
    PollResult Poll(const platform::System& system, platform::DriveLockIo* locks, std::int64_t nowUtc);

private:
    struct Known {
        std::int32_t disk = 0;
        std::string model;
        std::string serial;
        history::DriveState state;
    };

    history::HistoryStore& store_;
    std::map<std::string, Known> known_;  // by model and serial
};
