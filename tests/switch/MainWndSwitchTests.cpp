// The switch button of the real main window under Wine, on the simulated machine: the
// confirmation box, presses and device changes while it is open, and the error box of an
// exchanged drive.
#include <gtest/gtest.h>

#include <oleacc.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../msgbox/ExpectedBox.h"
#include "app/MainWnd.h"
#include "sim/SimComputer.h"
#include "sim/SimDrives.h"
#include "sim/SimShutdown.h"

using DuiLib::CPaintManagerUI;
using expectedbox::ClickAt;
using expectedbox::Expected;

namespace {

const std::wstring kConfirmation = L"Computer will shut down after this process. \nAre you ready to proceed?";

class SwitchWindow : public CMainWnd {
public:
    using CMainWnd::CMainWnd;
    using CMainWnd::drives;
    using CMainWnd::paintManager;

    std::wstring TextOf(const wchar_t* name) const {
        const DuiLib::CControlUI* control = paintManager.FindControl(name);
        return control ? control->GetText() : L"<missing>";
    }
    // The switch's click as the paint manager sends it, whatever the window's state.
    void PressSwitch() { paintManager.NotifyClick(paintManager.FindControl(L"btnOption"), {}); }
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (std::wstring(name) == L"BaseDuilibWnd" && ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

HWND ShownBox() {
    HWND box = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(&box));
    return box;
}

// One step for each box that comes up, in order, run from a timer inside the box's loop.
struct BoxScript {
    std::vector<std::function<void(HWND)>> steps;
    std::size_t next = 0;
    HWND last = nullptr;
    std::vector<SIZE> sizes;  // of each box handled
    int unexpected = 0;       // boxes beyond the steps, answered No

    bool Done() const { return next == steps.size(); }
};

BoxScript*& Script() {
    static BoxScript* script = nullptr;
    return script;
}

void CALLBACK Poll(HWND, UINT, UINT_PTR, DWORD) {
    BoxScript* script = Script();
    if (!script) return;
    const HWND box = ShownBox();
    if (!box || (box == script->last && ::IsWindow(script->last))) return;
    if (script->Done()) {
        // A box that should not come (a second confirmation, opened inside a step): No.
        if (box == script->last) return;
        script->last = box;
        ++script->unexpected;
        ClickAt(box, *Expected(MessageBoxTypeYesNo, kConfirmation).second);
        return;
    }
    script->last = box;
    RECT rect{};
    ::GetWindowRect(box, &rect);
    script->sizes.push_back({rect.right - rect.left, rect.bottom - rect.top});
    script->steps[script->next++](box);
}

// This thread's messages for a while, as the box's loop would run them.
void PumpFor(DWORD milliseconds) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < milliseconds) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(10);
    }
}

// The window's accessible object, in process. oleacc at run time, as the library loads it.
IAccessible* AccessibleOf(HWND window) {
    using FromWindowFn = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    const HMODULE module = ::LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const auto fromWindow = module ? reinterpret_cast<FromWindowFn>(reinterpret_cast<void (*)()>(
                                         ::GetProcAddress(module, "AccessibleObjectFromWindow")))
                                   : nullptr;
    IAccessible* object = nullptr;
    if (!fromWindow || FAILED(fromWindow(window, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                         reinterpret_cast<void**>(&object)))) {
        return nullptr;
    }
    return object;
}

class MainWindowSwitch : public ::testing::Test {
protected:
    void SetUp() override {
        CPaintManagerUI::CloseZip();
        const std::size_t nvme = computer.AddAdapter(sim::AdapterNvme);
        computer.AddForeignNvmeDrive(nvme, "Other Maker SSD 1TB");
        sim::SimDisk& vx310 = computer.AddVx310(nvme, sim::SimNvmePath::Inbox);
        computer.AddVolume(vx310.number, {L"D:\\"}, 400 * sim::GiB, 100 * sim::GiB);
        drive = &vx310;
        controller = vx310.controller;
        host = ::CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 100, 80, 700, 490, nullptr, nullptr,
                                 ::GetModuleHandleW(nullptr), nullptr);
        ASSERT_TRUE(host);
        window = std::make_unique<SwitchWindow>(computer.System(), shutdown);
        ASSERT_EQ(window->Subclass(host), host);
        window->AttachToHost(nullptr);
        ASSERT_TRUE(window->drives[0]) << "the pass found the VX310";
        ASSERT_EQ(window->TextOf(L"LabelStatusVal"), L"Optimizable");
        controller->ClearHistory();
        computer.Machine().ClearTrace();
    }
    void TearDown() override {
        Script() = nullptr;
        window.reset();
        if (::IsWindow(host)) ::DestroyWindow(host);
        CPaintManagerUI::CloseZip();
    }

    // Clicks the switch and runs the script over the boxes that follow; false on a timeout.
    bool ClickSwitch(BoxScript& script) {
        window->paintManager.EnsureLayout();
        const DuiLib::CControlUI* button = window->paintManager.FindControl(L"btnOption");
        if (!button || !button->IsEnabled()) return false;
        Script() = &script;
        const UINT_PTR timer = ::SetTimer(nullptr, 0, 30, Poll);
        ClickAt(host, button->GetPos());
        const DWORD start = ::GetTickCount();
        bool finished = false;
        while (::GetTickCount() - start < 10000) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            if (script.Done() && !ShownBox() && !window->IsSwitching()) {
                finished = true;
                break;
            }
            ::Sleep(10);
        }
        // Room for a box that should not come.
        for (int i = 0; i < 20 && finished; ++i) {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageW(&msg);
            }
            if (ShownBox()) finished = false;
            ::Sleep(10);
        }
        ::KillTimer(nullptr, timer);
        Script() = nullptr;
        if (!finished) {
            ADD_FAILURE() << "boxes handled " << script.next << " of " << script.steps.size() << ", box shown "
                          << (ShownBox() != nullptr) << ", switching " << window->IsSwitching();
        }
        return finished;
    }

    sim::SimComputer computer;
    sim::SimShutdown shutdown;
    const sim::SimDisk* drive = nullptr;
    std::shared_ptr<sim::SimNvmeController> controller;
    HWND host = nullptr;
    std::unique_ptr<SwitchWindow> window;
};

