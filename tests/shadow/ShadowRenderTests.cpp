#include "ui/ShadowRender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Pixels = std::vector<std::uint32_t>;

// Every step in double precision, also on the 32-bit x87 build.
double AsDouble(double value) {
    volatile double stored = value;
    return stored;
}

std::vector<ShadowRowSpan> Rectangle(int width, int height) {
    return std::vector<ShadowRowSpan>(static_cast<std::size_t>(height), ShadowRowSpan{0, width});
}

// A window with rounded corners of the given radius.
std::vector<ShadowRowSpan> RoundedRectangle(int width, int height, int radius) {
    std::vector<ShadowRowSpan> rows;
    for (int y = 0; y < height; ++y) {
        const int fromEdge = std::min(y, height - 1 - y);
        int inset = 0;
        if (fromEdge < radius) {
            const double dy = radius - fromEdge - 0.5;
            inset = static_cast<int>(radius - std::sqrt(radius * radius - dy * dy));
        }
        rows.push_back({inset, width - inset});
    }
    return rows;
}

// Top-down pixels of an image of the right size for the window and style.
struct Rendered {
    ShadowImageSize size;
    Pixels pixels;
    std::uint32_t At(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * size.width + x];
    }
};

Rendered Render(const std::vector<ShadowRowSpan>& rows, int width, const ShadowStyle& style) {
    Rendered out;
    out.size = ShadowImageSizeFor(width, static_cast<int>(rows.size()), style);
    // Exactly the image's size, so that a stray write shows under AddressSanitizer.
    out.pixels.assign(static_cast<std::size_t>(out.size.width) * out.size.height, 0xDEADBEEF);
    EXPECT_TRUE(RenderShadow(rows, width, style,
                             ShadowImageView::TopDown(out.pixels.data(), out.size.width,
                                                      out.size.height)));
    return out;
}

// A deliberately plain restatement of the shadow: the outline as a pixel mask, eroded
// with a 3 x 3 square; the kernel stamped at every pixel of the mask; full darkness on
// the mask, clear wherever the window itself lies.
Pixels ReferenceShadow(const std::vector<ShadowRowSpan>& rows, int width, const ShadowStyle& style) {
    const int s = std::max<int>(style.size, 0);
    const int p = style.sharpness;
    const int d = style.darkness;
    const int height = static_cast<int>(rows.size());
    const int sw = width + 2 * s;
    const int sh = height + 2 * s;
    const auto pm = [&style](int alpha) {
        const std::uint32_t a = static_cast<std::uint32_t>(alpha);
        const std::uint32_t r = style.color & 0xFF, g = (style.color >> 8) & 0xFF,
                            b = (style.color >> 16) & 0xFF;
        return a << 24 | (r * a / 255) << 16 | (g * a / 255) << 8 | (b * a / 255);
    };
    const auto inWindow = [&](int x, int y) {
        if (y < 0 || y >= height) return false;
        const ShadowRowSpan& row = rows[static_cast<std::size_t>(y)];
        return x >= std::max(row.begin, 0) && x < std::min(row.end, width) && x < width;
    };

    std::vector<char> mask(static_cast<std::size_t>(sw) * sh, 0);
    const auto maskAt = [&](const std::vector<char>& m, int x, int y) {
        return x >= 0 && y >= 0 && x < sw && y < sh && m[static_cast<std::size_t>(y) * sw + x];
    };
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) mask[static_cast<std::size_t>(y) * sw + x] = inWindow(x - s, y - s);
    for (int pass = s; pass < p; ++pass) {
        std::vector<char> next(mask.size(), 0);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                bool all = true;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) all = all && maskAt(mask, x + dx, y + dy);
                next[static_cast<std::size_t>(y) * sw + x] = all;
            }
        mask.swap(next);
    }

    const int k = std::max(s, p);
    const int c0 = s > p ? s - p : 0;
    const auto kernel = [&](int dx, int dy) -> std::uint32_t {
        const double dist = AsDouble(std::sqrt(static_cast<double>(dx * dx + dy * dy)));
        if (dist < c0) return pm(d);
        if (dist > k) return 0;
        const double falloff = AsDouble(AsDouble(dist - c0) / (p + 1));
        return pm(static_cast<int>(AsDouble(d * AsDouble(1.0 - falloff))));
    };

    Pixels image(static_cast<std::size_t>(sw) * sh, 0);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            if (!maskAt(mask, x, y)) continue;
            for (int dy = -k; dy <= k; ++dy)
                for (int dx = -k; dx <= k; ++dx) {
                    const int tx = x + dx, ty = y + dy;
                    if (tx < 0 || ty < 0 || tx >= sw || ty >= sh) continue;
                    std::uint32_t& px = image[static_cast<std::size_t>(ty) * sw + tx];
                    px = std::max(px, kernel(dx, dy));
                }
        }
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x) {
            std::uint32_t& px = image[static_cast<std::size_t>(y) * sw + x];
            if (inWindow(x - s + style.offsetX, y - s + style.offsetY)) {
                px = 0;
            } else if (maskAt(mask, x, y)) {
                px = pm(d);
            }
        }
    return image;
}

