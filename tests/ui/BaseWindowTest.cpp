#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "WindowTestSupport.h"

using DuiLib::CPaintManagerUI;
using testsupport::Pump;
using testsupport::TestWindow;

namespace {

constexpr int kClientX = 60;
constexpr int kClientY = 40;

LPARAM ClientPoint(int x, int y) { return MAKELPARAM(x, y); }

// A press and release at a client point, as the system delivers them.
void Click(HWND window, int x, int y, bool post) {
    for (UINT message : {WM_LBUTTONDOWN, WM_LBUTTONUP}) {
        const WPARAM keys = message == WM_LBUTTONDOWN ? MK_LBUTTON : 0;
        if (post) {
            ::PostMessageW(window, message, keys, ClientPoint(x, y));
        } else {
            ::SendMessageW(window, message, keys, ClientPoint(x, y));
        }
    }
}

struct ShadowSearch {
    HWND parent;
    int count;
};

BOOL CALLBACK CountShadow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<ShadowSearch*>(param);
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (std::wstring(name) == L"TolvoShadowWnd" && ::GetWindow(window, GW_OWNER) == search->parent) ++search->count;
    return TRUE;
}

int CountShadows(HWND parent) {
    ShadowSearch search{parent, 0};
    ::EnumThreadWindows(::GetCurrentThreadId(), CountShadow, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

HWND MakePlainWindow(int x, int y, int width, int height) {
    return ::CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, x, y, width, height, nullptr, nullptr,
                             ::GetModuleHandleW(nullptr), nullptr);
}

class SkinnedWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CWndShadow::RegisterShadowClass(::GetModuleHandleW(nullptr)); }
    void SetUp() override { CPaintManagerUI::CloseZip(); }
    void TearDown() override {
        Pump();
        CPaintManagerUI::CloseZip();
    }
};

TEST_F(SkinnedWindow, MainLayoutSizesTheWindowAndFindsItsButtons) {
    TestWindow window;
    ASSERT_TRUE(window.Open(L"mainSkin.xml", kClientX, kClientY));
    RECT rect{};
    ::GetWindowRect(window.GetHWND(), &rect);
    EXPECT_EQ(rect.right - rect.left, 700);
    EXPECT_EQ(rect.bottom - rect.top, 490);
    EXPECT_EQ(window.paintManager.GetCaptionRect(), (DuiLib::UiRect{0, 0, 0, 32}));
    ASSERT_TRUE(window.minButton && window.closeButton);
    EXPECT_EQ(window.minButton->GetName(), L"btnMin");
    EXPECT_EQ(window.maxButton, nullptr) << "the layout has no btnMax";
    EXPECT_FALSE(window.skinPackage.empty());
    EXPECT_EQ(CPaintManagerUI::GetResourceZip(), window.skinPackage.data());

    wchar_t className[64] = {};
    ::GetClassNameW(window.GetHWND(), className, 64);
    EXPECT_STREQ(className, L"BaseDuilibWnd");
}

// A control kind that names itself in small letters.
class LowerCaseButton : public DuiLib::CControlUI {
public:
    std::wstring_view GetClass() const override { return L"buttonui"; }
};

