// Identify, the vendor identify record with its enciphered ranges, and controller detection.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Exchanges.h"
#include "ScriptedDeviceIo.h"
#include "devicecmd/Bytes.h"
#include "devicecmd/Detect.h"
#include "devicecmd/Transport.h"

namespace devicecmd_test {
namespace {

using namespace devicecmd;

// The counterpart of the decipherment, only to make enciphered test records.
void TeaEncipherBlocks(std::uint8_t* data, std::size_t length, const std::uint8_t* key) {
    const std::uint32_t k0 = GetU32(key), k1 = GetU32(key + 4), k2 = GetU32(key + 8), k3 = GetU32(key + 12);
    for (std::size_t at = 0; at + 8 <= length; at += 8) {
        std::uint32_t y = GetU32(data + at), z = GetU32(data + at + 4), sum = 0;
        for (int cycle = 0; cycle < 32; ++cycle) {
            sum += 0x9E3779B9;
            y += ((z << 4) + k0) ^ (z + sum) ^ ((z >> 5) + k1);
            z += ((y << 4) + k2) ^ (y + sum) ^ ((y >> 5) + k3);
        }
        PutU32(data + at, y);
        PutU32(data + at + 4, z);
    }
}

enum class Ranges { Layout7305, Alternate, None };

// A plain record: the name, then filler; the key at 128 and the flag at 156.
Bytes PlainRecord(const std::string& name, std::uint8_t flag156 = 0) {
    Bytes record = Pattern(512, 0x21);
    std::copy(name.begin(), name.end(), record.begin());
    const Bytes key = Pattern(16, 0x90);
    std::copy(key.begin(), key.end(), record.begin() + 128);
    record[156] = flag156;
    return record;
}

Bytes Enciphered(Bytes record, Ranges ranges) {
    if (ranges == Ranges::None) return record;
    const Bytes key(record.begin() + 128, record.begin() + 144);
    TeaEncipherBlocks(record.data(), 64, key.data());
    TeaEncipherBlocks(record.data() + (ranges == Ranges::Layout7305 ? 176 : 400), 32, key.data());
    return record;
}

TEST(TeaDecipherBlocks, UndoesTheEnciphermentOfWholeBlocksOnly) {
    const Bytes key = Pattern(16, 0x33);
    const Bytes plain = Pattern(64, 0x07);
    Bytes data = plain;
    TeaEncipherBlocks(data.data(), data.size(), key.data());
    ASSERT_NE(data, plain);
    TeaDecipherBlocks(data.data(), data.size(), key.data());
    EXPECT_EQ(ToHex(data), ToHex(plain));

    // Length 12: one block, the last 4 bytes left as they are.
    const Bytes twelvePlain = Pattern(12, 0x50);
    Bytes twelve = twelvePlain;
    TeaEncipherBlocks(twelve.data(), 8, key.data());
    TeaDecipherBlocks(twelve.data(), 12, key.data());
    EXPECT_EQ(ToHex(twelve), ToHex(twelvePlain));

    // The published all-zero vector: key 0, block 0 enciphers to 41EA3A0A 94BAA940.
    Bytes zeroBlock = Hex("0A 3A EA 41 40 A9 BA 94");
    const Bytes zeroKey(16, 0);
    TeaDecipherBlocks(zeroBlock.data(), 8, zeroKey.data());
    EXPECT_EQ(ToHex(zeroBlock), ToHex(Fill(8, 0)));
}

// ---- vendor identify record ----

TEST(ReadVendorIdentify, DeciphersTheRangesOfItsLayout) {
    struct Case {
        std::string name;
        TransportWord transport;
        std::uint8_t flag156;
        Ranges wire;      // how the drive sent it
        bool deciphered;  // whether the caller gets the plain record back
    } cases[] = {
        {"layout 5: 0-63 and 176-207, flag byte ignored", MakeTransport(3, 5), 0x5A, Ranges::Layout7305, true},
        {"layout 0, flag 0: nothing deciphered", MakeTransport(3, 0), 0, Ranges::Layout7305, false},
        {"layout 0, flag set: 0-63 and 400-431", MakeTransport(3, 0), 1, Ranges::Alternate, true},
        {"another layout, flag set: the alternate ranges", MakeTransport(3, 7), 0x80, Ranges::Alternate, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        const Bytes plain = PlainRecord("VantorPlus 7305", c.flag156);
        const Bytes wire = Enciphered(plain, c.wire);
        ExpectNvmeExchange(io, 3, {0xFE, 128, 0xA1, DirectionRead, wire});
        Bytes buffer(512, 0);
        EXPECT_EQ(ReadVendorIdentify(io.Device(), c.transport, buffer.data(), 512), 1);
        EXPECT_EQ(ToHex(buffer), ToHex(c.deciphered ? plain : wire));
        EXPECT_EQ(io.Calls().at(0).request.at(52 + 56), 0) << "dword 14";
    }
}

TEST(ReadVendorIdentify, AShortLengthGetsThePlainPrefixAndNothingBeyond) {
    const Bytes plain = PlainRecord("VantorPlus 7305");
    const Bytes wire = Enciphered(plain, Ranges::Layout7305);
    for (std::uint32_t length : {4u, 60u, 100u, 180u, 200u, 511u}) {
        SCOPED_TRACE(length);
        ScriptedDeviceIo io;
        ExpectNvmeExchange(io, 3, {0xFE, 128, 0xA1, DirectionRead, wire});
        Bytes buffer(length, 0);  // exactly the length: a write past it is caught
        EXPECT_EQ(ReadVendorIdentify(io.Device(), MakeTransport(3, 5), buffer.data(), length), 1);
        EXPECT_EQ(ToHex(buffer), ToHex(Bytes(plain.begin(), plain.begin() + length)));
    }
}

TEST(ReadVendorIdentify, ALongerLengthReadsWholeSectors) {
    ScriptedDeviceIo io;
    const Bytes plain = PlainRecord("VantorPlus");
    Bytes wire = Enciphered(plain, Ranges::Layout7305);
    const Bytes second = Pattern(512, 0x77);
    wire.insert(wire.end(), second.begin(), second.end());
    ExpectNvmeExchange(io, 3, {0xFE, 256, 0xA1, DirectionRead, wire});
    Bytes buffer(600, 0);
    EXPECT_EQ(ReadVendorIdentify(io.Device(), MakeTransport(3, 5), buffer.data(), 600), 1);
    Bytes expected = plain;
    expected.insert(expected.end(), second.begin(), second.begin() + 88);
    EXPECT_EQ(ToHex(buffer), ToHex(expected));
}

TEST(ReadVendorIdentify, TravelsAsAFortyEightBitVendorReadOnAta) {
    ScriptedDeviceIo io;
    const Bytes plain = PlainRecord("VantorPlus");
    io.On(IoctlAtaPassThroughDirect)
        .Expect(2, Le16(0x0A))
        .ExpectU32(8, 512)
        .Expect(Here.ataPreviousTaskFile, Hex("00 00 00 A1 00 00 00 00"))
        .Expect(Here.ataCurrentTaskFile, Hex("D0 01 00 00 00 E0 FC 00"))
        .ReplyToDataBuffer(Enciphered(plain, Ranges::Layout7305))
        .Reply(AtaStatusAt, AtaStatusReady);
    Bytes buffer(512, 0);
    EXPECT_EQ(ReadVendorIdentify(io.Device(), MakeTransport(TransportAta, 5), buffer.data(), 512), 1);
    EXPECT_EQ(ToHex(buffer), ToHex(plain));
}

TEST(ReadVendorIdentify, FailureLeavesTheBufferAlone) {
    ScriptedDeviceIo io;
    for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).ReplyU32(20, 1).Reply(152, Pattern(512));
    Bytes buffer(512, 0xEE);
    EXPECT_EQ(ReadVendorIdentify(io.Device(), MakeTransport(3, 5), buffer.data(), 512), 0);
    EXPECT_EQ(ToHex(buffer), ToHex(Fill(512, 0xEE)));

    // Nothing to read into: refused before any call.
    ScriptedDeviceIo idle;
    EXPECT_EQ(ReadVendorIdentify(idle.Device(), MakeTransport(3, 5), nullptr, 512), 0);
    EXPECT_EQ(ReadVendorIdentify(idle.Device(), MakeTransport(3, 5), buffer.data(), 0), 0);
    EXPECT_TRUE(idle.Calls().empty());
}

// ---- identify ----

TEST(IdentifyDevice, InboxAsksForTheProtocolSpecificPropertyOnce) {
    const Bytes data = Pattern(4096, 0x13);
    {
        ScriptedDeviceIo io;
        ExpectPropertyIdentify(io, data);
        Bytes buffer(4096, 0);
        EXPECT_EQ(IdentifyDevice(io.Device(), 0x0502, buffer.data(), 1, 0), 1);
        EXPECT_EQ(ToHex(buffer), ToHex(data));
    }
    {
        ScriptedDeviceIo io;
        io.On(IoctlStorageQueryProperty)
            .InSize(4144)
            .Expect(0, Hex("31 00 00 00  00 00 00 00  03 00 00 00  01 00 00 00  01 00 00 00  07 00 00 00"))
            .ExpectU32(28, 4096)
            .Fail(50);
        Bytes buffer(4096, 0xEE);
        EXPECT_EQ(IdentifyDevice(io.Device(), 2, buffer.data(), 5, 7), 0);  // CNS 5 goes out as 5 & 3
        EXPECT_EQ(ToHex(buffer), ToHex(Fill(4096, 0xEE)));
    }
}

TEST(IdentifyDevice, MiniportSendsTheIdentifyCommandWithFourAttempts) {
    const Bytes data = Pattern(4096, 0x14);
    {
        ScriptedDeviceIo io;
        ExpectNvmeExchange(io, 3, {0x06, 1, 0, DirectionRead, data});
        Bytes buffer(4096, 0);
        EXPECT_EQ(IdentifyDevice(io.Device(), 3, buffer.data(), 1, 9), 1);
        EXPECT_EQ(ToHex(buffer), ToHex(data));
        const auto identify = BuildNvmeCommand(0x06, 1, 0, 0).Bytes();
        const Bytes& sent = io.Calls().at(0).request;
        EXPECT_EQ(ToHex(Bytes(sent.begin() + 52, sent.begin() + 116)), ToHex(Bytes(identify.begin(), identify.end())));
    }
    {
        ScriptedDeviceIo io;
        for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).ReplyU32(20, 1);
        EXPECT_EQ(IdentifyDevice(io.Device(), 3, nullptr, 1, 0), 0);
    }
}

TEST(IdentifyDevice, BridgeMakesOneAttemptPerRequest) {
    const Bytes data = Pattern(4096, 0x15);
    {
        ScriptedDeviceIo io;
        io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 80 00 00 02 00")).Expect(ScsiDataAt + 8, Hex("06 00 00 00"))
            .ExpectU32(ScsiDataAt + 48, 1);
        io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 82 00 00 10 00")).Reply(ScsiDataAt, data);
        io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 8F 00 00 02 00")).Reply(ScsiDataAt, Hex("4E 56 4D 45"));
        Bytes buffer(4096, 0);
        EXPECT_EQ(IdentifyDevice(io.Device(), 4, buffer.data(), 1, 0), 1);
        EXPECT_EQ(ToHex(buffer), ToHex(data));
    }
    {
        ScriptedDeviceIo io;
        Bytes sense(24, 0);
        sense[2] = 0x05;
        io.On(IoctlScsiPassThrough).Reply(ScsiSenseAt, sense);
        EXPECT_EQ(IdentifyDevice(io.Device(), 4, nullptr, 1, 0), 0);
    }
}

TEST(IdentifyDevice, AtaPathsSendIdentifyDevice) {
    {
        ScriptedDeviceIo io;
        io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("85 09 0E 00 D0 00 01 00 00 00 00 00 00 E0 EC 00"))
            .Reply(ScsiDataAt, Pattern(512, 0x16));
        Bytes buffer(512, 0);
        EXPECT_EQ(IdentifyDevice(io.Device(), TransportSat, buffer.data(), 1, 0), 1);
        EXPECT_EQ(ToHex(buffer), ToHex(Pattern(512, 0x16)));
    }
    {
        ScriptedDeviceIo io;
        io.On(IoctlAtaPassThroughDirect)
            .Expect(2, Le16(0x02))
            .Expect(Here.ataCurrentTaskFile, Hex("D0 01 00 00 00 E0 EC 00"))
            .Reply(AtaStatusAt, AtaStatusReady);
        Bytes buffer(512, 0);
        EXPECT_EQ(IdentifyDevice(io.Device(), TransportAta, buffer.data(), 1, 0), 1);
    }
    ScriptedDeviceIo idle;
    Bytes buffer(4096);
    EXPECT_EQ(IdentifyDevice(idle.Device(), 6, buffer.data(), 1, 0), 0);
    EXPECT_TRUE(idle.Calls().empty());
}

