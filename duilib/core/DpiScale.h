#pragma once
// Display scale: the layouts, fonts and artwork are designed for 96 DPI (100 %); a window
// on a screen of another DPI gets every number scaled by dpi / 96. One rounding rule for
// all of it, here: half away from zero, as MulDiv rounds, so that a number scales to the
// same pixel wherever it is used. At 96 DPI every number stays as it is.

#include <string>
#include <string_view>
#include <vector>

#include "duilib/core/UIBase.h"

namespace DuiLib {

constexpr int kDesignDpi = 96;

// A DPI the window system could report; anything outside counts as 96.
int SaneDpi(int dpi);

// value * dpi / 96, rounded half away from zero.
int ScaleByDpi(int value, int dpi);
UiRect ScaleByDpi(const UiRect& rect, int dpi);
UiSize ScaleByDpi(const UiSize& size, int dpi);

// Layout attributes that are lengths in pixels (positions, sizes, paddings, borders).
bool IsLengthAttribute(std::wstring_view name);
// The attribute's value with each of its numbers scaled; a value that does not read as
// numbers is returned as it is (the control ignores it either way).
std::wstring ScaleAttributeValue(std::wstring_view value, int dpi);

// Image variants drawn at other scales sit beside the image in the skin package, named
// with the scale before the extension: "on_normal.png" at 125 % is "on_normal@1.25x.png",
// at 150 % "on_normal@1.5x.png", at 175 % "on_normal@1.75x.png", at 200 %
// "on_normal@2x.png". The image itself is the 100 % one.
enum class ImageScale : int {
    Percent100 = 100,
    Percent125 = 125,
    Percent150 = 150,
    Percent175 = 175,
    Percent200 = 200
};
std::wstring ImageVariantName(std::wstring_view name, ImageScale scale);
// The order in which to try the variants for a window at dpi: the nearest scale at or
// above the window's first (the largest when none is), then the larger ones, then the
// smaller ones from the nearest down. The 100 % image always comes last or first.
std::vector<ImageScale> ImageVariantsFor(int dpi);

}  // namespace DuiLib
