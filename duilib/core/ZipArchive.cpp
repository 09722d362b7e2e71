#include "duilib/core/ZipArchive.h"

#include <zlib.h>

#include <algorithm>

namespace DuiLib {
namespace {

constexpr std::uint32_t kEndOfCentralDirSignature = 0x06054b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::size_t kEndOfCentralDirSize = 22;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kMaxCommentSize = 0xFFFF;

constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflate = 8;

// Values that mean "see the ZIP64 record", which this reader does not take.
constexpr std::uint16_t kZip64Marker16 = 0xFFFF;
constexpr std::uint32_t kZip64Marker32 = 0xFFFFFFFF;

std::uint16_t Read16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Read32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// True when [offset, offset + length) lies inside an input of `size` bytes.
bool Fits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

char FoldName(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
    if (c == '\\') return '/';  // a folder separator written either way
    return c;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return FoldName(x) == FoldName(y); });
}

template <typename T>
std::optional<T> Fail(ZipError* error, ZipError reason) {
    if (error) *error = reason;
    return std::nullopt;
}

// Inflates raw deflate data into exactly out.size() bytes.
bool InflateExact(const std::uint8_t* in, std::uint32_t inSize, std::vector<std::uint8_t>& out) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
    std::uint8_t spare = 0;  // zlib wants somewhere to write even for an empty entry
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = inSize;
    stream.next_out = out.empty() ? &spare : out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const bool complete = result == Z_STREAM_END && stream.total_out == out.size();
    inflateEnd(&stream);
    return complete;
}

}  // namespace

const char* ZipErrorText(ZipError error) {
    switch (error) {
        case ZipError::None: return "";
        case ZipError::NotFound: return "Could not find ziped file";
        case ZipError::Corrupt: return "Could not unzip file";
        case ZipError::BadArchive: return "Error opening zip file";
        case ZipError::TooLarge: return "File too large";
    }
    return "";
}

std::optional<ZipArchive> ZipArchive::Open(const std::uint8_t* data, std::size_t size,
                                           ZipError* error) {
    if (error) *error = ZipError::None;
    if (!data || size < kEndOfCentralDirSize) return Fail<ZipArchive>(error, ZipError::BadArchive);

    // The end record sits at the very end, unless an archive comment follows it.
    const std::size_t lastStart = size - kEndOfCentralDirSize;
    const std::size_t firstStart = lastStart > kMaxCommentSize ? lastStart - kMaxCommentSize : 0;
    const std::uint8_t* end = nullptr;
    for (std::size_t pos = lastStart + 1; pos-- > firstStart;) {
        const std::uint8_t* p = data + pos;
        // The comment length must reach exactly to the end, so that comment bytes
        // that happen to look like the signature are not taken for the record.
        if (Read32(p) == kEndOfCentralDirSignature &&
            Read16(p + 20) == size - pos - kEndOfCentralDirSize) {
            end = p;
            break;
        }
    }
    if (!end) return Fail<ZipArchive>(error, ZipError::BadArchive);

    const std::uint16_t diskNumber = Read16(end + 4);
    const std::uint16_t centralDirDisk = Read16(end + 6);
    const std::uint16_t entriesOnDisk = Read16(end + 8);
    const std::uint16_t entryCount = Read16(end + 10);
    const std::uint32_t centralDirSize = Read32(end + 12);
    const std::uint32_t centralDirOffset = Read32(end + 16);
    if (diskNumber != 0 || centralDirDisk != 0 || entriesOnDisk != entryCount ||
        entryCount == kZip64Marker16 || centralDirSize == kZip64Marker32 ||
        centralDirOffset == kZip64Marker32) {
        return Fail<ZipArchive>(error, ZipError::BadArchive);
    }
    const std::size_t endOffset = static_cast<std::size_t>(end - data);
    if (!Fits(centralDirOffset, centralDirSize, endOffset)) {
        return Fail<ZipArchive>(error, ZipError::BadArchive);
    }

    ZipArchive archive;
    archive.data_ = data;
    archive.size_ = size;
    archive.entries_.reserve(entryCount);
    const std::uint8_t* dir = data + centralDirOffset;
    std::size_t pos = 0;
    std::uint64_t totalSize = 0;
    for (std::uint16_t i = 0; i < entryCount; ++i) {
        if (!Fits(pos, kCentralHeaderSize, centralDirSize) ||
            Read32(dir + pos) != kCentralHeaderSignature) {
            return Fail<ZipArchive>(error, ZipError::BadArchive);
        }
        const std::uint8_t* h = dir + pos;
        const std::size_t nameLength = Read16(h + 28);
        const std::size_t extraLength = Read16(h + 30);
        const std::size_t commentLength = Read16(h + 32);
        const std::size_t recordSize = kCentralHeaderSize + nameLength + extraLength + commentLength;
        if (!Fits(pos, recordSize, centralDirSize)) {
            return Fail<ZipArchive>(error, ZipError::BadArchive);
        }
        Entry entry;
        entry.flags = Read16(h + 8);
        entry.method = Read16(h + 10);
        entry.crc32 = Read32(h + 16);
        entry.compressedSize = Read32(h + 20);
        entry.uncompressedSize = Read32(h + 24);
        entry.localHeaderOffset = Read32(h + 42);
        if (entry.compressedSize == kZip64Marker32 || entry.uncompressedSize == kZip64Marker32 ||
            entry.localHeaderOffset == kZip64Marker32 || Read16(h + 34) == kZip64Marker16) {
            return Fail<ZipArchive>(error, ZipError::BadArchive);
        }
        // An entry's local header and data come before the central directory.
        if (!Fits(entry.localHeaderOffset, kLocalHeaderSize, centralDirOffset)) {
            return Fail<ZipArchive>(error, ZipError::BadArchive);
        }
        // An entry inflates to exactly its recorded size, so the sum bounds the package.
        totalSize += entry.uncompressedSize;
        if (totalSize > kMaxTotalSize) return Fail<ZipArchive>(error, ZipError::TooLarge);
        entry.name.assign(reinterpret_cast<const char*>(h + kCentralHeaderSize), nameLength);
        archive.entries_.push_back(std::move(entry));
        pos += recordSize;
    }
    return archive;
}

