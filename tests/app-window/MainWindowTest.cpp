#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "AppTestMachine.h"
#include "app/DevicePanel.h"
#include "app/MainWnd.h"

using DuiLib::CButtonUI;
using DuiLib::CControlUI;

namespace {

// The main window with its protected parts in reach.
class TestMainWnd : public CMainWnd {
public:
    using CMainWnd::CMainWnd;
    using CMainWnd::closeButton;
    using CMainWnd::minButton;
    using CMainWnd::paintManager;

    std::wstring Text(const wchar_t* name) {
        const CControlUI* control = paintManager.FindControl(name);
        return control ? control->GetText() : L"<missing>";
    }
    CButtonUI* Option() { return dynamic_cast<CButtonUI*>(paintManager.FindControl(L"btnOption")); }
};

// A plain popup taken over by the main window, as the host dialog's is.
class MainWindow : public ::testing::Test {
protected:
    void Open() {
        plain = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_CAPTION, 0, 0, 700, 490, nullptr, nullptr,
                                  ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(plain, nullptr);
        ASSERT_EQ(window.Subclass(plain), plain);
        window.AttachToHost(nullptr);
    }
    void TearDown() override {
        if (::IsWindow(plain)) ::DestroyWindow(plain);
    }

    void ExpectNoDrive(const wchar_t* buttonText, const wchar_t* normalImage) {
        EXPECT_EQ(window.Text(L"LabelDevice"), L"No device detected");
        EXPECT_EQ(window.Text(L"LabelMnVal"), L"");
        EXPECT_EQ(window.Text(L"LabelCapVal"), L"");
        EXPECT_EQ(window.Text(L"LabelStatusVal"), L"");
        ASSERT_NE(window.Option(), nullptr);
        EXPECT_FALSE(window.Option()->IsEnabled());
        EXPECT_EQ(window.Option()->GetText(), buttonText);
        EXPECT_EQ(window.Option()->GetNormalImage(), normalImage);
    }

    apptest::AppTestMachine machine;
    TestMainWnd window{machine.Machine(), machine.shutdown};
    HWND plain = nullptr;
};

TEST_F(MainWindow, AttachBuildsTheSkinDropsTheCaptionAndFillsTheFixedTexts) {
    machine.AddVx310(sim::SimNvmePath::Inbox, 2);
    Open();
    EXPECT_EQ(::GetWindowLongW(plain, GWL_STYLE) & WS_CAPTION, 0);
    EXPECT_NE(window.minButton, nullptr);
    EXPECT_NE(window.closeButton, nullptr);
    EXPECT_EQ(window.Text(L"LabelMN"), L"Model No.:");
    EXPECT_EQ(window.Text(L"LabelCap"), L"Capacity:");
    EXPECT_EQ(window.Text(L"LabelStatus"), L"Status:");
    EXPECT_EQ(window.Text(L"TextNotice").substr(0, 30), L"Optimizing the VX310 and VX310");
    EXPECT_NE(window.Text(L"TextNotice").find(L"performance.\nAll data"), std::wstring::npos);
    EXPECT_EQ(machine.counting.passes, 1);
}

TEST_F(MainWindow, DriveOnEachPathInEachState) {
    struct Case {
        sim::SimNvmePath path;
        std::uint8_t state;
        const wchar_t* status;
        const wchar_t* button;
        const wchar_t* prefix;
        bool enabled;
    };
    const Case cases[] = {
        {sim::SimNvmePath::Inbox, 0, L"Has been optimized", L"Off", L"off", true},
        {sim::SimNvmePath::Miniport, 2, L"Optimizable", L"On", L"on", true},
        {sim::SimNvmePath::Bridge, 0xFF, L"Unknown", L"On", L"on", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state));
        apptest::AppTestMachine each;
        each.AddVx310(c.path, c.state);
        TestMainWnd main(each.Machine(), each.shutdown);
        HWND host = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 700, 490, nullptr, nullptr,
                                      ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_EQ(main.Subclass(host), host);
        main.AttachToHost(nullptr);
        EXPECT_EQ(main.Text(L"LabelDevice"), L"Tavik VX310 Series SSD");
        EXPECT_EQ(main.Text(L"LabelMnVal"), L"Tavik VX310 Series SSD 512GB");
        EXPECT_EQ(main.Text(L"LabelCapVal"), L"476.94 GB");
        EXPECT_EQ(main.Text(L"LabelStatusVal"), c.status);
        CButtonUI* option = main.Option();
        ASSERT_NE(option, nullptr);
        EXPECT_EQ(option->IsEnabled(), c.enabled);
        EXPECT_EQ(option->GetText(), c.button);
        const std::wstring p = c.prefix;
        EXPECT_EQ(option->GetNormalImage(), p + L"_normal.png");
        EXPECT_EQ(option->GetHotImage(), p + L"_over.png");
        EXPECT_EQ(option->GetPushedImage(), p + L"_down.png");
        EXPECT_EQ(option->GetDisabledImage(), p + L"_down.png");
        ::DestroyWindow(host);
    }
}

