#include "duilib/core/DpiScale.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace DuiLib {
namespace {

constexpr ImageScale kScales[] = {ImageScale::Percent100, ImageScale::Percent125, ImageScale::Percent150,
                                  ImageScale::Percent175, ImageScale::Percent200};

// A DPI beyond 8 times the design's (768) is no screen the program meets; past it the
// numbers would only grow towards overflow.
constexpr int kMinDpi = 24;
constexpr int kMaxDpi = 8 * kDesignDpi;

}  // namespace

int SaneDpi(int dpi) { return dpi >= kMinDpi && dpi <= kMaxDpi ? dpi : kDesignDpi; }

int ScaleByDpi(int value, int dpi) {
    dpi = SaneDpi(dpi);
    if (dpi == kDesignDpi) return value;
    const std::int64_t product = static_cast<std::int64_t>(value) * dpi;
    const std::int64_t half = kDesignDpi / 2;
    const std::int64_t scaled = product >= 0 ? (product + half) / kDesignDpi : -((-product + half) / kDesignDpi);
    return static_cast<int>(std::clamp<std::int64_t>(scaled, INT32_MIN, INT32_MAX));
}

UiRect ScaleByDpi(const UiRect& rect, int dpi) {
    return {ScaleByDpi(rect.left, dpi), ScaleByDpi(rect.top, dpi), ScaleByDpi(rect.right, dpi),
            ScaleByDpi(rect.bottom, dpi)};
}

UiSize ScaleByDpi(const UiSize& size, int dpi) { return {ScaleByDpi(size.cx, dpi), ScaleByDpi(size.cy, dpi)}; }

bool IsLengthAttribute(std::wstring_view name) {
    return name == L"pos" || name == L"width" || name == L"height" || name == L"textpadding" ||
           name == L"bordersize";
}

std::wstring ScaleAttributeValue(std::wstring_view value, int dpi) {
    if (SaneDpi(dpi) == kDesignDpi) return std::wstring(value);
    std::wstring scaled;
    for (std::wstring_view rest = value;;) {
        const std::size_t comma = rest.find(L',');
        const auto number = ParseInt(rest.substr(0, comma));
        if (!number) return std::wstring(value);
        scaled += std::to_wstring(ScaleByDpi(*number, dpi));
        if (comma == std::wstring_view::npos) return scaled;
        scaled += L',';
        rest.remove_prefix(comma + 1);
    }
}

std::wstring ImageVariantName(std::wstring_view name, ImageScale scale) {
    const wchar_t* suffix = scale == ImageScale::Percent125   ? L"@1.25x"
                            : scale == ImageScale::Percent150 ? L"@1.5x"
                            : scale == ImageScale::Percent175 ? L"@1.75x"
                            : scale == ImageScale::Percent200 ? L"@2x"
                                                              : L"";
    std::wstring variant(name);
    if (!*suffix) return variant;
    const std::size_t dot = variant.rfind(L'.');
    variant.insert(dot == std::wstring::npos ? variant.size() : dot, suffix);
    return variant;
}

std::vector<ImageScale> ImageVariantsFor(int dpi) {
    dpi = SaneDpi(dpi);
    // The first scale whose pixels are at least the window's: scale / 100 >= dpi / 96.
    std::size_t nearest = std::size(kScales) - 1;
    for (std::size_t i = 0; i < std::size(kScales); ++i) {
        if (static_cast<int>(kScales[i]) * kDesignDpi >= dpi * 100) {
            nearest = i;
            break;
        }
    }
    std::vector<ImageScale> order;
    for (std::size_t i = nearest; i < std::size(kScales); ++i) order.push_back(kScales[i]);
    for (std::size_t i = nearest; i-- > 0;) order.push_back(kScales[i]);
    return order;
}

}  // namespace DuiLib
