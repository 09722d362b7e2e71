#include "duilib/core/SkinResources.h"

#include <filesystem>
#include <fstream>
#include <iterator>

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

std::optional<std::vector<std::uint8_t>> ReadFromFolder(const std::wstring& path, std::size_t maxSize,
                                                        ZipError* error) {
    std::error_code ec;
    const std::filesystem::path file(path);
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) {
        if (error) *error = ZipError::NotFound;
        return std::nullopt;
    }
    if (size > maxSize) {
        if (error) *error = ZipError::TooLarge;
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (error) *error = ZipError::NotFound;
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::size_t>(in.gcount()) != bytes.size()) {
        if (error) *error = ZipError::Corrupt;
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
