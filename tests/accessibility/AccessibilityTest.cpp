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

struct Counted {
    DWORD process;
    const wchar_t* className;
    int count;
};

BOOL CALLBACK CountWindowOf(HWND window, LPARAM param) {
    auto* counted = reinterpret_cast<Counted*>(param);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (process == counted->process && ::IsWindowVisible(window) && std::wstring(name) == counted->className) {
        ++counted->count;
    }
    return TRUE;
}

int CountWindowsOf(DWORD process, const wchar_t* className) {
    Counted counted{process, className, 0};
    ::EnumWindows(CountWindowOf, reinterpret_cast<LPARAM>(&counted));
    return counted.count;
}

std::vector<std::string> DriveCalls(const std::string& trace, std::size_t from) {
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

std::size_t LineCount(const std::string& trace) {
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
    explicit Demo(const std::wstring& trace, const std::wstring& more = L"") {
        std::wstring command =
            L"\"" ZEPHRA_DEMO_EXE_W L"\" --drive inbox --state 2 --trace \"" + trace + L"\"" + more;
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

    char folder[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    const std::string trace = std::string(folder) + "zephra-accessibility-trace.txt";
    ::DeleteFileA(trace.c_str());
    Demo demo(std::wstring(trace.begin(), trace.end()));
    ASSERT_TRUE(demo.Started());

    HWND main = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (main = WindowOf(demo.Id(), L"#32770")) != nullptr; }, 60000));
    const HWINEVENTHOOK focusHook = ::SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, OnEvent,
                                                      demo.Id(), 0, WINEVENT_OUTOFCONTEXT);
    const HWINEVENTHOOK dialogHook = ::SetWinEventHook(EVENT_SYSTEM_DIALOGSTART, EVENT_SYSTEM_DIALOGEND, nullptr,
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
        {L"LabelHealth", ROLE_SYSTEM_STATICTEXT, L"Health:", STATE_SYSTEM_READONLY},
        {L"LabelHealthVal", ROLE_SYSTEM_STATICTEXT, L"Good \u00B7 38 \u00B0C \u00B7 3 % used", STATE_SYSTEM_READONLY},
    };
    const std::vector<Node> children = Children(window.Get());
    for (const Node& n : children) {
        std::printf("  role 0x%02lx state 0x%06lx %s \"%s\"\n", n.role, n.state, Show(n.where).c_str(),
                    std::string(n.name.begin(), n.name.begin() + std::min<std::size_t>(n.name.size(), 40)).c_str());
    }
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
        // The pointer is shared with the other window tests: a button under it is also hot.
        EXPECT_EQ(n.state & ~static_cast<long>(STATE_SYSTEM_HOTTRACKED), e.state);
        const RECT place = layout.On(e.control, origin);
        EXPECT_TRUE(Same(n.where, place)) << Show(n.where) << " not " << Show(place);
        EXPECT_EQ(n.action, e.role == ROLE_SYSTEM_PUSHBUTTON ? L"Press" : L"");
    }
    EXPECT_FALSE(children[10].description.empty());  // the switch says what it does
    // The health line's description carries the firmware revision.
    EXPECT_EQ(children[12].description.rfind(L"Firmware revision VX31A005", 0), 0u) << children[12].description.size();
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

    // ---- and with the arrows, which the dialog's loop leaves to the window ----
    const struct {
        UINT key;
        DWORD down, up;  // scan code, extended key
        long focus;
    } arrows[] = {{VK_UP, 0x01480001, 0xC1480001, 2}, {VK_DOWN, 0x01500001, 0xC1500001, 11}};
    for (const auto& arrow : arrows) {
        events.clear();
        ::PostMessageW(main, WM_KEYDOWN, arrow.key, arrow.down);
        ::PostMessageW(main, WM_KEYUP, arrow.key, arrow.up);
        EXPECT_TRUE(PumpUntil([&] { return HasEvent(EVENT_OBJECT_FOCUS, main, arrow.focus); }, 5000))
            << "no focus event for child " << arrow.focus;
        EXPECT_EQ(FocusedChild(window.Get()), arrow.focus);
    }

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
    // No title: named by its question, on one line.
    const std::wstring oneLine = L"Computer will shut down after this process. Are you ready to proceed?";
    EXPECT_EQ(boxSelf.name, oneLine);
    wchar_t boxName[256] = {};
    ::GetWindowTextW(box, boxName, 256);
    EXPECT_EQ(boxName, oneLine) << "the window's own name, as the system reports it";
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

    // ---- the switch behind its own box takes no press: one box, and no second ----
    EXPECT_TRUE(FAILED(window->accDoDefaultAction(Child(11))));
    PumpUntil([] { return false; }, 700);
    EXPECT_EQ(CountWindowsOf(demo.Id(), L"BaseDuilibWnd"), 1);
    EXPECT_TRUE(::IsWindow(box));

    // ---- No, by its default action: the drive is not touched ----
    EXPECT_EQ(question->accDoDefaultAction(Child(5)), S_OK);
    EXPECT_TRUE(PumpUntil([&] { return !::IsWindow(box); }, 10000)) << "the box stays";
    EXPECT_TRUE(PumpUntil([&] { return HasEvent(EVENT_SYSTEM_DIALOGEND, box, -1); }, 5000))
        << "no dialog-end event for the box";
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

