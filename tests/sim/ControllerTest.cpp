// The VX310 controller and the ATA device model, spoken to directly.

#include <gtest/gtest.h>

#include <string>

#include "sim/SimAtaDevice.h"
#include "sim/SimNvmeController.h"
#include "tests/sim/SimRequests.h"

namespace {

using sim::NvmeCommandDwords;

NvmeCommandDwords Command(std::uint8_t opcode, std::uint32_t dword10, std::uint32_t dword15) {
    NvmeCommandDwords command{};
    command[0] = opcode;
    command[10] = dword10;
    command[15] = dword15;
    return command;
}

std::string Text(const std::uint8_t* bytes, std::size_t width) { return std::string(reinterpret_cast<const char*>(bytes), width); }

TEST(ControllerTest, IdentifyControllerCarriesBlankPaddedTexts) {
    sim::SimNvmeController controller;
    std::vector<std::uint8_t> data(4096, 0xEE);
    const auto completion = controller.Execute(sim::SimQueue::Admin, Command(0x06, 1, 0), data.data(), 4096);
    EXPECT_EQ(completion.status, sim::NvmeSuccess);
    EXPECT_EQ(Text(&data[4], 20), "TVK310A0000000000017");
    EXPECT_EQ(Text(&data[24], 40), "Tavik VX310 Series SSD 512GB            ");
    EXPECT_EQ(Text(&data[64], 8), "VX31A005");
    EXPECT_EQ(sim::Get16(&data[0]), 0x1E5A);
    EXPECT_EQ(data[4095], 0);
}

TEST(ControllerTest, VendorRecordIsEncipheredUnderTheKeyItCarries) {
    sim::SimNvmeController controller;
    std::vector<std::uint8_t> record(512, 0);
    ASSERT_EQ(controller.Execute(sim::SimQueue::Admin, Command(0xFE, 128, 0xA1), record.data(), 512).status,
              sim::NvmeSuccess);
    const std::string name = "VantorPlus VX310 NVMe Controller";
    EXPECT_NE(Text(&record[0], name.size()), name);
    std::array<std::uint8_t, 16> key{};
    std::copy(record.begin() + 128, record.begin() + 144, key.begin());
    EXPECT_EQ(key, controller.Firmware().Config().key);
    simtest::TeaDecipher(&record[0], 64, key);
    simtest::TeaDecipher(&record[176], 32, key);
    EXPECT_EQ(Text(&record[0], name.size()), name);
    EXPECT_EQ(record[name.size()], 0);
    EXPECT_EQ(Text(&record[176], 28), "VX310 firmware build 2026.11");
}

TEST(ControllerTest, StateWriteNeedsTheSignatureAndAKnownState) {
    struct Case {
        const char* what;
        std::uint32_t signature;
        std::uint8_t state;
        std::uint16_t status;
        std::uint8_t stateAfter;
    };
    const Case cases[] = {
        {"valid, switch on", 0x55AA55AA, 0, sim::NvmeSuccess, 0},
        {"no signature", 0x00000000, 0, sim::NvmeInvalidField, 2},
        {"signature byte-swapped", 0xAA55AA55, 0, sim::NvmeInvalidField, 2},
        {"unknown state", 0x55AA55AA, 7, sim::NvmeInvalidField, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::SimNvmeController controller;
        auto payload = simtest::StatePayload(c.state, c.signature);
        EXPECT_EQ(controller.Execute(sim::SimQueue::Admin, Command(0xFD, 128, 0xD7), payload.data(), 512).status,
                  c.status);
        EXPECT_EQ(controller.Firmware().OptimizeState(), c.stateAfter);
    }
}

TEST(ControllerTest, CompletionStatusFollowsTheCommand) {
    struct Case {
        const char* what;
        sim::SimQueue queue;
        NvmeCommandDwords command;
        std::uint32_t transfer;
        std::uint16_t status;
    };
    const Case cases[] = {
        {"state read", sim::SimQueue::Admin, Command(0xFE, 128, 0xD8), 512, sim::NvmeSuccess},
        {"state read into a larger transfer", sim::SimQueue::Admin, Command(0xFE, 128, 0xD8), 4096, sim::NvmeSuccess},
        {"unknown opcode", sim::SimQueue::Admin, Command(0xC4, 0, 0), 0, sim::NvmeInvalidOpcode},
        {"vendor read on the I/O queue", sim::SimQueue::Io, Command(0xFE, 128, 0xD8), 512, sim::NvmeInvalidOpcode},
        {"unknown subcode", sim::SimQueue::Admin, Command(0xFE, 128, 0x33), 512, sim::NvmeInvalidField},
        {"length shorter than the record", sim::SimQueue::Admin, Command(0xFE, 64, 0xA1), 512, sim::NvmeInvalidField},
        {"length beyond the transfer", sim::SimQueue::Admin, Command(0xFE, 256, 0xD8), 512, sim::NvmeInvalidField},
        {"identify with an unknown CNS", sim::SimQueue::Admin, Command(0x06, 0x17, 0), 4096, sim::NvmeInvalidField},
        {"identify into a short buffer", sim::SimQueue::Admin, Command(0x06, 1, 0), 512, sim::NvmeDataTransferError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sim::SimNvmeController controller;
        std::vector<std::uint8_t> data(c.transfer, 0);
        const auto completion =
            controller.Execute(c.queue, c.command, data.empty() ? nullptr : data.data(), c.transfer);
        EXPECT_EQ(completion.status, c.status);
    }
}

TEST(ControllerTest, InvalidOpcodeSetsBit17OfCompletionDword3) {
    sim::SimNvmeController controller;
    const auto completion = controller.Execute(sim::SimQueue::Admin, Command(0xC4, 0, 0), nullptr, 0);
    const auto entry = completion.Entry();
    EXPECT_EQ(sim::Get32(&entry[12]), (1u << 17) | (1u << 16));  // status code 1, phase tag
}

TEST(ControllerTest, RejectionsApplyToTheMatchingCommandsAsOftenAsAsked) {
    sim::SimNvmeController controller;
    controller.RejectCommands(0xFE, 0xD8, sim::NvmeDataTransferError | sim::NvmeDoNotRetry, 2);
    std::vector<std::uint8_t> data(512, 0);
    EXPECT_EQ(controller.Execute(sim::SimQueue::Admin, Command(0xFE, 128, 0xA1), data.data(), 512).status,
              sim::NvmeSuccess);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(controller.Execute(sim::SimQueue::Admin, Command(0xFE, 128, 0xD8), data.data(), 512).status,
                  sim::NvmeDataTransferError | sim::NvmeDoNotRetry);
    EXPECT_EQ(controller.Execute(sim::SimQueue::Admin, Command(0xFE, 128, 0xD8), data.data(), 512).status,
              sim::NvmeSuccess);
    EXPECT_EQ(controller.History().size(), 4u);
}

TEST(AtaDeviceTest, AnswersIdentifyAndTheVendorCommandsByTheirSubcode) {
    sim::SimAtaDevice device;
    std::vector<std::uint8_t> data(512, 0);
    sim::SimAtaCommand identify;
    identify.command = 0xEC;
    ASSERT_FALSE(device.Execute(identify, sim::SimAtaProtocol::PioIn, data.data(), 512).Failed());
    std::string model = Text(&data[54], 12);
    for (std::size_t i = 0; i < model.size(); i += 2) std::swap(model[i], model[i + 1]);  // ATA byte order
    EXPECT_EQ(model, "Tavik VX310 ");
    std::uint8_t sum = 0;
    for (auto byte : data) sum = static_cast<std::uint8_t>(sum + byte);
    EXPECT_EQ(sum, 0);

    sim::SimAtaCommand read;
    read.command = 0xFC;
    read.count = 1;
    read.lba = std::uint64_t{0xD8} << 32;
    ASSERT_FALSE(device.Execute(read, sim::SimAtaProtocol::PioIn, data.data(), 512).Failed());
    EXPECT_EQ(sim::Get32(&data[0]), 0x55AA55AAu);
    EXPECT_EQ(data[4], 2);

    read.lba = 0xD8;  // subcode in the low bits: not the vendor read
    EXPECT_TRUE(device.Execute(read, sim::SimAtaProtocol::PioIn, data.data(), 512).Failed());
    read.lba = std::uint64_t{0xD8} << 32;
    EXPECT_TRUE(device.Execute(read, sim::SimAtaProtocol::PioOut, data.data(), 512).Failed());

    sim::SimAtaCommand write;
    write.command = 0xFD;
    write.count = 1;
    write.lba = std::uint64_t{0xD7} << 32;
    auto payload = simtest::StatePayload(0);
    ASSERT_FALSE(device.Execute(write, sim::SimAtaProtocol::PioOut, payload.data(), 512).Failed());
    EXPECT_EQ(device.Firmware().OptimizeState(), 0);
}

}  // namespace
