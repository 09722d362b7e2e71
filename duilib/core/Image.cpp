#include "duilib/core/Image.h"

#include "duilib/core/ImageResample.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>

// stb_image's declarations; StbImage.cpp compiles its implementation.
#define STBI_NO_STDIO
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

constexpr std::uint32_t ChunkType(const char (&name)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(name[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(name[3]));
}

struct PngChunk {
    std::uint32_t type = 0;
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
};

// The chunks up to and including IEND, or nothing when one of them runs past the input.
// The decoder skips ancillary chunks (a text chunk may be megabytes long) by moving its
// read pointer, so a length running past the end must be caught here.
std::optional<std::vector<PngChunk>> ListPngChunks(const std::uint8_t* data, std::size_t size) {
    std::vector<PngChunk> chunks;
    std::size_t pos = sizeof kPngSignature;
    for (;;) {
        if (size - pos < kPngChunkOverhead) return std::nullopt;
        const std::uint32_t length = ReadBigEndian32(data + pos);
        if (length > size - pos - kPngChunkOverhead) return std::nullopt;
        chunks.push_back({ReadBigEndian32(data + pos + 4), data + pos + 8, length});
        pos += kPngChunkOverhead + length;
        if (chunks.back().type == ChunkType("IEND")) return chunks;
    }
}

// How many bytes the image data inflates to for the size, colour type and bit depth that
// the header declares: for each pass (one, or the seven of an interlaced image) its rows,
// each a filter byte and the row's packed samples. Nothing for a header the decoder refuses.
std::optional<std::uint64_t> PngImageDataSize(const std::vector<PngChunk>& chunks) {
    // The header is the first chunk but for Apple's CgBI marker, which may come before it.
    const auto found = std::find_if(chunks.begin(), chunks.end(), [](const PngChunk& chunk) {
        return chunk.type != ChunkType("CgBI");
    });
    if (found == chunks.end()) return std::nullopt;
    const PngChunk& header = *found;
    if (header.type != ChunkType("IHDR") || header.length != 13) return std::nullopt;
    const std::uint64_t width = ReadBigEndian32(header.data);
    const std::uint64_t height = ReadBigEndian32(header.data + 4);
    const unsigned depth = header.data[8];
    const unsigned colourType = header.data[9];
    const unsigned interlace = header.data[12];
    std::uint64_t samples = 0;
    switch (colourType) {
        case 0: samples = 1; break;  // grey
        case 2: samples = 3; break;  // RGB
        case 3: samples = 1; break;  // palette index
        case 4: samples = 2; break;  // grey and alpha
        case 6: samples = 4; break;  // RGBA
        default: return std::nullopt;
    }
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return std::nullopt;
    if ((colourType == 3 && depth == 16) || interlace > 1 || width == 0 || height == 0) {
        return std::nullopt;
    }
    const auto passSize = [&](std::uint64_t passWidth, std::uint64_t passHeight) {
        if (passWidth == 0 || passHeight == 0) return std::uint64_t{0};  // no rows, no filter bytes
        return ((passWidth * samples * depth + 7) / 8 + 1) * passHeight;
    };
    if (interlace == 0) return passSize(width, height);
    // Adam7: each pass takes every step-th pixel from its first column and row.
    struct Pass {
        std::uint64_t column, row, columnStep, rowStep;
    };
    constexpr Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::uint64_t total = 0;
    for (const Pass& p : kAdam7) {
        // The first column and row are below the step, so width - column + step - 1 > 0.
        total += passSize((width - p.column + p.columnStep - 1) / p.columnStep,
                          (height - p.row + p.rowStep - 1) / p.rowStep);
    }
    return total;
}

// A raw-deflate zlib stream that is always ended.
struct Inflater {
    z_stream stream{};
    bool open = inflateInit2(&stream, -MAX_WBITS) == Z_OK;
    Inflater() = default;
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    ~Inflater() {
        if (open) inflateEnd(&stream);
    }
};

// Whether the image data (the IDAT chunks in order, one zlib stream) inflates to no more
// than `limit` bytes. The decoder would inflate all of it into memory before it compares the
// size with the header, so here zlib inflates it into a small scratch buffer, counting and
// stopping one byte past the limit. A stream that zlib cannot read to its end is refused as
// well, since its size is unknown. As in the decoder, the header is checked by hand and the
// checksum at the end is not; Apple's CgBI variant has no header at all.
bool PngImageDataFits(const std::vector<PngChunk>& chunks, std::uint64_t limit) {
    struct Span {
        const std::uint8_t* data;
        std::uint32_t length;
    };
    std::vector<Span> spans;
    bool hasZlibHeader = true;
    for (const PngChunk& chunk : chunks) {
        if (chunk.type == ChunkType("IDAT")) spans.push_back({chunk.data, chunk.length});
        if (chunk.type == ChunkType("CgBI")) hasZlibHeader = false;
    }
    if (hasZlibHeader) {
        std::array<unsigned, 2> header{};  // method and flags; may lie in two chunks
        std::size_t taken = 0;
        for (Span& span : spans) {
            for (; taken < header.size() && span.length > 0; ++span.data, --span.length) {
                header[taken++] = *span.data;
            }
        }
        constexpr unsigned kDeflate = 8;
        constexpr unsigned kPresetDictionary = 0x20;
        if (taken < header.size() || (header[0] << 8 | header[1]) % 31 != 0 ||
            (header[1] & kPresetDictionary) || (header[0] & 15) != kDeflate) {
            return false;
        }
    }

    Inflater inflater;
    if (!inflater.open) return false;
    z_stream& z = inflater.stream;
    std::array<Bytef, 16 * 1024> scratch;
    std::uint64_t produced = 0;
    std::size_t nextSpan = 0;
    for (;;) {
        if (z.avail_in == 0 && nextSpan < spans.size()) {
            z.next_in = const_cast<Bytef*>(spans[nextSpan].data);
            z.avail_in = spans[nextSpan].length;
            ++nextSpan;
        }
        const auto room = static_cast<uInt>(
            std::min<std::uint64_t>(scratch.size(), limit + 1 - produced));
        z.next_out = scratch.data();
        z.avail_out = room;
        const int result = inflate(&z, Z_NO_FLUSH);
        produced += room - z.avail_out;
        if (produced > limit) return false;
        if (result == Z_STREAM_END) return true;
        // No progress without more input: go on with the next chunk, if there is one.
        const bool wantsInput = result == Z_BUF_ERROR && z.avail_in == 0 && nextSpan < spans.size();
        if (result != Z_OK && !wantsInput) return false;
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

// Reads a JPEG's segments in order, the way the decoder walks them, and refuses a scan that
// decodes with a Huffman table that no earlier table definition set up: the decoder would
// take whatever its table memory holds. Only the tables a scan decodes with count, so that
// progressive files, whose scans name table 0 where they use none, still decode: a
// sequential scan uses both tables of each component; a progressive scan of the first DC
// bits its DC tables; a DC refinement scan none; an AC scan its AC tables.
bool JpegScansUseDefinedTables(const std::uint8_t* data, std::size_t size) {
    enum Marker : unsigned {
        kFrameProgressive = 0xC2,
        kHuffmanTables = 0xC4,
        kRestartFirst = 0xD0,
        kRestartLast = 0xD7,
        kImageStart = 0xD8,
        kImageEnd = 0xD9,
        kScanStart = 0xDA,
    };
    const auto isFrame = [](unsigned m) { return m >= 0xC0 && m <= 0xC2; };  // what the decoder reads
    const auto isRestart = [](unsigned m) { return m >= kRestartFirst && m <= kRestartLast; };
    const auto byteAt = [&](std::size_t at) -> unsigned { return at < size ? data[at] : 0; };

    std::array<std::array<bool, 4>, 2> defined{};  // by class (0 DC, 1 AC) and table number
    std::optional<bool> progressive;                // set by the first frame header
    std::size_t pos = 0;
    for (;;) {
        // The next marker: FF, any fill bytes FF, its code. The decoder passes over stray
        // bytes between segments.
        while (pos < size && data[pos] != 0xFF) ++pos;
        while (pos < size && data[pos] == 0xFF) ++pos;
        if (pos >= size) return true;
        const unsigned marker = data[pos++];
        if (marker == kImageEnd) return true;
        if (marker == kImageStart || isRestart(marker)) continue;  // no segment follows
        const std::size_t length = byteAt(pos) << 8 | byteAt(pos + 1);
        if (length < 2) return true;  // the decoder refuses the file here
        const std::size_t body = pos + 2;
        pos += length;

        if (isFrame(marker) && !progressive) progressive = marker == kFrameProgressive;
        if (marker == kHuffmanTables) {
            for (std::size_t at = body; at < pos;) {
                const unsigned tableClass = byteAt(at) >> 4;
                const unsigned tableId = byteAt(at) & 15;
                if (tableClass > 1 || tableId > 3) break;  // the decoder refuses the file
                std::size_t codes = 0;
                for (std::size_t i = 1; i <= 16; ++i) codes += byteAt(at + i);
                defined[tableClass][tableId] = true;
                at += 17 + codes;
            }
        }
        if (marker != kScanStart) continue;

        const unsigned components = byteAt(body);
        const std::size_t after = body + 1 + 2 * std::size_t{components};
        const unsigned spectralStart = byteAt(after);
        const unsigned approximationHigh = byteAt(after + 2) >> 4;
        const bool isProgressive = progressive.value_or(false);
        const bool usesDc = !isProgressive || (spectralStart == 0 && approximationHigh == 0);
        const bool usesAc = !isProgressive || spectralStart != 0;
        for (unsigned i = 0; i < components; ++i) {
            const unsigned tables = byteAt(body + 2 + 2 * std::size_t{i});
            const unsigned dc = tables >> 4;
            const unsigned ac = tables & 15;
            if (dc > 3 || ac > 3) return false;
            if ((usesDc && !defined[0][dc]) || (usesAc && !defined[1][ac])) return false;
        }
        // Past the entropy-coded data to the next marker; FF 00 is a data byte FF, and
        // restart markers belong to the scan.
        while (pos < size) {
            if (data[pos] != 0xFF) {
                ++pos;
                continue;
            }
            std::size_t code = pos + 1;
            while (code < size && data[code] == 0xFF) ++code;
            if (code >= size || (data[code] != 0 && !isRestart(data[code]))) break;
            pos = code + 1;
        }
    }
}

std::uint32_t Premultiply(std::uint32_t channel, std::uint32_t alpha) {
    return (channel * alpha + 127) / 255;
}

// stb's bytes (red, green, blue, alpha) as premultiplied pixels; `to` may be `from` itself.
// Whether some pixel is translucent. Opaque pixels, all of a JPEG's, only move their bytes.
bool ToPremultipliedPixels(const stbi_uc* from, std::uint32_t* to, std::size_t count) {
    std::uint32_t allAlpha = 0xFF;
    for (std::size_t i = 0; i < count; ++i, from += 4) {
        const std::uint32_t alpha = from[3];
        allAlpha &= alpha;
        to[i] = alpha << 24 | static_cast<std::uint32_t>(from[0]) << 16 | static_cast<std::uint32_t>(from[1]) << 8 | from[2];
    }
    if (allAlpha == 0xFF) return false;
    bool translucent = false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t pixel = to[i], alpha = pixel >> 24;
        if (alpha == 255) continue;
        translucent = true;
        to[i] = alpha << 24 | Premultiply(pixel >> 16 & 0xFF, alpha) << 16 | Premultiply(pixel >> 8 & 0xFF, alpha) << 8 |
                Premultiply(pixel & 0xFF, alpha);
    }
    return translucent;
}

struct StbFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

}  // namespace

std::optional<ImageShape> DecodeImageResizedInto(const std::uint8_t* data, std::size_t size, const SizedPlace& place) {
    if (!data || size == 0 || size > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    std::optional<std::vector<PngChunk>> pngChunks;
    if (IsPng(data, size)) {
        pngChunks = ListPngChunks(data, size);
        if (!pngChunks) return std::nullopt;
    } else if (!JpegHuffmanTablesFit(data, size) || !JpegScansUseDefinedTables(data, size)) {
        return std::nullopt;
    }
    const int length = static_cast<int>(size);

    int width = 0;
    int height = 0;
    int channels = 0;
    if (!stbi_info_from_memory(data, length, &width, &height, &channels)) return std::nullopt;
    if (width <= 0 || height <= 0 || static_cast<long long>(width) * height > kMaxPixels) {
        return std::nullopt;
    }
    if (pngChunks) {
        const auto needed = PngImageDataSize(*pngChunks);
        if (!needed || !PngImageDataFits(*pngChunks, *needed)) return std::nullopt;
    }

    std::unique_ptr<stbi_uc, StbFree> rgba(
        stbi_load_from_memory(data, length, &width, &height, &channels, STBI_rgb_alpha));
    if (!rgba || width <= 0 || height <= 0 ||
        static_cast<long long>(width) * height > kMaxPixels) {
        return std::nullopt;
    }
    const PixelRoom room = place(width, height);
    if (!room.pixels) return std::nullopt;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (room.width == width && room.height == height) {
        return ImageShape{width, height, ToPremultipliedPixels(rgba.get(), room.pixels, count)};
    }
    // Made premultiplied where stb left them (four bytes a pixel either way), then resized
    // into the room: no third copy of a large image.
    auto* own = reinterpret_cast<std::uint32_t*>(rgba.get());
    const bool translucent = ToPremultipliedPixels(rgba.get(), own, count);
    if (!ResampleAreaInto(ImageView{own, width, height}, room.width, room.height, room.pixels)) return std::nullopt;
    return ImageShape{room.width, room.height, translucent};
}

std::optional<ImageShape> DecodeImageInto(const std::uint8_t* data, std::size_t size, const PixelPlace& place) {
    return DecodeImageResizedInto(data, size, [&](int width, int height) {
        return PixelRoom{place(width, height), width, height};
    });
}

std::optional<DecodedImage> DecodeImage(const std::uint8_t* data, std::size_t size) {
    DecodedImage image;
    const auto shape = DecodeImageInto(data, size, [&](int width, int height) {
        image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        return image.pixels.data();
    });
    if (!shape) return std::nullopt;
    image.width = shape->width;
    image.height = shape->height;
    image.hasAlpha = shape->hasAlpha;
    return image;
}

}  // namespace DuiLib
