#pragma once
// The demo's command line: which disks the simulated machine has and behind which path,
// the VX310's optimize state, a fault, plug and unplug events, and the trace file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace demo {

enum class DemoDrive {
    Vx310Inbox,     // a VX310 on the inbox NVMe driver
    Vx310Miniport,  // a VX310 behind the "NvmeMini" miniport
    Vx310Usb,       // a VX310 in a USB enclosure with the USB-to-NVMe bridge
    OtherNvme,      // another maker's NVMe drive
    OtherSata,      // another maker's SATA drive
    OtherUsb,       // a USB stick
    OtherUsbSata,   // another maker's SATA drive in a USB enclosure (a SAT bridge)
    OtherRaidSata,  // another maker's SATA drive on a RAID adapter
    OtherRaidSas,   // another maker's SAS drive on a RAID adapter
    Vx310Rst,       // a VX310 behind Intel RST ("RAID On"), reached through RST's pass-through
    Vx310RstOld,    // a VX310 behind an Intel RST driver older than the pass-through
    OtherRstNvme,   // another maker's NVMe drive behind Intel RST
    OtherRstSata,   // another maker's SATA drive behind Intel RST
    Vx310RstVmd,    // a VX310 behind Intel RST's VMD driver (iaStorVD)
    RstRaidVolume,  // an Intel RST RAID 0 volume
};

enum class DemoFault {
    None,
    StateRead,    // the VX310 refuses the optimize-state read
    Identify,     // the VX310 refuses identify
    DeviceList,   // the disk list cannot be made
    Locate,       // CM_Locate_DevNodeW fails
    Reenumerate,  // CM_Reenumerate_DevNode fails
    Notify,       // the notification registration is refused
    EmptyWrite,   // the optimize-state write is answered with an empty reply
    CutState,     // the optimize-state read's reply stops right after its signature
    AccessDenied, // the drives and adapters refuse to be opened, as for a user without administrator rights
    Busy,         // the VX310s are held by another program: opening them fails with 32
};

// What happens to the first VX310 between the command line's listing and its write (just
// before the switch reads the drive's first sector again).
enum class DemoBeforeWrite {
    Nothing,
    Unplug,      // the drive is taken out: its path leads nowhere (the open fails with 2)
    Exchange,    // another VX310 (another serial) is put in its place (1167, nothing written)
    NoIdentify,  // the drive stops answering identify
};

// What the simulated NVMe drives' health log says, or how its read fails.
enum class DemoHealth {
    Healthy,   // no warning, 38 °C, 3 % used
    Worn,      // 112 % used
    Hot,       // 85 °C, the temperature warning
    SpareLow,  // spare 5 % under its threshold of 10 %
    ReadOnly,  // media in read-only mode
    Refused,   // the VX310 refuses the log page
    Short,     // every drive's log reply stops after 256 of its 512 bytes
};

// How the simulated VX310s' device self-tests go.
enum class DemoSelfTest {
    Passes,          // each test runs its time and passes
    FailingSegment,  // each test stops halfway with segment 2 failed
    Aborted,         // the drive aborts each test halfway, for a reason it does not give
    Unsupported,     // no self-test: identify's OACS bit 4 clear, 14h an invalid opcode
    LogRefused,      // the drive refuses the self-test log (06h)
};

struct DemoOptions {
    std::vector<DemoDrive> drives{DemoDrive::Vx310Inbox};  // in the order the system lists them
    std::uint8_t state = 2;                                 // the VX310s' optimize state
    DemoFault fault = DemoFault::None;
    DemoHealth health = DemoHealth::Healthy;
    DemoSelfTest selfTest = DemoSelfTest::Passes;
    // The self-tests' lengths in simulated time, which passes only while the program waits.
    std::uint32_t selfTestShortSeconds = 120;
    std::uint32_t selfTestExtendedSeconds = 600;
    // A test another program started before this one: 1 short, 2 extended; 0 none.
    std::uint8_t selfTestRunning = 0;
    std::optional<std::uint32_t> unplugAfter;  // rescans before the first VX310 goes
    std::optional<std::uint32_t> plugAfter;    // rescans before it comes (back)
    DemoBeforeWrite beforeWrite = DemoBeforeWrite::Nothing;  // the command-line demo's
    std::string traceFile;
    bool stateGiven = false;  // --state was on the command line
    // Where the VX310's state is kept across runs: read at start when it exists and no
    // --state was given, written when the simulated session ends and when the program ends.
    std::string stateFile;
    bool help = false;
};

// The --drive KIND words, one per drive the simulated machine can hold, in the order the
// help lists them ("none", no disk, is apart). The parser and both programs' help read it.
struct DemoDriveKind {
    const char* name;
    DemoDrive drive;
};
const std::vector<DemoDriveKind>& DemoDriveKinds();

// argv[0] is the program. False with a message on a bad option.
bool ParseDemoOptions(int argc, const char* const* argv, DemoOptions& options, std::string& error);
const char* DemoUsage();
// zephra-cli-demo's own part of its help: the machine options before the command.
std::string DemoCliUsage();

}  // namespace demo
