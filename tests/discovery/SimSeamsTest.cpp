// The simulated computer's device tree and volumes answer as the system does.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "sim/SimComputer.h"

namespace {

TEST(SimDeviceTree, ListsInterfacesOfAClassInOrderWithSizeThenDetail) {
    sim::SimComputer pc;
    const auto nvme = pc.AddAdapter(sim::AdapterNvme);
    pc.AddVx310(nvme, sim::SimNvmePath::Inbox);
    pc.AddPlainDisk(nvme, 1000);
    sim::SimDeviceTree& tree = pc.Tree();

    const platform::DeviceInfoSet set =
        tree.GetClassDevs(platform::DiskInterface, platform::ClassDevsInterfaces | platform::ClassDevsPresent);
    ASSERT_NE(set, platform::InvalidDeviceInfoSet());
    for (std::uint32_t index = 0; index < 2; ++index) {
        platform::DeviceInterfaceData member;
        ASSERT_TRUE(tree.EnumDeviceInterfaces(set, platform::DiskInterface, index, &member));
        std::uint32_t required = 0;
        EXPECT_FALSE(tree.GetDeviceInterfaceDetailSize(set, member, &required));
        EXPECT_EQ(pc.Machine().LastError(), sim::ErrorInsufficientBuffer);
        const std::wstring& expected = pc.Disk(index).interfacePath;
        EXPECT_EQ(required, 4 + 2 * (expected.size() + 1));
        std::wstring path;
        platform::DeviceInfoData device;
        EXPECT_FALSE(tree.GetDeviceInterfaceDetail(set, member, required - 1, &path, &device));
        ASSERT_TRUE(tree.GetDeviceInterfaceDetail(set, member, required, &path, &device));
        EXPECT_EQ(path, expected);
        EXPECT_EQ(device.devInst, pc.Disk(index).node);
    }
    platform::DeviceInterfaceData past;
    EXPECT_FALSE(tree.EnumDeviceInterfaces(set, platform::DiskInterface, 2, &past));
    EXPECT_EQ(pc.Machine().LastError(), sim::ErrorNoMoreItems);
    EXPECT_TRUE(tree.DestroyDeviceInfoList(set));
    EXPECT_FALSE(tree.DestroyDeviceInfoList(set));
    EXPECT_EQ(tree.OpenSetCount(), 0u);
}

TEST(SimDeviceTree, WalksFromADiskUpThroughItsChainToTheAdapterAndTheTop) {
    sim::SimComputer pc;
    const auto sata = pc.AddAdapter(sim::AdapterSata);
    const sim::SimDisk& disk = pc.AddSataDrive(sata, {}, {{}, {}, 3u});
    sim::SimDeviceTree& tree = pc.Tree();
    platform::DevInst node = disk.node;
    platform::DevInst parent = 0;
    std::vector<std::wstring> keys;
    while (tree.GetParent(&parent, node) == platform::ConfigSuccess) {
        node = parent;
        std::array<wchar_t, 44> key{};
        std::uint32_t capacity = 44;
        if (tree.GetDevNodeRegistryProperty(node, platform::CmDrpDriver, key.data(), &capacity) ==
            platform::ConfigSuccess)
            keys.emplace_back(key.data());
        else
            keys.emplace_back(L"-");
    }
    // Three channels, the adapter, the PCI root, the top (no driver key).
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_EQ(keys[3], pc.Adapter(sata).driverKey);
    EXPECT_EQ(keys[5], L"-");

    std::array<wchar_t, 8> small{};
    std::uint32_t capacity = 8;
    EXPECT_EQ(tree.GetDevNodeRegistryProperty(pc.Adapter(sata).node, platform::CmDrpDriver, small.data(), &capacity),
              platform::ConfigBufferSmall);
    EXPECT_EQ(capacity, pc.Adapter(sata).driverKey.size() + 1);
    std::array<wchar_t, 200> id{};
    EXPECT_EQ(tree.GetDeviceId(pc.Adapter(sata).node, id.data(), 200), platform::ConfigSuccess);
    EXPECT_EQ(std::wstring(id.data()), pc.Adapter(sata).instanceId);
}

TEST(SimVolumes, NamesMountPathsAndSizesAsTheSystemReportsThem) {
    sim::SimComputer pc;
    const std::size_t c = pc.AddVolume(0, {L"C:\\", L"D:\\mnt\\c\\"}, 8 * sim::TiB, 1 * sim::TiB);
    const std::size_t none = pc.AddVolume(0, {}, sim::GiB, 0);
    sim::SimVolumes& volumes = pc.Volumes();

    std::array<wchar_t, 260> buffer{};
    const std::wstring mountPoint = volumes.Volume(c).interfacePath + L"\\";
    std::copy(mountPoint.begin(), mountPoint.end(), buffer.begin());
    ASSERT_TRUE(volumes.VolumeNameForMountPoint(buffer.data(), buffer.data(), 260));  // in place
    EXPECT_EQ(std::wstring(buffer.data()), volumes.Volume(c).volumeName);
    std::uint32_t length = 0;
    ASSERT_TRUE(volumes.VolumePathNames(buffer.data(), buffer.data(), 260, &length));
    EXPECT_EQ(std::wstring(buffer.data(), length), std::wstring(L"C:\\\0D:\\mnt\\c\\\0\0", 15));
    EXPECT_FALSE(volumes.VolumePathNames(volumes.Volume(c).volumeName, buffer.data(), 5, &length));
    EXPECT_EQ(pc.Machine().LastError(), sim::ErrorMoreData);
    ASSERT_TRUE(volumes.VolumePathNames(volumes.Volume(none).volumeName, buffer.data(), 260, &length));
    EXPECT_EQ(buffer[0], L'\0');

    EXPECT_EQ(volumes.DriveTypeOf(L"C:\\"), platform::DriveFixed);
    EXPECT_EQ(volumes.DriveTypeOf(L"Q:\\"), platform::DriveNoRootDir);
    platform::ClusterSpace clusters;
    ASSERT_TRUE(volumes.DiskFreeSpace(L"c:\\", &clusters));
    EXPECT_EQ(clusters.totalClusters, 1u << 31);  // 8 TiB in 4 KiB clusters
    EXPECT_EQ(clusters.sectorsPerCluster, 8u);
    platform::ByteSpace bytes;
    ASSERT_TRUE(volumes.DiskFreeSpaceEx(L"C:\\", &bytes));
    EXPECT_EQ(bytes.totalBytes, 8 * sim::TiB);
    std::array<wchar_t, 9> fileSystem{};
    ASSERT_TRUE(volumes.FileSystemName(L"C:\\", fileSystem.data(), 9));
    EXPECT_EQ(std::wstring(fileSystem.data()), L"NTFS");
    EXPECT_FALSE(volumes.FileSystemName(L"C:\\", fileSystem.data(), 4));

    std::array<wchar_t, 260> directory{};
    EXPECT_EQ(volumes.SystemDirectory(directory.data(), 260), 19u);
    EXPECT_EQ(std::wstring(directory.data()), L"C:\\Windows\\system32");
    EXPECT_EQ(volumes.SystemDirectory(directory.data(), 5), 20u);  // the room needed
}

}  // namespace
