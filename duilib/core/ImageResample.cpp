#include "duilib/core/ImageResample.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace DuiLib {
namespace {

constexpr int kMaxSide = 4096;  // the decoder's own limit

struct Tap {
    int index;
    double weight;
};

// For each of n new pixels along one axis, the old pixels it covers and their weights
// (summing to 1). Fewer old pixels than new: each new pixel covers part of one or two.
std::vector<std::vector<Tap>> Taps(int oldSize, int newSize) {
    std::vector<std::vector<Tap>> taps(static_cast<std::size_t>(newSize));
    const double step = static_cast<double>(oldSize) / newSize;
    for (int i = 0; i < newSize; ++i) {
        const double start = i * step;
        const double end = start + step;
        auto& list = taps[static_cast<std::size_t>(i)];
        for (int j = static_cast<int>(std::floor(start)); j < oldSize && j < end; ++j) {
            const double cover = std::min<double>(end, j + 1) - std::max<double>(start, j);
            if (cover > 1e-9) list.push_back({j, cover / step});
        }
    }
    return taps;
}

}  // namespace

DecodedImage ResampleArea(const DecodedImage& source, int width, int height) {
    DecodedImage out;
    if (source.width <= 0 || source.height <= 0 || width <= 0 || height <= 0 || width > kMaxSide ||
        height > kMaxSide ||
        source.pixels.size() != static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height)) {
        return out;
    }
    out.width = width;
    out.height = height;
    out.hasAlpha = source.hasAlpha;
    if (width == source.width && height == source.height) {
        out.pixels = source.pixels;
        return out;
    }

    // Rows first into a float buffer of width x source.height, four channels each.
    const auto across = Taps(source.width, width);
    const auto down = Taps(source.height, height);
    std::vector<float> rows(static_cast<std::size_t>(width) * source.height * 4);
    for (int y = 0; y < source.height; ++y) {
        const std::uint32_t* line = &source.pixels[static_cast<std::size_t>(y) * source.width];
        float* dst = &rows[static_cast<std::size_t>(y) * width * 4];
        for (int x = 0; x < width; ++x) {
            double channel[4] = {};
            for (const Tap& tap : across[static_cast<std::size_t>(x)]) {
                const std::uint32_t p = line[tap.index];
                for (int c = 0; c < 4; ++c) channel[c] += tap.weight * ((p >> (24 - 8 * c)) & 0xFF);
            }
            for (int c = 0; c < 4; ++c) dst[x * 4 + c] = static_cast<float>(channel[c]);
        }
    }
    out.pixels.resize(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double channel[4] = {};
            for (const Tap& tap : down[static_cast<std::size_t>(y)]) {
                const float* p = &rows[(static_cast<std::size_t>(tap.index) * width + x) * 4];
                for (int c = 0; c < 4; ++c) channel[c] += tap.weight * p[c];
            }
            // Alpha first: a colour byte never exceeds its alpha in premultiplied form.
            const auto alpha = static_cast<std::uint32_t>(std::clamp(std::lround(channel[0]), 0L, 255L));
            std::uint32_t pixel = alpha << 24;
            for (int c = 1; c < 4; ++c) {
                const auto value = static_cast<std::uint32_t>(std::clamp<long>(std::lround(channel[c]), 0L, alpha));
                pixel |= value << (24 - 8 * c);
            }
            out.pixels[static_cast<std::size_t>(y) * width + x] = pixel;
        }
    }
    return out;
}

}  // namespace DuiLib
