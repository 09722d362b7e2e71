#include "duilib/core/ImageResample.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace DuiLib {
namespace {

constexpr int kMaxSide = 4096;  // the decoder's own limit
// Weights in 1/256ths: a weight times a colour byte, plus a half for rounding, fits 16
// bits, so both passes work on each byte of a pixel alike, many bytes to an instruction.
constexpr std::uint32_t kWeightOne = 256;
constexpr std::uint16_t kHalf = kWeightOne / 2;  // rounds half up

// For each of n new pixels along one axis, the old pixels it covers and their weights.
// Every new pixel has the same number of taps (the most any of them needs), so that each
// tap is taken for a whole line in one pass; a pixel that covers fewer has zero weights
// for the rest, and its first tap is moved back where it would run past the end. The weights of a
// pixel add up to exactly kWeightOne, so a uniform image stays uniform.
struct Taps {
    std::vector<int> first;
    std::vector<std::uint16_t> weights;  // `count` of them for each new pixel, in order
    int count = 1;
};

Taps MakeTaps(int oldSize, int newSize) {
    // In units of 1 / (oldSize * newSize) of the image: new pixel i spans
    // [i * oldSize, (i + 1) * oldSize), old pixel j spans [j * newSize, (j + 1) * newSize).
    // Whole numbers throughout, so no rounding makes a sliver of a tap.
    const auto old64 = static_cast<std::int64_t>(oldSize);
    const auto new64 = static_cast<std::int64_t>(newSize);
    Taps taps;
    for (std::int64_t i = 0; i < new64; ++i) {
        const std::int64_t first = i * old64 / new64;
        const std::int64_t last = ((i + 1) * old64 - 1) / new64;
        taps.count = std::max(taps.count, static_cast<int>(last - first + 1));
    }
    taps.first.resize(static_cast<std::size_t>(newSize));
    taps.weights.assign(static_cast<std::size_t>(newSize) * static_cast<std::size_t>(taps.count), 0);
    for (std::int64_t i = 0; i < new64; ++i) {
        const std::int64_t start = i * old64, end = start + old64;
        const std::int64_t first = start / new64;
        const std::int64_t last = (end - 1) / new64;
        const std::int64_t placed = std::min(first, old64 - taps.count);
        taps.first[static_cast<std::size_t>(i)] = static_cast<int>(placed);
        std::uint16_t* weights = &taps.weights[static_cast<std::size_t>(i) * static_cast<std::size_t>(taps.count)];
        // Each weight is the rounded running total of the cover less the one before, so
        // the rounding never adds up and no weight is negative.
        std::int64_t covered = 0, given = 0;
        for (std::int64_t j = first; j <= last; ++j) {
            covered += std::min(end, (j + 1) * new64) - std::max(start, j * new64);
            const std::int64_t total = (covered * kWeightOne + old64 / 2) / old64;
            weights[j - placed] = static_cast<std::uint16_t>(total - given);
            given = total;
        }
    }
    return taps;
}

// The bytes sum[i] + weight[i] * byte[i], for n bytes; the caller keeps every sum within
// 16 bits.
void AddWeighted(std::uint16_t* sum, const std::uint8_t* byte, const std::uint16_t* weight, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sum[i] = static_cast<std::uint16_t>(sum[i] + byte[i] * weight[i]);
}

void AddWeighted(std::uint16_t* sum, const std::uint8_t* byte, std::uint16_t weight, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) sum[i] = static_cast<std::uint16_t>(sum[i] + byte[i] * weight);
}

// The same for two taps at once, straight into the bytes: the common case, up to twice
// the size and down to two thirds of it.
void BlendTwo(std::uint8_t* out, const std::uint8_t* a, const std::uint16_t* aWeight, const std::uint8_t* b,
              const std::uint16_t* bWeight, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(kHalf + a[i] * aWeight[i] + b[i] * bWeight[i]) >> 8);
    }
}

void BlendTwo(std::uint8_t* out, const std::uint8_t* a, std::uint16_t aWeight, const std::uint8_t* b,
              std::uint16_t bWeight, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(kHalf + a[i] * aWeight + b[i] * bWeight) >> 8);
    }
}

void StoreRounded(std::uint8_t* byte, const std::uint16_t* sum, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) byte[i] = static_cast<std::uint8_t>(sum[i] >> 8);
}

bool Resamplable(const ImageView& source, int width, int height) {
    // The source may be as long on a side as the decoder lets it be; its pixels are the
    // caller's. Only the new image is bounded: its lines are made here.
    return source.pixels && source.width > 0 && source.height > 0 && width > 0 && height > 0 && width <= kMaxSide &&
           height <= kMaxSide;
}

ImageView ViewOf(const DecodedImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
        return {};
    }
    return {image.pixels.data(), image.width, image.height};
}

}  // namespace