TEST_F(MainWindow, CapacityTexts) {
    const std::pair<std::uint64_t, const wchar_t*> cases[] = {{1953525168, L"931.51 GB"},
                                                              {1000215216, L"476.94 GB"}};
    for (const auto& c : cases) {
        apptest::AppTestMachine each;
        each.AddVx310(sim::SimNvmePath::Inbox, 2, c.first);
        TestMainWnd main(each.Machine(), each.shutdown);
        HWND host = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 700, 490, nullptr, nullptr,
                                      ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_EQ(main.Subclass(host), host);
        main.AttachToHost(nullptr);
        EXPECT_EQ(main.Text(L"LabelCapVal"), c.second);
        ::DestroyWindow(host);
    }
}

TEST_F(MainWindow, NoDriveLeavesTheLayoutsButtonDisabled) {
    machine.pc.AddForeignNvmeDrive(machine.pc.AddAdapter(sim::AdapterNvme), "Other Maker SSD");
    Open();
    ExpectNoDrive(L"On", L"on_normal.png");
    EXPECT_EQ(window.Option()->GetDisabledImage(), L"on_down.png");
}

TEST_F(MainWindow, DriveThatGoesKeepsTheButtonsTextAndImagesAndComesBack) {
    const sim::SimDisk& disk = machine.AddVx310(sim::SimNvmePath::Bridge, 0);
    Open();
    EXPECT_EQ(window.Text(L"LabelDevice"), L"Tavik VX310 Series SSD");
    machine.Unplug(disk);
    window.RefreshDrives();
    ExpectNoDrive(L"Off", L"off_normal.png");
    EXPECT_EQ(window.Drives()[0], nullptr);
    machine.Plug(disk);
    window.RefreshDrives();
    EXPECT_EQ(window.Text(L"LabelStatusVal"), L"Has been optimized");
    EXPECT_TRUE(window.Option()->IsEnabled());
    EXPECT_EQ(machine.counting.passes, 3);
}

// The switch's confirmation box, closed from outside (no answer) once it shows, after
// what the test does while it is open.
std::function<void()> whileAsked;

BOOL CALLBACK CloseBox(HWND window, LPARAM) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (std::wstring(name) != L"BaseDuilibWnd" || !::IsWindowVisible(window)) return TRUE;
    if (auto action = std::exchange(whileAsked, nullptr)) action();
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    return FALSE;
}

void CALLBACK CloseShownBox(HWND, UINT, UINT_PTR, DWORD) {
    ::EnumThreadWindows(::GetCurrentThreadId(), CloseBox, 0);
}

// A click on the switch, with its box closed unanswered; returns once the switch has ended.
void ClickSwitchAndClose(TestMainWnd& window, std::function<void()> action) {
    DuiLib::TNotifyUI click;
    click.sType = L"click";
    click.pSender = window.Option();
    whileAsked = std::move(action);
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, CloseShownBox);
    window.Notify(click);
    ::KillTimer(nullptr, timer);
    whileAsked = nullptr;
}

TEST_F(MainWindow, RefreshWhileSwitchingWaitsForTheSwitchsEnd) {
    const sim::SimDisk& disk = machine.AddVx310(sim::SimNvmePath::Inbox, 2);
    Open();
    const discovery::DiskInfo* shown = window.Drives()[0].get();
    ASSERT_NE(shown, nullptr);
    bool kept = false;
    std::wstring headingWhileAsked;
    ClickSwitchAndClose(window, [&] {
        machine.Unplug(disk);
        window.RefreshDrives();
        window.RefreshDrives();
        kept = window.Drives()[0].get() == shown;  // the record the switch uses stays
        headingWhileAsked = window.Text(L"LabelDevice");
    });
    EXPECT_TRUE(kept);
    EXPECT_EQ(headingWhileAsked, L"Tavik VX310 Series SSD");
    // Once the switch has ended, one pass for both changes.
    EXPECT_EQ(machine.counting.passes, 2);
    EXPECT_EQ(window.Drives()[0], nullptr);
    EXPECT_EQ(window.Text(L"LabelDevice"), L"No device detected");
    EXPECT_FALSE(window.IsSwitching());
}

