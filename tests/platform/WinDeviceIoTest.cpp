#include <windows.h>

#include <gtest/gtest.h>

#include "platform/DeviceIo.h"

namespace {

// A retry line written between a failed device call and its caller must leave the
// failed call's error code in place.
TEST(SystemDeviceIo, DebugOutputKeepsTheLastError) {
    platform::DeviceIo& io = platform::SystemDeviceIo();
    ::SetLastError(ERROR_IO_DEVICE);
    io.DebugOutput(L"r1 retry 1\n");
    EXPECT_EQ(io.LastError(), static_cast<std::uint32_t>(ERROR_IO_DEVICE));
}

TEST(SystemDeviceIo, FailedOpenLeavesTheSystemsReason) {
    platform::DeviceIo& io = platform::SystemDeviceIo();
    const platform::UniqueHandle handle = platform::UniqueHandle::Open(
        io, L"\\\\.\\ZephraNoSuchDevice", platform::AccessRead | platform::AccessWrite,
        platform::ShareRead | platform::ShareWrite, platform::OpenExisting, platform::AttributeNormal);
    EXPECT_FALSE(handle.IsUsable());
    EXPECT_NE(io.LastError(), 0u);
}

}  // namespace
