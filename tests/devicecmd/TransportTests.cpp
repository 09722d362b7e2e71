// The transport switch and the three NVMe senders.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "Exchanges.h"
#include "ScriptedDeviceIo.h"
#include "devicecmd/Requests.h"
#include "devicecmd/Transport.h"

namespace devicecmd_test {
namespace {

using namespace devicecmd;

constexpr std::uint32_t ErrorInvalidFunction = 1;
constexpr std::uint32_t ErrorIoDevice = 1117;

// Completion dword 3 values: bit 16 is the phase tag, bits 17 to 31 the status field.
struct CompletionCase {
    std::string name;
    std::uint32_t dword3;
    bool succeeds;
};
const std::vector<CompletionCase> CompletionCases = {
    {"all clear", 0, true},
    {"phase tag only", 1u << 16, true},
    {"status code 1 (invalid opcode)", 1u << 17, false},
    {"do-not-retry with status code 1", (1u << 31) | (1u << 17), false},
    {"more only", 1u << 30, false},
};

NvmeCommand DistinctCommand() {
    NvmeCommand command;
    for (std::size_t i = 0; i < command.dword.size(); ++i) command.dword[i] = 0x01010101u * (i + 1);
    return command;
}

TEST(NvmeCommand, BytesAreSixteenLittleEndianDwords) {
    const NvmeCommand command = BuildNvmeCommand(0xFE, 0x80, 0x11223344, 0xD8);
    const auto bytes = command.Bytes();
    Bytes expected(64, 0);
    expected[0] = 0xFE;
    expected[40] = 0x80;
    expected[56] = 0x44, expected[57] = 0x33, expected[58] = 0x22, expected[59] = 0x11;
    expected[60] = 0xD8;
    EXPECT_EQ(ToHex(Bytes(bytes.begin(), bytes.end())), ToHex(expected));

    const NvmeCommand distinct = DistinctCommand();
    EXPECT_EQ(NvmeCommand::FromBytes(distinct.Bytes().data()).dword, distinct.dword);
}

TEST(BuildBridgeBlock, CarriesDwordsZeroOneAndTenToFifteen) {
    const NvmeCommand command = DistinctCommand();
    const auto block = BuildBridgeBlock(command);
    Bytes expected(512, 0);
    const Bytes signature = Hex("4E 56 4D 45");
    std::copy(signature.begin(), signature.end(), expected.begin());
    const auto put = [&](std::size_t at, std::uint32_t v) {
        const Bytes le = Le32(v);
        std::copy(le.begin(), le.end(), expected.begin() + static_cast<std::ptrdiff_t>(at));
    };
    put(8, command.dword[0]);
    put(12, command.dword[1]);
    for (std::size_t i = 10; i <= 15; ++i) put(48 + 4 * (i - 10), command.dword[i]);
    EXPECT_EQ(ToHex(Bytes(block.begin(), block.end())), ToHex(expected));
}

// ---- the transport switch ----

TEST(SendDeviceCommand, VendorReadOpcodeBecomes0xFEOnNvmePathsOnly) {
    struct Case {
        TransportWord transport;
        std::uint8_t opcode;
        std::uint8_t sentOpcode;
    } cases[] = {
        {0x0000, 0xFC, 0xFC}, {0x0001, 0xFC, 0xFC}, {0x0002, 0xFC, 0xFE}, {0x0003, 0xFC, 0xFE},
        {0x0004, 0xFC, 0xFE}, {0x0000, 0xFD, 0xFD}, {0x0001, 0xFD, 0xFD}, {0x0002, 0xFD, 0xFD},
        {0x0003, 0xFD, 0xFD}, {0x0004, 0xFD, 0xFD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "transport " << c.transport << " opcode 0x" << std::hex << int{c.opcode});
        ScriptedDeviceIo io;
        const std::uint8_t direction = c.opcode == 0xFC ? DirectionRead : DirectionWrite;
        const Bytes data = Pattern(512);
        switch (c.transport) {
            case TransportSat:
                io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt + 14, Bytes{c.sentOpcode});
                break;
            case TransportAta:
                io.On(IoctlAtaPassThroughDirect).Expect(AtaStatusAt, Bytes{c.sentOpcode}).Reply(AtaStatusAt, AtaStatusReady);
                break;
            default:
                ExpectNvmeExchange(io, static_cast<std::uint8_t>(c.transport), {c.sentOpcode, 128, 0xD8, direction, data});
        }
        Bytes buffer = direction == DirectionRead ? Bytes(512, 0) : data;
        EXPECT_EQ(SendDeviceCommand(io.Device(), c.transport, c.opcode, 0xD8, 0, buffer.data(), 1, direction, 0xD0,
                                    0xE0, 10, 4),
                  1);
    }
}

TEST(SendDeviceCommand, LooksAtTheLowByteOfTheTransportWordOnly) {
    for (std::uint8_t code : {TransportNvmeInbox, TransportNvmeMiniport, TransportUsbBridge}) {
        SCOPED_TRACE(testing::Message() << "transport " << int{code});
        std::vector<std::vector<ScriptedDeviceIo::Call>> sent;
        for (TransportWord word : {TransportWord{code}, MakeTransport(code, 5), TransportWord{0xAB000500u} | code}) {
            ScriptedDeviceIo io;
            ExpectNvmeExchange(io, code, {0xFD, 128, 0xD7, DirectionWrite, Pattern(512)});
            Bytes data = Pattern(512);
            EXPECT_EQ(SendDeviceCommand(io.Device(), word, 0xFD, 0xD7, 0, data.data(), 1, DirectionWrite, 0xD0, 0xE0,
                                        10, 4),
                      1);
            sent.push_back(io.Calls());
        }
        for (std::size_t i = 1; i < sent.size(); ++i) {
            ASSERT_EQ(sent[i].size(), sent[0].size());
            for (std::size_t call = 0; call < sent[0].size(); ++call) {
                EXPECT_EQ(sent[i][call].request, sent[0][call].request) << "call " << call;
                EXPECT_EQ(sent[i][call].outSize, sent[0][call].outSize) << "call " << call;
            }
        }
    }
}

// The caller's registers land in the NVMe command; its ATA-only values and its timeout
// and attempts do not: every NVMe path takes 30 seconds and four attempts.
TEST(SendDeviceCommand, CarriesTheRegistersInTheNvmeCommandOnEveryNvmePath) {
    Bytes command(64, 0);
    const auto put = [&command](std::size_t dword, std::uint32_t value) {
        const Bytes le = Le32(value);
        std::copy(le.begin(), le.end(), command.begin() + static_cast<std::ptrdiff_t>(4 * dword));
    };
    put(0, 0xC1);
    put(10, 2 * 128);
    put(14, 0x12345678);
    put(15, 0xBEEF);
    Bytes block(512, 0);
    const Bytes signature = Hex("4E 56 4D 45");
    std::copy(signature.begin(), signature.end(), block.begin());
    std::copy(command.begin(), command.begin() + 8, block.begin() + 8);
    std::copy(command.begin() + 40, command.end(), block.begin() + 48);

    struct Case {
        TransportWord transport;
        std::uint32_t code;
        std::size_t commandAt;
        const Bytes& sent;
        std::size_t timeoutAt;
    } cases[] = {
        {TransportNvmeInbox, IoctlStorageProtocolCommand, InboxCommandAt, command, 40},
        {TransportNvmeMiniport, IoctlScsiMiniport, MiniportCommandAt, command, 12},
        {TransportUsbBridge, IoctlScsiPassThrough, ScsiDataAt, block, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "transport " << c.transport);
        ScriptedDeviceIo io;
        for (int attempt = 0; attempt < 4; ++attempt) {
            io.On(c.code).Expect(c.commandAt, c.sent).ExpectU32(c.timeoutAt, 30).Fail(ErrorIoDevice);
        }
        Bytes data = Pattern(1024);
        EXPECT_EQ(SendDeviceCommand(io.Device(), c.transport, 0xC1, 0xBEEF, 0x12345678, data.data(), 2, DirectionWrite,
                                    0x1234, 0x55, 99, 1),
                  0);
        EXPECT_EQ(io.LastError(), ErrorIoDevice);
    }
}

TEST(SendDeviceCommand, UnknownTransportCodesSendNothing) {
    ScriptedDeviceIo io;
    Bytes buffer(512);
    for (TransportWord word : {0x06u, 0xFFu, 0x0206u}) {
        EXPECT_EQ(SendDeviceCommand(io.Device(), word, 0xFC, 0xD8, 0, buffer.data(), 1, DirectionRead, 0xD0, 0xE0,
                                    10, 4),
                  0);
    }
    EXPECT_TRUE(io.Calls().empty());
}

// ---- inbox NVMe driver ----

TEST(SendStorageProtocolCommand, OneSectorWriteFillsAWholeDataPage) {
    ScriptedDeviceIo io;
    const Bytes data = Pattern(512, 9);
    Bytes area = data;
    area.resize(4096, 0);
    io.On(IoctlStorageProtocolCommand)
        .InSize(4304)
        .OutSize(4304)
        .Expect(0, Hex("01 00 00 00  54 00 00 00  03 00 00 00  00 00 00 80  00 00 00 00  00 00 00 00"
                       " 40 00 00 00  40 00 00 00  00 10 00 00  00 00 00 00  1E 00 00 00  90 00 00 00"
                       " D0 00 00 00  00 00 00 00  01 00 00 00"))
        .Expect(60, Fill(20, 0))
        .Expect(80, Hex("FD 00 00 00"))
        .Expect(84, Fill(36, 0))
        .ExpectU32(120, 128)
        .Expect(124, Fill(12, 0))
        .ExpectU32(136, 0)
        .ExpectU32(140, 0xD7)
        .Expect(144, Fill(64, 0))
        .Expect(208, area)
        .ReplyU32(16, 1);
    Bytes buffer = data;
    EXPECT_EQ(SendDeviceCommand(io.Device(), 0x0502, 0xFD, 0xD7, 0, buffer.data(), 1, DirectionWrite, 0xD0, 0xE0, 10,
                                4),
              1);
}

TEST(SendStorageProtocolCommand, NoDataMeansNoDataArea) {
    ScriptedDeviceIo io;
    io.On(IoctlStorageProtocolCommand)
        .InSize(208)
        .OutSize(208)
        .Expect(32, Fill(8, 0))
        .Expect(48, Fill(8, 0))
        .ReplyU32(16, 1);
    EXPECT_EQ(SendDeviceCommand(io.Device(), 2, 0x80, 0, 0, nullptr, 0, DirectionNone, 0xD0, 0xE0, 10, 4), 1);
}

TEST(SendStorageProtocolCommand, ReadHandsBackTheRequestedBytesOnly) {
    ScriptedDeviceIo io;
    const Bytes page = Pattern(4096, 5);
    io.On(IoctlStorageProtocolCommand)
        .InSize(4304)
        .Expect(32, Hex("00 00 00 00  00 10 00 00"))
        .Expect(48, Hex("00 00 00 00  D0 00 00 00"))
        .Expect(208, Fill(4096, 0))
        .ReplyU32(16, 1)
        .Reply(208, page);
    Bytes buffer(512, 0xEE);
    EXPECT_EQ(SendDeviceCommand(io.Device(), 2, 0xFC, 0xD8, 0, buffer.data(), 1, DirectionRead, 0xD0, 0xE0, 10, 4), 1);
    EXPECT_EQ(ToHex(buffer), ToHex(Bytes(page.begin(), page.begin() + 512)));
}

TEST(SendStorageProtocolCommand, RetriesUntilReturnStatusIsSuccess) {
    struct Reply {
        bool callSucceeds;
        std::uint32_t returnStatus;
    };
    struct Case {
        std::string name;
        std::uint32_t attempts;
        std::vector<Reply> replies;
        int result;
    } cases[] = {
        {"status 0 every time", 4, {{true, 0}, {true, 0}, {true, 0}, {true, 0}}, 0},
        {"failed call, status 2, then success", 4, {{false, 0}, {true, 2}, {true, 1}}, 1},
        {"attempts 0 counts as 1", 0, {{true, 0}}, 0},
    };
    const auto command = BuildNvmeCommand(0xFE, 128, 0, 0xD8).Bytes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        for (const Reply& r : c.replies) {
            // Each attempt starts from a fresh request: the last reply's data is gone.
            auto& step = io.On(IoctlStorageProtocolCommand).Expect(16, Fill(4, 0)).Expect(208, Fill(4096, 0));
            step.ReplyU32(16, r.returnStatus).Reply(208, Pattern(4096, static_cast<std::uint8_t>(r.returnStatus)));
            if (!r.callSucceeds) step.Fail(ErrorIoDevice);
        }
        Bytes buffer(512, 0xEE);
        EXPECT_EQ(SendStorageProtocolCommand(io.Device(), command.data(), 64, buffer.data(), 512, DirectionRead, 0, 30,
                                             c.attempts),
                  c.result);
        EXPECT_EQ(ToHex(buffer), ToHex(c.result ? Pattern(512, 1) : Fill(512, 0xEE)));
    }
}

