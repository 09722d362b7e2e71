#include "duilib/core/Image.h"

#include "duilib/core/ImageResample.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stb_image_write.h>

using DuiLib::DecodedImage;
using DuiLib::DecodeImage;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint8_t kPngSignatureBytes[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

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

TEST(Image, DecodesIntoTheCallersMemoryOrGivesUpWithIt) {
    const Bytes png = EncodePng(3, 2, kSample);
    std::vector<std::uint32_t> memory(6, 0xDEADBEEF);
    std::vector<std::pair<int, int>> asked;
    const auto shape = DuiLib::DecodeImageInto(png.data(), png.size(), [&](int width, int height) {
        asked.emplace_back(width, height);
        return memory.data();
    });
    ASSERT_TRUE(shape);
    EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{3, 2}}));
    EXPECT_EQ(shape->width, 3);
    EXPECT_EQ(shape->height, 2);
    EXPECT_TRUE(shape->hasAlpha);
    EXPECT_EQ(memory, Decode(png)->pixels);

    // No room: nothing decoded. Input refused: no room asked for.
    EXPECT_FALSE(DuiLib::DecodeImageInto(png.data(), png.size(), [](int, int) { return nullptr; }));
    const Bytes cut(png.begin(), png.begin() + 40);
    asked.clear();
    EXPECT_FALSE(DuiLib::DecodeImageInto(cut.data(), cut.size(), [&](int width, int height) {
        asked.emplace_back(width, height);
        return memory.data();
    }));
    EXPECT_TRUE(asked.empty());
}

TEST(Image, DecodesResizedIntoTheCallersMemory) {
    // A translucent PNG and an opaque JPEG, each taken to a room of another size: the
    // pixels are the decoded image resized, the shape is the room's, the alpha is kept.
    std::vector<Rgba> translucent, opaque;
    for (int i = 0; i < 12 * 9; ++i) {
        const auto v = static_cast<std::uint8_t>(i * 37);
        translucent.push_back({v, static_cast<std::uint8_t>(255 - v), 40, static_cast<std::uint8_t>(i % 3 ? 255 : v)});
        opaque.push_back({v, 90, static_cast<std::uint8_t>(255 - v), 255});
    }
    const struct {
        Bytes bytes;
        bool hasAlpha;
    } images[] = {{EncodePng(12, 9, translucent), true}, {EncodeJpeg(12, 9, opaque), false}};
    for (const auto& image : images) {
        const auto decoded = Decode(image.bytes);
        ASSERT_TRUE(decoded);
        for (const auto& [width, height] : {std::pair{7, 5}, std::pair{21, 16}, std::pair{12, 9}, std::pair{12, 4}}) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
            std::vector<std::uint32_t> room(static_cast<std::size_t>(width) * height + 1, 0xDEADBEEF);
            std::vector<std::pair<int, int>> asked;
            const auto shape = DuiLib::DecodeImageResizedInto(image.bytes.data(), image.bytes.size(), [&](int w, int h) {
                asked.emplace_back(w, h);
                return DuiLib::PixelRoom{room.data(), width, height};
            });
            ASSERT_TRUE(shape);
            EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{12, 9}}));
            EXPECT_EQ(shape->width, width);
            EXPECT_EQ(shape->height, height);
            EXPECT_EQ(shape->hasAlpha, image.hasAlpha);
            EXPECT_EQ(room.back(), 0xDEADBEEFu) << "written past the room";
            room.pop_back();
            EXPECT_EQ(room, DuiLib::ResampleArea(*decoded, width, height).pixels);
        }
        // No room, or a size the resampler refuses: nothing.
        std::vector<std::uint32_t> room(4);
        EXPECT_FALSE(DuiLib::DecodeImageResizedInto(image.bytes.data(), image.bytes.size(),
                                                    [](int, int) { return DuiLib::PixelRoom{}; }));
        EXPECT_FALSE(DuiLib::DecodeImageResizedInto(image.bytes.data(), image.bytes.size(), [&](int, int) {
            return DuiLib::PixelRoom{room.data(), 0, 4};
        }));
    }
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

// Inputs kept under data/image: reproducers found by fuzzing and by hand, and a progressive
// JPEG made by libjpeg's cjpeg.
Bytes ReadImageFile(const std::string& name) {
    std::ifstream file(std::string(ZEPHRA_SOURCE_DIR) + "/tests/duilib-core/data/image/" + name,
                       std::ios::binary);
    EXPECT_TRUE(file) << name;
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Where a JPEG's n-th scan header lists its components: the byte after its component count.
std::size_t ScanComponents(const Bytes& jpeg, int n) {
    for (std::size_t i = 0; i + 4 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA && n-- == 0) return i + 5;
    }
    ADD_FAILURE() << "fewer scans than asked for";
    return 0;
}

