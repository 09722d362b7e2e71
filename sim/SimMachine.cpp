#include "sim/SimMachine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>

#include "sim/SimLayouts.h"

namespace sim {
namespace {

constexpr std::uint32_t SectorBytes = 512;

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
    return narrow;
}

const char* NameOf(std::uint32_t code) {
    switch (code) {
        case IoctlStorageQueryProperty: return "STORAGE_QUERY_PROPERTY";
        case IoctlStorageProtocolCommand: return "STORAGE_PROTOCOL_COMMAND";
        case IoctlScsiPassThrough: return "SCSI_PASS_THROUGH";
        case IoctlScsiMiniport: return "SCSI_MINIPORT";
        case IoctlScsiGetAddress: return "SCSI_GET_ADDRESS";
        case IoctlScsiPassThroughDirect: return "SCSI_PASS_THROUGH_DIRECT";
        case IoctlAtaPassThroughDirect: return "ATA_PASS_THROUGH_DIRECT";
        case IoctlStorageGetDeviceNumber: return "STORAGE_GET_DEVICE_NUMBER";
        case IoctlDiskGetDriveGeometryEx: return "DISK_GET_DRIVE_GEOMETRY_EX";
        default: return "?";
    }
}

std::string Hex(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t count) {
    std::string text;
    char digits[4];
    for (std::size_t i = from; i < bytes.size() && i < from + count; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        if (!text.empty()) text += ' ';
        text += digits;
    }
    return text;
}

}  // namespace

std::string FormatTraceEntry(const SimTraceEntry& entry) {
    char head[160];
    std::snprintf(head, sizeof head, "0x%08X %-26s in %5zu out %5zu -> ", static_cast<unsigned>(entry.code),
                  NameOf(entry.code), entry.request.size(), entry.reply.size());
    std::string line = Narrow(entry.path) + " " + head;
    if (entry.ok) {
        line += "ok";
    } else {
        char error[32];
        std::snprintf(error, sizeof error, "error %u", static_cast<unsigned>(entry.error));
        line += error;
    }
    // The part of the request that says what was asked: CDB for SCSI, command for NVMe.
    if (entry.code == IoctlScsiPassThrough || entry.code == IoctlScsiPassThroughDirect)
        line += "  cdb " + Hex(entry.request, 28, entry.request.size() > 6 ? entry.request[6] : 0);
    else if (entry.code == IoctlStorageProtocolCommand)
        line += "  cmd " + Hex(entry.request, 80, 4) + " .. " + Hex(entry.request, 80 + 60, 4);
    else if (entry.code == IoctlScsiMiniport) {
        // "NvmeMini" has the command at 52, RST's "IntelNvm" at 32.
        const bool rst = entry.request.size() >= SrbSignature + 8 &&
                         std::memcmp(&entry.request[SrbSignature], "IntelNvm", 8) == 0;
        const std::size_t at = rst ? 32 : 52;
        line += "  cmd " + Hex(entry.request, at, 4) + " .. " + Hex(entry.request, at + 60, 4);
    }
    else if (entry.code == IoctlAtaPassThroughDirect)
        line += "  taskfile " + Hex(entry.request, 32, 8);
    return line;
}

std::wstring SimMachine::KeyOf(std::wstring_view path) {
    std::wstring key(path);
    for (auto& c : key) c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    return key;
}

void SimMachine::Attach(std::wstring_view path, std::shared_ptr<SimEndpoint> endpoint) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    devices_[KeyOf(path)] = Attached{std::wstring(path), std::move(endpoint), nextGeneration_++};
}

void SimMachine::Detach(std::wstring_view path) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    devices_.erase(KeyOf(path));
}

void SimMachine::RefuseIoControl(std::wstring_view path, std::uint32_t code, std::uint32_t error,
                                 std::uint32_t times) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Refusal refusal{KeyOf(path), code, error, {}};
    refusal.count.Arm(times);
    ioRefusals_.push_back(refusal);
}

void SimMachine::RefuseOpen(std::wstring_view path, std::uint32_t error, std::uint32_t times) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Refusal refusal{KeyOf(path), 0, error, {}};
    refusal.count.Arm(times);
    openRefusals_.push_back(refusal);
}

void SimMachine::CutReplies(std::wstring_view path, std::uint32_t code, std::uint32_t keep, std::uint32_t times) {
    CutReplies(
        path,
        [code, keep](std::uint32_t callCode, const std::uint8_t*, std::uint32_t) -> std::optional<std::uint32_t> {
            if (code != 0 && code != callCode) return std::nullopt;
            return keep;
        },
        times);
}

