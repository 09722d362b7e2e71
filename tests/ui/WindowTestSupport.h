#pragma once
// Helpers of the window tests: a skinned test window that records what it receives,
// message pumping, and rendering a window's client area into pixels.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/BaseDuilibWnd.h"

namespace testsupport {

class TestWindow : public CBaseDuilibWnd {
public:
    using CBaseDuilibWnd::closeButton;
    using CBaseDuilibWnd::maxButton;
    using CBaseDuilibWnd::minButton;
    using CBaseDuilibWnd::paintManager;
    using CBaseDuilibWnd::skinPackage;

    // Creates a popup window at (x, y), skins it with the layout and looks up the buttons.
    bool Open(const wchar_t* layout, int x, int y, HWND ownerWindow = nullptr);

    struct Seen {
        UINT message;
        WPARAM wParam;
        double when;  // milliseconds, see NowMs
    };
    std::vector<Seen> seen;  // WM_CLOSE and WM_SYSCOMMAND as they arrive
    std::vector<std::wstring> clicks;
    double lastClickAt = 0;
    bool ownerEnabledDuringClick = true;
    HWND ownerWindow = nullptr;
    int finalMessages = 0;

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Notify(DuiLib::TNotifyUI& msg) override;
    void FinalMessage(HWND) override { ++finalMessages; }
};

// A high-resolution clock in milliseconds.
double NowMs();

// Dispatches the thread's messages for about the given time.
void Pump(DWORD milliseconds = 0);

// A client area as 0x00RRGGBB pixels, top-down.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> data;
    std::uint32_t At(int x, int y) const { return data[static_cast<std::size_t>(y) * width + x] & 0xFFFFFF; }
};
Pixels RenderClient(HWND window);

// A skin image from the registered package, premultiplied 0xAARRGGBB.
struct SkinImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};
SkinImage LoadSkinImage(const wchar_t* name);

// source (premultiplied) over an opaque destination.
std::uint32_t Over(std::uint32_t source, std::uint32_t destination);
// Largest channel difference.
int Distance(std::uint32_t a, std::uint32_t b);

}  // namespace testsupport