// The drive goes while the window is read: the panel's new texts and the disabled switch
// are announced, and read back as they now are.
TEST(Accessibility, PanelChangesAreAnnounced) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        const Oleacc oleacc;
        ASSERT_TRUE(oleacc.fromWindow);
        Demo demo(L"nul", L" --unplug-after 6");
        ASSERT_TRUE(demo.Started());
        HWND main = nullptr;
        ASSERT_TRUE(PumpUntil([&] { return (main = WindowOf(demo.Id(), L"#32770")) != nullptr; }, 60000));
        events.clear();
        const HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr,
                                                     OnEvent, demo.Id(), 0, WINEVENT_OUTOFCONTEXT);
        ASSERT_TRUE(hook);
        Ptr<IAccessible> window;
        ASSERT_EQ(oleacc.fromWindow(main, OBJID_CLIENT, IID_IAccessible, window.OutVoid()), S_OK);
        EXPECT_EQ(Read(window.Get(), 3).name, L"Tavik VX310 Series SSD");
        // The heading (child 3) and the status value (child 9) get new texts; the switch
        // (child 11) is disabled.
        EXPECT_TRUE(PumpUntil([&] { return HasEvent(EVENT_OBJECT_NAMECHANGE, main, 3); }, 20000));
        EXPECT_TRUE(PumpUntil([&] { return HasEvent(EVENT_OBJECT_NAMECHANGE, main, 9); }, 5000));
        EXPECT_TRUE(PumpUntil([&] { return HasEvent(EVENT_OBJECT_STATECHANGE, main, 11); }, 5000));
        // The health line (child 13) goes with the drive, and says so.
        EXPECT_TRUE(PumpUntil([&] { return HasEvent(EVENT_OBJECT_NAMECHANGE, main, 13); }, 5000));
        EXPECT_EQ(Read(window.Get(), 13).name, L"");
        EXPECT_EQ(Read(window.Get(), 3).name, L"No device detected");
        EXPECT_EQ(Read(window.Get(), 9).name, L"");
        EXPECT_EQ(Read(window.Get(), 11).state, STATE_SYSTEM_UNAVAILABLE);
        EXPECT_EQ(Read(window.Get(), 11).action, L"");
        EXPECT_EQ(window->accDoDefaultAction(Child(11)), DISP_E_MEMBERNOTFOUND);
        ::UnhookWinEvent(hook);
        ::PostMessageW(main, WM_CLOSE, 0, 0);
        EXPECT_EQ(demo.EndsWithin(15000), 0);
    }
    ::CoUninitialize();
}

