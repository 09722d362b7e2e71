// The optimize state read and the command set that switches it.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "Exchanges.h"
#include "ScriptedDeviceIo.h"
#include "devicecmd/PrivateCmd.h"

namespace devicecmd_test {
namespace {

using namespace devicecmd;

Bytes Payload(std::uint8_t state) {
    Bytes payload(512, 0);
    const Bytes signature = Hex("AA 55 AA 55");
    std::copy(signature.begin(), signature.end(), payload.begin());
    payload[4] = state;
    return payload;
}

Bytes Padded(Bytes data, std::size_t size) {
    data.resize(size, 0);
    return data;
}

TEST(SetOptimize, OnTheInboxDriverWritesAWholePage) {
    ScriptedDeviceIo io;
    io.On(IoctlStorageProtocolCommand)
        .InSize(4304)
        .ExpectU32(56, 1)
        .Expect(80, Hex("FD 00 00 00"))
        .ExpectU32(120, 128)
        .ExpectU32(140, 0xD7)
        .Expect(208, Padded(Payload(0), 4096))
        .ReplyU32(16, 1);
    CPrivateCMD7305 commands;
    EXPECT_EQ(commands.SetOptimize(io.Device(), MakeTransport(TransportNvmeInbox, 5), 0), 1);
}

TEST(SetOptimize, ThroughTheBridgeSendsTheBlockThenThePayload) {
    ScriptedDeviceIo io;
    io.On(IoctlScsiPassThrough)
        .Expect(ScsiCdbAt, Hex("A1 80 00 00 02 00"))
        .Expect(ScsiDataAt, Hex("4E 56 4D 45 00 00 00 00 FD 00 00 00"))
        .ExpectU32(ScsiDataAt + 48, 128)
        .ExpectU32(ScsiDataAt + 68, 0xD7);
    io.On(IoctlScsiPassThrough).Expect(8, Hex("00")).Expect(ScsiCdbAt, Hex("A1 83 00 00 02 00")).Expect(ScsiDataAt, Payload(2));
    io.On(IoctlScsiPassThrough).Expect(ScsiCdbAt, Hex("A1 8F 00 00 02 00")).Reply(ScsiDataAt, Hex("4E 56 4D 45"));
    CPrivateCMD7305 commands;
    EXPECT_EQ(commands.SetOptimize(io.Device(), MakeTransport(TransportUsbBridge, 5), 2), 1);
}

TEST(SetOptimize, OnAtaPathsIsAFortyEightBitPioWrite) {
    {
        ScriptedDeviceIo io;
        io.On(IoctlAtaPassThroughDirect)
            .Expect(2, Le16(0x0C))
            .Expect(Here.ataPreviousTaskFile, Hex("00 00 00 D7 00 00 00 00"))
            .Expect(Here.ataCurrentTaskFile, Hex("D0 01 00 00 00 E0 FD 00"))
            .ExpectDataBuffer(Payload(2))
            .Reply(AtaStatusAt, AtaStatusReady);
        CPrivateCMD7305 commands;
        EXPECT_EQ(commands.SetOptimize(io.Device(), MakeTransport(TransportAta, 5), 2), 1);
    }
    {
        ScriptedDeviceIo io;
        io.On(IoctlScsiPassThrough)
            .Expect(8, Hex("00"))
            .Expect(ScsiCdbAt, Hex("85 0B 06 00 D0 00 01 00 00 D7 00 00 00 E0 FD 00"))
            .Expect(ScsiDataAt, Payload(0));
        CPrivateCMD7305 commands;
        EXPECT_EQ(commands.SetOptimize(io.Device(), MakeTransport(TransportSat, 5), 0), 1);
    }
}

// On SAT the vendor commands take the caller-side timeout of 10 seconds and four attempts.
TEST(VendorCommands, OnSatTryFourTimesWithTenSeconds) {
    const Bytes illegalRequest = [] {
        Bytes sense(24, 0);
        sense[0] = 0x70;
        sense[2] = 0x05;
        sense[12] = 0x24;
        return sense;
    }();
    struct Case {
        std::string name;
        const char* cdb;
        int (*operation)(platform::Device);
    } cases[] = {
        {"state read", "85 09 0E 00 D0 00 01 00 00 D8 00 00 00 E0 FC 00",
         [](platform::Device device) {
             std::uint8_t state = 0x77;
             const int result = QueryOptimizeState(device, MakeTransport(TransportSat, 5), &state);
             EXPECT_EQ(state, 0x77);
             return result;
         }},
        {"switch", "85 0B 06 00 D0 00 01 00 00 D7 00 00 00 E0 FD 00",
         [](platform::Device device) {
             return CPrivateCMD7305().SetOptimize(device, MakeTransport(TransportSat, 5), 2);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        for (int attempt = 0; attempt < 4; ++attempt) {
            io.On(IoctlScsiPassThrough).ExpectU32(16, 10).Expect(ScsiCdbAt, Hex(c.cdb)).Reply(ScsiSenseAt, illegalRequest);
        }
        EXPECT_EQ(c.operation(io.Device()), 0);
    }
}

TEST(SetOptimize, ReportsARefusalAndOnlyTheServedCommandSetSends) {
    ScriptedDeviceIo io;
    for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).ReplyU32(20, 1);
    std::unique_ptr<CPrivateCmd> served = std::make_unique<CPrivateCMD7305>();
    EXPECT_EQ(served->SetOptimize(io.Device(), MakeTransport(TransportNvmeMiniport, 5), 0), 0);

    CPrivateCmd base;
    EXPECT_EQ(base.SetOptimize(io.Device(), MakeTransport(TransportNvmeMiniport, 5), 0), 0);
    EXPECT_EQ(io.Calls().size(), 4u);
}

TEST(QueryOptimizeState, WritesTheStateOnlyFromASignedReply) {
    struct Case {
        std::string name;
        Bytes reply;
        bool refused;
        int result;
        std::uint8_t state;
    } cases[] = {
        {"optimizable", Payload(2), false, 1, 2},
        {"optimized", Payload(0), false, 1, 0},
        {"uninterpreted value is passed on", Payload(0x37), false, 1, 0x37},
        {"no signature", Padded(Hex("00 00 00 00 02"), 512), false, 0, 0x77},
        {"signature in the wrong byte order", Padded(Hex("55 AA 55 AA 02"), 512), false, 0, 0x77},
        {"refused", Payload(2), true, 0, 0x77},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedDeviceIo io;
        if (c.refused) {
            for (int i = 0; i < 4; ++i) io.On(IoctlScsiMiniport).Fail(1117);
        } else {
            ExpectNvmeExchange(io, TransportNvmeMiniport, {0xFE, 128, 0xD8, DirectionRead, c.reply});
        }
        std::uint8_t state = 0x77;
        EXPECT_EQ(QueryOptimizeState(io.Device(), MakeTransport(TransportNvmeMiniport, 5), &state), c.result);
        EXPECT_EQ(state, c.state);
    }
}

TEST(QueryOptimizeState, SendsTheNvmeVendorReadOpcode) {
    ScriptedDeviceIo io;
    ExpectNvmeExchange(io, TransportNvmeInbox, {0xFE, 128, 0xD8, DirectionRead, Padded(Payload(2), 4096)});
    std::uint8_t state = 0x77;
    EXPECT_EQ(QueryOptimizeState(io.Device(), MakeTransport(TransportNvmeInbox, 5), &state), 1);
    EXPECT_EQ(state, 2);

    ScriptedDeviceIo idle;
    EXPECT_EQ(QueryOptimizeState(idle.Device(), MakeTransport(TransportNvmeInbox, 5), nullptr), 0);
    EXPECT_TRUE(idle.Calls().empty());
}

}  // namespace
}  // namespace devicecmd_test
