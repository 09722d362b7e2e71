// Real message boxes under Wine: built from the skin package's layouts with the fonts the
// system has, sized as the arithmetic says for the extents those fonts report, centred on
// their owner, shadowed, and answering with the system's codes.
#include <gtest/gtest.h>

#include <oleacc.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ExpectedBox.h"
#include "tests/ui/WindowTestSupport.h"
#include "ui/DuiMessageBox.h"

using DuiLib::CPaintManagerUI;
using DuiLib::UiRect;
using expectedbox::ClickAt;
using expectedbox::Expected;
using expectedbox::MeasureInLayoutFont;

namespace DuiLib {
void PrintTo(const UiRect& r, std::ostream* os) {
    *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}
}  // namespace DuiLib

namespace {

const std::wstring kConfirmation = L"Computer will shut down after this process. \nAre you ready to proceed?";

using testsupport::Pump;

// The box with its parts in reach.
class OpenBox : public CDuiMessageBox {
public:
    using CDuiMessageBox::CDuiMessageBox;
    using CDuiMessageBox::paintManager;

    // As ShowMessageBox prepares it, without the modal run; laidOut: as after a first paint.
    bool Prepare(HWND owner, const wchar_t* layout, bool laidOut = true) {
        if (!Create(owner, nullptr, 0, 0, 0, 0, 0, 0)) return false;
        ::SetWindowLongW(GetHWND(), GWL_STYLE, ::GetWindowLongW(GetHWND(), GWL_STYLE) & ~WS_CAPTION);
        LoadSkin();
        LayoutMessageBox(layout);
        if (laidOut) paintManager.EnsureLayout();
        return true;
    }
    UiRect PosOf(const wchar_t* name) const {
        const DuiLib::CControlUI* control = paintManager.FindControl(name);
        return control ? control->GetPos() : UiRect{-1, -1, -1, -1};
    }
    std::wstring TextOf(const wchar_t* name) const {
        const DuiLib::CControlUI* control = paintManager.FindControl(name);
        return control ? control->GetText() : L"<missing>";
    }
};

HWND MakeOwner(int x, int y, int width, int height) {
    return ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, x, y, width, height, nullptr, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
}

struct Found {
    HWND box = nullptr;
    HWND shadow = nullptr;
};

BOOL CALLBACK FindBoxAndShadow(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<Found*>(param);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (std::wstring(name) == L"BaseDuilibWnd" && ::IsWindowVisible(window)) found->box = window;
    return TRUE;
}

BOOL CALLBACK FindShadowOf(HWND window, LPARAM param) {
    auto* found = reinterpret_cast<Found*>(param);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (std::wstring(name) == L"TolvoShadowWnd" && ::GetWindow(window, GW_OWNER) == found->box) {
        found->shadow = window;
    }
    return TRUE;
}

Found FindShownBox() {
    Found found;
    ::EnumThreadWindows(::GetCurrentThreadId(), FindBoxAndShadow, reinterpret_cast<LPARAM>(&found));
    if (found.box) ::EnumThreadWindows(::GetCurrentThreadId(), FindShadowOf, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Runs once inside the box's modal loop, from a thread timer.
std::function<void()>& DuringBox() {
    static std::function<void()> action;
    return action;
}

void CALLBACK TimerFired(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    if (auto action = std::move(DuringBox())) action();
}

int ShowWhile(std::function<void()> action, int type, const wchar_t* layout, const wchar_t* first,
              const wchar_t* second, const DuiLib::CWindowWnd* owner, const std::wstring& message) {
    DuringBox() = std::move(action);
    ::SetTimer(nullptr, 0, 100, TimerFired);
    return ShowMessageBox(type, layout, first, second, owner, message.c_str());
}

// The box as drawn, saved as a BMP where the lead can look at it.
void SaveScreenshot(HWND window, const char* name) {
#ifdef ZEPHRA_SCREENSHOT_DIR
    const testsupport::Pixels shot = testsupport::RenderClient(window);
    ::CreateDirectoryA(ZEPHRA_SCREENSHOT_DIR, nullptr);
    const std::string path = std::string(ZEPHRA_SCREENSHOT_DIR) + "/" + name;
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        const DWORD imageSize = static_cast<DWORD>(shot.width) * shot.height * 4;
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
        header.bfSize = header.bfOffBits + imageSize;
        BITMAPINFOHEADER info{};
        info.biSize = sizeof(info);
        info.biWidth = shot.width;
        info.biHeight = shot.height;  // bottom-up, as a BMP file stores it
        info.biPlanes = 1;
        info.biBitCount = 32;
        info.biCompression = BI_RGB;
        std::fwrite(&header, sizeof(header), 1, file);
        std::fwrite(&info, sizeof(info), 1, file);
        std::vector<std::uint32_t> row(static_cast<std::size_t>(shot.width));
        for (int y = shot.height - 1; y >= 0; --y) {
            const std::uint32_t* from = shot.data.data() + static_cast<std::size_t>(y) * shot.width;
            // GDI text leaves the alpha byte 0; a viewer would show those pixels as holes.
            for (int x = 0; x < shot.width; ++x) row[x] = from[x] | 0xFF000000u;
            std::fwrite(row.data(), row.size() * sizeof(row[0]), 1, file);
        }
        std::fclose(file);
    }
#else
    (void)window;
    (void)name;
#endif
}

// A wrapper for an owner window that the library did not create.
class OwnerRef : public DuiLib::CWindowWnd {
public:
    explicit OwnerRef(HWND window) { hwnd_ = window; }
    ~OwnerRef() override { hwnd_ = nullptr; }

protected:
    const wchar_t* WindowClassName() const override { return L"ZephraOwnerRef"; }
};

class MessageBoxWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CWndShadow::RegisterShadowClass(::GetModuleHandleW(nullptr)); }
    void SetUp() override { CPaintManagerUI::CloseZip(); }
    void TearDown() override {
        Pump();
        if (owner) ::DestroyWindow(owner);
        CPaintManagerUI::CloseZip();
    }
    HWND owner = nullptr;
};

