#include "history/HistoryStore.h"

#include "history/HistoryFileName.h"

namespace history {
namespace {

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// "20261211T122206Z" from FormatUtc's form, for a name.
std::wstring Stamp(std::int64_t timeUtc) {
    std::wstring out;
    for (const char c : FormatUtc(timeUtc))
        if (c != '-' && c != ':') out += static_cast<wchar_t>(c);
    return out;
}

}  // namespace

std::wstring HistoryStore::Folder() {
    std::wstring base = io_.ProgramDataFolder();
    if (base.empty()) return {};
    if (base.back() != L'\\') base += L'\\';
    return base + L"Zephra\\History";
}

std::wstring HistoryStore::PathOf(std::string_view model, std::string_view serial) {
    const std::wstring folder = Folder();
    if (folder.empty()) return {};
    return folder + L'\\' + Widen(HistoryFileName(model, serial));
}

HistoryReadResult HistoryStore::Read(std::string_view model, std::string_view serial) {
    ParsedHistory parsed;
    return Load(PathOf(model, serial), parsed);
}

HistoryReadResult HistoryStore::Load(const std::wstring& path, ParsedHistory& parsed) {
    HistoryReadResult result;
    result.path = path;
    if (result.path.empty()) {
        result.systemError = io_.LastError();
        return result;
    }
    std::uint64_t size = 0;
    std::string bytes;
    if (!io_.ReadWhole(result.path, MaxFileBytes, &size, &bytes)) {
        const std::uint32_t error = io_.LastError();
        if (error == platform::ErrorFileNotFound || error == platform::ErrorPathNotFound) {
            result.status = HistoryRead::NoHistory;
        } else {
            result.systemError = error;
        }
        return result;
    }
    if (size > MaxFileBytes) {
        parsed = ParsedHistory();
        parsed.status = ParseStatus::TooLarge;
    } else {
        parsed = ParseHistory(bytes);
    }
    result.tornTail = parsed.tornTail;
    if (parsed.status != ParseStatus::Parsed) {
        result.status = HistoryRead::Unparsable;
        result.badLine = parsed.badLine;
        return result;
    }
    result.status = HistoryRead::Read;
    result.samples = parsed.samples;
    return result;
}

bool HistoryStore::MakeFolders(const std::wstring& folder) {
    const std::wstring zephra = folder.substr(0, folder.find_last_of(L'\\'));
    return io_.CreateFolder(zephra) && io_.CreateFolder(folder);
}

bool HistoryStore::KeepAside(const std::wstring& path, std::int64_t timeUtc, std::wstring& aside) {
    const std::wstring stem = path.substr(0, path.size() - 4);  // without ".csv"
    for (int attempt = 1; attempt <= 20; ++attempt) {
        aside = stem + L".unparsable-" + Stamp(timeUtc) + (attempt > 1 ? L"-" + std::to_wstring(attempt) : L"") + L".csv";
        if (io_.Rename(path, aside)) return true;
        if (io_.LastError() != platform::ErrorAlreadyExists && io_.LastError() != platform::ErrorFileExists) break;
    }
    aside.clear();
    return false;
}

HistoryWriteResult HistoryStore::Record(std::string_view model, std::string_view serial, const HistorySample& sample) {
    HistoryWriteResult result;
    const std::wstring folder = Folder();
    if (folder.empty()) {
        result.systemError = io_.LastError();
        return result;
    }
    result.path = folder + L'\\' + Widen(HistoryFileName(model, serial));
    ParsedHistory parsed;
    const HistoryReadResult read = Load(result.path, parsed);
    bool header = true;
    switch (read.status) {
        case HistoryRead::Failed:
            result.systemError = read.systemError;
            return result;
        case HistoryRead::NoHistory:
            if (!MakeFolders(folder)) {
                result.systemError = io_.LastError();
                return result;
            }
            break;
        case HistoryRead::Unparsable:
            // Never written into: kept whole under a new name, and a new file begun.
            if (!KeepAside(result.path, sample.timeUtc, result.keptAside)) {
                result.systemError = io_.LastError();
                return result;
            }
            break;
        case HistoryRead::Read: {
            const std::optional<HistorySample> last =
                read.samples.empty() ? std::nullopt : std::optional<HistorySample>(read.samples.back());
            if (!SampleDue(last, sample)) {
                result.status = HistoryWrite::NotDue;
                return result;
            }
            if (parsed.tornTail) {
                // A power loss cut the line after the last complete one: cut it off, so that
                // the new line starts a line of its own.
                if (!io_.Truncate(result.path, parsed.completeBytes)) {
                    result.systemError = io_.LastError();
                    return result;
                }
                result.tornTailCut = true;
            }
            header = parsed.completeBytes == 0;
            break;
        }
    }
    std::string text = header ? std::string(HistoryHeader) + "\n" : std::string();
    text += FormatLine(sample);
    if (!io_.AppendDurably(result.path, text)) {
        result.systemError = io_.LastError();
        return result;
    }
    result.status = HistoryWrite::Appended;
    return result;
}

}  // namespace history
