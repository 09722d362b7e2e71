// The shadow window following real windows (run under Wine with a headless X server).
#include "ui/WndShadow.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kParentClass[] = L"ShadowTestParent";

// Under Wine on a bare X server (no window manager), hiding or destroying a window that
// Wine hands to the window manager waits a second for it. These windows need no manager;
// the setting applies to this program only and must be in place before its first window.
const bool kUnmanagedUnderWine = [] {
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) return false;
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    const std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") +
                             (slash ? slash + 1 : path) + L"\\X11 Driver";
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const wchar_t no[] = L"N";
    RegSetValueExW(handle, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(no), sizeof(no));
    RegCloseKey(handle);
    return true;
}();

// What the shadow last handed to UpdateLayeredWindow, read back from its DIB top-down.
struct LayeredUpdate {
    int count = 0;
    HWND window = nullptr;
    POINT position{};
    SIZE extent{};
    std::vector<std::uint32_t> pixels;
};

LayeredUpdate& Updates() {
    static LayeredUpdate updates;
    return updates;
}

BOOL WINAPI RecordingUpdateLayeredWindow(HWND window, HDC target, POINT* position, SIZE* extent,
                                         HDC source, POINT* sourcePosition, COLORREF key,
                                         BLENDFUNCTION* blend, DWORD flags) {
    LayeredUpdate& update = Updates();
    ++update.count;
    update.window = window;
    update.position = position ? *position : POINT{};
    update.extent = extent ? *extent : SIZE{};
    update.pixels.clear();
    DIBSECTION dib{};
    const auto bitmap = static_cast<HBITMAP>(GetCurrentObject(source, OBJ_BITMAP));
    if (GetObjectW(bitmap, sizeof(dib), &dib) == sizeof(dib) && dib.dsBm.bmBits) {
        const int width = dib.dsBm.bmWidth;
        const int height = std::abs(dib.dsBmih.biHeight);
        const auto* bits = static_cast<const std::uint32_t*>(dib.dsBm.bmBits);
        for (int y = 0; y < height; ++y) {
            const int memoryRow = dib.dsBmih.biHeight > 0 ? height - 1 - y : y;
            const std::uint32_t* row = bits + static_cast<std::size_t>(memoryRow) * width;
            update.pixels.insert(update.pixels.end(), row, row + width);
        }
    }
    return UpdateLayeredWindow(window, target, position, extent, source, sourcePosition, key, blend,
                               flags);
}

enum class Composition { Off, On };
Composition& CompositionState() {
    static Composition state = Composition::Off;
    return state;
}

HRESULT WINAPI FakeIsCompositionEnabled(BOOL* enabled) {
    *enabled = CompositionState() == Composition::On;
    return S_OK;
}

void Pump() {
    for (int round = 0; round < 3; ++round) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// A window that attaches its shadow the way the skinned windows do: on its first
// WM_SHOWWINDOW, attach, apply the style, force the shadow on screen.
class TestParent {
public:
    TestParent(int x, int y, int width, int height) {
        RegisterParentClass();
        window_ = CreateWindowExW(0, kParentClass, L"parent", WS_POPUP, x, y, width, height,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), this);
        if (!window_) ADD_FAILURE() << "no window: error " << GetLastError();
    }
    ~TestParent() {
        if (IsWindow(window_)) DestroyWindow(window_);
    }
    TestParent(const TestParent&) = delete;
    TestParent& operator=(const TestParent&) = delete;

    HWND Window() const { return window_; }
    CWndShadow* Shadow() const { return shadow.get(); }
    void Show(int command = SW_SHOWNOACTIVATE) {
        ShowWindow(window_, command);
        Pump();
    }

    std::unique_ptr<CWndShadow> shadow = std::make_unique<CWndShadow>();

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<TestParent*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_SHOWWINDOW && self && !self->attached_ && self->shadow) {
            self->attached_ = true;
            self->shadow->AttachTo(window);
            self->shadow->ApplyStyle();
            self->shadow->ForceShow(window);
        }
        if (message == WM_PAINT) {
            PAINTSTRUCT paint;
            BeginPaint(window, &paint);
            EndPaint(window, &paint);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    static void RegisterParentClass() {
        static const bool registered = [] {
            WNDCLASSEXW parentClass{};
            parentClass.cbSize = sizeof(parentClass);
            parentClass.style = CS_HREDRAW | CS_VREDRAW;
            parentClass.lpfnWndProc = &TestParent::Procedure;
            parentClass.hInstance = GetModuleHandleW(nullptr);
            parentClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            parentClass.lpszClassName = kParentClass;
            return RegisterClassExW(&parentClass) != 0;
        }();
        (void)registered;
    }

    HWND window_ = nullptr;
    bool attached_ = false;
};