TEST_F(MessageBoxWindow, RealLayoutsAreSizedForTheExtentsTheFontReports) {
    const struct {
        const char* what;
        int type;
        const wchar_t* layout;
        std::wstring message;
        const wchar_t* first;
        const wchar_t* second;
        const wchar_t* firstName;
        const wchar_t* secondName;
        std::wstring firstText;
        std::wstring secondText;
    } cases[] = {
        {"confirmation", MessageBoxTypeYesNo, L"messageBoxYesNo.xml", kConfirmation, L"Yes", L"No", L"btnYes",
         L"btnNo", L"Yes", L"No"},
        {"error box: the caller's Ok replaces the layout's OK", MessageBoxTypeOk, L"messageBoxOK.xml",
         L"Open Device error, error code 1167", L"Ok", nullptr, L"btnOK", nullptr, L"Ok", L""},
        {"short text, no button text: the layout's own", MessageBoxTypeOk, L"messageBoxOK.xml", L"Hi", nullptr,
         nullptr, L"btnOK", nullptr, L"OK", L""},
        {"trailing line feed", MessageBoxTypeYesNo, L"messageBoxYesNo.xml", L"Proceed?\n", L"", L"", L"btnYes",
         L"btnNo", L"Yes", L"No"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_GT(MeasureInLayoutFont(L"X").cy, 0) << "the layout font is there";
        const MessageBoxGeometry want = Expected(c.type, c.message);

        OpenBox box(c.type, c.message.c_str(), c.first, c.second);
        ASSERT_TRUE(box.Prepare(nullptr, c.layout));
        const MessageBoxGeometry& got = box.Geometry();
        EXPECT_EQ(got.textWidth, want.textWidth);
        EXPECT_EQ(got.textHeight, want.textHeight);

        RECT window{};
        RECT client{};
        ::GetWindowRect(box.GetHWND(), &window);
        ::GetClientRect(box.GetHWND(), &client);
        EXPECT_EQ(window.right - window.left, want.width);
        EXPECT_EQ(window.bottom - window.top, want.height);
        EXPECT_EQ(client.right, want.width) << "no system frame";
        EXPECT_EQ(client.bottom, want.height) << "no system frame";
        EXPECT_EQ(::GetWindowLongW(box.GetHWND(), GWL_STYLE) & WS_CAPTION, 0);

        EXPECT_EQ(box.PosOf(L"ctrlIcon"), *want.icon);
        EXPECT_EQ(box.PosOf(L"txtMsg"), *want.message);
        EXPECT_EQ(box.TextOf(L"txtMsg"), c.message);
        EXPECT_EQ(box.PosOf(c.firstName), *want.first);
        EXPECT_EQ(box.TextOf(c.firstName), c.firstText);
        if (c.secondName) {
            EXPECT_EQ(box.PosOf(c.secondName), *want.second);
            EXPECT_EQ(box.TextOf(c.secondName), c.secondText);
        }
        EXPECT_EQ(box.PosOf(L"txtTitel").Width(), 0) << "the empty title takes no room";
    }
}

TEST_F(MessageBoxWindow, ShownCentredOnItsOwnerWithItsShadowAndAnswersWithTheButtonsCode) {
    owner = MakeOwner(150, 120, 700, 490);
    OwnerRef ownerRef(owner);
    const struct {
        const char* what;
        int type;
        const wchar_t* layout;
        const wchar_t* first;
        const wchar_t* second;
        bool clickSecond;
        int result;
        const char* screenshot;
    } cases[] = {
        {"Yes", MessageBoxTypeYesNo, L"messageBoxYesNo.xml", L"Yes", L"No", false, MessageBoxResultYes,
         "msgbox-yesno.bmp"},
        {"No", MessageBoxTypeYesNo, L"messageBoxYesNo.xml", L"Yes", L"No", true, MessageBoxResultNo, nullptr},
        {"OK", MessageBoxTypeOk, L"messageBoxOK.xml", L"Ok", nullptr, false, MessageBoxResultOk, "msgbox-ok.bmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring message = c.type == MessageBoxTypeYesNo ? kConfirmation : L"Open Optimize error, error code 0";
        const MessageBoxGeometry want = Expected(c.type, message);
        RECT boxRect{};
        RECT shadowRect{};
        bool sawBox = false;
        bool shadowShown = false;
        bool ownerDisabled = false;
        const int result = ShowWhile(
            [&] {
                const Found found = FindShownBox();
                sawBox = found.box != nullptr;
                if (!found.box) return;
                ::GetWindowRect(found.box, &boxRect);
                shadowShown = found.shadow && ::IsWindowVisible(found.shadow);
                if (found.shadow) ::GetWindowRect(found.shadow, &shadowRect);
                ownerDisabled = !::IsWindowEnabled(owner);
                if (c.screenshot) SaveScreenshot(found.box, c.screenshot);
                ClickAt(found.box, c.clickSecond ? *want.second : *want.first);
            },
            c.type, c.layout, c.first, c.second, &ownerRef, message);
        ASSERT_TRUE(sawBox);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(boxRect.right - boxRect.left, want.width);
        EXPECT_EQ(boxRect.bottom - boxRect.top, want.height);
        EXPECT_EQ(boxRect.left, 150 + 350 - want.width / 2) << "centred on the owner";
        EXPECT_EQ(boxRect.top, 120 + 245 - want.height / 2) << "centred on the owner";
        EXPECT_TRUE(shadowShown);
        EXPECT_EQ(shadowRect.left, boxRect.left - 8);
        EXPECT_EQ(shadowRect.top, boxRect.top - 8);
        EXPECT_EQ(shadowRect.right, boxRect.right + 8);
        EXPECT_EQ(shadowRect.bottom, boxRect.bottom + 8);
        EXPECT_TRUE(ownerDisabled) << "modal over its owner";
        EXPECT_TRUE(::IsWindowEnabled(owner)) << "enabled again afterwards";
        EXPECT_FALSE(FindShownBox().box) << "the box is gone";
    }
}

TEST_F(MessageBoxWindow, ClosedWithoutAButtonReturnsZero) {
    owner = MakeOwner(100, 100, 400, 300);
    OwnerRef ownerRef(owner);
    const int result = ShowWhile(
        [] {
            const Found found = FindShownBox();
            if (found.box) ::SendMessageW(found.box, WM_CLOSE, 0, 0);
        },
        MessageBoxTypeYesNo, L"messageBoxYesNo.xml", L"Yes", L"No", &ownerRef, kConfirmation);
    EXPECT_EQ(result, MessageBoxResultNone);
}

TEST_F(MessageBoxWindow, LayoutThatCannotBeBuiltIsStillSizedAndPlacesNothing) {
    const std::wstring message = L"Nothing to build";
    OpenBox box(MessageBoxTypeYesNo, message.c_str(), L"Yes", L"No");
    ASSERT_TRUE(box.Prepare(nullptr, L"noSuchLayout.xml"));
    EXPECT_EQ(box.paintManager.GetRoot(), nullptr);
    // Measured in font id 0, which an unbuilt layout does not have: the system's GUI font.
    HDC dc = ::GetDC(box.GetHWND());
    HGDIOBJ old = ::SelectObject(dc, ::GetStockObject(DEFAULT_GUI_FONT));
    SIZE size{};
    ::GetTextExtentPoint32W(dc, message.c_str(), static_cast<int>(message.size()), &size);
    ::SelectObject(dc, old);
    ::ReleaseDC(box.GetHWND(), dc);
    RECT window{};
    ::GetWindowRect(box.GetHWND(), &window);
    EXPECT_EQ(window.right - window.left, size.cx + 5 + 40);
    EXPECT_EQ(window.bottom - window.top, 20 + 2 * (size.cy / 2) + 20 + size.cy + 2 * (size.cy / 2));
}

// The system's own box, found by its dialog class and answered from another thread.
BOOL CALLBACK FindSystemBox(HWND window, LPARAM param) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (std::wstring(name) == L"#32770" && ::IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

TEST_F(MessageBoxWindow, WithoutALayoutTheSystemBoxAnswers) {
    owner = MakeOwner(100, 100, 400, 300);
    OwnerRef ownerRef(owner);
    const DWORD thread = ::GetCurrentThreadId();
    std::atomic<bool> answered{false};
    std::thread answer([&] {
        for (int i = 0; i < 200 && !answered; ++i) {
            HWND box = nullptr;
            ::EnumThreadWindows(thread, FindSystemBox, reinterpret_cast<LPARAM>(&box));
            if (box) {
                ::PostMessageW(box, WM_COMMAND, IDNO, 0);
                answered = true;
            }
            ::Sleep(25);
        }
    });
    const int result = ShowMessageBox(MB_YESNO | MB_ICONWARNING, nullptr, L"Yes", L"No", &ownerRef, L"Proceed?");
    answered = true;
    answer.join();
    EXPECT_EQ(result, IDNO);
}


// ---- the box as assistive technology and the window system meet it ----

// The accessible object of a window, in process, as a screen reader's in-context hook
// gets it. oleacc at run time, as the library loads it.
IAccessible* AccessibleOf(HWND window) {
    using FromWindowFn = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);
    static const auto fromWindow = [] {
        const HMODULE module = ::LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return module ? reinterpret_cast<FromWindowFn>(
                            reinterpret_cast<void (*)()>(::GetProcAddress(module, "AccessibleObjectFromWindow")))
                      : nullptr;
    }();
    IAccessible* object = nullptr;
    if (!fromWindow || FAILED(fromWindow(window, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                         reinterpret_cast<void**>(&object)))) {
        return nullptr;
    }
    return object;
}

VARIANT ChildId(long id) {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

struct ComScope {
    ComScope() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComScope() { ::CoUninitialize(); }
};

TEST_F(MessageBoxWindow, ReadRightAfterShowingNoIsFocusedVisibleAndWhereItIsDrawn) {
    const ComScope com;
    owner = MakeOwner(150, 120, 700, 490);
    OpenBox box(MessageBoxTypeYesNo, kConfirmation.c_str(), L"Yes", L"No");
    ASSERT_TRUE(box.Prepare(owner, L"messageBoxYesNo.xml", false));
    box.CenterWindow();
    // Shown, and read at once: no message has been handled, so nothing has painted yet.
    ::ShowWindow(box.GetHWND(), SW_SHOWNORMAL);
    IAccessible* object = AccessibleOf(box.GetHWND());
    ASSERT_NE(object, nullptr);
    const long no = box.paintManager.AccessibleChildId(box.paintManager.FindControl(L"btnNo"));
    ASSERT_GT(no, 0);
    VARIANT state;
    ::VariantInit(&state);
    ASSERT_EQ(object->get_accState(ChildId(no), &state), S_OK);
    EXPECT_EQ(state.lVal, STATE_SYSTEM_FOCUSABLE | STATE_SYSTEM_FOCUSED) << "focused, not invisible";
    long x = 0, y = 0, width = 0, height = 0;
    ASSERT_EQ(object->accLocation(&x, &y, &width, &height, ChildId(no)), S_OK);
    POINT origin{0, 0};
    ::ClientToScreen(box.GetHWND(), &origin);
    const UiRect drawn = *box.Geometry().second;
    EXPECT_EQ((UiRect{x - origin.x, y - origin.y, x - origin.x + width, y - origin.y + height}), drawn);
    VARIANT hit;
    ::VariantInit(&hit);
    EXPECT_EQ(object->accHitTest(origin.x + (drawn.left + drawn.right) / 2, origin.y + (drawn.top + drawn.bottom) / 2,
                                 &hit),
              S_OK);
    EXPECT_EQ(hit.vt == VT_I4 ? hit.lVal : -1, no) << "the hit test finds No where it is drawn";
    // And it is drawn there: the first paint lays nothing out differently.
    Pump(100);
    EXPECT_EQ(box.PosOf(L"btnNo"), drawn);
    object->Release();
}

// Dialog events, as a screen reader follows them.
std::vector<std::pair<DWORD, HWND>>& SeenEvents() {
    static std::vector<std::pair<DWORD, HWND>> seen;
    return seen;
}
void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG, LONG, DWORD, DWORD) {
    SeenEvents().emplace_back(event, window);
}

TEST_F(MessageBoxWindow, NamedByItsQuestionAndItsComingAndGoingAreAnnounced) {
    owner = MakeOwner(100, 100, 400, 300);
    OpenBox box(MessageBoxTypeYesNo, kConfirmation.c_str(), L"Yes", L"No");
    ASSERT_TRUE(box.Prepare(owner, L"messageBoxYesNo.xml"));
    wchar_t name[256] = {};
    ::GetWindowTextW(box.GetHWND(), name, 256);
    EXPECT_EQ(std::wstring(name), L"Computer will shut down after this process. Are you ready to proceed?")
        << "a box without a title is named by its question, on one line";

    SeenEvents().clear();
    const HWINEVENTHOOK hook = ::SetWinEventHook(EVENT_SYSTEM_DIALOGSTART, EVENT_SYSTEM_DIALOGEND, nullptr, RecordEvent,
                                                 ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_TRUE(hook);
    // Hidden rather than destroyed: the events of this process are delivered through its
    // queue, and Wine drops those of a window that is gone by then. The program's own box,
    // destroyed, is followed from another process by the accessibility tests.
    ::ShowWindow(box.GetHWND(), SW_SHOWNORMAL);
    Pump(100);
    ::ShowWindow(box.GetHWND(), SW_HIDE);
    Pump(100);
    ::ShowWindow(box.GetHWND(), SW_SHOWNORMAL);
    Pump(100);
    ::UnhookWinEvent(hook);
    const HWND window = box.GetHWND();
    const std::vector<std::pair<DWORD, HWND>> expected{{EVENT_SYSTEM_DIALOGSTART, window},
                                                       {EVENT_SYSTEM_DIALOGEND, window},
                                                       {EVENT_SYSTEM_DIALOGSTART, window}};
    EXPECT_EQ(SeenEvents(), expected);
}

// A window of someone else (another program, in life) that must not be activated when
// a box goes.
HWND MakeBystander() {
    const HWND window = ::CreateWindowExW(0, L"STATIC", L"bystander", WS_POPUP, 600, 500, 200, 150, nullptr, nullptr,
                                          ::GetModuleHandleW(nullptr), nullptr);
    if (window) ::ShowWindow(window, SW_SHOWNOACTIVATE);
    return window;
}

// The windows activated from the moment the box starts to go, in order: the first is the
// one the system chose when the box went.
struct ActivationWatch {
    HWND box = nullptr;
    bool going = false;
    std::vector<HWND> activated;
};
ActivationWatch& Watch() {
    static ActivationWatch watch;
    return watch;
}
LRESULT CALLBACK WatchActivations(int code, WPARAM wParam, LPARAM lParam) {
    ActivationWatch& watch = Watch();
    if (code == HCBT_DESTROYWND && watch.box && reinterpret_cast<HWND>(wParam) == watch.box) watch.going = true;
    if (code == HCBT_ACTIVATE && watch.going) watch.activated.push_back(reinterpret_cast<HWND>(wParam));
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void PostKey(HWND window, UINT key) {
    ::PostMessageW(window, WM_KEYDOWN, key, 0x00010001);
    ::PostMessageW(window, WM_KEYUP, key, 0xC0010001);
}

TEST_F(MessageBoxWindow, EveryWayABoxClosesLeavesItsOwnerEnabledAndActive) {
    const ComScope com;
    owner = MakeOwner(100, 100, 500, 400);
    OwnerRef ownerRef(owner);
    const HWND bystander = MakeBystander();
    ASSERT_TRUE(bystander);
    const MessageBoxGeometry yesNo = Expected(MessageBoxTypeYesNo, kConfirmation);
    const std::wstring error = L"Open Optimize error, error code 13";
    const MessageBoxGeometry ok = Expected(MessageBoxTypeOk, error);
    const auto defaultAction = [](HWND box, const wchar_t* buttonText) {
        IAccessible* object = AccessibleOf(box);
        if (!object) return;
        long count = 0;
        object->get_accChildCount(&count);
        for (long id = 1; id <= count; ++id) {
            BSTR name = nullptr;
            object->get_accName(ChildId(id), &name);
            const bool match = name && std::wstring(name) == buttonText;
            if (name) ::SysFreeString(name);
            if (match) object->accDoDefaultAction(ChildId(id));
        }
        object->Release();
    };
    const struct {
        const char* how;
        int type;
        std::function<void(HWND)> close;
        int result;
    } cases[] = {
        {"Escape", MessageBoxTypeYesNo, [](HWND box) { PostKey(box, VK_ESCAPE); }, MessageBoxResultNo},
        {"Alt+F4", MessageBoxTypeYesNo,
         [](HWND box) {
             ::PostMessageW(box, WM_SYSKEYDOWN, VK_F4, 0x203E0001);
             ::PostMessageW(box, WM_SYSKEYUP, VK_F4, 0xE03E0001);
         },
         MessageBoxResultNone},
        {"SC_CLOSE", MessageBoxTypeYesNo, [](HWND box) { ::SendMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0); },
         MessageBoxResultNone},
        {"a sent WM_CLOSE", MessageBoxTypeYesNo, [](HWND box) { ::SendMessageW(box, WM_CLOSE, 0, 0); },
         MessageBoxResultNone},
        {"a click on Yes", MessageBoxTypeYesNo, [&](HWND box) { ClickAt(box, *yesNo.first); }, MessageBoxResultYes},
        {"a click on No", MessageBoxTypeYesNo, [&](HWND box) { ClickAt(box, *yesNo.second); }, MessageBoxResultNo},
        {"the default action of No", MessageBoxTypeYesNo, [&](HWND box) { defaultAction(box, L"No"); },
         MessageBoxResultNo},
        {"Enter on No", MessageBoxTypeYesNo, [](HWND box) { PostKey(box, VK_RETURN); }, MessageBoxResultNo},
        {"key Y", MessageBoxTypeYesNo, [](HWND box) { ::PostMessageW(box, WM_CHAR, L'y', 0x00150001); },
         MessageBoxResultYes},
        {"key N", MessageBoxTypeYesNo, [](HWND box) { ::PostMessageW(box, WM_CHAR, L'N', 0x00310001); },
         MessageBoxResultNo},
        {"key O", MessageBoxTypeOk, [](HWND box) { ::PostMessageW(box, WM_CHAR, L'o', 0x00180001); },
         MessageBoxResultOk},
        {"a click on Ok", MessageBoxTypeOk, [&](HWND box) { ClickAt(box, *ok.first); }, MessageBoxResultOk},
        {"Escape in an error box", MessageBoxTypeOk, [](HWND box) { PostKey(box, VK_ESCAPE); }, MessageBoxResultOk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ::SetForegroundWindow(owner);
        ::SetActiveWindow(owner);
        Pump(100);
        ASSERT_EQ(::GetActiveWindow(), owner);
        Watch() = ActivationWatch{};
        const HHOOK hook = ::SetWindowsHookExW(WH_CBT, WatchActivations, nullptr, ::GetCurrentThreadId());
        ASSERT_TRUE(hook);
        bool ownerDisabled = false;
        const bool yesNoBox = c.type == MessageBoxTypeYesNo;
        const int result = ShowWhile(
            [&] {
                const Found found = FindShownBox();
                if (!found.box) return;
                ownerDisabled = !::IsWindowEnabled(owner);
                Watch().box = found.box;
                c.close(found.box);
            },
            c.type, yesNoBox ? L"messageBoxYesNo.xml" : L"messageBoxOK.xml", yesNoBox ? L"Yes" : L"Ok",
            yesNoBox ? L"No" : nullptr, &ownerRef, yesNoBox ? kConfirmation : error);
        ::UnhookWindowsHookEx(hook);
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(ownerDisabled) << "modal while it was open";
        EXPECT_TRUE(Watch().going) << "the box went";
        EXPECT_TRUE(::IsWindowEnabled(owner));
        EXPECT_EQ(::GetActiveWindow(), owner);
        const std::vector<HWND>& activated = Watch().activated;
        EXPECT_TRUE(activated.empty() || activated.front() == owner)
            << "the system gave the activation to another window when the box went";
        EXPECT_EQ(std::count(activated.begin(), activated.end(), bystander), 0);
        EXPECT_FALSE(FindShownBox().box);
    }
    ::DestroyWindow(bystander);
}

TEST_F(MessageBoxWindow, FocusCueFollowsTheSystemsKeyboardCues) {
    BOOL always = FALSE;
    ::SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &always, 0);
    {
        ::SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(static_cast<INT_PTR>(FALSE)), 0);
        OpenBox box(MessageBoxTypeYesNo, kConfirmation.c_str(), L"Yes", L"No");
        ASSERT_TRUE(box.Prepare(nullptr, L"messageBoxYesNo.xml"));
        ::SendMessageW(box.GetHWND(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        ::ShowWindow(box.GetHWND(), SW_SHOWNORMAL);
        EXPECT_FALSE(box.paintManager.FocusCuesShown()) << "opened with the mouse: no cue, whatever came before";
        ::SendMessageW(box.GetHWND(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
        EXPECT_TRUE(box.paintManager.FocusCuesShown()) << "the system says the keyboard is in use";
        ::SendMessageW(box.GetHWND(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEACCEL), 0);
        EXPECT_TRUE(box.paintManager.FocusCuesShown()) << "access keys are no focus cue";
        ::SendMessageW(box.GetHWND(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
        EXPECT_FALSE(box.paintManager.FocusCuesShown()) << "hidden again";
        // A key that moves the focus shows the cue, and the system learns it.
        ::SendMessageW(box.GetHWND(), WM_KEYDOWN, VK_TAB, 0x000F0001);
        EXPECT_TRUE(box.paintManager.FocusCuesShown());
        EXPECT_EQ(::SendMessageW(box.GetHWND(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS, 0);
    }
    {
        // The user's setting to show the cues at all times: shown from the start, and the
        // system's hiding does not take them away.
        ASSERT_TRUE(::SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(static_cast<INT_PTR>(TRUE)), 0));
        OpenBox box(MessageBoxTypeYesNo, kConfirmation.c_str(), L"Yes", L"No");
        ASSERT_TRUE(box.Prepare(nullptr, L"messageBoxYesNo.xml"));
        ::ShowWindow(box.GetHWND(), SW_SHOWNORMAL);
        EXPECT_TRUE(box.paintManager.FocusCuesShown());
        ::SendMessageW(box.GetHWND(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
        EXPECT_TRUE(box.paintManager.FocusCuesShown());
    }
    ::SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(static_cast<INT_PTR>(always)), 0);
}

}  // namespace