TEST_F(SkinnedWindow, CaptionBandDragsExceptOnButtons) {
    // Left of the screen's origin: the hit test point has a negative x.
    const int originX = -200;
    TestWindow window;
    ASSERT_TRUE(window.Open(L"mainSkin.xml", originX, kClientY));
    auto* root = window.paintManager.GetRoot()->AsContainer();
    ASSERT_TRUE(root);
    auto label = std::make_unique<DuiLib::CLabelUI>();
    label->SetAttribute(L"float", L"true");
    label->SetAttribute(L"pos", L"100,5,150,25");
    root->Add(std::move(label));
    auto odd = std::make_unique<LowerCaseButton>();
    odd->SetAttribute(L"float", L"true");
    odd->SetAttribute(L"pos", L"200,5,250,25");
    root->Add(std::move(odd));

    const struct {
        int x;
        int y;
        bool drags;
        const char* what;
    } cases[] = {
        {300, 10, true, "background in the band"},
        {0, 0, true, "top-left corner"},
        {150 - 1, 10, true, "label in the band (screen x negative)"},
        {699, 31, true, "last pixel of the band"},
        {300, 32, false, "first row below the band"},
        {700, 10, false, "right of the client area"},
        {210, 10, false, "a control that calls itself buttonui"},
        {660, 10, false, "btnMin"},
        {685, 10, false, "btnClose"},
        {200, 130, false, "label below the band"},
        {300, 300, false, "background below the band"},
    };
    for (const auto& c : cases) {
        const LPARAM screen = MAKELPARAM(originX + c.x, kClientY + c.y);
        const LRESULT hit = ::SendMessageW(window.GetHWND(), WM_NCHITTEST, 0, screen);
        EXPECT_EQ(hit == HTCAPTION, c.drags) << c.what << " hit " << hit;
    }
}

TEST_F(SkinnedWindow, CloseButtonClickEndsTheModalRunWithIdClose) {
    HWND owner = MakePlainWindow(0, 0, 800, 600);
    TestWindow window;
    ASSERT_TRUE(window.Open(L"mainSkin.xml", kClientX, kClientY, owner));
    const HWND handle = window.GetHWND();
    Click(handle, 687, 13, true);
    EXPECT_EQ(window.ShowModal(), static_cast<UINT>(IDCLOSE));

    EXPECT_FALSE(::IsWindow(handle)) << "WM_CLOSE's default handling destroys the window";
    EXPECT_EQ(window.GetHWND(), nullptr);
    EXPECT_EQ(window.finalMessages, 1);
    ASSERT_EQ(window.clicks, std::vector<std::wstring>{L"btnClose"});
    const auto close = std::find_if(window.seen.begin(), window.seen.end(),
                                    [](const TestWindow::Seen& s) { return s.message == WM_CLOSE; });
    ASSERT_NE(close, window.seen.end());
    EXPECT_EQ(close->wParam, static_cast<WPARAM>(IDCLOSE));
    EXPECT_GE(close->when - window.lastClickAt, 9.5) << "about 10 ms after the click";
    EXPECT_FALSE(window.ownerEnabledDuringClick);
    EXPECT_TRUE(::IsWindowEnabled(owner));
    ::DestroyWindow(owner);
}

HWND g_closeTarget = nullptr;

void CALLBACK SendCloseToTarget(HWND, UINT, UINT_PTR id, DWORD) {
    ::KillTimer(nullptr, id);
    ::SendMessageW(g_closeTarget, WM_CLOSE, 5, 0);
}

TEST_F(SkinnedWindow, ModalRunEndsWithZeroWithoutAPostedClose) {
    TestWindow window;
    ASSERT_TRUE(window.Open(L"messageBoxOK.xml", kClientX, kClientY));
    g_closeTarget = window.GetHWND();
    // Sent, not posted: it never passes the modal loop.
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, SendCloseToTarget);
    ASSERT_NE(timer, 0u);
    EXPECT_EQ(window.ShowModal(), 0u);
    EXPECT_FALSE(::IsWindow(g_closeTarget));
}

