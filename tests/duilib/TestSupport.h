#pragma once
// Helpers of the skin library's tests: a render target that records what controls draw,
// and an in-memory ZIP writer for package fixtures.

#include <zlib.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "duilib/core/RenderTarget.h"

namespace DuiLib::testing {

struct DrawCall {
    enum Kind { Fill, Frame, Image, Text } kind;
    UiRect rect;
    std::wstring what;  // image name or text
    Argb color = 0;
    int fontId = 0;
    unsigned style = 0;
    int width = 0;
};

class RecordingTarget : public IRenderTarget {
public:
    void FillColor(const UiRect& rect, Argb color) override { calls.push_back({DrawCall::Fill, rect, {}, color}); }
    void DrawFrame(const UiRect& rect, int width, Argb color) override {
        calls.push_back({DrawCall::Frame, rect, {}, color, 0, 0, width});
    }
    void DrawImage(const std::wstring& name, const UiRect& rect) override {
        calls.push_back({DrawCall::Image, rect, name});
    }
    void DrawText(const UiRect& rect, std::wstring_view text, int fontId, Argb color, unsigned style) override {
        calls.push_back({DrawCall::Text, rect, std::wstring(text), color, fontId, style});
    }

    std::vector<std::wstring> Images() const {
        std::vector<std::wstring> names;
        for (const auto& c : calls)
            if (c.kind == DrawCall::Image) names.push_back(c.what);
        return names;
    }

    std::vector<DrawCall> calls;
};

// A ZIP archive of stored entries, enough for the package tests.
inline std::vector<std::uint8_t> MakeZip(const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> central;
    auto put16 = [](std::vector<std::uint8_t>& v, std::uint32_t x) {
        v.push_back(static_cast<std::uint8_t>(x));
        v.push_back(static_cast<std::uint8_t>(x >> 8));
    };
    auto put32 = [&](std::vector<std::uint8_t>& v, std::uint32_t x) {
        put16(v, x & 0xFFFF);
        put16(v, x >> 16);
    };
    for (const auto& [name, data] : files) {
        const auto offset = static_cast<std::uint32_t>(out.size());
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        const auto size = static_cast<std::uint32_t>(data.size());
        put32(out, 0x04034b50);
        put16(out, 20); put16(out, 0); put16(out, 0); put16(out, 0); put16(out, 0);
        put32(out, crc); put32(out, size); put32(out, size);
        put16(out, static_cast<std::uint32_t>(name.size())); put16(out, 0);
        out.insert(out.end(), name.begin(), name.end());
        out.insert(out.end(), data.begin(), data.end());

        put32(central, 0x02014b50);
        put16(central, 20); put16(central, 20); put16(central, 0); put16(central, 0);
        put16(central, 0); put16(central, 0);
        put32(central, crc); put32(central, size); put32(central, size);
        put16(central, static_cast<std::uint32_t>(name.size()));
        put16(central, 0); put16(central, 0); put16(central, 0); put16(central, 0);
        put32(central, 0); put32(central, offset);
        central.insert(central.end(), name.begin(), name.end());
    }
    const auto centralOffset = static_cast<std::uint32_t>(out.size());
    out.insert(out.end(), central.begin(), central.end());
    put32(out, 0x06054b50);
    put16(out, 0); put16(out, 0);
    put16(out, static_cast<std::uint32_t>(files.size())); put16(out, static_cast<std::uint32_t>(files.size()));
    put32(out, static_cast<std::uint32_t>(central.size())); put32(out, centralOffset);
    put16(out, 0);
    return out;
}

}  // namespace DuiLib::testing

namespace DuiLib::testing {

// The source tree's skin folder, as the resource folder wants it.
inline std::wstring SourceSkinFolder() {
    const std::string folder = ZEPHRA_SOURCE_DIR "/skin/";
    return std::wstring(folder.begin(), folder.end());
}

}  // namespace DuiLib::testing
