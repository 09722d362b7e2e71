// The main window's images at start, natively, at every scale Windows offers up to 300 %:
// each scale's time against 96 DPI's, beside the ratio of their areas. Interleaved runs,
// medians. With a DPI, that scale alone, once per run (for a profiler's count).
//
//   display_scale_start [RUNS [DPI]]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <malloc.h>
#include <iterator>
#include <vector>

#include "MainWindowImages.h"

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 41;
    // Every large block from fresh pages, as in a program that has just started: left to
    // itself, the C library would keep some sizes' blocks from one round to the next and
    // not others', and the scales would differ by that.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    std::ifstream file(ZEPHRA_SKIN_PACKAGE, std::ios::binary);
    const std::vector<std::uint8_t> package(std::istreambuf_iterator<char>(file), {});
    if (argc > 2) {
        const int dpi = std::atoi(argv[2]);
        for (int run = 0; run < runs; ++run) {
            if (!bench::OpenMainWindowImages(package, dpi)) return 1;
        }
        return 0;
    }
    constexpr int kScales = static_cast<int>(std::size(bench::kWindowsScaleDpis));
    std::vector<double> times[kScales];
    for (int run = -1; run < runs; ++run) {  // the first round warms up
        for (int i = 0; i < kScales; ++i) {
            const auto start = std::chrono::steady_clock::now();
            if (!bench::OpenMainWindowImages(package, bench::kWindowsScaleDpis[i])) {
                std::fprintf(stderr, "cannot read the main window's images from %s\n", ZEPHRA_SKIN_PACKAGE);
                return 1;
            }
            const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
            if (run >= 0) times[i].push_back(took.count());
        }
    }
    const double base = Median(times[0]);
    std::printf("%-12s %10s %12s %8s %8s %8s\n", "main window", "pixels", "start", "ratio", "area", "ratio/area");
    for (int i = 0; i < kScales; ++i) {
        const int dpi = bench::kWindowsScaleDpis[i];
        const int width = DuiLib::ScaleByDpi(700, dpi), height = DuiLib::ScaleByDpi(490, dpi);
        const double t = Median(times[i]), area = width * height / (700.0 * 490.0);
        std::printf("%4d DPI     %5dx%-4d %9.0f us %8.2f %8.2f %8.2f\n", dpi, width, height, t, t / base, area,
                    t / base / area);
    }
    std::printf("native start (the images read, decoded and resized): medians of %d runs each, interleaved\n", runs);
    return 0;
}