TEST_F(SkinnedWindow, ModalRunHandsAQuitRequestOn) {
    TestWindow window;
    ASSERT_TRUE(window.Open(L"messageBoxOK.xml", kClientX, kClientY));
    ::PostQuitMessage(3);
    EXPECT_EQ(window.ShowModal(), 0u);
    MSG msg;
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(SkinnedWindow, MinimiseAndMaximiseButtons) {
    TestWindow window;
    ASSERT_TRUE(window.Open(L"mainSkin.xml", kClientX, kClientY));
    // The layout has no btnMax; one added here toggles maximised and restored.
    auto max = std::make_unique<DuiLib::CButtonUI>();
    max->SetName(L"btnMax");
    max->SetAttribute(L"float", L"true");
    max->SetAttribute(L"pos", L"600,5,616,21");
    window.maxButton = max.get();
    window.paintManager.GetRoot()->AsContainer()->Add(std::move(max));
    window.ShowWindow();
    Pump(20);

    auto lastCommand = [&] {
        for (auto it = window.seen.rbegin(); it != window.seen.rend(); ++it)
            if (it->message == WM_SYSCOMMAND) return it->wParam & 0xFFF0;
        return WPARAM{0};
    };
    Click(window.GetHWND(), 605, 10, false);
    Pump(50);
    EXPECT_EQ(lastCommand(), static_cast<WPARAM>(SC_MAXIMIZE));
    EXPECT_TRUE(::IsZoomed(window.GetHWND()));
    Click(window.GetHWND(), 605, 10, false);
    Pump(50);
    EXPECT_EQ(lastCommand(), static_cast<WPARAM>(SC_RESTORE));
    EXPECT_FALSE(::IsZoomed(window.GetHWND()));

    RECT rect{};
    ::GetWindowRect(window.GetHWND(), &rect);
    ASSERT_EQ(rect.right - rect.left, 700);
    Click(window.GetHWND(), 666, 13, false);
    Pump(50);
    EXPECT_EQ(lastCommand(), static_cast<WPARAM>(SC_MINIMIZE));
    EXPECT_TRUE(::IsIconic(window.GetHWND()));
    EXPECT_EQ(window.clicks, (std::vector<std::wstring>{L"btnMax", L"btnMax", L"btnMin"}));
}

TEST_F(SkinnedWindow, OnlyAClickOnATitleButtonDoesAnything) {
    TestWindow window;
    ASSERT_TRUE(window.Open(L"mainSkin.xml", kClientX, kClientY));
    ASSERT_TRUE(window.closeButton && window.minButton);
    const struct {
        const wchar_t* type;
        const wchar_t* sender;
    } cases[] = {
        {L"windowinit", L"btnClose"}, {L"Click", L"btnClose"}, {L"click ", L"btnMin"},
        {L"setfocus", L"btnMin"},     {L"click", L"LabelDevice"}, {L"click", L"btnOption"},
    };
    for (const auto& c : cases) {
        DuiLib::TNotifyUI msg;
        msg.sType = c.type;
        msg.pSender = window.paintManager.FindControl(c.sender);
        ASSERT_TRUE(msg.pSender);
        static_cast<CBaseDuilibWnd&>(window).Notify(msg);
    }
    Pump(30);
    EXPECT_TRUE(window.seen.empty());
    EXPECT_TRUE(::IsWindow(window.GetHWND()));
    EXPECT_FALSE(::IsIconic(window.GetHWND()));
}

TEST_F(SkinnedWindow, ShownHiddenAndShownAgainHasOneShadow) {
    TestWindow window;
    ASSERT_TRUE(window.Open(L"mainSkin.xml", kClientX, kClientY));
    EXPECT_EQ(CountShadows(window.GetHWND()), 0) << "no shadow before the window is shown";
    for (int show : {SW_SHOW, SW_HIDE, SW_SHOW}) {
        ::ShowWindow(window.GetHWND(), show);
        Pump(20);
    }
    EXPECT_EQ(CountShadows(window.GetHWND()), 1);
}

// A window whose shadow follows its first frame: none while the first paint is pending,
// one afterwards, at the window's place; a window hidden before then gets it, shown, with
// its next show.
class LateShadowWindow : public TestWindow {
protected:
    bool ShadowFollowsFirstFrame() const override { return true; }
};

bool ShadowShownBeside(HWND parent) {
    HWND found = nullptr;
    for (HWND w = ::GetWindow(::GetDesktopWindow(), GW_CHILD); w; w = ::GetWindow(w, GW_HWNDNEXT)) {
        wchar_t name[64] = {};
        ::GetClassNameW(w, name, 64);
        if (std::wstring(name) == L"TolvoShadowWnd" && ::GetWindow(w, GW_OWNER) == parent) found = w;
    }
    RECT shadow{}, window{};
    if (!found || !::IsWindowVisible(found) || !::GetWindowRect(found, &shadow) || !::GetWindowRect(parent, &window))
        return false;
    // It reaches around the window on every side.
    return shadow.left < window.left && shadow.top < window.top && shadow.right > window.right &&
           shadow.bottom > window.bottom;
}

TEST_F(SkinnedWindow, AShadowThatFollowsTheFirstFrameComesAfterThePaint) {
    LateShadowWindow window;
    ASSERT_TRUE(window.Open(L"mainSkin.xml", kClientX, kClientY));
    ::ShowWindow(window.GetHWND(), SW_SHOW);
    RECT pending{};
    EXPECT_TRUE(::GetUpdateRect(window.GetHWND(), &pending, FALSE)) << "the first paint is still to come";
    EXPECT_EQ(CountShadows(window.GetHWND()), 0);
    ::UpdateWindow(window.GetHWND());
    EXPECT_EQ(CountShadows(window.GetHWND()), 0) << "the paint itself makes no shadow";
    Pump(20);
    EXPECT_EQ(CountShadows(window.GetHWND()), 1);
    EXPECT_TRUE(ShadowShownBeside(window.GetHWND()));

    LateShadowWindow hiddenAtOnce;
    ASSERT_TRUE(hiddenAtOnce.Open(L"mainSkin.xml", kClientX, kClientY));
    ::ShowWindow(hiddenAtOnce.GetHWND(), SW_SHOW);
    ::ShowWindow(hiddenAtOnce.GetHWND(), SW_HIDE);
    Pump(20);
    EXPECT_FALSE(ShadowShownBeside(hiddenAtOnce.GetHWND())) << "no shadow for a hidden window";
    ::ShowWindow(hiddenAtOnce.GetHWND(), SW_SHOW);
    Pump(20);
    EXPECT_EQ(CountShadows(hiddenAtOnce.GetHWND()), 1);
    EXPECT_TRUE(ShadowShownBeside(hiddenAtOnce.GetHWND()));
}

TEST_F(SkinnedWindow, FirstRegisteredPackageServesEveryWindow) {
    auto first = std::make_unique<TestWindow>();
    ASSERT_TRUE(first->Open(L"mainSkin.xml", kClientX, kClientY));
    TestWindow second;
    ASSERT_TRUE(second.Open(L"messageBoxYesNo.xml", kClientX, kClientY));
    EXPECT_FALSE(second.skinPackage.empty());
    EXPECT_NE(second.skinPackage.data(), first->skinPackage.data());
    EXPECT_EQ(CPaintManagerUI::GetResourceZip(), first->skinPackage.data());
    EXPECT_TRUE(second.paintManager.FindControl(L"btnYes"));

    // The first window's copy goes with it, and the library stops reading from it.
    first.reset();
    EXPECT_EQ(CPaintManagerUI::GetResourceZip(), nullptr);
    second.LoadSkin();
    EXPECT_EQ(CPaintManagerUI::GetResourceZip(), second.skinPackage.data());
}

// A window that takes its skin from another resource id or from the folder "skin\".
class SkinChoiceWindow : public TestWindow {
public:
    SkinChoiceWindow(int resourceId, int source) : resourceId_(resourceId), source_(source) {}
    int SkinResourceId() const override { return resourceId_; }
    int SkinSource() const override { return source_; }

private:
    int resourceId_;
    int source_;
};

TEST_F(SkinnedWindow, SkinComesFromTheResourceOrTheSkinFolder) {
    // No such resource: nothing registered, and the window silently has no controls.
    SkinChoiceWindow missing(131, CBaseDuilibWnd::kSkinFromResources);
    ASSERT_TRUE(missing.Open(L"mainSkin.xml", kClientX, kClientY));
    EXPECT_TRUE(missing.skinPackage.empty());
    EXPECT_EQ(CPaintManagerUI::GetResourceZip(), nullptr);
    EXPECT_EQ(missing.paintManager.GetRoot(), nullptr);
    EXPECT_EQ(missing.closeButton, nullptr);

    // Any other source: the folder "skin\" under the current directory.
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(ZEPHRA_SOURCE_DIR));
    SkinChoiceWindow folder(130, 0);
    const bool opened = folder.Open(L"mainSkin.xml", kClientX, kClientY);
    ::SetCurrentDirectoryW(previous);
    const std::wstring resourcePath = DuiLib::SkinResources::ResourcePath();
    DuiLib::SkinResources::SetResourcePath(L"");
    ASSERT_TRUE(opened);
    EXPECT_EQ(resourcePath, L"skin\\");
    EXPECT_TRUE(folder.skinPackage.empty());
    EXPECT_EQ(CPaintManagerUI::GetResourceZip(), nullptr);
    ASSERT_TRUE(folder.closeButton);
    EXPECT_EQ(folder.closeButton->GetName(), L"btnClose");
}

