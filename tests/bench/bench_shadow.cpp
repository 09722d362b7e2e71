// The shadow image of the main window (700 x 490) with the program's settings: the
// renderer against a straightforward version that stamps the whole kernel at every
// pixel of the rim.
#include "ui/ShadowRender.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kWidth = 700;
constexpr int kHeight = 490;

std::vector<ShadowRowSpan> MainWindowRows() {
    return std::vector<ShadowRowSpan>(kHeight, ShadowRowSpan{0, kWidth});
}

// Straightforward: erode the outline span by span, stamp the full kernel at every
// pixel of every span, then fill the inside and cut the window out.
void RenderByStampingEveryPixel(const std::vector<ShadowRowSpan>& rows, int width,
                                const ShadowStyle& style, std::vector<std::uint32_t>& image) {
    const int s = std::max<int>(style.size, 0);
    const int p = style.sharpness;
    const int height = static_cast<int>(rows.size());
    const int sw = width + 2 * s;
    const int sh = height + 2 * s;
    std::fill(image.begin(), image.end(), 0u);

    struct Span { int start, end; };
    std::vector<Span> spans(static_cast<std::size_t>(sh) + 2, Span{width, 0});
    for (int y = 0; y < height; ++y)
        if (rows[y].begin < rows[y].end) spans[s + 1 + y] = {rows[y].begin + s, rows[y].end + s};
    for (int pass = s; pass < p; ++pass) {
        std::vector<Span> next = spans;
        for (int i = 1; i <= sh; ++i) {
            next[i].start = std::max({spans[i - 1].start, spans[i].start, spans[i + 1].start}) + 1;
            next[i].end = std::min({spans[i - 1].end, spans[i].end, spans[i + 1].end}) - 1;
        }
        spans.swap(next);
    }

    const ShadowKernel kernel(style);
    const int k = kernel.Radius();
    for (int r = k; r < sh - k; ++r) {
        for (int x = spans[r + 1].start; x < spans[r + 1].end; ++x) {
            for (int i = -k; i <= k; ++i) {
                std::uint32_t* row = image.data() + static_cast<std::size_t>(r + i) * sw;
                for (int j = -k; j <= k; ++j) row[x + j] = std::max(row[x + j], kernel.At(j, i));
            }
        }
    }

    const std::uint32_t solid = PremultipliedShadowPixel(style.color, style.darkness);
    for (int i = 0; i < sh; ++i) {
        std::uint32_t* row = image.data() + static_cast<std::size_t>(i) * sw;
        for (int x = std::max(spans[i + 1].start, 0); x < std::min(spans[i + 1].end, sw); ++x)
            row[x] = solid;
        const int pr = i + style.offsetY - s;
        if (pr < 0 || pr >= height || rows[pr].begin >= rows[pr].end) continue;
        const int from = std::max(rows[pr].begin + s - style.offsetX, 0);
        const int to = std::min(rows[pr].end + s - style.offsetX, sw);
        for (int x = from; x < to; ++x) row[x] = 0;
    }
}

std::vector<std::uint32_t> ImageBuffer() {
    const ShadowImageSize size = ShadowImageSizeFor(kWidth, kHeight, ShadowStyle{});
    return std::vector<std::uint32_t>(static_cast<std::size_t>(size.width) * size.height);
}

// Both ways must draw the same image, or the comparison means nothing.
void CheckSameImage() {
    static const bool checked = [] {
        std::vector<std::uint32_t> fast = ImageBuffer();
        std::vector<std::uint32_t> plain = ImageBuffer();
        const ShadowImageSize size = ShadowImageSizeFor(kWidth, kHeight, ShadowStyle{});
        RenderShadow(MainWindowRows(), kWidth, ShadowStyle{},
                     ShadowImageView::TopDown(fast.data(), size.width, size.height));
        RenderByStampingEveryPixel(MainWindowRows(), kWidth, ShadowStyle{}, plain);
        if (fast != plain) {
            std::fprintf(stderr, "the two shadow renderers disagree\n");
            std::abort();
        }
        return true;
    }();
    (void)checked;
}

void BM_RenderShadow(benchmark::State& state) {
    CheckSameImage();
    const std::vector<ShadowRowSpan> rows = MainWindowRows();
    std::vector<std::uint32_t> image = ImageBuffer();
    const ShadowImageSize size = ShadowImageSizeFor(kWidth, kHeight, ShadowStyle{});
    // A DIB section is bottom-up, so that is the way measured.
    const ShadowImageView view = ShadowImageView::BottomUp(image.data(), size.width, size.height);
    for (auto _ : state) {
        RenderShadow(rows, kWidth, ShadowStyle{}, view);
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RenderShadow)->Unit(benchmark::kMicrosecond);

void BM_RenderShadowByStampingEveryPixel(benchmark::State& state) {
    CheckSameImage();
    const std::vector<ShadowRowSpan> rows = MainWindowRows();
    std::vector<std::uint32_t> image = ImageBuffer();
    for (auto _ : state) {
        RenderByStampingEveryPixel(rows, kWidth, ShadowStyle{}, image);
        benchmark::DoNotOptimize(image.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_RenderShadowByStampingEveryPixel)->Unit(benchmark::kMicrosecond);

}  // namespace