struct ShadowSearch {
    HWND parent;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectShadowWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<ShadowSearch*>(context);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (std::wstring(className) == L"TolvoShadowWnd" && GetWindow(window, GW_OWNER) == search->parent)
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> ShadowWindowsOf(HWND parent) {
    ShadowSearch search{parent, {}};
    EnumWindows(&CollectShadowWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

RECT WindowRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

void ExpectRect(const RECT& rect, int left, int top, int right, int bottom) {
    EXPECT_EQ(rect.left, left);
    EXPECT_EQ(rect.top, top);
    EXPECT_EQ(rect.right, right);
    EXPECT_EQ(rect.bottom, bottom);
}

// A hook that someone puts on the parent after the shadow's.
WNDPROC& ProcedureBeneathLaterHook() {
    static WNDPROC beneath = nullptr;
    return beneath;
}

LRESULT CALLBACK LaterHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcW(ProcedureBeneathLaterHook(), window, message, wParam, lParam);
}

enum class CompositionQuery { Missing, Fake };

class ShadowWindowTest : public ::testing::Test {
protected:
    void SetUp() override { UseSystem(CompositionQuery::Fake, Composition::Off); }
    void TearDown() override {
        Pump();
        CWndShadow::ResetShadowClass();
    }
    static void UseSystem(CompositionQuery query, Composition composition) {
        CWndShadow::ResetShadowClass();
        CompositionState() = composition;
        CWndShadow::SystemCalls calls;
        calls.updateLayeredWindow = &RecordingUpdateLayeredWindow;
        calls.isCompositionEnabled =
            query == CompositionQuery::Fake ? &FakeIsCompositionEnabled : nullptr;
        ASSERT_TRUE(CWndShadow::RegisterShadowClass(GetModuleHandleW(nullptr), calls));
        Updates() = LayeredUpdate{};
    }
};

TEST_F(ShadowWindowTest, ShadowSurroundsTheParentWithItsOutlineCutOut) {
    // No dwmapi on this system: composition counts as off and the shadow still comes.
    UseSystem(CompositionQuery::Missing, Composition::Off);
    TestParent parent(200, 150, 60, 40);
    // A notched outline: the top left 20 x 10 pixels are not part of the window.
    HRGN outline = CreateRectRgn(20, 0, 60, 10);
    HRGN lower = CreateRectRgn(0, 10, 60, 40);
    CombineRgn(outline, outline, lower, RGN_OR);
    DeleteObject(lower);
    SetWindowRgn(parent.Window(), outline, FALSE);  // the window owns the region now
    parent.Show();

    const std::vector<HWND> shadows = ShadowWindowsOf(parent.Window());
    ASSERT_EQ(shadows.size(), 1u);
    const HWND shadow = shadows.front();
    EXPECT_EQ(parent.Shadow()->ShadowWindow(), shadow);
    EXPECT_EQ(CWndShadow::FollowerOf(parent.Window()), parent.Shadow());
    EXPECT_EQ(GetWindowLongW(shadow, GWL_EXSTYLE) & (WS_EX_LAYERED | WS_EX_TRANSPARENT),
              WS_EX_LAYERED | WS_EX_TRANSPARENT);
    EXPECT_TRUE(IsWindowVisible(shadow));
    ExpectRect(WindowRect(shadow), 192, 142, 268, 198);

    // The image on screen is the renderer's, right way up.
    const LayeredUpdate& update = Updates();
    EXPECT_EQ(update.window, shadow);
    EXPECT_EQ(update.position.x, 192);
    EXPECT_EQ(update.position.y, 142);
    ASSERT_EQ(update.extent.cx, 76);
    ASSERT_EQ(update.extent.cy, 56);
    std::vector<ShadowRowSpan> rows(40, ShadowRowSpan{0, 60});
    for (int y = 0; y < 10; ++y) rows[static_cast<std::size_t>(y)] = {20, 60};
    std::vector<std::uint32_t> expected(76 * 56);
    ASSERT_TRUE(RenderShadow(rows, 60, ShadowStyle{},
                             ShadowImageView::TopDown(expected.data(), 76, 56)));
    EXPECT_EQ(update.pixels, expected);
    EXPECT_EQ(update.pixels[28 * 76 + 7], 0x5D2E2E2Eu);
    EXPECT_NE(update.pixels[12 * 76 + 12], 0u);  // under the notch: shadow shows
    EXPECT_EQ(update.pixels[30 * 76 + 12], 0u);  // under the window: clear
}

TEST_F(ShadowWindowTest, MovesWithTheParentWithoutRenderingAgain) {
    TestParent parent(100, 100, 60, 40);
    parent.Show();
    const HWND shadow = parent.Shadow()->ShadowWindow();
    const int rendered = Updates().count;
    SetWindowPos(parent.Window(), nullptr, 300, 260, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Pump();
    ExpectRect(WindowRect(shadow), 292, 252, 368, 308);
    EXPECT_EQ(Updates().count, rendered);
}

TEST_F(ShadowWindowTest, FollowsHideAndShowWithExactlyOneShadow) {
    TestParent parent(120, 90, 80, 50);
    parent.Show();
    const HWND shadow = parent.Shadow()->ShadowWindow();
    const WNDPROC hooked = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(parent.Window(), GWLP_WNDPROC));

    parent.Show(SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(shadow));
    EXPECT_FALSE(parent.Shadow()->Status() & CWndShadow::ShadowVisible);

    parent.Show();
    EXPECT_TRUE(IsWindowVisible(shadow));
    EXPECT_EQ(ShadowWindowsOf(parent.Window()), std::vector<HWND>{shadow});

    // Attaching again, by the same object or another, neither hooks twice nor adds a window.
    parent.Shadow()->AttachTo(parent.Window());
    CWndShadow second;
    second.AttachTo(parent.Window());
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(parent.Window(), GWLP_WNDPROC)), hooked);
    EXPECT_EQ(CWndShadow::FollowerOf(parent.Window()), parent.Shadow());
    EXPECT_EQ(ShadowWindowsOf(parent.Window()), std::vector<HWND>{shadow});
    parent.Show(SW_HIDE);
    parent.Show();
    EXPECT_TRUE(IsWindowVisible(shadow));
}