TEST_F(SkinnedWindow, UnreadableLayoutLeavesTheWindowWithoutControls) {
    TestWindow window;
    ASSERT_TRUE(window.Open(L"noSuchLayout.xml", kClientX, kClientY));
    EXPECT_EQ(window.paintManager.GetRoot(), nullptr);
    EXPECT_EQ(window.closeButton, nullptr);
    EXPECT_EQ(window.paintManager.FindControl(L"txtMsg"), nullptr);
    EXPECT_NE(::SendMessageW(window.GetHWND(), WM_NCHITTEST, 0, MAKELPARAM(kClientX + 5, kClientY + 5)), HTCAPTION);
    EXPECT_EQ(window.BuildLayout(nullptr), nullptr);
}

// A window procedure of its own, to be taken over.
std::vector<UINT> g_plainMessages;
LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_plainMessages.push_back(message);
    if (message == WM_USER + 5) return 42;
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// A window of a class of the test's own, as a host's existing window would be.
HWND CreatePlainWindow(int width, int height) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = PlainProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ZephraPlainTestWindow";
    ::RegisterClassExW(&wc);  // already registered by an earlier test: fine
    return ::CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, kClientX, kClientY, width, height, nullptr,
                             nullptr, wc.hInstance, nullptr);
}

TEST_F(SkinnedWindow, TakenOverWindowKeepsItsOwnProcedureAndGetsItBack) {
    const HWND plain = CreatePlainWindow(700, 490);
    ASSERT_TRUE(plain);

    TestWindow window;
    ASSERT_EQ(window.Subclass(plain), plain);
    EXPECT_TRUE(window.IsTakenOver());
    EXPECT_NE(reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(plain, GWLP_WNDPROC)), PlainProc);
    g_plainMessages.clear();
    EXPECT_EQ(::SendMessageW(plain, WM_USER + 5, 0, 0), 42) << "unhandled messages reach the window's procedure";
    window.LoadSkin();
    window.paintManager.AttachDialog(window.BuildLayout(L"mainSkin.xml"));
    window.paintManager.AddNotifier(&window);
    window.closeButton = window.paintManager.FindControl(L"btnClose");
    EXPECT_EQ(::SendMessageW(plain, WM_NCHITTEST, 0, MAKELPARAM(kClientX + 300, kClientY + 10)), HTCAPTION);

    // Given back while the window lives, and taken over again.
    window.Unsubclass();
    EXPECT_EQ(reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(plain, GWLP_WNDPROC)), PlainProc);
    EXPECT_EQ(window.GetHWND(), nullptr);
    ASSERT_EQ(window.Subclass(plain), plain);

    // The close button's request goes to the window's own WM_CLOSE handling (here
    // DefWindowProc, which destroys it).
    Click(plain, 687, 13, false);
    Pump(50);
    EXPECT_FALSE(::IsWindow(plain));
    EXPECT_NE(std::find(g_plainMessages.begin(), g_plainMessages.end(), static_cast<UINT>(WM_CLOSE)),
              g_plainMessages.end());
    EXPECT_EQ(g_plainMessages.back(), static_cast<UINT>(WM_NCDESTROY)) << "the last message reaches it too";
    EXPECT_EQ(window.GetHWND(), nullptr);
    EXPECT_FALSE(window.IsTakenOver());
    EXPECT_EQ(window.finalMessages, 1);

    // The close request for a window that is gone posts nothing.
    window.Close(IDCLOSE);
    MSG msg;
    EXPECT_FALSE(::PeekMessageW(&msg, nullptr, WM_CLOSE, WM_CLOSE, PM_REMOVE));
}

