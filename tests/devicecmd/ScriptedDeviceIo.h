#pragma once
// A scripted device seam: each expected IoControl call names its control code, the
// request bytes to compare, and the reply bytes, result and last error to hand back.
// Calls out of script fail the test.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DeviceIo.h"

namespace devicecmd_test {

using Bytes = std::vector<std::uint8_t>;

// "85 09 0E" -> {0x85, 0x09, 0x0E}
Bytes Hex(std::string_view text);
Bytes Le32(std::uint32_t value);
Bytes Le16(std::uint16_t value);
// The low `size` bytes of value, little-endian.
Bytes LeN(std::uint64_t value, std::size_t size);

// Where the direct SCSI and the ATA requests carry the caller's buffer address in this
// process: after the 4-byte-aligned head, at the first multiple of the pointer size.
constexpr std::size_t BufferAddressAt = sizeof(void*) == 8 ? 24 : 20;
// count bytes of value
Bytes Fill(std::size_t count, std::uint8_t value);
// A recognisable pattern: byte i is (i * 7 + seed) mod 256.
Bytes Pattern(std::size_t count, std::uint8_t seed = 1);
// "85 09 0E": readable in failure messages.
std::string ToHex(const Bytes& bytes);
std::uint32_t ReadLe32(const Bytes& bytes, std::size_t offset);

class ScriptedDeviceIo : public platform::DeviceIo {
public:
    class Step {
    public:
        Step& InSize(std::uint32_t size);
        Step& OutSize(std::uint32_t size);
        // The request must carry these bytes at this offset.
        Step& Expect(std::size_t offset, Bytes bytes);
        Step& ExpectU32(std::size_t offset, std::uint32_t value) { return Expect(offset, Le32(value)); }
        // A pointer-sized field holding the address of `buffer`.
        Step& ExpectAddress(std::size_t offset, const void* buffer) {
            return Expect(offset, LeN(reinterpret_cast<std::uintptr_t>(buffer), sizeof(void*)));
        }
        // Written into the output buffer before the call returns.
        Step& Reply(std::size_t offset, Bytes bytes);
        Step& ReplyU32(std::size_t offset, std::uint32_t value) { return Reply(offset, Le32(value)); }
        // Written to the caller's buffer whose address the request carries at
        // BufferAddressAt (direct SCSI and ATA requests).
        Step& ReplyToDataBuffer(Bytes bytes);
        // The caller's buffer named at BufferAddressAt must hold these bytes when the call comes.
        Step& ExpectDataBuffer(Bytes bytes);
        // The call fails and leaves this last-error value.
        Step& Fail(std::uint32_t error);
        // The count the call hands back (the whole output by default).
        Step& Returned(std::uint32_t count);

    private:
        friend class ScriptedDeviceIo;
        std::uint32_t code_ = 0;
        std::int64_t inSize_ = -1;
        std::int64_t outSize_ = -1;
        std::vector<std::pair<std::size_t, Bytes>> expected_;
        std::vector<std::pair<std::size_t, Bytes>> reply_;
        Bytes toDataBuffer_;
        Bytes inDataBuffer_;
        bool succeed_ = true;
        std::uint32_t error_ = 0;
        std::int64_t returned_ = -1;
    };

    struct Call {
        std::uint32_t code = 0;
        Bytes request;  // the input as it was passed
        std::uint32_t outSize = 0;
    };

    ScriptedDeviceIo() = default;
    ~ScriptedDeviceIo() override;
    ScriptedDeviceIo(const ScriptedDeviceIo&) = delete;
    ScriptedDeviceIo& operator=(const ScriptedDeviceIo&) = delete;

    // Appends an expected call.
    Step& On(std::uint32_t code);

    platform::Device Device() { return platform::Device{this, DriveHandle()}; }
    // Calls must come on this handle (the drive's by default).
    void ExpectHandle(platform::Handle handle) { expectedHandle_ = handle; }
    static platform::Handle DriveHandle() { return reinterpret_cast<platform::Handle>(std::uintptr_t{0x5A0}); }

    const std::vector<Call>& Calls() const { return calls_; }
    const std::vector<std::wstring>& DebugLines() const { return debugLines_; }
    std::size_t Pending() const { return steps_.size() - next_; }

    // platform::DeviceIo
    platform::Handle Open(std::wstring_view, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) override;
    bool Close(platform::Handle) override;
    bool IoControl(platform::Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* bytesReturned) override;
    bool Read(platform::Handle, void*, std::uint32_t, std::uint32_t*) override;
    std::uint32_t Seek(platform::Handle, std::int32_t, std::uint32_t) override;
    std::uint32_t LastError() override { return lastError_; }
    void SetLastError(std::uint32_t error) override { lastError_ = error; }
    void DebugOutput(std::wstring_view text) override { debugLines_.emplace_back(text); }

private:
    std::deque<Step> steps_;
    std::size_t next_ = 0;
    std::vector<Call> calls_;
    std::vector<std::wstring> debugLines_;
    std::uint32_t lastError_ = 0;
    platform::Handle expectedHandle_ = DriveHandle();
};

}  // namespace devicecmd_test
