// SCSI pass-through (buffered and direct), SAT and the ATA pass-through.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "Exchanges.h"
#include "ScriptedDeviceIo.h"
#include "devicecmd/Bytes.h"
#include "devicecmd/Requests.h"
#include "devicecmd/ScsiAta.h"
#include "devicecmd/Transport.h"

namespace devicecmd_test {
namespace {

using namespace devicecmd;

constexpr std::uint32_t ErrorIoDevice = 1117;
const Bytes IllegalRequestSense = [] {
    Bytes sense(24, 0);
    sense[0] = 0x70;
    sense[2] = 0x05;
    sense[12] = 0x24;
    return sense;
}();

TEST(SenseCode, CombinesKeyCodeAndQualifier) {
    struct Case {
        std::size_t at2, at12, at13;
        std::uint32_t code;
    } cases[] = {
        {0x00, 0x00, 0x00, 0x000000},
        {0x05, 0x24, 0x00, 0x052400},
        {0xF3, 0x11, 0x04, 0x031104},  // flag bits above the key are not part of it
        {0x00, 0x00, 0x01, 0x000001},
    };
    for (const Case& c : cases) {
        std::array<std::uint8_t, 24> sense{};
        sense[0] = 0x70;
        sense[2] = static_cast<std::uint8_t>(c.at2);
        sense[12] = static_cast<std::uint8_t>(c.at12);
        sense[13] = static_cast<std::uint8_t>(c.at13);
        EXPECT_EQ(SenseCode(sense.data()), c.code) << std::hex << c.at2 << " " << c.at12 << " " << c.at13;
    }
}

TEST(SatProtocolFor, FollowsTheProtocolTable) {
    struct Row {
        SatKind kind;
        std::vector<std::uint8_t> opcodes;
        std::uint8_t protocol;
    } rows[] = {
        {SatDataOut, {0x06, 0x35, 0x3D, 0x57, 0xCA, 0xEB}, 11},
        {SatDataOut, {0x30, 0x34, 0x3F, 0x92, 0xE8, 0xF1, 0xF4, 0xFD}, 5},
        {SatDataOut, {0x61, 0x64}, 12},
        {SatDataIn, {0x25, 0x47, 0xC8, 0xE9}, 10},
        {SatDataIn, {0x60, 0x65}, 12},
        {SatNoData, {0x37, 0xB0, 0xE7, 0xEA, 0xF9}, 3},
        // Everything else falls back to PIO data in, whatever the kind.
        {SatDataOut, {0xFC, 0x25, 0xEC, 0x00}, 4},
        {SatDataIn, {0xEC, 0xFC, 0x06, 0x37, 0x61}, 4},
        {SatNoData, {0x06, 0x25, 0xEC}, 4},
    };
    for (const Row& row : rows) {
        for (std::uint8_t opcode : row.opcodes) {
            EXPECT_EQ(SatProtocolFor(opcode, row.kind), row.protocol)
                << "opcode 0x" << std::hex << int{opcode} << " kind " << int{row.kind};
        }
    }
}

// ---- buffered SCSI pass-through ----

TEST(ScsiPassThrough, BufferedDataOutRequestLayout) {
    ScriptedDeviceIo io;
    const Bytes cdb = Hex("A1 80 00 00 02 00 00 00 00 00 00 00");
    const Bytes data = Pattern(512);
    io.On(IoctlScsiPassThrough)
        .InSize(Here.scsiBufferedSize)
        .OutSize(Here.scsiData + 512)
        .Expect(0, Le16(static_cast<std::uint16_t>(Here.sptLength)))
        .Expect(2, Hex("00 00 00 00 0C 18 00 00 00 00  00 02 00 00  07 00 00 00"))
        .Expect(Here.sptDataBuffer, LeN(Here.scsiData, PointerSize))
        .ExpectU32(Here.sptSenseOffset, Here.scsiSense)
        .Expect(Here.sptCdb, cdb)
        // rest of the CDB room, the structure's tail padding and the 4 zero bytes
        .Expect(Here.sptCdb + 12, Fill(Here.scsiSense - Here.sptCdb - 12, 0))
        .Expect(Here.scsiSense, Fill(Here.scsiData - Here.scsiSense, 0))
        .Expect(Here.scsiData, data)
        .Expect(Here.scsiData + 512, Fill(64, 0));
    EXPECT_EQ(ScsiPassThroughOut(io.Device(), cdb.data(), 12, data.data(), 512, 7, 1), 1);
}

TEST(ScsiPassThrough, BufferedDataInCopiesTheReplyAndIgnoresScsiStatus) {
    ScriptedDeviceIo io;
    const Bytes cdb = Hex("85 09 0E 00 D0 00 01 00 00 00 00 00 00 E0 EC 00");
    const Bytes data = Pattern(512, 3);
    // Check condition in ScsiStatus, but no sense data: success.
    io.On(IoctlScsiPassThrough)
        .OutSize(Here.scsiData + 512)
        .Expect(6, Hex("10 18 01"))
        .ExpectU32(12, 512)
        .Reply(2, Hex("02"))
        .Reply(ScsiDataAt, data);
    Bytes buffer(512, 0xEE);
    EXPECT_EQ(ScsiPassThroughIn(io.Device(), cdb.data(), 16, buffer.data(), 512, 10, 1), 1);
    EXPECT_EQ(buffer, data);
}

TEST(ScsiPassThrough, AttemptsUntilTheSenseAreaIsClear) {
    struct Outcome {
        bool callSucceeds;
        bool senseError;
    };
    struct Case {
        std::string name;
        std::uint32_t attempts;
        std::vector<Outcome> outcomes;  // one per call made
        int result;
    } cases[] = {
        {"attempts 0 counts as 1", 0, {{true, true}}, 0},
        {"sense error on every attempt", 3, {{true, true}, {true, true}, {true, true}}, 0},
        {"failed call, sense error, then success", 4, {{false, false}, {true, true}, {true, false}}, 1},
        {"first attempt succeeds", 4, {{true, false}}, 1},
    };
    const Bytes cdb = Hex("A1 82 00 00 02 00 00 00 00 00 00 00");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        for (std::size_t i = 0; i < c.outcomes.size(); ++i) {
            auto& step = io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, cdb).Reply(ScsiDataAt, Pattern(512, static_cast<std::uint8_t>(i)));
            if (!c.outcomes[i].callSucceeds) step.Fail(ErrorIoDevice);
            if (c.outcomes[i].senseError) step.Reply(ScsiSenseAt, IllegalRequestSense);
        }
        Bytes buffer(512, 0xEE);
        EXPECT_EQ(ScsiPassThroughIn(io.Device(), cdb.data(), 12, buffer.data(), 512, 10, c.attempts), c.result);
        // Only a successful attempt's data reaches the caller.
        EXPECT_EQ(buffer, c.result ? Pattern(512, static_cast<std::uint8_t>(c.outcomes.size() - 1)) : Fill(512, 0xEE));
        EXPECT_TRUE(io.DebugLines().empty());
    }
}

