#pragma once
// What the main window reads when it opens at a DPI, as its paint manager does it: the
// archive, its layout, and each image it draws, the variant for that scale decoded (and,
// where the variant's pixels are not the control's, resized on the way) into memory of
// the control's size.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "duilib/core/DpiScale.h"
#include "duilib/core/Image.h"
#include "duilib/core/Markup.h"
#include "duilib/core/ZipArchive.h"

namespace bench {

struct DrawnImage {
    const char* name;
    int width, height;  // the control's size at 96 DPI
};
constexpr DrawnImage kMainWindowImages[] = {{"mainWnd.jpg", 700, 490},
                                            {"1btnMinNormal.png", 16, 16},
                                            {"1btnCloseNormal.png", 16, 16},
                                            {"on_normal.png", 159, 38}};

// The scales Windows offers up to 300 %, as DPIs.
constexpr int kWindowsScaleDpis[] = {96, 120, 144, 168, 192, 216, 240, 288};

// False where something cannot be read: the measurement would mean nothing.
inline bool OpenMainWindowImages(const std::vector<std::uint8_t>& package, int dpi) {
    constexpr std::size_t kEntryLimit = 16 * 1024 * 1024;
    const auto archive = DuiLib::ZipArchive::Open(package.data(), package.size());
    if (!archive) return false;
    const auto layout = archive->Read("mainSkin.xml", kEntryLimit);
    if (!layout) return false;
    if (!DuiLib::CMarkup::Parse({reinterpret_cast<const char*>(layout->data()), layout->size()})) return false;
    for (const DrawnImage& d : kMainWindowImages) {
        std::optional<std::vector<std::uint8_t>> bytes;
        for (const DuiLib::ImageScale scale : DuiLib::ImageVariantsFor(dpi)) {
            const std::wstring name(d.name, d.name + std::strlen(d.name));
            const std::wstring wide = DuiLib::ImageVariantName(name, scale);
            bytes = archive->Read(std::string(wide.begin(), wide.end()), kEntryLimit);
            if (bytes) break;
        }
        if (!bytes) return false;
        // Fresh memory each time, as a new bitmap's is.
        std::vector<std::uint32_t> room;
        const int width = DuiLib::ScaleByDpi(d.width, dpi), height = DuiLib::ScaleByDpi(d.height, dpi);
        const auto shape = DuiLib::DecodeImageResizedInto(bytes->data(), bytes->size(), [&](int ownWidth, int ownHeight) {
            // At 96 DPI an image is drawn at its own size, as the window does.
            const int w = dpi == DuiLib::kDesignDpi ? ownWidth : width;
            const int h = dpi == DuiLib::kDesignDpi ? ownHeight : height;
            room.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
            return DuiLib::PixelRoom{room.data(), w, h};
        });
        if (!shape) return false;
    }
    return true;
}

}  // namespace bench