TEST(SendStorageProtocolCommand, QueueSelectsAdminOrNvmCommand) {
    const auto command = BuildNvmeCommand(0x02, 0, 0, 0).Bytes();
    for (std::uint32_t queue : {0u, 1u, 7u}) {
        ScriptedDeviceIo io;
        io.On(IoctlStorageProtocolCommand).ExpectU32(56, queue == 0 ? 1 : 2).ExpectU32(40, 77).ReplyU32(16, 1);
        EXPECT_EQ(SendStorageProtocolCommand(io.Device(), command.data(), 64, nullptr, 0, DirectionNone, queue, 77, 1),
                  1);
    }
}

// ---- argument checks of the inbox and miniport senders ----

TEST(NvmeSenders, RefuseUnusableArgumentsWithoutACall) {
    ScriptedDeviceIo io;
    const auto command = BuildNvmeCommand(0xFE, 128, 0, 0xD8).Bytes();
    std::array<std::uint8_t, 80> longCommand{};
    Bytes buffer(512);
    struct Case {
        std::string name;
        platform::Device device;
        const std::uint8_t* command;
        std::uint8_t commandLength;
        std::uint8_t* buffer;
    } cases[] = {
        {"null handle", {&io, nullptr}, command.data(), 64, buffer.data()},
        {"invalid handle", {&io, platform::InvalidHandle()}, command.data(), 64, buffer.data()},
        {"no device seam", {nullptr, ScriptedDeviceIo::DriveHandle()}, command.data(), 64, buffer.data()},
        {"null command", io.Device(), nullptr, 64, buffer.data()},
        {"command longer than the entry", io.Device(), longCommand.data(), 65, buffer.data()},
        {"null buffer with a length", io.Device(), command.data(), 64, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SendStorageProtocolCommand(c.device, c.command, c.commandLength, c.buffer, 512, DirectionRead, 0, 30,
                                             4),
                  0);
        EXPECT_EQ(SendMiniportNvmeCommand(c.device, c.command, c.commandLength, c.buffer, 512, DirectionRead, 0, 30, 4,
                                          nullptr),
                  0);
    }
    EXPECT_EQ(SendMiniportNvmeCommand(io.Device(), command.data(), 64, buffer.data(), 512, 3, 0, 30, 4, nullptr), 0);
    EXPECT_TRUE(io.Calls().empty());
}