TEST(ScsiPassThrough, TransfersAbove65536BytesGoDirect) {
    struct Case {
        std::uint32_t length;
        bool dataIn;
        std::uint32_t code;
    } cases[] = {
        {65536, true, IoctlScsiPassThrough},
        {65537, true, IoctlScsiPassThroughDirect},
        {65536, false, IoctlScsiPassThrough},
        {65537, false, IoctlScsiPassThroughDirect},
    };
    const Bytes cdb = Hex("28 00 00 00 00 00 00 00 80 00");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << (c.dataIn ? " in" : " out"));
        ScriptedDeviceIo io;
        Bytes buffer(c.length, 0x11);
        io.On(c.code)
            .ExpectU32(12, c.length)
            .Expect(8, Bytes{static_cast<std::uint8_t>(c.dataIn)})
            .OutSize(c.code == IoctlScsiPassThrough ? Here.scsiData + c.length : Here.scsiDirectSize);
        const int result = c.dataIn ? ScsiPassThroughIn(io.Device(), cdb.data(), 10, buffer.data(), c.length, 10, 1)
                                    : ScsiPassThroughOut(io.Device(), cdb.data(), 10, buffer.data(), c.length, 10, 1);
        EXPECT_EQ(result, 1);
    }
}

// ---- direct SCSI pass-through ----

