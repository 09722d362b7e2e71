#include "optimize/DriveLock.h"

#include <utility>

std::wstring DriveLockName(std::int32_t disk) { return L"Global\\Zephra.PhysicalDrive" + std::to_wstring(disk); }

DriveLock DriveLock::Take(platform::DriveLockIo* locks, std::int32_t disk, std::uint32_t waitMs) {
    DriveLock lock;
    if (!locks) return lock;
    lock.locks_ = locks;
    lock.handle_ = locks->CreateLock(DriveLockName(disk));
    if (!platform::IsUsable(lock.handle_)) {
        lock.handle_ = nullptr;
        lock.state_ = State::Failed;
        lock.errorCode_ = locks->LastError();
        return lock;
    }
    switch (locks->Wait(lock.handle_, waitMs)) {
        case platform::LockWait::Acquired:
            lock.state_ = State::Held;
            lock.held_ = true;
            break;
        case platform::LockWait::Abandoned:
            // The holder ended mid-conversation; the drive answers each command on its own,
            // so the next one may start.
            lock.state_ = State::TakenOver;
            lock.held_ = true;
            break;
        case platform::LockWait::TimedOut:
            lock.state_ = State::Busy;
            lock.errorCode_ = ErrorDriveBusy;
            break;
        case platform::LockWait::Failed:
            lock.state_ = State::Failed;
            lock.errorCode_ = locks->LastError();
            break;
    }
    return lock;
}

DriveLock::DriveLock(DriveLock&& other) noexcept
    : locks_(other.locks_),
      handle_(std::exchange(other.handle_, nullptr)),
      held_(std::exchange(other.held_, false)),
      state_(other.state_),
      errorCode_(other.errorCode_) {}

DriveLock::~DriveLock() {
    if (!handle_) return;
    if (held_) locks_->Release(handle_);
    locks_->Close(handle_);
}
