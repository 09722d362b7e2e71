#pragma once
// The simulated machine's files behind the file store seam: kept in memory by path (as
// Windows compares them, without regard to case), with the calls recorded in order, calls
// refused on demand, and a power loss that lets only the first bytes of an append reach
// the disk.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/FileStoreIo.h"

namespace sim {

class SimFiles : public platform::FileStoreIo {
public:
    SimFiles();

    // Faults: the next call of that kind fails with the code (0: none). A power loss during
    // the next append keeps only its first tearAppendAt bytes and fails the call.
    std::uint32_t refuseRead = 0;
    std::uint32_t refuseAppend = 0;
    std::uint32_t refuseTruncate = 0;
    std::uint32_t refuseRename = 0;
    std::uint32_t refuseCreateFolder = 0;
    std::optional<std::size_t> tearAppendAt;
    std::wstring programData = L"C:\\ProgramData";

    // The files and folders as they stand.
    std::optional<std::string> File(const std::wstring& path) const;
    void PutFile(const std::wstring& path, std::string bytes);
    bool HasFolder(const std::wstring& path) const;
    std::vector<std::wstring> FilesIn(const std::wstring& folder) const;
    // Every call as "Name path [detail] -> outcome", in order (paths in ASCII).
    const std::vector<std::string>& Calls() const { return calls_; }

    // platform::FileStoreIo
    std::wstring ProgramDataFolder() override;
    bool CreateFolder(std::wstring_view path) override;
    bool ReadWhole(std::wstring_view path, std::uint64_t limit, std::uint64_t* size, std::string* bytes) override;
    bool AppendDurably(std::wstring_view path, std::string_view bytes) override;
    bool Truncate(std::wstring_view path, std::uint64_t size) override;
    bool Rename(std::wstring_view from, std::wstring_view to) override;
    std::uint32_t LastError() override { return lastError_; }

private:
    static std::wstring Key(std::wstring_view path);
    bool ParentExists(const std::wstring& key) const;
    bool Fail(std::uint32_t& refusal, std::uint32_t error, std::string call);
    bool Succeed(std::string call);

    std::map<std::wstring, std::string> files_;  // by Key(path)
    std::map<std::wstring, std::wstring> names_; // Key -> the path as first written
    std::set<std::wstring> folders_;
    std::vector<std::string> calls_;
    std::uint32_t lastError_ = 0;
};

}  // namespace sim
