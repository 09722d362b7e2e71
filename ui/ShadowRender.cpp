#include "ui/ShadowRender.h"

#include <algorithm>
#include <cmath>

#include "duilib/core/DpiScale.h"

namespace {

// Larger windows than this are not drawn; it keeps every size sum far from overflow.
constexpr int kMaxWindowSide = 1 << 20;

int ReachOf(const ShadowStyle& style) { return style.size < 0 ? 0 : style.size; }

// Rounds to double precision. The 32-bit x87 build would otherwise carry extra bits and
// truncate borderline alphas (such as 160 x 0.2) differently from every other build.
double AsDouble(double value) {
    volatile double stored = value;
    return stored;
}

// A span of image columns; empty when start >= end.
struct ImageSpan {
    int start;
    int end;
    bool Empty() const { return start >= end; }
};

void Fill(std::uint32_t* row, int width, int from, int to, std::uint32_t value) {
    from = std::max(from, 0);
    to = std::min(to, width);
    if (from < to) std::fill(row + from, row + to, value);
}

// Stamps the kernel at every pixel of the block of columns [from, to) and rows
// [firstRow, lastRow]. The kernel falls off with distance, so the stamps of a whole
// block reduce to the kernel taken at each pixel's distance from the block: per line,
// one kernel row split at its centre (left half before the block, the peak across it,
// right half after it), the row chosen by the line's distance from the block's rows.
void StampBlock(const ShadowImageView& image, const ShadowKernel& kernel, int from, int to,
                int firstRow, int lastRow) {
    if (from >= to || firstRow > lastRow) return;
    const int k = kernel.Radius();
    const int width = image.Width();
    const int firstLine = std::max(firstRow - k, 0);
    const int lastLine = std::min(lastRow + k, image.Height() - 1);
    const int last = to - 1;
    for (int line = firstLine; line <= lastLine; ++line) {
        const int dy = line < firstRow ? firstRow - line : (line > lastRow ? line - lastRow : 0);
        const std::uint32_t* weights = kernel.Row(dy);  // weights[k] is the centre
        std::uint32_t* row = image.Row(line);
        for (int x = std::max(from - k, 0); x < std::min(from, width); ++x)
            row[x] = std::max(row[x], weights[x - from + k]);
        const std::uint32_t peak = weights[k];
        for (int x = std::max(from, 0); x < std::min(to, width); ++x)
            row[x] = std::max(row[x], peak);
        for (int x = std::max(to, 0); x < std::min(last + k + 1, width); ++x)
            row[x] = std::max(row[x], weights[x - last + k]);
    }
}

// Gathers the runs of consecutive rows that stamp the same columns into one block.
class BlockStamper {
public:
    BlockStamper(const ShadowImageView& image, const ShadowKernel& kernel)
        : image_(image), kernel_(kernel) {}
    ~BlockStamper() { Flush(); }
    BlockStamper(const BlockStamper&) = delete;
    BlockStamper& operator=(const BlockStamper&) = delete;

    void Add(int from, int to, int row) {
        if (from >= to) return;
        if (from == from_ && to == to_ && row == lastRow_ + 1) {
            lastRow_ = row;
            return;
        }
        Flush();
        from_ = from;
        to_ = to;
        firstRow_ = lastRow_ = row;
    }
    void Flush() {
        StampBlock(image_, kernel_, from_, to_, firstRow_, lastRow_);
        from_ = to_ = 0;
    }

private:
    const ShadowImageView& image_;
    const ShadowKernel& kernel_;
    int from_ = 0;
    int to_ = 0;
    int firstRow_ = 0;
    int lastRow_ = -2;
};

}  // namespace

ShadowImageSize ShadowImageSizeFor(int width, int height, const ShadowStyle& style) {
    if (width < 0 || height < 0 || width > kMaxWindowSide || height > kMaxWindowSide) return {};
    const int reach = ReachOf(style);
    return {width + 2 * reach, height + 2 * reach};
}

std::uint32_t PremultipliedShadowPixel(std::uint32_t color, std::uint8_t alpha) {
    const std::uint32_t a = alpha;
    const std::uint32_t red = color & 0xFF;
    const std::uint32_t green = (color >> 8) & 0xFF;
    const std::uint32_t blue = (color >> 16) & 0xFF;
    return a << 24 | (red * a / 255) << 16 | (green * a / 255) << 8 | (blue * a / 255);
}

