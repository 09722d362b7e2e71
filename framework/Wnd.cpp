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

namespace {

void Centre(HWND hwnd, int width, int height, UINT flags) {
    const HWND owner = ::GetWindow(hwnd, GW_OWNER);
    const bool overOwner = owner && ::IsWindowVisible(owner) && !::IsIconic(owner);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromWindow(overOwner ? owner : hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT work = monitor.rcWork;
    RECT area = work;
    if (overOwner) ::GetWindowRect(owner, &area);

    int x = (area.left + area.right - width) / 2;
    int y = (area.top + area.bottom - height) / 2;
    if (x + width > work.right) x = work.right - width;
    if (x < work.left) x = work.left;
    if (y + height > work.bottom) y = work.bottom - height;
    if (y < work.top) y = work.top;
    ::SetWindowPos(hwnd, nullptr, x, y, width, height, flags | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

void CWnd::CenterWindow() const {
    RECT window{};
    if (!::IsWindow(hwnd_) || !::GetWindowRect(hwnd_, &window)) return;
    Centre(hwnd_, window.right - window.left, window.bottom - window.top, SWP_NOSIZE);
}

void CWnd::CenterWindow(int width, int height) const {
    if (::IsWindow(hwnd_)) Centre(hwnd_, width, height, 0);
}
