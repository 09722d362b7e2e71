// The drive record and table, the identify-text trimming, and the debug log.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "discovery/DebugLog.h"
#include "discovery/DiskInfo.h"
#include "discovery/Identify.h"
#include "LogCapture.h"

namespace {

using discovery::DiskInfo;
using discovery::DriveTable;
using discovery::LogicalDriveInfo;

// A command object that notes, when destroyed, whether its record's logical drives were
// already gone: the release order is logical drives, command object, record.
class ProbeCmd : public devicecmd::CPrivateCmd {
public:
    ProbeCmd(const DiskInfo* record, int* destroyed, bool* drivesGoneFirst)
        : record_(record), destroyed_(destroyed), drivesGoneFirst_(drivesGoneFirst) {}
    ~ProbeCmd() override {
        ++*destroyed_;
        *drivesGoneFirst_ = true;
        for (const auto& logical : record_->logicalDrives) *drivesGoneFirst_ = *drivesGoneFirst_ && !logical;
    }

private:
    const DiskInfo* record_;
    int* destroyed_;
    bool* drivesGoneFirst_;
};

TEST(DriveTable, StartsEmptyAndReleasingItIsHarmless) {
    DriveTable table;
    for (const auto& slot : table) EXPECT_EQ(slot, nullptr);
    discovery::ReleaseDrives(table);
    discovery::ReleaseDrives(table);
    for (const auto& slot : table) EXPECT_EQ(slot, nullptr);
}

TEST(DriveTable, ReleaseFreesLogicalDrivesThenCommandObjectThenRecordAndNullsEverySlot) {
    DriveTable table;
    int destroyed = 0;
    bool drivesGoneFirst = false;
    for (std::size_t slot : {std::size_t{0}, std::size_t{15}}) {  // every slot is visited, not only 0
        table[slot] = std::make_unique<DiskInfo>();
        table[slot]->logicalDrives[0] = std::make_unique<LogicalDriveInfo>();
        table[slot]->logicalDrives[31] = std::make_unique<LogicalDriveInfo>();
        table[slot]->privateCmd = std::make_unique<ProbeCmd>(table[slot].get(), &destroyed, &drivesGoneFirst);
    }
    discovery::ReleaseDrives(table);
    EXPECT_EQ(destroyed, 2);
    EXPECT_TRUE(drivesGoneFirst);
    for (const auto& slot : table) EXPECT_EQ(slot, nullptr);
    discovery::ReleaseDrives(table);  // again: nothing left to free
    EXPECT_EQ(destroyed, 2);
}

TEST(DiskInfo, StartsZeroedAndBuildsItsTransportWord) {
    DiskInfo disk;
    EXPECT_EQ(disk.isRightDevice, 0);
    EXPECT_EQ(disk.modelNumber[0], '\0');
    EXPECT_EQ(disk.privateCmd, nullptr);
    EXPECT_EQ(disk.hasSystemVolume, 0);
    for (const auto& logical : disk.logicalDrives) EXPECT_EQ(logical, nullptr);
    disk.busType = devicecmd::TransportNvmeMiniport;
    disk.ctrlFamily = devicecmd::VendorLayout7305;
    EXPECT_EQ(disk.Transport(), 0x0503u);
}

struct TrimCase {
    const char* field;  // exactly the field's width
    const char* expected;
};

class TrimBlanksTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimBlanksTest, TrimsSpacesAtBothEndsAndZeroesTheRest) {
    const TrimCase& c = GetParam();
    const std::size_t length = std::strlen(c.field);
    std::string field(c.field);
    field.push_back('\0');  // the record's terminator
    field.push_back('#');   // a guard just past the field
    discovery::TrimBlanks(length, &field[0]);
    EXPECT_STREQ(field.c_str(), c.expected);
    for (std::size_t i = std::strlen(c.expected); i <= length; ++i) EXPECT_EQ(field[i], '\0') << "at " << i;
    EXPECT_EQ(field[length + 1], '#');
}

INSTANTIATE_TEST_SUITE_P(
    Fields, TrimBlanksTest,
    ::testing::Values(TrimCase{"  ABC  ", "ABC"}, TrimCase{"        ", ""}, TrimCase{" ", ""}, TrimCase{"X", "X"},
                      TrimCase{"VX31A005", "VX31A005"}, TrimCase{"   leading", "leading"},
                      TrimCase{"trailing   ", "trailing"}, TrimCase{"in  side", "in  side"},
                      TrimCase{"\tTAB\t", "\tTAB\t"},  // only the space is a blank
                      TrimCase{"Tavik VX310 Series SSD 1TB with a long n", "Tavik VX310 Series SSD 1TB with a long n"},
                      TrimCase{"                                   Tavik", "Tavik"}));