// UI Automation (what Narrator reads) gets no provider of its own from the program: it
// reads the same tree through its MSAA proxy. Its client functions, from the system
// folder at run time like oleacc.
// The client half of UI Automation's flat interface, declared here: the build's headers
// lack it. The numbers are the system's own.
namespace uia {
using Node = void*;
struct Condition {
    int type;  // 0: true
};
struct CacheRequest {
    Condition* view;
    int scope;  // 1: the element itself
    int* properties;
    int propertyCount;
    int* patterns;
    int patternCount;
    int mode;  // 1: full
};
constexpr int NameProperty = 30005;
constexpr int ControlTypeProperty = 30003;
constexpr long ButtonType = 50000;
constexpr long TextType = 50020;
constexpr int NextSibling = 1;
constexpr int FirstChild = 3;
using FromHandleFn = HRESULT(WINAPI*)(HWND, Node*);
using PropertyFn = HRESULT(WINAPI*)(Node, int, VARIANT*);
using NavigateFn = HRESULT(WINAPI*)(Node, int, Condition*, CacheRequest*, SAFEARRAY**, BSTR*);
using NodeFromVariantFn = HRESULT(WINAPI*)(VARIANT*, Node*);
using ReleaseFn = BOOL(WINAPI*)(Node);
using FromAccessibleFn = HRESULT(WINAPI*)(IAccessible*, long, DWORD, IUnknown**);
using NodeFromProviderFn = HRESULT(WINAPI*)(IUnknown*, Node*);
}  // namespace uia

const std::wstring kNotSupported = L"<not supported>";

struct Uia {
    HMODULE module = ::LoadLibraryExW(L"uiautomationcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    template <typename Fn>
    Fn Get(const char* name) const {
        return module ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name))) : nullptr;
    }
    uia::FromHandleFn fromHandle = Get<uia::FromHandleFn>("UiaNodeFromHandle");
    uia::PropertyFn property = Get<uia::PropertyFn>("UiaGetPropertyValue");
    uia::NavigateFn navigate = Get<uia::NavigateFn>("UiaNavigate");
    uia::NodeFromVariantFn nodeFromVariant = Get<uia::NodeFromVariantFn>("UiaHUiaNodeFromVariant");
    uia::ReleaseFn release = Get<uia::ReleaseFn>("UiaNodeRelease");
    uia::FromAccessibleFn fromAccessible = Get<uia::FromAccessibleFn>("UiaProviderFromIAccessible");
    uia::NodeFromProviderFn fromProvider = Get<uia::NodeFromProviderFn>("UiaNodeFromProvider");

    // The proxy's node for one child (0: the window) of an accessible object.
    uia::Node FromAccessible(IAccessible* object, long child) const {
        Ptr<IUnknown> provider;
        uia::Node node = nullptr;
        if (fromAccessible && fromProvider && SUCCEEDED(fromAccessible(object, child, 0, provider.Out()))) {
            fromProvider(provider.Get(), &node);
        }
        return node;
    }

    // The name, or "<not supported>" when this UI Automation does not serve the property
    // (it then answers with its reserved object).
    std::wstring Name(uia::Node node) const {
        VARIANT v;
        ::VariantInit(&v);
        const HRESULT hr = property(node, uia::NameProperty, &v);
        if (SUCCEEDED(hr) && v.vt == VT_UNKNOWN) {
            ::VariantClear(&v);
            return kNotSupported;
        }
        if (FAILED(hr) || v.vt != VT_BSTR) return L"<failed>";
        std::wstring out(v.bstrVal, ::SysStringLen(v.bstrVal));
        ::VariantClear(&v);
        return out;
    }
    long ControlType(uia::Node node) const {
        VARIANT v;
        ::VariantInit(&v);
        return SUCCEEDED(property(node, uia::ControlTypeProperty, &v)) && v.vt == VT_I4 ? v.lVal : 0;
    }
    // The first child or the next sibling; null at the end.
    uia::Node Step(uia::Node node, int direction) const {
        uia::Condition all{0};
        uia::CacheRequest request{&all, 1, nullptr, 0, nullptr, 0, 1};
        SAFEARRAY* data = nullptr;
        BSTR structure = nullptr;
        uia::Node next = nullptr;
        if (SUCCEEDED(navigate(node, direction, &all, &request, &data, &structure)) && data) {
            LONG at[2] = {0, 0};
            VARIANT v;
            ::VariantInit(&v);
            if (SUCCEEDED(::SafeArrayGetElement(data, at, &v))) nodeFromVariant(&v, &next);
            ::SafeArrayDestroy(data);
        }
        if (structure) ::SysFreeString(structure);
        return next;
    }
};