TEST_F(MainWindowSwitch, NoWithADeviceChangeWhileTheBoxIsOpenRefreshesOnlyAfterIt) {
    const discovery::DiskInfo* shown = window->drives[0].get();
    bool switchingDuringBox = false;
    bool ownerDisabled = false;
    bool keptDuringBox = false;
    bool untouchedDuringBox = false;
    BoxScript script;
    const MessageBoxGeometry box = Expected(MessageBoxTypeYesNo, kConfirmation);
    script.steps.push_back([&](HWND confirmation) {
        switchingDuringBox = window->IsSwitching();
        ownerDisabled = !::IsWindowEnabled(host);
        window->RefreshDrives();  // what a disk arrival or removal does
        keptDuringBox = window->drives[0].get() == shown;
        untouchedDuringBox = computer.Machine().Trace().empty();
        ClickAt(confirmation, *box.second);
    });
    ASSERT_TRUE(ClickSwitch(script));
    EXPECT_TRUE(switchingDuringBox);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(keptDuringBox) << "the drive table was not rebuilt under the box";
    EXPECT_TRUE(untouchedDuringBox) << "no device access while the box is open";
    ASSERT_EQ(script.sizes.size(), 1u);
    EXPECT_EQ(script.sizes[0].cx, box.width) << "the confirmation box";
    EXPECT_EQ(script.sizes[0].cy, box.height);

    // The device change is followed once the box is answered: a new pass, nothing switched.
    EXPECT_FALSE(computer.Machine().Trace().empty()) << "the waiting refresh ran";
    EXPECT_EQ(window->TextOf(L"LabelDevice"), L"Tavik VX310 Series SSD");
    EXPECT_EQ(window->TextOf(L"LabelStatusVal"), L"Optimizable");
    EXPECT_EQ(window->TextOf(L"btnOption"), L"On");
    for (const auto& command : controller->History()) EXPECT_NE(command.command[0], sim::NvmeVendorWrite);
    EXPECT_TRUE(shutdown.Calls().empty());
    EXPECT_FALSE(window->IsSwitching());
}

TEST_F(MainWindowSwitch, TheSwitchsDefaultActionWhileItsBoxIsOpenOpensNoSecondBox) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    HRESULT pressed = S_OK;
    BoxScript script;
    const MessageBoxGeometry box = Expected(MessageBoxTypeYesNo, kConfirmation);
    script.steps.push_back([&](HWND confirmation) {
        // A screen reader's "press" on the switch behind its own box.
        if (IAccessible* object = AccessibleOf(host)) {
            VARIANT child;
            ::VariantInit(&child);
            child.vt = VT_I4;
            child.lVal = window->paintManager.AccessibleChildId(window->paintManager.FindControl(L"btnOption"));
            pressed = object->accDoDefaultAction(child);
            object->Release();
        }
        PumpFor(300);  // room for a press that was posted
        ClickAt(confirmation, *box.second);
    });
    ASSERT_TRUE(ClickSwitch(script));
    EXPECT_TRUE(FAILED(pressed)) << "the switch's window is disabled: no press";
    EXPECT_EQ(script.unexpected, 0) << "a second confirmation was opened";
    EXPECT_EQ(script.sizes.size(), 1u);
    EXPECT_TRUE(shutdown.Calls().empty());
    ::CoUninitialize();
}

