#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <vector>

#include "AppTestMachine.h"
#include "app/HostDialog.h"

namespace {

class TestDlg : public CZephraDlg {
public:
    using CZephraDlg::appIcon;
    using CZephraDlg::CZephraDlg;
    using CZephraDlg::rescan;
};

// Runs steps inside the dialog's modal loop: a thread timer fires once the dialog is up
// and has done what follows its first frame (the worker is running).
struct Script {
    static Script* current;
    std::function<void(HWND)> steps;
    const TestDlg* dlg = nullptr;
    HWND dialog = nullptr;
    bool ran = false;

    static BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
        wchar_t name[32] = {};
        ::GetClassNameW(window, name, 32);
        if (std::wstring(name) != L"#32770") return TRUE;
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR id, DWORD) {
        HWND found = nullptr;
        ::EnumThreadWindows(::GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&found));
        if (!found || current->ran || !current->dlg->RescanThread()) return;
        ::KillTimer(nullptr, id);
        current->ran = true;
        current->dialog = found;
        current->steps(found);
    }
    INT_PTR Run(TestDlg& dialogObject) {
        current = this;
        dlg = &dialogObject;
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, Tick);
        const INT_PTR result = dialogObject.DoModal();
        ::KillTimer(nullptr, timer);
        current = nullptr;
        return result;
    }
};
Script* Script::current = nullptr;

struct Header {
    std::uint32_t size;
    std::uint32_t deviceType;
    std::uint32_t reserved;
    std::uint8_t rest[32];
};

LRESULT SendChange(HWND dialog, std::uint32_t event, const Header* header) {
    return ::SendMessageW(dialog, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(header));
}

class HostDialog : public ::testing::Test {
protected:
    apptest::AppTestMachine machine;
};

TEST_F(HostDialog, WindowIsCentredBorderlessWithIconsAndClosesWithItsWorkerStopped) {
    machine.AddVx310(sim::SimNvmePath::Inbox, 2);
    TestDlg dlg(machine.System());
    ASSERT_NE(dlg.appIcon, nullptr);
    RECT rect{}, work{};
    LONG style = 0, exStyle = 0;
    HICON big = nullptr, small = nullptr;
    LRESULT dragIcon = 0;
    wchar_t caption[16] = L"x";
    std::size_t registrations = 0;
    Script script;
    script.steps = [&](HWND window) {
        ::GetWindowRect(window, &rect);
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        style = ::GetWindowLongW(window, GWL_STYLE);
        exStyle = ::GetWindowLongW(window, GWL_EXSTYLE);
        big = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_BIG, 0));
        small = reinterpret_cast<HICON>(::SendMessageW(window, WM_GETICON, ICON_SMALL, 0));
        dragIcon = ::SendMessageW(window, WM_QUERYDRAGICON, 0, 0);
        ::GetWindowTextW(window, caption, 16);
        registrations = machine.watch.Registrations();
        ::PostMessageW(window, WM_CLOSE, IDCLOSE, 0);
    };
    EXPECT_EQ(script.Run(dlg), IDCANCEL);
    ASSERT_TRUE(script.ran);
    EXPECT_EQ(rect.right - rect.left, 700);
    EXPECT_EQ(rect.bottom - rect.top, 490);
    EXPECT_EQ(rect.left, (work.left + work.right - 700) / 2);
    EXPECT_EQ(rect.top, (work.top + work.bottom - 490) / 2);
    EXPECT_EQ(style & WS_CAPTION, 0);
    EXPECT_NE(style & WS_POPUP, 0);
    EXPECT_NE(exStyle & WS_EX_APPWINDOW, 0);
    EXPECT_EQ(big, dlg.appIcon);
    EXPECT_EQ(small, dlg.appIcon);
    EXPECT_EQ(dragIcon, reinterpret_cast<LRESULT>(dlg.appIcon));
    EXPECT_STREQ(caption, L"Zephra");  // what the taskbar and assistive technology call it
    EXPECT_EQ(registrations, 1u);

    // The modal run is over: the window is gone, the registration withdrawn, the worker ended.
    EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
    EXPECT_EQ(machine.watch.Registrations(), 0u);
    ASSERT_NE(dlg.RescanThread(), nullptr);
    EXPECT_EQ(::WaitForSingleObject(dlg.RescanThread()->Handle(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(dlg.RescanThread()->ExitCode(), 1u);
    const std::uint32_t calls = machine.watch.Calls();
    ::Sleep(50);
    EXPECT_EQ(machine.watch.Calls(), calls);
}

TEST_F(HostDialog, DiskInterfaceArrivalsAndRemovalsRefreshOtherChangesDoNot) {
    machine.AddVx310(sim::SimNvmePath::Inbox, 2);
    TestDlg dlg(machine.System());
    const Header disks{32, platform::BroadcastDeviceInterface, 0, {}};
    const Header volume{18, platform::BroadcastVolume, 0, {}};
    const Header port{14, platform::BroadcastPort, 0, {}};
    struct Step {
        std::uint32_t event;
        const Header* header;
        int refreshes;
    };
    const Step steps[] = {
        {platform::DeviceArrival, &disks, 1},       {platform::DeviceRemoveComplete, &disks, 1},
        {platform::DeviceArrival, &volume, 0},      {platform::DeviceRemoveComplete, &volume, 0},
        {platform::DeviceArrival, &port, 0},        {platform::DeviceArrival, nullptr, 0},
        {platform::DeviceRemoveComplete, nullptr, 0}, {platform::DeviceQueryRemove, &disks, 0},
        {platform::DeviceRemovePending, &disks, 0}, {platform::DeviceNodesChanged, nullptr, 0},
    };
    std::vector<int> seen;
    std::vector<LRESULT> results;
    int twoArrivals = 0;
    Script script;
    script.steps = [&](HWND window) {
        for (const Step& step : steps) {
            const int before = machine.counting.passes;
            results.push_back(SendChange(window, step.event, step.header));
            seen.push_back(machine.counting.passes - before);
        }
        const int before = machine.counting.passes;
        SendChange(window, platform::DeviceArrival, &disks);
        SendChange(window, platform::DeviceArrival, &disks);
        twoArrivals = machine.counting.passes - before;
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    };
    script.Run(dlg);
    ASSERT_TRUE(script.ran);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], steps[i].refreshes) << "step " << i;
        EXPECT_EQ(results[i], TRUE) << "step " << i;
    }
    EXPECT_EQ(twoArrivals, 2);
}

