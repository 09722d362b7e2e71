// The plainest Win32 window program: one 700x490 popup, centred, painted with one fill.
// The start-up benchmark measures Zephra against it. Built a second time with
// BARE_WINDOW_WITH_PROGRAM_IMPORTS, it also imports the system DLLs that zephra.exe
// imports, and so tells their loading (Wine's) apart from the program's own start.
#include <windows.h>

#ifdef BARE_WINDOW_WITH_PROGRAM_IMPORTS
#include <ole2.h>
#include <oleauto.h>
#include <setupapi.h>

// One function of each, referred to so that the linker keeps the imports.
void* volatile programImports[] = {reinterpret_cast<void*>(&::RegCloseKey), reinterpret_cast<void*>(&::CoInitializeEx),
                                   reinterpret_cast<void*>(&::SysFreeString),
                                   reinterpret_cast<void*>(&::SetupDiDestroyDeviceInfoList)};
#endif

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint;
            const HDC dc = ::BeginPaint(window, &paint);
            ::FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
            ::EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"BareWindow";
    ::RegisterClassExW(&wc);
    const int x = (::GetSystemMetrics(SM_CXSCREEN) - 700) / 2;
    const int y = (::GetSystemMetrics(SM_CYSCREEN) - 490) / 2;
    ::CreateWindowExW(WS_EX_APPWINDOW, L"BareWindow", L"", WS_POPUP | WS_VISIBLE, x, y, 700, 490, nullptr, nullptr,
                      instance, nullptr);
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return 0;
}