// The scan names tables the file never defined. Decoded, it would read table memory that
// nothing set up (a decoded PNG's rows, after seq1).
TEST(Image, RefusesAScanWithAnUndefinedHuffmanTable) {
    const auto groomed = Decode(ReadImageFile("seq1_groom_2320x8.png"));
    ASSERT_TRUE(groomed);
    EXPECT_EQ(groomed->width, 2320);
    EXPECT_EQ(groomed->height, 8);
    EXPECT_FALSE(Decode(ReadImageFile("seq2_jpeg_undefined_table1.jpg")));
    EXPECT_FALSE(Decode(ReadImageFile("jpg_undefined_huffman_table.jpg")));

    // The encoder's file defines DC and AC tables 0 and 1; its scan names DC 0 and AC 0 for
    // the luma component, in the byte after the component's id.
    const Bytes jpeg = EncodeJpeg(16, 8, std::vector<Rgba>(16 * 8, Rgba{90, 160, 30, 255}));
    const std::size_t luma = ScanComponents(jpeg, 0) + 1;
    ASSERT_EQ(jpeg[luma], 0x00);
    const struct {
        std::uint8_t tables;
        bool decodes;
    } cases[] = {{0x11, true}, {0x01, true}, {0x20, false}, {0x03, false}, {0x33, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.tables));
        Bytes named = jpeg;
        named[luma] = c.tables;
        EXPECT_EQ(Decode(named).has_value(), c.decodes);
    }
}

// Progressive scans name tables they do not decode with: the first DC scan names AC table 0
// before any AC table is defined, and DC refinement scans use no table at all.
TEST(Image, DecodesProgressiveJpegWhoseScansNameUnusedTables) {
    const Bytes jpeg = ReadImageFile("progressive_32x16.jpg");
    const auto image = Decode(jpeg);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 32);
    ASSERT_EQ(image->height, 16);
    const auto near = [](std::uint32_t pixel, int r, int g, int b) {
        const auto channel = [&](int shift, int value) {
            return std::abs(static_cast<int>(pixel >> shift & 0xFF) - value) <= 16;
        };
        return (pixel >> 24) == 255 && channel(16, r) && channel(8, g) && channel(0, b);
    };
    EXPECT_TRUE(near(image->pixels[5 * 32 + 3], 200, 40, 90)) << std::hex << image->pixels[5 * 32 + 3];
    EXPECT_TRUE(near(image->pixels[9 * 32 + 28], 20, 120, 220)) << std::hex << image->pixels[9 * 32 + 28];

    // Scans as cjpeg wrote them: 0 first DC bits of all three components (luma tables 0/0,
    // chroma 1/0), 1 a luma AC band (0/0), 6 the DC refinement (0/0 for all three).
    const struct {
        const char* what;
        int scan;
        int component;
        std::uint8_t tables;
        bool decodes;
    } cases[] = {
        {"first DC scan names undefined AC table 3", 0, 0, 0x03, true},
        {"first DC scan names undefined DC table 2", 0, 1, 0x20, false},
        {"AC scan names undefined DC table 3", 1, 0, 0x30, true},
        {"AC scan names undefined AC table 2", 1, 0, 0x02, false},
        {"DC refinement names undefined tables 3", 6, 2, 0x33, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes named = jpeg;
        named[ScanComponents(jpeg, c.scan) + 1 + 2 * c.component] = c.tables;
        const auto decoded = Decode(named);
        EXPECT_EQ(decoded.has_value(), c.decodes);
        // Where the named table is not used, the image is the same.
        if (decoded && c.decodes) {
            EXPECT_EQ(decoded->pixels, image->pixels);
        }
    }
}

