#include "optimize/HealthPoll.h"

#include <memory>

#include "discovery/Enumerate.h"
#include "optimize/DriveLock.h"

namespace {

bool Identified(discovery::DiskVerdict verdict) {
    return verdict == discovery::DiskVerdict::OtherMaker || verdict == discovery::DiskVerdict::OtherController ||
           verdict == discovery::DiskVerdict::Accepted;
}

std::string Name(std::int32_t disk, const std::string& model) {
    return "disk " + std::to_string(disk) + " (" + model + ")";
}

}  // namespace

PollResult HealthWatch::Poll(const platform::System& system, platform::DriveLockIo* locks, std::int64_t nowUtc) {
    PollResult result;
    std::set<std::int32_t> skipped;
    discovery::PassScope scope;
    scope.everyDisk = true;
    scope.healthOfEveryDrive = true;
    scope.holdDisk = [&](std::int32_t disk) -> std::shared_ptr<void> {
        auto lock = std::make_shared<DriveLock>(DriveLock::Take(locks, disk, 0));
        if (lock->MayProceed()) return lock;
        skipped.insert(disk);
        result.trace.push_back("disk " + std::to_string(disk) +
                               (lock->state() == DriveLock::State::Busy
                                    ? ": busy with another Zephra program; skipped until the next poll"
                                    : ": its lock could not be had (error " + std::to_string(lock->errorCode()) +
                                          "); skipped until the next poll"));
        return nullptr;
    };
    std::optional<std::uint32_t> listingError;
    const std::vector<discovery::ExaminedDisk> examined = discovery::ExamineDrives(system, scope, &listingError);
    if (listingError) {
        // Not a machine without drives: nothing is taken as gone.
        result.listingError = listingError;
        result.trace.push_back("the drives could not be listed (error " + std::to_string(*listingError) + ")");
        return result;
    }

    std::set<std::string> seen;
    for (const discovery::ExaminedDisk& disk : examined) {
        if (!Identified(disk.verdict)) continue;
        const discovery::DiskInfo& d = *disk.record;
        const std::string model = d.modelNumber.data();
        const std::string serial = d.serialNumber.data();
        const std::string key = model + '\n' + serial;
        seen.insert(key);
        const std::string name = Name(d.phyDriveIndex, model);

        auto found = known_.find(key);
        if (found == known_.end()) {
            Known first{d.phyDriveIndex, model, serial, {}};
            const history::HistoryReadResult kept = store_.Read(model, serial);
            if (kept.status == history::HistoryRead::Read && !kept.samples.empty()) {
                first.state = history::DriveState{true, true, kept.samples.back()};
            }
            found = known_.emplace(key, first).first;
        }
        Known& known = found->second;
        history::DriveState now{true, d.health.has_value(), known.state.health};
        if (d.health) now.health = history::SampleOf(*d.health, nowUtc);
        for (history::HealthEvent& event : history::DetectChanges(known.state, now))
            result.events.push_back(PolledEvent{d.phyDriveIndex, model, serial, std::move(event)});

        if (!d.health) {
            result.trace.push_back(name + ": health log unreadable; nothing written");
        } else {
            const history::HistoryWriteResult written = store_.Record(model, serial, *now.health);
            std::string line = name + ": ";
            switch (written.status) {
                case history::HistoryWrite::Appended: line += "sample written"; break;
                case history::HistoryWrite::NotDue: line += "unchanged; no sample due"; break;
                case history::HistoryWrite::Failed:
                    line += "the history could not be written (error " + std::to_string(written.systemError) + ")";
                    break;
            }
            if (!written.keptAside.empty()) line += "; a history file that did not parse was kept aside";
            result.trace.push_back(line);
        }
        known.disk = d.phyDriveIndex;
        known.state = now;
    }

    // Drives the poll did not find are gone, unless their disk was skipped as busy.
    for (auto& entry : known_) {
        Known& known = entry.second;
        if (seen.count(entry.first) || !known.state.present || skipped.count(known.disk)) continue;
        const history::DriveState gone{false, false, known.state.health};
        for (history::HealthEvent& event : history::DetectChanges(known.state, gone))
            result.events.push_back(PolledEvent{known.disk, known.model, known.serial, std::move(event)});
        result.trace.push_back(Name(known.disk, known.model) + ": no longer present");
        known.state = gone;
    }
    return result;
}
