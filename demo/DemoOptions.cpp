#include "demo/DemoOptions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace demo {

const char* DemoUsage() {
    return "usage: zephra-demo [options]\n"
           "       zephra-demo --report [--transport inbox|miniport|bridge|rst|all] [--state 0|2] [--no-switch] [--trace]\n"
           "\n"
           "Runs Zephra, every window and flow, on a simulated machine instead of the system.\n"
           "\n"
           "  --drive KIND       a disk of the machine, in the order the system lists them; may be\n"
           "                     given several times (default: one VX310 on the inbox driver):\n"
           "                       inbox | miniport | usb   a VX310 behind that path\n"
           "                       other-nvme | other-sata | other-usb   another maker's drive\n"
           "                         (other-usb: a USB stick)\n"
           "                       other-usb-sata           a SATA drive in a USB enclosure\n"
           "                       other-raid-sata | other-raid-sas   a SATA or SAS drive on a\n"
           "                                                RAID adapter\n"
           "                       rst                      a VX310 behind Intel RST (\"RAID On\")\n"
           "                       rst-other-nvme | rst-sata   another maker's NVMe or SATA drive\n"
           "                                                behind Intel RST\n"
           "                       rst-old-driver           a VX310 behind an Intel RST driver older\n"
           "                                                than its NVMe pass-through (it refuses it)\n"
           "                       rst-vmd                  a VX310 behind Intel RST's VMD driver\n"
           "                       rst-raid-volume          an Intel RST RAID 0 volume (sent nothing)\n"
           "                       none                     no disk at all\n"
           "  --state 0|2|ff     the VX310's optimize state (default 2): 0 optimized, 2 optimizable,\n"
           "                     ff a value without meaning\n"
           "  --fault NAME       state-read | identify | device-list | locate | reenumerate | notify |\n"
           "                     empty-write | cut-state\n"
           "                     access-denied (the drives open only for an administrator) |\n"
           "                     busy (the VX310 is held by another program: its open fails with 32)\n"
           "  --health KIND      what the VX310's health log says: healthy (default) | worn (112 %\n"
           "                     used) | hot (temperature warning, 85 C) | spare-low (spare below\n"
           "                     threshold) | read-only (media read-only); or refused (the log page\n"
           "                     is refused) | short (the log's reply stops after 256 bytes)\n"
           "  --selftest KIND    how the VX310's device self-tests go: passes (default) |\n"
           "                     failing-segment (each test stops halfway, segment 2 failed) |\n"
           "                     aborted (the drive aborts each test halfway) | unsupported (no\n"
           "                     self-test: OACS bit 4 clear, the command an invalid opcode) |\n"
           "                     log-refused (the self-test log, page 06h, is refused)\n"
           "  --selftest-short S, --selftest-extended S\n"
           "                     the short and the extended test's length in seconds of simulated\n"
           "                     time, which passes only while the program waits (120 and 600)\n"
           "  --selftest-running short|extended\n"
           "                     the VX310 already runs that test, as another program started it\n"
           "  --unplug-after N   the first VX310 is unplugged at the Nth bus rescan (one each 500 ms)\n"
           "  --plug-after N     it is plugged in (again) at the Nth rescan; without --unplug-after,\n"
           "                     or with a later one, it starts unplugged\n"
           "  --trace FILE       write every system call the program makes to FILE, one line each\n"
           "  --state-file FILE  keep the VX310's optimize state in FILE across runs: after a switch and\n"
           "                     the shutdown that ends the demo, the next run starts in the new state\n"
           "                     (unless --state is given)\n"
           "  --report           the device command report of the simulated drives, no window\n"
           "  --help             this text\n";
}

const std::vector<DemoDriveKind>& DemoDriveKinds() {
    static const std::vector<DemoDriveKind> kinds{
        {"inbox", DemoDrive::Vx310Inbox},
        {"miniport", DemoDrive::Vx310Miniport},
        {"usb", DemoDrive::Vx310Usb},
        {"other-nvme", DemoDrive::OtherNvme},
        {"other-sata", DemoDrive::OtherSata},
        {"other-usb", DemoDrive::OtherUsb},
        {"other-usb-sata", DemoDrive::OtherUsbSata},
        {"other-raid-sata", DemoDrive::OtherRaidSata},
        {"other-raid-sas", DemoDrive::OtherRaidSas},
        {"rst", DemoDrive::Vx310Rst},
        {"rst-other-nvme", DemoDrive::OtherRstNvme},
        {"rst-sata", DemoDrive::OtherRstSata},
        {"rst-old-driver", DemoDrive::Vx310RstOld},
        {"rst-vmd", DemoDrive::Vx310RstVmd},
        {"rst-raid-volume", DemoDrive::RstRaidVolume},
    };
    return kinds;
}

