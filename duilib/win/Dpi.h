#pragma once
// The DPI of a window's screen. Per-monitor DPI (GetDpiForWindow) exists from Windows 10
// 1607 on and is looked up at run time; without it the screen's DPI (the system DPI)
// stands for every window.

#include <windows.h>

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace DuiLib {

// 96 when nothing better is known.
int DpiOfWindow(HWND window);

}  // namespace DuiLib