TEST(ScsiPassThroughDirect, NamesTheCallersBufferAndLetsTheDriverFillIt) {
    ScriptedDeviceIo io;
    const Bytes cdb = Hex("A1 82 00 01 00 00 00 00 00 00 00 00");
    Bytes buffer(70000, 0);
    const Bytes data = Pattern(70000);
    io.On(IoctlScsiPassThroughDirect)
        .InSize(Here.scsiDirectSize)
        .OutSize(Here.scsiDirectSize)
        .Expect(0, Le16(static_cast<std::uint16_t>(Here.sptLength)))
        .Expect(2, Hex("00 00 00 00 0C 18 01 00 00 00"))
        .ExpectU32(12, 70000)
        .ExpectU32(16, 9)
        .ExpectAddress(Here.sptDataBuffer, buffer.data())
        .ExpectU32(Here.sptSenseOffset, Here.scsiSense)
        .Expect(Here.sptCdb, cdb)
        .Expect(Here.sptCdb + 12, Fill(Here.scsiDirectSize - Here.sptCdb - 12, 0))
        .ReplyToDataBuffer(data);
    EXPECT_EQ(ScsiPassThroughDirectIn(io.Device(), cdb.data(), 12, buffer.data(), 70000, 9, 1), 1);
    EXPECT_EQ(buffer, data);
}

TEST(ScsiPassThroughDirect, ReportsEachFailedAttemptToTheDebugger) {
    struct Case {
        bool dataIn;
        bool callFails;  // else the call succeeds with sense key 5
        std::wstring line;
    } cases[] = {
        {false, false, L"w1 retry 0\n"},
        {false, true, L"w1 retry 1\n"},
        {true, false, L"r1 retry 0\n"},
        {true, true, L"r1 retry 1\n"},
    };
    const Bytes cdb = Hex("A1 83 00 00 02 00 00 00 00 00 00 00");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.dataIn ? "in " : "out ") << (c.callFails ? "call fails" : "sense"));
        ScriptedDeviceIo io;
        for (int i = 0; i < 3; ++i) {
            auto& step = io.On(IoctlScsiPassThroughDirect).Expect(8, Bytes{static_cast<std::uint8_t>(c.dataIn)});
            if (c.callFails) {
                step.Fail(ErrorIoDevice);
            } else {
                step.Reply(ScsiSenseAt, IllegalRequestSense);
            }
        }
        Bytes buffer(512, 0);
        const int result = c.dataIn ? ScsiPassThroughDirectIn(io.Device(), cdb.data(), 12, buffer.data(), 512, 10, 3)
                                    : ScsiPassThroughDirectOut(io.Device(), cdb.data(), 12, buffer.data(), 512, 10, 3);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(io.DebugLines(), std::vector<std::wstring>(3, c.line));
        if (c.callFails) {
            EXPECT_EQ(io.LastError(), ErrorIoDevice);
        }
    }
}

TEST(ScsiPassThroughDirect, AttemptsZeroCountsAsOne) {
    ScriptedDeviceIo io;
    const Bytes cdb = Hex("A1 82 00 00 02 00 00 00 00 00 00 00");
    io.On(IoctlScsiPassThroughDirect).Reply(ScsiSenseAt, IllegalRequestSense);
    Bytes buffer(512, 0);
    EXPECT_EQ(ScsiPassThroughDirectIn(io.Device(), cdb.data(), 12, buffer.data(), 512, 10, 0), 0);
    EXPECT_EQ(io.DebugLines(), std::vector<std::wstring>{L"r1 retry 0\n"});
}

TEST(ScsiPassThroughDirect, SuccessAfterARetryReportsOnlyTheRetry) {
    ScriptedDeviceIo io;
    const Bytes cdb = Hex("A1 83 00 00 02 00 00 00 00 00 00 00");
    io.On(IoctlScsiPassThroughDirect).Reply(ScsiSenseAt, IllegalRequestSense);
    io.On(IoctlScsiPassThroughDirect).Expect(ScsiSenseAt, Fill(32, 0));  // rebuilt from scratch
    const Bytes data = Pattern(512);
    EXPECT_EQ(ScsiPassThroughDirectOut(io.Device(), cdb.data(), 12, data.data(), 512, 10, 4), 1);
    EXPECT_EQ(io.DebugLines(), std::vector<std::wstring>{L"w1 retry 0\n"});
}

