// The pass over the real system's lists and volumes. Under Wine no disk is listed, so a
// real pass ends cleanly with nothing in the table.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "discovery/Enumerate.h"
#include "LogCapture.h"
#include "platform/System.h"

namespace {

TEST(SystemPass, EndsCleanlyWithSlotZeroNullWhereNoDiskIsListed) {
    discovery_test::LogCapture log;
    discovery::DriveTable table;
    table[0] = std::make_unique<discovery::DiskInfo>();  // an earlier pass's record goes first
    EXPECT_EQ(discovery::EnumerateDrives(platform::RealSystem(), table), 1);
    for (const auto& slot : table) EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(log.Text(), "Get Disk information start..\nEnum device...\nGet Disk information end..\n");
    EXPECT_FALSE(discovery::DebugLogFailed());
}

TEST(SystemPass, TheBindingsAnswerTheSystemDirectoryAndTheLetterOfItsVolume) {
    platform::Volumes& volumes = platform::SystemVolumes();
    std::array<wchar_t, MAX_PATH> directory{};
    const std::uint32_t length = volumes.SystemDirectory(directory.data(), MAX_PATH);
    ASSERT_GT(length, 3u);
    EXPECT_EQ(directory[1], L':');
    const std::wstring root{directory[0], L':', L'\\'};
    EXPECT_EQ(volumes.DriveTypeOf(root), platform::DriveFixed);
    platform::ByteSpace bytes;
    EXPECT_TRUE(volumes.DiskFreeSpaceEx(root, &bytes));
    EXPECT_GT(bytes.totalBytes, 0u);
    EXPECT_EQ(volumes.FromAnsiCodePage("Tavik VX310"), L"Tavik VX310");
}

TEST(SystemPass, ListsEndWithTheirSetsDestroyed) {
    // No crash and no list left behind: each listing runs its whole frame.
    const platform::System system = platform::RealSystem();
    const discovery::DiskInventory inventory = discovery::BuildInventory(system);
    for (const auto& adapter : inventory.adapters) EXPECT_LT(adapter.driverKey.size(), discovery::DriverKeyChars);
    SUCCEED() << inventory.adapters.size() << " adapters, " << inventory.disks.size() << " disks";
}

}  // namespace
