// A 64-bit process: requests and data buffers above 4 GB. A buffer address cut to 32 bits
// anywhere on the way names other memory; below 4 GB such a cut passes by luck, so the
// buffers here are placed as high as the system gives them.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include "devicecmd/Requests.h"
#include "devicecmd/ScsiAta.h"
#include "devicecmd/Transport.h"
#include "sim/SimCodes.h"
#include "sim/SimDrives.h"

static_assert(sizeof(void*) == 8, "built for 64-bit processes only");

namespace {

constexpr std::uint64_t FourGigabytes = std::uint64_t{1} << 32;

// Memory taken from the top of the address space, released on destruction.
class HighMemory {
public:
    explicit HighMemory(std::size_t size) : size_(size) {
#ifdef _WIN32
        base_ = VirtualAlloc(nullptr, size, MEM_TOP_DOWN | MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
        // A hint far above 4 GB; the kernel may place it elsewhere, which the caller checks.
        void* hint = reinterpret_cast<void*>(std::uintptr_t{0x7F0000000000});
        base_ = mmap(hint, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base_ == MAP_FAILED) base_ = nullptr;
#endif
    }
    ~HighMemory() {
        if (base_ == nullptr) return;
#ifdef _WIN32
        VirtualFree(base_, 0, MEM_RELEASE);
#else
        munmap(base_, size_);
#endif
    }
    HighMemory(const HighMemory&) = delete;
    HighMemory& operator=(const HighMemory&) = delete;

    std::uint8_t* data() const { return static_cast<std::uint8_t*>(base_); }
    std::uint64_t Address() const { return reinterpret_cast<std::uintptr_t>(base_); }
    bool AboveFourGigabytes() const { return base_ != nullptr && Address() >= FourGigabytes; }
    std::string Describe() const {
        std::ostringstream text;
        text << "the system gave this 64-bit process no memory above 4 GB (top-down allocation ";
        if (base_ == nullptr) {
            text << "failed)";
        } else {
            text << "at 0x" << std::hex << Address() << ")";
        }
        return text.str();
    }

private:
    void* base_ = nullptr;
    std::size_t size_ = 0;
};

#define REQUIRE_HIGH(memory)                                                                   \
    do {                                                                                       \
        if (!(memory).AboveFourGigabytes()) GTEST_SKIP() << (memory).Describe();               \
    } while (false)

class HighAddressTest : public ::testing::Test {
protected:
    HighAddressTest()
        : sata(sim::AttachSataDrive(machine, 4)),
          sataHandle(Open(sata.physicalPath)),
          bridge(sim::AttachBridgeDrive(machine, 5)),
          bridgeHandle(Open(bridge.physicalPath)) {}

    platform::UniqueHandle Open(const std::wstring& path) {
        return platform::UniqueHandle::Open(machine, path, platform::AccessRead | platform::AccessWrite,
                                            platform::ShareRead | platform::ShareWrite, platform::OpenExisting,
                                            platform::AttributeNormal);
    }

    sim::SimMachine machine;
    sim::SimSataDrive sata;
    platform::UniqueHandle sataHandle;
    sim::SimBridgeDrive bridge;
    platform::UniqueHandle bridgeHandle;
};

// The layer builds its requests; the caller's buffer lies above 4 GB.
TEST_F(HighAddressTest, DataBuffersAboveFourGigabytesThroughTheLayer) {
    HighMemory memory(1 << 20);
    REQUIRE_HIGH(memory);
    std::uint8_t* identify = memory.data();
    ASSERT_NE(devicecmd::SendAtaCommand(sataHandle.Ref(), 0xEC, 0, 0, identify, 1, devicecmd::DirectionRead, 0xD0,
                                        0xE0, 10, 1),
              0);
    const auto expected = sata.device->IdentifyData();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), identify));

    // Data out: the drive takes the state payload from the high buffer.
    std::uint8_t* payload = memory.data() + 4096;
    const auto bytes = devicecmd::BuildStatePayload(0);
    std::copy(bytes.begin(), bytes.end(), payload);
    ASSERT_NE(devicecmd::SendAtaCommand(sataHandle.Ref(), 0xFD, 0xD7, 0, payload, 1, devicecmd::DirectionWrite, 0xD0,
                                        0xE0, 10, 1),
              0);
    EXPECT_EQ(sata.device->Firmware().OptimizeState(), 0);

    // The direct SCSI request names the caller's buffer by address.
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    std::uint8_t* answer = memory.data() + 8192;
    ASSERT_NE(devicecmd::ScsiPassThroughDirectIn(bridgeHandle.Ref(), inquiry, 6, answer, 36, 10, 1), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(answer + 8), 5), "Tavik");
}

// Requests themselves above 4 GB too, each naming a high data buffer.
TEST_F(HighAddressTest, RequestsAndDataAboveFourGigabytes) {
    HighMemory memory(1 << 20);
    REQUIRE_HIGH(memory);
    std::uint8_t* data = memory.data();
    std::uint8_t* request = memory.data() + 65536;
    std::uint32_t returned = 0;

    const auto ata = devicecmd::BuildAtaRequest(0xEC, 0, 0, memory.Address(), 1, devicecmd::DirectionRead, 0xD0, 0xE0);
    std::copy(ata.begin(), ata.end(), request);
    const auto ataSize = static_cast<std::uint32_t>(ata.size());
    ASSERT_TRUE(machine.IoControl(sataHandle.Ref().handle, sim::IoctlAtaPassThroughDirect, request, ataSize, request,
                                  ataSize, &returned));
    EXPECT_TRUE(devicecmd::AtaReplySucceeded(request));
    const auto expected = sata.device->IdentifyData();
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), data));

    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    std::memset(data, 0, 36);
    const auto scsi = devicecmd::BuildScsiDirectRequest(inquiry, 6, devicecmd::ScsiDataIn, memory.Address(), 36, 10);
    std::copy(scsi.begin(), scsi.end(), request);
    const auto scsiSize = static_cast<std::uint32_t>(scsi.size());
    ASSERT_TRUE(machine.IoControl(bridgeHandle.Ref().handle, sim::IoctlScsiPassThroughDirect, request, scsiSize,
                                  request, scsiSize, &returned));
    EXPECT_TRUE(devicecmd::ScsiReplySucceeded(request));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data + 8), 5), "Tavik");
}

}  // namespace