// ---- protocol-specific property ----

TEST(QueryProtocolSpecificProperty, BuildsTheQuery) {
    ScriptedDeviceIo io;
    io.On(IoctlStorageQueryProperty)
        .InSize(112)
        .OutSize(112)
        .Expect(0, Hex("31 00 00 00  00 00 00 00  03 00 00 00  01 00 00 00  02 00 00 00  07 00 00 00"
                       " 28 00 00 00  40 00 00 00"))
        .Expect(32, Fill(80, 0))
        .Fail(ErrorInvalidFunction);
    Bytes out(64);
    EXPECT_EQ(QueryProtocolSpecificProperty(io.Device(), out.data(), 64, 1, 49, 2, 7), 0);
    EXPECT_EQ(io.LastError(), ErrorInvalidFunction);
}

TEST(QueryProtocolSpecificProperty, TrustsOnlyAWellFormedReplyWithinItsBuffer) {
    constexpr std::uint32_t Requested = 64;
    constexpr std::size_t ReplySize = Requested + 48;
    constexpr std::uint32_t Untouched = 0xC0DE;  // the last error before the call
    struct Case {
        std::string name;
        std::uint32_t version, size, dataOffset, dataLength;
        int result;
        std::size_t copyFrom, copyCount;  // in the reply
    } cases[] = {
        {"well formed", 48, 48, 40, 64, 1, 48, 64},
        {"longer data than requested delivers the requested length", 48, 48, 40, 4000, 1, 48, 64},
        // Less data than asked for: the rest of the caller's area would pass for an answer.
        {"no data", 48, 48, 40, 0, 0, 0, 0},
        {"shorter data", 48, 48, 40, 16, 0, 0, 0},
        {"a byte short", 48, 48, 40, Requested - 1, 0, 0, 0},
        // Data that begins inside the descriptor is the descriptor's own fields.
        {"data offset 8, inside the descriptor", 48, 48, 8, 64, 0, 0, 0},
        {"data offset 0", 48, 48, 0, 64, 0, 0, 0},
        {"data offset a byte inside the descriptor", 48, 48, 39, 64, 0, 0, 0},
        {"Size not 48", 48, 47, 40, 64, 0, 0, 0},
        {"Version not 48", 1, 48, 40, 64, 0, 0, 0},
        {"data running past the buffer", 48, 48, 48, 64, 0, 0, 0},
        {"offset far outside the buffer", 48, 48, 0x7FFFFFF0, 8, 0, 0, 0},
        {"offset that wraps around", 48, 48, 0xFFFFFFFC, 8, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        io.SetLastError(Untouched);
        Bytes reply = Pattern(ReplySize, 3);
        for (auto [at, value] : {std::pair{0, c.version}, {4, c.size}, {24, c.dataOffset}, {28, c.dataLength}}) {
            const Bytes le = Le32(value);
            std::copy(le.begin(), le.end(), reply.begin() + at);
        }
        io.On(IoctlStorageQueryProperty).Reply(0, reply);
        Bytes out(Requested, 0xEE);
        EXPECT_EQ(QueryProtocolSpecificProperty(io.Device(), out.data(), Requested, 1, 49, 1, 0), c.result);
        Bytes expected(Requested, 0xEE);
        for (std::size_t i = 0; i < c.copyCount; ++i) expected[i] = reply[c.copyFrom + i];
        EXPECT_EQ(ToHex(out), ToHex(expected));
        // A reply that is not taken is a short one, whatever the call left.
        EXPECT_EQ(io.LastError(), c.result ? Untouched : ErrorShortReply);
    }
}

TEST(QueryProtocolSpecificProperty, LeavesTheHandleToThePlatform) {
    ScriptedDeviceIo io;
    io.ExpectHandle(platform::InvalidHandle());
    io.On(IoctlStorageQueryProperty).Fail(6);
    Bytes out(64);
    EXPECT_EQ(QueryProtocolSpecificProperty({&io, platform::InvalidHandle()}, out.data(), 64, 1, 49, 1, 0), 0);
    EXPECT_EQ(io.LastError(), 6u);
}

// ---- "NvmeMini" miniport ----

TEST(SendMiniportNvmeCommand, ReadRequestAndReplyLayout) {
    ScriptedDeviceIo io;
    const Bytes data = Pattern(4096, 2);
    io.On(IoctlScsiMiniport)
        .InSize(153)
        .OutSize(4248)
        .Expect(0, Hex("1C 00 00 00  4E 76 6D 65 4D 69 6E 69  1E 00 00 00  00 20 00 E0  00 00 00 00  7D 00 00 00"))
        .Expect(28, Fill(24, 0))
        .Expect(52, Hex("FE 00 00 00"))
        .ExpectU32(92, 1024)
        .ExpectU32(112, 0xD8)
        .Expect(116, Fill(16, 0))
        .Expect(132, Hex("02 00 00 00  00 00 00 00  00 10 00 00  00 00 00 00  98 10 00 00  00"))
        .Reply(152, data);
    Bytes buffer(4096, 0);
    EXPECT_EQ(SendDeviceCommand(io.Device(), 3, 0xFC, 0xD8, 0, buffer.data(), 8, DirectionRead, 0xD0, 0xE0, 10, 4), 1);
    EXPECT_EQ(ToHex(buffer), ToHex(data));
}

TEST(SendMiniportNvmeCommand, SizesFollowTheDirection) {
    struct Case {
        std::string name;
        std::uint8_t direction;
        std::uint32_t length;
        std::uint32_t requestSize, replySize, sentDirection;
    } cases[] = {
        {"write carries the data", DirectionWrite, 512, 664, 153, 1},
        {"no data", DirectionNone, 0, 153, 153, 0},
        {"a read of 0 bytes goes as no data", DirectionRead, 0, 153, 153, 0},
        {"a write of 0 bytes goes as no data", DirectionWrite, 0, 153, 153, 0},
    };
    const auto command = BuildNvmeCommand(0xFD, 128, 0, 0xD7).Bytes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        const Bytes data = Pattern(c.length, 4);
        auto& step = io.On(IoctlScsiMiniport)
                         .InSize(c.requestSize)
                         .OutSize(c.replySize)
                         .ExpectU32(24, c.requestSize - 28)
                         .ExpectU32(132, c.sentDirection)
                         .ExpectU32(140, c.length)
                         .ExpectU32(148, c.replySize);
        if (!data.empty()) step.Expect(152, data);
        Bytes buffer = data;
        EXPECT_EQ(SendMiniportNvmeCommand(io.Device(), command.data(), 64, buffer.empty() ? nullptr : buffer.data(),
                                          c.length, c.direction, 0, 30, 4, nullptr),
                  1);
    }
}

