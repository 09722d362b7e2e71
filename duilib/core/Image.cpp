#include "duilib/core/Image.h"

#include <climits>
#include <memory>

// The skin holds PNG and JPEG images only; leaving the other formats out keeps
// the decoder's exposure to odd input small.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS 16384
#include <stb_image.h>

namespace DuiLib {
namespace {

// Far beyond any skin image, small enough that the pixels fit a 32-bit process.
constexpr long long kMaxPixels = 4096LL * 4096LL;

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kPngChunkOverhead = 12;  // length, type, CRC

std::uint32_t ReadBigEndian32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

bool IsPng(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof kPngSignature) return false;
    for (std::size_t i = 0; i < sizeof kPngSignature; ++i) {
        if (data[i] != kPngSignature[i]) return false;
    }
    return true;
}

// Every chunk up to IEND must lie inside the input. The decoder skips ancillary
// chunks (a text chunk may be megabytes long) by moving its read pointer, so a
// length running past the end must be caught here.
bool PngChunksFit(const std::uint8_t* data, std::size_t size) {
    std::size_t pos = sizeof kPngSignature;
    for (;;) {
        if (size - pos < kPngChunkOverhead) return false;
        const std::uint32_t length = ReadBigEndian32(data + pos);
        if (length > size - pos - kPngChunkOverhead) return false;
        const bool last = data[pos + 4] == 'I' && data[pos + 5] == 'E' && data[pos + 6] == 'N' &&
                          data[pos + 7] == 'D';
        pos += kPngChunkOverhead + length;
        if (last) return true;
    }
}

// The decoder builds each Huffman table of a JPEG into arrays of 256 codes without
// checking that the table's 16 code counts add up to no more than that. Every byte pair
// FF C4 (a table definition; entropy-coded data never holds it) is read here the way the
// decoder reads it, and a table with more codes refuses the image.
bool JpegHuffmanTablesFit(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kMaxCodes = 256;
    const auto byteAt = [&](std::size_t at) -> unsigned { return at < size ? data[at] : 0; };
    for (std::size_t marker = 0; marker + 1 < size; ++marker) {
        if (data[marker] != 0xFF || data[marker + 1] != 0xC4) continue;
        std::size_t pos = marker + 2;
        long remaining = static_cast<long>(byteAt(pos) << 8 | byteAt(pos + 1)) - 2;
        pos += 2;
        while (remaining > 0 && pos < size) {
            const unsigned tableClass = byteAt(pos) >> 4;
            const unsigned tableId = byteAt(pos) & 15;
            if (tableClass > 1 || tableId > 3) break;  // the decoder stops here itself
            std::size_t codes = 0;
            for (std::size_t i = 1; i <= 16; ++i) codes += byteAt(pos + i);
            if (codes > kMaxCodes) return false;
            pos += 17 + codes;
            remaining -= static_cast<long>(17 + codes);
        }
    }
    return true;
}

std::uint32_t Premultiply(std::uint32_t channel, std::uint32_t alpha) {
    return (channel * alpha + 127) / 255;
}

struct StbFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

}  // namespace

std::optional<DecodedImage> DecodeImage(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0 || size > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    if (IsPng(data, size) && !PngChunksFit(data, size)) return std::nullopt;
    if (!IsPng(data, size) && !JpegHuffmanTablesFit(data, size)) return std::nullopt;
    const int length = static_cast<int>(size);

    int width = 0;
    int height = 0;
    int channels = 0;
    if (!stbi_info_from_memory(data, length, &width, &height, &channels)) return std::nullopt;
    if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxPixels) {
        return std::nullopt;
    }

    std::unique_ptr<stbi_uc, StbFree> rgba(
        stbi_load_from_memory(data, length, &width, &height, &channels, STBI_rgb_alpha));
    if (!rgba || width <= 0 || height <= 0 ||
        static_cast<long long>(width) * height > kMaxPixels) {
        return std::nullopt;
    }

    DecodedImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const stbi_uc* source = rgba.get();
    bool anyTranslucent = false;
    for (std::uint32_t& pixel : image.pixels) {
        const std::uint32_t red = source[0], green = source[1], blue = source[2];
        const std::uint32_t alpha = source[3];
        source += 4;
        if (alpha == 255) {  // most pixels, and every pixel of a JPEG
            pixel = 0xFF000000u | red << 16 | green << 8 | blue;
            continue;
        }
        anyTranslucent = true;
        pixel = alpha << 24 | Premultiply(red, alpha) << 16 | Premultiply(green, alpha) << 8 |
                Premultiply(blue, alpha);
    }
    image.hasAlpha = anyTranslucent;
    return image;
}

}  // namespace DuiLib
