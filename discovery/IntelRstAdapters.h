#pragma once
// The storage adapters driven by Intel Rapid Storage Technology, whose disks' NVMe drives
// answer only RST's own NVMe pass-through, and how a disk behind one is told apart.
//
// Laptops of Intel's 8th generation and later often ship with the SATA controller in
// "RAID On" mode, and from the 11th generation on with the NVMe drive behind Intel's VMD
// controller: RST's driver then sits in front of the NVMe drive and the adapter reports a
// RAID bus. The "IntelNvm" request goes only to an adapter whose driver service is one of
// these, and there only to a disk that RST presents as an NVMe drive.

#include <string_view>

namespace discovery {

// The one table of RST driver services, compared without regard to letter case: iaStorVD
// is RST's VMD driver. Whether the driver behind one knows the pass-through (RST 14.6 and
// later) is not asked: an older one refuses the request, and the "NvmeMini" request is
// tried after it.
inline constexpr std::wstring_view IntelRstServices[] = {L"iaStorAC", L"iaStorAVC", L"iaStorAV", L"iaStorA",
                                                         L"iaStorVD"};

// True when the adapter's service name is one of the table's.
bool IsIntelRstService(std::wstring_view service);

// What RST presents a disk as, by the SCSI vendor and product identification of the disk's
// storage device descriptor (its inquiry data; blanks around them do not count).
enum class RstDisk {
    Nvme,        // vendor "NVMe": an NVMe drive behind RST's SCSI translation
    RaidVolume,  // vendor "Intel", product "Raid <level> Volume": a volume over member drives
    Other,       // anything else: a SATA drive ("Samsung", "WDC", or no vendor), ATAPI, ...
};
RstDisk ClassifyRstDisk(std::string_view vendor, std::string_view product);

}  // namespace discovery