TEST(SendMiniportNvmeCommand, ReturnCodeOneOnEveryAttemptFailsAfterFour) {
    ScriptedDeviceIo io;
    for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).Expect(116, Fill(16, 0)).ReplyU32(20, 1);
    Bytes buffer(512, 0xEE);
    EXPECT_EQ(SendDeviceCommand(io.Device(), 3, 0xFC, 0xD8, 0, buffer.data(), 1, DirectionRead, 0xD0, 0xE0, 10, 4), 0);
    EXPECT_EQ(io.Calls().size(), 4u);
    EXPECT_EQ(ToHex(buffer), ToHex(Fill(512, 0xEE)));
}

TEST(SendMiniportNvmeCommand, AttemptsZeroCountsAsOne) {
    const auto command = BuildNvmeCommand(0xFE, 128, 0, 0xD8).Bytes();
    ScriptedDeviceIo io;
    io.On(IoctlScsiMiniport).ReplyU32(20, 1);
    Bytes buffer(512, 0xEE);
    EXPECT_EQ(SendMiniportNvmeCommand(io.Device(), command.data(), 64, buffer.data(), 512, DirectionRead, 0, 30, 0,
                                      nullptr),
              0);
    EXPECT_EQ(io.Calls().size(), 1u);
}

TEST(SendMiniportNvmeCommand, EachAttemptStartsFromZeroedBuffers) {
    const auto command = BuildNvmeCommand(0xFE, 128, 0, 0xD8).Bytes();
    ScriptedDeviceIo io;
    io.On(IoctlScsiMiniport).ReplyU32(20, 1).Reply(116, Pattern(16, 3)).Reply(152, Pattern(512, 4));
    // The second reply names nothing but success: whatever the first left must be gone.
    io.On(IoctlScsiMiniport);
    Bytes buffer(512, 0xEE);
    Bytes completion(16, 0xEE);
    EXPECT_EQ(SendMiniportNvmeCommand(io.Device(), command.data(), 64, buffer.data(), 512, DirectionRead, 0, 30, 2,
                                      completion.data()),
              1);
    EXPECT_EQ(ToHex(buffer), ToHex(Fill(512, 0)));
    EXPECT_EQ(ToHex(completion), ToHex(Fill(16, 0)));
    ASSERT_EQ(io.Calls().size(), 2u);
    EXPECT_EQ(io.Calls()[1].request, io.Calls()[0].request);
}

