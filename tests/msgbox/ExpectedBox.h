#pragma once
// What a message box built from the program's layouts should come to, worked out apart
// from the box: the text measured as an independent reader of the layouts would (their
// font 1 is Arial at 12 pixels; Liberation Sans under Wine, with the same metrics), then
// the box's arithmetic with the layouts' icon (41 by 33, on top) and buttons (80 by 28).

#include <windows.h>

#include <string>
#include <string_view>

#include "ui/MessageBoxLayout.h"

namespace expectedbox {

inline TextExtent MeasureInLayoutFont(std::wstring_view text) {
    HDC dc = ::GetDC(nullptr);
    HFONT font = ::CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Arial");
    HGDIOBJ old = ::SelectObject(dc, font);
    SIZE size{};
    ::GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
    ::SelectObject(dc, old);
    ::DeleteObject(font);
    ::ReleaseDC(nullptr, dc);
    return {static_cast<int>(size.cx), static_cast<int>(size.cy)};
}

inline MessageBoxGeometry Expected(int type, const std::wstring& message) {
    MessageBoxParts parts;
    parts.type = type;
    parts.icon = FixedSize{41, 33};
    parts.iconPlacement = L"top";
    parts.hasTitle = true;
    parts.hasMessage = true;
    for (const auto line : SplitMessageLines(message)) parts.lines.push_back(MeasureInLayoutFont(line));
    parts.first = FixedSize{80, 28};
    if (type == MessageBoxTypeYesNo) parts.second = FixedSize{80, 28};
    return ComputeMessageBoxLayout(parts);
}

// A press and release at the middle of a rectangle of the window's client area.
inline void ClickAt(HWND window, const DuiLib::UiRect& rect) {
    const LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    ::PostMessageW(window, WM_MOUSEMOVE, 0, point);
    ::PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
    ::PostMessageW(window, WM_LBUTTONUP, 0, point);
}

}  // namespace expectedbox
