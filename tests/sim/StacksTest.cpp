// The driver stacks: what each accepts, what it refuses, and what it answers.

#include <gtest/gtest.h>

#include "sim/SimDrives.h"
#include "tests/sim/SimRequests.h"

namespace {

using simtest::Bytes;
using simtest::OpenReadWrite;

// ---- inbox NVMe driver ----

// A STORAGE_PROTOCOL_COMMAND of 208 + dataLength bytes.
Bytes ProtocolCommand(std::uint8_t opcode, std::uint32_t dword15, std::uint32_t dataLength, std::uint8_t direction) {
    Bytes request(208 + dataLength, 0);
    sim::Put32(&request[0], 1);
    sim::Put32(&request[4], 84);
    sim::Put32(&request[8], 3);
    sim::Put32(&request[12], 0x80000000);
    sim::Put32(&request[24], 64);
    sim::Put32(&request[28], 64);
    sim::Put32(&request[32], direction == 1 ? dataLength : 0);
    sim::Put32(&request[36], direction == 2 ? dataLength : 0);
    sim::Put32(&request[40], 30);
    sim::Put32(&request[44], 144);
    sim::Put32(&request[48], direction == 1 ? 208 : 0);
    sim::Put32(&request[52], direction == 2 ? 208 : 0);
    sim::Put32(&request[56], 1);
    sim::Put32(&request[80], opcode);
    sim::Put32(&request[80 + 40], 128);
    sim::Put32(&request[80 + 60], dword15);
    return request;
}

class InboxTest : public ::testing::Test {
protected:
    InboxTest() : drive(sim::AttachInboxDrive(machine, 1)), handle(OpenReadWrite(machine, drive.physicalPath)) {}
    ~InboxTest() override { machine.Close(handle); }
    bool Send(Bytes& request, std::uint32_t code = sim::IoctlStorageProtocolCommand) {
        std::uint32_t returned = 0;
        const auto size = static_cast<std::uint32_t>(request.size());
        return machine.IoControl(handle, code, request.data(), size, request.data(), size, &returned);
    }
    sim::SimMachine machine;
    sim::SimInboxDrive drive;
    platform::Handle handle;
};

TEST_F(InboxTest, VendorReadReturnsTheStatePayloadWithReturnStatusOne) {
    Bytes request = ProtocolCommand(0xFE, 0xD8, 4096, 2);
    ASSERT_TRUE(Send(request));
    EXPECT_EQ(sim::Get32(&request[16]), 1u);
    EXPECT_EQ(sim::Get32(&request[208]), 0x55AA55AAu);
    EXPECT_EQ(request[212], 2);
}

TEST_F(InboxTest, RefusesMalformedHeads) {
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
    };
    const Case cases[] = {
        {"version", 0, 2},
        {"length", 4, 80},
        {"protocol type", 8, 1},
        {"no adapter-request flag", 12, 0},
        {"command length", 24, 32},
        {"data offset inside the command", 52, 100},
        {"data beyond the buffer", 36, 8192},
        {"command kind", 56, 3},
        {"zero timeout", 40, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes request = ProtocolCommand(0xFE, 0xD8, 4096, 2);
        sim::Put32(&request[c.offset], c.value);
        machine.SetLastError(0);
        EXPECT_FALSE(Send(request));
        EXPECT_EQ(machine.LastError(), sim::ErrorInvalidParameter);
    }
    // Both transfer lengths set, each with a sound area: the driver moves one way only.
    Bytes both = ProtocolCommand(0xFE, 0xD8, 4096, 2);
    sim::Put32(&both[32], 4096);
    sim::Put32(&both[48], 208);
    EXPECT_FALSE(Send(both));
    EXPECT_EQ(machine.LastError(), sim::ErrorInvalidParameter);
    EXPECT_TRUE(drive.device->History().empty());
}

TEST_F(InboxTest, StatusSaysWhyACommandDidNotRun) {
    struct Case {
        const char* what;
        Bytes request;
        std::uint32_t returnStatus;
    };
    Case cases[] = {
        {"standard admin command", ProtocolCommand(0x06, 0, 4096, 2), 0xFF},
        {"direction against the opcode", ProtocolCommand(0xFE, 0xD8, 4096, 1), 3},
        {"write without signature", ProtocolCommand(0xFD, 0xD7, 4096, 1), 2},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(Send(c.request));
        EXPECT_EQ(sim::Get32(&c.request[16]), c.returnStatus);
    }
    EXPECT_EQ(drive.device->Firmware().OptimizeState(), 2);
}

TEST_F(InboxTest, BusyStatusKeepsTheCommandFromTheDrive) {
    drive.stack->busyStatus.Arm(1);
    Bytes first = ProtocolCommand(0xFE, 0xD8, 4096, 2);
    ASSERT_TRUE(Send(first));
    EXPECT_EQ(sim::Get32(&first[16]), 5u);
    EXPECT_TRUE(drive.device->History().empty());
    Bytes second = ProtocolCommand(0xFE, 0xD8, 4096, 2);
    ASSERT_TRUE(Send(second));
    EXPECT_EQ(sim::Get32(&second[16]), 1u);
}

Bytes PropertyQuery(std::uint32_t propertyId, std::uint32_t length) {
    Bytes query(48 + length, 0);
    sim::Put32(&query[0], propertyId);
    sim::Put32(&query[8], 3);
    sim::Put32(&query[12], 1);
    sim::Put32(&query[16], 1);
    sim::Put32(&query[24], 40);
    sim::Put32(&query[28], length);
    return query;
}

TEST_F(InboxTest, PropertyQueryAnswersIdentifyAndItsFaultsSpoilTheReply) {
    struct Case {
        const char* what;
        sim::SimPropertyFault fault;
        std::uint32_t version, dataOffset, dataLength;
    };
    const Case cases[] = {
        {"sound", sim::SimPropertyFault::None, 48, 40, 4096},
        {"wrong size", sim::SimPropertyFault::WrongDescriptorSize, 40, 40, 4096},
        {"short", sim::SimPropertyFault::ShortData, 48, 40, 2048},
        {"oversized", sim::SimPropertyFault::OversizedData, 48, 40, 8192},
        {"outside", sim::SimPropertyFault::DataOutsideBuffer, 48, 4096 + 48, 4096},
        {"no data", sim::SimPropertyFault::NoData, 48, 40, 0},
        {"64 bytes", sim::SimPropertyFault::FirstBytesOnly, 48, 40, 64},
        {"inside the descriptor", sim::SimPropertyFault::DataInsideDescriptor, 48, 8, 4096},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        drive.stack->propertyFault = c.fault;
        drive.stack->propertyFaultCount.Arm(1);
        Bytes query = PropertyQuery(49, 4096);
        ASSERT_TRUE(Send(query, sim::IoctlStorageQueryProperty));
        EXPECT_EQ(sim::Get32(&query[0]), c.version);
        EXPECT_EQ(sim::Get32(&query[4]), c.version);
        EXPECT_EQ(sim::Get32(&query[8 + 16]), c.dataOffset);
        EXPECT_EQ(sim::Get32(&query[8 + 20]), c.dataLength);
        // The model number of the identify data, unless the reply names none of it.
        EXPECT_EQ(query[48 + 24], c.fault == sim::SimPropertyFault::NoData ? 0 : 'T');
    }
}

TEST_F(InboxTest, PropertyQueryRefusesRoomTooSmallForIdentify) {
    Bytes query = PropertyQuery(49, 512);
    EXPECT_FALSE(Send(query, sim::IoctlStorageQueryProperty));
    EXPECT_EQ(machine.LastError(), sim::ErrorInvalidParameter);
    Bytes adapter(32, 0);
    sim::Put32(&adapter[0], 1);
    ASSERT_TRUE(Send(adapter, sim::IoctlStorageQueryProperty));
    EXPECT_EQ(adapter[24], sim::BusTypeNvme);
}

// ---- NvmeMini miniport ----

struct MiniportExchange {
    Bytes request, reply;
};

MiniportExchange MiniportRequest(std::uint8_t opcode, std::uint32_t dword15, std::uint32_t length,
                                 std::uint32_t direction, const Bytes& dataOut = {}) {
    MiniportExchange exchange;
    exchange.request.assign(direction == 1 ? 152 + length : 153, 0);
    exchange.reply.assign(direction == 2 ? 152 + length : 153, 0);
    Bytes& r = exchange.request;
    sim::Put32(&r[0], 28);
    std::memcpy(&r[4], "NvmeMini", 8);
    sim::Put32(&r[12], 30);
    sim::Put32(&r[16], 0xE0002000);
    sim::Put32(&r[24], static_cast<std::uint32_t>(r.size() - 28));
    sim::Put32(&r[52], opcode);
    sim::Put32(&r[52 + 40], length / 4);
    sim::Put32(&r[52 + 60], dword15);
    sim::Put32(&r[132], direction);
    sim::Put32(&r[140], length);
    sim::Put32(&r[148], static_cast<std::uint32_t>(exchange.reply.size()));
    if (!dataOut.empty()) std::memcpy(&r[152], dataOut.data(), dataOut.size());
    return exchange;
}

class MiniportTest : public ::testing::Test {
protected:
    MiniportTest() : drive(sim::AttachMiniportDrive(machine, 2)), handle(OpenReadWrite(machine, drive.adapterPath)) {}
    ~MiniportTest() override { machine.Close(handle); }
    bool Send(MiniportExchange& exchange) {
        std::uint32_t returned = 0;
        return machine.IoControl(handle, sim::IoctlScsiMiniport, exchange.request.data(),
                                 static_cast<std::uint32_t>(exchange.request.size()), exchange.reply.data(),
                                 static_cast<std::uint32_t>(exchange.reply.size()), &returned);
    }
    sim::SimMachine machine;
    sim::SimMiniportDrive drive;
    platform::Handle handle;
};

TEST_F(MiniportTest, ReadsAndWritesWithTheCompletionEntryAt116) {
    auto read = MiniportRequest(0xFE, 0xD8, 512, 2);
    ASSERT_TRUE(Send(read));
    EXPECT_EQ(sim::Get32(&read.reply[20]), 0u);
    EXPECT_EQ(sim::Get32(&read.reply[152]), 0x55AA55AAu);
    EXPECT_EQ(sim::Get32(&read.reply[116 + 12]) >> 17, 0u);

    auto write = MiniportRequest(0xFD, 0xD7, 512, 1, simtest::StatePayload(0));
    ASSERT_TRUE(Send(write));
    EXPECT_EQ(sim::Get32(&write.reply[20]), 0u);
    EXPECT_EQ(drive.device->Firmware().OptimizeState(), 0);
}

TEST_F(MiniportTest, ACommandTheDriveRejectsStillHasReturnCodeZero) {
    drive.device->RejectCommands(0xFD, 0xD7, sim::NvmeInvalidOpcode);
    auto write = MiniportRequest(0xFD, 0xD7, 512, 1, simtest::StatePayload(0));
    ASSERT_TRUE(Send(write));
    EXPECT_EQ(sim::Get32(&write.reply[20]), 0u);
    EXPECT_EQ(sim::Get32(&write.reply[116 + 12]), (1u << 17) | (1u << 16));
    EXPECT_EQ(drive.device->Firmware().OptimizeState(), 2);
}

TEST_F(MiniportTest, RefusesMalformedRequests) {
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
        bool callSucceeds;
        std::uint32_t returnCode;  // when the call succeeds
        std::uint32_t error;       // when it fails
    };
    const Case cases[] = {
        {"header length", 0, 24, false, 0, sim::ErrorInvalidParameter},
        {"length beyond the buffers", 24, 5000, false, 0, sim::ErrorInvalidParameter},
        {"zero timeout", 12, 0, false, 0, sim::ErrorInvalidParameter},
        {"length short of the body", 24, 100, true, sim::MiniportInsufficientInBuffer, 0},
        {"signature", 4, 0x6D76794E, false, 0, sim::ErrorInvalidFunction},
        {"control code", 16, 0xE0002001, true, sim::MiniportInvalidControlCode, 0},
        {"direction", 132, 3, true, sim::MiniportInvalidDirection, 0},
        {"metadata", 144, 8, true, sim::MiniportInvalidParameter, 0},
        {"write direction without the data", 132, 1, true, sim::MiniportInsufficientInBuffer, 0},
        {"write opcode with data in", 52, 0xFD, true, sim::MiniportInvalidDirection, 0},
        {"reply length beyond the reply", 148, 5000, true, sim::MiniportInsufficientOutBuffer, 0},
        {"data length beyond the reply", 140, 4096, true, sim::MiniportInsufficientOutBuffer, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto exchange = MiniportRequest(0xFE, 0xD8, 512, 2);
        sim::Put32(&exchange.request[c.offset], c.value);
        EXPECT_EQ(Send(exchange), c.callSucceeds);
        if (c.callSucceeds) {
            EXPECT_EQ(sim::Get32(&exchange.reply[20]), c.returnCode);
        } else {
            EXPECT_EQ(machine.LastError(), c.error);
        }
    }
    EXPECT_TRUE(drive.device->History().empty());
}

// ---- USB-to-NVMe bridge ----

class BridgeTest : public ::testing::Test {
protected:
    BridgeTest() : drive(sim::AttachBridgeDrive(machine, 3)), handle(OpenReadWrite(machine, drive.physicalPath)) {}
    ~BridgeTest() override { machine.Close(handle); }
    // Sends one phase; returns the sense code (0 = good).
    std::uint32_t Phase(std::uint8_t phase, bool dataIn, std::uint32_t length, const Bytes& dataOut = {},
                        Bytes* dataInBytes = nullptr) {
        simtest::ScsiRequest request(simtest::BridgeCdb(phase, length), dataIn, length, dataOut);
        EXPECT_TRUE(request.Send(machine, handle));
        if (dataInBytes) dataInBytes->assign(request.Data(), request.Data() + length);
        return request.Sense();
    }
    sim::SimMachine machine;
    sim::SimBridgeDrive drive;
    platform::Handle handle;
};

constexpr std::uint32_t SequenceError = 0x052C00;
constexpr std::uint32_t InvalidField = 0x052400;

TEST_F(BridgeTest, ThreePhasesCarryACommandAndItsCompletion) {
    EXPECT_EQ(Phase(0, false, 512, simtest::BridgeBlock(0xFE, 128, 0xD8)), 0u);
    Bytes data;
    EXPECT_EQ(Phase(2, true, 512, {}, &data), 0u);
    EXPECT_EQ(sim::Get32(&data[0]), 0x55AA55AAu);
    Bytes response;
    EXPECT_EQ(Phase(0x0F, true, 512, {}, &response), 0u);
    EXPECT_EQ(sim::Get32(&response[0]), 0x454D564Eu);
    EXPECT_EQ(sim::Get32(&response[20]) >> 17, 0u);
    EXPECT_EQ(drive.stack->Bridge().CurrentPhase(), sim::SimUsbBridge::Phase::Idle);
}

TEST_F(BridgeTest, PhasesOutOfOrderAreRefusedWithASequenceError) {
    Bytes data;
    EXPECT_EQ(Phase(2, true, 512, {}, &data), SequenceError);
    EXPECT_EQ(Phase(0x0F, true, 512), SequenceError);
    EXPECT_EQ(Phase(0, false, 512, simtest::BridgeBlock(0xFE, 128, 0xD8)), 0u);
    EXPECT_EQ(Phase(0x0F, true, 512), SequenceError);  // response before the data phase
    EXPECT_EQ(Phase(2, true, 512), 0u);
    EXPECT_EQ(Phase(0x0F, true, 512), 0u);
    EXPECT_EQ(Phase(0x0F, true, 512), SequenceError);  // one response per command
    EXPECT_TRUE(drive.device->History().size() == 1);
}

TEST_F(BridgeTest, BadCdbsAndBlocksAreRefusedAsInvalidFields) {
    Bytes unsigned_block = simtest::BridgeBlock(0xFE, 128, 0xD8);
    unsigned_block[0] = 0;
    EXPECT_EQ(Phase(0, false, 512, unsigned_block), InvalidField);
    EXPECT_EQ(Phase(0, false, 256, Bytes(256, 0)), InvalidField);

    EXPECT_EQ(Phase(0, false, 512, simtest::BridgeBlock(0xFE, 128, 0xD8)), 0u);
    EXPECT_EQ(Phase(3, false, 512, Bytes(512, 0)), InvalidField);  // a read sent as data out

    // The CDB's transfer length must match the request's.
    EXPECT_EQ(Phase(0, false, 512, simtest::BridgeBlock(0xFE, 128, 0xD8)), 0u);
    simtest::ScsiRequest mismatched(simtest::BridgeCdb(2, 4096), true, 512);
    ASSERT_TRUE(mismatched.Send(machine, handle));
    EXPECT_EQ(mismatched.Sense(), InvalidField);

    simtest::ScsiRequest ataPassThrough({0x85, 0x09, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}, true, 512);
    ASSERT_TRUE(ataPassThrough.Send(machine, handle));
    EXPECT_EQ(ataPassThrough.Sense(), 0x052000u);

    // Bits 6-4 of the phase byte are reserved.
    auto reservedCdb = simtest::BridgeCdb(0, 512);
    reservedCdb[1] |= 0x10;
    simtest::ScsiRequest reserved(reservedCdb, false, 512, simtest::BridgeBlock(0xFE, 128, 0xD8));
    ASSERT_TRUE(reserved.Send(machine, handle));
    EXPECT_EQ(reserved.Sense(), InvalidField);
}

TEST_F(BridgeTest, PortChecksThePassThroughHead) {
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
    };
    const auto otherWidth = static_cast<std::uint8_t>(simtest::Here.sptSize == 44 ? 56 : 44);
    const Case cases[] = {
        {"structure length of the other width", 0, otherWidth},
        {"CDB length", 6, 0},
        {"CDB length above 16", 6, 17},
        {"data-in value", 8, 3},
        {"timeout", 16, 0},
        {"sense beyond the buffer", simtest::Here.sptSenseOffset, 0xF0},
        {"data beyond the buffer", simtest::Here.sptDataBuffer, 0xF0},
        // Where the other width would put it: inside this width's structure.
        {"sense inside the structure", simtest::Here.sptSenseOffset, static_cast<std::uint8_t>(simtest::Here.sptCdb)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        simtest::ScsiRequest request(simtest::BridgeCdb(0x0F, 512), true, 512);
        request.buffer[c.offset] = c.value;
        if (c.value == 0xF0) request.buffer[c.offset + 1] = 0x02;
        EXPECT_FALSE(request.Send(machine, handle));
        EXPECT_EQ(machine.LastError(), sim::ErrorInvalidParameter);
    }
    // Data in must fit the output buffer, whatever room the input has.
    simtest::ScsiRequest shortOutput(simtest::BridgeCdb(0x0F, 512), true, 512);
    shortOutput.outSize = simtest::ScsiRequest::DataAt;
    EXPECT_FALSE(shortOutput.Send(machine, handle));
    EXPECT_EQ(machine.LastError(), sim::ErrorInvalidParameter);
}

TEST_F(BridgeTest, SenseFaultStopsARequestBeforeTheBridge) {
    drive.stack->senseFault.Arm(sim::SenseNotReady, 0x04, 0x01, 1);
    EXPECT_EQ(Phase(0, false, 512, simtest::BridgeBlock(0xFE, 128, 0xD8)), 0x020401u);
    EXPECT_EQ(drive.stack->Bridge().CurrentPhase(), sim::SimUsbBridge::Phase::Idle);
    EXPECT_EQ(Phase(0, false, 512, simtest::BridgeBlock(0xFE, 128, 0xD8)), 0u);
}

// ---- SATA: SAT and the ATA pass-through ----

class SataTest : public ::testing::Test {
protected:
    SataTest() : drive(sim::AttachSataDrive(machine, 4)), handle(OpenReadWrite(machine, drive.physicalPath)) {}
    ~SataTest() override { machine.Close(handle); }

