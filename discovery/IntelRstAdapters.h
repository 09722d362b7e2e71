#pragma once
// The storage adapters driven by Intel Rapid Storage Technology, whose disks' NVMe drives
// answer only RST's own NVMe pass-through, and how a disk behind one is told apart.
//
// Laptops of Intel's 8th generation and later often ship with the SATA controller in
// "RAID On" mode: RST's driver then sits in front of the NVMe drive and the adapter
// reports a RAID bus. The "IntelNvm" request goes only to an adapter whose driver service
// is one of these; no other adapter ever gets it.

#include <string_view>

namespace discovery {

// The one table of RST driver services, compared without regard to letter case. Whether
// the driver behind one knows the pass-through (RST 14.6 and later) is not asked: an
// older one refuses the request, and the "NvmeMini" request is tried after it.
inline constexpr std::wstring_view IntelRstServices[] = {L"iaStorAC", L"iaStorAVC", L"iaStorA"};

// True when the adapter's service name is one of the table's.
bool IsIntelRstService(std::wstring_view service);

// True for a disk whose device instance ID names the SCSI vendor "ATA"
// (SCSI\DISK&VEN_ATA&...): a SATA drive behind a SCSI-to-ATA translation, which gets
// no NVMe request.
bool IsAtaDiskId(std::wstring_view instanceId);

}  // namespace discovery
