// The optimize switch against the simulated machine: what reaches the drive, what the user
// is shown, and what is asked of the session, on each path to the drive.
#include "optimize/SwitchFlow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devicecmd/PrivateCmd.h"
#include "discovery/Identify.h"
#include "sim/SimCodes.h"
#include "sim/SimDrives.h"
#include "sim/SimMachine.h"
#include "sim/SimReplyCuts.h"
#include "sim/SimShutdown.h"

namespace {

using devicecmd::TransportNvmeInbox;
using devicecmd::TransportNvmeMiniport;
using devicecmd::TransportUsbBridge;
using sim::NvmeIdentify;
using sim::NvmeVendorWrite;

// Every call the program makes through the device seam, as one line each.
class RecordingIo : public platform::DeviceIo {
public:
    explicit RecordingIo(sim::SimMachine& machine) : machine_(machine) {}
    std::vector<std::string> calls;

    platform::Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                          std::uint32_t flags) override {
        char head[64];
        std::snprintf(head, sizeof head, "Open 0x%08X %u %u %u ", static_cast<unsigned>(access),
                      static_cast<unsigned>(share), static_cast<unsigned>(creation), static_cast<unsigned>(flags));
        calls.push_back(head + std::string(path.begin(), path.end()));
        return machine_.Open(path, access, share, creation, flags);
    }
    bool Close(platform::Handle handle) override {
        calls.push_back("Close");
        return machine_.Close(handle);
    }
    bool IoControl(platform::Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* returned) override {
        calls.push_back("IoControl " + std::to_string(code));
        return machine_.IoControl(handle, code, in, inSize, out, outSize, returned);
    }
    bool Read(platform::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* read) override {
        calls.push_back("Read " + std::to_string(size));
        return machine_.Read(handle, buffer, size, read);
    }
    std::uint32_t Seek(platform::Handle handle, std::int32_t distance, std::uint32_t origin) override {
        calls.push_back("Seek");
        return machine_.Seek(handle, distance, origin);
    }
    std::uint32_t LastError() override { return machine_.LastError(); }
    void SetLastError(std::uint32_t error) override { machine_.SetLastError(error); }
    void DebugOutput(std::wstring_view text) override { machine_.DebugOutput(text); }

    std::vector<std::string> Opens() const {
        std::vector<std::string> opens;
        for (const auto& call : calls)
            if (call.rfind("Open ", 0) == 0) opens.push_back(call);
        return opens;
    }

private:
    sim::SimMachine& machine_;
};

// Answers the confirmation as told, may do something while the box is open, and keeps
// every error text it is shown.
class ScriptedUser : public SwitchUser {
public:
    bool answerYes = true;
    std::function<void()> whileAsking;
    std::function<void()> whileShowingError;
    int asked = 0;
    std::vector<std::wstring> errors;

    bool ConfirmSwitch() override {
        ++asked;
        if (whileAsking) whileAsking();
        return answerYes;
    }
    void ShowSwitchError(const std::wstring& text) override {
        errors.push_back(text);
        if (whileShowingError) whileShowingError();
    }
};

constexpr std::uint32_t kDrive = 1;

// A machine with one VX310 and the record that enumeration makes of it.
struct Rig {
    sim::SimMachine machine;
    RecordingIo io{machine};
    sim::SimShutdown shutdown;
    ScriptedUser user;
    std::shared_ptr<sim::SimNvmeController> controller;
    std::shared_ptr<sim::SimInboxNvmeStack> inbox;  // on the inbox path only
    std::wstring adapterPath;
    discovery::DiskInfo record;

    Rig(std::uint8_t transport, std::uint8_t state) {
        sim::SimNvmeController::Config config;
        config.vendor.optimizeState = state;
        switch (transport) {
            case TransportNvmeInbox: {
                auto drive = sim::AttachInboxDrive(machine, kDrive, config);
                controller = drive.device;
                inbox = drive.stack;
                break;
            }
            case TransportNvmeMiniport: {
                auto drive = sim::AttachMiniportDrive(machine, kDrive, config);
                controller = drive.device;
                adapterPath = drive.adapterPath;
                break;
            }
            default: controller = sim::AttachBridgeDrive(machine, kDrive, config).device; break;
        }
        Accept(transport);
        controller->ClearHistory();
        machine.ClearTrace();
        io.calls.clear();
        machine.SetLastError(0);
    }

