// Discovery's storage replies judged within their returned count, and the cases around
// them that the pass handles and nothing else checks.
#include "discovery/StorageReplies.h"

#include <gtest/gtest.h>

#include <vector>

#include "LogCapture.h"
#include "RecordingIo.h"
#include "discovery/Enumerate.h"
#include "discovery/Identify.h"
#include "sim/SimCodes.h"
#include "sim/SimComputer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void Put64(Bytes& bytes, std::size_t at, std::uint64_t value) {
    Put32(bytes, at, static_cast<std::uint32_t>(value));
    Put32(bytes, at + 4, static_cast<std::uint32_t>(value >> 32));
}

struct Cut {
    const char* where;
    std::uint32_t returned;
    bool taken;
};

TEST(StorageReplies, DeviceNumberNeedsTheWholeStructure) {
    Bytes reply(12, 0);
    Put32(reply, 0, 7);
    Put32(reply, 4, 5);
    Put32(reply, 8, 2);
    for (const Cut& cut : {Cut{"empty", 0, false}, Cut{"DeviceType only", 4, false},
                           Cut{"without the partition", 8, false}, Cut{"less a byte", 11, false},
                           Cut{"whole", 12, true}, Cut{"more than the buffer", 13, false}}) {
        SCOPED_TRACE(cut.where);
        const auto number = discovery::DeviceNumberFromReply(reply.data(), cut.returned, reply.size());
        ASSERT_EQ(number.has_value(), cut.taken);
        if (number) {
            EXPECT_EQ(number->device, 5u);
            EXPECT_EQ(number->partition, 2u);
        }
    }
}

TEST(StorageReplies, BusTypeNeedsTheCountToReachIt) {
    Bytes reply(32, 0);
    reply[24] = 17;
    for (const Cut& cut : {Cut{"empty", 0, false}, Cut{"Version and Size", 8, false},
                           Cut{"up to the bus type", 24, false}, Cut{"through the bus type", 25, true},
                           Cut{"whole", 32, true}, Cut{"more than the buffer", 33, false}}) {
        SCOPED_TRACE(cut.where);
        const auto bus = discovery::BusTypeFromReply(reply.data(), cut.returned, reply.size());
        ASSERT_EQ(bus.has_value(), cut.taken);
        if (bus) {
            EXPECT_EQ(*bus, 17);
        }
    }
}

TEST(StorageReplies, CapacityNeedsTheGeometryAndTheDiskSize) {
    Bytes reply(40, 0);
    Put32(reply, 20, 512);
    Put64(reply, 24, 1000215216ull * 512);
    for (const Cut& cut : {Cut{"empty", 0, false}, Cut{"before BytesPerSector", 20, false},
                           Cut{"geometry only", 24, false}, Cut{"disk size less a byte", 31, false},
                           Cut{"through the disk size", 32, true}, Cut{"whole", 40, true},
                           Cut{"more than the buffer", 41, false}}) {
        SCOPED_TRACE(cut.where);
        const auto capacity = discovery::CapacityFromReply(reply.data(), cut.returned, reply.size());
        ASSERT_EQ(capacity.has_value(), cut.taken);
        if (capacity) {
            EXPECT_EQ(capacity->totalSectors, 1000215216u);
            EXPECT_EQ(capacity->bytesPerSector, 512u);
        }
    }
    // No sector size: nothing is divided, and the capacity is 0 sectors of 0 bytes.
    Put32(reply, 20, 0);
    const auto noSectorSize = discovery::CapacityFromReply(reply.data(), 40, reply.size());
    ASSERT_TRUE(noSectorSize);
    EXPECT_EQ(noSectorSize->totalSectors, 0u);
    EXPECT_EQ(noSectorSize->bytesPerSector, 0u);
    Put32(reply, 20, 512);
    Put64(reply, 24, 0x8000000000000000ull);
    const auto negative = discovery::CapacityFromReply(reply.data(), 40, reply.size());
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->totalSectors, 0u);
}

