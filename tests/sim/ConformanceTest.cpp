// The simulated machine against what real drivers and drives are publicly documented to
// answer. Each row states one public fact, names its source, asks the simulator through
// the system calls a program makes (requests written here byte by byte from the public
// layouts, not by the program's own builders) and checks the answer. A simulator that
// drifts from a public fact fails its row, whatever the program's code believes.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/DeviceIo.h"
#include "sim/SimCodes.h"
#include "sim/SimComputer.h"
#include "sim/SimDrives.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put32(Bytes& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const Bytes& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | bytes[at + i];
    return v;
}

constexpr std::uint32_t IoctlScsiMiniport = 0x0004D008;
constexpr std::uint32_t IoctlScsiGetAddress = 0x00041018;
constexpr std::uint32_t IoctlStorageQueryProperty = 0x002D1400;

// SRB_IO_CONTROL, then the "IntelNvm" NVME_IOCTL_PASS_THROUGH as the public header lays it
// out (no pointer: one layout for both widths).
enum : std::size_t {
    HeaderLength = 0, Signature = 4, Timeout = 12, ControlCode = 16, ReturnCode = 20, Length = 24,
    Version = 28, PathId = 29, TargetId = 30, Lun = 31, Command = 32, IsIoCommandSet = 96, Completion = 100,
    DataOffsetField = 116, DataLengthField = 120, RstData = 164,
};

struct Exchange {
    bool ok = false;
    std::uint32_t error = 0;
    std::uint32_t returned = 0;
    Bytes reply;
    std::uint32_t Code() const { return returned >= 24 ? Get32(reply, ReturnCode) : 0xFFFFFFFF; }
};

Exchange Send(platform::DeviceIo& io, const std::wstring& path, std::uint32_t code, Bytes request,
              std::uint32_t access = platform::AccessRead | platform::AccessWrite, std::size_t outSize = 0) {
    Exchange exchange;
    const platform::UniqueHandle handle = platform::UniqueHandle::Open(
        io, path, access, platform::ShareRead | platform::ShareWrite, platform::OpenExisting, platform::AttributeNormal);
    if (!handle.IsUsable()) {
        exchange.error = io.LastError();
        return exchange;
    }
    exchange.reply = request;
    exchange.reply.resize(std::max(request.size(), outSize));
    const auto out = static_cast<std::uint32_t>(exchange.reply.size());
    exchange.ok = io.IoControl(handle.Get(), code, request.data(), static_cast<std::uint32_t>(request.size()),
                               exchange.reply.data(), out, &exchange.returned);
    if (!exchange.ok) exchange.error = io.LastError();
    return exchange;
}

// An "IntelNvm" request: admin command opcode with dword 1 and dword 10, dataLength bytes
// of data after the parameters.
Bytes RstRequest(std::uint8_t opcode, std::uint32_t nsid, std::uint32_t cdw10, std::uint32_t dataLength,
                 std::uint8_t pathId) {
    Bytes r(RstData + dataLength, 0);
    Put32(r, HeaderLength, 28);
    std::memcpy(&r[Signature], "IntelNvm", 8);
    Put32(r, Timeout, 30);
    Put32(r, ControlCode, 0xF0002808);
    Put32(r, Length, static_cast<std::uint32_t>(r.size()) - 28);
    r[Version] = 1;
    r[PathId] = pathId;
    Put32(r, Command, opcode);
    Put32(r, Command + 4, nsid);
    Put32(r, Command + 40, cdw10);
    Put32(r, DataOffsetField, dataLength != 0 ? 0xA4 : 0);
    Put32(r, DataLengthField, dataLength);
    return r;
}
Bytes RstIdentify(std::uint8_t pathId) { return RstRequest(0x06, 0, 1, 4096, pathId); }
Bytes RstHealthLog(std::uint8_t pathId) { return RstRequest(0x02, 0xFFFFFFFF, 0x007F0002, 512, pathId); }

std::string Text(const Bytes& bytes, std::size_t at, std::size_t length) {
    return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                       bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
}

