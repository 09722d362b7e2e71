// One conversation with a drive at a time: the switch of one simulated process and the
// health poll of another, each holding the drive's lock, as the drive saw their commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "demo/DemoMachine.h"
#include "demo/DemoOptions.h"
#include "discovery/Enumerate.h"
#include "optimize/DriveLock.h"
#include "optimize/SwitchFlow.h"
#include "sim/SimCodes.h"
#include "sim/SimDriveLocks.h"
#include "sim/SimNvmeController.h"
#include "sim/SimShutdown.h"

namespace {

const std::map<unsigned, std::wstring> kTexts{{139, L"Has been optimized"}, {140, L"Optimizable"}, {141, L"Unknown"}};

// Passes every call on; the first device-control call made on the hooked thread (the
// switch's second identify, once the drive is open) runs the hook first.
class HookedIo : public platform::DeviceIo {
public:
    explicit HookedIo(platform::DeviceIo& inner) : inner_(inner) {}
    std::thread::id hookedThread;
    std::function<void()> hook;

    platform::Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                          std::uint32_t flags) override {
        return inner_.Open(path, access, share, creation, flags);
    }
    bool Close(platform::Handle handle) override { return inner_.Close(handle); }
    bool IoControl(platform::Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* returned) override {
        if (hook && std::this_thread::get_id() == hookedThread) std::exchange(hook, nullptr)();
        return inner_.IoControl(handle, code, in, inSize, out, outSize, returned);
    }
    bool Read(platform::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) override {
        return inner_.Read(handle, buffer, size, read);
    }
    std::uint32_t Seek(platform::Handle handle, std::int32_t distance, std::uint32_t origin) override {
        return inner_.Seek(handle, distance, origin);
    }
    std::uint32_t LastError() override { return inner_.LastError(); }
    void SetLastError(std::uint32_t error) override { inner_.SetLastError(error); }
    void DebugOutput(std::wstring_view text) override { inner_.DebugOutput(text); }

private:
    platform::DeviceIo& inner_;
};

struct Machine {
    Machine() {
        demo::DemoOptions options;
        options.drives = {demo::DemoDrive::Vx310Inbox};
        machine = std::make_unique<demo::DemoMachine>(options);
        const platform::System system = machine->System();
        examined = discovery::ExamineDrives(system);
        controller().ClearHistory();
    }
    sim::SimNvmeController& controller() { return *machine->Computer().Disk(0).controller; }
    const discovery::DiskInfo& drive() { return *examined.at(0).record; }
    std::vector<std::uint8_t> Opcodes() {
        std::vector<std::uint8_t> out;
        for (const auto& command : controller().History()) out.push_back(static_cast<std::uint8_t>(command.command[0]));
        return out;
    }
    // A poll of the health service: the drive's lock, then the pass that reads its health.
    DriveLock::State Poll(platform::DeviceIo& io, platform::DriveLockIo& locks, std::uint32_t waitMs) {
        const DriveLock lock = DriveLock::Take(&locks, 0, waitMs);
        if (!lock.MayProceed()) return lock.state();
        const platform::System system = machine->System();
        discovery::PassScope scope;
        scope.healthOfEveryDrive = true;
        discovery::ExamineDrives(platform::System{io, system.install, system.volumes}, scope);
        return lock.state();
    }

    std::unique_ptr<demo::DemoMachine> machine;
    std::vector<discovery::ExaminedDisk> examined;
};

const std::wstring Lock0 = L"Global\\Zephra.PhysicalDrive0";

