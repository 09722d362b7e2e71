#include "duilib/core/ImageResample.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace DuiLib {
namespace {

constexpr int kMaxSide = 4096;  // the decoder's own limit
// Weights in 1/4096ths, integer arithmetic throughout.
constexpr int kWeightBits = 12;
constexpr std::uint32_t kWeightOne = 1u << kWeightBits;
// The rows' sums keep 16 bits: 255 x 4096 without its last 4 bits.
constexpr int kRowShift = 4;

// For each of n new pixels along one axis, the old pixels it covers (first and count)
// and their weights, which add up to exactly kWeightOne so that a uniform image stays
// uniform. Fewer old pixels than new: each new pixel covers part of one or two.
struct Taps {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<std::uint32_t> weights;  // count[i] of them for each new pixel, in order
    int widest = 0;
};

Taps MakeTaps(int oldSize, int newSize) {
    Taps taps;
    taps.first.resize(static_cast<std::size_t>(newSize));
    taps.count.resize(static_cast<std::size_t>(newSize));
    const double step = static_cast<double>(oldSize) / newSize;
    std::vector<double> cover;
    for (int i = 0; i < newSize; ++i) {
        const double start = i * step;
        const double end = start + step;
        cover.clear();
        int first = -1;
        for (int j = static_cast<int>(std::floor(start)); j < oldSize && j < end; ++j) {
            const double c = std::min<double>(end, j + 1) - std::max<double>(start, j);
            if (c <= 1e-9) {
                if (first < 0) continue;  // a sliver before the first real tap
                break;
            }
            if (first < 0) first = j;
            cover.push_back(c / step);
        }
        if (first < 0) first = std::min(oldSize - 1, static_cast<int>(start));
        if (cover.empty()) cover.push_back(1.0);
        // Rounded weights, the rounding error given to the heaviest so the sum is exact.
        const std::size_t base = taps.weights.size();
        std::uint32_t sum = 0;
        std::size_t heaviest = 0;
        for (std::size_t k = 0; k < cover.size(); ++k) {
            const auto w = static_cast<std::uint32_t>(std::lround(cover[k] * kWeightOne));
            taps.weights.push_back(w);
            sum += w;
            if (cover[k] > cover[heaviest]) heaviest = k;
        }
        taps.weights[base + heaviest] += kWeightOne - sum;
        taps.first[static_cast<std::size_t>(i)] = first;
        taps.count[static_cast<std::size_t>(i)] = static_cast<int>(cover.size());
        taps.widest = std::max(taps.widest, static_cast<int>(cover.size()));
    }
    return taps;
}

bool Resamplable(const DecodedImage& source, int width, int height) {
    return source.width > 0 && source.height > 0 && width > 0 && height > 0 && width <= kMaxSide &&
           height <= kMaxSide &&
           source.pixels.size() == static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height);
}

}  // namespace

DecodedImage ResampleArea(const DecodedImage& source, int width, int height) {
    DecodedImage out;
    if (!Resamplable(source, width, height)) return out;
    out.width = width;
    out.height = height;
    out.hasAlpha = source.hasAlpha;
    out.pixels.resize(static_cast<std::size_t>(width) * height);
    ResampleAreaInto(source, width, height, out.pixels.data());
    return out;
}

bool ResampleAreaInto(const DecodedImage& source, int width, int height, std::uint32_t* pixels) {
    if (!pixels || !Resamplable(source, width, height)) return false;
    if (width == source.width && height == source.height) {
        std::copy(source.pixels.begin(), source.pixels.end(), pixels);
        return true;
    }

    // Rows first, into lines of width pixels of four 16-bit channels (each scaled by
    // kWeightOne, less the last kRowShift bits); then columns, scaled by kWeightOne again.
    // Only the few resized lines the current column pass needs are kept: a whole resized
    // copy of a large image is megabytes of fresh memory, which cost more than the sums.
    const Taps across = MakeTaps(source.width, width);
    const Taps down = MakeTaps(source.height, height);
    const std::size_t rowValues = static_cast<std::size_t>(width) * 4;
    // The source rows of one new row are consecutive, at most down.widest of them, and a
    // later new row starts no earlier: row r can live in slot r % slots until it is passed.
    const std::size_t slots = static_cast<std::size_t>(std::max(down.widest, 1));
    std::unique_ptr<std::uint16_t[]> rows(new std::uint16_t[rowValues * slots]);
    std::vector<int> slotRow(slots, -1);
    const auto resizedRow = [&](int y) -> const std::uint16_t* {
        const std::size_t slot = static_cast<std::size_t>(y) % slots;
        std::uint16_t* dst = &rows[slot * rowValues];
        if (slotRow[slot] == y) return dst;
        slotRow[slot] = y;
        const std::uint32_t* line = &source.pixels[static_cast<std::size_t>(y) * source.width];
        const std::uint32_t* weight = across.weights.data();
        std::uint16_t* out = dst;
        for (int x = 0; x < width; ++x) {
            std::uint32_t a = 0, r = 0, g = 0, b = 0;
            const std::uint32_t* p = line + across.first[static_cast<std::size_t>(x)];
            for (int k = across.count[static_cast<std::size_t>(x)]; k > 0; --k, ++p, ++weight) {
                const std::uint32_t w = *weight;
                a += w * (*p >> 24);
                r += w * (*p >> 16 & 0xFF);
                g += w * (*p >> 8 & 0xFF);
                b += w * (*p & 0xFF);
            }
            out[0] = static_cast<std::uint16_t>(a >> kRowShift);
            out[1] = static_cast<std::uint16_t>(r >> kRowShift);
            out[2] = static_cast<std::uint16_t>(g >> kRowShift);
            out[3] = static_cast<std::uint16_t>(b >> kRowShift);
            out += 4;
        }
        return dst;
    };
    constexpr int kShift = 2 * kWeightBits - kRowShift;
    constexpr std::uint32_t kHalf = 1u << (kShift - 1);
    std::vector<std::uint32_t> sums(rowValues);
    const std::uint32_t* weight = down.weights.data();
    for (int y = 0; y < height; ++y) {
        std::fill(sums.begin(), sums.end(), kHalf);  // rounds half up: no channel is negative
        const int first = down.first[static_cast<std::size_t>(y)];
        for (int k = 0; k < down.count[static_cast<std::size_t>(y)]; ++k, ++weight) {
            const std::uint32_t w = *weight;
            const std::uint16_t* p = resizedRow(first + k);
            std::uint32_t* s = sums.data();
            for (std::size_t i = 0; i < rowValues; ++i) s[i] += w * p[i];
        }
        std::uint32_t* dst = pixels + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t* s = &sums[static_cast<std::size_t>(x) * 4];
            // A colour byte never exceeds its alpha in premultiplied form.
            const std::uint32_t alpha = std::min<std::uint32_t>(s[0] >> kShift, 255);
            const std::uint32_t red = std::min(s[1] >> kShift, alpha);
            const std::uint32_t green = std::min(s[2] >> kShift, alpha);
            const std::uint32_t blue = std::min(s[3] >> kShift, alpha);
            dst[x] = alpha << 24 | red << 16 | green << 8 | blue;
        }
    }
    return true;
}

}  // namespace DuiLib