const ZipArchive::Entry* ZipArchive::Find(std::string_view name) const {
    for (const Entry& entry : entries_) {
        if (SameName(entry.name, name)) return &entry;
    }
    return nullptr;
}

std::optional<std::vector<std::uint8_t>> ZipArchive::Read(std::string_view name,
                                                          std::size_t maxSize,
                                                          ZipError* error) const {
    using Bytes = std::vector<std::uint8_t>;
    if (error) *error = ZipError::None;
    const Entry* entry = Find(name);
    if (!entry) return Fail<Bytes>(error, ZipError::NotFound);
    if (entry->uncompressedSize > maxSize) return Fail<Bytes>(error, ZipError::TooLarge);
    if ((entry->flags & kFlagEncrypted) != 0) return Fail<Bytes>(error, ZipError::Corrupt);
    if (entry->method != kMethodStored && entry->method != kMethodDeflate) {
        return Fail<Bytes>(error, ZipError::Corrupt);
    }

    // The local header repeats the name and may carry a different extra field.
    const std::uint8_t* local = data_ + entry->localHeaderOffset;
    if (Read32(local) != kLocalHeaderSignature) return Fail<Bytes>(error, ZipError::Corrupt);
    const std::uint64_t dataOffset = std::uint64_t{entry->localHeaderOffset} + kLocalHeaderSize +
                                     Read16(local + 26) + Read16(local + 28);
    if (!Fits(dataOffset, entry->compressedSize, size_)) {
        return Fail<Bytes>(error, ZipError::Corrupt);
    }
    const std::uint8_t* compressed = data_ + dataOffset;

    // The budget is spent before the work is done, so a read that fails still counts.
    if (entry->uncompressedSize > kMaxTotalSize - inflated_) return Fail<Bytes>(error, ZipError::TooLarge);
    inflated_ += entry->uncompressedSize;

    Bytes content(entry->uncompressedSize);
    if (entry->method == kMethodStored) {
        if (entry->compressedSize != entry->uncompressedSize) {
            return Fail<Bytes>(error, ZipError::Corrupt);
        }
        std::copy(compressed, compressed + entry->compressedSize, content.begin());
    } else if (!InflateExact(compressed, entry->compressedSize, content)) {
        return Fail<Bytes>(error, ZipError::Corrupt);
    }

    // Sizes are 32-bit in this format, so one call covers the whole entry.
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), content.empty() ? Z_NULL : content.data(),
                            static_cast<uInt>(content.size()));
    if (crc != entry->crc32) return Fail<Bytes>(error, ZipError::Corrupt);
    return content;
}

}  // namespace DuiLib