TEST(TrimBlanks, LeavesAnEmptyOrMissingFieldAlone) {
    char text[1] = {'\0'};
    discovery::TrimBlanks(0, text);
    EXPECT_EQ(text[0], '\0');
    discovery::TrimBlanks(4, nullptr);
}

// ---- the debug log ----

TEST(DebugLog, IsSilentWhileTheStreamIsClosed) {
    ASSERT_EQ(discovery::DebugLogStream(), nullptr);  // as the program starts
    EXPECT_EQ(discovery::DebugLog(discovery::LogProgress, "Get Disk information start..\n"), 0);
    EXPECT_EQ(discovery::DebugLog(discovery::LogErrors, "%d\n", 5), 0);
    EXPECT_FALSE(discovery::DebugLogFailed());
}

struct LevelCase {
    std::uint32_t level;
    bool writes;
};

class DebugLogLevels : public ::testing::TestWithParam<LevelCase> {};

TEST_P(DebugLogLevels, WritesOnlyLevelsWithABitIn0x3FE) {
    discovery_test::LogCapture log;
    ASSERT_TRUE(log.IsOpen());
    const int count = discovery::DebugLog(GetParam().level, "Physcialdrive%d is right device start...\n", 12);
    const std::string line = "Physcialdrive12 is right device start...\n";
    EXPECT_EQ(count, GetParam().writes ? static_cast<int>(line.size()) : 0);
    EXPECT_EQ(log.Text(), GetParam().writes ? line : std::string());
}

INSTANTIATE_TEST_SUITE_P(Levels, DebugLogLevels,
                         ::testing::Values(LevelCase{0x002, true}, LevelCase{0x008, true}, LevelCase{0x080, true},
                                           LevelCase{0x200, true}, LevelCase{0x3FF, true}, LevelCase{0x401, false},
                                           LevelCase{0x001, false}, LevelCase{0x000, false},
                                           LevelCase{0xFFFFFC01, false}, LevelCase{0xFFFFFFFF, true}));

TEST(DebugLog, FormatsWideTextsAndLettersAsTheSummaryDoes) {
    discovery_test::LogCapture log;
    const std::wstring model = L"Tavik VX310 Series SSD 512GB";
    const wchar_t fileSystem[] = L"NTFS";
    discovery::DebugLog(discovery::LogDetails, "PhyDisk: %S %d %d %d\n", model.c_str(), 3, 1, 2);
    discovery::DebugLog(discovery::LogDetails, "LogDisk:%c,%S;", static_cast<int>(L'C'), fileSystem);
    discovery::DebugLog(discovery::LogDetails, "\n");
    EXPECT_EQ(log.Text(), "PhyDisk: Tavik VX310 Series SSD 512GB 3 1 2\nLogDisk:C,NTFS;\n");
    EXPECT_FALSE(discovery::DebugLogFailed());
}

TEST(DebugLog, AFailedWriteSetsTheFailureFlagAndCountsNothing) {
    // A file opened for reading only refuses every write.
    const char* path = "discovery_log_read_only.tmp";
    std::FILE* create = std::fopen(path, "w");
    ASSERT_NE(create, nullptr);
    std::fclose(create);
    std::FILE* readOnly = std::fopen(path, "r");
    ASSERT_NE(readOnly, nullptr);
    discovery::ClearDebugLogFailure();
    discovery::SetDebugLogStream(readOnly);
    EXPECT_EQ(discovery::DebugLog(discovery::LogErrors, "Get Disk bus type error! error code = %d\n", 1), 0);
    EXPECT_TRUE(discovery::DebugLogFailed());

    // The flag stays set through later good writes until it is cleared.
    std::FILE* good = std::tmpfile();
    ASSERT_NE(good, nullptr);
    discovery::SetDebugLogStream(good);
    EXPECT_EQ(discovery::DebugLog(discovery::LogErrors, "x"), 1);
    EXPECT_TRUE(discovery::DebugLogFailed());
    discovery::ClearDebugLogFailure();
    EXPECT_FALSE(discovery::DebugLogFailed());
    discovery::SetDebugLogStream(nullptr);
    std::fclose(good);
    std::fclose(readOnly);
    std::remove(path);
}

}  // namespace
