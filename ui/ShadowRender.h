#pragma once
// The window shadow's image: a soft rim that fades outward from the followed window's
// outline and is fully transparent where that window lies. A pure function of the
// window's outline (one span per row) and the shadow's style, so it builds and is
// tested without windows; the Win32 side reads the spans from the window region and
// renders straight into its DIB.

#include <cstddef>
#include <cstdint>
#include <vector>

// The shadow's look. Same widths as the shadow object's fields.
struct ShadowStyle {
    std::int8_t size = 8;          // reach beyond the window on each side; negative counts as 0
    std::uint8_t sharpness = 10;   // width of the soft edge
    std::uint8_t darkness = 128;   // alpha of the darkest part
    std::int8_t offsetX = 0;       // shift of the shadow against the window
    std::int8_t offsetY = 0;
    std::uint32_t color = 0x00808080;  // red in the lowest byte, then green, then blue
};

// The program's shadow for a window at dpi: reach 8, soft edge 10, darkness 128, no
// offset, grey, with the reach, edge and offset scaled like every other length (at 96
// exactly these numbers).
ShadowStyle ProgramShadowStyle(int dpi);

// Columns [begin, end) of one window row that lie inside the window; empty when
// begin >= end.
struct ShadowRowSpan {
    int begin = 0;
    int end = 0;
    bool Empty() const { return begin >= end; }
};

struct ShadowImageSize {
    int width = 0;
    int height = 0;
};

// Width and height of the shadow image for a window of width x height pixels:
// the window plus the reach on each side.
ShadowImageSize ShadowImageSizeFor(int width, int height, const ShadowStyle& style);

// Pixels alpha << 24 | red << 16 | green << 8 | blue, colour premultiplied by alpha.
std::uint32_t PremultipliedShadowPixel(std::uint32_t color, std::uint8_t alpha);

// Precomputed blur: the value a point of the outline lends to a pixel at offset (dx, dy).
class ShadowKernel {
public:
    explicit ShadowKernel(const ShadowStyle& style);
    int Radius() const { return radius_; }
    // dx and dy in [-Radius(), Radius()].
    std::uint32_t At(int dx, int dy) const {
        return values_[static_cast<std::size_t>((dy + radius_) * Side() + dx + radius_)];
    }
    // The kernel row for vertical offset dy, indexed from dx = -Radius().
    const std::uint32_t* Row(int dy) const {
        return values_.data() + static_cast<std::size_t>((dy + radius_) * Side());
    }
    int Side() const { return 2 * radius_ + 1; }

private:
    int radius_ = 0;
    std::vector<std::uint32_t> values_;
};

// Where the image lies in memory. rowStride counts pixels from one image row to the
// row below it; a bottom-up DIB (first row in memory = bottom row) has a negative one.
class ShadowImageView {
public:
    static ShadowImageView TopDown(std::uint32_t* pixels, int width, int height);
    // pixels is the start of the buffer, which holds the bottom row first.
    static ShadowImageView BottomUp(std::uint32_t* pixels, int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    // Row y counted from the top of the image.
    std::uint32_t* Row(int y) const { return topRow_ + static_cast<std::ptrdiff_t>(y) * rowStride_; }

private:
    ShadowImageView(std::uint32_t* topRow, int width, int height, std::ptrdiff_t rowStride)
        : topRow_(topRow), width_(width), height_(height), rowStride_(rowStride) {}
    std::uint32_t* topRow_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    std::ptrdiff_t rowStride_ = 0;
};

// Renders the shadow of a window windowWidth pixels wide whose rows are rows (one span
// per row, top first; spans are clipped to [0, windowWidth)) into image, which must be
// exactly ShadowImageSizeFor(windowWidth, rows.size(), style) in size; the image is
// cleared first. Returns false, writing nothing, when the sizes do not match.
bool RenderShadow(const std::vector<ShadowRowSpan>& rows, int windowWidth,
                  const ShadowStyle& style, const ShadowImageView& image);
