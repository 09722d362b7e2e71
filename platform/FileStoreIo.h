#pragma once
// The seam to the files the program keeps for itself (a drive's health history): the
// machine's shared data folder, folders created with the rights the history needs, whole
// reads, durable appends, cutting a torn tail and renaming. Each operation reaches the
// system in one place: the Windows binding (WinFileStoreIo.cpp) calls KERNEL32 and ADVAPI32;
// the simulated machine (sim/SimFiles.h) keeps the files in memory, with faults and power
// losses on demand.

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum : std::uint32_t {
    ErrorFileNotFound = 2,
    ErrorPathNotFound = 3,
    ErrorAlreadyExists = 183,
    ErrorFileExists = 80,
};

class FileStoreIo {
public:
    virtual ~FileStoreIo() = default;

    // The machine's shared data folder (%ProgramData%, "C:\ProgramData"); empty on failure.
    virtual std::wstring ProgramDataFolder() = 0;
    // Creates a folder whose rights let every user read and only the system account and
    // administrators write (inherited by what is made in it). An existing folder counts
    // as made and keeps its rights.
    virtual bool CreateFolder(std::wstring_view path) = 0;
    // The size of the file, and when it is at most limit bytes its whole content; opened so
    // that a writer may go on appending meanwhile. False with LastError on failure (2: none).
    virtual bool ReadWhole(std::wstring_view path, std::uint64_t limit, std::uint64_t* size, std::string* bytes) = 0;
    // Appends bytes at the end (creating the file), written through to the disk and flushed
    // before it returns.
    virtual bool AppendDurably(std::wstring_view path, std::string_view bytes) = 0;
    // Cuts the file to size bytes, flushed.
    virtual bool Truncate(std::wstring_view path, std::uint64_t size) = 0;
    // Renames, never replacing a file that exists (fails with 183 then); written through.
    virtual bool Rename(std::wstring_view from, std::wstring_view to) = 0;
    // The calling thread's last system error.
    virtual std::uint32_t LastError() = 0;
};

// The real system's (Windows build only).
FileStoreIo& SystemFileStoreIo();

}  // namespace platform
