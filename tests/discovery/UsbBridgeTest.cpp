// Which disks may receive the USB-to-NVMe bridge's CDB 0xA1: the bridge table, the walk
// to a disk's USB parent, the first transport by bus, and whole passes over machines
// full of disks that a SCSI-to-ATA translator stands in front of.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "discovery/Enumerate.h"
#include "discovery/UsbBridges.h"
#include "LogCapture.h"
#include "sim/SimComputer.h"
#include "sim/SimLayouts.h"

namespace {

using discovery::DriveTable;
using sim::SimNvmePath;

struct IdCase {
    const wchar_t* hardwareId;
    bool knownBridge;
};

TEST(UsbNvmeBridgeTable, RecognisesOnlyTheListedChipsWhateverFollowsTheirIds) {
    const IdCase cases[] = {
        {L"USB\\VID_152D&PID_0583", true},
        {L"USB\\VID_152D&PID_0583&REV_0214", true},
        {L"usb\\vid_152d&pid_0583&rev_0214", true},  // letter case ignored
        {L"USB\\Vid_152d&Pid_0583", true},
        {L"USB\\VID_152D&PID_0583\\DD564198838AC", true},  // a device instance ID
        {L"USB\\VID_152D&PID_0583&MI_00", true},           // a composite device's function
        // The same maker's SATA bridges, which translate SCSI to ATA.
        {L"USB\\VID_152D&PID_0578&REV_0204", false},
        {L"USB\\VID_152D&PID_0567", false},
        {L"USB\\VID_152D&PID_0562", false},
        // NVMe bridges with command sets of their own.
        {L"USB\\VID_0BDA&PID_9210&REV_2100", false},
        {L"USB\\VID_0BDA&PID_9211", false},
        {L"USB\\VID_174C&PID_2362", false},
        {L"USB\\VID_0781&PID_5581&REV_0100", false},  // a USB stick
        // Malformed or other buses' IDs.
        {L"USB\\VID_152D&PID_05830", false},
        {L"USB\\VID_152D&PID_058", false},
        {L"USB\\VID_152D&PID_0583 ", false},
        {L" USB\\VID_152D&PID_0583", false},
        {L"USB\\VID_152D", false},
        {L"USB\\PID_0583&VID_152D", false},
        {L"USB\\VID_152G&PID_0583", false},
        {L"USB\\VID_152D_PID_0583", false},
        {L"USBSTOR\\VID_152D&PID_0583", false},
        {L"USBSTOR\\DiskJMicron_Generic_________0214", false},
        {L"SCSI\\VID_152D&PID_0583", false},
        {L"USB\\Class_08&SubClass_06&Prot_62", false},
        {L"USB\\ROOT_HUB30", false},
        {L"", false},
    };
    for (const IdCase& c : cases) {
        SCOPED_TRACE(std::string(c.hardwareId, c.hardwareId + std::wstring(c.hardwareId).size()));
        const discovery::UsbNvmeBridge* bridge = discovery::FindUsbNvmeBridge(c.hardwareId);
        EXPECT_EQ(bridge != nullptr, c.knownBridge);
        if (bridge) {
            EXPECT_STREQ(bridge->chip, "JMicron JMS583");
        }
    }
    std::uint16_t vendor = 0, product = 0;
    ASSERT_TRUE(discovery::ParseUsbId(L"usb\\vid_0bda&pid_9210&rev_2100", &vendor, &product));
    EXPECT_EQ(vendor, 0x0BDA);
    EXPECT_EQ(product, 0x9210);
}

// A small tree: PCI root, a USB host controller, then the nodes a test hangs below it.
struct Tree {
    sim::SimMachine machine;
    sim::SimDeviceTree tree{machine};
    platform::DevInst root = tree.AddNode(0, {L"HTREE\\ROOT\\0", {}, {}});
    platform::DevInst pci = tree.AddNode(root, {L"ACPI\\PNP0A08\\0", {}, {}});
    platform::DevInst xhci = tree.AddNode(pci, {L"PCI\\VEN_8086&DEV_A36D\\3&11583659&0&A0", {}, {}});

