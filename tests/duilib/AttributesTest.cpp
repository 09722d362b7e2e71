#include <gtest/gtest.h>

#include "duilib/core/UIBase.h"

namespace DuiLib {
namespace {

TEST(Attributes, ColoursAreEightHexDigitsAfterAHash) {
    const struct {
        const wchar_t* text;
        std::optional<Argb> expected;
    } cases[] = {
        {L"#FF000000", 0xFF000000u},
        {L"#00FFFFFF", 0x00FFFFFFu},
        {L"#FFa7A6aa", 0xFFA7A6AAu},
        {L"#00000000", 0x00000000u},
        {L"#FFFFFF", std::nullopt},      // six digits: no alpha given
        {L"FF000000", std::nullopt},     // no hash
        {L"#FF00000G", std::nullopt},
        {L"#FF0000000", std::nullopt},
        {L"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseColor(c.text), c.expected) << std::wstring(c.text).size();
}

TEST(Attributes, TextAndBorderColoursDropTheirAlpha) {
    EXPECT_EQ(Opaque(0x00FFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(Opaque(0x00000000u), 0xFF000000u);
    EXPECT_EQ(Opaque(0x80A7A6AAu), 0xFFA7A6AAu);
}

TEST(Attributes, RectsSizesAndIntegers) {
    EXPECT_EQ(ParseRect(L"658,5,0,0"), (UiRect{658, 5, 0, 0}));
    EXPECT_EQ(ParseRect(L"2, 0, 2, 0"), (UiRect{2, 0, 2, 0}));
    EXPECT_EQ(ParseRect(L"-3,4,-5,6"), (UiRect{-3, 4, -5, 6}));
    EXPECT_EQ(ParseRect(L"1,2,3"), std::nullopt);
    EXPECT_EQ(ParseRect(L"1,2,3,4,5"), std::nullopt);
    EXPECT_EQ(ParseRect(L"1,,3,4"), std::nullopt);
    EXPECT_EQ(ParseSize(L"700,490"), (UiSize{700, 490}));
    EXPECT_EQ(ParseSize(L"700"), std::nullopt);
    EXPECT_EQ(ParseInt(L"99999999999"), std::nullopt);
    EXPECT_EQ(ParseInt(L"12px"), std::nullopt);
    EXPECT_TRUE(ParseBool(L"true"));
    EXPECT_FALSE(ParseBool(L"TRUE"));
    EXPECT_FALSE(ParseBool(L"1"));
}

TEST(Attributes, CaseInsensitiveComparisonAndUtf8) {
    EXPECT_TRUE(EqualsNoCase(L"buttonui", L"ButtonUI"));
    EXPECT_FALSE(EqualsNoCase(L"ButtonUI ", L"ButtonUI"));
    EXPECT_EQ(ToUtf8(L"mainSkin.xml"), "mainSkin.xml");
    EXPECT_EQ(ToUtf8(L"\u00e9\u4e2d"), "\xC3\xA9\xE4\xB8\xAD");
}

}  // namespace
}  // namespace DuiLib
