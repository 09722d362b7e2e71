#include "duilib/core/Image.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <stb_image_write.h>

using DuiLib::DecodedImage;
using DuiLib::DecodeImage;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Rgba {
    std::uint8_t r, g, b, a;
};

void AppendTo(void* context, void* data, int size) {
    auto* out = static_cast<Bytes*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

Bytes EncodePng(int width, int height, const std::vector<Rgba>& pixels) {
    Bytes png;
    EXPECT_TRUE(stbi_write_png_to_func(AppendTo, &png, width, height, 4, pixels.data(), width * 4));
    return png;
}

Bytes EncodeJpeg(int width, int height, const std::vector<Rgba>& pixels) {
    std::vector<std::uint8_t> rgb;
    for (const Rgba& p : pixels) rgb.insert(rgb.end(), {p.r, p.g, p.b});
    Bytes jpeg;
    EXPECT_TRUE(stbi_write_jpg_to_func(AppendTo, &jpeg, width, height, 3, rgb.data(), 100));
    return jpeg;
}

std::optional<DecodedImage> Decode(const Bytes& bytes) {
    return DecodeImage(bytes.data(), bytes.size());
}

void PutBigEndian32(Bytes& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// A PNG chunk with its length and CRC, ready to be spliced into a file.
Bytes PngChunk(const char type[4], const Bytes& data) {
    Bytes chunk(12 + data.size());
    PutBigEndian32(chunk, 0, static_cast<std::uint32_t>(data.size()));
    std::copy(type, type + 4, chunk.begin() + 4);
    std::copy(data.begin(), data.end(), chunk.begin() + 8);
    const uLong crc = crc32(0L, chunk.data() + 4, static_cast<uInt>(data.size() + 4));
    PutBigEndian32(chunk, 8 + data.size(), static_cast<std::uint32_t>(crc));
    return chunk;
}

// The chunk goes right after the signature and the IHDR chunk (8 + 25 bytes).
Bytes InsertAfterHeader(const Bytes& png, const Bytes& chunk) {
    constexpr std::size_t kAfterHeader = 8 + 25;
    Bytes out(png.size() + chunk.size());
    auto next = std::copy(png.begin(), png.begin() + kAfterHeader, out.begin());
    next = std::copy(chunk.begin(), chunk.end(), next);
    std::copy(png.begin() + kAfterHeader, png.end(), next);
    return out;
}

// An international text chunk of about `size` bytes: keyword, flags, language, text.
Bytes LargeTextChunk(std::size_t size) {
    const std::string head = std::string("XML:com.adobe.xmp") + '\0' + '\0' + '\0' + '\0' + '\0';
    Bytes data(head.begin(), head.end());
    std::string text = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">";
    while (text.size() < size - head.size()) text += " padding padding padding padding";
    text.resize(size - head.size());
    data.insert(data.end(), text.begin(), text.end());
    return PngChunk("iTXt", data);
}

const std::vector<Rgba> kSample = {
    {255, 0, 0, 255},   {0, 255, 0, 255},     {0, 0, 255, 255},
    {255, 255, 255, 128}, {200, 100, 50, 128}, {10, 20, 30, 0},
};

TEST(Image, DecodesPngToPremultipliedPixels) {
    const auto image = Decode(EncodePng(3, 2, kSample));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->height, 2);
    EXPECT_TRUE(image->hasAlpha);
    // Top-down: the first row of the source comes first.
    const std::vector<std::uint32_t> expected = {
        0xFFFF0000, 0xFF00FF00, 0xFF0000FF,
        0x80808080,  // white at half alpha
        0x80643219,  // 200, 100, 50 scaled by 128/255, rounded
        0x00000000,  // colour of a fully transparent pixel is dropped
    };
    EXPECT_EQ(image->pixels, expected);

    const auto opaque = Decode(EncodePng(3, 1, {kSample.begin(), kSample.begin() + 3}));
    ASSERT_TRUE(opaque);
    EXPECT_FALSE(opaque->hasAlpha);
}

TEST(Image, DecodesJpeg) {
    constexpr int kWidth = 16;
    constexpr int kHeight = 16;
    // Top half one colour, bottom half another, each a whole band of 8 by 8 blocks.
    std::vector<Rgba> pixels(kWidth * kHeight, Rgba{200, 40, 90, 255});
    for (std::size_t i = pixels.size() / 2; i < pixels.size(); ++i) pixels[i] = {20, 220, 60, 255};
    const auto image = Decode(EncodeJpeg(kWidth, kHeight, pixels));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, kWidth);
    EXPECT_EQ(image->height, kHeight);
    EXPECT_FALSE(image->hasAlpha);
    ASSERT_EQ(image->pixels.size(), pixels.size());
    const auto near = [](std::uint32_t pixel, Rgba want) {
        const auto channel = [&](int shift, int value) {
            return std::abs(static_cast<int>(pixel >> shift & 0xFF) - value) <= 12;
        };
        return (pixel >> 24) == 255 && channel(16, want.r) && channel(8, want.g) &&
               channel(0, want.b);
    };
    // The top keeps the first colour, the bottom the second (rows not flipped).
    EXPECT_TRUE(near(image->pixels[0], pixels[0])) << std::hex << image->pixels[0];
    EXPECT_TRUE(near(image->pixels.back(), pixels.back())) << std::hex << image->pixels.back();
}