TEST_F(MainWindowSwitch, ASecondPressAndADeviceChangeUnderTheBoxLeaveTheRecordToTheSwitch) {
    // The switch pressed again while its box is open (by whatever route reaches it), a
    // disk arrival, then Yes: the switch runs on the record it started with, and the
    // panel follows the device change afterwards.
    const discovery::DiskInfo* shown = window->drives[0].get();
    bool keptDuringBox = false;
    BoxScript script;
    const MessageBoxGeometry box = Expected(MessageBoxTypeYesNo, kConfirmation);
    script.steps.push_back([&](HWND confirmation) {
        window->PressSwitch();
        window->RefreshDrives();
        keptDuringBox = window->drives[0].get() == shown;
        ClickAt(confirmation, *box.first);
    });
    ASSERT_TRUE(ClickSwitch(script)) << "no error box";
    EXPECT_EQ(script.unexpected, 0) << "the second press opened a second confirmation";
    EXPECT_TRUE(keptDuringBox) << "the drive table was rebuilt under the switch";
    EXPECT_EQ(controller->Firmware().OptimizeState(), devicecmd::OptimizeStateOptimized);
    int writes = 0;
    for (const auto& command : controller->History()) writes += command.command[0] == sim::NvmeVendorWrite;
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(shutdown.Requests().size(), 1u);
    // The arrival, followed once the switch has ended: the new pass reads the new state.
    EXPECT_EQ(window->TextOf(L"LabelStatusVal"), L"Has been optimized");
    EXPECT_FALSE(window->IsSwitching());
}

TEST_F(MainWindowSwitch, YesSwitchesAndRequestsTheShutdownWithoutAnotherBox) {
    BoxScript script;
    const MessageBoxGeometry box = Expected(MessageBoxTypeYesNo, kConfirmation);
    script.steps.push_back([&](HWND confirmation) { ClickAt(confirmation, *box.first); });
    ASSERT_TRUE(ClickSwitch(script)) << "no error box";
    EXPECT_EQ(controller->Firmware().OptimizeState(), devicecmd::OptimizeStateOptimized);
    ASSERT_EQ(controller->History().size(), 2u);
    EXPECT_EQ(controller->History()[0].command[0], sim::NvmeIdentify);
    EXPECT_EQ(controller->History()[1].command[0], sim::NvmeVendorWrite);
    ASSERT_EQ(shutdown.Requests().size(), 1u);
    EXPECT_EQ(shutdown.Requests()[0].flags, 5u);
    // Until the system ends the program, the panel shows what it showed.
    EXPECT_EQ(window->TextOf(L"LabelStatusVal"), L"Optimizable");
}

TEST_F(MainWindowSwitch, AnExchangedDriveGetsAnErrorBoxAndThePanelIsRefreshedAfterIt) {
    std::shared_ptr<sim::SimNvmeController> newcomer;
    std::wstring headingDuringError;
    BoxScript script;
    const MessageBoxGeometry confirmation = Expected(MessageBoxTypeYesNo, kConfirmation);
    const std::wstring errorText = L"Open Device error, error code 1167";
    const MessageBoxGeometry error = Expected(MessageBoxTypeOk, errorText);
    script.steps.push_back([&](HWND box) {
        // Another maker's drive where the VX310 was: same disk number, same path.
        sim::SimNvmeController::Config other;
        other.identity.model = "Other Maker NV2 1TB";
        other.identity.serial = "OM0000000000000042";
        newcomer = sim::AttachInboxDrive(computer.Machine(), drive->number, other).device;
        window->RefreshDrives();  // the arrival, dropped while the switch runs
        ClickAt(box, *confirmation.first);
    });
    std::vector<std::uint8_t> reachedBeforeRefresh;
    script.steps.push_back([&](HWND box) {
        headingDuringError = window->TextOf(L"LabelDevice");
        for (const auto& command : newcomer->History())
            reachedBeforeRefresh.push_back(static_cast<std::uint8_t>(command.command[0]));
        ClickAt(box, *error.first);
    });
    ASSERT_TRUE(ClickSwitch(script));
    ASSERT_EQ(script.sizes.size(), 2u);
    EXPECT_EQ(script.sizes[1].cx, error.width) << "the error box sized for \"Open Device error, error code 1167\"";
    EXPECT_EQ(script.sizes[1].cy, error.height);
    EXPECT_EQ(headingDuringError, L"Tavik VX310 Series SSD") << "refreshed only once the box is closed";

    ASSERT_TRUE(newcomer);
    EXPECT_EQ(reachedBeforeRefresh, (std::vector<std::uint8_t>{sim::NvmeIdentify})) << "identify and nothing else";
    for (const auto& command : newcomer->History())
        EXPECT_NE(command.command[0], sim::NvmeVendorWrite) << "not even from the pass that follows";
    EXPECT_TRUE(controller->History().empty());
    EXPECT_TRUE(shutdown.Calls().empty());
    // The new pass finds no VX310 any more.
    EXPECT_FALSE(window->drives[0]);
    EXPECT_EQ(window->TextOf(L"LabelDevice"), L"No device detected");
    EXPECT_EQ(computer.Machine().OpenHandleCount(), 0u);
}

}  // namespace