TEST(ScsiPassThrough, RefusesUnusableArgumentsWithoutACall) {
    ScriptedDeviceIo io;
    const Bytes cdb = Hex("A1 82 00 00 02 00 00 00 00 00 00 00 00 00 00 00 00");
    Bytes buffer(512, 0);
    struct Case {
        std::string name;
        platform::Device device;
        const std::uint8_t* cdb;
        std::uint8_t cdbLength;
        std::uint8_t* buffer;
        std::uint32_t length;
    } cases[] = {
        {"null handle", {&io, nullptr}, cdb.data(), 12, buffer.data(), 512},
        {"invalid handle", {&io, platform::InvalidHandle()}, cdb.data(), 12, buffer.data(), 512},
        {"no device seam", {nullptr, ScriptedDeviceIo::DriveHandle()}, cdb.data(), 12, buffer.data(), 512},
        {"null CDB", io.Device(), nullptr, 12, buffer.data(), 512},
        {"null buffer with a length", io.Device(), cdb.data(), 12, nullptr, 512},
        {"CDB longer than its field", io.Device(), cdb.data(), 17, buffer.data(), 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::uint32_t length : {c.length, std::uint32_t{70000}}) {
            Bytes big(length);
            std::uint8_t* data = c.buffer ? (length > 512 ? big.data() : c.buffer) : nullptr;
            EXPECT_EQ(ScsiPassThroughIn(c.device, c.cdb, c.cdbLength, data, length, 10, 4), 0);
            EXPECT_EQ(ScsiPassThroughOut(c.device, c.cdb, c.cdbLength, data, length, 10, 4), 0);
            EXPECT_EQ(ScsiPassThroughDirectIn(c.device, c.cdb, c.cdbLength, data, length, 10, 4), 0);
            EXPECT_EQ(ScsiPassThroughDirectOut(c.device, c.cdb, c.cdbLength, data, length, 10, 4), 0);
        }
    }
    EXPECT_TRUE(io.Calls().empty());
    EXPECT_TRUE(io.DebugLines().empty());
}

// ---- SAT ----

