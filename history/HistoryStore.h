#pragma once
// The drives' history files under %ProgramData%\Zephra\History\, through the file store
// seam: read by the command line, appended to by the service. Appends are whole lines,
// written through and flushed; a torn last line (a power loss while writing) is cut off
// before the next append; a file that does not parse is never written into, but kept aside
// under a new name and a new one started, so nothing is lost.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "history/HistoryCsv.h"
#include "platform/FileStoreIo.h"

namespace history {

enum class HistoryRead {
    Read,        // samples below (none in an empty file)
    NoHistory,   // no file for the drive yet
    Unparsable,  // the file is not a history file, or damaged inside (or too large)
    Failed,      // the system refused: systemError
};

struct HistoryReadResult {
    HistoryRead status = HistoryRead::Failed;
    std::vector<HistorySample> samples;
    bool tornTail = false;       // a torn last line was skipped
    std::size_t badLine = 0;     // Unparsable: the line that failed (0: too large)
    std::uint32_t systemError = 0;
    std::wstring path;           // the drive's file
};

enum class HistoryWrite {
    Appended,  // the sample is on the disk
    NotDue,    // nothing changed within a day: nothing written
    Failed,    // systemError says why; the file holds at most a torn line more
};

struct HistoryWriteResult {
    HistoryWrite status = HistoryWrite::Failed;
    std::uint32_t systemError = 0;
    std::wstring path;
    std::wstring keptAside;  // where a file that did not parse went; empty if none
    bool tornTailCut = false;
};

class HistoryStore {
public:
    explicit HistoryStore(platform::FileStoreIo& io) : io_(io) {}

    // "<ProgramData>\Zephra\History"; empty when the system names no shared data folder.
    std::wstring Folder();
    std::wstring PathOf(std::string_view model, std::string_view serial);

    // Only reads: nothing is changed, kept aside or created.
    HistoryReadResult Read(std::string_view model, std::string_view serial);

    // Appends the sample when it is due (SampleDue with the file's last sample), creating the
    // folders and the file with its header as needed.
    HistoryWriteResult Record(std::string_view model, std::string_view serial, const HistorySample& sample);

private:
    HistoryReadResult Load(const std::wstring& path, ParsedHistory& parsed);
    bool MakeFolders(const std::wstring& folder);
    bool KeepAside(const std::wstring& path, std::int64_t timeUtc, std::wstring& aside);

    platform::FileStoreIo& io_;
};

}  // namespace history
