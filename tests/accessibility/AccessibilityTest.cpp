// zephra-demo.exe on a simulated VX310 (optimizable), read from another process as a
// screen reader reads it: the main window and the confirmation through
// AccessibleObjectFromWindow (names, roles, states and screen locations of every child,
// checked against the layouts), focus and dialog events through SetWinEventHook, the
// switch pressed and the confirmation answered through their default actions, and the
// program closed through its Close button. oleacc is loaded at run time, as the program
// loads it: the build's programs import only known DLLs.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>
#include <uiautomation.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "duilib/core/DialogBuilder.h"
#include "duilib/core/PaintManagerCore.h"

#define ZEPHRA_WIDEN2(x) L##x
#define ZEPHRA_WIDEN(x) ZEPHRA_WIDEN2(x)
#define ZEPHRA_DEMO_EXE_W ZEPHRA_WIDEN(ZEPHRA_DEMO_EXE)

namespace {

template <typename T>
class Ptr {
public:
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    Ptr& operator=(const Ptr&) = delete;
    ~Ptr() { Reset(); }
    void Reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    T** Out() {
        Reset();
        return &p_;
    }
    void** OutVoid() { return reinterpret_cast<void**>(Out()); }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

struct Oleacc {
    using FromWindowFn = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    HMODULE module = ::LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    FromWindowFn fromWindow = module ? reinterpret_cast<FromWindowFn>(reinterpret_cast<void (*)()>(
                                           ::GetProcAddress(module, "AccessibleObjectFromWindow")))
                                     : nullptr;
};

std::wstring Take(BSTR text) {
    std::wstring out = text ? std::wstring(text, ::SysStringLen(text)) : std::wstring();
    if (text) ::SysFreeString(text);
    return out;
}

VARIANT Child(long id) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

struct Node {
    std::wstring name, description, action;
    long role = 0;
    long state = 0;
    RECT where{};
};

Node Read(IAccessible* object, long id) {
    Node n;
    BSTR text = nullptr;
    object->get_accName(Child(id), &text);
    n.name = Take(text);
    text = nullptr;
    object->get_accDescription(Child(id), &text);
    n.description = Take(text);
    text = nullptr;
    object->get_accDefaultAction(Child(id), &text);
    n.action = Take(text);
    VARIANT v;
    ::VariantInit(&v);
    if (SUCCEEDED(object->get_accRole(Child(id), &v)) && v.vt == VT_I4) n.role = v.lVal;
    ::VariantInit(&v);
    if (SUCCEEDED(object->get_accState(Child(id), &v)) && v.vt == VT_I4) n.state = v.lVal;
    long x = 0, y = 0, w = 0, h = 0;
    if (SUCCEEDED(object->accLocation(&x, &y, &w, &h, Child(id)))) n.where = {x, y, x + w, y + h};
    return n;
}

std::vector<Node> Children(IAccessible* object) {
    long count = 0;
    object->get_accChildCount(&count);
    std::vector<Node> out;
    for (long id = 1; id <= count; ++id) out.push_back(Read(object, id));
    return out;
}

long FocusedChild(IAccessible* object) {
    VARIANT v;
    ::VariantInit(&v);
    return SUCCEEDED(object->get_accFocus(&v)) && v.vt == VT_I4 ? v.lVal : -1;
}

// ---- events ----

struct Event {
    DWORD event;
    HWND window;
    LONG object;
    LONG child;
};
std::vector<Event> events;  // the hook's callback has no context of its own

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD) {
    events.push_back({event, window, object, child});
}

// Runs this thread's messages (the events come through them) until done() or the timeout.
bool PumpUntil(const std::function<bool()>& done, int milliseconds = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
    return true;
}

bool HasEvent(DWORD event, HWND window, LONG child) {
    for (const Event& e : events) {
        if (e.event == event && e.window == window && (child < 0 || e.child == child)) return true;
    }
    return false;
}

// ---- the demo ----

struct Found {
    DWORD process;
    const wchar_t* className;
    HWND window;
};

BOOL CALLBACK FindWindowOf(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<Found*>(param);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (process == found->process && ::IsWindowVisible(window) && std::wstring(name) == found->className) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

HWND WindowOf(DWORD process, const wchar_t* className) {
    Found found{process, className, nullptr};
    ::EnumWindows(FindWindowOf, reinterpret_cast<LPARAM>(&found));
    return found.window;
}

std::vector<std::string> DriveCalls(const std::wstring& trace, std::size_t from) {
    std::ifstream in(trace);
    std::vector<std::string> calls;
    std::string line;
    for (std::size_t i = 0; std::getline(in, line); ++i) {
        const bool device = line.find(" ui CreateFileW(") != std::string::npos ||
                            line.find(" ui DeviceIoControl(") != std::string::npos ||
                            line.find(" ui ReadFile(") != std::string::npos;
        if (i >= from && device) calls.push_back(line);
    }
    return calls;
}

std::size_t LineCount(const std::wstring& trace) {
    std::ifstream in(trace);
    return static_cast<std::size_t>(std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

// The main layout's controls at their places in a 700 by 490 client area.
struct LayoutPlaces : DuiLib::CPaintManagerCore {
    LayoutPlaces() {
        std::ifstream in(std::string(ZEPHRA_SKIN_DIR) + "/mainSkin.xml", std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        DuiLib::CDialogBuilder builder;
        AttachDialog(builder.CreateFromText(text, nullptr, this));
        SetClientRect({0, 0, 700, 490});
        EnsureLayout();
    }
    RECT On(const wchar_t* name, POINT origin) const {
        const DuiLib::UiRect r = FindControl(name)->GetPos();
        return {origin.x + r.left, origin.y + r.top, origin.x + r.right, origin.y + r.bottom};
    }
};

bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Show(const RECT& r) {
    char text[64];
    std::snprintf(text, sizeof text, "(%ld,%ld)-(%ld,%ld)", r.left, r.top, r.right, r.bottom);
    return text;
}

bool Inside(const RECT& inner, const RECT& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom && inner.right > inner.left && inner.bottom > inner.top;
}

class Demo {
public:
    explicit Demo(const std::wstring& trace) {
        std::wstring command = L"\"" ZEPHRA_DEMO_EXE_W L"\" --drive inbox --state 2 --trace \"" + trace + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        started_ = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                    &info_) != FALSE;
    }
    ~Demo() {
        if (!started_) return;
        if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(info_.hProcess, 99);
        ::CloseHandle(info_.hThread);
        ::CloseHandle(info_.hProcess);
    }
    bool Started() const { return started_; }
    DWORD Id() const { return info_.dwProcessId; }
    bool Running() const { return ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }
    // The exit code once it ended within the time, or -1.
    long EndsWithin(DWORD milliseconds) const {
        if (!PumpUntil([&] { return !Running(); }, static_cast<int>(milliseconds))) return -1;
        DWORD code = 0;
        ::GetExitCodeProcess(info_.hProcess, &code);
        return static_cast<long>(code);
    }

private:
    bool started_ = false;
    PROCESS_INFORMATION info_{};
};

const wchar_t kConfirmation[] = L"Computer will shut down after this process. \nAre you ready to proceed?";

TEST(Accessibility, DemoWindowsReadAndOperatedFromAnotherProcess) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const Oleacc oleacc;
    ASSERT_TRUE(oleacc.fromWindow) << "no oleacc.dll in the system folder";

    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    const std::wstring trace = std::wstring(folder) + L"zephra-accessibility-trace.txt";
    ::DeleteFileW(trace.c_str());
    Demo demo(trace);
    ASSERT_TRUE(demo.Started());

    HWND main = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (main = WindowOf(demo.Id(), L"#32770")) != nullptr; }, 60000));
    const HWINEVENTHOOK focusHook = ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, OnEvent,
                                                      demo.Id(), 0, WINEVENT_OUTOFCONTEXT);
    const HWINEVENTHOOK dialogHook = ::SetWinEventHook(EVENT_SYSTEM_DIALOGSTART, EVENT_SYSTEM_DIALOGSTART, nullptr,
                                                       OnEvent, demo.Id(), 0, WINEVENT_OUTOFCONTEXT);
    EXPECT_TRUE(focusHook && dialogHook);
    ::Sleep(500);  // the panel is filled before the window shows; let it paint

    // ---- the main window ----
    Ptr<IAccessible> window;
    ASSERT_EQ(oleacc.fromWindow(main, OBJID_CLIENT, IID_IAccessible, window.OutVoid()), S_OK);
    const Node self = Read(window.Get(), CHILDID_SELF);
    EXPECT_EQ(self.name, L"Zephra");
    EXPECT_EQ(self.role, ROLE_SYSTEM_DIALOG);

    POINT origin{0, 0};
    ::ClientToScreen(main, &origin);
    const LayoutPlaces layout;
    const struct {
        const wchar_t* control;
        long role;
        std::wstring name;  // a value ending in "..." is a beginning
        long state;
    } expected[] = {
        {L"btnMin", ROLE_SYSTEM_PUSHBUTTON, L"Minimize", STATE_SYSTEM_FOCUSABLE},
        {L"btnClose", ROLE_SYSTEM_PUSHBUTTON, L"Close", STATE_SYSTEM_FOCUSABLE},
        {L"LabelDevice", ROLE_SYSTEM_STATICTEXT, L"Tavik VX310 Series SSD", STATE_SYSTEM_READONLY},
        {L"LabelMN", ROLE_SYSTEM_STATICTEXT, L"Model No.:", STATE_SYSTEM_READONLY},
        {L"LabelCap", ROLE_SYSTEM_STATICTEXT, L"Capacity:", STATE_SYSTEM_READONLY},
        {L"LabelStatus", ROLE_SYSTEM_STATICTEXT, L"Status:", STATE_SYSTEM_READONLY},
        {L"LabelMnVal", ROLE_SYSTEM_STATICTEXT, L"Tavik VX310...", STATE_SYSTEM_READONLY},
        {L"LabelCapVal", ROLE_SYSTEM_STATICTEXT, L"476.94 GB", STATE_SYSTEM_READONLY},
        {L"LabelStatusVal", ROLE_SYSTEM_STATICTEXT, L"Optimizable", STATE_SYSTEM_READONLY},
        {L"TextNotice", ROLE_SYSTEM_STATICTEXT, L"Optimizing the VX310...", STATE_SYSTEM_READONLY},
        {L"btnOption", ROLE_SYSTEM_PUSHBUTTON, L"On", STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED},
    };
    const std::vector<Node> children = Children(window.Get());
    ASSERT_EQ(children.size(), std::size(expected));
    for (std::size_t i = 0; i < children.size(); ++i) {
        const Node& n = children[i];
        const auto& e = expected[i];
        SCOPED_TRACE(testing::Message() << "child " << i + 1);
        const bool prefix = e.name.size() > 3 && e.name.compare(e.name.size() - 3, 3, L"...") == 0;
        if (prefix) {
            EXPECT_EQ(n.name.compare(0, e.name.size() - 3, e.name, 0, e.name.size() - 3), 0);
        } else {
            EXPECT_EQ(n.name, e.name);
        }
        EXPECT_EQ(n.role, e.role);
        EXPECT_EQ(n.state, e.state);
        const RECT place = layout.On(e.control, origin);
        EXPECT_TRUE(Same(n.where, place)) << Show(n.where) << " not " << Show(place);
        EXPECT_EQ(n.action, e.role == ROLE_SYSTEM_PUSHBUTTON ? L"Press" : L"");
    }
    EXPECT_FALSE(children[10].description.empty());  // the switch says what it does
    EXPECT_EQ(FocusedChild(window.Get()), 11);

    // ---- focus moves with Tab, and the events say so ----
    ::PostMessageW(main, WM_KEYDOWN, VK_TAB, 0x000F0001);
    ::PostMessageW(main, WM_KEYUP, VK_TAB, 0xC00F0001);
    EXPECT_TRUE(PumpUntil([&] { return HasEvent(EVENT_OBJECT_FOCUS, main, 1); }, 5000))
        << "no focus event for the minimise button";
    EXPECT_EQ(FocusedChild(window.Get()), 1);
    EXPECT_EQ(Read(window.Get(), 1).state, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED);
    EXPECT_EQ(Read(window.Get(), 11).state, STATE_SYSTEM_FOCUSABLE);
    for (int i = 0; i < 2; ++i) {
        ::PostMessageW(main, WM_KEYDOWN, VK_TAB, 0x000F0001);
        ::PostMessageW(main, WM_KEYUP, VK_TAB, 0xC00F0001);
    }
    EXPECT_TRUE(PumpUntil([&] { return HasEvent(EVENT_OBJECT_FOCUS, main, 11); }, 5000));
    EXPECT_EQ(FocusedChild(window.Get()), 11);

    // ---- the switch's default action opens the confirmation ----
    PumpUntil([] { return false; }, 300);  // the trace is written as calls return
    const std::size_t mark = LineCount(trace);
    events.clear();
    EXPECT_EQ(window->accDoDefaultAction(Child(11)), S_OK);
    HWND box = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (box = WindowOf(demo.Id(), L"BaseDuilibWnd")) != nullptr; }, 10000))
        << "no confirmation";
    EXPECT_TRUE(PumpUntil([&] { return HasEvent(EVENT_SYSTEM_DIALOGSTART, box, -1); }, 5000))
        << "no dialog-start event for the box";
    EXPECT_TRUE(PumpUntil([&] { return HasEvent(EVENT_OBJECT_FOCUS, box, 5); }, 5000))
        << "no focus event for No";
    ::Sleep(300);

    Ptr<IAccessible> question;
    ASSERT_EQ(oleacc.fromWindow(box, OBJID_CLIENT, IID_IAccessible, question.OutVoid()), S_OK);
    const Node boxSelf = Read(question.Get(), CHILDID_SELF);
    EXPECT_EQ(boxSelf.name, kConfirmation);  // no title: named by its question
    EXPECT_EQ(boxSelf.role, ROLE_SYSTEM_DIALOG);
    RECT client{};
    ::GetClientRect(box, &client);
    POINT boxOrigin{0, 0};
    ::ClientToScreen(box, &boxOrigin);
    ::OffsetRect(&client, boxOrigin.x, boxOrigin.y);
    const std::vector<Node> parts = Children(question.Get());
    ASSERT_EQ(parts.size(), 5u);  // title, icon, message, Yes, No
    EXPECT_EQ(parts[0].state & STATE_SYSTEM_INVISIBLE, STATE_SYSTEM_INVISIBLE);  // the empty title
    EXPECT_EQ(parts[1].role, ROLE_SYSTEM_GRAPHIC);
    EXPECT_EQ(parts[1].name, L"Warning");
    EXPECT_EQ(parts[1].where.right - parts[1].where.left, 41);
    EXPECT_EQ(parts[1].where.bottom - parts[1].where.top, 33);
    EXPECT_EQ(parts[2].role, ROLE_SYSTEM_STATICTEXT);
    EXPECT_EQ(parts[2].name, kConfirmation);
    EXPECT_EQ(parts[3].name, L"Yes");
    EXPECT_EQ(parts[4].name, L"No");
    for (std::size_t i = 1; i < parts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(Inside(parts[i].where, client)) << Show(parts[i].where) << " outside " << Show(client);
    }
    for (std::size_t i : {3u, 4u}) {
        EXPECT_EQ(parts[i].role, ROLE_SYSTEM_PUSHBUTTON);
        EXPECT_EQ(parts[i].action, L"Press");
        EXPECT_EQ(parts[i].where.right - parts[i].where.left, 80);
        EXPECT_EQ(parts[i].where.bottom - parts[i].where.top, 28);
    }
    EXPECT_LT(parts[3].where.right, parts[4].where.left);  // Yes, then No
    EXPECT_EQ(parts[3].state, STATE_SYSTEM_FOCUSABLE);
    EXPECT_EQ(parts[4].state, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED);  // the safe answer
    EXPECT_EQ(FocusedChild(question.Get()), 5);
    // The main window waits behind the box.
    EXPECT_EQ(Read(window.Get(), CHILDID_SELF).state & STATE_SYSTEM_UNAVAILABLE, STATE_SYSTEM_UNAVAILABLE);

    // ---- No, by its default action: the drive is not touched ----
    EXPECT_EQ(question->accDoDefaultAction(Child(5)), S_OK);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(box); }, 10000)) << "the box stays";
    // Gone with its window: a client still holding it is told so, and nothing crashes.
    long count = 0;
    EXPECT_NE(question->get_accChildCount(&count), S_OK);
    PumpUntil([] { return false; }, 500);
    EXPECT_TRUE(demo.Running());
    EXPECT_EQ(DriveCalls(trace, mark), std::vector<std::string>{});

    // ---- Close, by its default action, ends the program ----
    EXPECT_EQ(window->accDoDefaultAction(Child(2)), S_OK);
    EXPECT_EQ(demo.EndsWithin(15000), 0);

    if (focusHook) ::UnhookWinEvent(focusHook);
    if (dialogHook) ::UnhookWinEvent(dialogHook);
    window.Reset();
    question.Reset();
    ::CoUninitialize();
}

}  // namespace