TEST_F(HostDialog, RemovalShowsNoDeviceAndArrivalShowsTheDriveAgain) {
    const sim::SimDisk& disk = machine.AddVx310(sim::SimNvmePath::Miniport, 0);
    TestDlg dlg(machine.System());
    const Header disks{32, platform::BroadcastDeviceInterface, 0, {}};
    std::vector<std::wstring> headings;
    Script script;
    script.steps = [&](HWND window) {
        CMainWnd& main = dlg.MainWindow();
        const auto heading = [&] { return main.Drives()[0] ? L"drive" : L"none"; };
        headings.push_back(heading());
        machine.Unplug(disk);
        machine.pc.Machine().Detach(machine.pc.Adapter(disk.adapter).interfacePath);
        SendChange(window, platform::DeviceRemoveComplete, &disks);
        headings.push_back(heading());
        machine.Plug(disk);
        machine.pc.Machine().Attach(machine.pc.Adapter(disk.adapter).interfacePath, disk.stack);
        SendChange(window, platform::DeviceArrival, &disks);
        headings.push_back(heading());
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    };
    script.Run(dlg);
    EXPECT_EQ(headings, (std::vector<std::wstring>{L"drive", L"none", L"drive"}));
}

TEST_F(HostDialog, ADiskThatArrivesBeforeTheRegistrationIsShownAfterIt) {
    // The registration follows the first frame; an arrival before it sends no message.
    class ArrivalBeforeRegistration : public TestDlg {
    public:
        ArrivalBeforeRegistration(apptest::AppTestMachine& machine, const sim::SimDisk& disk)
            : TestDlg(machine.System()), machine_(machine), disk_(disk) {}
        bool shownAtStart = true;

    protected:
        BOOL OnInitDialog() override {
            const BOOL result = TestDlg::OnInitDialog();
            shownAtStart = MainWindow().Drives()[0] != nullptr;
            machine_.Plug(disk_);
            machine_.pc.Machine().Attach(machine_.pc.Adapter(disk_.adapter).interfacePath, disk_.stack);
            return result;
        }

    private:
        apptest::AppTestMachine& machine_;
        const sim::SimDisk& disk_;
    };
    const sim::SimDisk& disk = machine.AddVx310(sim::SimNvmePath::Inbox, 1);
    machine.Unplug(disk);
    machine.pc.Machine().Detach(machine.pc.Adapter(disk.adapter).interfacePath);
    ArrivalBeforeRegistration dlg(machine, disk);
    bool shown = false;
    Script script;
    script.steps = [&](HWND window) {
        shown = dlg.MainWindow().Drives()[0] != nullptr;
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    };
    script.Run(dlg);
    ASSERT_TRUE(script.ran);
    EXPECT_FALSE(dlg.shownAtStart);
    EXPECT_TRUE(shown);
}

TEST_F(HostDialog, CloseCutsTheWorkersPauseShort) {
    // With an hour's pause the close could only end the run by waking the worker.
    TestDlg dlg(machine.System());
    dlg.rescan.pause = std::chrono::hours(1);
    Script script;
    script.steps = [&](HWND window) {
        const DWORD start = ::GetTickCount();
        while (machine.watch.Cycles() < 1 && ::GetTickCount() - start < 10000) ::Sleep(5);
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    };
    script.Run(dlg);
    EXPECT_EQ(machine.watch.Cycles(), 1u);
    EXPECT_EQ(::WaitForSingleObject(dlg.RescanThread()->Handle(), 0), WAIT_OBJECT_0);
}

TEST_F(HostDialog, RescansEveryCycleAndRunsOnWithoutTheRegistration) {
    machine.watch.FailRegistration();
    machine.watch.FailLocate(sim::SimCrFailure, 1);
    TestDlg dlg(machine.System());
    std::string output;
    dlg.rescan.output = [&](std::string_view line) { output += line; };  // before the worker starts
    Script script;
    script.steps = [&](HWND window) {
        const DWORD start = ::GetTickCount();
        while (machine.watch.Cycles() < 2 && ::GetTickCount() - start < 10000) ::Sleep(20);
        ::PostMessageW(window, WM_CLOSE, 0, 0);
    };
    script.Run(dlg);
    EXPECT_GE(machine.watch.Cycles(), 2u);
    EXPECT_EQ(machine.watch.Registrations(), 0u);
    EXPECT_EQ(output, "CM_Locate_DevNode   failed:   13\n ");
}

TEST_F(HostDialog, DefaultOkAndCancelEndTheRun) {
    {
        TestDlg dlg(machine.System());
        Script script;
        script.steps = [&](HWND window) { ::PostMessageW(window, WM_COMMAND, IDOK, 0); };
        EXPECT_EQ(script.Run(dlg), IDOK);
    }
    {
        // Escape becomes the Cancel command through the dialog keys.
        TestDlg dlg(machine.System());
        Script script;
        script.steps = [&](HWND window) {
            ::PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            ::PostMessageW(window, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        };
        EXPECT_EQ(script.Run(dlg), IDCANCEL);
    }
}

}  // namespace