    // As the enumeration pass: the adapter's bus says inbox NVMe (2) or USB (4); a drive that
    // the storage driver does not identify is tried through its adapter path as miniport (3).
    void Accept(std::uint8_t transport) {
        record.phyDriveIndex = kDrive;
        record.busType = transport == TransportUsbBridge ? TransportUsbBridge : TransportNvmeInbox;
        const std::wstring adapter = adapterPath.empty() ? sim::AdapterPath(kDrive) : adapterPath;
        std::copy(adapter.begin(), adapter.end(), record.adapterPath.begin());
        discovery::DevicePair pair;
        pair.handle = platform::UniqueHandle::Open(machine, sim::PhysicalDrivePath(kDrive),
                                                   platform::AccessRead | platform::AccessWrite,
                                                   platform::ShareRead | platform::ShareWrite, platform::OpenExisting,
                                                   platform::AttributesNone);
        pair.transport = devicecmd::MakeTransport(record.busType);
        ASSERT_TRUE(discovery::IdentifyDrive(machine, pair, record));
        ASSERT_TRUE(discovery::IsRightDevice(pair, record));
        ASSERT_EQ(record.busType, transport);
    }

    SwitchResult Click() { return RunOptimizeSwitch(record, io, shutdown, user); }

    std::vector<std::uint8_t> Opcodes() const {
        std::vector<std::uint8_t> opcodes;
        for (const auto& command : controller->History()) opcodes.push_back(static_cast<std::uint8_t>(command.command[0]));
        return opcodes;
    }
};

const char* NameOf(std::uint8_t transport) {
    switch (transport) {
        case TransportNvmeInbox: return "inbox";
        case TransportNvmeMiniport: return "miniport";
        default: return "bridge";
    }
}

const std::uint8_t kTransports[] = {TransportNvmeInbox, TransportNvmeMiniport, TransportUsbBridge};

TEST(OptimizeSwitch, NoTouchesNothing) {
    for (const std::uint8_t transport : kTransports) {
        SCOPED_TRACE(NameOf(transport));
        Rig rig(transport, devicecmd::OptimizeStateOptimizable);
        rig.user.answerYes = false;
        const SwitchResult result = rig.Click();
        EXPECT_EQ(result.outcome, SwitchOutcome::NotConfirmed);
        EXPECT_EQ(rig.user.asked, 1);
        EXPECT_TRUE(rig.io.calls.empty()) << "not even the sector read";
        EXPECT_TRUE(rig.machine.Trace().empty());
        EXPECT_TRUE(rig.controller->History().empty());
        EXPECT_TRUE(rig.shutdown.Calls().empty());
        EXPECT_TRUE(rig.user.errors.empty());
        EXPECT_EQ(rig.controller->Firmware().OptimizeState(), devicecmd::OptimizeStateOptimizable);
    }
}