// The wrapper can go while the window it took over lives on, with the shadow's hook (or
// anyone's) on top of its own: the window must still reach its own procedure.
TEST_F(SkinnedWindow, TakenOverWindowOutlivingItsWrapperKeepsItsOwnProcedure) {
    const HWND plain = CreatePlainWindow(200, 100);
    ASSERT_TRUE(plain);

    auto window = std::make_unique<TestWindow>();
    ASSERT_EQ(window->Subclass(plain), plain);
    window->LoadSkin();
    window->paintManager.AttachDialog(window->BuildLayout(L"messageBoxOK.xml"));
    ::ShowWindow(plain, SW_SHOWNOACTIVATE);  // the shadow hooks the window on top of the wrapper
    Pump(20);
    ASSERT_EQ(CountShadows(plain), 1);

    window.reset();
    g_plainMessages.clear();
    EXPECT_EQ(::SendMessageW(plain, WM_USER + 5, 0, 0), 42);
    ::ShowWindow(plain, SW_HIDE);
    EXPECT_FALSE(::IsWindowVisible(plain));
    EXPECT_EQ(CountShadows(plain), 0) << "the shadow went with its object";

    // A new wrapper takes it over again and passes on to the same procedure.
    TestWindow again;
    ASSERT_EQ(again.Subclass(plain), plain);
    EXPECT_EQ(::SendMessageW(plain, WM_USER + 5, 0, 0), 42);
    ::DestroyWindow(plain);
    ASSERT_FALSE(g_plainMessages.empty());
    EXPECT_EQ(g_plainMessages.back(), static_cast<UINT>(WM_NCDESTROY)) << "the last message reaches it too";
    EXPECT_EQ(again.GetHWND(), nullptr);
}

