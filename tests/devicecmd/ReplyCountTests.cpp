// Replies count only as far as the driver returned them: each reply cut at every field
// boundary, empty, whole, and claiming more than its buffer, on every transport.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Exchanges.h"
#include "ScriptedDeviceIo.h"
#include "devicecmd/Detect.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/Requests.h"
#include "devicecmd/ScsiAta.h"

namespace devicecmd_test {
namespace {

using namespace devicecmd;

constexpr ReplyVerdict Ok = ReplyVerdict::Succeeded;
constexpr ReplyVerdict Short = ReplyVerdict::Short;
constexpr ReplyVerdict Refused = ReplyVerdict::Failed;
constexpr std::uint32_t InvalidData = 13;

struct Cut {
    const char* where;
    std::uint32_t returned;
    ReplyVerdict verdict;
};

void ExpectCuts(const std::vector<Cut>& cuts, const std::function<ReplyVerdict(std::uint32_t)>& judge) {
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(testing::Message() << cut.where << " (" << cut.returned << " bytes)");
        EXPECT_EQ(static_cast<int>(judge(cut.returned)), static_cast<int>(cut.verdict));
    }
}

void Put(Bytes& bytes, std::size_t offset, const Bytes& value) {
    std::copy(value.begin(), value.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

Bytes StatePayload(std::uint8_t state) {
    Bytes payload(512, 0);
    Put(payload, 0, Hex("AA 55 AA 55"));
    payload[4] = state;
    return payload;
}

// ---- the pure judges, one table per request ----

TEST(ReplyCount, InboxProtocolCommand) {
    constexpr std::uint32_t size = InboxDataAt + 4096;
    Bytes reply(size, 0);
    Put(reply, 16, Le32(1));  // ReturnStatus: success
    Put(reply, InboxDataAt, StatePayload(2));
    const auto read = [&](std::uint32_t returned) {
        return JudgeProtocolCommandReply(reply.data(), returned, size, DirectionRead, 512);
    };
    ExpectCuts({{"empty", 0, Short},
                {"before ReturnStatus", 16, Short},
                {"through ReturnStatus", 20, Short},
                {"head less a byte", 79, Short},
                {"head only", 80, Short},
                {"through the command", 144, Short},
                {"through the error entry", InboxDataAt, Short},
                {"signature only", InboxDataAt + 4, Short},
                {"data less a byte", InboxDataAt + 511, Short},
                {"head and the data asked for", InboxDataAt + 512, Ok},
                {"whole buffer", size, Ok},
                {"more than the buffer", size + 1, Short}},
               read);
    const auto write = [&](std::uint32_t returned) {
        return JudgeProtocolCommandReply(reply.data(), returned, size, DirectionWrite, 512);
    };
    ExpectCuts({{"empty", 0, Short},
                {"through ReturnStatus", 20, Short},
                {"head less a byte", 79, Short},
                {"head", 80, Ok},
                {"whole buffer", size, Ok},
                {"more than the buffer", size + 1, Short}},
               write);
    Put(reply, 16, Le32(2));  // ReturnStatus: error
    ExpectCuts({{"whole, refused", size, Refused}, {"cut, refused", 79, Short}}, read);
}

TEST(ReplyCount, MiniportRequest) {
    constexpr std::uint32_t readSize = MiniportDataAt + 512;
    Bytes reply(readSize, 0);
    Put(reply, MiniportCompletionOffset + 12, Le32(0x00010000));  // phase tag only
    Put(reply, MiniportDataAt, StatePayload(2));
    const auto read = [&](std::uint32_t returned) {
        return JudgeMiniportReply(reply.data(), returned, readSize, DirectionRead, 512);
    };
    ExpectCuts({{"empty", 0, Short},
                {"before ReturnCode", 20, Short},
                {"through ReturnCode", 24, Short},
                {"before the completion", 116, Short},
                {"completion less a byte", 131, Short},
                {"through the completion", 132, Short},
                {"no data", MiniportDataAt, Short},
                {"signature only", MiniportDataAt + 4, Short},
                {"data less a byte", readSize - 1, Short},
                {"whole", readSize, Ok},
                {"more than the buffer", readSize + 1, Short}},
               read);
    constexpr std::uint32_t writeSize = MiniportDataAt + 1;
    const auto write = [&](std::uint32_t returned) {
        return JudgeMiniportReply(reply.data(), returned, writeSize, DirectionWrite, 512);
    };
    ExpectCuts({{"empty", 0, Short},
                {"through ReturnCode", 24, Short},
                {"completion less a byte", 131, Short},
                {"through the completion", 132, Ok},
                {"whole", writeSize, Ok},
                {"more than the buffer", writeSize + 1, Short}},
               write);
    Put(reply, 20, Le32(1));  // ReturnCode: internal error
    ExpectCuts({{"whole, refused", writeSize, Refused}}, write);
    Put(reply, 20, Le32(0));
    Put(reply, MiniportCompletionOffset + 12, Le32(0x00050000));  // status: invalid field
    ExpectCuts({{"whole, completion refused", writeSize, Refused}, {"completion cut", 131, Short}}, write);
}

TEST(ReplyCount, PropertyQuery) {
    constexpr std::uint32_t size = 48 + 4096;
    Bytes reply(size, 0);
    Put(reply, 0, Le32(48));
    Put(reply, 4, Le32(48));
    Put(reply, 24, Le32(40));
    Put(reply, 28, Le32(4096));
    struct Case {
        const char* where;
        std::uint32_t returned;
        bool taken;
    } cases[] = {
        {"empty", 0, false},
        {"Version only", 4, false},
        {"Version and Size", 8, false},
        {"descriptor less a byte", 47, false},
        {"descriptor only", 48, false},
        {"data less a byte", size - 1, false},
        {"whole", size, true},
        {"more than the buffer", size + 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        const auto range = PropertyReplyData(reply.data(), c.returned, reply.size(), 4096);
        ASSERT_EQ(range.has_value(), c.taken);
        if (range) {
            EXPECT_EQ(range->offset, 48u);
            EXPECT_EQ(range->size, 4096u);
        }
    }
}

// A whole reply whose descriptor names its own data: taken only when the data begins
// past the descriptor and is as long as the identify asked for.
TEST(ReplyCount, PropertyQueryDataFields) {
    constexpr std::uint32_t size = 48 + 4096;
    struct Case {
        const char* what;
        std::uint32_t dataOffset, dataLength;
        bool taken;
    } cases[] = {
        {"identify data as asked", 40, 4096, true},
        {"more data named than asked", 40, 8192, true},
        {"no data", 40, 0, false},
        {"64 bytes of data", 40, 64, false},
        {"a byte short", 40, 4095, false},
        {"offset 8: inside the descriptor", 8, 4096, false},
        {"offset 8 and 64 bytes", 8, 64, false},
        {"offset 0", 0, 4096, false},
        {"offset 39", 39, 4096, false},
        {"offset 41: past the buffer's end", 41, 4096, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes reply(size, 0);
        Put(reply, 0, Le32(48));
        Put(reply, 4, Le32(48));
        Put(reply, 24, Le32(c.dataOffset));
        Put(reply, 28, Le32(c.dataLength));
        const auto range = PropertyReplyData(reply.data(), size, reply.size(), 4096);
        ASSERT_EQ(range.has_value(), c.taken);
        if (range) {
            EXPECT_EQ(range->offset, 48u);
            EXPECT_EQ(range->size, 4096u);
        }
    }
}

TEST(ReplyCount, BufferedScsi) {
    const std::uint32_t size = Here.scsiData + 512;
    Bytes reply(size, 0);
    Put(reply, 0, Le16(static_cast<std::uint16_t>(Here.sptLength)));
    Put(reply, 12, Le32(512));  // DataTransferLength: all of it moved
    const auto dataIn = [&](std::uint32_t returned) {
        return JudgeScsiReply(reply.data(), returned, size, true, 512, ProcessWidth);
    };
    ExpectCuts({{"empty", 0, Short},
                {"before DataTransferLength", 12, Short},
                {"header less a byte", Here.sptLength - 1, Short},
                {"header", Here.sptLength, Short},
                {"through the sense area", Here.scsiData, Short},
                {"signature only", Here.scsiData + 4, Short},
                {"data less a byte", size - 1, Short},
                {"whole", size, Ok},
                {"more than the buffer", size + 1, Short}},
               dataIn);
    const auto dataOut = [&](std::uint32_t returned) {
        return JudgeScsiReply(reply.data(), returned, size, false, 512, ProcessWidth);
    };
    // A driver that found no sense returns the header alone.
    ExpectCuts({{"empty", 0, Short},
                {"header less a byte", Here.sptLength - 1, Short},
                {"header", Here.sptLength, Ok},
                {"whole", size, Ok},
                {"more than the buffer", size + 1, Short}},
               dataOut);
    // Sense bytes count only as far as the reply reaches them.
    reply[Here.scsiSense + 2] = 0x05;
    ExpectCuts({{"count stops before the sense key", Here.scsiSense + 2, Ok},
                {"count covers the sense key", Here.scsiSense + 3, Refused},
                {"whole", size, Refused}},
               dataOut);
    // A data-in request for no data (a bridge's no-data phase) lacks nothing after the header.
    const auto noData = [&](std::uint32_t returned) {
        return JudgeScsiReply(reply.data(), returned, size, true, 0, ProcessWidth);
    };
    ExpectCuts({{"header less a byte", Here.sptLength - 1, Short},
                {"header", Here.sptLength, Ok},
                {"count covers the sense key", Here.scsiSense + 3, Refused}},
               noData);
    reply[Here.scsiSense + 2] = 0;
    // The transfer length the driver reports says how much moved.
    Put(reply, 12, Le32(4));
    ExpectCuts({{"4 of 512 bytes moved", size, Short}}, dataIn);
    ExpectCuts({{"4 of 512 bytes moved", size, Short}}, dataOut);
}

TEST(ReplyCount, DirectScsi) {
    const std::uint32_t size = Here.scsiDirectSize;
    Bytes reply(size, 0);
    Put(reply, 12, Le32(65600));
    const auto judge = [&](std::uint32_t returned) {
        return JudgeScsiReply(reply.data(), returned, size, false, 65600, ProcessWidth);
    };
    ExpectCuts({{"empty", 0, Short},
                {"header less a byte", Here.sptLength - 1, Short},
                {"header", Here.sptLength, Ok},
                {"whole", size, Ok},
                {"more than the buffer", size + 1, Short}},
               judge);
    Put(reply, 12, Le32(65599));
    ExpectCuts({{"a byte less moved", size, Short}}, judge);
}

TEST(ReplyCount, AtaPassThrough) {
    const std::uint32_t size = Here.ataLength;
    Bytes reply(size, 0);
    Put(reply, 8, Le32(512));
    reply[AtaStatusAt] = 0x50;
    const auto judge = [&](std::uint32_t returned) { return JudgeAtaReply(reply.data(), returned, size, 512); };
    ExpectCuts({{"empty", 0, Short},
                {"before DataTransferLength", 8, Short},
                {"before the task files", Here.ataPreviousTaskFile, Short},
                {"before the current task file", Here.ataCurrentTaskFile, Short},
                {"before the status", static_cast<std::uint32_t>(AtaStatusAt), Short},
                {"task file less a byte", size - 1, Short},
                {"whole", size, Ok},
                {"more than the buffer", size + 1, Short}},
               judge);
    Put(reply, 8, Le32(0));
    ExpectCuts({{"nothing moved", size, Short}}, judge);
    Put(reply, 8, Le32(512));
    reply[AtaStatusAt] = 0x51;
    ExpectCuts({{"status with the error bit", size, Refused}}, judge);
}

// ---- the senders: a short reply fails and leaves ERROR_INVALID_DATA ----

TEST(ShortReplies, AVendorWriteAnsweredWithNothingFails) {
    {
        SCOPED_TRACE("miniport: TRUE with 0 bytes on every attempt");
        ScriptedDeviceIo io;
        for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).Expect(52, Hex("FD")).Returned(0);
        CPrivateCMD7305 commands;
        EXPECT_EQ(commands.SetOptimize(io.Device(), MakeTransport(TransportNvmeMiniport, 5), 0), 0);
        EXPECT_EQ(io.LastError(), InvalidData);
    }
    {
        SCOPED_TRACE("bridge: the response block cut to 97 bytes");
        ScriptedDeviceIo io;
        io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 80"));
        io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 83"));
        for (int i = 0; i < 4; ++i) {
            io.On(IoctlScsiPassThrough)
                .Expect(ScsiCdbAt, Hex("A1 8F"))
                .ReplyU32(12, 97)
                .Reply(ScsiDataAt, Hex("4E 56 4D 45"))
                .Returned(Here.scsiData + 97);
        }
        CPrivateCMD7305 commands;
        EXPECT_EQ(commands.SetOptimize(io.Device(), MakeTransport(TransportUsbBridge, 5), 0), 0);
        EXPECT_EQ(io.LastError(), InvalidData);
    }
    {
        SCOPED_TRACE("inbox: the head cut before ReturnStatus");
        ScriptedDeviceIo io;
        for (int i = 0; i < 4; ++i) io.On(IoctlStorageProtocolCommand).ReplyU32(16, 1).Returned(16);
        CPrivateCMD7305 commands;
        EXPECT_EQ(commands.SetOptimize(io.Device(), MakeTransport(TransportNvmeInbox, 5), 0), 0);
        EXPECT_EQ(io.LastError(), InvalidData);
    }
}

TEST(ShortReplies, AStateReplyCutAfterTheSignatureIsNoState) {
    for (std::uint8_t code : {TransportNvmeInbox, TransportNvmeMiniport, TransportUsbBridge}) {
        SCOPED_TRACE(testing::Message() << "transport " << int{code});
        ScriptedDeviceIo io;
        const Bytes payload = StatePayload(2);
        switch (code) {
            case TransportNvmeInbox:
                for (int i = 0; i < 4; ++i)
                    io.On(IoctlStorageProtocolCommand).ReplyU32(16, 1).Reply(InboxDataAt, payload).Returned(InboxDataAt + 4);
                break;
            case TransportNvmeMiniport:
                for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).Reply(MiniportDataAt, payload).Returned(MiniportDataAt + 4);
                break;
            default:
                io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 80"));
                for (int i = 0; i < 4; ++i) {
                    io.On(IoctlScsiPassThrough)
                        .Expect(ScsiCdbAt, Hex("A1 82"))
                        .ReplyU32(12, 4)
                        .Reply(ScsiDataAt, payload)
                        .Returned(Here.scsiData + 4);
                }
                break;
        }
        std::uint8_t state = 0x77;
        EXPECT_EQ(QueryOptimizeState(io.Device(), MakeTransport(code, 5), &state), 0);
        EXPECT_EQ(state, 0x77);
        EXPECT_EQ(io.LastError(), InvalidData);
    }
}

TEST(ShortReplies, EveryOtherRequestCutShortFails) {
    struct Case {
        const char* what;
        std::function<void(ScriptedDeviceIo&)> script;
        std::function<int(platform::Device, std::uint8_t*)> run;
    };
    const Case cases[] = {
        {"ATA identify answered with 0 bytes",
         [](ScriptedDeviceIo& io) { io.On(IoctlAtaPassThroughDirect).Reply(AtaStatusAt, AtaStatusReady).Returned(0); },
         [](platform::Device d, std::uint8_t* b) { return IdentifyDevice(d, MakeTransport(TransportAta), b, 1, 0); }},
        {"ATA identify that moved no data",
         [](ScriptedDeviceIo& io) {
             io.On(IoctlAtaPassThroughDirect).Reply(AtaStatusAt, AtaStatusReady).ReplyU32(8, 0);
         },
         [](platform::Device d, std::uint8_t* b) { return IdentifyDevice(d, MakeTransport(TransportAta), b, 1, 0); }},
        {"ATA reply claiming more than its buffer",
         [](ScriptedDeviceIo& io) {
             io.On(IoctlAtaPassThroughDirect).Reply(AtaStatusAt, AtaStatusReady).Returned(Here.ataLength + 1);
         },
         [](platform::Device d, std::uint8_t* b) { return IdentifyDevice(d, MakeTransport(TransportAta), b, 1, 0); }},
        {"property reply of Version and Size only",
         [](ScriptedDeviceIo& io) {
             io.On(IoctlStorageQueryProperty).ReplyU32(0, 48).ReplyU32(4, 48).ReplyU32(24, 40).ReplyU32(28, 4096).Returned(8);
         },
         [](platform::Device d, std::uint8_t* b) { return IdentifyDevice(d, MakeTransport(TransportNvmeInbox), b, 1, 0); }},
        // Whole replies whose descriptor names less data than the identify asked for, or
        // data inside the descriptor.
        {"property reply naming no data",
         [](ScriptedDeviceIo& io) {
             io.On(IoctlStorageQueryProperty).ReplyU32(0, 48).ReplyU32(4, 48).ReplyU32(24, 40).ReplyU32(28, 0)
                 .Reply(48, Fill(64, 0x41));
         },
         [](platform::Device d, std::uint8_t* b) { return IdentifyDevice(d, MakeTransport(TransportNvmeInbox), b, 1, 0); }},
        {"property reply naming 64 bytes",
         [](ScriptedDeviceIo& io) {
             io.On(IoctlStorageQueryProperty).ReplyU32(0, 48).ReplyU32(4, 48).ReplyU32(24, 40).ReplyU32(28, 64)
                 .Reply(48, Fill(64, 0x41));
         },
         [](platform::Device d, std::uint8_t* b) { return IdentifyDevice(d, MakeTransport(TransportNvmeInbox), b, 1, 0); }},
        {"property reply with its data at offset 8",
         [](ScriptedDeviceIo& io) {
             io.On(IoctlStorageQueryProperty).ReplyU32(0, 48).ReplyU32(4, 48).ReplyU32(24, 8).ReplyU32(28, 4096);
         },
         [](platform::Device d, std::uint8_t* b) { return IdentifyDevice(d, MakeTransport(TransportNvmeInbox), b, 1, 0); }},
        {"SAT identify whose data-in stops short",
         [](ScriptedDeviceIo& io) {
             for (int i = 0; i < 4; ++i)
                 io.On(IoctlScsiPassThrough).Reply(ScsiDataAt, Fill(512, 0x41)).Returned(Here.scsiData + 511);
         },
         [](platform::Device d, std::uint8_t* b) { return IdentifyDevice(d, MakeTransport(TransportSat), b, 1, 0); }},
        {"bridge command phase answered with 0 bytes",
         [](ScriptedDeviceIo& io) {
             io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 80")).Returned(0);
         },
         [](platform::Device d, std::uint8_t* b) {
             return IdentifyDevice(d, MakeTransport(TransportUsbBridge), b, 1, 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedDeviceIo io;
        c.script(io);
        Bytes buffer(4096, 0xEE);
        EXPECT_EQ(c.run(io.Device(), buffer.data()), 0);
        EXPECT_EQ(io.LastError(), InvalidData);
        EXPECT_EQ(ToHex(buffer), ToHex(Fill(4096, 0xEE))) << "nothing handed to the caller";
    }
}

TEST(ShortReplies, AFailedCallKeepsTheSystemsError) {
    constexpr std::uint32_t GenFailure = 31;
    ScriptedDeviceIo io;
    io.On(IoctlScsiMiniport).Returned(0);        // short: 13
    io.On(IoctlScsiMiniport).ReplyU32(20, 1);    // refused: 1117
    for (int i = 0; i < 2; ++i) io.On(IoctlScsiMiniport).Fail(GenFailure);
    CPrivateCMD7305 commands;
    EXPECT_EQ(commands.SetOptimize(io.Device(), MakeTransport(TransportNvmeMiniport, 5), 0), 0);
    EXPECT_EQ(io.LastError(), GenFailure);
}

// A command the drive or driver refuses, in a reply that came back whole, leaves
// ERROR_IO_DEVICE on every path: the code of an earlier, unrelated call (here 0) would
// show the user a failure without a cause.
TEST(Refusals, LeaveErrorIoDeviceOnEveryPath) {
    constexpr std::uint32_t IoDevice = 1117;
    const Bytes checkCondition = Hex("70 00 05 00 00 00 00 0A 00 00 00 00 24 00");  // ILLEGAL REQUEST, INVALID FIELD
    const Bytes aborted = {0x51};                                                  // ERR in the status register
    struct Case {
        const char* what;
        std::function<void(ScriptedDeviceIo&)> script;
        std::function<int(platform::Device, std::uint8_t*)> run;
    };
    const auto vendorRead = [](std::uint8_t code) {
        return [code](platform::Device d, std::uint8_t* b) {
            return SendDeviceCommand(d, MakeTransport(code, 5), 0xFC, 0xD8, 0, b, 1, DirectionRead, 0xD0, 0xE0, 10, 4);
        };
    };
    const Case cases[] = {
        {"inbox: ReturnStatus error on every attempt",
         [](ScriptedDeviceIo& io) { for (int i = 0; i < 4; ++i) io.On(IoctlStorageProtocolCommand).ReplyU32(16, 2); },
         vendorRead(TransportNvmeInbox)},
        {"miniport: ReturnCode 1 on every attempt",
         [](ScriptedDeviceIo& io) { for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).ReplyU32(20, 1); },
         vendorRead(TransportNvmeMiniport)},
        {"miniport: a completion status on every attempt",
         [](ScriptedDeviceIo& io) {
             for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).ReplyU32(116 + 12, 0x00050000);
         },
         vendorRead(TransportNvmeMiniport)},
        {"miniport identify refused by the drive",
         [](ScriptedDeviceIo& io) {
             for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).ReplyU32(116 + 12, 0x00050000);
         },
         [](platform::Device d, std::uint8_t* b) { return IdentifyDevice(d, MakeTransport(TransportNvmeMiniport), b, 1, 0); }},
        {"bridge: status bits in the response block",
         [](ScriptedDeviceIo& io) {
             io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 80"));
             io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 82")).ReplyU32(12, 512);
             io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 8F")).ReplyU32(12, 512)
                 .Reply(ScsiDataAt, Hex("4E 56 4D 45")).ReplyU32(ScsiDataAt + 20, 0x00050000);
         },
         vendorRead(TransportUsbBridge)},
        {"bridge: CHECK CONDITION on the data phase",
         [checkCondition](ScriptedDeviceIo& io) {
             io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 80"));
             for (int i = 0; i < 4; ++i)
                 io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 82")).ReplyU32(12, 512).Reply(ScsiSenseAt, checkCondition);
         },
         vendorRead(TransportUsbBridge)},
        {"SAT: CHECK CONDITION on every attempt",
         [checkCondition](ScriptedDeviceIo& io) {
             for (int i = 0; i < 4; ++i)
                 io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("85")).ReplyU32(12, 512).Reply(ScsiSenseAt, checkCondition);
         },
         vendorRead(TransportSat)},
        {"ATA: the device aborts the command",
         [aborted](ScriptedDeviceIo& io) { io.On(IoctlAtaPassThroughDirect).ReplyU32(8, 512).Reply(AtaStatusAt, aborted); },
         vendorRead(TransportAta)},
        {"direct SCSI: CHECK CONDITION",
         [checkCondition](ScriptedDeviceIo& io) {
             io.On(IoctlScsiPassThroughDirect).ReplyU32(12, 70000).Reply(Here.scsiSense, checkCondition);
         },
         [](platform::Device d, std::uint8_t* b) {
             std::vector<std::uint8_t> big(70000);
             const std::uint8_t cdb[12] = {0x28};
             (void)b;
             return ScsiPassThroughIn(d, cdb, 12, big.data(), 70000, 10, 1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedDeviceIo io;
        c.script(io);
        Bytes buffer(4096, 0xEE);
        EXPECT_EQ(c.run(io.Device(), buffer.data()), 0);
        EXPECT_EQ(io.LastError(), IoDevice);
        EXPECT_EQ(io.Pending(), 0u);
        // The bridge's data phase reads straight into the caller's buffer, before its
        // response says whether the command was done.
        if (std::string(c.what).rfind("bridge: status", 0) != 0) {
            EXPECT_EQ(ToHex(buffer), ToHex(Fill(4096, 0xEE))) << "nothing handed to the caller";
        }
    }
}

// A bridge answer without its signature is no answer at all: invalid data.
TEST(Refusals, ABridgeResponseWithoutItsSignatureIsInvalidData) {
    ScriptedDeviceIo io;
    io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 80"));
    io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 82")).ReplyU32(12, 512);
    io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 8F")).ReplyU32(12, 512);
    Bytes buffer(512);
    EXPECT_EQ(SendDeviceCommand(io.Device(), MakeTransport(TransportUsbBridge, 5), 0xFC, 0xD8, 0, buffer.data(), 1,
                                DirectionRead, 0xD0, 0xE0, 10, 4),
              0);
    EXPECT_EQ(io.LastError(), InvalidData);
}

TEST(ShortReplies, ARetryThatGetsTheWholeReplySucceeds) {
    ScriptedDeviceIo io;
    io.On(IoctlScsiMiniport).Returned(131);
    io.On(IoctlScsiMiniport);
    CPrivateCMD7305 commands;
    EXPECT_EQ(commands.SetOptimize(io.Device(), MakeTransport(TransportNvmeMiniport, 5), 0), 1);
}

}  // namespace
}  // namespace devicecmd_test