TEST(OptimizeSwitch, YesSendsTheOtherStateOnceAfterIdentifyingTheDriveThenShutsDown) {
    const struct {
        std::uint8_t transport;
        std::uint8_t before;
        std::uint8_t sent;
        const char* openedPath;  // "physical" or "adapter"
    } cases[] = {
        {TransportNvmeInbox, 2, 0, "physical"}, {TransportNvmeInbox, 0, 2, "physical"},
        {TransportNvmeMiniport, 2, 0, "adapter"}, {TransportNvmeMiniport, 0, 2, "adapter"},
        {TransportUsbBridge, 2, 0, "physical"}, {TransportUsbBridge, 0, 2, "physical"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(NameOf(c.transport)) + " from state " + std::to_string(c.before));
        Rig rig(c.transport, c.before);
        const SwitchResult result = rig.Click();
        EXPECT_EQ(result.outcome, SwitchOutcome::ShutdownRequested);
        EXPECT_EQ(result.newState, c.sent);
        EXPECT_TRUE(rig.user.errors.empty());

        // The drive: identified, then exactly one vendor write, the state write with the new value.
        EXPECT_EQ(rig.Opcodes(), (std::vector<std::uint8_t>{NvmeIdentify, NvmeVendorWrite}));
        ASSERT_EQ(rig.controller->History().size(), 2u);
        EXPECT_EQ(rig.controller->History()[1].command[15], sim::SubcodeStateWrite);
        EXPECT_EQ(rig.controller->History()[1].status, sim::NvmeSuccess);
        EXPECT_EQ(rig.controller->Firmware().OptimizeState(), c.sent);

        // The sector read through a handle of its own, then the drive opened by its transport.
        const std::wstring expectedPath = std::string(c.openedPath) == "adapter"
                                              ? rig.adapterPath
                                              : std::wstring(L"\\\\.\\physicaldrive1");
        const std::vector<std::string> opens = rig.io.Opens();
        ASSERT_EQ(opens.size(), 2u);
        EXPECT_EQ(opens[0], "Open 0x80000000 1 3 0 \\\\.\\PhysicalDrive1");
        EXPECT_EQ(opens[1], "Open 0xC0000000 3 3 0 " + std::string(expectedPath.begin(), expectedPath.end()));
        EXPECT_EQ(rig.machine.OpenHandleCount(), 0u) << "every handle closed";

        EXPECT_EQ(rig.shutdown.Calls(), (std::vector<std::string>{
                                            "OpenProcessToken access 0x28 -> ok",
                                            "LookupPrivilegeValue SeShutdownPrivilege -> ok",
                                            "AdjustTokenPrivileges attributes 0x2 -> ok",
                                            "ExitWindowsEx flags 0x5 reason 0x0 -> accepted",
                                            "CloseHandle -> ok",
                                        }));
        ASSERT_EQ(rig.shutdown.Requests().size(), 1u);
        EXPECT_EQ(rig.shutdown.Requests()[0].flags, 5u);
        EXPECT_EQ(rig.shutdown.OpenTokens(), 0u);
    }
}

