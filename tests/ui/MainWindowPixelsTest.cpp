#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "WindowTestSupport.h"
#include "duilib/core/Image.h"

using DuiLib::CPaintManagerUI;
using testsupport::Distance;
using testsupport::LoadSkinImage;
using testsupport::Over;
using testsupport::Pixels;
using testsupport::Pump;
using testsupport::SkinImage;
using testsupport::TestWindow;

namespace {

// Rounding in the blend may differ by a step or two between systems.
constexpr int kTolerance = 3;

// Places free of controls and text, where only the background shows.
const POINT kBackgroundSpots[] = {{5, 5}, {350, 16}, {20, 100}, {640, 250}, {450, 200}, {30, 470}, {690, 480}};

struct Placed {
    const wchar_t* image;
    int x;
    int y;
};
const Placed kTitleButtons[] = {{L"1btnMinNormal.png", 658, 5}, {L"1btnCloseNormal.png", 679, 5}};

// Compares every pixel of a 1:1 image drawn over the background at (x, y) in a capture
// whose client origin is at (originX, originY).
void ExpectImageAt(const Pixels& capture, int originX, int originY, const SkinImage& background,
                   const SkinImage& image, int x, int y, const wchar_t* name) {
    int worst = 0;
    for (int row = 0; row < image.height; ++row) {
        for (int column = 0; column < image.width; ++column) {
            const std::uint32_t expected = Over(image.At(column, row), background.At(x + column, y + row));
            worst = std::max(worst, Distance(capture.At(originX + x + column, originY + y + row), expected));
        }
    }
    EXPECT_LE(worst, kTolerance) << std::string(name, name + std::wcslen(name));
}

class MainWindowPixels : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CWndShadow::RegisterShadowClass(::GetModuleHandleW(nullptr)); }
    void SetUp() override {
        CPaintManagerUI::CloseZip();
        ASSERT_TRUE(window.Open(L"mainSkin.xml", 120, 100));
        background = LoadSkinImage(L"mainWnd.jpg");
        ASSERT_EQ(background.width, 700);
        ASSERT_EQ(background.height, 490);
    }

    TestWindow window;
    SkinImage background;
};

TEST_F(MainWindowPixels, BackgroundAndTitleButtonsWhereTheLayoutPutsThem) {
    const Pixels capture = testsupport::RenderClient(window.GetHWND());
    ASSERT_EQ(capture.width, 700);
    ASSERT_EQ(capture.height, 490);
    for (const POINT& p : kBackgroundSpots) {
        EXPECT_LE(Distance(capture.At(p.x, p.y), background.At(p.x, p.y)), kTolerance) << p.x << "," << p.y;
    }
    for (const Placed& button : kTitleButtons) {
        const SkinImage image = LoadSkinImage(button.image);
        ASSERT_EQ(image.width, 16);
        ExpectImageAt(capture, 0, 0, background, image, button.x, button.y, button.image);
    }
    // The heading is drawn in black over the background.
    int darkest = 255;
    for (int y = 112; y < 156; ++y) {
        for (int x = 81; x < 383; ++x) {
            const std::uint32_t p = capture.At(x, y);
            darkest = std::min<int>(darkest, std::max({p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF}));
        }
    }
    EXPECT_LT(darkest, 64) << "\"Tavik VX310 Series SSD\" in black";
}

// The off-screen buffer kept from one paint to the next is made again whenever the client
// changes size, either way, either side alone: what is drawn after each change is what a
// window first painted at that size draws.
TEST_F(MainWindowPixels, EveryChangeOfClientSizeIsDrawnAsAtThatSizeFromTheStart) {
    const auto resize = [](HWND hwnd, int width, int height) {
        ::SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
        Pump();
    };
    testsupport::RenderClient(window.GetHWND());  // the buffer made at 700 x 490
    const SIZE sizes[] = {{700, 560}, {700, 420}, {760, 420}, {640, 420}, {720, 500}};
    for (const SIZE& size : sizes) {
        SCOPED_TRACE(std::to_string(size.cx) + "x" + std::to_string(size.cy));
        resize(window.GetHWND(), size.cx, size.cy);
        const Pixels kept = testsupport::RenderClient(window.GetHWND());
        TestWindow fresh;
        ASSERT_TRUE(fresh.Open(L"mainSkin.xml", 120, 100));
        resize(fresh.GetHWND(), size.cx, size.cy);
        const Pixels first = testsupport::RenderClient(fresh.GetHWND());
        fresh.Close();
        Pump();
        ASSERT_EQ(kept.width, size.cx);
        ASSERT_EQ(kept.height, size.cy);
        ASSERT_EQ(first.width, kept.width);
        ASSERT_EQ(first.height, kept.height);
        int differing = 0;
        for (std::size_t i = 0; i < kept.data.size(); ++i) differing += (kept.data[i] & 0xFFFFFF) != (first.data[i] & 0xFFFFFF);
        EXPECT_EQ(differing, 0);
    }
}

