// Intel RST's "IntelNvm" pass-through: the requests as the driver reads them, the replies
// the layer takes, and what the simulated driver refuses.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "devicecmd/Bytes.h"
#include "devicecmd/Detect.h"
#include "devicecmd/HealthLog.h"
#include "devicecmd/IntelRst.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/Transport.h"
#include "tests/e2e/Rig.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using e2e::NvmePath;
using e2e::Rig;

Bytes Le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}
Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }

struct Row {
    std::size_t at;
    Bytes bytes;
};

// Identify, the state read, the switch and the health log, as the port receives them: the
// disk is asked its SCSI address, then one request goes to \\.\Scsi2: for its PathId, with
// TargetId and Lun 0 (reserved) whatever the address names.
TEST(IntelRstRequest, EveryServiceAsTheDriverReadsIt) {
    const std::vector<Row> common = {
        {0, Le32(28)},                 // SRB_IO_CONTROL.HeaderLength
        {4, Text("IntelNvm")},         // Signature
        {12, Le32(30)},                // Timeout
        {16, Le32(0xF0002808)},        // ControlCode
        {20, Le32(0)},                 // ReturnCode
        {28, {1, 1, 0, 0}},            // Version, PathId, TargetId, Lun
        {96, {0, 0, 0, 0}},            // IsIOCommandSet: admin, and its padding
        {100, Bytes(16, 0)},           // completion entry
        {116, Le32(0xA4)},             // DataBufferOffset
        {124, Bytes(40, 0)},           // ten reserved dwords
    };
    struct Case {
        const char* what;
        int (*operation)(Rig&);
        std::uint32_t size;
        std::vector<Row> rows;
    };
    const Case cases[] = {
        {"identify", [](Rig& rig) {
             Bytes data(4096, 0);
             return devicecmd::IdentifyDevice(rig.Device(), rig.Transport(), data.data(), 1, 0);
         },
         164 + 4096,
         {{24, Le32(4232)}, {32, Le32(0x06)}, {36, Le32(0)}, {72, Le32(1)}, {92, Le32(0)}, {120, Le32(4096)}}},
        {"state read", [](Rig& rig) {
             std::uint8_t state = 0;
             return devicecmd::QueryOptimizeState(rig.Device(), rig.Transport(5), &state);
         },
         164 + 512,
         {{24, Le32(648)}, {32, Le32(0xFE)}, {36, Le32(0)}, {72, Le32(128)}, {88, Le32(0)}, {92, Le32(0xD8)},
          {120, Le32(512)},
          {164, Bytes(512, 0)}}},
        {"switch on", [](Rig& rig) {
             return devicecmd::CPrivateCMD7305().SetOptimize(rig.Device(), rig.Transport(5), 0);
         },
         164 + 512,
         {{24, Le32(648)}, {32, Le32(0xFD)}, {36, Le32(0)}, {72, Le32(128)}, {92, Le32(0xD7)}, {120, Le32(512)},
          {164, {0xAA, 0x55, 0xAA, 0x55, 0x00}}, {169, Bytes(507, 0)}}},
        {"health log", [](Rig& rig) {
             devicecmd::HealthLogBytes log{};
             return devicecmd::ReadHealthLog(rig.Device(), rig.Transport(), log);
         },
         164 + 512,
         {{24, Le32(648)}, {32, Le32(0x02)}, {36, Le32(0xFFFFFFFF)}, {72, Le32(0x007F0002)}, {120, Le32(512)},
          {164, Bytes(512, 0)}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(NvmePath::IntelRst);
        // The disk's address names a TargetId and a Lun; the driver's fields for them are reserved.
        rig.machine.Attach(rig.openPath, std::make_shared<sim::SimScsiAddressed>(rig.stack, sim::SimScsiAddress{2, 1, 3, 5}));
        rig.handle = platform::UniqueHandle::Open(rig.machine, rig.openPath, platform::AccessRead | platform::AccessWrite,
                                                  platform::ShareRead | platform::ShareWrite, platform::OpenExisting,
                                                  platform::AttributeNormal);
        rig.machine.ClearTrace();
        ASSERT_NE(c.operation(rig), 0);
        const auto trace = rig.machine.Trace();
        ASSERT_EQ(trace.size(), 2u);
        EXPECT_EQ(trace[0].code, devicecmd::IoctlScsiGetAddress);
        EXPECT_EQ(trace[0].path, L"\\\\.\\PhysicalDrive4");
        EXPECT_EQ(trace[1].code, 0x4D008u);
        EXPECT_EQ(trace[1].path, L"\\\\.\\Scsi2:");
        const Bytes& request = trace[1].request;
        ASSERT_EQ(request.size(), c.size);
        for (const std::vector<Row>* rows : {&common, &c.rows}) {
            for (const Row& row : *rows) {
                ASSERT_LE(row.at + row.bytes.size(), request.size());
                EXPECT_EQ(Bytes(request.begin() + static_cast<std::ptrdiff_t>(row.at),
                                request.begin() + static_cast<std::ptrdiff_t>(row.at + row.bytes.size())),
                          row.bytes)
                    << "at " << row.at;
            }
        }
    }
}

// Success only when the count, the signature, ReturnCode 1 (the SRB status "success") and
// the completion status agree. Every other SRB status is a refusal, pending (0) too.
TEST(IntelRstReply, CountReturnCodeAndCompletionStatusMustAllAgree) {
    const std::uint8_t command[64] = {0xFE};
    const Bytes data(512, 0);
    Bytes good = devicecmd::BuildRstRequest(command, data.data(), 512, devicecmd::DirectionRead, false, 30, {});
    std::copy_n(Le32(1).begin(), 4, good.begin() + 20);
    const auto size = static_cast<std::uint32_t>(good.size());
    struct Case {
        const char* what;
        std::uint8_t direction;
        std::uint32_t returned;
        std::size_t at;
        Bytes bytes;
        devicecmd::ReplyVerdict verdict;
    };
    using devicecmd::ReplyVerdict;
    const Case cases[] = {
        {"whole read", 2, size, 0, {}, ReplyVerdict::Succeeded},
        {"phase tag alone", 2, size, 112, Le32(0x00010000), ReplyVerdict::Succeeded},
        {"read short of its last data byte", 2, size - 1, 0, {}, ReplyVerdict::Short},
        {"count past the buffer", 2, size + 1, 0, {}, ReplyVerdict::Short},
        {"write: count through the completion entry", 1, 116, 0, {}, ReplyVerdict::Succeeded},
        {"count short of the completion status", 0, 115, 0, {}, ReplyVerdict::Short},
        {"ReturnCode 0: pending, never a success", 2, size, 20, Le32(0), ReplyVerdict::Failed},
        {"ReturnCode 4: error", 2, size, 20, Le32(4), ReplyVerdict::Failed},
        {"ReturnCode 6: not passed", 2, size, 20, Le32(6), ReplyVerdict::Failed},
        {"ReturnCode 7: no such path", 2, size, 20, Le32(7), ReplyVerdict::Failed},
        {"ReturnCode 0x101: success in the low byte only", 2, size, 20, Le32(0x101), ReplyVerdict::Failed},
        {"status: invalid opcode (bit 17)", 2, size, 112, Le32(0x00020000), ReplyVerdict::Failed},
        {"status: do not retry (bit 31)", 2, size, 112, Le32(0x80000000), ReplyVerdict::Failed},
        {"another signature", 2, size, 4, Text("NvmeMini"), ReplyVerdict::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes reply = good;
        std::copy(c.bytes.begin(), c.bytes.end(), reply.begin() + static_cast<std::ptrdiff_t>(c.at));
        EXPECT_EQ(devicecmd::JudgeRstReply(reply.data(), c.returned, size, c.direction, 512), c.verdict);
    }
}

// A refusal leaves a code: the system's for a failed call, 50 for a command the driver does
// not pass (ReturnCode 6, not sent again), 1117 for the driver's or the drive's refusal
// after a call that went through, 13 for a short reply.
TEST(IntelRstErrors, EveryFailureLeavesANonzeroCode) {
    struct Case {
        const char* what;
        void (*arrange)(Rig&);
        int (*operation)(Rig&);
        std::uint32_t error;
        std::size_t portCalls;
        std::uint8_t stateAfter = 2;  // the drive's: a cut reply does not undo the write
    };
    const auto write = [](Rig& rig) {
        return devicecmd::CPrivateCMD7305().SetOptimize(rig.Device(), rig.Transport(5), 0);
    };
    const auto identify = [](Rig& rig) {
        Bytes data(4096, 0);
        return devicecmd::IdentifyDevice(rig.Device(), rig.Transport(), data.data(), 1, 0);
    };
    const Case cases[] = {
        {"unsupported command (format NVM)", [](Rig&) {},
         [](Rig& rig) {
             const std::uint8_t format[64] = {0x80};
             return devicecmd::SendIntelRstNvmeCommand(rig.Device(), format, nullptr, 0, 0, 0, 30, 4, nullptr);
         },
         50, 1},
        {"a driver that passes nothing", [](Rig& rig) { rig.rst->passesNothing.Arm(sim::Forever); }, write, 50, 1},
        {"the drive refuses the switch", [](Rig& rig) { rig.controller->RejectCommands(0xFD, 0xD7, sim::NvmeInvalidField); },
         write, 1117, 4},
        {"ReturnCode says error", [](Rig& rig) { rig.rst->badReturnCode.Arm(sim::Forever); }, write, 1117, 4},
        {"reply cut before the completion entry",
         [](Rig& rig) { rig.machine.CutReplies(L"\\\\.\\Scsi2:", 0x4D008, 100); }, write, 13, 4, 0},
        {"SCSI address cut short",
         [](Rig& rig) { rig.machine.CutReplies(rig.openPath, devicecmd::IoctlScsiGetAddress, 6); }, write, 13, 0},
        {"a driver older than the pass-through",
         [](Rig& rig) { rig.machine.Attach(L"\\\\.\\Scsi2:", std::make_shared<sim::SimRstPort>(false)); }, identify, 1,
         1},
        {"no such port", [](Rig& rig) { rig.machine.Detach(L"\\\\.\\Scsi2:"); }, identify, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(NvmePath::IntelRst);
        c.arrange(rig);
        rig.machine.ClearTrace();
        rig.machine.SetLastError(0);
        EXPECT_EQ(c.operation(rig), 0);
        EXPECT_EQ(rig.machine.LastError(), c.error);
        EXPECT_EQ(rig.PassThroughCalls(), c.portCalls);
        EXPECT_EQ(rig.controller->Firmware().OptimizeState(), c.stateAfter);
    }
}

// The sender takes any NVMe command as given: the namespace in dword 1, either queue.
TEST(IntelRstSender, CarriesAnyCommandAsGiven) {
    Rig rig(NvmePath::IntelRst);
    devicecmd::NvmeCommand identifyNamespace;
    identifyNamespace.dword[0] = 0x06;
    identifyNamespace.dword[1] = 1;  // namespace 1
    identifyNamespace.dword[10] = 0;  // CNS 0
    const auto bytes = identifyNamespace.Bytes();
    Bytes data(4096, 0);
    std::array<std::uint8_t, 16> completion{};
    completion.fill(0xEE);
    ASSERT_NE(devicecmd::SendIntelRstNvmeCommand(rig.Device(), bytes.data(), data.data(), 4096, 2, 0, 30, 1,
                                                 completion.data()),
              0);
    const auto namespaceData = rig.controller->IdentifyNamespace();
    EXPECT_EQ(data, Bytes(namespaceData.begin(), namespaceData.end()));
    EXPECT_EQ(completion[14] & 0xFE, 0);  // status clear
    ASSERT_FALSE(rig.controller->History().empty());
    EXPECT_EQ(rig.controller->History().back().command[1], 1u);

    // An I/O command reaches the I/O queue (the drive models none: it says invalid opcode).
    const std::uint8_t flush[64] = {0x00, 0, 0, 0, 1};
    EXPECT_EQ(devicecmd::SendIntelRstNvmeCommand(rig.Device(), flush, nullptr, 0, 0, 1, 30, 1, nullptr), 0);
    EXPECT_EQ(rig.controller->History().back().queue, sim::SimQueue::Io);
}

// What the caller asks against the opcode's own direction is refused before any call.
TEST(IntelRstSender, RefusesWhatTheDriverWouldMoveTheOtherWay) {
    struct Case {
        const char* what;
        std::uint8_t opcode;
        std::uint8_t direction;
        bool nullBuffer;
    };
    const Case cases[] = {
        {"vendor read as a write", 0xFE, 1, false},
        {"vendor write as a read", 0xFD, 2, false},
        {"identify without data", 0x06, 0, false},
        {"a direction beyond 2", 0xFE, 3, false},
        {"data without a buffer", 0xFE, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(NvmePath::IntelRst);
        rig.machine.ClearTrace();
        const std::uint8_t command[64] = {c.opcode};
        Bytes data(512, 0);
        EXPECT_EQ(devicecmd::SendIntelRstNvmeCommand(rig.Device(), command, c.nullBuffer ? nullptr : data.data(), 512,
                                                     c.direction, 0, 30, 4, nullptr),
                  0);
        EXPECT_TRUE(rig.machine.Trace().empty());
    }
}

// The simulated driver reads every field of the request as documented. What the port
// cannot take fails the call; what the driver will not pass completes with ReturnCode 6
// (7 for a PathId with no target) and reaches no drive.
TEST(SimRstPort, RefusesMalformedRequests) {
    const auto command = devicecmd::BuildNvmeCommand(0xFE, 128, 0, 0xD8).Bytes();  // the state read
    struct Case {
        const char* what;
        std::size_t at;
        Bytes bytes;
        std::uint32_t error;       // the call fails with it; 0: the call completes
        std::uint32_t returnCode;  // when it completes
    };
    const Case cases[] = {
        {"as built", 0, {}, 0, 1},
        {"HeaderLength", 0, Le32(24), 87, 0},
        {"Length past the buffer", 24, Le32(4000), 87, 0},
        {"no timeout", 12, Le32(0), 87, 0},
        {"signature", 4, Text("IntelNvM"), 1, 0},
        {"the miniport's signature", 4, Text("NvmeMini"), 1117, 0},
        {"control code", 16, Le32(0xE0002000), 1, 0},
        {"Length short of the request", 24, Le32(647), 0, 6},
        {"version", 28, {2}, 0, 6},
        {"TargetId", 30, {1}, 0, 6},
        {"Lun", 31, {1}, 0, 6},
        {"a PathId with no drive", 29, {7}, 0, 7},
        {"data offset: the data length (a peer's crash of iaStorVD)", 116, Le32(512), 0, 6},
        {"data offset not on a dword", 116, Le32(0xA6), 0, 6},
        {"data offset inside the parameters", 116, Le32(0xA0), 0, 6},
        {"data offset 0 with data", 116, Le32(0), 0, 6},
        {"data length past the request", 120, Le32(0x201), 0, 6},
        {"data length short of the request", 120, Le32(0x1FC), 0, 6},
        {"queue flag", 96, {2}, 0, 6},
        {"reserved dword", 160, Le32(1), 0, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(NvmePath::IntelRst);
        Bytes request = devicecmd::BuildRstRequest(command.data(), nullptr, 512, devicecmd::DirectionRead, false, 30,
                                                   devicecmd::ScsiAddress{2, 1, 0, 0});
        std::copy(c.bytes.begin(), c.bytes.end(), request.begin() + static_cast<std::ptrdiff_t>(c.at));
        platform::UniqueHandle port = platform::UniqueHandle::Open(
            rig.machine, L"\\\\.\\Scsi2:", platform::AccessRead | platform::AccessWrite,
            platform::ShareRead | platform::ShareWrite, platform::OpenExisting, platform::AttributeNormal);
        std::uint32_t returned = 0;
        const auto size = static_cast<std::uint32_t>(request.size());
        const bool ok = rig.machine.IoControl(port.Get(), 0x4D008, request.data(), size, request.data(), size, &returned);
        ASSERT_EQ(ok, c.error == 0);
        if (c.error != 0) {
            EXPECT_EQ(rig.machine.LastError(), c.error);
        } else {
            EXPECT_EQ(returned, 28 + devicecmd::GetU32(request.data() + 24));  // what the request named
            EXPECT_EQ(devicecmd::GetU32(request.data() + 20), c.returnCode);
        }
        if (c.returnCode == 1) {
            EXPECT_EQ(request[164], 0xAA);
        } else {
            EXPECT_TRUE(rig.controller->History().empty());
        }
    }
}

}  // namespace
