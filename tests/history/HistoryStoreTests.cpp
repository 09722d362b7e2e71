// The history store over the simulated machine's files: what reaches the disk on each poll,
// after a power loss, beside a file that does not parse, and when the system refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "history/HistoryStore.h"
#include "sim/SimFiles.h"

namespace {

using history::HistoryRead;
using history::HistorySample;
using history::HistoryStore;
using history::HistoryWrite;

constexpr char Model[] = "Tavik VX310 Series SSD 512GB";
constexpr char Serial[] = "TVK310A0000000000017";
const std::wstring Folder = L"C:\\ProgramData\\Zephra\\History";
const std::wstring File = Folder + L"\\Tavik_VX310_Series_SSD_512GB_TVK310A0000000000017.csv";
const std::string Header = std::string(history::HistoryHeader) + "\n";

HistorySample Sample(std::int64_t hour, unsigned celsius = 38) {
    HistorySample s;
    s.timeUtc = 1796990400 + hour * 3600;  // 2026-12-11T12:00:00Z
    s.temperatureKelvin = static_cast<std::uint16_t>(celsius + 273);
    s.availableSpare = 100;
    s.availableSpareThreshold = 10;
    s.dataUnitsWritten = {5, 1};  // past 2^64
    return s;
}

std::string Lines(const std::vector<HistorySample>& samples) {
    std::string out = Header;
    for (const auto& s : samples) out += history::FormatLine(s);
    return out;
}

TEST(HistoryStore, FirstSampleMakesTheFoldersAndTheFile) {
    sim::SimFiles files;
    HistoryStore store(files);
    EXPECT_EQ(store.Read(Model, Serial).status, HistoryRead::NoHistory);
    const auto written = store.Record(Model, Serial, Sample(0));
    EXPECT_EQ(written.status, HistoryWrite::Appended);
    EXPECT_EQ(written.path, File);
    EXPECT_TRUE(files.HasFolder(L"C:\\ProgramData\\Zephra"));
    EXPECT_TRUE(files.HasFolder(Folder));
    EXPECT_EQ(files.File(File), Lines({Sample(0)}));
    // The header and the line go in one append, so that no file is ever a header alone.
    const std::vector<std::string> appends = [&] {
        std::vector<std::string> out;
        for (const auto& call : files.Calls())
            if (call.rfind("AppendDurably", 0) == 0) out.push_back(call);
        return out;
    }();
    EXPECT_EQ(appends.size(), 1u);
    const auto read = store.Read(Model, Serial);
    EXPECT_EQ(read.status, HistoryRead::Read);
    ASSERT_EQ(read.samples.size(), 1u);
    EXPECT_EQ(read.samples[0], Sample(0));
}

TEST(HistoryStore, WritesWhenAValueChangedOrADayPassed) {
    sim::SimFiles files;
    HistoryStore store(files);
    ASSERT_EQ(store.Record(Model, Serial, Sample(0)).status, HistoryWrite::Appended);
    EXPECT_EQ(store.Record(Model, Serial, Sample(1)).status, HistoryWrite::NotDue);
    EXPECT_EQ(store.Record(Model, Serial, Sample(2, 41)).status, HistoryWrite::Appended);
    EXPECT_EQ(store.Record(Model, Serial, Sample(25, 41)).status, HistoryWrite::NotDue);
    EXPECT_EQ(store.Record(Model, Serial, Sample(26, 41)).status, HistoryWrite::Appended);
    EXPECT_EQ(files.File(File), Lines({Sample(0), Sample(2, 41), Sample(26, 41)}));
}

// Power lost in the middle of an append: the next read skips the torn line, the next
// append cuts it off first, and every complete line stays.
TEST(HistoryStore, PowerLossLeavesNoDamage) {
    const std::size_t lineBytes = history::FormatLine(Sample(1, 40)).size();
    // Nothing, a byte, half the line, all of it but its line feed.
    for (const std::size_t keptBytes : {std::size_t{0}, std::size_t{1}, lineBytes / 2, lineBytes - 1}) {
        SCOPED_TRACE(keptBytes);
        sim::SimFiles files;
        HistoryStore store(files);
        ASSERT_EQ(store.Record(Model, Serial, Sample(0)).status, HistoryWrite::Appended);
        files.tearAppendAt = keptBytes;
        EXPECT_EQ(store.Record(Model, Serial, Sample(1, 40)).status, HistoryWrite::Failed);
        const auto read = store.Read(Model, Serial);
        EXPECT_EQ(read.status, HistoryRead::Read);
        EXPECT_EQ(read.samples.size(), 1u);
        EXPECT_EQ(read.tornTail, keptBytes != 0);
        const auto again = store.Record(Model, Serial, Sample(2, 40));
        EXPECT_EQ(again.status, HistoryWrite::Appended);
        EXPECT_EQ(again.tornTailCut, keptBytes != 0);
        EXPECT_EQ(files.File(File), Lines({Sample(0), Sample(2, 40)}));
    }
}

TEST(HistoryStore, PowerLossWhileTheFileWasStarted) {
    sim::SimFiles files;
    HistoryStore store(files);
    files.tearAppendAt = 25;  // inside the header
    EXPECT_EQ(store.Record(Model, Serial, Sample(0)).status, HistoryWrite::Failed);
    EXPECT_EQ(store.Read(Model, Serial).status, HistoryRead::Read);
    EXPECT_EQ(store.Record(Model, Serial, Sample(1)).status, HistoryWrite::Appended);
    EXPECT_EQ(files.File(File), Lines({Sample(1)}));
}

TEST(HistoryStore, AFileThatDoesNotParseIsKeptAsideAndANewOneBegun) {
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"foreign", "name,value\n1,2\n"},
        {"damaged_inside", Lines({Sample(0)}) + "2026-12-1\n" + history::FormatLine(Sample(1))},
        {"binary", std::string("\x00\x01\x02\n", 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimFiles files;
        files.CreateFolder(L"C:\\ProgramData\\Zephra");
        files.CreateFolder(Folder);
        files.PutFile(File, c.bytes);
        // A second file already under the first new name: the next one is taken.
        const std::wstring aside1 =
            Folder + L"\\Tavik_VX310_Series_SSD_512GB_TVK310A0000000000017.unparsable-20261211T150000Z.csv";
        files.PutFile(aside1, "older");
        HistoryStore store(files);
        EXPECT_EQ(store.Read(Model, Serial).status, HistoryRead::Unparsable);
        EXPECT_EQ(files.File(File), c.bytes);  // reading changes nothing
        const auto written = store.Record(Model, Serial, Sample(3));
        EXPECT_EQ(written.status, HistoryWrite::Appended);
        const std::wstring aside2 = aside1.substr(0, aside1.size() - 4) + L"-2.csv";
        EXPECT_EQ(written.keptAside, aside2);
        EXPECT_EQ(files.File(aside2), c.bytes);
        EXPECT_EQ(files.File(aside1), "older");
        EXPECT_EQ(files.File(File), Lines({Sample(3)}));
    }
}

TEST(HistoryStore, RefusalsWriteNothingAndSaySo) {
    const struct {
        const char* name;
        std::uint32_t sim::SimFiles::*refusal;
        std::uint32_t error;
        bool existingFile;
    } cases[] = {
        {"read", &sim::SimFiles::refuseRead, 5, true},
        {"append", &sim::SimFiles::refuseAppend, 112, true},  // the disk is full
        {"folder", &sim::SimFiles::refuseCreateFolder, 5, false},
        {"rename", &sim::SimFiles::refuseRename, 32, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimFiles files;
        files.CreateFolder(L"C:\\ProgramData\\Zephra");
        files.CreateFolder(Folder);
        const std::string before = std::string(c.name) == "rename" ? "not a history\n" : Lines({Sample(0)});
        if (c.existingFile) files.PutFile(File, before);
        files.*c.refusal = c.error;
        const auto written = HistoryStore(files).Record(Model, Serial, Sample(1, 45));
        EXPECT_EQ(written.status, HistoryWrite::Failed);
        EXPECT_EQ(written.systemError, c.error);
        EXPECT_EQ(files.File(File), c.existingFile ? std::optional<std::string>(before) : std::nullopt);
    }
    sim::SimFiles files;
    files.refuseRead = 5;
    const auto read = HistoryStore(files).Read(Model, Serial);
    EXPECT_EQ(read.status, HistoryRead::Failed);
    EXPECT_EQ(read.systemError, 5u);
}

TEST(HistoryStore, EachDriveItsOwnSafeFile) {
    sim::SimFiles files;
    HistoryStore store(files);
    ASSERT_EQ(store.Record("Maker: SSD/1", "S*1", Sample(0)).status, HistoryWrite::Appended);
    ASSERT_EQ(store.Record("Maker: SSD/1", "S*2", Sample(0)).status, HistoryWrite::Appended);
    ASSERT_EQ(store.Record(Model, Serial, Sample(0)).status, HistoryWrite::Appended);
    const auto names = files.FilesIn(Folder);
    ASSERT_EQ(names.size(), 3u);
    for (const std::wstring& name : names) {
        const std::wstring leaf = name.substr(Folder.size() + 1);
        EXPECT_EQ(leaf.find_first_of(L":/*?\\\"<>| "), std::wstring::npos);
    }
}

}  // namespace
