#pragma once
// Resizing a decoded skin image to the pixels a control gives it at the window's scale.
// Area averaging: each new pixel is the mean of the old pixels it covers, weighted by how
// much of each it covers. On premultiplied colour, so a transparent pixel adds nothing
// of its colour to the edge beside it. It keeps straight edges to about a pixel of
// blend where nearest-pixel stretching would drop or double whole columns.

#include "duilib/core/Image.h"

namespace DuiLib {

// The image at width x height; an empty image for an empty source or target, or a
// target larger than the decoder accepts.
DecodedImage ResampleArea(const DecodedImage& source, int width, int height);
// The same into the caller's room for width * height pixels (a bitmap's own memory, say);
// false, with nothing written, where ResampleArea gives an empty image.
bool ResampleAreaInto(const DecodedImage& source, int width, int height, std::uint32_t* pixels);

}  // namespace DuiLib
