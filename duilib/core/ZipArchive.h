#pragma once
// Reads a ZIP archive held in memory: the skin package. Entries are found by name,
// compared without regard to ASCII letter case; stored and deflate entries are read.
// Any malformed archive or entry gives a defined failure, never a read outside the input.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace DuiLib {

enum class ZipError {
    None,
    NotFound,       // no entry of that name ("Could not find ziped file")
    Corrupt,        // the entry's data cannot be inflated ("Could not unzip file")
    BadArchive,     // the archive itself cannot be read ("Error opening zip file")
    TooLarge,       // the entry is larger than the caller allows, or the package's entries
                    // together more than any package may inflate ("File too large")
};

// The library's text for an error, kept in its error buffer and never shown.
const char* ZipErrorText(ZipError error);

class ZipArchive {
public:
    struct Entry {
        std::string name;
        std::uint32_t compressedSize = 0;
        std::uint32_t uncompressedSize = 0;
        std::uint16_t method = 0;  // 0 stored, 8 deflate
        std::uint16_t flags = 0;   // general-purpose bits; bit 0 marks an encrypted entry
        std::uint32_t localHeaderOffset = 0;
        std::uint32_t crc32 = 0;
    };

    // What all the reads of one package may inflate to together. Each entry is bounded
    // by its caller, but many entries may name one stream, and one entry may be read
    // again and again (under another spelling of its name, or after a cache was emptied);
    // the program's own package inflates to well under a megabyte.
    static constexpr std::uint64_t kMaxTotalSize = 64u * 1024 * 1024;

    // Parses the central directory. The bytes are not copied: they must outlive the archive.
    // Fails with TooLarge when the entries' recorded sizes add up to more than kMaxTotalSize.
    static std::optional<ZipArchive> Open(const std::uint8_t* data, std::size_t size,
                                          ZipError* error = nullptr);

    const std::vector<Entry>& Entries() const { return entries_; }
    const Entry* Find(std::string_view name) const;  // ASCII case ignored, '\\' same as '/'

    // The entry's bytes; fails with TooLarge when its recorded size is above maxSize, or
    // would take what this archive's reads have inflated so far past kMaxTotalSize
    // (both checked before any inflating), and with Corrupt when the data cannot be
    // inflated to exactly that size with a matching CRC-32, or is encrypted or of another
    // method. Every read that inflates counts, whether or not its data proves sound.
    std::optional<std::vector<std::uint8_t>> Read(std::string_view name, std::size_t maxSize,
                                                  ZipError* error = nullptr) const;

    // What the reads so far have inflated (or copied), in bytes.
    std::uint64_t InflatedSoFar() const { return inflated_; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::vector<Entry> entries_;
    // A read does not change the archive, but it spends from the package's one budget.
    mutable std::uint64_t inflated_ = 0;
};

}  // namespace DuiLib