TEST(IdentifyAndVendorRead, OnSatTryFourTimesWithTenSeconds) {
    Bytes sense(24, 0);
    sense[2] = 0x05;
    sense[12] = 0x24;
    struct Case {
        std::string name;
        const char* cdb;
        bool vendorRead;
    } cases[] = {
        {"identify", "85 09 0E 00 D0 00 01 00 00 00 00 00 00 E0 EC 00", false},
        {"vendor identify record", "85 09 0E 00 D0 00 01 00 00 A1 00 00 00 E0 FC 00", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        for (int attempt = 0; attempt < 4; ++attempt) {
            io.On(IoctlScsiPassThrough).ExpectU32(16, 10).Expect(ScsiCdbAt, Hex(c.cdb)).Reply(ScsiSenseAt, sense);
        }
        Bytes buffer(512, 0xEE);
        const int result = c.vendorRead
                               ? ReadVendorIdentify(io.Device(), MakeTransport(TransportSat, 5), buffer.data(), 512)
                               : IdentifyDevice(io.Device(), MakeTransport(TransportSat, 5), buffer.data(), 1, 0);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ToHex(buffer), ToHex(Fill(512, 0xEE)));
    }
}

// ---- controller detection ----

Bytes StateReply(std::uint8_t state) {
    Bytes payload(512, 0);
    const Bytes head = Hex("AA 55 AA 55");
    std::copy(head.begin(), head.end(), payload.begin());
    payload[4] = state;
    return payload;
}