ShadowKernel::ShadowKernel(const ShadowStyle& style) {
    const int reach = ReachOf(style);
    const int sharpness = style.sharpness;
    radius_ = std::max(reach, sharpness);
    // Within solidRadius of the outline the shadow is at full darkness.
    const int solidRadius = reach > sharpness ? reach - sharpness : 0;
    const int side = Side();
    values_.assign(static_cast<std::size_t>(side) * side, 0);
    for (int dy = -radius_; dy <= radius_; ++dy) {
        for (int dx = -radius_; dx <= radius_; ++dx) {
            const double dist = AsDouble(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
            std::uint32_t value = 0;
            if (dist < solidRadius) {
                value = PremultipliedShadowPixel(style.color, style.darkness);
            } else if (dist <= radius_) {
                const double falloff = AsDouble(AsDouble(dist - solidRadius) / (sharpness + 1));
                const double alpha = AsDouble(style.darkness * AsDouble(1.0 - falloff));
                value = PremultipliedShadowPixel(style.color, static_cast<std::uint8_t>(alpha));
            }
            values_[static_cast<std::size_t>((dy + radius_) * side + dx + radius_)] = value;
        }
    }
}

ShadowImageView ShadowImageView::TopDown(std::uint32_t* pixels, int width, int height) {
    return ShadowImageView(pixels, width, height, width);
}

ShadowImageView ShadowImageView::BottomUp(std::uint32_t* pixels, int width, int height) {
    std::uint32_t* top = height > 0 ? pixels + static_cast<std::ptrdiff_t>(height - 1) * width
                                    : pixels;
    return ShadowImageView(top, width, height, -static_cast<std::ptrdiff_t>(width));
}

bool RenderShadow(const std::vector<ShadowRowSpan>& rows, int windowWidth,
                  const ShadowStyle& style, const ShadowImageView& image) {
    if (rows.size() > static_cast<std::size_t>(kMaxWindowSide)) return false;
    const int W = windowWidth;
    const int H = static_cast<int>(rows.size());
    const ShadowImageSize expected = ShadowImageSizeFor(W, H, style);
    if (expected.width == 0 && expected.height == 0 && (W != 0 || H != 0)) return false;
    if (image.Width() != expected.width || image.Height() != expected.height) return false;
    const int SW = expected.width;
    const int SH = expected.height;
    for (int y = 0; y < SH; ++y) Fill(image.Row(y), SW, 0, SW, 0);
    if (SW == 0 || SH == 0) return true;

    const int s = ReachOf(style);
    const int p = style.sharpness;

    // The window's rows, clipped to its width; an empty row gets the canonical empty span.
    std::vector<ImageSpan> window(static_cast<std::size_t>(H));
    for (int y = 0; y < H; ++y) {
        const int begin = std::max(rows[static_cast<std::size_t>(y)].begin, 0);
        const int end = std::min(rows[static_cast<std::size_t>(y)].end, W);
        window[static_cast<std::size_t>(y)] = begin < end ? ImageSpan{begin, end} : ImageSpan{W, 0};
    }

    // The outline in image rows, with one empty row above and below: entry r + 1 is
    // image row r.
    std::vector<ImageSpan> outline(static_cast<std::size_t>(SH) + 2, ImageSpan{W, 0});
    for (int y = 0; y < H; ++y) {
        const ImageSpan& span = window[static_cast<std::size_t>(y)];
        if (!span.Empty())
            outline[static_cast<std::size_t>(s + 1 + y)] = ImageSpan{span.start + s, span.end + s};
    }

    // Pull the outline in by one pixel per pass until the soft edge fits in the reach.
    std::vector<ImageSpan> eroded = outline;
    for (int pass = s; pass < p; ++pass) {
        for (int i = 1; i <= SH; ++i) {
            const ImageSpan& above = outline[static_cast<std::size_t>(i - 1)];
            const ImageSpan& here = outline[static_cast<std::size_t>(i)];
            const ImageSpan& below = outline[static_cast<std::size_t>(i + 1)];
            eroded[static_cast<std::size_t>(i)] =
                ImageSpan{std::max({above.start, here.start, below.start}) + 1,
                          std::min({above.end, here.end, below.end}) - 1};
        }
        outline.swap(eroded);
    }
    const auto spanOfRow = [&outline](int r) -> const ImageSpan& {
        return outline[static_cast<std::size_t>(r + 1)];
    };

    // The soft edge: stamp the kernel along each row's span, skipping the columns that
    // the rows above and below enclose (their neighbours' stamps reach further).
    const ShadowKernel kernel(style);
    const int k = kernel.Radius();
    {
        BlockStamper leftEdges(image, kernel);
        BlockStamper rightEdges(image, kernel);
        for (int r = k; r <= SH - k - 1; ++r) {
            const ImageSpan& span = spanOfRow(r);
            if (span.Empty()) continue;
            const ImageSpan& above = spanOfRow(r - 1);
            const ImageSpan& below = spanOfRow(r + 1);
            const int firstEnd = std::min(span.end, std::max(above.start, below.start) + 1);
            leftEdges.Add(span.start, firstEnd, r);
            const int secondStart = std::max(std::max(span.start, firstEnd),
                                             std::min(above.end, below.end) - 1);
            rightEdges.Add(secondStart, span.end, r);
        }
    }

    // Full darkness inside the outline, fully clear where the window itself lies.
    const std::uint32_t solid = PremultipliedShadowPixel(style.color, style.darkness);
    const int ox = style.offsetX;
    const int oy = style.offsetY;
    const int firstRow = std::max(std::min(k, std::max(s - oy, 0)), 0);
    const int endRow = std::min(std::max(SH - k, std::min(H + s - oy, SH)), SH);
    for (int i = firstRow; i < endRow; ++i) {
        const ImageSpan& span = spanOfRow(i);
        std::uint32_t* row = image.Row(i);
        const int windowRow = i + oy - s;
        if (windowRow < 0 || windowRow >= H || window[static_cast<std::size_t>(windowRow)].Empty()) {
            if (!span.Empty()) Fill(row, SW, span.start, span.end, solid);
            continue;
        }
        const ImageSpan& covered = window[static_cast<std::size_t>(windowRow)];
        const int coveredStart = covered.start + s - ox;
        const int coveredEnd = covered.end + s - ox;
        Fill(row, SW, span.start, std::min(span.end, coveredStart), solid);
        Fill(row, SW, coveredStart, coveredEnd, 0);
        Fill(row, SW, std::max(coveredEnd, span.start), span.end, solid);
    }
    return true;
}

ShadowStyle ProgramShadowStyle(int dpi) {
    ShadowStyle style;
    style.size = static_cast<std::int8_t>(DuiLib::ScaleByDpi(8, dpi));
    style.sharpness = static_cast<std::uint8_t>(DuiLib::ScaleByDpi(10, dpi));
    style.darkness = 128;
    style.offsetX = static_cast<std::int8_t>(DuiLib::ScaleByDpi(0, dpi));
    style.offsetY = static_cast<std::int8_t>(DuiLib::ScaleByDpi(0, dpi));
    style.color = 0x00808080;
    return style;
}