TEST_F(MainWindowPixels, PointerOverAButtonShowsItsHotImage) {
    ::SendMessageW(window.GetHWND(), WM_MOUSEMOVE, 0, MAKELPARAM(685, 10));
    const Pixels hot = testsupport::RenderClient(window.GetHWND());
    ExpectImageAt(hot, 0, 0, background, LoadSkinImage(L"1btnCloseHot.png"), 679, 5, L"1btnCloseHot.png");
    ExpectImageAt(hot, 0, 0, background, LoadSkinImage(L"1btnMinNormal.png"), 658, 5, L"1btnMinNormal.png");

    // Pressed, the close button has no image of its own for that state: its normal one shows.
    ::SendMessageW(window.GetHWND(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(685, 10));
    const Pixels pushed = testsupport::RenderClient(window.GetHWND());
    ExpectImageAt(pushed, 0, 0, background, LoadSkinImage(L"1btnCloseNormal.png"), 679, 5, L"1btnCloseNormal.png");
    ::ReleaseCapture();
}

// A device change sets the panel's texts: the window repaints the labels that changed,
// and a repaint of part of the window draws there what a whole one would, and nothing else.
TEST_F(MainWindowPixels, ATextChangeRepaintsItsLabelAlone) {
    const HWND hwnd = window.GetHWND();
    ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    ::UpdateWindow(hwnd);
    Pump(50);
    RECT pending{};
    ASSERT_FALSE(::GetUpdateRect(hwnd, &pending, FALSE)) << "painted";

    DuiLib::CControlUI* model = window.paintManager.FindControl(L"LabelMnVal");
    ASSERT_TRUE(model);
    model->SetText(L"Tavik VX310 512GB");
    testsupport::RenderClient(hwnd);  // the window's buffer now holds the first text
    ::ValidateRect(hwnd, nullptr);
    model->SetText(L"Tavik VX310 Pro 1TB");
    model->SetText(L"Tavik VX310 Pro 1TB");  // the same text again changes nothing
    ASSERT_TRUE(::GetUpdateRect(hwnd, &pending, FALSE));
    const DuiLib::UiRect& label = model->GetPos();
    EXPECT_EQ(pending.left, label.left);
    EXPECT_EQ(pending.top, label.top);
    EXPECT_EQ(pending.right, label.right);
    EXPECT_EQ(pending.bottom, label.bottom);

    // The repaint of that rectangle onto a canvas of another colour.
    constexpr std::uint32_t kCanvas = 0x00FF00FFu;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = 700;
    info.bmiHeader.biHeight = -490;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_TRUE(bitmap && bits);
    auto* canvas = static_cast<std::uint32_t*>(bits);
    std::fill(canvas, canvas + 700 * 490, kCanvas);
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    window.paintManager.PaintTo(dc, pending);
    ::GdiFlush();
    const Pixels whole = testsupport::RenderClient(hwnd);
    int outside = 0;
    int differing = 0;
    for (int y = 0; y < 490; ++y) {
        for (int x = 0; x < 700; ++x) {
            const std::uint32_t p = canvas[y * 700 + x] & 0xFFFFFF;
            const bool inside = x >= pending.left && x < pending.right && y >= pending.top && y < pending.bottom;
            if (!inside) {
                outside += p != kCanvas;
            } else {
                differing += Distance(p, whole.At(x, y)) > kTolerance;
            }
        }
    }
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    ::DeleteObject(bitmap);
    EXPECT_EQ(outside, 0) << "pixels drawn outside the repainted rectangle";
    EXPECT_EQ(differing, 0) << "pixels unlike a whole repaint, the earlier text among them";
}

// The message box's layout, sized and placed by code as the message box does it.
TEST(MessageBoxPixels, BorderBackgroundAndPlacedButton) {
    CPaintManagerUI::CloseZip();
    TestWindow box;
    ASSERT_TRUE(box.Open(L"messageBoxOK.xml", 200, 150));
    ::SetWindowPos(box.GetHWND(), nullptr, 0, 0, 345, 143, 0);
    DuiLib::CControlUI* ok = box.paintManager.FindControl(L"btnOK");
    DuiLib::CControlUI* message = box.paintManager.FindControl(L"txtMsg");
    ASSERT_TRUE(ok && message);
    ok->SetPos({132, 95, 212, 123});
    ok->SetText(L"Ok");
    message->SetFixedWidth(305);
    message->SetFixedHeight(28);
    message->SetPos({20, 60, 325, 88});
    message->SetText(L"Open Device error, error code 5");
    message->NeedParentUpdate();

    const Pixels capture = testsupport::RenderClient(box.GetHWND());
    ASSERT_EQ(capture.width, 345);
    ASSERT_EQ(capture.height, 143);
    // A one-pixel border, "#00000000" drawn opaque black, around white.
    for (const POINT& p : {POINT{0, 0}, POINT{344, 0}, POINT{0, 142}, POINT{344, 142}, POINT{172, 0}, POINT{0, 70}}) {
        EXPECT_EQ(capture.At(p.x, p.y), 0x000000u) << p.x << "," << p.y;
    }
    for (const POINT& p : {POINT{1, 1}, POINT{343, 141}, POINT{10, 50}}) {
        EXPECT_EQ(capture.At(p.x, p.y), 0xFFFFFFu) << p.x << "," << p.y;
    }
    // The button image 1:1 where the code put it; its rows above and below the text.
    const SkinImage image = LoadSkinImage(L"1redBtnNormal.png");
    ASSERT_EQ(image.width, 80);
    ASSERT_EQ(image.height, 28);
    int worst = 0;
    for (int row : {0, 1, 2, 3, 24, 25, 26, 27}) {
        for (int column = 0; column < 80; ++column) {
            worst = std::max(worst, Distance(capture.At(132 + column, 95 + row), Over(image.At(column, row), 0xFFFFFF)));
        }
    }
    EXPECT_LE(worst, kTolerance);
    // The message is drawn in black inside its rectangle, nothing of it outside.
    int darkest = 255;
    for (int y = 60; y < 88; ++y) {
        for (int x = 20; x < 325; ++x) darkest = std::min<int>(darkest, capture.At(x, y) & 0xFF);
    }
    EXPECT_LT(darkest, 64);
    EXPECT_EQ(capture.At(20, 59), 0xFFFFFFu);
}

// The real window on the X display, as a screenshot taken with ImageMagick's import.
TEST_F(MainWindowPixels, ScreenshotShowsTheWindow) {
    wchar_t display[256] = {};
    if (!::GetEnvironmentVariableW(L"DISPLAY", display, 256)) GTEST_SKIP() << "no X display";
    // Unix paths for the shell; Wine sees the same files under drive Z:.
    const std::string folder = ZEPHRA_SCREENSHOT_DIR;
    const std::string shot = folder + "/main-window.png";
    const std::string partial = folder + "/main-window.partial.png";
    auto onZ = [](const std::string& unixPath) { return std::wstring(L"Z:") + std::wstring(unixPath.begin(), unixPath.end()); };
    const std::wstring zShot = onZ(shot);
    std::error_code ignored;
    std::filesystem::create_directories(onZ(folder), ignored);
    std::filesystem::remove(zShot, ignored);

    window.ShowWindow();
    ::SetWindowPos(window.GetHWND(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::UpdateWindow(window.GetHWND());
    Pump(400);

    // The shot covers the window and its shadow: the client origin is at (20, 20) in it.
    const std::string command = "/bin/sh -c \"import -window root -crop 740x530+100+80 +repage '" +
                                partial + "' && mv '" + partial + "' '" + shot + "'\"";
    std::wstring wide(command.begin(), command.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        GTEST_SKIP() << "cannot start import";
    }
    if (process.hThread) ::CloseHandle(process.hThread);
    if (process.hProcess) ::CloseHandle(process.hProcess);
    // Keep the window answering while the shot is taken.
    for (int i = 0; i < 200 && !std::filesystem::exists(zShot, ignored); ++i) Pump(50);
    ASSERT_TRUE(std::filesystem::exists(zShot, ignored)) << "no screenshot";

    std::vector<std::uint8_t> png(std::filesystem::file_size(zShot));
    FILE* file = _wfopen(zShot.c_str(), L"rb");
    ASSERT_TRUE(file);
    const std::size_t read = std::fread(png.data(), 1, png.size(), file);
    std::fclose(file);
    ASSERT_EQ(read, png.size());
    const auto decoded = DuiLib::DecodeImage(png.data(), png.size());
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->width, 740);
    ASSERT_EQ(decoded->height, 530);
    Pixels screen;
    screen.width = decoded->width;
    screen.height = decoded->height;
    screen.data = decoded->pixels;

    constexpr int kOrigin = 20;
    for (const POINT& p : kBackgroundSpots) {
        EXPECT_LE(Distance(screen.At(kOrigin + p.x, kOrigin + p.y), background.At(p.x, p.y)), kTolerance)
            << p.x << "," << p.y;
    }
    for (const Placed& button : kTitleButtons) {
        ExpectImageAt(screen, kOrigin, kOrigin, background, LoadSkinImage(button.image), button.x, button.y,
                      button.image);
    }
}

}  // namespace
