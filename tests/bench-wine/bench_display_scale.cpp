// The main window's drawing at every display scale Windows offers up to 300 %: the first
// paint of a new window (its images read, resized and turned into bitmaps, its fonts made,
// everything drawn) and a refresh (the panel's texts set again and the window's paint of
// what that invalidated). The cost should grow by about the pixels or less.
//
//   bench_display_scale.exe RUNS
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "duilib/core/DpiScale.h"
#include "ui/BaseDuilibWnd.h"

namespace {

class Window : public CBaseDuilibWnd {
public:
    using CBaseDuilibWnd::paintManager;
    bool Open(int dpi) {
        if (!Create(nullptr, L"bench", WS_POPUP, 0, 0, 0, 100, 100)) return false;
        LoadSkin();
        paintManager.AttachDialog(BuildLayout(L"mainSkin.xml"));
        if (dpi != DuiLib::kDesignDpi) {
            RECT suggested{0, 0, DuiLib::ScaleByDpi(700, dpi), DuiLib::ScaleByDpi(490, dpi)};
            ::SendMessageW(GetHWND(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        }
        return true;
    }
};

double Now() {
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The whole client area drawn into a bitmap, as a WM_PAINT would draw it.
void Draw(HWND window) {
    RECT client{};
    ::GetClientRect(window, &client);
    const HDC screen = ::GetDC(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, client.right, client.bottom);
    const HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::SendMessageW(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    ::GdiFlush();
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

const wchar_t* const kLabels[] = {L"LabelDevice", L"LabelMnVal", L"LabelCapVal", L"LabelStatusVal", L"TextNotice"};

void Pump() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
}

struct Times {
    std::vector<double> first, refresh;
};


bool Measure(int dpi, Times& times) {
    Window window;
    if (!window.Open(dpi)) return false;
    const double start = Now();
    Draw(window.GetHWND());
    times.first.push_back(Now() - start);
    // A refresh, as a device change makes one: the window on screen and painted, then new
    // texts in the panel's labels and the window's paint of what they invalidated.
    ::ShowWindow(window.GetHWND(), SW_SHOWNOACTIVATE);
    ::UpdateWindow(window.GetHWND());
    Pump();
    static int round = 0;
    ++round;
    const double again = Now();
    for (const wchar_t* name : kLabels) {
        if (DuiLib::CControlUI* label = window.paintManager.FindControl(name)) {
            label->SetText(round % 2 ? L"Tavik VX310 Series SSD 512GB" : L"476.94 GB");
        }
    }
    ::UpdateWindow(window.GetHWND());
    ::GdiFlush();
    times.refresh.push_back(Now() - again);
    ::DestroyWindow(window.GetHWND());
    Pump();
    return true;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const int runs = argc > 1 ? std::max(1, _wtoi(argv[1])) : 20;
    // 100 %, 125 %, 150 %, 175 % and 200 %, whose images are drawn as they are, then
    // 225 %, 250 % and 300 %, whose images are the 200 % ones resized.
    const int dpis[] = {96, 120, 144, 168, 192, 216, 240, 288};
    constexpr int kScales = sizeof dpis / sizeof dpis[0];
    Times times[kScales];
    for (int i = 0; i < kScales; ++i) Measure(dpis[i], times[i]);  // warm up once
    for (Times& t : times) t = {};
    for (int run = 0; run < runs; ++run) {
        for (int i = 0; i < kScales; ++i) {
            if (!Measure(dpis[i], times[i])) {
                std::fprintf(stderr, "cannot open the window at %d DPI\n", dpis[i]);
                return 1;
            }
        }
    }
    const double first96 = Median(times[0].first), refresh96 = Median(times[0].refresh);
    std::printf("%-12s %10s %12s %8s %12s %8s %8s %10s\n", "main window", "pixels", "first paint", "ratio", "refresh",
                "ratio", "area", "first/area");
    for (int i = 0; i < kScales; ++i) {
        const int width = DuiLib::ScaleByDpi(700, dpis[i]), height = DuiLib::ScaleByDpi(490, dpis[i]);
        const double first = Median(times[i].first), refresh = Median(times[i].refresh);
        const double area = width * height / (700.0 * 490.0);
        std::printf("%4d DPI     %5dx%-4d %9.2f ms %8.2f %9.2f ms %8.2f %8.2f %10.2f\n", dpis[i], width, height, first,
                    first / first96, refresh, refresh / refresh96, area, first / first96 / area);
    }
    std::printf("medians of %d runs each, interleaved; ratios against 96 DPI\n", runs);
    return 0;
}