    platform::DevInst Add(platform::DevInst parent, const std::wstring& instanceId, std::vector<std::wstring> ids) {
        const platform::DevInst node = tree.AddNode(parent, {instanceId, {}, {}});
        if (!ids.empty()) tree.SetHardwareIds(node, std::move(ids));
        return node;
    }
};

TEST(NvmeBridgeAbove, TheNearestUsbAncestorDecides) {
    {
        Tree t;
        t.tree.SetHardwareIds(t.xhci, {L"PCI\\VEN_8086&DEV_A36D&SUBSYS_00000000&REV_10", L"PCI\\VEN_8086&DEV_A36D"});
        const auto hub = t.Add(t.xhci, L"USB\\ROOT_HUB30\\4&1", {L"USB\\ROOT_HUB30&VID8086&PID A36D", L"USB\\ROOT_HUB30"});
        const auto bridge =
            t.Add(hub, L"USB\\VID_152D&PID_0583\\DD5641988", {L"USB\\VID_152D&PID_0583&REV_0214", L"USB\\VID_152D&PID_0583"});
        const auto disk = t.Add(bridge, L"SCSI\\DISK&VEN_NVME&PROD_SSD\\5&1", {L"SCSI\\DiskNVMe____SSD_____________0214"});
        ASSERT_NE(discovery::NvmeBridgeAbove(t.tree, disk), nullptr);
        EXPECT_STREQ(discovery::NvmeBridgeAbove(t.tree, disk)->chip, "JMicron JMS583");
        // A composite device's function is a USB parent too; one whose IDs can't be read
        // might be the parent, so the bridge above it no longer counts.
        const auto function = t.Add(bridge, L"USB\\VID_152D&PID_0583&MI_00\\6&1", {L"USB\\VID_152D&PID_0583&MI_00"});
        const auto deeper = t.Add(function, L"SCSI\\DISK&VEN_NVME&PROD_SSD\\5&2", {});
        EXPECT_NE(discovery::NvmeBridgeAbove(t.tree, deeper), nullptr);
        t.tree.Refuse(sim::SimTreeQuery::HardwareIds, L"USB\\VID_152D&PID_0583&MI_00\\6&1", platform::ConfigNoSuchValue);
        EXPECT_EQ(discovery::NvmeBridgeAbove(t.tree, deeper), nullptr);
        // The disk's own IDs are not its parent's.
        EXPECT_EQ(discovery::NvmeBridgeAbove(t.tree, bridge), nullptr);
    }
    {
        // Nodes that are not USB between the disk and its USB parent are walked past: a
        // third-party driver's SCSI adapter under a UASP bridge, and a filter's node.
        Tree t;
        const auto bridge = t.Add(t.xhci, L"USB\\VID_152D&PID_0583\\DD5641988", {L"USB\\VID_152D&PID_0583&REV_0214"});
        const auto scsiAdapter = t.Add(bridge, L"SCSIADAPTER\\UASP\\7&1", {L"SCSIAdapter\\UASP", L"GenericAdapter"});
        const auto filter = t.Add(scsiAdapter, L"ROOT\\DISKFILTER\\0000", {L"Root\\DiskFilter"});
        const auto disk = t.Add(filter, L"SCSI\\DISK&VEN_NVME&PROD_SSD\\8&1", {L"SCSI\\DiskNVMe"});
        ASSERT_NE(discovery::NvmeBridgeAbove(t.tree, disk), nullptr);
        EXPECT_STREQ(discovery::NvmeBridgeAbove(t.tree, disk)->chip, "JMicron JMS583");
        // One of them with no readable IDs might be the USB parent: nothing is known then.
        t.tree.Refuse(sim::SimTreeQuery::HardwareIds, L"ROOT\\DISKFILTER\\0000", platform::ConfigNoSuchValue);
        EXPECT_EQ(discovery::NvmeBridgeAbove(t.tree, disk), nullptr);
    }
    {
        // A SAT enclosure on a hub whose IDs happen to be the bridge's: the enclosure decides.
        Tree t;
        const auto hub = t.Add(t.xhci, L"USB\\VID_152D&PID_0583\\1", {L"USB\\VID_152D&PID_0583"});
        const auto enclosure = t.Add(hub, L"USB\\VID_152D&PID_0578\\2", {L"USB\\VID_152D&PID_0578&REV_0204"});
        const auto disk = t.Add(enclosure, L"USBSTOR\\DISK&VEN_JMICRON\\3", {L"USBSTOR\\DiskJMicron"});
        EXPECT_EQ(discovery::NvmeBridgeAbove(t.tree, disk), nullptr);
    }
    {
        // No USB ancestor at all (a disk on a RAID adapter), and a tree that loops.
        Tree t;
        const auto raid = t.Add(t.pci, L"PCI\\VEN_1000&DEV_0016\\4&1", {L"PCI\\VEN_1000&DEV_0016"});
        const auto disk = t.Add(raid, L"SCSI\\DISK&VEN_ATA\\5&1", {L"SCSI\\DiskATA"});
        EXPECT_EQ(discovery::NvmeBridgeAbove(t.tree, disk), nullptr);
        t.tree.SetParent(t.root, disk);
        EXPECT_EQ(discovery::NvmeBridgeAbove(t.tree, disk), nullptr);
        EXPECT_EQ(discovery::NvmeBridgeAbove(t.tree, 0), nullptr);
    }
}

TEST(FirstTransport, ADiskBehindAKnownBridgeTakesTheBridgeWhateverItsAdapterReports) {
    struct Case {
        std::uint8_t bus;
        bool behindBridge;
        std::optional<std::uint8_t> transport;
    };
    const Case cases[] = {
        {sim::AdapterUsb, true, devicecmd::TransportUsbBridge},
        {sim::AdapterUsb, false, std::nullopt},
        {sim::AdapterSata, false, std::nullopt},
        {sim::AdapterNvme, false, devicecmd::TransportNvmeInbox},
        {sim::AdapterScsi, false, devicecmd::TransportNvmeMiniport},
        {sim::AdapterSas, false, devicecmd::TransportNvmeMiniport},
        {sim::AdapterRaid, false, devicecmd::TransportNvmeMiniport},
        {sim::AdapterAtapi, false, devicecmd::TransportNvmeMiniport},
        {0, false, devicecmd::TransportNvmeMiniport},  // an unknown bus
        // The bridge chip decides, whatever its driver reports (a UASP driver may say SCSI)...
        {sim::AdapterScsi, true, devicecmd::TransportUsbBridge},
        {sim::AdapterRaid, true, devicecmd::TransportUsbBridge},
        {0, true, devicecmd::TransportUsbBridge},
        // ...except for the NVMe driver's own disks, and for a disk whose own handle says
        // SATA: a disk interface's number led there from the bridge's node.
        {sim::AdapterNvme, true, devicecmd::TransportNvmeInbox},
        {sim::AdapterSata, true, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(discovery::FirstTransport(c.bus, c.behindBridge), c.transport)
            << "bus " << int{c.bus} << (c.behindBridge ? " behind a bridge" : "");
}

// The CDBs of the SCSI pass-through requests that went to a path.
std::vector<std::vector<std::uint8_t>> CdbsSentTo(const sim::SimMachine& machine, const std::wstring& path) {
    constexpr platform::Layout spt = sim::ScsiPassThroughLayout;
    std::vector<std::vector<std::uint8_t>> cdbs;
    for (const auto& entry : machine.Trace()) {
        if (entry.path != path) continue;
        if (entry.code != sim::IoctlScsiPassThrough && entry.code != sim::IoctlScsiPassThroughDirect) continue;
        if (entry.request.size() < spt.Size()) continue;
        const std::uint8_t* cdb = entry.request.data() + spt[sim::SimSpt::Cdb];
        cdbs.emplace_back(cdb, cdb + entry.request[spt[sim::SimSpt::CdbLength]]);
    }
    return cdbs;
}

bool AnyBridgeCdb(const std::vector<std::vector<std::uint8_t>>& cdbs) {
    for (const auto& cdb : cdbs)
        if (!cdb.empty() && cdb[0] == 0xA1) return true;
    return false;
}

// A server's and a desk's disks that a SCSI-to-ATA translator, or no NVMe bridge, stands
// in front of, and last a VX310 behind its bridge: none of the others sees a 0xA1 CDB,
// and the VX310 is still found through its bridge.
TEST(EnumerateDrives, NoBridgeCdbReachesADiskThatIsNotBehindAKnownBridge) {
    sim::SimComputer pc;
    const auto raid = pc.AddAdapter(sim::AdapterRaid);
    const auto sas = pc.AddAdapter(sim::AdapterSas);
    const auto scsi = pc.AddAdapter(sim::AdapterScsi);
    const auto usb = pc.AddAdapter(sim::AdapterUsb);
    sim::SimAtaConfig hdd;
    hdd.identity.model = "Other Maker SATA HDD 4TB";
    const sim::SimDisk& usbSata = pc.AddSataDrive(usb, hdd);              // in a SAT enclosure (JMS578)
    const sim::SimDisk& stick = pc.AddPlainDisk(usb, 60062500);          // a USB stick
    const sim::SimDisk& raidSata = pc.AddSataDrive(raid);                // SATA behind RAID
    const sim::SimDisk& raidSas = pc.AddPlainDisk(raid, 3907029168ull);  // SAS behind RAID
    const sim::SimDisk& hbaSata = pc.AddSataDrive(sas);                  // SATA behind a SAS HBA
    const sim::SimDisk& scsiDisk = pc.AddPlainDisk(scsi, 1 << 30);
    // A VX310 in an enclosure whose bridge would answer, but is not in the table.
    const sim::SimDisk& unlisted = pc.AddVx310(usb, SimNvmePath::Bridge, {{}, {}, {}, sim::UsbRtl9210});
    const sim::SimDisk& served = pc.AddVx310(usb, SimNvmePath::Bridge);  // behind the JMS583
    ASSERT_EQ(pc.Machine().Trace().size(), 0u);

    discovery_test::LogCapture log;
    DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    ASSERT_NE(table[0], nullptr);
    EXPECT_EQ(table[0]->phyDriveIndex, static_cast<std::int32_t>(served.number));
    EXPECT_EQ(table[0]->busType, devicecmd::TransportUsbBridge);
    EXPECT_TRUE(AnyBridgeCdb(CdbsSentTo(pc.Machine(), served.physicalPath)));

    for (const sim::SimDisk* disk : {&usbSata, &stick, &raidSata, &raidSas, &hbaSata, &scsiDisk, &unlisted}) {
        SCOPED_TRACE(disk->number);
        EXPECT_FALSE(AnyBridgeCdb(CdbsSentTo(pc.Machine(), disk->physicalPath)));
        if (disk->ataDevice) {
            EXPECT_EQ(disk->ataDevice->Resets(), 0u);
            EXPECT_TRUE(disk->ataDevice->History().empty());
        }
    }
    // USB disks behind no known bridge get nothing past the bus-type query.
    for (const sim::SimDisk* disk : {&usbSata, &stick, &unlisted}) {
        for (const auto& entry : pc.Machine().Trace()) {
            if (entry.path == disk->physicalPath) {
                EXPECT_EQ(entry.code, sim::IoctlStorageQueryProperty);
            }
        }
    }
    EXPECT_TRUE(unlisted.controller->History().empty());
    // RAID, SAS and SCSI disks are tried through their adapter's miniport only.
    for (const sim::SimDisk* disk : {&raidSata, &raidSas, &hbaSata, &scsiDisk})
        EXPECT_NE(log.Text().find("Identify data for phydrive" + std::to_string(disk->number) + " error"),
                  std::string::npos);
}

// A UASP enclosure whose third-party driver reports a SCSI (or other) bus: the disk's USB
// ancestor, found past the nodes that are not USB, still says JMS583, and the drive is
// reached through the bridge. Behind an unlisted bridge the disk hears no 0xA1.
TEST(EnumerateDrives, AKnownBridgeIsFoundWhateverBusItsAdapterReports) {
    struct Case {
        const char* what;
        std::uint8_t bus;
        sim::SimUsbId usb;
        bool nodeBetween;  // a node that is not USB between the disk and the USB device
        bool found;
    };
    const Case cases[] = {
        {"SCSI, the bridge right above the disk", sim::AdapterScsi, sim::UsbJms583, false, true},
        {"SCSI, a node between", sim::AdapterScsi, sim::UsbJms583, true, true},
        {"RAID, a node between", sim::AdapterRaid, sim::UsbJms583, true, true},
        {"USB, a node between", sim::AdapterUsb, sim::UsbJms583, true, true},
        {"SCSI, an unlisted bridge", sim::AdapterScsi, sim::UsbRtl9210, true, false},
        {"SCSI, a SATA bridge", sim::AdapterScsi, sim::UsbJms578, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::SimComputer pc;
        const sim::SimDisk& drive = pc.AddVx310(pc.AddAdapter(c.bus), SimNvmePath::Bridge, {{}, {}, {}, c.usb});
        if (c.nodeBetween) {
            platform::DevInst usbNode = 0;
            ASSERT_EQ(pc.Tree().GetParent(&usbNode, drive.node), platform::ConfigSuccess);
            const platform::DevInst between = pc.Tree().AddNode(usbNode, {L"SCSIADAPTER\\UASP\\7&1", {}, {}});
            pc.Tree().SetHardwareIds(between, {L"SCSIAdapter\\UASP"});
            pc.Tree().SetParent(drive.node, between);
        }
        DriveTable table;
        discovery::EnumerateDrives(pc.System(), table);
        EXPECT_EQ(table[0] != nullptr, c.found);
        if (table[0]) {
            EXPECT_EQ(table[0]->busType, devicecmd::TransportUsbBridge);
        }
        EXPECT_EQ(AnyBridgeCdb(CdbsSentTo(pc.Machine(), drive.physicalPath)), c.found);
    }
}

// The bridge chip alone decides: the same VX310 behind any other USB device is not
// entered and hears no 0xA1.
TEST(EnumerateDrives, AVx310BehindAnUnlistedBridgeIsNotEntered) {
    struct Case {
        sim::SimUsbId usb;
        bool found;
    };
    for (const Case c : {Case{sim::UsbJms583, true}, Case{sim::UsbRtl9210, false}, Case{sim::UsbJms578, false},
                         Case{sim::UsbStick, false}}) {
        sim::SimComputer pc;
        const sim::SimDisk& drive = pc.AddVx310(pc.AddAdapter(sim::AdapterUsb), SimNvmePath::Bridge, {{}, {}, {}, c.usb});
        DriveTable table;
        discovery::EnumerateDrives(pc.System(), table);
        EXPECT_EQ(table[0] != nullptr, c.found) << c.usb.product;
        EXPECT_EQ(AnyBridgeCdb(CdbsSentTo(pc.Machine(), drive.physicalPath)), c.found);
    }
    // A USB parent whose hardware IDs can't be read counts as no known bridge.
    sim::SimComputer pc;
    const sim::SimDisk& drive = pc.AddVx310(pc.AddAdapter(sim::AdapterUsb), SimNvmePath::Bridge);
    pc.Tree().Refuse(sim::SimTreeQuery::HardwareIds, L"", platform::ConfigNoSuchValue);
    DriveTable table;
    discovery::EnumerateDrives(pc.System(), table);
    EXPECT_EQ(table[0], nullptr);
    EXPECT_FALSE(AnyBridgeCdb(CdbsSentTo(pc.Machine(), drive.physicalPath)));
}

// A disk interface below a bridge that reports another disk's number: the drive opened by
// that number says SATA through its own handle, so it hears no 0xA1 (a SAT translator's
// reset) and is left alone like any SATA disk; the VX310's own number is not listed.
TEST(EnumerateDrives, ABridgeNodeWithASataDisksNumberSendsThatDiskNothing) {
    sim::SimComputer pc;
    sim::SimAtaConfig ata;
    ata.identity.model = "Tavik VX310 SATA";
    const sim::SimDisk& sata = pc.AddSataDrive(pc.AddAdapter(sim::AdapterSata), ata);
    pc.AddVx310(pc.AddAdapter(sim::AdapterUsb), SimNvmePath::Bridge, {{}, sata.number});
    const std::vector<discovery::ExaminedDisk> examined = discovery::ExamineDrives(pc.System(), {true});
    ASSERT_EQ(examined.size(), 2u);
    for (const auto& seen : examined) {
        EXPECT_EQ(seen.record->phyDriveIndex, static_cast<std::int32_t>(sata.number));
        EXPECT_EQ(seen.verdict, discovery::DiskVerdict::Sata);
    }
    EXPECT_TRUE(CdbsSentTo(pc.Machine(), sata.physicalPath).empty());
}

}  // namespace
