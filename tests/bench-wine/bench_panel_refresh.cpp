// The cost of a device change as the user meets it: the main window's refresh (a full
// enumeration and the panel update) and its repaint, on simulated machines of 8 to 64
// disks (the VX310 last, the others of other makers on mixed buses, one volume each).
// Against the enumeration alone over the same machine, so that the panel's share shows.
//
//   bench_panel_refresh.exe [ITERATIONS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/MainWnd.h"
#include "discovery/Enumerate.h"
#include "sim/SimComputer.h"
#include "sim/SimShutdown.h"
#include "tests/bench/BenchMachine.h"

namespace {

double Now() {
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

template <typename Step>
double Median(int iterations, sim::SimComputer& pc, Step step) {
    std::vector<double> times;
    for (int i = 0; i < iterations; ++i) {
        const double start = Now();
        step();
        times.push_back(Now() - start);
        pc.Machine().ClearTrace();  // the simulator's record of every call would grow without end
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    std::printf("%6s %22s %22s %8s\n", "disks", "refresh+paint ms", "enumeration ms", "ratio");
    for (const int disks : {8, 16, 32, 64}) {
        const auto pc = bench::MakeMachine(disks);
        sim::SimShutdown shutdown;  // never asked: nothing is switched here
        CMainWnd window(pc->System(), shutdown);
        const HWND host = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 700, 490, nullptr, nullptr,
                                            ::GetModuleHandleW(nullptr), nullptr);
        window.Subclass(host);
        window.AttachToHost(nullptr);
        ::ShowWindow(host, SW_SHOWNOACTIVATE);
        ::UpdateWindow(host);
        if (!window.Drives()[0]) {
            std::fprintf(stderr, "the VX310 was not found on %d disks\n", disks);
            return 1;
        }
        const double refresh = Median(iterations, *pc, [&] {
            window.RefreshDrives();
            ::InvalidateRect(host, nullptr, FALSE);
            ::UpdateWindow(host);
        });
        discovery::DriveTable table;
        const double enumeration = Median(iterations, *pc, [&] { discovery::EnumerateDrives(pc->System(), table); });
        std::printf("%6d %22.3f %22.3f %8.2f\n", disks, refresh, enumeration, refresh / enumeration);
        ::DestroyWindow(host);
    }
    std::printf("median of %d each\n", iterations);
    return 0;
}