// Behind one RST adapter (\\.\Scsi2:): a SATA drive at PathId 0, a VX310 at 1, another
// maker's NVMe drive at 2, a RAID volume at 3.
struct RstMachine {
    sim::SimComputer pc;
    sim::SimDisk* sata = nullptr;
    sim::SimDisk* vx310 = nullptr;
    sim::SimDisk* other = nullptr;
    sim::SimDisk* volume = nullptr;
    std::size_t adapter = 0;
    RstMachine() {
        adapter = pc.AddIntelRstAdapter();
        sata = &pc.AddSataDrive(adapter);
        vx310 = &pc.AddVx310(adapter, sim::SimNvmePath::IntelRst);
        other = &pc.AddForeignNvmeDrive(adapter, "Other Maker NVMe SSD 1TB", sim::SimNvmePath::IntelRst);
        volume = &pc.AddRstRaidVolume(adapter, 1000215216ull, 0);
    }
    platform::DeviceIo& Io() { return pc.Machine(); }
    Exchange ToPort(Bytes request) { return Send(Io(), L"\\\\.\\Scsi2:", IoctlScsiMiniport, std::move(request)); }
    // What the drive at PathId 1 was asked.
    std::size_t Vx310Commands() const { return vx310->controller->History().size(); }
};

// STORAGE_DEVICE_DESCRIPTOR's vendor and product identification, blanks cut off.
std::pair<std::string, std::string> VendorAndProduct(platform::DeviceIo& io, const std::wstring& disk) {
    Bytes query(12, 0);  // StorageDeviceProperty, standard query
    const Exchange e = Send(io, disk, IoctlStorageQueryProperty, query, platform::AccessRead | platform::AccessWrite, 1024);
    if (!e.ok || e.returned < 32) return {"?", "?"};
    auto text = [&](std::size_t field) {
        const std::uint32_t at = Get32(e.reply, field);
        std::string s;
        for (std::uint32_t i = at; at != 0 && i < e.returned && e.reply[i] != 0; ++i) s += static_cast<char>(e.reply[i]);
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    };
    return {text(12), text(16)};
}

// "NvmeMini": SRB_IO_CONTROL, six vendor dwords, the command, the completion entry,
// direction, queue, data length, metadata length, return buffer length, then the data.
enum : std::size_t {
    MiniCommand = 52, MiniCompletion = 116, MiniDirection = 132, MiniQueue = 136, MiniDataLength = 140,
    MiniReturnLength = 148, MiniData = 152,
};
Bytes MiniportRequest(std::uint8_t opcode, std::uint32_t nsid, std::uint32_t cdw10, std::uint32_t dataLength,
                      std::uint32_t controlCode = 0xE0002000) {
    Bytes r(MiniData + dataLength, 0);
    Put32(r, HeaderLength, 28);
    std::memcpy(&r[Signature], "NvmeMini", 8);
    Put32(r, Timeout, 30);
    Put32(r, ControlCode, controlCode);
    Put32(r, Length, static_cast<std::uint32_t>(r.size()) - 28);
    Put32(r, MiniCommand, opcode);
    Put32(r, MiniCommand + 4, nsid);
    Put32(r, MiniCommand + 40, cdw10);
    Put32(r, MiniDirection, dataLength != 0 ? 2 : 0);
    Put32(r, MiniDataLength, dataLength);
    Put32(r, MiniReturnLength, static_cast<std::uint32_t>(r.size()));
    return r;
}

// IOCTL_STORAGE_QUERY_PROPERTY for a log page: StorageDeviceProtocolSpecificProperty (50),
// standard query, STORAGE_PROTOCOL_SPECIFIC_DATA (NVMe, log page data type, the log id in
// ProtocolDataRequestValue, the offset in ProtocolDataRequestSubValue), room for the data.
Bytes LogPageQuery(std::uint32_t logId, std::uint32_t subValue, std::uint32_t length) {
    Bytes q(8 + 40 + length, 0);
    Put32(q, 0, 50);
    Put32(q, 8 + 0, 3);          // ProtocolTypeNvme
    Put32(q, 8 + 4, 2);          // NVMeDataTypeLogPage
    Put32(q, 8 + 8, logId);
    Put32(q, 8 + 12, subValue);
    Put32(q, 8 + 16, 40);        // data right after the specific data
    Put32(q, 8 + 20, length);
    return q;
}

