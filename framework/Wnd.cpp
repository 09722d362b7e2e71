#include "framework/Wnd.h"

const MessageMapEntry* MessageMap::Find(UINT message) const {
    for (const MessageMap* map = this; map; map = map->base) {
        for (std::size_t i = 0; i < map->count; ++i) {
            if (map->entries[i].message == message) return &map->entries[i];
        }
    }
    return nullptr;
}

const MessageMap* CWnd::GetMessageMap() const {
    static const MessageMap none{nullptr, nullptr, 0};
    return &none;
}

BOOL CWnd::DestroyWindow() {
    if (!hwnd_) return FALSE;
    const HWND window = hwnd_;
    hwnd_ = nullptr;
    return ::DestroyWindow(window);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(hwnd_, message, wParam, lParam);
}

BOOL CWnd::MoveWindow(int x, int y, int width, int height, BOOL repaint) const {
    return ::MoveWindow(hwnd_, x, y, width, height, repaint);
}

void CWnd::CenterWindow() const {
    if (!::IsWindow(hwnd_)) return;
    RECT window{};
    ::GetWindowRect(hwnd_, &window);
    const HWND owner = ::GetWindow(hwnd_, GW_OWNER);
    const bool overOwner = owner && ::IsWindowVisible(owner) && !::IsIconic(owner);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(overOwner ? owner : hwnd_, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT work = monitor.rcWork;
    RECT area = work;
    if (overOwner) ::GetWindowRect(owner, &area);

    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int x = (area.left + area.right - width) / 2;
    int y = (area.top + area.bottom - height) / 2;
    if (x + width > work.right) x = work.right - width;
    if (x < work.left) x = work.left;
    if (y + height > work.bottom) y = work.bottom - height;
    if (y < work.top) y = work.top;
    ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
