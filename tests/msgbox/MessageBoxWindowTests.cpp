// Real message boxes under Wine: built from the skin package's layouts with the fonts the
// system has, sized as the arithmetic says for the extents those fonts report, centred on
// their owner, shadowed, and answering with the system's codes.
#include <gtest/gtest.h>

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

    // As ShowMessageBox prepares it, without the modal run.
    bool Prepare(HWND owner, const wchar_t* layout) {
        if (!Create(owner, nullptr, 0, 0, 0, 0, 0, 0)) return false;
        ::SetWindowLongW(GetHWND(), GWL_STYLE, ::GetWindowLongW(GetHWND(), GWL_STYLE) & ~WS_CAPTION);
        LoadSkin();
        LayoutMessageBox(layout);
        paintManager.EnsureLayout();
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

}  // namespace