struct HealthRead {
    bool ok = false;
    Bytes log;
};
// Log 02h of a drive on the inbox driver whose log is that of kind.
HealthRead InboxHealthLog(sim::SimHealthKind kind, std::uint32_t access = platform::AccessRead | platform::AccessWrite) {
    sim::SimMachine machine;
    sim::SimNvmeConfig config;
    config.healthLog = sim::SimHealthLogOf(kind);
    const auto drive = sim::AttachInboxDrive(machine, 1, config);
    const Exchange e = Send(machine, drive.physicalPath, IoctlStorageQueryProperty, LogPageQuery(2, 0, 512), access);
    HealthRead read;
    read.ok = e.ok && e.returned >= 48 + 512;
    if (read.ok) read.log.assign(e.reply.begin() + 48, e.reply.begin() + 48 + 512);
    return read;
}
std::uint16_t Le16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }
std::uint64_t Le64(const Bytes& b, std::size_t at) {
    return Get32(b, at) | (std::uint64_t{Get32(b, at + 4)} << 32);
}

constexpr const char* RstSource = "opensea-transport include/intel_rst_defs.h, src/intel_rst_helper.c";
constexpr const char* RstCrashSource =
    "opensea-transport src/intel_rst_helper.c; DiskInfoToolkit issue 7 (iaStorVD bug check 0x139), fixed in its PR 8";
constexpr const char* NvmeVendorSource =
    "NVM Express SCSI Translation Reference (INQUIRY vendor \"NVMe\"); opensea-transport src/intel_rst_helper.c";
constexpr const char* MiniSource = "OFA NVMe Windows driver nvmeIoctl.h, nvmeStd.c; opensea-transport of_nvme_helper.c";
constexpr const char* MiniStatusSource = "public tools check CplEntry[3] >> 17 (LibreHardwareMonitor, opensea-transport)";
constexpr const char* InboxSource = "Microsoft, \"Working with NVMe drives\"";
constexpr const char* HealthSource = "NVM Express Base, SMART / Health Information log page (02h)";