void SimMachine::CutReplies(std::wstring_view path, SimReplyCut cut, std::uint32_t times) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Cut entry{KeyOf(path), std::move(cut), {}};
    entry.count.Arm(times);
    cuts_.push_back(std::move(entry));
}

void SimMachine::BeforeOpen(std::wstring_view path, std::uint32_t access, std::uint32_t nth,
                            std::function<void()> action) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    openActions_.push_back({KeyOf(path), access, nth, std::move(action)});
}

void SimMachine::ClearRefusals() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    ioRefusals_.clear();
    openRefusals_.clear();
    cuts_.clear();
}

std::optional<std::uint32_t> SimMachine::TakeCut(const std::wstring& key, std::uint32_t code,
                                                 const std::vector<std::uint8_t>& in) {
    for (auto& cut : cuts_) {
        if (!cut.key.empty() && cut.key != key) continue;
        if (!cut.count.Armed()) continue;
        const std::optional<std::uint32_t> keep = cut.cut(code, in.data(), static_cast<std::uint32_t>(in.size()));
        if (keep && cut.count.Fire()) return keep;
    }
    return std::nullopt;
}

std::vector<SimTraceEntry> SimMachine::Trace() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return trace_;
}

void SimMachine::ClearTrace() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    trace_.clear();
}

void SimMachine::KeepTrace(bool keep) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    keepTrace_ = keep;
}

void SimMachine::Reset() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    devices_.clear();
    handles_.clear();
    ioRefusals_.clear();
    openRefusals_.clear();
    cuts_.clear();
    trace_.clear();
    debugLines_.clear();
    lastError_.clear();
    nextGeneration_ = 1;
    nextHandle_ = 0x1000;
}

std::vector<std::wstring> SimMachine::DebugLines() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return debugLines_;
}

std::size_t SimMachine::OpenHandleCount() const {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return handles_.size();
}

void SimMachine::SetLastError(std::uint32_t error) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    lastError_[std::this_thread::get_id()] = error;
}

std::uint32_t SimMachine::LastError() {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const auto found = lastError_.find(std::this_thread::get_id());
    return found == lastError_.end() ? ErrorSuccess : found->second;
}

bool SimMachine::Fail(std::uint32_t error) {
    SetLastError(error);
    return false;
}

std::uint32_t SimMachine::TakeRefusal(std::vector<Refusal>& refusals, const std::wstring& key, std::uint32_t code) {
    for (auto& refusal : refusals) {
        if ((refusal.key.empty() || refusal.key == key) && (refusal.code == 0 || refusal.code == code) &&
            refusal.count.Fire())
            return refusal.error;
    }
    return ErrorSuccess;
}

platform::Handle SimMachine::Open(std::wstring_view path, std::uint32_t access, std::uint32_t /*share*/,
                                  std::uint32_t creation, std::uint32_t /*flagsAndAttributes*/) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::wstring key = KeyOf(path);
    for (std::size_t i = 0; i < openActions_.size(); ++i) {
        OpenAction& pending = openActions_[i];
        if (pending.key != key || pending.access != access || pending.remaining == 0) continue;
        if (--pending.remaining == 0 && pending.action) {
            const std::function<void()> action = std::move(pending.action);
            action();  // the lock is recursive: the action may attach and detach
        }
    }
    if (const std::uint32_t error = TakeRefusal(openRefusals_, key, 0)) {
        Fail(error);
        return platform::InvalidHandle();
    }
    const auto device = devices_.find(key);
    if (device == devices_.end()) {
        Fail(ErrorFileNotFound);
        return platform::InvalidHandle();
    }
    if (creation != platform::OpenExisting) {
        Fail(ErrorAccessDenied);  // devices cannot be created
        return platform::InvalidHandle();
    }
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_[value] = OpenHandle{key, device->second.generation, access};
    return reinterpret_cast<platform::Handle>(value);
}

bool SimMachine::Close(platform::Handle handle) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) return Fail(ErrorInvalidHandle);
    return true;
}

SimEndpoint* SimMachine::Resolve(platform::Handle handle, OpenHandle** open) {
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end()) {
        Fail(ErrorInvalidHandle);
        return nullptr;
    }
    const auto device = devices_.find(found->second.key);
    if (device == devices_.end() || device->second.generation != found->second.generation) {
        Fail(ErrorDeviceNotConnected);
        return nullptr;
    }
    *open = &found->second;
    return device->second.endpoint.get();
}

