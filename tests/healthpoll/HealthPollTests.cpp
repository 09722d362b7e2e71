// The health service's poll over the demo's simulated machine, poll after poll: the events
// each change gives (and none when nothing changed), the history written, a drive whose
// lock another program holds skipped without a word to it, a restarted service, a drive gone.
#include "optimize/HealthPoll.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "demo/DemoMachine.h"
#include "demo/DemoOptions.h"
#include "optimize/DriveLock.h"
#include "sim/SimDriveLocks.h"
#include "sim/SimFiles.h"
#include "sim/SimNvmeController.h"

namespace {

using demo::DemoDrive;

std::unique_ptr<demo::DemoMachine> MachineWith(std::vector<DemoDrive> drives) {
    demo::DemoOptions options;
    options.drives = std::move(drives);
    return std::make_unique<demo::DemoMachine>(options);
}

// (disk, event ID) of each event, in order.
std::vector<std::pair<int, unsigned>> Ids(const PollResult& result) {
    std::vector<std::pair<int, unsigned>> out;
    for (const auto& e : result.events) out.emplace_back(e.disk, e.event.id);
    return out;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
    for (const auto& l : lines)
        if (l == line) return true;
    return false;
}

using Events = std::vector<std::pair<int, unsigned>>;
constexpr std::int64_t T0 = 1796990400;  // 2026-12-11T12:00:00Z
constexpr std::int64_t Hour = 3600;

TEST(HealthPoll, PollAfterPoll) {
    auto machine = MachineWith({DemoDrive::OtherNvme, DemoDrive::Vx310Inbox});
    sim::SimNvmeController& vx310 = *machine->Computer().Disk(1).controller;
    sim::SimFiles files;
    sim::SimLockTable table;
    sim::SimDriveLocks service(table, "service");
    history::HistoryStore store(files);
    HealthWatch watch(store);

    PollResult first = watch.Poll(machine->System(), &service, T0);
    EXPECT_EQ(Ids(first), (Events{{0, 1000}, {1, 1000}}));
    EXPECT_TRUE(Has(first.trace, "disk 1 (Tavik VX310 Series SSD 512GB): sample written"));
    EXPECT_EQ(files.FilesIn(L"C:\\ProgramData\\Zephra\\History").size(), 2u);

    PollResult same = watch.Poll(machine->System(), &service, T0 + Hour);
    EXPECT_TRUE(same.events.empty());
    EXPECT_TRUE(Has(same.trace, "disk 1 (Tavik VX310 Series SSD 512GB): unchanged; no sample due"));

    sim::SimHealthLog log = vx310.HealthLog();
    log[160] = 1;  // one media error
    vx310.SetHealthLog(log);
    PollResult worse = watch.Poll(machine->System(), &service, T0 + 2 * Hour);
    ASSERT_EQ(Ids(worse), (Events{{1, 1500}}));
    EXPECT_EQ(worse.events[0].event.level, history::EventLevel::Error);
    EXPECT_EQ(worse.events[0].serial, "TVK310A0000000000017");
    EXPECT_EQ(store.Read("Tavik VX310 Series SSD 512GB", "TVK310A0000000000017").samples.size(), 2u);

    // The window switches disk 1: the poll skips it, sends it nothing, and calls it neither
    // gone nor changed.
    {
        sim::SimDriveLocks window(table, "window");
        const DriveLock held = DriveLock::Take(&window, 1, 0);
        ASSERT_TRUE(held.MayProceed());
        vx310.ClearHistory();
        PollResult busy;
        std::thread poll([&] { busy = watch.Poll(machine->System(), &service, T0 + 3 * Hour); });
        poll.join();
        EXPECT_TRUE(busy.events.empty());
        EXPECT_TRUE(Has(busy.trace, "disk 1: busy with another Zephra program; skipped until the next poll"));
        EXPECT_TRUE(vx310.History().empty());
    }

    vx310.RejectCommands(sim::NvmeGetLogPage, std::nullopt, 0x0009);
    PollResult unreadable = watch.Poll(machine->System(), &service, T0 + 4 * Hour);
    EXPECT_EQ(Ids(unreadable), (Events{{1, 1002}}));
    vx310.ClearRejections();
    PollResult readable = watch.Poll(machine->System(), &service, T0 + 5 * Hour);
    EXPECT_EQ(Ids(readable), (Events{{1, 1003}}));

    // The service starts again: the drives with a history are not new; what changed since
    // the file's last line is told.
    log[0] = 0x01;  // spare below threshold
    vx310.SetHealthLog(log);
    HealthWatch restarted(store);
    PollResult again = restarted.Poll(machine->System(), &service, T0 + 6 * Hour);
    EXPECT_EQ(Ids(again), (Events{{1, 1100}}));

    // The VX310 is gone from the machine.
    auto without = MachineWith({DemoDrive::OtherNvme});
    PollResult gone = restarted.Poll(without->System(), &service, T0 + 7 * Hour);
    EXPECT_EQ(Ids(gone), (Events{{1, 1001}}));
    EXPECT_TRUE(restarted.Poll(without->System(), &service, T0 + 8 * Hour).events.empty());
}

// A listing that fails is not every drive gone.
TEST(HealthPoll, AFailedListingChangesNothing) {
    auto machine = MachineWith({DemoDrive::Vx310Inbox});
    sim::SimFiles files;
    history::HistoryStore store(files);
    HealthWatch watch(store);
    ASSERT_EQ(Ids(watch.Poll(machine->System(), nullptr, T0)), (Events{{0, 1000}}));
    demo::DemoOptions options;
    options.fault = demo::DemoFault::DeviceList;
    auto broken = std::make_unique<demo::DemoMachine>(options);
    const PollResult failed = watch.Poll(broken->System(), nullptr, T0 + Hour);
    EXPECT_TRUE(failed.listingError.has_value());
    EXPECT_TRUE(failed.events.empty());
    EXPECT_TRUE(watch.Poll(machine->System(), nullptr, T0 + 2 * Hour).events.empty());
}

}  // namespace
