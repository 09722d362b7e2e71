// Display scaling: the one rounding rule, the attribute values it rewrites, the image
// variants' names and the order they are tried in, and the resizing of images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "duilib/core/DpiScale.h"
#include "duilib/core/ImageResample.h"

namespace DuiLib {
namespace {

TEST(ScaleByDpi, TheLayoutsNumbersAtTheCommonScales) {
    // 96 gives today's numbers; 120, 144 and 192 are 125 %, 150 % and 200 %.
    const struct {
        int value, at96, at120, at144, at192;
    } cases[] = {
        {0, 0, 0, 0, 0},          {1, 1, 1, 2, 2},           {5, 5, 6, 8, 10},       {8, 8, 10, 12, 16},
        {10, 10, 13, 15, 20},     {12, 12, 15, 18, 24},      {16, 16, 20, 24, 32},   {20, 20, 25, 30, 40},
        {26, 26, 33, 39, 52},     {28, 28, 35, 42, 56},      {32, 32, 40, 48, 64},   {33, 33, 41, 50, 66},
        {38, 38, 48, 57, 76},     {41, 41, 51, 62, 82},      {80, 80, 100, 120, 160}, {159, 159, 199, 239, 318},
        {223, 223, 279, 335, 446}, {490, 490, 613, 735, 980}, {700, 700, 875, 1050, 1400},
        {-5, -5, -6, -8, -10},    {-7, -7, -9, -11, -14},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(ScaleByDpi(c.value, 96), c.at96);
        EXPECT_EQ(ScaleByDpi(c.value, 120), c.at120);
        EXPECT_EQ(ScaleByDpi(c.value, 144), c.at144);
        EXPECT_EQ(ScaleByDpi(c.value, 192), c.at192);
    }
}

TEST(ScaleByDpi, HalvesRoundAwayFromZeroAndNonsenseDpiCountsAs96) {
    EXPECT_EQ(ScaleByDpi(1, 144), 2);    // 1.5
    EXPECT_EQ(ScaleByDpi(-1, 144), -2);  // -1.5, symmetric
    EXPECT_EQ(ScaleByDpi(3, 112), 4);    // 3.5
    for (int dpi : {0, -96, 1, 100000}) EXPECT_EQ(ScaleByDpi(700, dpi), 700) << dpi;
    EXPECT_EQ(ScaleByDpi(2000000000, 768), INT32_MAX) << "clamped, no overflow";
    EXPECT_EQ(ScaleByDpi(UiRect{658, 5, 674, 21}, 144), (UiRect{987, 8, 1011, 32}));
    EXPECT_EQ(ScaleByDpi(UiSize{700, 490}, 192), (UiSize{1400, 980}));
}

TEST(ScaleAttributeValue, ScalesEveryNumberAndLeavesTheRestAlone) {
    EXPECT_EQ(ScaleAttributeValue(L"272,425,0,0", 144), L"408,638,0,0");
    EXPECT_EQ(ScaleAttributeValue(L"2,0,2,0", 192), L"4,0,4,0");
    EXPECT_EQ(ScaleAttributeValue(L"159", 120), L"199");
    EXPECT_EQ(ScaleAttributeValue(L"-3", 144), L"-5");
    EXPECT_EQ(ScaleAttributeValue(L"272,425,0,0", 96), L"272,425,0,0");
    // Unreadable values are handed on unchanged; the control ignores them as before.
    for (const wchar_t* odd : {L"", L"abc", L"1,,2", L"12px", L"1,2,", L"3,x"}) {
        EXPECT_EQ(ScaleAttributeValue(odd, 144), odd) << odd;
    }
    EXPECT_TRUE(IsLengthAttribute(L"pos"));
    EXPECT_TRUE(IsLengthAttribute(L"textpadding"));
    EXPECT_TRUE(IsLengthAttribute(L"bordersize"));
    EXPECT_FALSE(IsLengthAttribute(L"font"));
    EXPECT_FALSE(IsLengthAttribute(L"textcolor"));
}

TEST(ImageVariants, NamesCarryTheScaleBeforeTheExtension) {
    EXPECT_EQ(ImageVariantName(L"on_normal.png", ImageScale::Percent100), L"on_normal.png");
    EXPECT_EQ(ImageVariantName(L"on_normal.png", ImageScale::Percent125), L"on_normal@1.25x.png");
    EXPECT_EQ(ImageVariantName(L"on_normal.png", ImageScale::Percent150), L"on_normal@1.5x.png");
    EXPECT_EQ(ImageVariantName(L"on_normal.png", ImageScale::Percent175), L"on_normal@1.75x.png");
    EXPECT_EQ(ImageVariantName(L"mainWnd.jpg", ImageScale::Percent200), L"mainWnd@2x.jpg");
    EXPECT_EQ(ImageVariantName(L"noext", ImageScale::Percent200), L"noext@2x");
    EXPECT_EQ(ImageVariantName(L"a.b.png", ImageScale::Percent150), L"a.b@1.5x.png");
}

TEST(ImageVariants, TheNearestAtOrAboveTheWindowsScaleFirst) {
    using S = ImageScale;
    const struct {
        int dpi;
        std::vector<ImageScale> order;
    } cases[] = {
        {96, {S::Percent100, S::Percent125, S::Percent150, S::Percent175, S::Percent200}},
        {120, {S::Percent125, S::Percent150, S::Percent175, S::Percent200, S::Percent100}},
        {121, {S::Percent150, S::Percent175, S::Percent200, S::Percent125, S::Percent100}},
        {144, {S::Percent150, S::Percent175, S::Percent200, S::Percent125, S::Percent100}},
        {145, {S::Percent175, S::Percent200, S::Percent150, S::Percent125, S::Percent100}},
        {168, {S::Percent175, S::Percent200, S::Percent150, S::Percent125, S::Percent100}},
        {192, {S::Percent200, S::Percent175, S::Percent150, S::Percent125, S::Percent100}},
        // Beyond the largest: the largest, scaled up.
        {288, {S::Percent200, S::Percent175, S::Percent150, S::Percent125, S::Percent100}},
        {72, {S::Percent100, S::Percent125, S::Percent150, S::Percent175, S::Percent200}},
    };
    for (const auto& c : cases) EXPECT_EQ(ImageVariantsFor(c.dpi), c.order) << c.dpi;
}

DecodedImage Solid(int width, int height, std::uint32_t pixel) {
    DecodedImage image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<std::size_t>(width) * height, pixel);
    return image;
}

TEST(ResampleArea, AveragesTheCoveredPixelsOnPremultipliedColour) {
    // Two columns: opaque red and fully transparent. Halving the width averages them
    // into half-transparent red, with no colour taken from the transparent pixel.
    DecodedImage image = Solid(2, 2, 0);
    image.pixels[0] = image.pixels[2] = 0xFFFF0000u;
    const DecodedImage half = ResampleArea(image, 1, 1);
    ASSERT_EQ(half.pixels.size(), 1u);
    EXPECT_EQ(half.pixels[0], 0x80800000u);

    // A uniform image stays uniform at any size, down or up.
    for (auto [w, h] : {std::pair{3, 2}, std::pair{234, 57}, std::pair{7, 300}}) {
        const DecodedImage sized = ResampleArea(Solid(312, 76, 0xC0102030u), w, h);
        ASSERT_EQ(sized.pixels.size(), static_cast<std::size_t>(w) * h);
        for (std::uint32_t p : sized.pixels) ASSERT_EQ(p, 0xC0102030u);
    }
}

TEST(ResampleArea, TwoThirdsKeepsAStraightEdgeWithinOnePixel) {
    // A vertical edge at column 40 of a 2x image, taken to 1.5x: the edge lands at
    // column 30 exactly, with no blended column.
    DecodedImage image = Solid(80, 4, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 40; x < 80; ++x) image.pixels[static_cast<std::size_t>(y) * 80 + x] = 0xFFFFFFFFu;
    const DecodedImage sized = ResampleArea(image, 60, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 60; ++x) {
            EXPECT_EQ(sized.pixels[static_cast<std::size_t>(y) * 60 + x], x < 30 ? 0u : 0xFFFFFFFFu) << x << "," << y;
        }
    }
    // An edge at an odd column falls between target pixels: one pixel blends.
    DecodedImage odd = Solid(80, 1, 0);
    for (int x = 41; x < 80; ++x) odd.pixels[static_cast<std::size_t>(x)] = 0xFF000000u | 0x00FFFFFFu;
    const DecodedImage oddSized = ResampleArea(odd, 60, 1);
    int blended = 0;
    for (std::uint32_t p : oddSized.pixels) blended += (p != 0 && p != 0xFFFFFFFFu);
    EXPECT_EQ(blended, 1);
}

