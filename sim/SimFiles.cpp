#include "sim/SimFiles.h"

#include <algorithm>

namespace sim {
namespace {

std::string Ascii(std::wstring_view text) {
    std::string out;
    for (const wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::wstring ParentOf(const std::wstring& path) {
    const auto slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

SimFiles::SimFiles() {
    // A fresh Windows installation has its shared data folder.
    folders_.insert(Key(L"C:"));
    folders_.insert(Key(programData));
}

std::wstring SimFiles::Key(std::wstring_view path) {
    std::wstring key(path);
    for (wchar_t& c : key)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    while (key.size() > 3 && key.back() == L'\\') key.pop_back();
    return key;
}

bool SimFiles::ParentExists(const std::wstring& key) const {
    const std::wstring parent = ParentOf(key);
    return parent.empty() || folders_.count(parent) != 0;
}

std::optional<std::string> SimFiles::File(const std::wstring& path) const {
    const auto found = files_.find(Key(path));
    if (found == files_.end()) return std::nullopt;
    return found->second;
}

void SimFiles::PutFile(const std::wstring& path, std::string bytes) {
    files_[Key(path)] = std::move(bytes);
    names_.emplace(Key(path), path);
}

bool SimFiles::HasFolder(const std::wstring& path) const { return folders_.count(Key(path)) != 0; }

std::vector<std::wstring> SimFiles::FilesIn(const std::wstring& folder) const {
    std::vector<std::wstring> out;
    for (const auto& file : files_)
        if (ParentOf(file.first) == Key(folder)) out.push_back(names_.at(file.first));
    std::sort(out.begin(), out.end());
    return out;
}

bool SimFiles::Fail(std::uint32_t& refusal, std::uint32_t error, std::string call) {
    refusal = 0;
    lastError_ = error;
    calls_.push_back(call + " -> error " + std::to_string(error));
    return false;
}

bool SimFiles::Succeed(std::string call) {
    calls_.push_back(call + " -> ok");
    return true;
}

std::wstring SimFiles::ProgramDataFolder() {
    calls_.push_back("ProgramDataFolder -> " + Ascii(programData));
    return programData;
}

bool SimFiles::CreateFolder(std::wstring_view path) {
    const std::string call = "CreateFolder " + Ascii(path);
    const std::wstring key = Key(path);
    if (refuseCreateFolder) return Fail(refuseCreateFolder, refuseCreateFolder, call);
    if (files_.count(key)) {
        std::uint32_t none = 0;
        return Fail(none, platform::ErrorAlreadyExists, call);
    }
    if (!ParentExists(key)) {
        std::uint32_t none = 0;
        return Fail(none, platform::ErrorPathNotFound, call);
    }
    folders_.insert(key);
    return Succeed(call);
}

bool SimFiles::ReadWhole(std::wstring_view path, std::uint64_t limit, std::uint64_t* size, std::string* bytes) {
    const std::string call = "ReadWhole " + Ascii(path);
    if (refuseRead) return Fail(refuseRead, refuseRead, call);
    const auto found = files_.find(Key(path));
    std::uint32_t none = 0;
    if (found == files_.end())
        return Fail(none, ParentExists(Key(path)) ? platform::ErrorFileNotFound : platform::ErrorPathNotFound, call);
    *size = found->second.size();
    if (*size > limit) {
        bytes->clear();
        return Succeed(call + " (over the limit)");
    }
    *bytes = found->second;
    return Succeed(call + " " + std::to_string(bytes->size()));
}

bool SimFiles::AppendDurably(std::wstring_view path, std::string_view bytes) {
    const std::string call = "AppendDurably " + Ascii(path) + " " + std::to_string(bytes.size());
    if (refuseAppend) return Fail(refuseAppend, refuseAppend, call);
    const std::wstring key = Key(path);
    std::uint32_t none = 0;
    if (folders_.count(key)) return Fail(none, 5, call);
    if (!ParentExists(key)) return Fail(none, platform::ErrorPathNotFound, call);
    names_.emplace(key, std::wstring(path));
    std::string& file = files_[key];
    if (tearAppendAt) {
        // The power fails: what reached the disk stays, the rest is lost.
        file.append(bytes.substr(0, std::min(*tearAppendAt, bytes.size())));
        tearAppendAt.reset();
        return Fail(none, 21, call + " (power lost)");  // ERROR_NOT_READY
    }
    file.append(bytes);
    return Succeed(call);
}

bool SimFiles::Truncate(std::wstring_view path, std::uint64_t size) {
    const std::string call = "Truncate " + Ascii(path) + " " + std::to_string(size);
    if (refuseTruncate) return Fail(refuseTruncate, refuseTruncate, call);
    const auto found = files_.find(Key(path));
    std::uint32_t none = 0;
    if (found == files_.end()) return Fail(none, platform::ErrorFileNotFound, call);
    found->second.resize(static_cast<std::size_t>(size));  // longer: zeros, as the system fills
    return Succeed(call);
}

bool SimFiles::Rename(std::wstring_view from, std::wstring_view to) {
    const std::string call = "Rename " + Ascii(from) + " " + Ascii(to);
    if (refuseRename) return Fail(refuseRename, refuseRename, call);
    const auto found = files_.find(Key(from));
    std::uint32_t none = 0;
    if (found == files_.end()) return Fail(none, platform::ErrorFileNotFound, call);
    const std::wstring target = Key(to);
    if (files_.count(target) || folders_.count(target)) return Fail(none, platform::ErrorAlreadyExists, call);
    if (!ParentExists(target)) return Fail(none, platform::ErrorPathNotFound, call);
    std::string bytes = std::move(found->second);
    names_.erase(found->first);
    files_.erase(found);
    files_[target] = std::move(bytes);
    names_[target] = std::wstring(to);
    return Succeed(call);
}

}  // namespace sim