std::string DemoCliUsage() {
    // The kinds as "a | b | ...", wrapped under the option's text.
    const std::string indent(21, ' ');
    std::string kinds = "  --drive KIND       ";
    std::size_t column = kinds.size();
    for (const DemoDriveKind& kind : DemoDriveKinds()) {
        const std::string word = std::string(kind.name) + " | ";
        if (column + word.size() > 92) {
            kinds += "\n" + indent;
            column = indent.size();
        }
        kinds += word;
        column += word.size();
    }
    kinds += "none; repeatable (see zephra-demo --help for what each is)\n";
    return "usage: zephra-cli-demo [machine options] COMMAND [options]\n"
           "\n"
           "zephra-cli on a simulated machine. Machine options, before the command (see zephra-demo --help):\n" +
           kinds +
           "  --state 0|2|ff     the VX310s' optimize state\n"
           "  --fault NAME       state-read | identify | device-list | empty-write | cut-state | access-denied |\n"
           "                     busy (the VX310's open fails with 32, as when another program holds it)\n"
           "  --before-write KIND  what happens to the first VX310 after the listing, before the switch\n"
           "                     opens it: unplug (the open fails with 2) | exchange (another VX310 in its\n"
           "                     place: 1167) | no-identify (it stops answering identify)\n"
           "  --health KIND      healthy | worn | hot | spare-low | read-only | refused | short\n"
           "  --selftest KIND    passes | failing-segment | aborted | unsupported | log-refused: how the\n"
           "                     VX310's device self-tests go\n"
           "  --selftest-short S, --selftest-extended S   the tests' lengths in seconds of simulated time,\n"
           "                     which passes only while selftest --wait waits (120 and 600)\n"
           "  --selftest-running short|extended   the VX310 already runs that test (another program's)\n"
           "  --trace FILE       every system call, one line each\n"
           "  --state-file FILE  the VX310's state kept across runs\n"
           "\n";
}

