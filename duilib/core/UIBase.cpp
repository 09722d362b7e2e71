#include "duilib/core/UIBase.h"

#include <array>
#include <climits>
#include <cstddef>

namespace DuiLib {
namespace {

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Splits "a,b,c" into exactly N integers.
template <std::size_t N>
std::optional<std::array<int, N>> ParseInts(std::wstring_view text) {
    std::array<int, N> values{};
    for (std::size_t i = 0; i < N; ++i) {
        const std::size_t comma = text.find(L',');
        const bool last = i + 1 == N;
        if (last != (comma == std::wstring_view::npos)) return std::nullopt;
        const auto value = ParseInt(text.substr(0, comma));
        if (!value) return std::nullopt;
        values[i] = *value;
        if (!last) text.remove_prefix(comma + 1);
    }
    return values;
}

wchar_t LowerAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

std::optional<Argb> ParseColor(std::wstring_view text) {
    if (text.size() != 9 || text[0] != L'#') return std::nullopt;
    Argb value = 0;
    for (wchar_t c : text.substr(1)) {
        const int digit = HexDigit(c);
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<Argb>(digit);
    }
    return value;
}

std::optional<int> ParseInt(std::wstring_view text) {
    while (!text.empty() && text.front() == L' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == L' ') text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == L'-' || text.front() == L'+')) {
        negative = text.front() == L'-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    long long value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        value = value * 10 + (c - L'0');
        if (value > INT_MAX) return std::nullopt;
    }
    return static_cast<int>(negative ? -value : value);
}

std::optional<UiRect> ParseRect(std::wstring_view text) {
    const auto v = ParseInts<4>(text);
    if (!v) return std::nullopt;
    return UiRect{(*v)[0], (*v)[1], (*v)[2], (*v)[3]};
}

std::optional<UiSize> ParseSize(std::wstring_view text) {
    const auto v = ParseInts<2>(text);
    if (!v) return std::nullopt;
    return UiSize{(*v)[0], (*v)[1]};
}

bool ParseBool(std::wstring_view text) { return text == L"true"; }

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::wstring ToLowerAscii(std::wstring_view text) {
    std::wstring out(text);
    for (wchar_t& c : out) c = LowerAscii(c);
    return out;
}

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = static_cast<char32_t>(text[i]);
        if constexpr (sizeof(wchar_t) == 2) {
            cp &= 0xFFFF;
            if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
                const char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
        }
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
        AppendUtf8(out, cp);
    }
    return out;
}

}  // namespace DuiLib