TEST(SendMiniportNvmeCommand, CompletionStatusFieldMustBeClear) {
    const auto command = BuildNvmeCommand(0xFE, 128, 0, 0xD8).Bytes();
    for (const CompletionCase& c : CompletionCases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        const Bytes completion = Hex("11 22 33 44  00 00 00 00  05 00 01 00");
        Bytes entry = completion;
        const Bytes dword3 = Le32(c.dword3);
        entry.insert(entry.end(), dword3.begin(), dword3.end());
        io.On(IoctlScsiMiniport).Reply(116, entry).Reply(152, Pattern(512));
        Bytes buffer(512, 0xEE);
        Bytes completionOut(16, 0xEE);
        EXPECT_EQ(SendMiniportNvmeCommand(io.Device(), command.data(), 64, buffer.data(), 512, DirectionRead, 0, 30, 1,
                                          completionOut.data()),
                  c.succeeds ? 1 : 0);
        EXPECT_EQ(ToHex(buffer), ToHex(c.succeeds ? Pattern(512) : Fill(512, 0xEE)));
        EXPECT_EQ(ToHex(completionOut), ToHex(c.succeeds ? entry : Fill(16, 0xEE)));
    }
}

// ---- USB-to-NVMe bridge ----

TEST(SendBridgeNvmeCommand, VendorReadMakesThreeRequests) {
    ScriptedDeviceIo io;
    Bytes block(512, 0);
    for (auto [at, value] : {std::pair{0, 0x4E}, {1, 0x56}, {2, 0x4D}, {3, 0x45}, {8, 0xFE}, {48, 0x80}, {68, 0xD8}}) {
        block[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
    }
    const Bytes data = Pattern(512, 6);
    io.On(IoctlScsiPassThrough)
        .OutSize(Here.scsiData + 512)
        .Expect(6, Hex("0C 18 00"))
        .ExpectU32(12, 512)
        .ExpectU32(16, 30)
        .Expect(ScsiCdbAt, Hex("A1 80 00 00 02 00 00 00 00 00 00 00 00 00 00 00"))
        .Expect(ScsiDataAt, block);
    io.On(IoctlScsiPassThrough)
        .OutSize(Here.scsiData + 512)
        .Expect(8, Hex("01"))
        .ExpectU32(12, 512)
        .Expect(ScsiCdbAt, Hex("A1 82 00 00 02 00 00 00 00 00 00 00"))
        .Reply(ScsiDataAt, data);
    io.On(IoctlScsiPassThrough)
        .OutSize(Here.scsiData + 512)
        .Expect(8, Hex("01"))
        .ExpectU32(12, 512)
        .Expect(ScsiCdbAt, Hex("A1 8F 00 00 02 00 00 00 00 00 00 00"))
        .Reply(ScsiDataAt, Hex("4E 56 4D 45"));
    Bytes buffer(512, 0);
    EXPECT_EQ(SendDeviceCommand(io.Device(), 4, 0xFC, 0xD8, 0, buffer.data(), 1, DirectionRead, 0xD0, 0xE0, 10, 4), 1);
    EXPECT_EQ(ToHex(buffer), ToHex(data));
}

TEST(SendBridgeNvmeCommand, JudgesTheResponseBlock) {
    const auto block = BuildBridgeBlock(BuildNvmeCommand(0x06, 1, 0, 0));
    struct Case {
        CompletionCase completion;
        bool signature;
    };
    std::vector<Case> cases;
    for (const CompletionCase& c : CompletionCases) cases.push_back({c, true});
    cases.push_back({{"signature missing", 0, false}, false});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.completion.name);
        ScriptedDeviceIo io;
        io.On(IoctlScsiPassThrough);
        io.On(IoctlScsiPassThrough);
        io.On(IoctlScsiPassThrough)
            .Reply(ScsiDataAt, c.signature ? Hex("4E 56 4D 45") : Hex("00 00 00 00"))
            .ReplyU32(ScsiDataAt + 8, 0xCAFE0001)
            .ReplyU32(ScsiDataAt + 20, c.completion.dword3);
        Bytes buffer(4096);
        std::uint32_t result = 0;
        EXPECT_EQ(SendBridgeNvmeCommand(io.Device(), block.data(), buffer.data(), 4096, DirectionRead, 1, 30, 1, &result),
                  c.completion.succeeds ? 1 : 0);
        EXPECT_EQ(result, 0xCAFE0001u);  // handed back whatever the verdict
    }
}