ShadowStyle MakeStyle(int size, int sharpness, int darkness, int offsetX, int offsetY,
                      std::uint32_t color) {
    ShadowStyle style;
    style.size = static_cast<std::int8_t>(size);
    style.sharpness = static_cast<std::uint8_t>(sharpness);
    style.darkness = static_cast<std::uint8_t>(darkness);
    style.offsetX = static_cast<std::int8_t>(offsetX);
    style.offsetY = static_cast<std::int8_t>(offsetY);
    style.color = color;
    return style;
}

TEST(ShadowKernel, ProgramSettingsFadeOverElevenSteps) {
    const ShadowStyle style;  // the program's settings
    const ShadowKernel kernel(style);
    ASSERT_EQ(kernel.Radius(), 10);
    const int alphas[] = {128, 116, 104, 93, 81, 69, 58, 46, 34, 23, 11};
    for (int distance = 0; distance <= 10; ++distance) {
        const std::uint32_t expected = PremultipliedShadowPixel(0x00808080, alphas[distance]);
        EXPECT_EQ(kernel.At(distance, 0), expected) << distance;
        EXPECT_EQ(kernel.At(0, -distance), expected) << distance;
    }
    EXPECT_EQ(kernel.At(0, 0), 0x80404040u);
    EXPECT_EQ(kernel.At(10, 1), 0u);    // just beyond the reach
    EXPECT_EQ(kernel.At(-10, -10), 0u);
    EXPECT_EQ(kernel.At(3, 4), kernel.At(5, 0));
}

TEST(ShadowStyle, TheProgramsShadowAtEachScale) {
    const struct {
        int dpi, size, sharpness;
    } cases[] = {{96, 8, 10}, {120, 10, 13}, {144, 12, 15}, {192, 16, 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dpi);
        const ShadowStyle style = ProgramShadowStyle(c.dpi);
        EXPECT_EQ(style.size, c.size);
        EXPECT_EQ(style.sharpness, c.sharpness);
        EXPECT_EQ(style.darkness, 128);
        EXPECT_EQ(style.offsetX, 0);
        EXPECT_EQ(style.offsetY, 0);
        EXPECT_EQ(style.color, 0x00808080u);
        // The window of 700 by 490 at that scale gets its rim on every side.
        const int w = c.dpi * 700 / 96, h = c.dpi * 490 / 96;
        const ShadowImageSize image = ShadowImageSizeFor(w, h, style);
        EXPECT_EQ(image.width, w + 2 * c.size);
        EXPECT_EQ(image.height, h + 2 * c.size);
    }
    const ShadowStyle at96 = ProgramShadowStyle(96);
    const ShadowStyle plain;
    EXPECT_EQ(at96.size, plain.size);
    EXPECT_EQ(at96.sharpness, plain.sharpness);
    // At 200 % the rim fades over twice the steps, from the same darkness.
    const ShadowKernel kernel(ProgramShadowStyle(192));
    EXPECT_EQ(kernel.Radius(), 20);
    EXPECT_EQ(kernel.At(0, 0), 0x80404040u);
    EXPECT_EQ(kernel.At(20, 1), 0u);  // just beyond the reach
    EXPECT_GT(kernel.At(20, 0), 0u);
}