TEST_F(ShadowWindowTest, GoesAwayWithTheParent) {
    TestParent parent(50, 60, 70, 30);
    parent.Show();
    const HWND window = parent.Window();
    const HWND shadow = parent.Shadow()->ShadowWindow();
    ASSERT_TRUE(IsWindow(shadow));
    DestroyWindow(window);
    Pump();
    EXPECT_FALSE(IsWindow(shadow));
    EXPECT_EQ(CWndShadow::FollowerOf(window), nullptr);
    parent.shadow.reset();  // the object outlives its window, as in the program
}

TEST_F(ShadowWindowTest, HidesWhileMinimisedAndRendersOnRestore) {
    TestParent parent(150, 120, 60, 40);
    parent.Show();
    const HWND shadow = parent.Shadow()->ShadowWindow();
    parent.Show(SW_MINIMIZE);
    EXPECT_FALSE(IsWindowVisible(shadow));
    const int rendered = Updates().count;
    parent.Show(SW_RESTORE);
    EXPECT_TRUE(IsWindowVisible(shadow));
    EXPECT_GT(Updates().count, rendered);
    ExpectRect(WindowRect(shadow), 142, 112, 218, 168);
}

TEST_F(ShadowWindowTest, GrowthWaitsForPaintShrinkingRendersAtOnce) {
    TestParent parent(100, 100, 60, 40);
    parent.Show();
    const HWND window = parent.Window();
    // The first size change after the forced show marks the shadow as shown.
    SetWindowPos(window, nullptr, 0, 0, 70, 50, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Pump();
    ASSERT_TRUE(parent.Shadow()->Status() & CWndShadow::ShadowVisible);
    const int before = Updates().count;

    SetWindowPos(window, nullptr, 0, 0, 90, 70, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(Updates().count, before);
    UpdateWindow(window);
    EXPECT_EQ(Updates().count, before + 1);
    EXPECT_EQ(Updates().extent.cx, 106);
    EXPECT_EQ(Updates().extent.cy, 86);

    SetWindowPos(window, nullptr, 0, 0, 50, 30, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(Updates().count, before + 2);
    EXPECT_EQ(Updates().extent.cx, 66);
    EXPECT_EQ(Updates().extent.cy, 46);
    Pump();
    EXPECT_EQ(Updates().count, before + 2);  // the paint after a shrink draws nothing more
}

TEST_F(ShadowWindowTest, EndOfASizeOrMoveLoopRendersAgainAndMaximisingHides) {
    TestParent parent(100, 100, 60, 40);
    parent.Show();
    const HWND shadow = parent.Shadow()->ShadowWindow();
    const int before = Updates().count;
    SendMessageW(parent.Window(), WM_EXITSIZEMOVE, 0, 0);
    EXPECT_EQ(Updates().count, before + 1);
    EXPECT_EQ(Updates().extent.cx, 76);
    EXPECT_EQ(Updates().extent.cy, 56);

    parent.Show(SW_MAXIMIZE);
    EXPECT_FALSE(IsWindowVisible(shadow));
    EXPECT_FALSE(parent.Shadow()->Status() & CWndShadow::ShadowVisible);
    parent.Show(SW_RESTORE);
    EXPECT_TRUE(IsWindowVisible(shadow));
    ExpectRect(WindowRect(shadow), 92, 92, 168, 148);
}

TEST_F(ShadowWindowTest, MovesWithTheParentWhileCompositionIsOn) {
    UseSystem(CompositionQuery::Fake, Composition::On);
    TestParent parent(100, 100, 60, 40);
    parent.Show();
    SetWindowPos(parent.Window(), nullptr, 250, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Pump();
    ExpectRect(WindowRect(parent.Shadow()->ShadowWindow()), 242, 32, 318, 88);
}

TEST_F(ShadowWindowTest, TinyParentsGetATinyShadow) {
    struct Case { int width, height; };
    for (const Case& c : {Case{1, 1}, Case{0, 0}, Case{0, 12}}) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        TestParent parent(100, 100, c.width, c.height);
        parent.Show();
        const HWND shadow = parent.Shadow()->ShadowWindow();
        ASSERT_TRUE(IsWindow(shadow));
        ExpectRect(WindowRect(shadow), 92, 92, 108 + c.width, 108 + c.height);
        EXPECT_EQ(Updates().extent.cx, 16 + c.width);
        EXPECT_EQ(Updates().extent.cy, 16 + c.height);
        EXPECT_EQ(Updates().pixels.size(), static_cast<std::size_t>((16 + c.width) * (16 + c.height)));
    }
}

TEST_F(ShadowWindowTest, CompositionChangesAreFollowed) {
    UseSystem(CompositionQuery::Fake, Composition::On);
    TestParent parent(100, 100, 60, 40);
    parent.Show();
    const CWndShadow* shadow = parent.Shadow();
    // Forced on screen even though composition is on.
    EXPECT_TRUE(IsWindowVisible(shadow->ShadowWindow()));
    EXPECT_TRUE(shadow->Status() & CWndShadow::DisabledByComposition);
    EXPECT_FALSE(shadow->Status() & CWndShadow::ShadowVisible);

    CompositionState() = Composition::Off;
    SendMessageW(parent.Window(), WM_DWMCOMPOSITIONCHANGED, 0, 0);
    EXPECT_FALSE(shadow->Status() & CWndShadow::DisabledByComposition);
    EXPECT_TRUE(shadow->Status() & CWndShadow::ShadowVisible);
    parent.Show(SW_MINIMIZE);
    EXPECT_FALSE(IsWindowVisible(shadow->ShadowWindow()));
}

TEST_F(ShadowWindowTest, DestroyingTheObjectFirstLeavesTheParentWorking) {
    struct Case {
        const char* name;
        bool laterHook;  // someone hooked the parent after the shadow did
    };
    for (const Case& c : {Case{"hook on top", false}, Case{"later hook on top", true}}) {
        SCOPED_TRACE(c.name);
        TestParent parent(100, 100, 60, 40);
        parent.Show();
        const HWND window = parent.Window();
        const HWND shadow = parent.Shadow()->ShadowWindow();
        if (c.laterHook) {
            ProcedureBeneathLaterHook() = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LaterHook)));
        }
        parent.shadow.reset();
        EXPECT_FALSE(IsWindow(shadow));
        EXPECT_EQ(CWndShadow::FollowerOf(window), nullptr);
        if (!c.laterHook) {
            EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC),
                      GetClassLongPtrW(window, GCLP_WNDPROC));
        }
        // Messages still reach the window's own procedure.
        SetWindowPos(window, nullptr, 0, 0, 90, 70, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        parent.Show(SW_HIDE);
        parent.Show();
        EXPECT_TRUE(IsWindowVisible(window));
        ExpectRect(WindowRect(window), 100, 100, 190, 170);
    }
}

