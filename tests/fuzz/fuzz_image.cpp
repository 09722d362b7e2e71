// libFuzzer entry point for the image decoder: whatever decodes must be a sane image, and
// the same image resized on the way (to a size the input's last bytes choose) as well.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "duilib/core/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto image = DuiLib::DecodeImage(data, size);
    if (!image) return 0;
    if (image->width <= 0 || image->height <= 0 ||
        image->pixels.size() != static_cast<std::size_t>(image->width) * image->height) {
        __builtin_trap();
    }
    // Premultiplied: no colour channel exceeds alpha.
    const auto premultiplied = [](const std::vector<std::uint32_t>& pixels) {
        for (const std::uint32_t pixel : pixels) {
            const std::uint32_t alpha = pixel >> 24;
            if ((pixel >> 16 & 0xFF) > alpha || (pixel >> 8 & 0xFF) > alpha || (pixel & 0xFF) > alpha) return false;
        }
        return true;
    };
    if (!premultiplied(image->pixels)) __builtin_trap();

    const int width = 1 + data[size - 1] % 97, height = 1 + data[size / 2] % 61;
    std::vector<std::uint32_t> room(static_cast<std::size_t>(width) * height);
    const auto resized = DuiLib::DecodeImageResizedInto(data, size, [&](int, int) {
        return DuiLib::PixelRoom{room.data(), width, height};
    });
    if (!resized || resized->width != width || resized->height != height || resized->hasAlpha != image->hasAlpha ||
        !premultiplied(room)) {
        __builtin_trap();
    }
    return 0;
}
