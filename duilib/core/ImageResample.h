#pragma once
// Resizing a decoded skin image to the pixels a control gives it at the window's scale.
// Area averaging: each new pixel is the mean of the old pixels it covers, weighted by how
// much of each it covers. On premultiplied colour, so a transparent pixel adds nothing
// of its colour to the edge beside it. It keeps straight edges to about a pixel of
// blend where nearest-pixel stretching would drop or double whole columns.

#include <cstdint>

#include "duilib/core/Image.h"

namespace DuiLib {

// Pixels held elsewhere (a decoder's buffer, say): width * height of them, top-down rows,
// premultiplied as in DecodedImage.
struct ImageView {
    const std::uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
};

// The image at width x height; an empty image for an empty source or target, or a
// target larger than the decoder accepts.
DecodedImage ResampleArea(const DecodedImage& source, int width, int height);
// The same into the caller's room for width * height pixels (a bitmap's own memory, say);
// false, with nothing written, where ResampleArea gives an empty image.
bool ResampleAreaInto(const DecodedImage& source, int width, int height, std::uint32_t* pixels);
bool ResampleAreaInto(const ImageView& source, int width, int height, std::uint32_t* pixels);

}  // namespace DuiLib
