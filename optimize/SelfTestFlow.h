#pragma once
// The drive's self-test without a window: the drive opened as the switch opens it, asked
// whether it offers the test, the test started or aborted, and followed through its log
// until it ends. The command line uses it now; a window can use the same steps.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "devicecmd/SelfTest.h"
#include "discovery/DiskInfo.h"
#include "platform/DeviceIo.h"

// What identify controller says about the test.
struct SelfTestSupport {
    bool offered = false;              // OACS bit 4
    std::uint16_t extendedMinutes = 0; // EDSTT: the drive's stated extended test time
};

// One drive, open for the length of the object.
class SelfTestDrive {
public:
    SelfTestDrive(const discovery::DiskInfo& drive, platform::DeviceIo& io);

    // False with the system's error when the drive could not be opened.
    bool Opened() const { return handle_.IsUsable(); }
    std::uint32_t OpenError() const { return openError_; }
    // None (the error in LastError) when identify failed.
    std::optional<SelfTestSupport> Support();
    // 1 when the drive took the command; 0 with the error in LastError.
    int Send(devicecmd::SelfTestAction action);
    // The log read and decoded, and its bytes; none (the error in LastError) when it was
    // refused or came back short.
    std::optional<devicecmd::SelfTestLog> ReadLog(devicecmd::SelfTestLogBytes* bytes = nullptr);
    std::uint32_t LastError() const { return io_.LastError(); }

private:
    const discovery::DiskInfo& drive_;
    platform::DeviceIo& io_;
    platform::UniqueHandle handle_;
    std::uint32_t openError_ = 0;
};

// The drive as the switch and the self-test reach it: the physical drive, or the miniport's
// adapter; an unusable handle for a path without NVMe commands.
platform::UniqueHandle OpenDriveForNvme(const discovery::DiskInfo& drive, platform::DeviceIo& io);

// How following a test ended.
enum class FollowEnd {
    Ended,      // the drive runs no test any more; the log read last is in `log`
    LogFailed,  // a read of the log failed: the error is the drive's LastError
    TooLong,    // still running after the most waits allowed: a drive that never ends is left
};

struct FollowResult {
    FollowEnd end = FollowEnd::Ended;
    std::optional<devicecmd::SelfTestLog> log;
    std::uint32_t reads = 0;
};

// Follows the running test: one log read, then, while the drive still runs a test, one
// wait of pollMs and the next read. progress hears each read that shows a test running.
// At most one read per wait: the drive is asked no faster than pollMs. After maxWaits
// waits with the test still running it stops (TooLong). waitFirst: a wait comes before the
// first read too (right after a start, so that a drive slow to show its new test is not
// read as one that ran none).
constexpr std::uint32_t SelfTestPollMs = 1000;
FollowResult FollowSelfTest(SelfTestDrive& drive, const std::function<void(std::uint32_t ms)>& wait,
                            const std::function<void(const devicecmd::SelfTestLog&)>& progress,
                            std::uint32_t maxWaits, bool waitFirst, std::uint32_t pollMs = SelfTestPollMs);
// The waits allowed for a test: three times its expected time (the extended test's as the
// drive states it, at least 30 minutes; the short test's 2 minutes) and ten minutes more.
std::uint32_t SelfTestMaxWaits(std::uint8_t testCode, std::uint16_t extendedMinutes,
                               std::uint32_t pollMs = SelfTestPollMs);

// The result this program's test left: the newest entry, when the results differ from
// those before the test began (the drive adds one at the front, dropping the oldest of 20).
const devicecmd::SelfTestEntry* NewResult(const devicecmd::SelfTestLog& before, const devicecmd::SelfTestLog& after);