struct Row {
    const char* fact;
    const char* source;
    std::function<void()> check;
};

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        // ---- Intel RST "IntelNvm" ----
        {"IOCTL_SCSI_MINIPORT on \\\\.\\ScsiN:, N the disk's SCSI_ADDRESS.PortNumber; not on the disk", RstSource,
         [] {
             RstMachine m;
             const Exchange address = Send(m.Io(), m.vx310->physicalPath, IoctlScsiGetAddress, Bytes(8, 0));
             ASSERT_TRUE(address.ok);
             ASSERT_EQ(address.returned, 8u);
             const std::uint8_t port = address.reply[4];
             const std::wstring portPath = L"\\\\.\\Scsi" + std::to_wstring(port) + L":";
             const Exchange e = Send(m.Io(), portPath, IoctlScsiMiniport, RstIdentify(address.reply[5]));
             ASSERT_TRUE(e.ok);
             EXPECT_EQ(e.Code(), 1u);
             const Exchange onDisk = Send(m.Io(), m.vx310->physicalPath, IoctlScsiMiniport, RstIdentify(address.reply[5]));
             EXPECT_FALSE(onDisk.ok && onDisk.Code() == 1);
         }},
        {"control code CTL_CODE(0xF000, 0xA02, METHOD_BUFFERED, FILE_ANY_ACCESS) = 0xF0002808", RstSource,
         [] {
             RstMachine m;
             EXPECT_EQ(m.ToPort(RstIdentify(1)).Code(), 1u);
             Bytes other = RstIdentify(1);
             Put32(other, ControlCode, 0xF0002804);
             const Exchange e = m.ToPort(other);
             EXPECT_FALSE(e.ok && e.Code() == 1);
             EXPECT_EQ(m.Vx310Commands(), 1u);
         }},
        {"SRB_IO_CONTROL.Length = total size - 28", RstSource,
         [] {
             RstMachine m;
             EXPECT_EQ(m.ToPort(RstHealthLog(1)).Code(), 1u);
             Bytes shortLength = RstHealthLog(1);
             Put32(shortLength, Length, Get32(shortLength, Length) - 4);
             const Exchange e = m.ToPort(shortLength);
             EXPECT_FALSE(e.ok && e.Code() == 1);
             EXPECT_EQ(m.Vx310Commands(), 1u);
         }},
        {"ReturnCode 1 (SRB_STATUS_SUCCESS) on success, and only then the data and the completion entry", RstSource,
         [] {
             RstMachine m;
             const Exchange e = m.ToPort(RstIdentify(1));
             ASSERT_TRUE(e.ok);
             EXPECT_EQ(e.Code(), 1u);
             EXPECT_EQ(Text(e.reply, RstData + 24, 11), "Tavik VX310");
             EXPECT_EQ(Get32(e.reply, Completion + 12) >> 17, 0u);
             // An error status: no data comes back.
             m.pc.Adapter(m.adapter).rst->badReturnCode.Arm(1);
             const Exchange refused = m.ToPort(RstIdentify(1));
             ASSERT_TRUE(refused.ok);
             EXPECT_EQ(refused.Code(), 4u);
             EXPECT_EQ(Text(refused.reply, RstData + 24, 11), std::string(11, '\0'));
         }},
        {"0 (pending) is never a final answer: no completed request carries it", RstSource,
         [] {
             RstMachine m;
             std::vector<Bytes> requests = {RstIdentify(1), RstHealthLog(2), RstIdentify(0), RstIdentify(3),
                                            RstIdentify(9), RstRequest(0x80, 1, 0, 0, 1)};
             Bytes badVersion = RstIdentify(1);
             badVersion[Version] = 2;
             requests.push_back(badVersion);
             for (const Bytes& request : requests) {
                 const Exchange e = m.ToPort(request);
                 if (e.ok) {
                     EXPECT_NE(e.Code(), 0u);
                 }
             }
         }},
        {"6 = invalid request: the driver does not pass the command (format NVM, firmware commit, queues)", RstSource,
         [] {
             RstMachine m;
             for (const std::uint8_t opcode : {0x80, 0x10, 0x11, 0x01, 0x05}) {
                 SCOPED_TRACE(opcode);
                 const Exchange e = m.ToPort(RstRequest(opcode, 1, 0, opcode == 0x11 || opcode == 0x01 ? 64 : 0, 1));
                 ASSERT_TRUE(e.ok);
                 EXPECT_EQ(e.Code(), 6u);
             }
             EXPECT_EQ(m.Vx310Commands(), 0u);
         }},
        {"PathId: the disk's SCSI_ADDRESS.PathId addresses that drive and no other", RstSource,
         [] {
             RstMachine m;
             const Exchange address = Send(m.Io(), m.other->physicalPath, IoctlScsiGetAddress, Bytes(8, 0));
             ASSERT_TRUE(address.ok);
             const Exchange e = m.ToPort(RstIdentify(address.reply[5]));
             ASSERT_TRUE(e.ok);
             EXPECT_EQ(e.Code(), 1u);
             EXPECT_EQ(Text(e.reply, RstData + 24, 11), "Other Maker");
             EXPECT_EQ(m.other->controller->History().size(), 1u);
             EXPECT_EQ(m.Vx310Commands(), 0u);
             // A PathId with no target: 7 (invalid path id); one with no NVMe drive: not passed.
             EXPECT_EQ(m.ToPort(RstIdentify(9)).Code(), 7u);
             EXPECT_EQ(m.ToPort(RstIdentify(0)).Code(), 6u);
         }},
        {"TargetId and Lun are reserved: sent as 0", RstSource,
         [] {
             RstMachine m;
             EXPECT_EQ(m.ToPort(RstIdentify(1)).Code(), 1u);
             for (const std::size_t field : {std::size_t{TargetId}, std::size_t{Lun}}) {
                 Bytes request = RstIdentify(1);
                 request[field] = 1;
                 EXPECT_NE(m.ToPort(request).Code(), 1u);
             }
             EXPECT_EQ(m.Vx310Commands(), 1u);
         }},
        {"version byte 1", RstSource,
         [] {
             RstMachine m;
             Bytes request = RstIdentify(1);
             request[Version] = 2;
             EXPECT_NE(m.ToPort(request).Code(), 1u);
             EXPECT_EQ(m.Vx310Commands(), 0u);
         }},
        {"data offset field 0xA4 (header + parameters), the data there; the data length in it is refused",
         RstCrashSource,
         [] {
             RstMachine m;
             Bytes request = RstHealthLog(1);
             EXPECT_EQ(Get32(request, DataOffsetField), 0xA4u);
             EXPECT_EQ(m.ToPort(request).Code(), 1u);
             Put32(request, DataOffsetField, 512);
             EXPECT_NE(m.ToPort(request).Code(), 1u);
             EXPECT_EQ(m.Vx310Commands(), 1u);
         }},
        {"data length field: the data length (4096 for identify, 512 for log 02h)", RstSource,
         [] {
             RstMachine m;
             const Exchange identify = m.ToPort(RstIdentify(1));
             EXPECT_EQ(identify.Code(), 1u);
             EXPECT_EQ(identify.returned, RstData + 4096u);
             const Exchange log = m.ToPort(RstHealthLog(1));
             EXPECT_EQ(log.Code(), 1u);
             EXPECT_EQ(Bytes(log.reply.begin() + RstData, log.reply.end()),
                       Bytes(m.vx310->controller->HealthLog().begin(), m.vx310->controller->HealthLog().end()));
             Bytes wrong = RstHealthLog(1);
             Put32(wrong, DataLengthField, 1024);
             EXPECT_NE(m.ToPort(wrong).Code(), 1u);
         }},
        {"behind RST the inbox property query fails with 1 and \"NvmeMini\" with 1117; only IntelNvm reaches the drive",
         "smartmontools issue 212; smart-sniffer issue 30",
         [] {
             RstMachine m;
             const Exchange property =
                 Send(m.Io(), m.vx310->physicalPath, IoctlStorageQueryProperty, LogPageQuery(2, 0, 512));
             EXPECT_FALSE(property.ok);
             EXPECT_EQ(property.error, 1u);
             const Exchange mini =
                 Send(m.Io(), m.pc.Adapter(m.adapter).interfacePath, IoctlScsiMiniport, MiniportRequest(0x06, 0, 1, 4096));
             EXPECT_FALSE(mini.ok);
             EXPECT_EQ(mini.error, 1117u);
             EXPECT_EQ(m.Vx310Commands(), 0u);
             EXPECT_EQ(m.ToPort(RstIdentify(1)).Code(), 1u);
         }},
        {"an NVMe disk behind RST's SCSI translation: its SCSI vendor reads \"NVMe\"", NvmeVendorSource,
         [] {
             RstMachine m;
             EXPECT_EQ(VendorAndProduct(m.Io(), m.vx310->physicalPath).first, "NVMe");
             EXPECT_EQ(VendorAndProduct(m.Io(), m.other->physicalPath).first, "NVMe");
             EXPECT_NE(VendorAndProduct(m.Io(), m.sata->physicalPath).first, "NVMe");
         }},
        {"an RST RAID volume reads vendor \"Intel\", product \"Raid 0 Volume\"",
         "public Win32_DiskDrive dumps: PNPDeviceID SCSI\\DISK&VEN_INTEL&PROD_RAID_0_VOLUME; DiskInfoToolkit issue 7",
         [] {
             RstMachine m;
             const auto identity = VendorAndProduct(m.Io(), m.volume->physicalPath);
             EXPECT_EQ(identity.first, "Intel");
             EXPECT_EQ(identity.second, "Raid 0 Volume");
             EXPECT_NE(m.volume->instanceId.find(L"SCSI\\DISK&VEN_INTEL&PROD_RAID_0_VOLUME\\"), std::wstring::npos);
         }},
        {"a SATA drive behind RST: vendor the model's first word, or none; never \"ATA\"",
         "public Win32_DiskDrive dumps: SCSI\\DISK&VEN_SAMSUNG&PROD_SSD, SCSI\\DISK&VEN_&PROD_ST1000VM002-1CT1",
         [] {
             sim::SimComputer pc;
             const auto rst = pc.AddIntelRstAdapter();
             sim::SimAtaConfig samsung, seagate;
             samsung.identity.model = "Samsung SSD 860 EVO 500GB";
             seagate.identity.model = "ST1000VM002-1CT162";
             const sim::SimDisk& a = pc.AddSataDrive(rst, samsung);
             const sim::SimDisk& b = pc.AddSataDrive(rst, seagate);
             EXPECT_EQ(VendorAndProduct(pc.Machine(), a.physicalPath),
                       (std::pair<std::string, std::string>{"Samsung", "SSD 860 EVO 500G"}));
             EXPECT_EQ(VendorAndProduct(pc.Machine(), b.physicalPath).first, "");
             EXPECT_EQ(a.instanceId.rfind(L"SCSI\\DISK&VEN_SAMSUNG&PROD_SSD_860_EVO_500G\\", 0), 0u);
             EXPECT_EQ(b.instanceId.rfind(L"SCSI\\DISK&VEN_&PROD_ST1000VM002-1CT1\\", 0), 0u);
         }},

        // ---- "NvmeMini" miniport ----
        {"control code 0xE0002000; ReturnCode NVME_IOCTL_SUCCESS = 0 on success", MiniSource,
         [] {
             sim::SimMachine machine;
             const auto drive = sim::AttachMiniportDrive(machine, 2);
             const Exchange e = Send(machine, drive.adapterPath, IoctlScsiMiniport, MiniportRequest(0x06, 0, 1, 4096));
             ASSERT_TRUE(e.ok);
             EXPECT_EQ(e.Code(), 0u);
             EXPECT_EQ(Text(e.reply, MiniData + 24, 11), "Tavik VX310");
         }},
        {"any other ReturnCode is an error of the miniport", MiniSource,
         [] {
             sim::SimMachine machine;
             const auto drive = sim::AttachMiniportDrive(machine, 2);
             const Exchange wrongCode =
                 Send(machine, drive.adapterPath, IoctlScsiMiniport, MiniportRequest(0x06, 0, 1, 4096, 0xE0002004));
             ASSERT_TRUE(wrongCode.ok);
             EXPECT_NE(wrongCode.Code(), 0u);
             drive.stack->badReturnCode.Arm(1);
             const Exchange internal = Send(machine, drive.adapterPath, IoctlScsiMiniport, MiniportRequest(0x06, 0, 1, 4096));
             ASSERT_TRUE(internal.ok);
             EXPECT_NE(internal.Code(), 0u);
             EXPECT_TRUE(drive.device->History().empty());
         }},
        {"then the completion entry's status (dword 3, bits 17-31) must be clear", MiniStatusSource,
         [] {
             sim::SimMachine machine;
             const auto drive = sim::AttachMiniportDrive(machine, 2);
             const Exchange good = Send(machine, drive.adapterPath, IoctlScsiMiniport, MiniportRequest(0x02, 0xFFFFFFFF, 0x007F0002, 512));
             EXPECT_EQ(good.Code(), 0u);
             EXPECT_EQ(Get32(good.reply, MiniCompletion + 12) >> 17, 0u);
             drive.device->RejectCommands(0x02, std::nullopt, sim::NvmeInvalidField);
             const Exchange rejected = Send(machine, drive.adapterPath, IoctlScsiMiniport, MiniportRequest(0x02, 0xFFFFFFFF, 0x007F0002, 512));
             ASSERT_TRUE(rejected.ok);
             EXPECT_EQ(rejected.Code(), 0u);  // the request went through; the drive said no
             EXPECT_NE(Get32(rejected.reply, MiniCompletion + 12) >> 17, 0u);
         }},

        // ---- the inbox NVMe driver ----
        {"log page: protocol-specific property, ProtocolDataRequestValue = log id, SubValue = offset", InboxSource,
         [] {
             const HealthRead read = InboxHealthLog(sim::SimHealthKind::Healthy);
             ASSERT_TRUE(read.ok);
             const sim::SimHealthLog expected = sim::SimHealthLogOf(sim::SimHealthKind::Healthy);
             EXPECT_EQ(read.log, Bytes(expected.begin(), expected.end()));
         }},
        {"an NSID placed in ProtocolDataRequestSubValue fails with 1117", "nvmetool-win issue 25",
         [] {
             sim::SimMachine machine;
             const auto drive = sim::AttachInboxDrive(machine, 1);
             const Exchange e = Send(machine, drive.physicalPath, IoctlStorageQueryProperty, LogPageQuery(2, 1, 512));
             EXPECT_FALSE(e.ok);
             EXPECT_EQ(e.error, 1117u);
         }},
        {"the property query works on a handle opened with no read/write access", "smartmontools os_win32.cpp",
         [] { EXPECT_TRUE(InboxHealthLog(sim::SimHealthKind::Healthy, platform::AccessNone).ok); }},

        // ---- the SMART / health information log (02h), 512 bytes ----
        {"byte 0 critical warning: bit 0 spare, 1 temperature, 3 read-only; bytes 3, 4 spare and its threshold",
         HealthSource,
         [] {
             const HealthRead spare = InboxHealthLog(sim::SimHealthKind::SpareLow);
             const HealthRead hot = InboxHealthLog(sim::SimHealthKind::Hot);
             const HealthRead readOnly = InboxHealthLog(sim::SimHealthKind::ReadOnly);
             ASSERT_TRUE(spare.ok && hot.ok && readOnly.ok);
             EXPECT_EQ(spare.log[0], 0x01);
             EXPECT_LT(spare.log[3], spare.log[4]);
             EXPECT_EQ(hot.log[0], 0x02);
             EXPECT_EQ(readOnly.log[0], 0x08);
         }},
        {"bytes 1-2 composite temperature in kelvin; 200-201 sensor 1 in kelvin", HealthSource,
         [] {
             const HealthRead healthy = InboxHealthLog(sim::SimHealthKind::Healthy);
             const HealthRead hot = InboxHealthLog(sim::SimHealthKind::Hot);
             ASSERT_TRUE(healthy.ok && hot.ok);
             EXPECT_EQ(Le16(healthy.log, 1), 273 + 38);
             EXPECT_EQ(Le16(hot.log, 1), 273 + 85);
             EXPECT_EQ(Le16(hot.log, 200), 273 + 85);
         }},
        {"byte 5 percentage used, may exceed 100, no warning bit of its own", HealthSource,
         [] {
             const HealthRead worn = InboxHealthLog(sim::SimHealthKind::Worn);
             ASSERT_TRUE(worn.ok);
             EXPECT_EQ(worn.log[5], 112);
             EXPECT_EQ(worn.log[0], 0);
         }},
        {"counters: 32 data units read, 48 written, 112 power cycles, 128 power-on hours, 144 unsafe shutdowns",
         HealthSource,
         [] {
             const HealthRead read = InboxHealthLog(sim::SimHealthKind::Healthy);
             ASSERT_TRUE(read.ok);
             EXPECT_EQ(Le64(read.log, 32), 12345678u);
             EXPECT_EQ(Le64(read.log, 48), 9876543u);
             EXPECT_EQ(Le64(read.log, 112), 412u);
             EXPECT_EQ(Le64(read.log, 128), 1873u);
             EXPECT_EQ(Le64(read.log, 144), 7u);
             for (const std::size_t high : {40, 56, 120, 136, 152}) EXPECT_EQ(Le64(read.log, high), 0u);
         }},
        {"counters: 64 host reads, 80 host writes, 96 busy minutes, 160 media errors, 176 error log entries",
         HealthSource,
         [] {
             const HealthRead healthy = InboxHealthLog(sim::SimHealthKind::Healthy);
             const HealthRead readOnly = InboxHealthLog(sim::SimHealthKind::ReadOnly);
             ASSERT_TRUE(healthy.ok && readOnly.ok);
             EXPECT_EQ(Le64(healthy.log, 64), 402311755u);
             EXPECT_EQ(Le64(healthy.log, 80), 318224590u);
             EXPECT_EQ(Le64(healthy.log, 96), 2210u);
             EXPECT_EQ(Le64(healthy.log, 160), 0u);
             EXPECT_NE(Le64(readOnly.log, 160), 0u);  // read-only media comes with media errors
             EXPECT_EQ(Le64(healthy.log, 176), 2u);
         }},
        {"192-195, 196-199: minutes above the warning and the critical composite temperature", HealthSource,
         [] {
             const HealthRead hot = InboxHealthLog(sim::SimHealthKind::Hot);
             const HealthRead healthy = InboxHealthLog(sim::SimHealthKind::Healthy);
             ASSERT_TRUE(hot.ok && healthy.ok);
             EXPECT_GT(Get32(hot.log, 192), 0u);
             EXPECT_GT(Get32(hot.log, 192), Get32(hot.log, 196));
             EXPECT_EQ(Get32(healthy.log, 192) + Get32(healthy.log, 196), 0u);
         }},
    };
    return rows;
}

TEST(Conformance, TheSimulatorAnswersAsThePublicSourcesSay) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(std::string(row.fact) + "  [" + row.source + "]");
        row.check();
    }
}

}  // namespace
