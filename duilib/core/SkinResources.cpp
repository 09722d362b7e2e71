#include "duilib/core/SkinResources.h"

#include <cstdio>
#include <memory>
#ifndef _WIN32
#include <filesystem>
#endif

#include "duilib/core/UIBase.h"

namespace DuiLib {
namespace {

constexpr wchar_t kZipName[] = L"membuffer";

// The process-wide settings of the library; used from the user-interface thread only.
struct ResourceState {
    std::wstring zipName;  // set while a package is registered
    const void* zipBuffer = nullptr;
    std::optional<ZipArchive> zip;
    std::wstring folder;
};

ResourceState& State() {
    static ResourceState state;
    return state;
}

// C stdio rather than file streams: a stream would link the C++ runtime's whole locale
// machinery into every program, a third of its size.
std::optional<std::vector<std::uint8_t>> ReadFromFolder(const std::wstring& path, std::size_t maxSize,
                                                        ZipError* error) {
#ifdef _WIN32
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(_wfopen(path.c_str(), L"rb"), &std::fclose);
#else
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(std::filesystem::path(path).c_str(), "rb"),
                                                         &std::fclose);
#endif
    if (!file) {
        if (error) *error = ZipError::NotFound;
        return std::nullopt;
    }
    // Read up to one byte past the limit: that byte tells a file over the limit.
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[16384];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        const std::size_t room = maxSize - bytes.size();
        if (got > room) {
            if (error) *error = ZipError::TooLarge;
            return std::nullopt;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (got < sizeof chunk) break;
    }
    if (std::ferror(file.get())) {  // a folder, say
        if (error) *error = ZipError::NotFound;
        return std::nullopt;
    }
    if (error) *error = ZipError::None;
    return bytes;
}

}  // namespace

void SkinResources::SetZip(const void* data, std::size_t size) {
    ResourceState& state = State();
    if (!state.zipName.empty() || !data) return;
    auto archive = ZipArchive::Open(static_cast<const std::uint8_t*>(data), size);
    if (!archive) return;
    state.zip = std::move(archive);
    state.zipBuffer = data;
    state.zipName = kZipName;
}

void SkinResources::CloseZip() {
    ResourceState& state = State();
    state.zip.reset();
    state.zipBuffer = nullptr;
    state.zipName.clear();
}

const void* SkinResources::ZipBuffer() { return State().zipBuffer; }

std::wstring SkinResources::ZipName() { return State().zipName; }

void SkinResources::SetResourcePath(std::wstring_view path) {
    std::wstring folder(path);
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    State().folder = std::move(folder);
}

std::wstring SkinResources::ResourcePath() { return State().folder; }

std::optional<std::vector<std::uint8_t>> SkinResources::ReadFile(std::wstring_view name, std::size_t maxSize,
                                                                 ZipError* error) {
    const ResourceState& state = State();
    if (state.zip) return state.zip->Read(ToUtf8(name), maxSize, error);
    return ReadFromFolder(state.folder + std::wstring(name), maxSize, error);
}

}  // namespace DuiLib
