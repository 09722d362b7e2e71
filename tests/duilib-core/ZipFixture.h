#pragma once
// Builds ZIP archives in memory for the reader's tests, with knobs to damage them.

#include <zlib.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ZipFixture {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline std::uint32_t Crc32(const Bytes& data) {
    return static_cast<std::uint32_t>(
        crc32(0L, data.empty() ? Z_NULL : data.data(), static_cast<uInt>(data.size())));
}

// Raw deflate (no zlib header), as ZIP stores it.
inline Bytes Deflate(const Bytes& data) {
    z_stream stream{};
    if (deflateInit2(&stream, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    Bytes out(deflateBound(&stream, static_cast<uLong>(data.size())));
    stream.next_in = const_cast<Bytef*>(data.data());
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

enum class Method : std::uint16_t { Stored = 0, Deflate = 8 };

struct FixtureEntry {
    FixtureEntry(std::string entryName, Bytes entryContent, Method entryMethod = Method::Deflate)
        : name(std::move(entryName)), content(std::move(entryContent)), method(entryMethod) {}

    std::string name;
    Bytes content;
    Method method;
    // Overrides applied after the true values are computed, to make a broken entry.
    std::optional<Bytes> storedData;            // bytes written instead of the encoded content
    std::optional<std::uint32_t> crc;           // recorded CRC-32
    std::optional<std::uint32_t> size;          // recorded uncompressed size
    std::optional<std::uint32_t> compressedSize;
    std::optional<std::uint32_t> localOffset;   // recorded local header offset
    std::uint16_t flags = 0;
};

struct Archive {
    Bytes bytes;
    std::size_t centralDirOffset = 0;
    std::size_t endRecordOffset = 0;
};

inline void Put16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

inline void Put32(Bytes& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

inline void Poke32(Bytes& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline Archive Build(const std::vector<FixtureEntry>& entries, std::string_view comment = {}) {
    struct Written {
        std::uint32_t offset, crc, size, compressedSize;
    };
    Archive archive;
    Bytes& out = archive.bytes;
    std::vector<Written> written;
    for (const FixtureEntry& e : entries) {
        const Bytes data = e.storedData ? *e.storedData
                           : e.method == Method::Deflate ? Deflate(e.content)
                                                         : e.content;
        Written w{static_cast<std::uint32_t>(out.size()), e.crc.value_or(Crc32(e.content)),
                  e.size.value_or(static_cast<std::uint32_t>(e.content.size())),
                  e.compressedSize.value_or(static_cast<std::uint32_t>(data.size()))};
        Put32(out, 0x04034b50);
        Put16(out, 20);
        Put16(out, e.flags);
        Put16(out, static_cast<std::uint16_t>(e.method));
        Put32(out, 0);  // time and date
        Put32(out, w.crc);
        Put32(out, w.compressedSize);
        Put32(out, w.size);
        Put16(out, static_cast<std::uint32_t>(e.name.size()));
        Put16(out, 0);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), data.begin(), data.end());
        if (e.localOffset) w.offset = *e.localOffset;
        written.push_back(w);
    }
    archive.centralDirOffset = out.size();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const FixtureEntry& e = entries[i];
        const Written& w = written[i];
        Put32(out, 0x02014b50);
        Put16(out, 20);
        Put16(out, 20);
        Put16(out, e.flags);
        Put16(out, static_cast<std::uint16_t>(e.method));
        Put32(out, 0);
        Put32(out, w.crc);
        Put32(out, w.compressedSize);
        Put32(out, w.size);
        Put16(out, static_cast<std::uint32_t>(e.name.size()));
        Put16(out, 0);  // extra
        Put16(out, 0);  // comment
        Put16(out, 0);  // disk
        Put16(out, 0);  // internal attributes
        Put32(out, 0);  // external attributes
        Put32(out, w.offset);
        out.insert(out.end(), e.name.begin(), e.name.end());
    }
    archive.endRecordOffset = out.size();
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<std::uint32_t>(entries.size()));
    Put16(out, static_cast<std::uint32_t>(entries.size()));
    Put32(out, static_cast<std::uint32_t>(archive.endRecordOffset - archive.centralDirOffset));
    Put32(out, static_cast<std::uint32_t>(archive.centralDirOffset));
    Put16(out, static_cast<std::uint32_t>(comment.size()));
    out.insert(out.end(), comment.begin(), comment.end());
    return archive;
}

}  // namespace ZipFixture