// The area average worked out exactly, for one channel (bits `shift` up) of one new pixel.
double ExactAreaAverage(const DecodedImage& image, int width, int height, int x, int y, int shift) {
    const auto covers = [](int oldSize, int newSize, int i) {
        const double step = static_cast<double>(oldSize) / newSize, start = i * step, end = start + step;
        std::vector<std::pair<int, double>> taps;
        for (int j = static_cast<int>(start); j < oldSize && j < end; ++j) {
            taps.emplace_back(j, (std::min<double>(end, j + 1) - std::max<double>(start, j)) / step);
        }
        return taps;
    };
    double sum = 0;
    for (const auto& [row, rowCover] : covers(image.height, height, y)) {
        for (const auto& [column, columnCover] : covers(image.width, width, x)) {
            const std::uint32_t p = image.pixels[static_cast<std::size_t>(row) * image.width + column];
            sum += rowCover * columnCover * (p >> shift & 0xFF);
        }
    }
    return sum;
}

TEST(ResampleArea, StaysWithinTwoLevelsOfTheExactAverageAtEveryRatio) {
    // Random premultiplied pixels taken down and up by the ratios the skin meets (2x to
    // 1.75x, 2x to 2.25x, 2.5x and 3x) and by odd and strong ones, each axis on its own.
    std::srand(35);
    const struct {
        int fromWidth, fromHeight, width, height;
    } cases[] = {
        {80, 56, 70, 49},  {80, 56, 90, 63}, {80, 56, 100, 70}, {80, 56, 120, 84}, {80, 60, 60, 45},
        {40, 40, 13, 7},   {7, 5, 29, 31},   {300, 20, 299, 21}, {100, 1, 37, 1},  {1, 100, 1, 333},
        {97, 3, 3, 97},    {5, 5, 5, 17},    {64, 64, 1, 1},
        // Longer than a new image may be, as the decoder allows: taken down to one.
        {5000, 2, 61, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fromWidth) + "x" + std::to_string(c.fromHeight) + " to " +
                     std::to_string(c.width) + "x" + std::to_string(c.height));
        DecodedImage image = Solid(c.fromWidth, c.fromHeight, 0);
        for (std::uint32_t& p : image.pixels) {
            const std::uint32_t alpha = static_cast<std::uint32_t>(std::rand()) % 256;
            const auto channel = [&] { return static_cast<std::uint32_t>(std::rand()) % (alpha + 1); };
            p = alpha << 24 | channel() << 16 | channel() << 8 | channel();
        }
        const DecodedImage sized = ResampleArea(image, c.width, c.height);
        ASSERT_EQ(sized.pixels.size(), static_cast<std::size_t>(c.width) * c.height);
        double worst = 0;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const std::uint32_t p = sized.pixels[static_cast<std::size_t>(y) * c.width + x];
                for (int shift : {0, 8, 16, 24}) {
                    worst = std::max(worst, std::abs((p >> shift & 0xFF) - ExactAreaAverage(image, c.width, c.height, x, y, shift)));
                }
                const std::uint32_t alpha = p >> 24;
                ASSERT_TRUE((p >> 16 & 0xFF) <= alpha && (p >> 8 & 0xFF) <= alpha && (p & 0xFF) <= alpha)
                    << "a colour above its alpha at " << x << "," << y;
            }
        }
        EXPECT_LT(worst, 2.5);
    }
}