TEST(DetectController, RecognisesTheControllerNameInAnyCase) {
    struct Case {
        std::string name;
        bool recognised;
    } cases[] = {
        {"VantorPlus", true},
        {"vantorplus", true},
        {"VANTORPLUS", true},
        {"VantorPlus-7305 rev B", true},
        {std::string("VantorPlu\0s", 11), false},  // zero byte as the tenth character
        {std::string("VantorPlu\0", 10), false},
        {"VantorPlux", false},
        {"XantorPlus", false},
        {std::string(10, '\0'), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        ExpectIdentify(io, 3, Pattern(4096));
        ExpectNvmeExchange(io, 3, {0xFE, 128, 0xA1, DirectionRead, Enciphered(PlainRecord(c.name), Ranges::Layout7305)});
        if (c.recognised) ExpectNvmeExchange(io, 3, {0xFE, 128, 0xD8, DirectionRead, StateReply(2)});
        std::uint8_t state = 0x77;
        EXPECT_EQ(DetectController(io.Device(), 3, state), c.recognised ? 1 : 0);
        EXPECT_EQ(state, c.recognised ? 2 : 0x77);
    }
}

TEST(DetectController, RunsOnEachNvmeTransportWithTheServedLayout) {
    // The transport words carry layout 0; the record is enciphered in layout 5's ranges.
    for (std::uint8_t code : {TransportNvmeInbox, TransportNvmeMiniport, TransportUsbBridge}) {
        SCOPED_TRACE(testing::Message() << "transport " << int{code});
        ScriptedDeviceIo io;
        ExpectIdentify(io, code, Pattern(4096));
        ExpectNvmeExchange(io, code,
                           {0xFE, 128, 0xA1, DirectionRead, Enciphered(PlainRecord("VantorPlus"), Ranges::Layout7305)});
        ExpectNvmeExchange(io, code, {0xFE, 128, 0xD8, DirectionRead, StateReply(0)});
        std::uint8_t state = 0x77;
        EXPECT_EQ(DetectController(io.Device(), code, state), 1);
        EXPECT_EQ(state, 0);
    }
}

TEST(DetectController, SendsNothingOnOtherTransports) {
    ScriptedDeviceIo io;
    for (TransportWord word : {0x0000u, 0x0001u, 0x0501u, 0x0006u}) {
        std::uint8_t state = 0x77;
        EXPECT_EQ(DetectController(io.Device(), word, state), 0);
        EXPECT_EQ(state, 0x77);
    }
    EXPECT_TRUE(io.Calls().empty());
}

TEST(DetectController, FailuresBeforeTheStateReadRejectTheDrive) {
    const Bytes record = Enciphered(PlainRecord("VantorPlus"), Ranges::Layout7305);
    {
        SCOPED_TRACE("identify refused");
        ScriptedDeviceIo io;
        for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).Expect(52, Hex("06")).ReplyU32(20, 1);
        std::uint8_t state = 0x77;
        EXPECT_EQ(DetectController(io.Device(), 3, state), 0);
        EXPECT_EQ(state, 0x77);
    }
    {
        SCOPED_TRACE("vendor read refused");
        ScriptedDeviceIo io;
        ExpectIdentify(io, 3, Pattern(4096));
        for (int i = 0; i < 4; ++i) {
            io.On(IoctlScsiMiniport).Expect(52, Hex("FE")).ExpectU32(112, 0xA1).ReplyU32(20, 1).Reply(152, record);
        }
        std::uint8_t state = 0x77;
        EXPECT_EQ(DetectController(io.Device(), 3, state), 0);
        EXPECT_EQ(state, 0x77);
    }
}