TEST(Accessibility, UiAutomationReadsTheTreeThroughItsMsaaProxy) {
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const Uia uia;
    if (!uia.fromHandle || !uia.property || !uia.navigate || !uia.nodeFromVariant || !uia.release) {
        ::CoUninitialize();
        GTEST_SKIP() << "no UI Automation client functions here";
    }
    Demo demo(L"nul");
    ASSERT_TRUE(demo.Started());
    HWND main = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (main = WindowOf(demo.Id(), L"#32770")) != nullptr; }, 60000));
    ::Sleep(500);

    // From the window handle, as Narrator starts; failing that (Wine has no such lookup),
    // from the accessible object through the MSAA proxy itself.
    uia::Node window = nullptr;
    const HRESULT byHandle = uia.fromHandle(main, &window);
    std::printf("UI Automation: node from the window handle: 0x%08lx\n", static_cast<unsigned long>(byHandle));
    Ptr<IAccessible> object;
    if (FAILED(byHandle)) {
        const Oleacc oleacc;
        ASSERT_EQ(oleacc.fromWindow(main, OBJID_CLIENT, IID_IAccessible, object.OutVoid()), S_OK);
        window = uia.FromAccessible(object.Get(), CHILDID_SELF);
        ASSERT_TRUE(window) << "no node from the MSAA proxy either";
    }
    const std::wstring windowName = uia.Name(window);
    if (windowName != kNotSupported) {
        EXPECT_EQ(windowName, L"Zephra");
    }
    std::vector<std::pair<std::wstring, long>> seen;
    for (uia::Node child = uia.Step(window, uia::FirstChild); child && seen.size() < 32;) {
        seen.emplace_back(uia.Name(child), uia.ControlType(child));
        uia::Node next = uia.Step(child, uia::NextSibling);
        uia.release(child);
        child = next;
    }
    std::printf("UI Automation: %u children by navigation\n", static_cast<unsigned>(seen.size()));
    if (seen.empty() && object) {
        // The proxy of each child, as a client holding the window's object gets it.
        for (long id = 1; id <= 13; ++id) {
            uia::Node child = uia.FromAccessible(object.Get(), id);
            if (!child) break;
            seen.emplace_back(uia.Name(child), uia.ControlType(child));
            uia.release(child);
        }
    }
    uia.release(window);
    std::printf("UI Automation: %u children\n", static_cast<unsigned>(seen.size()));
    for (const auto& [name, type] : seen) {
        std::printf("  control type %ld \"%s\"\n", type, std::string(name.begin(), name.begin() + std::min<std::size_t>(name.size(), 40)).c_str());
    }
    const std::vector<std::pair<std::wstring, long>> expected{
        {L"Minimize", uia::ButtonType},    {L"Close", uia::ButtonType},       {L"Tavik VX310 Series SSD", uia::TextType},
        {L"Model No.:", uia::TextType},    {L"Capacity:", uia::TextType},     {L"Status:", uia::TextType},
        {L"Tavik VX310", uia::TextType},   {L"476.94 GB", uia::TextType},     {L"Optimizable", uia::TextType},
        {L"Optimizing", uia::TextType},    {L"On", uia::ButtonType},         {L"Health:", uia::TextType},
        {L"Good", uia::TextType},
    };
    ASSERT_EQ(seen.size(), expected.size());
    std::size_t names = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].second, expected[i].second);
        if (seen[i].first == kNotSupported) continue;
        ++names;
        EXPECT_EQ(seen[i].first.compare(0, expected[i].first.size(), expected[i].first), 0);
    }
    std::printf("UI Automation: %u of %u names served%s\n", static_cast<unsigned>(names),
                static_cast<unsigned>(seen.size()), names ? "" : " (this UI Automation's MSAA proxy gives no names)");
    ::PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(demo.EndsWithin(15000), 0);
    ::CoUninitialize();
}

}  // namespace