DecodedImage ResampleArea(const DecodedImage& source, int width, int height) {
    DecodedImage out;
    if (!Resamplable(ViewOf(source), width, height)) return out;
    out.width = width;
    out.height = height;
    out.hasAlpha = source.hasAlpha;
    out.pixels.resize(static_cast<std::size_t>(width) * height);
    ResampleAreaInto(source, width, height, out.pixels.data());
    return out;
}

bool ResampleAreaInto(const DecodedImage& source, int width, int height, std::uint32_t* pixels) {
    return ResampleAreaInto(ViewOf(source), width, height, pixels);
}

bool ResampleAreaInto(const ImageView& source, int width, int height, std::uint32_t* pixels) {
    if (!pixels || !Resamplable(source, width, height)) return false;
    const std::size_t sourceCount = static_cast<std::size_t>(source.width) * static_cast<std::size_t>(source.height);
    if (width == source.width && height == source.height) {
        std::copy(source.pixels, source.pixels + sourceCount, pixels);
        return true;
    }

    // Rows first, each resized across into a line of width pixels; then columns, each new
    // row from the few resized lines it covers. Both passes add weighted bytes into 16-bit
    // sums and keep the top byte: the channels of a pixel are alike, so a pixel's four
    // bytes are four lanes of the same sums, and a colour never exceeds its alpha where
    // no source pixel's does (the same weights, the same rounding). Only the lines the
    // current row needs are kept: a whole resized copy of a large image is megabytes of
    // fresh memory, which cost more than the sums.
    const Taps across = MakeTaps(source.width, width);
    const Taps down = MakeTaps(source.height, height);
    const std::size_t lineBytes = static_cast<std::size_t>(width) * 4;
    const auto acrossCount = static_cast<std::size_t>(across.count);
    // Across: the k-th tap of every new pixel gathered into one line, then weighted byte
    // by byte with that tap's weights, repeated for the pixel's four bytes.
    std::vector<std::uint16_t> acrossWeights(acrossCount * lineBytes);
    for (std::size_t k = 0; k < acrossCount; ++k) {
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
            const std::uint16_t w = across.weights[x * acrossCount + k];
            std::fill_n(&acrossWeights[k * lineBytes + x * 4], 4, w);
        }
    }
    std::vector<std::uint32_t> gathered(static_cast<std::size_t>(width) * std::min<std::size_t>(acrossCount, 2));
    std::vector<std::uint16_t> acrossSums(lineBytes), downSums(lineBytes);
    // The source rows of one new row are consecutive, down.count of them, and a later
    // new row starts no earlier: row r can live in slot r % slots until it is passed.
    const auto slots = static_cast<std::size_t>(down.count);
    std::vector<std::uint32_t> lines(static_cast<std::size_t>(width) * slots);
    std::vector<int> slotRow(slots, -1);
    const auto resizedRow = [&](int y) -> const std::uint8_t* {
        const std::size_t slot = static_cast<std::size_t>(y) % slots;
        auto* line = reinterpret_cast<std::uint8_t*>(&lines[slot * static_cast<std::size_t>(width)]);
        if (slotRow[slot] == y) return line;
        slotRow[slot] = y;
        const std::uint32_t* row = source.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(source.width);
        if (acrossCount == 2) {
            for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
                const std::uint32_t* p = row + across.first[x];
                gathered[x] = p[0];
                gathered[x + static_cast<std::size_t>(width)] = p[1];
            }
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(gathered.data());
            BlendTwo(line, bytes, &acrossWeights[0], bytes + lineBytes, &acrossWeights[lineBytes], lineBytes);
            return line;
        }
        std::fill(acrossSums.begin(), acrossSums.end(), kHalf);
        for (std::size_t k = 0; k < acrossCount; ++k) {
            for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) gathered[x] = row[across.first[x] + k];
            AddWeighted(acrossSums.data(), reinterpret_cast<const std::uint8_t*>(gathered.data()),
                        &acrossWeights[k * lineBytes], lineBytes);
        }
        StoreRounded(line, acrossSums.data(), lineBytes);
        return line;
    };
    for (int y = 0; y < height; ++y) {
        const int first = down.first[static_cast<std::size_t>(y)];
        const std::uint16_t* weights = &down.weights[static_cast<std::size_t>(y) * slots];
        auto* out = reinterpret_cast<std::uint8_t*>(pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width));
        if (slots == 2) {
            // A zero weight's row may lie past the rows read so far: it is not read.
            const std::uint8_t* a = resizedRow(first);
            const std::uint8_t* b = weights[1] ? resizedRow(first + 1) : a;
            BlendTwo(out, a, weights[0], b, weights[1], lineBytes);
            continue;
        }
        std::fill(downSums.begin(), downSums.end(), kHalf);
        for (std::size_t k = 0; k < slots; ++k) {
            if (weights[k] == 0) continue;
            AddWeighted(downSums.data(), resizedRow(first + static_cast<int>(k)), weights[k], lineBytes);
        }
        StoreRounded(out, downSums.data(), lineBytes);
    }
    return true;
}

}  // namespace DuiLib
