#pragma once
// Decodes the skin's PNG and JPEG images with stb_image into 32-bit pixels, with the
// colour premultiplied by alpha, ready for per-pixel-alpha drawing.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace DuiLib {

struct DecodedImage {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;  // some pixel is not fully opaque
    // Top-down rows; each pixel alpha << 24 | red << 16 | green << 8 | blue, premultiplied.
    std::vector<std::uint32_t> pixels;
};

// Nothing for input it cannot decode as PNG or JPEG, or that would be larger
// than 4096 x 4096 pixels. Ancillary PNG chunks (text of any size) are skipped.
std::optional<DecodedImage> DecodeImage(const std::uint8_t* data, std::size_t size);

// The same decoding, with the pixels written where the caller keeps them (a bitmap's own
// memory, say), so that a large image is not held twice. `place` is called once, with
// the image's size, and returns room for width * height pixels, or null to give up.
struct ImageShape {
    int width = 0;
    int height = 0;
    bool hasAlpha = false;
};
using PixelPlace = std::function<std::uint32_t*(int width, int height)>;
std::optional<ImageShape> DecodeImageInto(const std::uint8_t* data, std::size_t size, const PixelPlace& place);

// The same, with the pixels resized on the way where the caller wants another size (a
// variant drawn at another scale than the window's): `place` is called once, with the
// image's own size, and returns room for the pixels and the size they are to have there
// (ImageResample.h's area averaging), or no pixels to give up. The shape returned is the
// room's; nothing for a size the resampler refuses.
struct PixelRoom {
    std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};
using SizedPlace = std::function<PixelRoom(int width, int height)>;
std::optional<ImageShape> DecodeImageResizedInto(const std::uint8_t* data, std::size_t size, const SizedPlace& place);

}  // namespace DuiLib
