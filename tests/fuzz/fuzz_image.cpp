// libFuzzer entry point for the image decoder: whatever decodes must be a sane image.
#include <cstddef>
#include <cstdint>

#include "duilib/core/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto image = DuiLib::DecodeImage(data, size);
    if (!image) return 0;
    if (image->width <= 0 || image->height <= 0 ||
        image->pixels.size() != static_cast<std::size_t>(image->width) * image->height) {
        __builtin_trap();
    }
    for (const std::uint32_t pixel : image->pixels) {
        const std::uint32_t alpha = pixel >> 24;
        // Premultiplied: no colour channel exceeds alpha.
        if ((pixel >> 16 & 0xFF) > alpha || (pixel >> 8 & 0xFF) > alpha || (pixel & 0xFF) > alpha) {
            __builtin_trap();
        }
    }
    return 0;
}
