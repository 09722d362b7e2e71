// The drive lock's Windows binding against the real (Wine's) mutexes: one holder at a
// time, a bounded wait, and a lock whose holding thread ended handed over as abandoned.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/DriveLockIo.h"

namespace {

std::wstring Name() { return L"Global\\Zephra.Test." + std::to_wstring(::GetCurrentProcessId()); }

struct Held {
    platform::DriveLockIo* io;
    std::wstring name;
    bool end;  // end the thread holding it
    platform::LockWait got = platform::LockWait::Failed;
    HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

DWORD WINAPI HoldIt(void* context) {
    auto* held = static_cast<Held*>(context);
    const platform::Handle lock = held->io->CreateLock(held->name);
    held->got = held->io->Wait(lock, 0);
    ::SetEvent(held->taken);
    if (held->end) return 0;  // ends holding it
    ::WaitForSingleObject(held->release, INFINITE);
    held->io->Release(lock);
    held->io->Close(lock);
    return 0;
}

TEST(SystemDriveLockIo, OneHolderABoundedWaitAndAnAbandonedLock) {
    platform::DriveLockIo& io = platform::SystemDriveLockIo();
    const platform::Handle lock = io.CreateLock(Name());
    ASSERT_NE(lock, nullptr) << io.LastError();

    Held held{&io, Name(), false};
    HANDLE thread = ::CreateThread(nullptr, 0, HoldIt, &held, 0, nullptr);
    ASSERT_EQ(::WaitForSingleObject(held.taken, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(held.got, platform::LockWait::Acquired);
    EXPECT_EQ(io.Wait(lock, 50), platform::LockWait::TimedOut);
    ::SetEvent(held.release);
    ::WaitForSingleObject(thread, 5000);
    ::CloseHandle(thread);
    EXPECT_EQ(io.Wait(lock, 1000), platform::LockWait::Acquired);
    EXPECT_TRUE(io.Release(lock));

    Held crashed{&io, Name(), true};
    thread = ::CreateThread(nullptr, 0, HoldIt, &crashed, 0, nullptr);
    ::WaitForSingleObject(thread, 5000);
    ::CloseHandle(thread);
    EXPECT_EQ(crashed.got, platform::LockWait::Acquired);
    EXPECT_EQ(io.Wait(lock, 1000), platform::LockWait::Abandoned);
    EXPECT_TRUE(io.Release(lock));
    EXPECT_FALSE(io.Release(lock));  // no longer held
    EXPECT_TRUE(io.Close(lock));
}

}  // namespace
