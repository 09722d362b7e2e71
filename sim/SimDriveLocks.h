#pragma once
// The simulated machine's named locks behind the drive lock seam. One SimLockTable is the
// machine's namespace; each SimDriveLocks is one process's view of it, so that tests can
// run a window and a service side by side on threads, and end a process without its
// releasing what it holds (the next waiter then gets the lock as abandoned, as Windows
// hands over a mutex whose owner ended). As a mutex, a lock belongs to the thread that
// took it. Waits are real: a thread blocks until the lock is
// released or the time is up.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/DriveLockIo.h"

namespace sim {

class SimLockTable {
public:
    // Every lock operation as "process Name lock -> outcome", in order.
    std::vector<std::string> Calls() const;
    // Threads waiting on the named lock now.
    int Waiters(const std::wstring& name) const;

private:
    friend class SimDriveLocks;
    struct Lock {
        const void* owner = nullptr;  // the holding process, or none
        std::thread::id thread;       // and its thread: a mutex belongs to a thread
        int depth = 0;                // a holder may take it again
        bool abandoned = false;       // its holder ended holding it
        int waiters = 0;
        int handles = 0;
    };
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::wstring, Lock> locks_;
    std::vector<std::string> calls_;
};

class SimDriveLocks : public platform::DriveLockIo {
public:
    SimDriveLocks(SimLockTable& table, std::string process) : table_(table), process_(std::move(process)) {}
    ~SimDriveLocks() override;

    // The process ends without releasing: what it holds is abandoned.
    void End();
    std::uint32_t refuseCreate = 0;  // the next CreateLock fails with this code
    // A wait lasts at most this long in real time, and then reports the time it was given as
    // up: a test sees a 10-second wait run out without waiting 10 seconds.
    std::uint32_t realWaitCapMs = 0xFFFFFFFF;

    platform::Handle CreateLock(std::wstring_view name) override;
    platform::LockWait Wait(platform::Handle lock, std::uint32_t milliseconds) override;
    bool Release(platform::Handle lock) override;
    bool Close(platform::Handle lock) override;
    std::uint32_t LastError() override { return lastError_; }

private:
    const std::wstring* NameOf(platform::Handle lock) const;
    void Record(const std::string& call);

    SimLockTable& table_;
    std::string process_;
    std::map<std::uintptr_t, std::wstring> handles_;  // this process's handles
    std::uintptr_t nextHandle_ = 0x9000;
    bool ended_ = false;
    thread_local static std::uint32_t lastError_;
};

}  // namespace sim