bool SimMachine::IoControl(platform::Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize,
                           void* out, std::uint32_t outSize, std::uint32_t* bytesReturned) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (bytesReturned != nullptr) *bytesReturned = 0;
    OpenHandle* open = nullptr;
    SimEndpoint* endpoint = Resolve(handle, &open);
    if (endpoint == nullptr) return false;

    SimTraceEntry entry;
    if (keepTrace_) {
        entry.path = devices_[open->key].path;
        entry.code = code;
    }
    // The stack gets a copy of the request: it may write its reply over the caller's buffer.
    std::vector<std::uint8_t>& request = keepTrace_ ? entry.request : request_;
    if (in != nullptr)
        request.assign(static_cast<const std::uint8_t*>(in), static_cast<const std::uint8_t*>(in) + inSize);
    else
        request.clear();

    SimResult result;
    const std::uint32_t required = RequiredAccessOf(code);
    const bool mayRead = (open->access & platform::AccessRead) != 0;
    const bool mayWrite = (open->access & platform::AccessWrite) != 0;
    if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0)) {
        result = SimResult::Failure(ErrorInvalidParameter);
    } else if (((required & ControlAccessRead) && !mayRead) || ((required & ControlAccessWrite) && !mayWrite)) {
        result = SimResult::Failure(ErrorAccessDenied);
    } else if (const std::uint32_t error = TakeRefusal(ioRefusals_, open->key, code)) {
        result = SimResult::Failure(error);
    } else {
        const std::optional<std::uint32_t> keep = TakeCut(open->key, code, request);
        auto* outBytes = static_cast<std::uint8_t*>(out);
        std::vector<std::uint8_t> before;
        if (keep && outBytes != nullptr) before.assign(outBytes, outBytes + outSize);
        SimCall call{code, request.data(), inSize, outBytes, outSize};
        result = endpoint->IoControl(call);
        if (result.ok) result.bytesReturned = std::min(result.bytesReturned, outSize);
        if (result.ok && keep && *keep < result.bytesReturned) {
            // What the driver did not hand back never reached the caller's buffer.
            std::copy(before.begin() + *keep, before.end(), outBytes + *keep);
            result.bytesReturned = *keep;
        }
    }

    if (keepTrace_) {
        entry.ok = result.ok;
        entry.error = result.ok ? ErrorSuccess : result.error;
        if (result.ok && out != nullptr)
            entry.reply.assign(static_cast<std::uint8_t*>(out), static_cast<std::uint8_t*>(out) + result.bytesReturned);
        trace_.push_back(std::move(entry));
    }

    if (!result.ok) return Fail(result.error);
    if (bytesReturned != nullptr) *bytesReturned = result.bytesReturned;
    return true;
}

bool SimEndpoint::ReadMedia(std::uint64_t position, std::uint8_t* out, std::uint32_t size, std::uint32_t& count) {
    count = 0;
    const std::vector<std::uint8_t>* media = Media();
    if (media == nullptr) return false;
    const std::uint64_t available = position < media->size() ? media->size() - position : 0;
    count = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, available));
    if (count != 0) std::memcpy(out, media->data() + position, count);
    return true;
}

bool SimMachine::Read(platform::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (bytesRead != nullptr) *bytesRead = 0;
    OpenHandle* open = nullptr;
    SimEndpoint* endpoint = Resolve(handle, &open);
    if (endpoint == nullptr) return false;
    if ((open->access & platform::AccessRead) == 0) return Fail(ErrorAccessDenied);
    // Raw disks read whole sectors from sector boundaries.
    const bool aligned =
        size % SectorBytes == 0 && open->position % SectorBytes == 0 && (buffer != nullptr || size == 0);
    std::uint32_t count = 0;
    // Whether there is a medium at all comes before whether the request fits it: an
    // unaligned request asks for nothing.
    if (!endpoint->ReadMedia(open->position, aligned ? static_cast<std::uint8_t*>(buffer) : nullptr,
                             aligned ? size : 0, count))
        return Fail(ErrorInvalidFunction);
    if (!aligned) return Fail(ErrorInvalidParameter);
    open->position += count;
    if (bytesRead != nullptr) *bytesRead = count;
    return true;
}

std::uint32_t SimMachine::Seek(platform::Handle handle, std::int32_t distance, std::uint32_t origin) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    OpenHandle* open = nullptr;
    if (Resolve(handle, &open) == nullptr) return 0xFFFFFFFF;
    if (origin != platform::SeekBegin || distance < 0) {
        Fail(ErrorInvalidParameter);
        return 0xFFFFFFFF;
    }
    open->position = static_cast<std::uint64_t>(distance);
    return static_cast<std::uint32_t>(distance);
}

void SimMachine::DebugOutput(std::wstring_view text) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    debugLines_.emplace_back(text);
}

}  // namespace sim