TEST(OptimizeSwitch, FailuresShowOneErrorWithTheSystemCode) {
    const struct {
        const char* what;
        std::uint8_t transport;
        std::uint8_t before;
        std::function<void(Rig&)> fault;
        SwitchOutcome outcome;
        std::wstring text;
        std::vector<std::uint8_t> opcodes;  // what reached the drive
    } cases[] = {
        {"the drive cannot be opened", TransportNvmeInbox, 2,
         [](Rig& rig) { rig.machine.RefuseOpen(L"\\\\.\\physicaldrive1", sim::ErrorAccessDenied); },
         SwitchOutcome::OpenFailed, L"Open Device error, error code 5", {}},
        {"the adapter path is gone", TransportNvmeMiniport, 2,
         [](Rig& rig) { rig.machine.Detach(rig.adapterPath); }, SwitchOutcome::OpenFailed,
         L"Open Device error, error code 2", {}},
        {"a transport without a path to open", TransportNvmeInbox, 2,
         [](Rig& rig) { rig.record.busType = devicecmd::TransportAta; }, SwitchOutcome::OpenFailed,
         L"Open Device error, error code 0", {}},
        {"the identify fails", TransportNvmeInbox, 2,
         [](Rig& rig) { rig.machine.RefuseIoControl(L"", sim::IoctlStorageQueryProperty, sim::ErrorIoDevice); },
         SwitchOutcome::NotTheSameDrive, L"Open Device error, error code 1117", {}},
        {"turning the feature on fails in the system", TransportNvmeInbox, 2,
         [](Rig& rig) { rig.machine.RefuseIoControl(L"", sim::IoctlStorageProtocolCommand, sim::ErrorIoDevice); },
         SwitchOutcome::CommandFailed, L"Open Optimize error, error code 1117", {NvmeIdentify}},
        // A refusal by the drive fails no system call: its code says that the device refused.
        {"turning the feature off is refused by the drive", TransportNvmeInbox, 0,
         [](Rig& rig) { rig.controller->RejectCommands(NvmeVendorWrite, std::nullopt, sim::NvmeInvalidField); },
         SwitchOutcome::CommandFailed, L"Close Optimize error, error code 1117", {NvmeIdentify, NvmeVendorWrite}},
        {"the drive refuses on the miniport", TransportNvmeMiniport, 2,
         [](Rig& rig) { rig.controller->RejectCommands(NvmeVendorWrite, std::nullopt, sim::NvmeInvalidField); },
         SwitchOutcome::CommandFailed, L"Open Optimize error, error code 1117", {NvmeIdentify, NvmeVendorWrite}},
        {"the drive refuses behind the bridge", TransportUsbBridge, 2,
         [](Rig& rig) { rig.controller->RejectCommands(NvmeVendorWrite, std::nullopt, sim::NvmeInvalidField); },
         SwitchOutcome::CommandFailed, L"Open Optimize error, error code 1117", {NvmeIdentify, NvmeVendorWrite}},
        {"the second identify is refused by the drive on the miniport", TransportNvmeMiniport, 2,
         [](Rig& rig) { rig.controller->RejectCommands(NvmeIdentify, std::nullopt, sim::NvmeInvalidField); },
         SwitchOutcome::NotTheSameDrive, L"Open Device error, error code 1117", {NvmeIdentify}},
        {"the second identify is refused by the drive behind the bridge", TransportUsbBridge, 2,
         [](Rig& rig) { rig.controller->RejectCommands(NvmeIdentify, std::nullopt, sim::NvmeInvalidField); },
         SwitchOutcome::NotTheSameDrive, L"Open Device error, error code 1117", {NvmeIdentify}},
        // A whole reply that names no identify data is a failed read, not another drive.
        {"the second identify's reply names no data", TransportNvmeInbox, 2,
         [](Rig& rig) {
             rig.inbox->propertyFault = sim::SimPropertyFault::NoData;
             rig.inbox->propertyFaultCount.Arm(sim::Forever);
         },
         SwitchOutcome::NotTheSameDrive, L"Open Device error, error code 13", {NvmeIdentify}},
        {"the second identify's reply names data inside its descriptor", TransportNvmeInbox, 2,
         [](Rig& rig) {
             rig.inbox->propertyFault = sim::SimPropertyFault::DataInsideDescriptor;
             rig.inbox->propertyFaultCount.Arm(sim::Forever);
         },
         SwitchOutcome::NotTheSameDrive, L"Open Device error, error code 13", {NvmeIdentify}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.transport, c.before);
        c.fault(rig);
        rig.machine.SetLastError(0);
        const SwitchResult result = rig.Click();
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(rig.user.errors, (std::vector<std::wstring>{c.text}));
        std::vector<std::uint8_t> reached;
        for (const auto& command : rig.controller->History())
            reached.push_back(static_cast<std::uint8_t>(command.command[0]));
        // The drive's own retries aside, each command reached it at least once and nothing else did.
        reached.erase(std::unique(reached.begin(), reached.end()), reached.end());
        EXPECT_EQ(reached, c.opcodes);
        EXPECT_EQ(rig.controller->Firmware().OptimizeState(), c.before);
        EXPECT_TRUE(rig.shutdown.Calls().empty()) << "no shutdown after a failure";
        EXPECT_EQ(rig.machine.OpenHandleCount(), 0u);
    }
}