TEST(SendSatCommand, BuildsTheAtaPassThroughCdb) {
    struct Case {
        std::string name;
        std::uint8_t opcode;
        std::uint16_t subcode;
        std::uint32_t address;
        std::uint16_t sectors;
        std::uint8_t direction;
        std::uint16_t features;
        std::uint8_t ataDevice;
        const char* cdb;
        bool dataIn;
    } cases[] = {
        {"IDENTIFY DEVICE", 0xEC, 0, 0, 1, DirectionRead, 0xD0, 0xE0,
         "85 09 0E 00 D0 00 01 00 00 00 00 00 00 E0 EC 00", true},
        {"vendor state read", 0xFC, 0x00D8, 0, 1, DirectionRead, 0xD0, 0xE0,
         "85 09 0E 00 D0 00 01 00 00 D8 00 00 00 E0 FC 00", true},
        {"vendor state write, PIO data out", 0xFD, 0x00D7, 0, 1, DirectionWrite, 0xD0, 0xE0,
         "85 0B 06 00 D0 00 01 00 00 D7 00 00 00 E0 FD 00", false},
        {"no sectors: non-data, 0-byte data in", 0xE7, 0, 0, 0, DirectionNone, 0, 0xA0,
         "85 07 04 00 00 00 00 00 00 00 00 00 00 A0 E7 00", true},
        {"unlisted data-out opcode falls back to PIO data in", 0xFC, 0, 0, 1, DirectionWrite, 0, 0xE0,
         "85 09 06 00 00 00 01 00 00 00 00 00 00 E0 FC 00", false},
        {"every register in its byte", 0x25, 0x9ABC, 0x12345678, 0x0003, DirectionRead, 0x0304, 0x40,
         "85 15 0E 03 04 00 03 12 78 BC 56 9A 34 40 25 00", true},
        {"DOWNLOAD MICROCODE layout", 0x92, 0xFFFF, 0x00ABCDEF, 0x0102, DirectionWrite, 0x0003, 0xA0,
         "85 0B 06 00 03 00 02 AB 01 00 EF 00 CD A0 92 00", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        const std::uint32_t length = c.sectors * 512u;
        const std::uint32_t code = length > 65536 ? IoctlScsiPassThroughDirect : IoctlScsiPassThrough;
        Bytes buffer(length + 1, 0);
        io.On(code)
            .Expect(6, Hex("10 18"))
            .Expect(8, Bytes{static_cast<std::uint8_t>(c.dataIn)})
            .ExpectU32(12, length)
            .ExpectU32(16, 12)
            .Expect(ScsiCdbAt, Hex(c.cdb));
        EXPECT_EQ(SendSatCommand(io.Device(), c.opcode, c.subcode, c.address, buffer.data(), c.sectors, c.direction,
                                 c.features, c.ataDevice, 12, 2),
                  1);
    }
}

TEST(SendSatCommand, UsesTheCallersAttempts) {
    ScriptedDeviceIo io;
    for (int i = 0; i < 2; ++i) io.On(IoctlScsiPassThrough).Reply(ScsiSenseAt, IllegalRequestSense);
    Bytes buffer(512);
    EXPECT_EQ(SendSatCommand(io.Device(), 0xEC, 0, 0, buffer.data(), 1, DirectionRead, 0, 0xE0, 10, 2), 0);
}

// ---- ATA pass-through ----

TEST(SendAtaCommand, BuildsTheRequestByCommandClass) {
    struct Case {
        std::string name;
        std::uint8_t opcode;
        std::uint16_t subcode;
        std::uint32_t address;
        std::uint16_t sectors;
        std::uint8_t direction;
        std::uint16_t features;
        std::uint8_t ataDevice;
        std::uint16_t flags;
        const char* current;
        const char* previous;
    } cases[] = {
        {"vendor read, 48-bit PIO in", 0xFC, 0x00D8, 0, 1, DirectionRead, 0xD0, 0xE0, 0x0A,
         "D0 01 00 00 00 E0 FC 00", "00 00 00 D8 00 00 00 00"},
        {"vendor write, 48-bit PIO out", 0xFD, 0x00D7, 0, 1, DirectionWrite, 0xD0, 0xE0, 0x0C,
         "D0 01 00 00 00 E0 FD 00", "00 00 00 D7 00 00 00 00"},
        {"IDENTIFY DEVICE, 28-bit PIO in", 0xEC, 0, 0, 1, DirectionRead, 0xD0, 0xE0, 0x02,
         "D0 01 00 00 00 E0 EC 00", "00 00 00 00 00 00 00 00"},
        {"READ DMA EXT, every register", 0x25, 0x9ABC, 0x12345678, 0x0102, DirectionRead, 0x0304, 0x40, 0x1A,
         "04 02 78 56 34 40 25 00", "03 01 12 BC 9A 00 00 00"},
        {"WRITE DMA, 28-bit: no previous task file", 0xCA, 0x1234, 0x0F123456, 8, DirectionWrite, 0x0102, 0xE0,
         0x14, "02 08 56 34 12 E0 CA 00", "00 00 00 00 00 00 00 00"},
        {"no sectors goes as data in without the data flag", 0xE7, 0, 0, 0, DirectionWrite, 0, 0xA0, 0x00,
         "00 00 00 00 00 A0 E7 00", "00 00 00 00 00 00 00 00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AtaTaskFiles files = BuildAtaTaskFiles(c.opcode, c.subcode, c.address, c.sectors, c.features, c.ataDevice);
        EXPECT_EQ(Bytes(files.current.begin(), files.current.end()), Hex(c.current));
        EXPECT_EQ(Bytes(files.previous.begin(), files.previous.end()), Hex(c.previous));
        EXPECT_EQ(files.is48Bit, (c.flags & 0x08) != 0);

        ScriptedDeviceIo io;
        Bytes buffer(c.sectors * 512u + 1, 0);
        io.On(IoctlAtaPassThroughDirect)
            .InSize(Here.ataLength)
            .OutSize(Here.ataLength)
            .Expect(0, Le16(static_cast<std::uint16_t>(Here.ataLength)))
            .Expect(2, Le16(c.flags))
            .Expect(4, Fill(4, 0))
            .ExpectU32(8, c.sectors * 512u)
            .ExpectU32(12, 10)
            .Expect(16, Fill(Here.ataDataBuffer - 16, 0))  // reserved dword and padding
            .ExpectAddress(Here.ataDataBuffer, buffer.data())
            .Expect(Here.ataPreviousTaskFile, Hex(c.previous))
            .Expect(Here.ataCurrentTaskFile, Hex(c.current))
            .Reply(AtaStatusAt, AtaStatusReady);
        EXPECT_EQ(SendAtaCommand(io.Device(), c.opcode, c.subcode, c.address, buffer.data(), c.sectors, c.direction,
                                 c.features, c.ataDevice, 99, 4),
                  1);
    }
}

TEST(SendAtaCommand, FlagsFollowTheCommandClassTable) {
    struct Row {
        std::vector<std::uint8_t> opcodes;
        std::uint16_t classFlags;  // 48-bit 0x08, DMA 0x10
    } rows[] = {
        {{0x24, 0x2F, 0x34, 0x3F, 0xEA, 0xFC, 0xFD}, 0x08},
        {{0x25, 0x35, 0x3D, 0x47, 0x57}, 0x18},
        {{0xC8, 0xCA, 0xE9, 0xEB}, 0x10},
        {{0x20, 0x30, 0x92, 0xE4, 0xE7, 0xE8, 0xEC, 0x00, 0xFE}, 0x00},
    };
    std::array<std::uint8_t, 512> buffer{};
    for (const Row& row : rows) {
        for (std::uint8_t opcode : row.opcodes) {
            SCOPED_TRACE(testing::Message() << "opcode 0x" << std::hex << int{opcode});
            for (auto [direction, dataFlag] : {std::pair{DirectionRead, 0x02}, {DirectionWrite, 0x04}}) {
                const auto request =
                    BuildAtaRequest(opcode, 0x00D8, 0, AddressOf(buffer.data()), 1, direction, 0xD0, 0xE0);
                EXPECT_EQ(GetU16(request.data() + 2), row.classFlags | dataFlag);
            }
            const bool is48Bit = (row.classFlags & 0x08) != 0;
            const auto previous = BuildAtaTaskFiles(opcode, 0x00D8, 0, 1, 0xD0, 0xE0).previous;
            EXPECT_EQ(Bytes(previous.begin(), previous.end()),
                      is48Bit ? Hex("00 00 00 D8 00 00 00 00") : Fill(8, 0));
        }
    }
}

// The call succeeds whenever the driver carried the command; whether the device did it
// is in the status register it hands back in the current task file.
TEST(SendAtaCommand, JudgesTheReturnedStatusRegister) {
    const struct {
        std::uint8_t status;
        int expected;
    } cases[] = {
        {0x50, 1},  // ready, seek complete
        {0x40, 1},  // ready
        {0x58, 1},  // ready, data request still set
        {0x51, 0},  // error: command aborted
        {0x41, 0},  // error
        {0x70, 0},  // device fault
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        ScriptedDeviceIo io;
        Bytes buffer(512);
        io.On(IoctlAtaPassThroughDirect).Reply(AtaStatusAt, {c.status});
        EXPECT_EQ(SendAtaCommand(io.Device(), 0xFD, 0xD7, 0, buffer.data(), 1, DirectionWrite, 0xD0, 0xE0, 10, 4),
                  c.expected);
        EXPECT_EQ(io.Calls().size(), 1u);
    }
}

TEST(SendAtaCommand, CallsOnceAndLeavesTheHandleToThePlatform) {
    ScriptedDeviceIo io;
    io.ExpectHandle(platform::InvalidHandle());
    io.On(IoctlAtaPassThroughDirect).Fail(6);
    Bytes buffer(512);
    EXPECT_EQ(SendAtaCommand({&io, platform::InvalidHandle()}, 0xEC, 0, 0, buffer.data(), 1, DirectionRead, 0, 0xE0,
                             10, 4),
              0);
    EXPECT_EQ(io.LastError(), 6u);
}

TEST(SendAtaCommand, RefusesATransferWithoutABuffer) {
    ScriptedDeviceIo io;
    EXPECT_EQ(SendAtaCommand(io.Device(), 0xEC, 0, 0, nullptr, 1, DirectionRead, 0, 0xE0, 10, 4), 0);
    EXPECT_EQ(SendAtaCommand({nullptr, ScriptedDeviceIo::DriveHandle()}, 0xE7, 0, 0, nullptr, 0, DirectionNone, 0,
                             0xE0, 10, 4),
              0);
    EXPECT_TRUE(io.Calls().empty());
}

}  // namespace
}  // namespace devicecmd_test