// A window class built on another: what HandleMessage passes on reaches that class's
// procedure; without a base class it reaches DefWindowProc.
class ClassOnWindow : public DuiLib::CWindowWnd {
public:
    ClassOnWindow(const wchar_t* name, const wchar_t* base) : name_(name), base_(base) {}

protected:
    const wchar_t* WindowClassName() const override { return name_; }
    const wchar_t* SuperclassName() const override { return base_; }

private:
    const wchar_t* name_;
    const wchar_t* base_;
};

TEST_F(SkinnedWindow, WindowClassMayBeBuiltOnAnother) {
    ClassOnWindow edit(L"ZephraEditLike", L"EDIT");
    ASSERT_TRUE(edit.Create(nullptr, L"text", WS_POPUP, 0, 0, 0, 100, 20));
    wchar_t className[64] = {};
    ::GetClassNameW(edit.GetHWND(), className, 64);
    EXPECT_STREQ(className, L"ZephraEditLike");
    ::SendMessageW(edit.GetHWND(), EM_SETSEL, 1, 3);
    EXPECT_EQ(::SendMessageW(edit.GetHWND(), EM_GETSEL, 0, 0), MAKELRESULT(1, 3)) << "the edit control's own handling";
    // Created a second time, with the class already there.
    ClassOnWindow second(L"ZephraEditLike", L"EDIT");
    ASSERT_TRUE(second.Create(nullptr, L"more", WS_POPUP, 0, 0, 0, 100, 20));
    ::SendMessageW(second.GetHWND(), EM_SETSEL, 0, 2);
    EXPECT_EQ(::SendMessageW(second.GetHWND(), EM_GETSEL, 0, 0), MAKELRESULT(0, 2));

    TestWindow plain;  // the skinned windows build on nothing
    ASSERT_TRUE(plain.Create(nullptr, L"", WS_POPUP, 0, 0, 0, 100, 20));
    EXPECT_EQ(::SendMessageW(plain.GetHWND(), EM_GETSEL, 0, 0), 0);

    ClassOnWindow missing(L"ZephraOnNothing", L"ZephraNoSuchClass");
    EXPECT_EQ(missing.Create(nullptr, L"", WS_POPUP, 0, 0, 0, 100, 20), nullptr);
}