TEST(DetectController, AnUnreadableStateStillRecognisesTheDrive) {
    const Bytes record = Enciphered(PlainRecord("VantorPlus"), Ranges::Layout7305);
    {
        SCOPED_TRACE("state reply without the signature");
        ScriptedDeviceIo io;
        ExpectIdentify(io, 3, Pattern(4096));
        ExpectNvmeExchange(io, 3, {0xFE, 128, 0xA1, DirectionRead, record});
        Bytes unsignedReply = StateReply(2);
        unsignedReply[0] = 0;
        ExpectNvmeExchange(io, 3, {0xFE, 128, 0xD8, DirectionRead, unsignedReply});
        std::uint8_t state = 0x77;
        EXPECT_EQ(DetectController(io.Device(), 3, state), 1);
        EXPECT_EQ(state, 0xFF);
    }
    {
        SCOPED_TRACE("state read refused");
        ScriptedDeviceIo io;
        ExpectIdentify(io, 2, Pattern(4096));
        ExpectNvmeExchange(io, 2, {0xFE, 128, 0xA1, DirectionRead, record});
        for (int i = 0; i < 4; ++i) io.On(IoctlStorageProtocolCommand).ExpectU32(140, 0xD8).Fail(1117);
        std::uint8_t state = 0x77;
        EXPECT_EQ(DetectController(io.Device(), 2, state), 1);
        EXPECT_EQ(state, 0xFF);
    }
}

}  // namespace
}  // namespace devicecmd_test
