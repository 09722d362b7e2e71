// libFuzzer entry point for the skin package reader: open whatever arrives as an
// archive and read every entry it lists, by its own name and in capitals.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "duilib/core/ZipArchive.h"

namespace {
constexpr std::size_t kLayoutLimit = 4194304;
constexpr std::size_t kMaxEntriesRead = 64;  // keeps one input's run short
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto archive = DuiLib::ZipArchive::Open(data, size);
    if (!archive) return 0;
    std::size_t read = 0;
    for (const auto& entry : archive->Entries()) {
        if (read++ == kMaxEntriesRead) break;
        DuiLib::ZipError error = DuiLib::ZipError::None;
        const auto content = archive->Read(entry.name, kLayoutLimit, &error);
        // With a name given twice, the first entry of that name is the one read.
        const auto* found = archive->Find(entry.name);
        if (!found || (content && content->size() != found->uncompressedSize)) __builtin_trap();
        if (!content && error == DuiLib::ZipError::None) __builtin_trap();
        std::string upper = entry.name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (!archive->Find(upper)) __builtin_trap();
    }
    return 0;
}