TEST_F(SkinnedWindow, CentresOverItsOwnerInsideTheWorkArea) {
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const struct {
        RECT owner;  // empty: no owner
        bool minimised;
        POINT expected;
    } cases[] = {
        {{100, 100, 500, 400}, false, {200, 200}},
        {{work.right - 100, 100, work.right + 300, 400}, false, {work.right - 200, 200}},
        {{work.left - 150, work.top - 60, work.left + 50, work.top + 40}, false, {work.left, work.top}},
        {{100, 100, 500, 400}, true,
         {(work.left + work.right) / 2 - 100, (work.top + work.bottom) / 2 - 50}},
        {{0, 0, 0, 0}, false, {(work.left + work.right) / 2 - 100, (work.top + work.bottom) / 2 - 50}},
    };
    for (const auto& c : cases) {
        HWND owner = nullptr;
        if (c.owner.right > c.owner.left) {
            owner = MakePlainWindow(c.owner.left, c.owner.top, c.owner.right - c.owner.left,
                                    c.owner.bottom - c.owner.top);
            if (c.minimised) ::ShowWindow(owner, SW_MINIMIZE);
        }
        TestWindow window;
        ASSERT_TRUE(window.Create(owner, L"", WS_POPUP, 0, 0, 0, 200, 100));
        window.CenterWindow();
        RECT rect{};
        ::GetWindowRect(window.GetHWND(), &rect);
        EXPECT_EQ(rect.left, c.expected.x) << c.owner.left << "," << c.owner.top;
        EXPECT_EQ(rect.top, c.expected.y) << c.owner.left << "," << c.owner.top;
        if (owner) ::DestroyWindow(owner);
    }
}

TEST_F(SkinnedWindow, FontsComeFromTheLayoutsFontTable) {
    TestWindow window;
    ASSERT_TRUE(window.Open(L"mainSkin.xml", kClientX, kClientY));
    const struct {
        int id;
        LONG height;
    } cases[] = {{0, 16}, {1, 16}, {2, 12}};
    for (const auto& c : cases) {
        const HFONT font = window.paintManager.GetFont(c.id);
        LOGFONTW logFont{};
        ASSERT_TRUE(::GetObjectW(font, sizeof(logFont), &logFont));
        EXPECT_STREQ(logFont.lfFaceName, L"Arial");
        EXPECT_EQ(logFont.lfHeight, -c.height) << "character height in pixels";
        EXPECT_EQ(logFont.lfWeight, FW_NORMAL);
        EXPECT_FALSE(logFont.lfItalic);
        EXPECT_EQ(window.paintManager.GetFont(c.id), font) << "made once";
    }
    EXPECT_EQ(window.paintManager.GetFont(7), static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)));
    EXPECT_EQ(window.paintManager.GetFont(-1), static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT)));
}

TEST(Strings, ComeFromTheProgramsStringTable) {
    EXPECT_EQ(LoadResString(132), L"Cancel");
    EXPECT_EQ(LoadResString(146), L"");
    EXPECT_EQ(LoadResString(129), L"Yes");
    EXPECT_EQ(LoadResString(135), L"messageBoxYesNo.xml");
    const std::wstring notice = LoadResString(133);
    EXPECT_EQ(std::count(notice.begin(), notice.end(), L'\n'), 1);
    EXPECT_EQ(notice.substr(notice.size() - 19), L"after this process.");
}

}  // namespace