TEST_F(ShadowWindowTest, NoLayeredWindowsMeansNoShadow) {
    CWndShadow::ResetShadowClass();
    CWndShadow::SystemCalls calls;
    calls.isCompositionEnabled = &FakeIsCompositionEnabled;
    EXPECT_FALSE(CWndShadow::RegisterShadowClass(GetModuleHandleW(nullptr), calls));
    TestParent parent(100, 100, 60, 40);
    parent.Show();
    EXPECT_TRUE(ShadowWindowsOf(parent.Window()).empty());
    EXPECT_EQ(CWndShadow::FollowerOf(parent.Window()), nullptr);
    EXPECT_EQ(GetWindowLongPtrW(parent.Window(), GWLP_WNDPROC),
              GetClassLongPtrW(parent.Window(), GCLP_WNDPROC));
}

TEST_F(ShadowWindowTest, SystemSetUpRunsOnce) {
    CWndShadow::ResetShadowClass();
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    ASSERT_TRUE(CWndShadow::RegisterShadowClass(instance));
    EXPECT_FALSE(CWndShadow::RegisterShadowClass(instance));
    TestParent parent(100, 100, 60, 40);
    parent.Show();
    const std::vector<HWND> shadows = ShadowWindowsOf(parent.Window());
    ASSERT_EQ(shadows.size(), 1u);
    EXPECT_TRUE(IsWindowVisible(shadows.front()));
    ExpectRect(WindowRect(shadows.front()), 92, 92, 168, 148);
}

