#include "duilib/win/Dpi.h"

#include "duilib/core/DpiScale.h"

namespace DuiLib {
namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

GetDpiForWindowFn LookUpGetDpiForWindow() {
    // user32 is a known DLL and already loaded: no search path is involved.
    const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    if (!user32) return nullptr;
    return reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(user32, "GetDpiForWindow")));
}

int ScreenDpi() {
    const HDC screen = ::GetDC(nullptr);
    if (!screen) return kDesignDpi;
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSX);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

}  // namespace

int DpiOfWindow(HWND window) {
    static const GetDpiForWindowFn getDpiForWindow = LookUpGetDpiForWindow();
    if (getDpiForWindow && window) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) return SaneDpi(static_cast<int>(dpi));
    }
    return SaneDpi(ScreenDpi());
}

}  // namespace DuiLib