TEST_F(MainWindow, ClickOnAnotherControlLeavesSwitchingAlone) {
    machine.AddVx310(sim::SimNvmePath::Inbox, 2);
    Open();
    DuiLib::TNotifyUI click;
    click.sType = L"click";
    click.pSender = window.paintManager.FindControl(L"LabelDevice");
    window.Notify(click);
    EXPECT_FALSE(window.IsSwitching());
    bool switchingWhileAsked = false;
    ClickSwitchAndClose(window, [&] { switchingWhileAsked = window.IsSwitching(); });  // asks, no answer, ends
    EXPECT_TRUE(switchingWhileAsked);
    EXPECT_FALSE(window.IsSwitching());
    EXPECT_TRUE(machine.shutdown.Calls().empty());
    EXPECT_EQ(machine.counting.passes, 1);
}

// What assistive technology is told about the panel, through the system's events.
std::vector<std::pair<DWORD, LONG>> announced;
HWND announcer = nullptr;

void CALLBACK RecordAnnouncement(HWINEVENTHOOK, DWORD event, HWND window, LONG, LONG child, DWORD, DWORD) {
    if (window == announcer) announced.emplace_back(event, child);
}

void PumpBriefly() {
    for (int i = 0; i < 10; ++i) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        ::Sleep(10);
    }
}

TEST_F(MainWindow, ARefreshThatChangesNothingAnnouncesNothing) {
    const sim::SimDisk& disk = machine.AddVx310(sim::SimNvmePath::Inbox, 2);
    Open();
    ::ShowWindow(plain, SW_SHOWNA);
    announcer = plain;
    announced.clear();
    const HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr,
                                                 RecordAnnouncement, ::GetCurrentProcessId(), 0,
                                                 WINEVENT_OUTOFCONTEXT);
    ASSERT_TRUE(hook);
    PumpBriefly();
    announced.clear();
    window.RefreshDrives();  // the same drive in the same state
    PumpBriefly();
    EXPECT_TRUE(announced.empty()) << announced.size() << " events for a refresh that changed nothing";

    // The drive goes: the heading, the three values and the switch, each once.
    machine.Unplug(disk);
    window.RefreshDrives();
    PumpBriefly();
    const auto count = [](DWORD event, const wchar_t* name, TestMainWnd& w) {
        const LONG id = w.paintManager.AccessibleChildId(w.paintManager.FindControl(name));
        return std::count(announced.begin(), announced.end(), std::make_pair(event, id));
    };
    EXPECT_EQ(count(EVENT_OBJECT_NAMECHANGE, L"LabelDevice", window), 1);
    EXPECT_EQ(count(EVENT_OBJECT_NAMECHANGE, L"LabelMnVal", window), 1);
    EXPECT_EQ(count(EVENT_OBJECT_NAMECHANGE, L"LabelStatusVal", window), 1);
    EXPECT_EQ(count(EVENT_OBJECT_STATECHANGE, L"btnOption", window), 1);
    EXPECT_EQ(count(EVENT_OBJECT_NAMECHANGE, L"LabelMN", window), 0) << "the captions stay";
    // The health line has no caption and no value without a drive.
    EXPECT_EQ(count(EVENT_OBJECT_NAMECHANGE, L"LabelHealth", window), 1);
    EXPECT_EQ(count(EVENT_OBJECT_NAMECHANGE, L"LabelHealthVal", window), 1);
    EXPECT_EQ(announced.size(), 7u) << "capacity too, nothing else";
    ::UnhookWinEvent(hook);
    announcer = nullptr;
}

TEST_F(MainWindow, RefreshBeforeTheLayoutFindsNoControls) {
    machine.AddVx310(sim::SimNvmePath::Inbox, 2);
    window.RefreshDrives();  // as an early notification would, before AttachToHost
    EXPECT_NE(window.Drives()[0], nullptr);
    Open();
    EXPECT_EQ(window.Text(L"LabelStatusVal"), L"Optimizable");
    EXPECT_EQ(machine.counting.passes, 2);
}

}  // namespace