TEST(SendBridgeNvmeCommand, DataPhaseFollowsTheDirection) {
    struct Case {
        std::string name;
        std::uint8_t direction;
        const char* cdb;  // of the data phase; null: no data phase
        std::uint8_t dataIn;
        std::uint32_t transfer;
    } cases[] = {
        {"write", DirectionWrite, "A1 83 00 00 02 00", 0, 512},
        {"read", DirectionRead, "A1 82 00 00 02 00", 1, 512},
        {"no data: a 0-byte data in", DirectionNone, "A1 81 00 00 02 00", 1, 0},
        {"unknown direction: no data phase", 7, nullptr, 0, 0},
    };
    const auto block = BuildBridgeBlock(BuildNvmeCommand(0xFD, 128, 0, 0xD7));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        Bytes buffer = Pattern(512, 8);
        io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 80"));
        if (c.cdb != nullptr) {
            auto& step = io.On(IoctlScsiPassThrough)
                             .OutSize(Here.scsiData + c.transfer)
                             .Expect(8, Bytes{c.dataIn})
                             .ExpectU32(12, c.transfer)
                             .Expect(ScsiCdbAt, Hex(c.cdb));
            if (c.direction == DirectionWrite) step.Expect(ScsiDataAt, buffer);
        }
        io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 8F")).Reply(ScsiDataAt, Hex("4E 56 4D 45"));
        EXPECT_EQ(SendBridgeNvmeCommand(io.Device(), block.data(), buffer.data(), 512, c.direction, 1, 30, 1, nullptr),
                  1);
    }
}