namespace {

bool ParseCount(const char* text, std::uint32_t& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(text, &end, 10);
    if (*end != '\0' || text[0] == '-' || parsed > 1000000) return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

}  // namespace

bool ParseDemoOptions(int argc, const char* const* argv, DemoOptions& options, std::string& error) {
    bool drivesGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const auto needs = [&]() {
            if (value) return true;
            error = arg + " needs a value";
            return false;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--drive") {
            if (!needs()) return false;
            const std::string kind = argv[++i];
            if (!drivesGiven) options.drives.clear();
            drivesGiven = true;
            if (kind == "none") continue;
            const auto& kinds = DemoDriveKinds();
            const auto known = std::find_if(kinds.begin(), kinds.end(),
                                            [&](const DemoDriveKind& k) { return kind == k.name; });
            if (known == kinds.end()) {
                error = "unknown drive " + kind;
                return false;
            }
            options.drives.push_back(known->drive);
        } else if (arg == "--state") {
            if (!needs()) return false;
            const std::string state = argv[++i];
            options.stateGiven = true;
            if (state == "0") options.state = 0;
            else if (state == "2") options.state = 2;
            else if (state == "ff" || state == "FF" || state == "0xff") options.state = 0xFF;
            else {
                error = "state must be 0, 2 or ff";
                return false;
            }
        } else if (arg == "--fault") {
            if (!needs()) return false;
            const std::string fault = argv[++i];
            if (fault == "state-read") options.fault = DemoFault::StateRead;
            else if (fault == "identify") options.fault = DemoFault::Identify;
            else if (fault == "device-list") options.fault = DemoFault::DeviceList;
            else if (fault == "locate") options.fault = DemoFault::Locate;
            else if (fault == "reenumerate") options.fault = DemoFault::Reenumerate;
            else if (fault == "notify") options.fault = DemoFault::Notify;
            else if (fault == "empty-write") options.fault = DemoFault::EmptyWrite;
            else if (fault == "cut-state") options.fault = DemoFault::CutState;
            else if (fault == "access-denied") options.fault = DemoFault::AccessDenied;
            else if (fault == "busy") options.fault = DemoFault::Busy;
            else {
                error = "unknown fault " + fault;
                return false;
            }
        } else if (arg == "--health") {
            if (!needs()) return false;
            const std::string kind = argv[++i];
            if (kind == "healthy") options.health = DemoHealth::Healthy;
            else if (kind == "worn") options.health = DemoHealth::Worn;
            else if (kind == "hot") options.health = DemoHealth::Hot;
            else if (kind == "spare-low") options.health = DemoHealth::SpareLow;
            else if (kind == "read-only") options.health = DemoHealth::ReadOnly;
            else if (kind == "refused") options.health = DemoHealth::Refused;
            else if (kind == "short") options.health = DemoHealth::Short;
            else {
                error = "unknown health " + kind;
                return false;
            }
        } else if (arg == "--selftest") {
            if (!needs()) return false;
            const std::string kind = argv[++i];
            if (kind == "passes") options.selfTest = DemoSelfTest::Passes;
            else if (kind == "failing-segment") options.selfTest = DemoSelfTest::FailingSegment;
            else if (kind == "aborted") options.selfTest = DemoSelfTest::Aborted;
            else if (kind == "unsupported") options.selfTest = DemoSelfTest::Unsupported;
            else if (kind == "log-refused") options.selfTest = DemoSelfTest::LogRefused;
            else {
                error = "unknown selftest " + kind;
                return false;
            }
        } else if (arg == "--selftest-running") {
            if (!needs()) return false;
            const std::string kind = argv[++i];
            if (kind == "short") options.selfTestRunning = 1;
            else if (kind == "extended") options.selfTestRunning = 2;
            else {
                error = "--selftest-running takes short or extended";
                return false;
            }
        } else if (arg == "--selftest-short" || arg == "--selftest-extended") {
            if (!needs()) return false;
            std::uint32_t seconds = 0;
            if (!ParseCount(argv[++i], seconds) || seconds == 0) {
                error = arg + " needs a number of seconds from 1 on";
                return false;
            }
            (arg == "--selftest-short" ? options.selfTestShortSeconds : options.selfTestExtendedSeconds) = seconds;
        } else if (arg == "--unplug-after" || arg == "--plug-after") {
            if (!needs()) return false;
            std::uint32_t count = 0;
            if (!ParseCount(argv[++i], count) || count == 0) {
                error = arg + " needs a number of rescans from 1 on";
                return false;
            }
            (arg == "--unplug-after" ? options.unplugAfter : options.plugAfter) = count;
        } else if (arg == "--before-write") {
            if (!needs()) return false;
            const std::string kind = argv[++i];
            if (kind == "unplug") options.beforeWrite = DemoBeforeWrite::Unplug;
            else if (kind == "exchange") options.beforeWrite = DemoBeforeWrite::Exchange;
            else if (kind == "no-identify") options.beforeWrite = DemoBeforeWrite::NoIdentify;
            else {
                error = "--before-write takes unplug, exchange or no-identify";
                return false;
            }
        } else if (arg == "--trace") {
            if (!needs()) return false;
            options.traceFile = argv[++i];
        } else if (arg == "--state-file") {
            if (!needs()) return false;
            options.stateFile = argv[++i];
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    const bool hasVx310 = std::any_of(options.drives.begin(), options.drives.end(), [](DemoDrive d) {
        return d == DemoDrive::Vx310Inbox || d == DemoDrive::Vx310Miniport || d == DemoDrive::Vx310Usb ||
               d == DemoDrive::Vx310Rst || d == DemoDrive::Vx310RstOld || d == DemoDrive::Vx310RstVmd;
    });
    if ((options.unplugAfter || options.plugAfter || options.beforeWrite != DemoBeforeWrite::Nothing) && !hasVx310) {
        error = "plugging, unplugging and --before-write need a VX310 among the drives";
        return false;
    }
    if (options.unplugAfter && options.plugAfter && *options.unplugAfter == *options.plugAfter) {
        error = "a drive cannot be plugged and unplugged at the same rescan";
        return false;
    }
    return true;
}

}  // namespace demo
