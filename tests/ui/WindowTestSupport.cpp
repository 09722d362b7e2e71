#include "WindowTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "duilib/core/Image.h"
#include "duilib/core/SkinResources.h"

namespace testsupport {

bool TestWindow::Open(const wchar_t* layout, int x, int y, HWND owner) {
    ownerWindow = owner;
    if (!Create(owner, L"Zephra test", WS_POPUP, 0, x, y, 100, 100)) return false;
    LoadSkin();
    paintManager.AttachDialog(BuildLayout(layout));
    paintManager.AddNotifier(this);
    minButton = paintManager.FindControl(L"btnMin");
    maxButton = paintManager.FindControl(L"btnMax");
    closeButton = paintManager.FindControl(L"btnClose");
    return true;
}

LRESULT TestWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE || message == WM_SYSCOMMAND) seen.push_back({message, wParam, NowMs()});
    return CBaseDuilibWnd::HandleMessage(message, wParam, lParam);
}

void TestWindow::Notify(DuiLib::TNotifyUI& msg) {
    if (msg.sType == L"click" && msg.pSender) {
        clicks.push_back(msg.pSender->GetName());
        lastClickAt = NowMs();
        if (ownerWindow) ownerEnabledDuringClick = ::IsWindowEnabled(ownerWindow) != FALSE;
    }
    CBaseDuilibWnd::Notify(msg);
}

double NowMs() {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER now{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Pump(DWORD milliseconds) {
    const DWORD start = ::GetTickCount();
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        if (milliseconds) ::Sleep(5);
    } while (::GetTickCount() - start < milliseconds);
}

Pixels RenderClient(HWND window) {
    Pixels out;
    RECT client{};
    ::GetClientRect(window, &client);
    out.width = client.right;
    out.height = client.bottom;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = out.width;
    info.bmiHeader.biHeight = -out.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    ::SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    ::GdiFlush();
    out.data.assign(static_cast<const std::uint32_t*>(bits),
                    static_cast<const std::uint32_t*>(bits) + static_cast<std::size_t>(out.width) * out.height);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    ::DeleteObject(bitmap);
    return out;
}

SkinImage LoadSkinImage(const wchar_t* name) {
    SkinImage image;
    const auto bytes = DuiLib::SkinResources::ReadFile(name, DuiLib::SkinResources::kMaxImageSize);
    if (!bytes) return image;
    auto decoded = DuiLib::DecodeImage(bytes->data(), bytes->size());
    if (!decoded) return image;
    image.width = decoded->width;
    image.height = decoded->height;
    image.pixels = std::move(decoded->pixels);
    return image;
}

std::uint32_t Over(std::uint32_t source, std::uint32_t destination) {
    const std::uint32_t alpha = source >> 24;
    std::uint32_t out = 0;
    for (int shift : {0, 8, 16}) {
        const std::uint32_t s = (source >> shift) & 0xFF;
        const std::uint32_t d = (destination >> shift) & 0xFF;
        out |= std::min<std::uint32_t>(255, s + (d * (255 - alpha) + 127) / 255) << shift;
    }
    return out;
}

int Distance(std::uint32_t a, std::uint32_t b) {
    int worst = 0;
    for (int shift : {0, 8, 16}) {
        worst = std::max(worst, std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)));
    }
    return worst;
}

}  // namespace testsupport
