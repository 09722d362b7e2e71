#include "duilib/win/WindowWnd.h"

#include <utility>

#include "duilib/win/PaintManager.h"

namespace DuiLib {
namespace {

// A taken-over window's own procedure, kept on the window itself: when the wrapper goes
// while someone else's hook sits on top of it, the procedure cannot be put back, and the
// wrapper's procedure must still pass the window's messages on to it.
constexpr wchar_t kOwnProcProperty[] = L"DuiLibOwnWindowProc";

WNDPROC OwnProcOf(HWND window) { return reinterpret_cast<WNDPROC>(::GetPropW(window, kOwnProcProperty)); }

}  // namespace

CWindowWnd::~CWindowWnd() { ReleaseWindow(); }

bool CWindowWnd::RegisterWindowClass() { return RegisterClassProc() != nullptr; }

WNDPROC CWindowWnd::RegisterClassProc() {
    const HINSTANCE instance = CPaintManagerUI::GetInstance();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    WNDPROC passOnTo = ::DefWindowProcW;
    if (const wchar_t* base = SuperclassName()) {
        // The base class's settings and procedure, under this class's name.
        if (!::GetClassInfoExW(nullptr, base, &wc) && !::GetClassInfoExW(instance, base, &wc)) return nullptr;
        wc.cbSize = sizeof(wc);
        passOnTo = wc.lpfnWndProc;
    } else {
        wc.style = ClassStyle();
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    }
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = WindowClassName();
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
    return passOnTo;
}

HWND CWindowWnd::Create(HWND owner, const wchar_t* name, DWORD style, DWORD exStyle, int x, int y, int cx, int cy,
                        HMENU menu) {
    if (hwnd_) return nullptr;
    const WNDPROC passOnTo = RegisterClassProc();
    if (!passOnTo) return nullptr;
    previousProc_ = passOnTo;
    takenOver_ = false;
    // The handle is stored when WM_NCCREATE arrives, so every later message finds the object.
    return ::CreateWindowExW(exStyle, WindowClassName(), name, style, x, y, cx, cy, owner, menu,
                             CPaintManagerUI::GetInstance(), this);
}

HWND CWindowWnd::Subclass(HWND window) {
    if (hwnd_ || !::IsWindow(window)) return nullptr;
    // The object goes in first: the first message through the new procedure needs it.
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    auto previous = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc)));
    if (!previous) {
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return nullptr;
    }
    // Still ours from an earlier wrapper: passing on to it would come straight back here.
    if (previous == WindowProc) previous = OwnProcOf(window) ? OwnProcOf(window) : ::DefWindowProcW;
    ::SetPropW(window, kOwnProcProperty, reinterpret_cast<HANDLE>(previous));
    previousProc_ = previous;
    takenOver_ = true;
    hwnd_ = window;
    return window;
}

void CWindowWnd::Unsubclass() {
    if (!takenOver_ || !::IsWindow(hwnd_)) return;
    // Only when no one has hooked the window after us; otherwise their hook would be lost.
    if (reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hwnd_, GWLP_WNDPROC)) != WindowProc) return;
    ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
    ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    ::RemovePropW(hwnd_, kOwnProcProperty);
    previousProc_ = ::DefWindowProcW;
    takenOver_ = false;
    hwnd_ = nullptr;
}

void CWindowWnd::ReleaseWindow() {
    if (!hwnd_) return;
    const HWND window = hwnd_;
    if (takenOver_) Unsubclass();
    if (::IsWindow(window) && reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(window, GWLP_USERDATA)) == this) {
        // The object is going: no later message may reach it. A taken-over window that a
        // later hook keeps from getting its procedure back reaches it through the property.
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (!takenOver_) ::DestroyWindow(window);
    }
    hwnd_ = nullptr;
    previousProc_ = ::DefWindowProcW;
    takenOver_ = false;
}

void CWindowWnd::ShowWindow(bool show, bool takeFocus) {
    if (!::IsWindow(hwnd_)) return;
    ::ShowWindow(hwnd_, show ? (takeFocus ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE) : SW_HIDE);
}