// The CDB carries the length in 24 bits, most significant byte first; a data phase
// above 64 KiB goes through the direct request into the caller's buffer.
TEST(SendBridgeNvmeCommand, ALargeDataPhaseCarriesAllThreeLengthBytes) {
    constexpr std::uint32_t Length = 0x11170;  // 70000
    const auto block = BuildBridgeBlock(BuildNvmeCommand(0xFE, Length / 4, 0, 0xA1));
    const Bytes data = Pattern(Length, 5);
    ScriptedDeviceIo io;
    io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 80 00 00 02 00"));
    io.On(IoctlScsiPassThroughDirect)
        .Expect(8, Hex("01"))
        .ExpectU32(12, Length)
        .Expect(ScsiCdbAt, Hex("A1 82 00 01 11 70 00 00 00 00 00 00"))
        .ReplyToDataBuffer(data);
    io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 8F 00 00 02 00")).Reply(ScsiDataAt, Hex("4E 56 4D 45"));
    Bytes buffer(Length, 0);
    EXPECT_EQ(SendBridgeNvmeCommand(io.Device(), block.data(), buffer.data(), Length, DirectionRead, 1, 30, 1, nullptr),
              1);
    EXPECT_EQ(buffer, data);
}

TEST(SendBridgeNvmeCommand, StopsAtTheFirstFailedPhase) {
    const auto block = BuildBridgeBlock(BuildNvmeCommand(0xFE, 128, 0, 0xD8));
    for (std::size_t failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE(testing::Message() << "phase " << failing << " fails");
        ScriptedDeviceIo io;
        for (std::size_t phase = 0; phase < failing; ++phase) io.On(IoctlScsiPassThrough);
        for (int attempt = 0; attempt < 2; ++attempt) io.On(IoctlScsiPassThrough).Fail(ErrorIoDevice);
        Bytes buffer(512, 0xEE);
        std::uint32_t result = 0x12345678;
        EXPECT_EQ(SendBridgeNvmeCommand(io.Device(), block.data(), buffer.data(), 512, DirectionRead, 1, 30, 2, &result),
                  0);
        EXPECT_EQ(result, 0x12345678u);
        EXPECT_EQ(io.LastError(), ErrorIoDevice);
    }
}