TEST(ShadowWindowSpans, FollowTheWindowRegion) {
    struct Case {
        const char* name;
        HRGN region;  // null: no window region
    };
    HRGN gapped = CreateRectRgn(0, 0, 50, 10);
    HRGN lower = CreateRectRgn(5, 20, 45, 30);
    CombineRgn(gapped, gapped, lower, RGN_OR);
    DeleteObject(lower);
    const Case cases[] = {
        {"none", nullptr},
        {"rounded", CreateRoundRectRgn(0, 0, 51, 31, 16, 16)},
        {"gapped", gapped},
        {"outside", CreateRectRgn(60, 40, 90, 70)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestParent parent(10, 10, 50, 30);
        HRGN copy = nullptr;
        if (c.region) {
            copy = CreateRectRgn(0, 0, 0, 0);
            CombineRgn(copy, c.region, nullptr, RGN_COPY);
            SetWindowRgn(parent.Window(), c.region, FALSE);
        }
        const std::vector<ShadowRowSpan> rows = ReadWindowSpans(parent.Window(), 50, 30);
        ASSERT_EQ(rows.size(), 30u);
        for (int y = 0; y < 30; ++y) {
            int first = -1, last = -1;
            for (int x = 0; x < 50; ++x) {
                if (copy && !PtInRegion(copy, x, y)) continue;
                if (first < 0) first = x;
                last = x;
            }
            const ShadowRowSpan& row = rows[static_cast<std::size_t>(y)];
            if (first < 0) {
                EXPECT_TRUE(row.Empty()) << "row " << y;
            } else {
                EXPECT_EQ(row.begin, first) << "row " << y;
                EXPECT_EQ(row.end, last + 1) << "row " << y;
            }
        }
        if (copy) DeleteObject(copy);
    }
    const std::vector<ShadowRowSpan> zeroWidth = ReadWindowSpans(nullptr, 0, 5);
    ASSERT_EQ(zeroWidth.size(), 5u);
    for (const ShadowRowSpan& row : zeroWidth) EXPECT_TRUE(row.Empty());
}

}  // namespace