TEST(Image, SkipsALargeTextChunk) {
    std::vector<Rgba> pixels(16 * 16, Rgba{30, 60, 90, 255});
    pixels[5] = {255, 255, 255, 0};
    const Bytes plain = EncodePng(16, 16, pixels);
    const Bytes withText = InsertAfterHeader(plain, LargeTextChunk(3 * 1024 * 1024));
    ASSERT_GT(withText.size(), 3u * 1024 * 1024);

    const auto expected = Decode(plain);
    const auto image = Decode(withText);
    ASSERT_TRUE(expected);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 16);
    EXPECT_EQ(image->height, 16);
    EXPECT_TRUE(image->hasAlpha);
    EXPECT_EQ(image->pixels, expected->pixels);

    // A text chunk whose length runs past the end of the file is refused.
    Bytes cut(withText.begin(), withText.begin() + withText.size() / 2);
    EXPECT_FALSE(Decode(cut));
    // Lengths far past the end, one of them large enough to wrap a 32-bit read pointer.
    for (const std::uint32_t length : {0x7FFFFFF0u, 0x40000000u, 0xFFFFFFF0u}) {
        SCOPED_TRACE(length);
        Bytes overlong = InsertAfterHeader(plain, LargeTextChunk(64));
        PutBigEndian32(overlong, 33, length);
        EXPECT_FALSE(Decode(overlong));
    }
}

TEST(Image, RefusesGarbageAndAbsurdSizes) {
    const Bytes png = EncodePng(3, 2, kSample);
    const Bytes jpeg = EncodeJpeg(3, 2, kSample);

    // IHDR width and height sit at bytes 16 and 20; the IHDR CRC is rewritten to match.
    const auto resized = [&](std::uint32_t width, std::uint32_t height) {
        Bytes out = png;
        PutBigEndian32(out, 16, width);
        PutBigEndian32(out, 20, height);
        PutBigEndian32(out, 29, static_cast<std::uint32_t>(crc32(0L, out.data() + 12, 17)));
        return out;
    };
    // The first Huffman table claims 16 x 255 codes; the decoder has room for 256.
    const auto overfullHuffmanTable = [&] {
        Bytes out = jpeg;
        for (std::size_t i = 0; i + 21 < out.size(); ++i) {
            if (out[i] == 0xFF && out[i + 1] == 0xC4) {
                std::fill(out.begin() + i + 5, out.begin() + i + 21, 0xFF);
                return out;
            }
        }
        ADD_FAILURE() << "no Huffman table in the encoded JPEG";
        return out;
    };
    Bytes noise(4096);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i * 7919 >> 3);

    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"noise", noise},
        {"PNG signature only", Bytes(png.begin(), png.begin() + 8)},
        {"PNG cut in half", Bytes(png.begin(), png.begin() + png.size() / 2)},
        {"PNG without its end chunk", Bytes(png.begin(), png.end() - 12)},
        {"JPEG start marker only", Bytes(jpeg.begin(), jpeg.begin() + 2)},
        {"JPEG Huffman table of 4080 codes", overfullHuffmanTable()},
        {"PNG of 10000 by 10000", resized(10000, 10000)},
        {"PNG of 100000 by 1", resized(100000, 1)},
        {"PNG of 0 by 2", resized(0, 2)},
        {"PNG of 2^31 by 2^31", resized(0x80000000u, 0x80000000u)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(Decode(c.bytes));
    }
    EXPECT_FALSE(DecodeImage(nullptr, 100));
}

}  // namespace