TEST(SendBridgeNvmeCommand, RefusesWhatItCannotDescribe) {
    ScriptedDeviceIo io;
    const auto block = BuildBridgeBlock(BuildNvmeCommand(0xFE, 128, 0, 0xD8));
    Bytes buffer(16);
    EXPECT_EQ(SendBridgeNvmeCommand(io.Device(), nullptr, buffer.data(), 16, DirectionRead, 1, 30, 4, nullptr), 0);
    // The CDB's transfer length has 24 bits.
    EXPECT_EQ(SendBridgeNvmeCommand(io.Device(), block.data(), buffer.data(), 0x1000000, DirectionRead, 1, 30, 4,
                                    nullptr),
              0);
    EXPECT_EQ(SendBridgeNvmeCommand({&io, platform::InvalidHandle()}, block.data(), buffer.data(), 16, DirectionRead, 1,
                                    30, 4, nullptr),
              0);
    // No room for the data: not even the command block goes out.
    for (std::uint8_t direction : {DirectionRead, DirectionWrite}) {
        EXPECT_EQ(SendBridgeNvmeCommand(io.Device(), block.data(), nullptr, 512, direction, 1, 30, 4, nullptr), 0);
    }
    EXPECT_TRUE(io.Calls().empty());
}

}  // namespace
}  // namespace devicecmd_test
