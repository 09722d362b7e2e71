// The machine itself: paths, handles, access, last error, refusals and the trace.

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

#include "sim/SimDrives.h"
#include "sim/SimMachine.h"
#include "tests/sim/SimRequests.h"

namespace {

using simtest::OpenReadWrite;

// Answers every call with four bytes, so the machine's own behaviour shows.
class EchoEndpoint : public sim::SimEndpoint {
public:
    sim::SimResult IoControl(const sim::SimCall& call) override {
        if (call.outSize < 4) return sim::SimResult::Failure(sim::ErrorInsufficientBuffer);
        sim::Put32(call.out, 0xC0FFEE00 | call.inSize);
        return sim::SimResult::Success(4);
    }
};

constexpr std::uint32_t AnyReadCode = 0x2D1400;    // needs no access
constexpr std::uint32_t ReadWriteCode = 0x4D004;   // needs read and write access

class MachineTest : public ::testing::Test {
protected:
    MachineTest() { machine.Attach(L"\\\\.\\PhysicalDrive1", std::make_shared<EchoEndpoint>()); }
    bool Call(platform::Handle handle, std::uint32_t code = AnyReadCode) {
        std::uint8_t in[8] = {};
        std::uint8_t out[8] = {};
        std::uint32_t returned = 0;
        return machine.IoControl(handle, code, in, sizeof in, out, sizeof out, &returned);
    }
    sim::SimMachine machine;
};

TEST_F(MachineTest, OpensPathsWithoutRegardToCaseAndRefusesUnknownOnes) {
    const platform::Handle handle = OpenReadWrite(machine, L"\\\\.\\PHYSICALDRIVE1");
    ASSERT_TRUE(platform::IsUsable(handle));
    EXPECT_EQ(machine.OpenHandleCount(), 1u);

    EXPECT_EQ(OpenReadWrite(machine, L"\\\\.\\PhysicalDrive9"), platform::InvalidHandle());
    EXPECT_EQ(machine.LastError(), sim::ErrorFileNotFound);

    EXPECT_TRUE(machine.Close(handle));
    EXPECT_EQ(machine.OpenHandleCount(), 0u);
    EXPECT_FALSE(machine.Close(handle));
    EXPECT_EQ(machine.LastError(), sim::ErrorInvalidHandle);
    EXPECT_FALSE(Call(handle));
    EXPECT_EQ(machine.LastError(), sim::ErrorInvalidHandle);
}

TEST_F(MachineTest, SuccessLeavesTheLastErrorAndFailureSetsIt) {
    const platform::Handle handle = OpenReadWrite(machine, L"\\\\.\\PhysicalDrive1");
    machine.SetLastError(1234);
    EXPECT_TRUE(Call(handle));
    EXPECT_EQ(machine.LastError(), 1234u);

    machine.RefuseIoControl(L"\\\\.\\physicaldrive1", AnyReadCode, 31, 2);
    EXPECT_FALSE(Call(handle));
    EXPECT_EQ(machine.LastError(), 31u);
    EXPECT_FALSE(Call(handle));
    EXPECT_TRUE(Call(handle));  // the refusal was for two calls
    EXPECT_EQ(machine.LastError(), 31u);
    machine.Close(handle);
}

TEST_F(MachineTest, KeepsTheLastErrorPerThread) {
    machine.SetLastError(5);
    std::uint32_t seenByOther = 0xFFFF;
    std::thread other([&] {
        seenByOther = machine.LastError();
        machine.SetLastError(77);
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(machine.LastError(), 5u);
}

TEST_F(MachineTest, ChecksTheAccessThatTheControlCodeNeeds) {
    const platform::Handle readOnly = machine.Open(L"\\\\.\\PhysicalDrive1", platform::AccessRead, platform::ShareRead,
                                                   platform::OpenExisting, platform::AttributesNone);
    EXPECT_TRUE(Call(readOnly, AnyReadCode));
    EXPECT_FALSE(Call(readOnly, ReadWriteCode));
    EXPECT_EQ(machine.LastError(), sim::ErrorAccessDenied);
    const platform::Handle readWrite = OpenReadWrite(machine, L"\\\\.\\PhysicalDrive1");
    EXPECT_TRUE(Call(readWrite, ReadWriteCode));
    machine.Close(readOnly);
    machine.Close(readWrite);
}

TEST_F(MachineTest, HandlesOfARemovedDriveFailAndAReattachedDriveNeedsANewOpen) {
    const platform::Handle handle = OpenReadWrite(machine, L"\\\\.\\PhysicalDrive1");
    machine.Detach(L"\\\\.\\PhysicalDrive1");
    EXPECT_FALSE(Call(handle));
    EXPECT_EQ(machine.LastError(), sim::ErrorDeviceNotConnected);
    machine.Attach(L"\\\\.\\PhysicalDrive1", std::make_shared<EchoEndpoint>());
    EXPECT_FALSE(Call(handle));
    const platform::Handle fresh = OpenReadWrite(machine, L"\\\\.\\PhysicalDrive1");
    EXPECT_TRUE(Call(fresh));
    machine.Close(handle);
    machine.Close(fresh);
}

TEST_F(MachineTest, RefusedOpensReportTheirError) {
    machine.RefuseOpen(L"\\\\.\\PhysicalDrive1", sim::ErrorAccessDenied, 1);
    EXPECT_EQ(OpenReadWrite(machine, L"\\\\.\\PhysicalDrive1"), platform::InvalidHandle());
    EXPECT_EQ(machine.LastError(), sim::ErrorAccessDenied);
    const platform::Handle handle = OpenReadWrite(machine, L"\\\\.\\PhysicalDrive1");
    EXPECT_TRUE(platform::IsUsable(handle));
    machine.Close(handle);
}

TEST_F(MachineTest, TracesEveryDeviceControlCall) {
    const platform::Handle handle = OpenReadWrite(machine, L"\\\\.\\PhysicalDrive1");
    machine.RefuseIoControl(L"", 0, sim::ErrorIoDevice, 1);
    EXPECT_FALSE(Call(handle));
    EXPECT_TRUE(Call(handle));
    const auto trace = machine.Trace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0].path, L"\\\\.\\PhysicalDrive1");
    EXPECT_EQ(trace[0].code, AnyReadCode);
    EXPECT_FALSE(trace[0].ok);
    EXPECT_EQ(trace[0].error, sim::ErrorIoDevice);
    EXPECT_EQ(trace[0].request.size(), 8u);
    EXPECT_TRUE(trace[0].reply.empty());
    EXPECT_TRUE(trace[1].ok);
    EXPECT_EQ(trace[1].reply, (std::vector<std::uint8_t>{0x08, 0xEE, 0xFF, 0xC0}));
    EXPECT_NE(sim::FormatTraceEntry(trace[0]).find("error 1117"), std::string::npos);
    machine.Close(handle);
}

TEST(MachineMediaTest, ReadsWholeSectorsFromTheSeekPosition) {
    sim::SimMachine machine;
    const auto drive = sim::AttachInboxDrive(machine, 0);
    (*drive.stack->Media())[512] = 0x42;
    const platform::Handle handle = OpenReadWrite(machine, drive.physicalPath);
    std::array<std::uint8_t, 512> sector{};
    std::uint32_t read = 0;
    ASSERT_TRUE(machine.Read(handle, sector.data(), 512, &read));
    EXPECT_EQ(read, 512u);
    EXPECT_EQ(sector[510], 0x55);
    EXPECT_EQ(sector[511], 0xAA);
    EXPECT_EQ(machine.Seek(handle, 512, platform::SeekBegin), 512u);
    ASSERT_TRUE(machine.Read(handle, sector.data(), 512, &read));
    EXPECT_EQ(sector[0], 0x42);
    EXPECT_FALSE(machine.Read(handle, sector.data(), 100, &read));
    EXPECT_EQ(machine.LastError(), sim::ErrorInvalidParameter);
    machine.Close(handle);
}

// A medium nobody has written reads as built, to its end, whether or not it has been made
// yet; a reset drive reads as a new one.
TEST(MachineMediaTest, AnUnwrittenMediumReadsAsBuiltToItsEnd) {
    sim::SimMachine machine;
    const auto drive = sim::AttachInboxDrive(machine, 0);
    const auto readAll = [&] {
        const platform::Handle handle = OpenReadWrite(machine, drive.physicalPath);
        std::vector<std::uint8_t> all;
        std::array<std::uint8_t, 4096> chunk{};
        std::uint32_t read = 0;
        while (machine.Read(handle, chunk.data(), static_cast<std::uint32_t>(chunk.size()), &read) && read != 0)
            all.insert(all.end(), chunk.begin(), chunk.begin() + read);
        machine.Close(handle);
        return all;
    };
    const std::vector<std::uint8_t> unmade = readAll();
    const std::vector<std::uint8_t> made = *drive.stack->Media();
    EXPECT_EQ(unmade, made);
    ASSERT_GT(made.size(), 512u);
    EXPECT_EQ(made[510], 0x55);
    EXPECT_EQ(made[511], 0xAA);

    (*drive.stack->Media())[4096] = 0x42;
    EXPECT_EQ(readAll()[4096], 0x42);
    drive.stack->Reset();
    EXPECT_EQ(readAll(), made);
}

}  // namespace
