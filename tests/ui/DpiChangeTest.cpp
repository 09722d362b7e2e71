// A skinned window that the system moves to a screen of another DPI (WM_DPICHANGED):
// its layout, fonts, images and shadow follow, it takes the rectangle suggested, and
// back at 96 it is what it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "WindowTestSupport.h"
#include "duilib/core/DpiScale.h"
#include "ui/DuiMessageBox.h"

using DuiLib::CPaintManagerUI;
using DuiLib::ScaleByDpi;
using DuiLib::UiRect;
using testsupport::Pixels;
using testsupport::Pump;
using testsupport::TestWindow;

namespace {

RECT WindowRect(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    return r;
}

// What the system sends: the new DPI in both halves of wParam, the rectangle it suggests.
void SendDpiChanged(HWND window, int dpi, RECT suggested) {
    ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    Pump();
}

int FontHeight(HFONT font) {
    LOGFONTW log{};
    ::GetObjectW(font, sizeof log, &log);
    return log.lfHeight;
}

const wchar_t* const kControls[] = {L"btnMin", L"btnClose", L"LabelDevice", L"LabelMN", L"LabelCapVal",
                                    L"TextNotice", L"btnOption"};

class DpiChange : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CWndShadow::RegisterShadowClass(::GetModuleHandleW(nullptr)); }
    void SetUp() override {
        CPaintManagerUI::CloseZip();
        ASSERT_TRUE(window.Open(L"mainSkin.xml", 40, 30));
        ASSERT_EQ(window.paintManager.GetDpi(), 96) << "the test prefix runs at 96 DPI";
        ::ShowWindow(window.GetHWND(), SW_SHOWNOACTIVATE);
        Pump(50);
    }
    void TearDown() override {
        window.Close();
        Pump(50);
        CPaintManagerUI::CloseZip();
    }

    UiRect PosOf(const wchar_t* name) { return window.paintManager.FindControl(name)->GetPos(); }
    RECT ShadowRect() {
        const CWndShadow* shadow = CWndShadow::FollowerOf(window.GetHWND());
        return shadow ? WindowRect(shadow->ShadowWindow()) : RECT{};
    }

    TestWindow window;
};

TEST_F(DpiChange, TheWindowIsLaidOutAgainAtTheNewDpiAndBack) {
    const HWND hwnd = window.GetHWND();
    window.paintManager.EnsureLayout();
    std::vector<UiRect> at96;
    for (const wchar_t* name : kControls) at96.push_back(PosOf(name));
    const Pixels before = testsupport::RenderClient(hwnd);
    ASSERT_EQ(before.width, 700);

    for (const int dpi : {144, 192, 120, 168}) {
        SCOPED_TRACE(dpi);
        const RECT suggested{100, 60, 100 + ScaleByDpi(700, dpi), 60 + ScaleByDpi(490, dpi)};
        SendDpiChanged(hwnd, dpi, suggested);
        const RECT r = WindowRect(hwnd);
        EXPECT_EQ(r.left, 100);
        EXPECT_EQ(r.top, 60);
        EXPECT_EQ(r.right - r.left, ScaleByDpi(700, dpi));
        EXPECT_EQ(r.bottom - r.top, ScaleByDpi(490, dpi));
        EXPECT_EQ(window.paintManager.GetDpi(), dpi);
        window.paintManager.EnsureLayout();
        for (std::size_t i = 0; i < std::size(kControls); ++i) {
            const UiRect& d = at96[i];
            const int left = ScaleByDpi(d.left, dpi), top = ScaleByDpi(d.top, dpi);
            EXPECT_EQ(PosOf(kControls[i]), (UiRect{left, top, left + ScaleByDpi(d.Width(), dpi),
                                                   top + ScaleByDpi(d.Height(), dpi)}));
        }
        EXPECT_EQ(window.paintManager.GetCaptionRect().bottom, ScaleByDpi(32, dpi));
        EXPECT_EQ(FontHeight(window.paintManager.GetFont(0)), -ScaleByDpi(16, dpi));
        EXPECT_EQ(FontHeight(window.paintManager.GetFont(2)), -ScaleByDpi(12, dpi));
        // The shadow follows with its reach scaled.
        const int reach = ScaleByDpi(8, dpi);
        const RECT s = ShadowRect();
        EXPECT_EQ(s.left, r.left - reach);
        EXPECT_EQ(s.top, r.top - reach);
        EXPECT_EQ(s.right, r.right + reach);
        EXPECT_EQ(s.bottom, r.bottom + reach);

        // Drawn at the new size; at 125 %, 150 %, 175 % and 200 % the background is that
        // scale's own image, pixel for pixel.
        const Pixels drawn = testsupport::RenderClient(hwnd);
        ASSERT_EQ(drawn.width, ScaleByDpi(700, dpi));
        ASSERT_EQ(drawn.height, ScaleByDpi(490, dpi));
        if (dpi == 120 || dpi == 144 || dpi == 168 || dpi == 192) {
            const testsupport::SkinImage background = testsupport::LoadSkinImage(
                dpi == 120   ? L"mainWnd@1.25x.jpg"
                : dpi == 144 ? L"mainWnd@1.5x.jpg"
                : dpi == 168 ? L"mainWnd@1.75x.jpg"
                             : L"mainWnd@2x.jpg");
            ASSERT_EQ(background.width, drawn.width);
            for (const POINT p : {POINT{5, 5}, POINT{350, 16}, POINT{20, 100}, POINT{640, 250}, POINT{690, 480}}) {
                const int x = ScaleByDpi(p.x, dpi), y = ScaleByDpi(p.y, dpi);
                EXPECT_LE(testsupport::Distance(drawn.At(x, y), background.At(x, y)), 3) << x << "," << y;
            }
        }
    }

    const RECT home{40, 30, 740, 520};
    SendDpiChanged(hwnd, 96, home);
    window.paintManager.EnsureLayout();
    for (std::size_t i = 0; i < std::size(kControls); ++i) EXPECT_EQ(PosOf(kControls[i]), at96[i]) << i;
    const Pixels after = testsupport::RenderClient(hwnd);
    ASSERT_EQ(after.width, before.width);
    ASSERT_EQ(after.height, before.height);
    EXPECT_TRUE(after.data == before.data) << "back at 96 every pixel is as before";
    const RECT s = ShadowRect();
    EXPECT_EQ(s.right - s.left, 716);
    EXPECT_EQ(s.bottom - s.top, 506);
}

