#pragma once
// Where the skin's files come from, for the whole process: the in-memory skin package
// registered first (kept open under the name "membuffer" until closed), or else a folder.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "duilib/core/ZipArchive.h"

namespace DuiLib {

class SkinResources {
public:
    // Layout files above this size are refused.
    static constexpr std::size_t kMaxLayoutSize = 4194304;
    // Images may carry large ancillary chunks; anything beyond this is not a skin image.
    static constexpr std::size_t kMaxImageSize = 32u << 20;

    // Opens the package held in the buffer, which must outlive the registration. Ignored
    // while a package is registered; a buffer that is no archive registers nothing.
    static void SetZip(const void* data, std::size_t size);
    // Forgets the registered package; the next SetZip takes effect again.
    static void CloseZip();
    // The buffer of the registered package, or null.
    static const void* ZipBuffer();
    // The name under which the package is cached ("membuffer"), empty when none is.
    static std::wstring ZipName();

    // A backslash is appended when the path ends in neither "\" nor "/".
    static void SetResourcePath(std::wstring_view path);
    static std::wstring ResourcePath();

    // A file of the skin: from the package when one is registered (name compared
    // without letter case), else from the resource folder.
    static std::optional<std::vector<std::uint8_t>> ReadFile(std::wstring_view name,
                                                             std::size_t maxSize,
                                                             ZipError* error = nullptr);
};

}  // namespace DuiLib