TEST(ShadowKernel, SolidCoreWhenTheReachExceedsTheSoftEdge) {
    const ShadowKernel kernel(MakeStyle(12, 3, 200, 0, 0, 0x000000FF));
    ASSERT_EQ(kernel.Radius(), 12);
    const std::uint32_t solid = PremultipliedShadowPixel(0x000000FF, 200);
    EXPECT_EQ(solid, 0xC8C80000u);  // red is the lowest byte of the colour
    EXPECT_EQ(kernel.At(8, 0), solid);
    EXPECT_EQ(kernel.At(9, 0), solid);  // dist == 9: the soft edge starts at full darkness
    EXPECT_EQ(kernel.At(12, 0), PremultipliedShadowPixel(0x000000FF, 50));
}

TEST(ShadowKernel, BorderlineAlphasAreTruncatedInDoublePrecision) {
    // 160 x (1 - 8 / 10) is just below 32 in double precision, on every build.
    const ShadowKernel kernel(MakeStyle(5, 9, 160, 0, 0, 0x00808080));
    EXPECT_EQ(kernel.At(8, 0) >> 24, 31u);
}

TEST(ShadowRender, ProgramSettingsAroundARectangle) {
    const Rendered image = Render(Rectangle(60, 40), 60, ShadowStyle{});
    ASSERT_EQ(image.size.width, 76);
    ASSERT_EQ(image.size.height, 56);
    for (int y = 8; y <= 47; ++y)
        for (int x = 8; x <= 67; ++x) ASSERT_EQ(image.At(x, y), 0u) << x << "," << y;
    struct Probe { int x, y; std::uint32_t value; };
    const Probe probes[] = {
        {7, 28, 0x5D2E2E2E}, {0, 28, 0x0B050505}, {7, 7, 0x4E272727}, {3, 3, 0x0C060606},
        {0, 0, 0},           {68, 28, 0x5D2E2E2E}, {75, 28, 0x0B050505}, {68, 48, 0x4E272727},
        {37, 0, 0x0B050505}, {37, 55, 0x0B050505},
    };
    for (const Probe& probe : probes)
        EXPECT_EQ(image.At(probe.x, probe.y), probe.value) << probe.x << "," << probe.y;
}

struct Shape {
    std::string name;
    int width;
    std::vector<ShadowRowSpan> rows;
};

std::vector<Shape> Shapes() {
    std::vector<ShadowRowSpan> gapped = Rectangle(30, 24);
    gapped[0] = {};  // empty rows at the top, in the middle and at the bottom
    gapped[1] = {};
    gapped[12] = {};
    gapped[23] = {};
    std::vector<ShadowRowSpan> diamond;
    for (int y = 0; y < 21; ++y) {
        const int half = 10 - std::abs(y - 10);
        diamond.push_back({10 - half, 11 + half});
    }
    std::vector<ShadowRowSpan> wild = {{-5, 3}, {2, 99}, {7, 7}, {9, 4}, {-3, -1}, {0, 12}};
    return {
        {"rectangle", 60, Rectangle(60, 40)},
        {"rounded", 48, RoundedRectangle(48, 36, 9)},
        {"gapped", 30, gapped},
        {"diamond", 21, diamond},
        {"wild spans", 12, wild},
        {"one pixel", 1, Rectangle(1, 1)},
        {"zero width", 0, Rectangle(0, 5)},
        {"no rows", 7, {}},
        {"all rows empty", 9, std::vector<ShadowRowSpan>(6)},
    };
}

