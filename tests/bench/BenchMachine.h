#pragma once
// The simulated machines the benchmarks measure on: the VX310 last, the other disks of
// other makers on mixed buses, one volume each.

#include <cstdint>
#include <memory>
#include <string>

#include "sim/SimComputer.h"

namespace bench {

// diskCount disks: diskCount - 1 of other makers on mixed buses, then the VX310.
inline std::unique_ptr<sim::SimComputer> MakeMachine(int diskCount) {
    auto pc = std::make_unique<sim::SimComputer>();
    const auto nvme = pc->AddAdapter(sim::AdapterNvme);
    const auto sata = pc->AddAdapter(sim::AdapterSata);
    const auto usb = pc->AddAdapter(sim::AdapterUsb);
    const auto scsi = pc->AddAdapter(sim::AdapterScsi);
    for (int i = 0; i < diskCount - 1; ++i) {
        const std::string model = "Other Maker SSD " + std::to_string(i);
        switch (i % 6) {
            case 0: pc->AddForeignNvmeDrive(nvme, model, sim::SimNvmePath::Inbox); break;
            case 1: pc->AddSataDrive(sata); break;
            case 2: pc->AddPlainDisk(usb, 60000000); break;  // a USB stick: behind no bridge, no command
            case 3: pc->AddForeignNvmeDrive(usb, model, sim::SimNvmePath::Bridge); break;
            case 4: pc->AddPlainDisk(scsi, 1 << 30); break;
            default:  // a miniport answers at its own adapter's path
                pc->AddForeignNvmeDrive(pc->AddAdapter(sim::AdapterRaid), model, sim::SimNvmePath::Miniport);
                break;
        }
        const wchar_t letter = static_cast<wchar_t>(L'D' + i % 22);
        pc->AddVolume(static_cast<std::uint32_t>(i), {std::wstring(1, letter) + L":\\data" + std::to_wstring(i) + L"\\"},
                      100 * sim::GiB, 10 * sim::GiB);
    }
    const sim::SimDisk& served = pc->AddVx310(nvme, sim::SimNvmePath::Inbox);
    pc->AddVolume(served.number, {L"C:\\"}, 400 * sim::GiB, 100 * sim::GiB);
    return pc;
}

}  // namespace bench