TEST(StorageReplies, ADiskWhoseNumberComesBackShortIsNotEntered) {
    // A zeroed reply buffer would name disk 0, which is another disk here.
    sim::SimComputer pc;
    const auto nvme = pc.AddAdapter(sim::AdapterNvme);
    pc.AddForeignNvmeDrive(nvme, "Other Maker NVMe SSD 1TB");
    const sim::SimDisk& vx310 = pc.AddVx310(nvme, sim::SimNvmePath::Inbox);
    pc.Machine().CutReplies(vx310.interfacePath, sim::IoctlStorageGetDeviceNumber, 4);
    discovery_test::RecordingIo io(pc.Machine());
    discovery::DriveTable table;
    discovery::EnumerateDrives(platform::System{io, pc.Tree(), pc.Volumes()}, table);
    EXPECT_EQ(table[0], nullptr);
    EXPECT_FALSE(io.Opened(vx310.physicalPath));
    // Each disk walked gets its first sector read once.
    std::size_t walksOfDiskZero = 0;
    for (const auto& open : io.opens)
        if (open.path == L"\\\\.\\PhysicalDrive0") ++walksOfDiskZero;
    EXPECT_EQ(walksOfDiskZero, 1u) << "disk 0 is walked once, as itself";
    discovery::ReleaseDrives(table);
}

TEST(StorageReplies, AShortBusTypeReplyDiscardsTheDiskWithItsErrorCode) {
    sim::SimComputer pc;
    const sim::SimDisk& vx310 = pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), sim::SimNvmePath::Inbox);
    pc.Machine().CutReplies(vx310.physicalPath, sim::IoctlStorageQueryProperty, 24, 1);
    discovery_test::LogCapture log;
    log.OnlyLevels(discovery::LogErrors);
    discovery::DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    EXPECT_EQ(table[0], nullptr);
    EXPECT_EQ(log.Text(), "Get Disk bus type error! error code = 13\n");
    discovery::ReleaseDrives(table);
}

TEST(StorageReplies, AShortGeometryLeavesNoCapacity) {
    sim::SimComputer pc;
    const sim::SimDisk& vx310 = pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), sim::SimNvmePath::Inbox);
    pc.Machine().CutReplies(vx310.physicalPath, sim::IoctlDiskGetDriveGeometryEx, 31);
    discovery::DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[0]->totalSectors, 0u);
    EXPECT_EQ(table[0]->bytesPerSector, 0u);
    discovery::ReleaseDrives(table);
}

TEST(EnumerateDrives, AnAdapterFoundThroughIntermediateNodesKeepsItsPathForTheMiniport) {
    // The disk hangs under two channel nodes under the adapter.
    sim::SimComputer pc;
    const auto nvme = pc.AddAdapter(sim::AdapterNvme);
    sim::SimDiskOptions options;
    options.nodesBetween = 2;
    pc.AddVx310(nvme, sim::SimNvmePath::Miniport, options);
    discovery::DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[0]->busType, 3);
    EXPECT_EQ(std::wstring(table[0]->adapterPath.data()), pc.Adapter(nvme).interfacePath);
    discovery::ReleaseDrives(table);
}

TEST(TouchFirstSector, ReadsTheFirstSectorOfDriveZero) {
    sim::SimComputer pc;
    pc.AddVx310(pc.AddAdapter(sim::AdapterNvme), sim::SimNvmePath::Inbox, {0, {}, {}});
    discovery_test::RecordingIo io(pc.Machine());
    discovery::TouchFirstSector(io, 0);
    ASSERT_EQ(io.opens.size(), 1u);
    EXPECT_EQ(io.opens[0].path, L"\\\\.\\PhysicalDrive0");
    EXPECT_EQ(io.reads, std::vector<std::uint32_t>{512});
    EXPECT_EQ(pc.Machine().OpenHandleCount(), 0u);
}

}  // namespace