// The box as ShowMessageBox prepares it, without the modal run.
class Box : public CDuiMessageBox {
public:
    using CDuiMessageBox::CDuiMessageBox;
    using CDuiMessageBox::paintManager;
    bool Prepare(const wchar_t* layout) {
        if (!Create(nullptr, nullptr, 0, 0, 0, 0, 0, 0)) return false;
        ::SetWindowLongW(GetHWND(), GWL_STYLE, ::GetWindowLongW(GetHWND(), GWL_STYLE) & ~WS_CAPTION);
        LoadSkin();
        LayoutMessageBox(layout);
        return true;
    }
};

TEST(DpiChangeBox, TheBoxIsMeasuredAndPlacedAgain) {
    CPaintManagerUI::CloseZip();
    Box box(MessageBoxTypeYesNo, L"Computer will shut down after this process. \nAre you ready to proceed?", L"Yes",
            L"No");
    ASSERT_TRUE(box.Prepare(L"messageBoxYesNo.xml"));
    const MessageBoxGeometry at96 = box.Geometry();
    const RECT suggested{200, 150, 200 + 2 * at96.width, 150 + 2 * at96.height};
    SendDpiChanged(box.GetHWND(), 192, suggested);
    const MessageBoxGeometry& g = box.Geometry();
    EXPECT_EQ(g.button.width, 160);
    EXPECT_EQ(g.button.height, 56);
    // Measured again in the 24-pixel font: about twice the text, give or take the hinting.
    EXPECT_NEAR(g.textWidth, 2 * at96.textWidth, at96.textWidth / 10);
    EXPECT_NEAR(g.width, 2 * at96.width, at96.width / 10);
    const RECT r = WindowRect(box.GetHWND());
    EXPECT_EQ(r.left, 200) << "at the suggested place";
    EXPECT_EQ(r.top, 150);
    EXPECT_EQ(r.right - r.left, g.width) << "sized by the arithmetic";
    EXPECT_EQ(r.bottom - r.top, g.height);
    box.paintManager.EnsureLayout();
    EXPECT_EQ(box.paintManager.FindControl(L"btnYes")->GetPos(), *g.first);
    EXPECT_EQ(box.paintManager.FindControl(L"ctrlIcon")->GetPos(), *g.icon);
    EXPECT_EQ(box.paintManager.FindControl(L"txtMsg")->GetPos(), *g.message);
    box.Close();
    Pump(20);
    CPaintManagerUI::CloseZip();
}

}  // namespace