// Each of these overflows int in the DC path (predictor sum, dequantisation, progressive
// shift). The arithmetic wraps, so they decode to the same pixels every time, whatever the
// heap held before.
TEST(Image, DecodesJpegWithOverflowingDcValuesTheSameEveryTime) {
    const struct {
        const char* file;
        int width, height;
    } cases[] = {
        {"jpg_dc_accum_q65535_16bit_16x8.jpg", 16, 8},
        {"jpg_prog_dc_al13_128x8.jpg", 128, 8},
        {"jpg_dc_accum_q1_4096x4096.jpg", 4096, 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const Bytes jpeg = ReadImageFile(c.file);
        auto first = Decode(jpeg);
        ASSERT_TRUE(first);
        EXPECT_EQ(first->width, c.width);
        EXPECT_EQ(first->height, c.height);
        EXPECT_FALSE(first->hasAlpha);
        if (c.width * c.height > 128 * 8) continue;  // once is enough for the large one
        EXPECT_TRUE(Decode(ReadImageFile("seq1_groom_2320x8.png")));  // leaves rows on the heap
        const auto again = Decode(jpeg);
        ASSERT_TRUE(again);
        EXPECT_EQ(again->pixels, first->pixels);
    }
}

// A PNG made from the given filtered image data: signature, header, the zlib stream split
// into IDAT chunks of `idatSize` bytes, end.
Bytes PngFromImageData(std::uint32_t width, std::uint32_t height, std::uint8_t colourType,
                       std::uint8_t depth, bool interlaced, const Bytes& zlibStream,
                       std::size_t idatSize) {
    Bytes header(13);
    PutBigEndian32(header, 0, width);
    PutBigEndian32(header, 4, height);
    header[8] = depth;
    header[9] = colourType;
    header[12] = interlaced ? 1 : 0;
    Bytes png(std::begin(kPngSignatureBytes), std::end(kPngSignatureBytes));
    const auto append = [&](const Bytes& chunk) { png.insert(png.end(), chunk.begin(), chunk.end()); };
    append(PngChunk("IHDR", header));
    for (std::size_t at = 0; at < zlibStream.size(); at += idatSize) {
        const std::size_t end = std::min(zlibStream.size(), at + idatSize);
        append(PngChunk("IDAT", Bytes(zlibStream.begin() + at, zlibStream.begin() + end)));
    }
    append(PngChunk("IEND", {}));
    return png;
}

Bytes Compress(const Bytes& raw) {
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
    out.resize(size);
    return out;
}

// The image data must inflate to no more than the header's size needs: per pass, rows times
// a filter byte plus the row's packed samples. One byte more is refused; fewer, too.
TEST(Image, RefusesPngImageDataLargerThanItsSize) {
    const struct {
        const char* what;
        std::uint32_t width, height;
        std::uint8_t colourType, depth;
        bool interlaced;
        std::size_t needed;
    } cases[] = {
        {"RGBA 1 x 1", 1, 1, 6, 8, false, 5},
        {"RGBA 7 x 3", 7, 3, 6, 8, false, 3 * (1 + 28)},
        {"grey 1-bit 5 x 2", 5, 2, 0, 1, false, 2 * (1 + 1)},
        {"grey 2-bit 9 x 1", 9, 1, 0, 2, false, 1 + 3},
        {"grey and alpha 4 x 2", 4, 2, 4, 8, false, 2 * (1 + 8)},
        {"RGB 16-bit 2 x 1", 2, 1, 2, 16, false, 1 + 12},
        // Adam7 passes of 3 x 3: 1x1, none, none, 1x1, 2x1, 1x2, 3x1.
        {"interlaced RGBA 3 x 3", 3, 3, 6, 8, true, 5 + 5 + 9 + 2 * 5 + 13},
        // 1 x 1 interlaced has only the first pass.
        {"interlaced grey 1 x 1", 1, 1, 0, 8, true, 2},
        // 10 x 1: passes 1, 2, 4, 6 hold 2, 1, 2, 5 pixels of one row each.
        {"interlaced grey 10 x 1", 10, 1, 0, 8, true, 3 + 2 + 3 + 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const long extra : {0L, 1L, -1L}) {
            SCOPED_TRACE(extra);
            const Bytes raw(c.needed + extra, 0);  // filter "none", samples 0
            for (const std::size_t idatSize : {std::size_t{1}, std::size_t{4096}}) {
                const auto image = Decode(
                    PngFromImageData(c.width, c.height, c.colourType, c.depth, c.interlaced,
                                     Compress(raw), idatSize));
                EXPECT_EQ(image.has_value(), extra == 0);
                if (image) {
                    EXPECT_EQ(image->width, static_cast<int>(c.width));
                    EXPECT_EQ(image->height, static_cast<int>(c.height));
                }
            }
        }
    }
}

// A 1 x 1 PNG of 1 MB whose image data inflates to 1 GB, built from one deflated megabyte
// of zeros repeated (each piece starts afresh after a full flush). It is refused after the
// first few inflated bytes; the decoder alone would have inflated all of it into memory.
TEST(Image, RefusesAPngWhoseImageDataInflatesWithoutBound) {
    constexpr std::size_t kMegabyte = 1024 * 1024;
    const Bytes zeros(kMegabyte, 0);
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 9), Z_OK);
    Bytes piece(compressBound(kMegabyte) + 64);
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(zeros.size());
    z.next_out = piece.data();
    z.avail_out = static_cast<uInt>(piece.size());
    ASSERT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
    piece.resize(piece.size() - z.avail_out);
    Bytes end(64);
    z.next_out = end.data();
    z.avail_out = static_cast<uInt>(end.size());
    ASSERT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    end.resize(end.size() - z.avail_out);
    deflateEnd(&z);

    constexpr std::size_t kZlibHeader = 2;
    Bytes stream(piece.begin(), piece.end());
    for (int i = 1; i < 1024; ++i) stream.insert(stream.end(), piece.begin() + kZlibHeader, piece.end());
    stream.insert(stream.end(), end.begin(), end.end());
    ASSERT_LT(stream.size(), 2 * kMegabyte);

    for (const bool interlaced : {false, true}) {
        SCOPED_TRACE(interlaced);
        EXPECT_FALSE(Decode(PngFromImageData(1, 1, 6, 8, interlaced, stream, 64 * 1024)));
    }
    // The same construction of one piece is fine for an image that needs a megabyte.
    Bytes fits(piece.begin(), piece.end());
    fits.insert(fits.end(), end.begin(), end.end());
    const auto image = Decode(PngFromImageData(1023, 1024, 0, 8, false, fits, 64 * 1024));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 1023);
}

}  // namespace