UINT CWindowWnd::ShowModal() {
    const HWND window = hwnd_;
    if (!::IsWindow(window)) return 0;
    const HWND owner = ::GetWindow(window, GW_OWNER);
    ::ShowWindow(window, SW_SHOWNORMAL);
    // Only an owner that this run disabled is enabled again (a nested run leaves it to the outer one).
    const bool disabledOwner = owner && !::EnableWindow(owner, FALSE);
    if (disabledOwner) modalOwner_ = owner;

    UINT result = 0;
    bool quit = false;
    WPARAM quitCode = 0;
    MSG msg;
    while (::IsWindow(window)) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            quit = true;
            quitCode = msg.wParam;
            break;
        }
        if (got == -1) break;
        if (msg.message == WM_CLOSE && msg.hwnd == window) result = static_cast<UINT>(msg.wParam);
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (::IsWindow(window)) modalOwner_ = nullptr;
    if (disabledOwner) ::EnableWindow(owner, TRUE);
    if (owner && ::IsWindow(owner)) ::SetFocus(owner);
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
    return result;
}

void CWindowWnd::Close(UINT code) {
    if (::IsWindow(hwnd_)) ::PostMessageW(hwnd_, WM_CLOSE, code, 0);
}

void CWindowWnd::CenterWindow() {
    if (!::IsWindow(hwnd_)) return;
    RECT window{};
    ::GetWindowRect(hwnd_, &window);
    const HWND owner = ::GetWindow(hwnd_, GW_OWNER);
    const bool overOwner = owner && !::IsIconic(owner);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(overOwner ? owner : hwnd_, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT work = monitor.rcWork;
    RECT area = work;
    if (overOwner) ::GetWindowRect(owner, &area);

    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int x = (area.left + area.right) / 2 - width / 2;
    int y = (area.top + area.bottom) / 2 - height / 2;
    if (x + width > work.right) x = work.right - width;
    if (x < work.left) x = work.left;
    if (y + height > work.bottom) y = work.bottom - height;
    if (y < work.top) y = work.top;
    ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CWindowWnd::ReleasesModalOwner(HWND window, UINT message, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
    case WM_DESTROY:
        return true;
    case WM_WINDOWPOSCHANGING: {
        // DestroyWindow hides the window, and hands activation on, before WM_DESTROY.
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        return pos && (pos->flags & SWP_HIDEWINDOW) && ::IsWindowVisible(window);
    }
    default:
        return false;
    }
}

LRESULT CWindowWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return CallPreviousProc(message, wParam, lParam);
}

LRESULT CWindowWnd::CallPreviousProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcW(previousProc_, hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK CWindowWnd::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CWindowWnd* self = nullptr;
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        self = static_cast<CWindowWnd*>(create->lpCreateParams);
        if (self) {
            self->hwnd_ = window;
            ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        }
    } else {
        self = reinterpret_cast<CWindowWnd*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (self) return self->Dispatch(window, message, wParam, lParam);
    // No wrapper (any more): a taken-over window still goes to its own procedure.
    const WNDPROC own = OwnProcOf(window);
    if (message == WM_NCDESTROY) ::RemovePropW(window, kOwnProcProperty);
    return own ? ::CallWindowProcW(own, window, message, wParam, lParam)
               : ::DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CWindowWnd::Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (modalOwner_ && ReleasesModalOwner(window, message, lParam)) {
        // However the window goes (a posted or a sent WM_CLOSE, Alt+F4 through SC_CLOSE, a
        // plain DestroyWindow), its owner is enabled first, so that activation returns to
        // the owner and not to some other window.
        const HWND owner = std::exchange(modalOwner_, nullptr);
        ::EnableWindow(owner, TRUE);
        const LRESULT result = HandleMessage(message, wParam, lParam);
        // A close that was refused: the run goes on, the owner waits again.
        if (message == WM_CLOSE && ::IsWindow(window) && ::IsWindowVisible(window)) {
            ::EnableWindow(owner, FALSE);
            modalOwner_ = owner;
        }
        return result;
    }
    if (message != WM_NCDESTROY) return HandleMessage(message, wParam, lParam);

    // The last message: the previous procedure sees it, then the window is let go.
    const LRESULT result = HandleMessage(message, wParam, lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (takenOver_ && reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(window, GWLP_WNDPROC)) == WindowProc) {
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
    }
    ::RemovePropW(window, kOwnProcProperty);
    hwnd_ = nullptr;
    previousProc_ = ::DefWindowProcW;
    takenOver_ = false;
    FinalMessage(window);  // may delete this
    return result;
}

}  // namespace DuiLib
