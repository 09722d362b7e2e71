#include "sim/SimDriveLocks.h"

#include <algorithm>
#include <chrono>

namespace sim {
namespace {

constexpr std::uint32_t ErrorInvalidHandle = 6;
constexpr std::uint32_t ErrorNotOwner = 288;

std::string Ascii(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace

thread_local std::uint32_t SimDriveLocks::lastError_ = 0;

std::vector<std::string> SimLockTable::Calls() const {
    const std::lock_guard<std::mutex> hold(mutex_);
    return calls_;
}

int SimLockTable::Waiters(const std::wstring& name) const {
    const std::lock_guard<std::mutex> hold(mutex_);
    const auto found = locks_.find(name);
    return found == locks_.end() ? 0 : found->second.waiters;
}

SimDriveLocks::~SimDriveLocks() { End(); }

void SimDriveLocks::Record(const std::string& call) { table_.calls_.push_back(process_ + " " + call); }

void SimDriveLocks::End() {
    const std::lock_guard<std::mutex> hold(table_.mutex_);
    if (ended_) return;
    ended_ = true;
    for (auto& entry : table_.locks_) {
        if (entry.second.owner != this) continue;
        entry.second.owner = nullptr;
        entry.second.depth = 0;
        entry.second.abandoned = true;
        Record("ended holding " + Ascii(entry.first));
    }
    for (const auto& handle : handles_) --table_.locks_[handle.second].handles;
    handles_.clear();
    table_.changed_.notify_all();
}

const std::wstring* SimDriveLocks::NameOf(platform::Handle lock) const {
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(lock));
    return found == handles_.end() ? nullptr : &found->second;
}

platform::Handle SimDriveLocks::CreateLock(std::wstring_view name) {
    const std::lock_guard<std::mutex> hold(table_.mutex_);
    const std::wstring key(name);
    if (refuseCreate) {
        lastError_ = refuseCreate;
        refuseCreate = 0;
        Record("CreateLock " + Ascii(key) + " -> error " + std::to_string(lastError_));
        return nullptr;
    }
    ++table_.locks_[key].handles;
    const std::uintptr_t handle = nextHandle_ += 4;
    handles_[handle] = key;
    Record("CreateLock " + Ascii(key) + " -> ok");
    return reinterpret_cast<platform::Handle>(handle);
}

platform::LockWait SimDriveLocks::Wait(platform::Handle handle, std::uint32_t milliseconds) {
    std::unique_lock<std::mutex> hold(table_.mutex_);
    const std::wstring* name = NameOf(handle);
    if (!name) {
        lastError_ = ErrorInvalidHandle;
        return platform::LockWait::Failed;
    }
    SimLockTable::Lock& lock = table_.locks_[*name];
    const std::thread::id self = std::this_thread::get_id();
    auto free = [&] { return lock.owner == nullptr || (lock.owner == this && lock.thread == self); };
    if (!free()) {
        ++lock.waiters;
        table_.changed_.notify_all();  // a test may wait for the waiter to be there
        table_.changed_.wait_for(hold, std::chrono::milliseconds(std::min(milliseconds, realWaitCapMs)), free);
        --lock.waiters;
    }
    if (!free()) {
        Record("Wait " + Ascii(*name) + " " + std::to_string(milliseconds) + " -> timed out");
        return platform::LockWait::TimedOut;
    }
    const bool abandoned = lock.abandoned && lock.owner == nullptr;
    lock.owner = this;
    lock.thread = self;
    ++lock.depth;
    lock.abandoned = false;
    Record("Wait " + Ascii(*name) + " " + std::to_string(milliseconds) + (abandoned ? " -> abandoned" : " -> acquired"));
    return abandoned ? platform::LockWait::Abandoned : platform::LockWait::Acquired;
}

bool SimDriveLocks::Release(platform::Handle handle) {
    const std::lock_guard<std::mutex> hold(table_.mutex_);
    const std::wstring* name = NameOf(handle);
    if (!name || table_.locks_[*name].owner != this || table_.locks_[*name].thread != std::this_thread::get_id()) {
        lastError_ = name ? ErrorNotOwner : ErrorInvalidHandle;
        return false;
    }
    SimLockTable::Lock& lock = table_.locks_[*name];
    if (--lock.depth == 0) lock.owner = nullptr;
    Record("Release " + Ascii(*name));
    table_.changed_.notify_all();
    return true;
}

bool SimDriveLocks::Close(platform::Handle handle) {
    const std::lock_guard<std::mutex> hold(table_.mutex_);
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end()) {
        lastError_ = ErrorInvalidHandle;
        return false;
    }
    --table_.locks_[found->second].handles;
    handles_.erase(found);
    return true;
}

}  // namespace sim
