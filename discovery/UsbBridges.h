#pragma once
// The USB-to-NVMe bridge chips that carry NVMe commands inside the vendor CDB 0xA1 with
// the 512-byte "NVME" block, and how a disk is found to sit behind one.
//
// Opcode 0xA1 is ATA PASS-THROUGH(12) to every SCSI-to-ATA translator: a SATA disk in a
// USB enclosure, or behind a SAS or RAID controller, reads the bridge's first CDB
// (A1 80 ...) as an ATA hardware reset. So the bridge's commands go only to a disk whose
// USB parent is one of these chips, recognised by its USB vendor and product ID; the
// command set is never probed for.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/DeviceInstall.h"

namespace discovery {

struct UsbNvmeBridge {
    std::uint16_t vendorId;
    std::uint16_t productId;
    const char* chip;
};

// The one table of bridges that speak this command set. An ID goes in only when the chip
// is known to speak it and to have nothing but an NVMe drive behind it. The IDs and the
// command set of each chip are those of smartmontools' drive database (drivedb.h, where
// this command set is "-d sntjmicron"). Left out on purpose: the same maker's SATA
// bridges (JMS567 152D:0567, JMS578 152D:0578, ...: SAT, so 0xA1 is a reset there) and
// the NVMe bridges with vendor CDBs of their own (Realtek RTL9210 0BDA:9210, RTL9211,
// which bridges SATA too; ASMedia ASM2362 174C:2362).
//   JMicron JMS583, 152D:0583: USB 3.1 Gen 2 to PCIe NVMe.
inline constexpr UsbNvmeBridge KnownUsbNvmeBridges[] = {
    {0x152D, 0x0583, "JMicron JMS583"},
};

// The USB vendor and product ID of a hardware or device instance ID that begins with
// USB\VID_xxxx&PID_xxxx (letter case ignored) and goes on, if at all, with '&' or '\'
// (&REV_xxxx, &MI_xx, \serial). False for anything else.
bool ParseUsbId(std::wstring_view hardwareId, std::uint16_t* vendorId, std::uint16_t* productId);

// The table's entry for a hardware ID, or null.
const UsbNvmeBridge* FindUsbNvmeBridge(std::wstring_view hardwareId);

// The known bridge in front of a disk: the nearest ancestor of the disk's device node
// whose hardware IDs are USB ones (USB\...) is its USB parent, and decides. Null when
// that parent is no bridge of the table, when the disk has no USB ancestor, and when the
// walk meets a node whose hardware IDs can't be read before it finds one.
const UsbNvmeBridge* NvmeBridgeAbove(platform::DeviceInstall& install, platform::DevInst disk);

}  // namespace discovery