    static constexpr std::uint16_t AtaSize = simtest::Here.aptSize;
    using AtaRequest = std::array<std::uint8_t, AtaSize>;
    static constexpr std::size_t StatusAt = simtest::Here.aptCurrentTaskFile + 6;
    static constexpr std::size_t ErrorAt = simtest::Here.aptCurrentTaskFile;

    // An ATA_PASS_THROUGH_DIRECT of this process's width; returns the call's result and
    // leaves the reply in request.
    bool Ata(AtaRequest& request, std::uint16_t flags, std::uint8_t* data, std::uint32_t length,
             std::array<std::uint8_t, 8> current, std::array<std::uint8_t, 8> previous = {}) {
        request.fill(0);
        sim::Put16(&request[0], AtaSize);
        sim::Put16(&request[2], flags);
        sim::Put32(&request[8], length);
        sim::Put32(&request[12], 10);
        simtest::PutAddress(&request[simtest::Here.aptDataBuffer], data);
        std::copy(previous.begin(), previous.end(), request.begin() + simtest::Here.aptPreviousTaskFile);
        std::copy(current.begin(), current.end(), request.begin() + simtest::Here.aptCurrentTaskFile);
        std::uint32_t returned = 0;
        return machine.IoControl(handle, sim::IoctlAtaPassThroughDirect, request.data(), AtaSize, request.data(),
                                 AtaSize, &returned);
    }
    sim::SimMachine machine;
    sim::SimSataDrive drive;
    platform::Handle handle;
};

TEST_F(SataTest, SatCarriesIdentifyAndRefusesInconsistentCdbs) {
    simtest::ScsiRequest identify({0x85, 0x09, 0x0E, 0, 0xD0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}, true, 512);
    ASSERT_TRUE(identify.Send(machine, handle));
    EXPECT_EQ(identify.Sense(), 0u);
    EXPECT_EQ(identify.Data()[510], 0xA5);

    struct Case {
        const char* what;
        std::vector<std::uint8_t> cdb;
        bool dataIn;
        std::uint32_t length;
        std::uint32_t sense;
    };
    const Case cases[] = {
        {"T_DIR out for a data-in request", {0x85, 0x09, 0x06, 0, 0xD0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}, true, 512, 0x052400},
        {"T_DIR in for a data-out request", {0x85, 0x09, 0x0E, 0, 0xD0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}, false, 512, 0x052400},
        {"count against the length", {0x85, 0x09, 0x0E, 0, 0xD0, 0, 2, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}, true, 512, 0x052400},
        {"PIO out protocol for identify", {0x85, 0x0B, 0x06, 0, 0xD0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xEC, 0}, false, 512, 0x0B0000},
        {"vendor read without its subcode", {0x85, 0x09, 0x0E, 0, 0xD0, 0, 1, 0, 0, 0, 0, 0, 0, 0xE0, 0xFC, 0}, true, 512, 0x0B0000},
        {"vendor read of the state", {0x85, 0x09, 0x0E, 0, 0xD0, 0, 1, 0, 0, 0xD8, 0, 0, 0, 0xE0, 0xFC, 0}, true, 512, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        simtest::ScsiRequest request(c.cdb, c.dataIn, c.length);
        ASSERT_TRUE(request.Send(machine, handle));
        EXPECT_EQ(request.Sense(), c.sense);
    }
}

// What a USB-to-NVMe bridge's CDBs do to a SCSI-to-ATA translator: A1 80 (command block
// out) is ATA PASS-THROUGH(12) with the hard-reset protocol, A1 82 the software reset.
TEST_F(SataTest, SatTakesTheBridgesCdbsForResets) {
    std::vector<std::uint8_t> block(512, 0);
    std::memcpy(block.data(), "NVME", 4);
    simtest::ScsiRequest commandOut({0xA1, 0x80, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, false, 512, block);
    ASSERT_TRUE(commandOut.Send(machine, handle));
    EXPECT_EQ(drive.device->Resets(), 1u);
    simtest::ScsiRequest dataIn({0xA1, 0x82, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0}, true, 512);
    ASSERT_TRUE(dataIn.Send(machine, handle));
    EXPECT_EQ(drive.device->Resets(), 2u);
    EXPECT_TRUE(drive.device->History().empty());
}

TEST_F(SataTest, AtaPassThroughReportsTheDeviceInItsTaskFile) {
    AtaRequest request{};
    std::array<std::uint8_t, 512> data{};
    ASSERT_TRUE(Ata(request, 0x02, data.data(), 512, {0xD0, 1, 0, 0, 0, 0xE0, 0xEC, 0}));
    EXPECT_EQ(request[StatusAt], sim::AtaStatusGood);
    EXPECT_EQ(data[510], 0xA5);

    // 0xFC with subcode 0xD8 in bits 47-32: only with the 48-bit flag does the subcode arrive.
    ASSERT_TRUE(Ata(request, 0x0A, data.data(), 512, {0xD0, 1, 0, 0, 0, 0xE0, 0xFC, 0}, {0, 0, 0, 0xD8, 0, 0, 0, 0}));
    EXPECT_EQ(request[StatusAt], sim::AtaStatusGood);
    EXPECT_EQ(data[4], 2);
    ASSERT_TRUE(Ata(request, 0x02, data.data(), 512, {0xD0, 1, 0, 0, 0, 0xE0, 0xFC, 0}, {0, 0, 0, 0xD8, 0, 0, 0, 0}));
    EXPECT_EQ(request[StatusAt], sim::AtaStatusError);
    EXPECT_EQ(request[ErrorAt], sim::AtaErrorAbort);

    EXPECT_FALSE(Ata(request, 0x06, data.data(), 512, {0xD0, 1, 0, 0, 0, 0xE0, 0xEC, 0}));  // in and out at once
    EXPECT_EQ(machine.LastError(), sim::ErrorInvalidParameter);
    EXPECT_FALSE(Ata(request, 0x02, nullptr, 512, {0xD0, 1, 0, 0, 0, 0xE0, 0xEC, 0}));
}

// ---- what every disk stack answers ----

TEST(DiskStackTest, EveryStackAnswersDeviceNumberGeometryAndBusType) {
    sim::SimMachine machine;
    struct Case {
        const char* what;
        std::wstring path;
        std::uint8_t busType;
    };
    sim::SimNvmeConfig nvme;
    nvme.identity.sectors = 2000409264;  // about 1 TB: the size needs 64 bits
    sim::SimAtaConfig ata;
    ata.identity.sectors = 1000215216;
    const Case cases[] = {
        {"inbox", sim::AttachInboxDrive(machine, 1, nvme).physicalPath, sim::BusTypeNvme},
        {"miniport", sim::AttachMiniportDrive(machine, 2, nvme).adapterPath, sim::BusTypeNvme},
        {"bridge", sim::AttachBridgeDrive(machine, 3, nvme).physicalPath, sim::BusTypeUsb},
        {"sata", sim::AttachSataDrive(machine, 4, ata).physicalPath, sim::BusTypeSata},
    };
    std::uint32_t number = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::uint64_t sectors = c.busType == sim::BusTypeSata ? ata.identity.sectors : nvme.identity.sectors;
        const platform::Handle handle =
            machine.Open(c.path, platform::AccessNone, platform::ShareRead | platform::ShareWrite, platform::OpenExisting,
                         platform::AttributesNone);
        std::array<std::uint8_t, 40> out{};
        std::uint32_t returned = 0;
        ASSERT_TRUE(machine.IoControl(handle, sim::IoctlStorageGetDeviceNumber, nullptr, 0, out.data(), 12, &returned));
        EXPECT_EQ(returned, 12u);
        EXPECT_EQ(sim::Get32(&out[0]), 7u);
        EXPECT_EQ(sim::Get32(&out[4]), number++);
        ASSERT_TRUE(machine.IoControl(handle, sim::IoctlDiskGetDriveGeometryEx, nullptr, 0, out.data(), 40, &returned));
        EXPECT_EQ(sim::Get32(&out[20]), 512u);
        std::uint64_t size = 0;
        for (int i = 7; i >= 0; --i) size = (size << 8) | out[24 + i];
        EXPECT_EQ(size, sectors * 512);
        std::array<std::uint8_t, 12> query{};
        sim::Put32(&query[0], 1);
        ASSERT_TRUE(machine.IoControl(handle, sim::IoctlStorageQueryProperty, query.data(), 12, out.data(), 32, &returned));
        EXPECT_EQ(out[24], c.busType);
        EXPECT_FALSE(machine.IoControl(handle, 0x00070000, nullptr, 0, out.data(), 24, &returned));
        EXPECT_EQ(machine.LastError(), sim::ErrorInvalidFunction);
        machine.Close(handle);
    }
}

}  // namespace