// The drive may or may not have taken the write; a reply that does not say so is a failure
// with a code of its own, and no shutdown follows.
TEST(OptimizeSwitch, AWriteWhoseReplyComesBackShortIsAFailureWithErrorCode13) {
    const struct {
        const char* what;
        std::uint8_t transport;
        std::function<void(Rig&)> fault;
    } cases[] = {
        {"the miniport answers with 0 bytes", TransportNvmeMiniport,
         [](Rig& rig) { sim::EmptyStateWriteReply(rig.machine); }},
        {"the inbox driver answers with 0 bytes", TransportNvmeInbox,
         [](Rig& rig) { sim::EmptyStateWriteReply(rig.machine); }},
        {"the bridge's response block comes back empty", TransportUsbBridge,
         [](Rig& rig) { sim::EmptyStateWriteReply(rig.machine); }},
        {"the bridge's response block is cut to 97 bytes", TransportUsbBridge,
         [](Rig& rig) {
             rig.machine.CutReplies(L"", sim::CutVendorReply(NvmeVendorWrite, sim::SubcodeStateWrite,
                                                             sim::SimCutPhase::Response, 97));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.transport, devicecmd::OptimizeStateOptimizable);
        c.fault(rig);
        std::size_t openAtError = 99;
        rig.user.whileShowingError = [&] { openAtError = rig.machine.OpenHandleCount(); };
        const SwitchResult result = rig.Click();
        EXPECT_EQ(result.outcome, SwitchOutcome::CommandFailed);
        EXPECT_EQ(result.errorCode, 13u);
        EXPECT_EQ(rig.user.errors, (std::vector<std::wstring>{L"Open Optimize error, error code 13"}));
        EXPECT_TRUE(rig.shutdown.Calls().empty()) << "no shutdown without the drive's word";
        EXPECT_EQ(openAtError, 0u) << "the drive is closed before the box is shown";
    }
}

TEST(OptimizeSwitch, EveryHandleIsClosedBeforeAnErrorBoxIsShown) {
    const struct {
        const char* what;
        std::function<void(Rig&)> fault;
    } cases[] = {
        {"the identify fails",
         [](Rig& rig) { rig.machine.RefuseIoControl(L"", sim::IoctlStorageQueryProperty, sim::ErrorIoDevice); }},
        {"the write fails",
         [](Rig& rig) { rig.machine.RefuseIoControl(L"", sim::IoctlStorageProtocolCommand, sim::ErrorIoDevice); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(TransportNvmeInbox, 2);
        c.fault(rig);
        std::size_t openAtError = 99;
        rig.user.whileShowingError = [&] { openAtError = rig.machine.OpenHandleCount(); };
        rig.Click();
        ASSERT_EQ(rig.user.errors.size(), 1u);
        EXPECT_EQ(openAtError, 0u);
    }
}

TEST(OptimizeSwitch, ARefusedShutdownLeavesTheProgramRunningWithoutAWord) {
    const struct {
        const char* what;
        std::function<void(sim::SimShutdown&)> fault;
        std::size_t calls;
        std::string last;
    } cases[] = {
        {"the token cannot be opened", [](sim::SimShutdown& s) { s.refuseOpenToken = sim::ErrorAccessDenied; }, 1,
         "OpenProcessToken access 0x28 -> error 5"},
        {"the privilege is not held", [](sim::SimShutdown& s) { s.holdsShutdownPrivilege = false; }, 4,
         "CloseHandle -> ok"},
        {"the request is refused", [](sim::SimShutdown& s) { s.refuseExit = sim::ErrorAccessDenied; }, 5,
         "CloseHandle -> ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(TransportNvmeInbox, 2);
        c.fault(rig.shutdown);
        const SwitchResult result = rig.Click();
        EXPECT_EQ(result.outcome, SwitchOutcome::ShutdownRefused);
        EXPECT_TRUE(rig.user.errors.empty());
        EXPECT_FALSE(result.refreshPanel);
        EXPECT_EQ(rig.controller->Firmware().OptimizeState(), 0) << "the drive has switched";
        EXPECT_TRUE(rig.shutdown.Requests().empty());
        ASSERT_EQ(rig.shutdown.Calls().size(), c.calls);
        EXPECT_EQ(rig.shutdown.Calls().back(), c.last);
        EXPECT_EQ(rig.shutdown.OpenTokens(), 0u);
    }
}

TEST(OptimizeSwitch, ADriveExchangedWhileTheBoxIsOpenGetsTheIdentifyAndNothingElse) {
    const struct {
        const char* what;
        std::uint8_t transport;
        std::function<void(sim::SimDriveIdentity&)> change;
        bool sameDrive;
    } cases[] = {
        {"another maker's drive on the inbox driver", TransportNvmeInbox,
         [](sim::SimDriveIdentity& id) {
             id.model = "Other Maker NV2 1TB";
             id.serial = "OM00000000000000042";
         },
         false},
        {"another VX310: only the serial number differs", TransportNvmeInbox,
         [](sim::SimDriveIdentity& id) { id.serial = "TVK310A0000000000018"; }, false},
        {"a different model with the same serial number, behind the miniport", TransportNvmeMiniport,
         [](sim::SimDriveIdentity& id) { id.model = "Tavik VX310 Pro Series SSD 1TB"; }, false},
        {"another drive in the USB enclosure", TransportUsbBridge,
         [](sim::SimDriveIdentity& id) { id.serial = "TVK310B0000000000017"; }, false},
        {"the same drive plugged in again", TransportNvmeInbox, [](sim::SimDriveIdentity&) {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(c.transport, devicecmd::OptimizeStateOptimizable);
        std::shared_ptr<sim::SimNvmeController> newcomer;
        rig.user.whileAsking = [&] {
            sim::SimNvmeController::Config config;
            config.vendor.optimizeState = devicecmd::OptimizeStateOptimizable;
            c.change(config.identity);
            switch (c.transport) {
                case TransportNvmeInbox: newcomer = sim::AttachInboxDrive(rig.machine, kDrive, config).device; break;
                case TransportNvmeMiniport:
                    newcomer = sim::AttachMiniportDrive(rig.machine, kDrive, config).device;
                    break;
                default: newcomer = sim::AttachBridgeDrive(rig.machine, kDrive, config).device; break;
            }
            rig.machine.SetLastError(0);
        };
        const SwitchResult result = rig.Click();
        EXPECT_TRUE(rig.controller->History().empty()) << "the drive that left got nothing";
        ASSERT_TRUE(newcomer);
        if (c.sameDrive) {
            EXPECT_EQ(result.outcome, SwitchOutcome::ShutdownRequested);
            EXPECT_EQ(newcomer->Firmware().OptimizeState(), 0);
            continue;
        }
        std::vector<std::uint8_t> reached;
        for (const auto& command : newcomer->History()) reached.push_back(static_cast<std::uint8_t>(command.command[0]));
        EXPECT_EQ(reached, (std::vector<std::uint8_t>{NvmeIdentify}));
        EXPECT_EQ(newcomer->Firmware().OptimizeState(), devicecmd::OptimizeStateOptimizable);
        EXPECT_EQ(result.outcome, SwitchOutcome::NotTheSameDrive);
        EXPECT_EQ(rig.user.errors, (std::vector<std::wstring>{L"Open Device error, error code 1167"}));
        EXPECT_TRUE(result.refreshPanel);
        EXPECT_TRUE(rig.shutdown.Calls().empty());
        EXPECT_EQ(rig.machine.OpenHandleCount(), 0u);
    }
}

TEST(OptimizeSwitch, ErrorTextsAndTheValueSent) {
    EXPECT_EQ(NewOptimizeState(0), 2);
    EXPECT_EQ(NewOptimizeState(2), 0);
    EXPECT_EQ(NewOptimizeState(1), 0);
    EXPECT_EQ(NewOptimizeState(0xFF), 0);
    EXPECT_EQ(OpenDeviceErrorText(1167), L"Open Device error, error code 1167");
    EXPECT_EQ(SwitchErrorText(2, 0), L"Close Optimize error, error code 0");
    EXPECT_EQ(SwitchErrorText(0, 31), L"Open Optimize error, error code 31");
    // Signed, as the code is printed.
    EXPECT_EQ(OpenDeviceErrorText(0x80070005u), L"Open Device error, error code -2147024891");
}

}  // namespace