// A poll that comes while the switch talks to the drive waits, and its commands all come
// after the switch's: none between the second identify and the write.
TEST(DriveLock, APollDuringASwitchWaitsAndNeverInterleaves) {
    Machine m;
    sim::SimLockTable table;
    sim::SimDriveLocks window(table, "window");
    sim::SimDriveLocks service(table, "service");
    HookedIo io(m.machine->System().io);
    std::thread poll;
    std::atomic<int> pollState{-1};
    io.hookedThread = std::this_thread::get_id();
    io.hook = [&] {
        poll = std::thread([&] { pollState = static_cast<int>(m.Poll(io, service, 5000)); });
        // The switch goes on only once the poll is waiting on the lock.
        for (int i = 0; i < 5000 && table.Waiters(Lock0) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(table.Waiters(Lock0), 1);
    };
    const SwitchResult result = SwitchDrive(m.drive(), io, 0, &window);
    poll.join();
    EXPECT_EQ(result.outcome, SwitchOutcome::Switched);
    EXPECT_EQ(pollState, static_cast<int>(DriveLock::State::Held));
    const std::vector<std::uint8_t> opcodes = m.Opcodes();
    ASSERT_GE(opcodes.size(), 3u);
    EXPECT_EQ(opcodes[0], sim::NvmeIdentify);    // the switch's second identify
    EXPECT_EQ(opcodes[1], sim::NvmeVendorWrite);  // and its write, right after it
    EXPECT_EQ(std::count(opcodes.begin(), opcodes.end(), sim::NvmeVendorWrite), 1);
    EXPECT_EQ(opcodes.back(), sim::NvmeGetLogPage);  // the poll's health log, last
    const std::vector<std::string> calls = table.Calls();
    const std::vector<std::string> expected{
        "window CreateLock Global\\Zephra.PhysicalDrive0 -> ok",
        "window Wait Global\\Zephra.PhysicalDrive0 10000 -> acquired",
        "service CreateLock Global\\Zephra.PhysicalDrive0 -> ok",
        "window Release Global\\Zephra.PhysicalDrive0",
        "service Wait Global\\Zephra.PhysicalDrive0 5000 -> acquired",
        "service Release Global\\Zephra.PhysicalDrive0",
    };
    EXPECT_EQ(calls, expected);
}

// A poll does not wait: it finds the lock held and skips the drive, sending it nothing.
TEST(DriveLock, APollThatFindsTheLockHeldSkipsTheDrive) {
    Machine m;
    sim::SimLockTable table;
    sim::SimDriveLocks window(table, "window");
    sim::SimDriveLocks service(table, "service");
    const DriveLock held = DriveLock::Take(&window, 0, SwitchLockWaitMs);
    ASSERT_EQ(held.state(), DriveLock::State::Held);
    std::thread poll([&] { EXPECT_EQ(m.Poll(m.machine->System().io, service, 0), DriveLock::State::Busy); });
    poll.join();
    EXPECT_TRUE(m.Opcodes().empty());
}

// A holder that ended holding the lock does not block the drive for ever: the next one
// takes it over, and the switch goes through.
TEST(DriveLock, AnAbandonedLockIsTakenOver) {
    Machine m;
    sim::SimLockTable table;
    sim::SimDriveLocks window(table, "window");
    {
        sim::SimDriveLocks crashed(table, "service");
        std::thread holder([&] {
            DriveLock lock = DriveLock::Take(&crashed, 0, 0);
            EXPECT_EQ(lock.state(), DriveLock::State::Held);
            crashed.End();  // the process ends, its lock unreleased
        });
        holder.join();
    }
    const SwitchResult result = SwitchDrive(m.drive(), m.machine->System().io, 0, &window);
    EXPECT_EQ(result.outcome, SwitchOutcome::Switched);
    const std::vector<std::string> calls = table.Calls();
    EXPECT_NE(std::find(calls.begin(), calls.end(), "service ended holding Global\\Zephra.PhysicalDrive0"), calls.end());
    EXPECT_NE(std::find(calls.begin(), calls.end(), "window Wait Global\\Zephra.PhysicalDrive0 10000 -> abandoned"),
              calls.end());
    // Taken over and released: the next one gets it as any other.
    EXPECT_EQ(DriveLock::Take(&window, 0, 0).state(), DriveLock::State::Held);
}

// The switch waits its bounded time, then reports the drive busy with a code of its own;
// the lock that cannot be made at all is a failure with the system's code. Nothing is sent.
TEST(DriveLock, ABusyDriveIsReportedNotWritten) {
    Machine m;
    sim::SimLockTable table;
    sim::SimDriveLocks window(table, "window");
    sim::SimDriveLocks service(table, "service");
    window.realWaitCapMs = 50;
    std::atomic<bool> release{false};
    std::atomic<bool> holding{false};
    std::thread holder([&] {
        const DriveLock lock = DriveLock::Take(&service, 0, 0);
        holding = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!holding) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const SwitchResult busy = SwitchDrive(m.drive(), m.machine->System().io, 0, &window);
    EXPECT_EQ(busy.outcome, SwitchOutcome::DriveBusy);
    EXPECT_EQ(busy.errorCode, ErrorDriveBusy);

    // The command line: exit 15, "drive-busy", nothing written.
    sim::SimShutdown shutdown;
    const cli::CliSystem cli{m.machine->System(), shutdown, [](unsigned id) { return kTexts.at(id); },
                             [](const std::string&) { return nullptr; }, nullptr, &window};
    const cli::CliRun run = cli::RunCli({"optimize", "on", "--yes", "--json"}, cli);
    EXPECT_EQ(run.exitCode, cli::ExitDriveBusy) << run.out;
    EXPECT_NE(run.out.find("\"code\": \"drive-busy\""), std::string::npos) << run.out;
    EXPECT_TRUE(shutdown.Requests().empty());
    release = true;
    holder.join();
    for (const std::uint8_t opcode : m.Opcodes()) EXPECT_NE(opcode, sim::NvmeVendorWrite);

    window.refuseCreate = 5;
    const SwitchResult refused = SwitchDrive(m.drive(), m.machine->System().io, 0, &window);
    EXPECT_EQ(refused.outcome, SwitchOutcome::OpenFailed);
    EXPECT_EQ(refused.errorCode, 5u);
}

}  // namespace