std::vector<std::pair<std::string, ShadowStyle>> Styles() {
    return {
        {"program", ShadowStyle{}},
        {"no reach, no edge", MakeStyle(0, 0, 128, 0, 0, 0x00808080)},
        {"no reach", MakeStyle(0, 6, 255, 0, 0, 0x00FFFFFF)},
        {"no edge", MakeStyle(6, 0, 90, 0, 0, 0x00123456)},
        {"reach beyond edge", MakeStyle(12, 3, 200, 0, 0, 0x000000FF)},
        {"offset", MakeStyle(8, 10, 128, 5, 5, 0x00808080)},
        {"negative offset", MakeStyle(5, 9, 160, -7, 3, 0x00204060)},
        {"offset beyond image", MakeStyle(4, 6, 128, 127, -128, 0x00808080)},
        {"negative reach", MakeStyle(-4, 5, 128, 0, 0, 0x00808080)},
        {"wide edge", MakeStyle(2, 40, 255, 1, -1, 0x00FF00FF)},
    };
}

TEST(ShadowRender, MatchesThePlainStatementForEveryShapeAndStyle) {
    for (const Shape& shape : Shapes()) {
        for (const auto& [styleName, style] : Styles()) {
            SCOPED_TRACE(shape.name + " / " + styleName);
            const Rendered image = Render(shape.rows, shape.width, style);
            const int s = std::max<int>(style.size, 0);
            ASSERT_EQ(image.size.width, shape.width + 2 * s);
            ASSERT_EQ(image.size.height, static_cast<int>(shape.rows.size()) + 2 * s);
            const Pixels expected = ReferenceShadow(shape.rows, shape.width, style);
            ASSERT_EQ(image.pixels.size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); ++i)
                ASSERT_EQ(image.pixels[i], expected[i])
                    << "pixel " << i % image.size.width << "," << i / image.size.width;
        }
    }
}

TEST(ShadowRender, BottomUpImageIsTheTopDownOneUpsideDown) {
    const std::vector<ShadowRowSpan> rows = RoundedRectangle(40, 30, 8);
    const ShadowStyle style = MakeStyle(8, 10, 128, 3, 6, 0x00808080);
    const Rendered topDown = Render(rows, 40, style);
    const int w = topDown.size.width, h = topDown.size.height;
    Pixels memory(static_cast<std::size_t>(w) * h, 0xDEADBEEF);
    ASSERT_TRUE(RenderShadow(rows, 40, style, ShadowImageView::BottomUp(memory.data(), w, h)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(memory[static_cast<std::size_t>(h - 1 - y) * w + x], topDown.At(x, y))
                << x << "," << y;
}

TEST(ShadowRender, RefusesAnImageOfTheWrongSizeWithoutWriting) {
    const std::vector<ShadowRowSpan> rows = Rectangle(10, 10);
    struct Case { int width, height, windowWidth; };
    const Case cases[] = {{26, 26, 10}, {25, 26, 10}, {26, 27, 10}, {16, 26, -1}};
    for (const Case& c : cases) {
        Pixels memory(static_cast<std::size_t>(c.width) * c.height, 0xDEADBEEF);
        const bool rendered = RenderShadow(rows, c.windowWidth, ShadowStyle{},
                                           ShadowImageView::TopDown(memory.data(), c.width, c.height));
        const bool right = c.width == 26 && c.height == 26 && c.windowWidth == 10;
        EXPECT_EQ(rendered, right) << c.width << "x" << c.height << " for " << c.windowWidth;
        if (!right) {
            EXPECT_TRUE(std::all_of(memory.begin(), memory.end(),
                                    [](std::uint32_t px) { return px == 0xDEADBEEF; }));
        }
    }
}

}  // namespace
