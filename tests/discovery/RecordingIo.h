#pragma once
// A device seam that passes every call on and remembers the opens, reads and seeks.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/DeviceIo.h"

namespace discovery_test {

struct OpenCall {
    std::wstring path;
    std::uint32_t access;
    std::uint32_t share;
    std::uint32_t creation;
    std::uint32_t flags;
    bool ok;
};

class RecordingIo : public platform::DeviceIo {
public:
    explicit RecordingIo(platform::DeviceIo& inner) : inner_(inner) {}

    std::vector<OpenCall> opens;
    std::vector<std::uint32_t> reads;  // sizes asked for
    std::vector<std::int32_t> seeks;
    int closes = 0;

    bool Opened(const std::wstring& path) const {
        for (const auto& open : opens)
            if (open.path == path) return true;
        return false;
    }

    platform::Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                          std::uint32_t flags) override {
        const platform::Handle handle = inner_.Open(path, access, share, creation, flags);
        opens.push_back({std::wstring(path), access, share, creation, flags, platform::IsUsable(handle)});
        return handle;
    }
    bool Close(platform::Handle handle) override {
        ++closes;
        return inner_.Close(handle);
    }
    bool IoControl(platform::Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* bytesReturned) override {
        return inner_.IoControl(handle, code, in, inSize, out, outSize, bytesReturned);
    }
    bool Read(platform::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override {
        reads.push_back(size);
        return inner_.Read(handle, buffer, size, bytesRead);
    }
    std::uint32_t Seek(platform::Handle handle, std::int32_t distance, std::uint32_t origin) override {
        seeks.push_back(distance);
        return inner_.Seek(handle, distance, origin);
    }
    std::uint32_t LastError() override { return inner_.LastError(); }
    void SetLastError(std::uint32_t error) override { inner_.SetLastError(error); }
    void DebugOutput(std::wstring_view text) override { inner_.DebugOutput(text); }

private:
    platform::DeviceIo& inner_;
};

}  // namespace discovery_test