TEST(ResampleArea, RefusesWhatItCannotMake) {
    EXPECT_TRUE(ResampleArea(Solid(4, 4, 0), 0, 4).pixels.empty());
    EXPECT_TRUE(ResampleArea(Solid(4, 4, 0), 4, -1).pixels.empty());
    EXPECT_TRUE(ResampleArea(Solid(4, 4, 0), 5000, 4).pixels.empty());
    EXPECT_TRUE(ResampleArea(DecodedImage{}, 4, 4).pixels.empty());
    DecodedImage lying = Solid(4, 4, 0);
    lying.height = 5;  // fewer pixels than it claims
    EXPECT_TRUE(ResampleArea(lying, 2, 2).pixels.empty());

    // Into the caller's memory: nothing written where nothing can be made.
    std::vector<std::uint32_t> room(4, 0x12345678u);
    EXPECT_FALSE(ResampleAreaInto(lying, 2, 2, room.data()));
    EXPECT_FALSE(ResampleAreaInto(Solid(4, 4, 0), 2, 2, nullptr));
    EXPECT_EQ(room, std::vector<std::uint32_t>(4, 0x12345678u));
    EXPECT_TRUE(ResampleAreaInto(Solid(4, 4, 0xFF000000u), 2, 2, room.data()));
    EXPECT_EQ(room, std::vector<std::uint32_t>(4, 0xFF000000u));
}

}  // namespace
}  // namespace DuiLib
