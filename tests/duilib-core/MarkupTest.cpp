#include "duilib/core/Markup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

using DuiLib::CMarkup;
using DuiLib::MarkupNode;
using Attributes = std::vector<std::pair<std::wstring, std::wstring>>;

namespace {

MarkupNode ParseOrFail(std::string_view text) {
    std::string error;
    std::optional<MarkupNode> root = CMarkup::Parse(text, &error);
    EXPECT_TRUE(root) << error;
    return root ? std::move(*root) : MarkupNode{};
}

// A character beyond the basic plane, as this platform's wide strings hold it.
std::wstring Astral(char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        c -= 0x10000;
        return {static_cast<wchar_t>(0xD800 + (c >> 10)), static_cast<wchar_t>(0xDC00 + (c & 0x3FF))};
    } else {
        return std::wstring(1, static_cast<wchar_t>(c));
    }
}

TEST(Markup, ReadsADocumentWithDeclarationBomCommentsAndCrlf) {
    const MarkupNode root = ParseOrFail(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<!-- the window -->\r\n"
        "<Window size=\"700,490\">\r\n"
        "  <Font id='0' name=\"Arial\"/>\r\n"
        "  <!-- a <commented/> element -->\r\n"
        "  <VerticalLayout>text is ignored<![CDATA[ <not-an-element> ]]>\r\n"
        "    <Button name=\"btnMin\" ></Button>\r\n"
        "    <?skin note?>\r\n"
        "  </VerticalLayout >\r\n"
        "</Window>\r\n"
        "<!-- trailing comment -->\r\n");
    EXPECT_EQ(root.name, L"Window");
    EXPECT_EQ(root.attributes, (Attributes{{L"size", L"700,490"}}));
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0].name, L"Font");
    EXPECT_EQ(root.children[0].attributes, (Attributes{{L"id", L"0"}, {L"name", L"Arial"}}));
    const MarkupNode& layout = root.children[1];
    EXPECT_EQ(layout.name, L"VerticalLayout");
    ASSERT_EQ(layout.children.size(), 1u);
    EXPECT_EQ(layout.children[0].name, L"Button");
    EXPECT_TRUE(layout.children[0].children.empty());
}

TEST(Markup, KeepsAttributesGivenTwiceInOrder) {
    const MarkupNode root =
        ParseOrFail("<Text align=\"wrap\" font=\"1\" align=\"center\" font = '2' font=\"1\"/>");
    EXPECT_EQ(root.attributes, (Attributes{{L"align", L"wrap"},
                                           {L"font", L"1"},
                                           {L"align", L"center"},
                                           {L"font", L"2"},
                                           {L"font", L"1"}}));
    ASSERT_NE(root.Attribute(L"font"), nullptr);
    EXPECT_EQ(*root.Attribute(L"font"), L"1");  // the first one
    EXPECT_EQ(root.Attribute(L"Font"), nullptr);
    EXPECT_EQ(root.Attribute(L"missing"), nullptr);
}

TEST(Markup, DecodesReferencesAndUtf8InValues) {
    const struct {
        const char* value;  // as written between double quotes
        std::wstring expected;
    } cases[] = {
        {"&lt;&gt;&amp;&apos;&quot;", L"<>&'\""},
        {"a&amp;b", L"a&b"},
        {"&amp;lt;", L"&lt;"},  // no second round of decoding
        {"&#65;&#x42;&#x0063;&#x6A;", L"ABcj"},
        {"&#169;&#xe9;", L"\u00A9\u00E9"},
        {"\xC3\xA9\xE4\xB8\xAD", L"\u00E9\u4E2D"},
        {"\xF0\x9F\x98\x80", Astral(0x1F600)},
        {"&#x1F600;&#128512;", Astral(0x1F600) + Astral(0x1F600)},
        {"&#x10FFFF;", Astral(0x10FFFF)},
        {"it's", L"it's"},
        {"two\r\nlines\tand\rtab", L"two lines and tab"},
        {"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        const std::string text = std::string("<Label text=\"") + c.value + "\"/>";
        std::string error;
        const std::optional<MarkupNode> root = CMarkup::Parse(text, &error);
        ASSERT_TRUE(root) << error;
        ASSERT_EQ(root->attributes.size(), 1u);
        EXPECT_EQ(root->attributes[0].second, c.expected);
    }
    // Single quotes may hold double quotes and the other way round; names may be UTF-8.
    const MarkupNode root = ParseOrFail("<\xC3\xA9l a='say \"hi\"' b=\"it's\"/>");
    EXPECT_EQ(root.name, L"\u00E9l");
    EXPECT_EQ(root.attributes, (Attributes{{L"a", L"say \"hi\""}, {L"b", L"it's"}}));
}

TEST(Markup, RefusesMalformedInput) {
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty input", ""},
        {"only a byte order mark", "\xEF\xBB\xBF"},
        {"only a declaration", "<?xml version=\"1.0\"?>"},
        {"text instead of a root", "hello"},
        {"unclosed element", "<Window><Font/>"},
        {"unclosed start tag", "<Window size=\"1\""},
        {"mismatched end tag", "<Window><Font></Window></Font>"},
        {"end tag differing in case", "<Window></window>"},
        {"stray end tag", "</Window>"},
        {"two roots", "<a/><b/>"},
        {"text after the root", "<a/>text"},
        {"unquoted attribute", "<a b=c/>"},
        {"attribute without value", "<a b/>"},
        {"unterminated attribute value", "<a b=\"c/>"},
        {"'<' in an attribute value", "<a b=\"<\"/>"},
        {"attributes run together", "<a b=\"1\"c=\"2\"/>"},
        {"unterminated comment", "<a><!-- comment </a>"},
        {"unterminated declaration", "<?xml version=\"1.0\" <a/>"},
        {"unterminated CDATA", "<a><![CDATA[ x </a>"},
        {"doctype", "<!DOCTYPE a><a/>"},
        {"unknown entity", "<a b=\"&nbsp;\"/>"},
        {"entity without semicolon", "<a b=\"&amp\"/>"},
        {"entity in text without semicolon", "<a>&amp</a>"},
        {"empty character reference", "<a b=\"&#;\"/>"},
        {"upper-case hexadecimal marker", "<a b=\"&#X43;\"/>"},
        {"bad digit in a reference", "<a b=\"&#12a;\"/>"},
        {"reference to NUL", "<a b=\"&#0;\"/>"},
        {"reference to a surrogate", "<a b=\"&#xD800;\"/>"},
        {"reference beyond Unicode", "<a b=\"&#x110000;\"/>"},
        {"huge reference", "<a b=\"&#99999999999;\"/>"},
        {"reference wrapping 32 bits to 'A'", "<a b=\"&#x100000041;\"/>"},
        {"lone continuation byte", "<a b=\"\x80\"/>"},
        {"overlong encoding", "<a b=\"\xC0\xAF\"/>"},
        {"encoded surrogate", "<a b=\"\xED\xA0\x80\"/>"},
        {"sequence cut by the end", "<a b=\"x\"/>\xE4\xB8"},
        {"sequence cut by a quote", "<a b=\"\xE4\xB8\"/>"},
        {"beyond Unicode", "<a b=\"\xF4\x90\x80\x80\"/>"},
        {"bad UTF-8 in a comment", "<a><!-- \xFF --></a>"},
        {"bad UTF-8 in text", "<a>\xFE</a>"},
        {"control character", std::string("<a b=\"\x01\"/>")},
        {"NUL in text", std::string("<a>\0</a>", 8)},
        {"name starting with a digit", "<1a/>"},
        {"space after '<'", "< a/>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string error;
        EXPECT_FALSE(CMarkup::Parse(c.text, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(Markup, ReportsTheLineOfAnError) {
    std::string error;
    EXPECT_FALSE(CMarkup::Parse("<Window>\r\n  <Font>\r\n  </Fnot>\r\n</Window>\r\n", &error));
    EXPECT_THAT(error, testing::StartsWith("line 3:"));
    EXPECT_FALSE(CMarkup::Parse("<a/>x"));  // the message is optional
}

TEST(Markup, BoundsTheNestingDepth) {
    const auto nested = [](int depth) {
        std::string text;
        for (int i = 0; i < depth; ++i) text += "<e>";
        for (int i = 0; i < depth; ++i) text += "</e>";
        return text;
    };
    std::optional<MarkupNode> deep = CMarkup::Parse(nested(200));
    ASSERT_TRUE(deep);
    const MarkupNode* node = &*deep;
    int depth = 1;
    while (!node->children.empty()) {
        node = &node->children[0];
        ++depth;
    }
    EXPECT_EQ(depth, 200);

    std::string error;
    EXPECT_FALSE(CMarkup::Parse(nested(100000), &error));
    EXPECT_THAT(error, testing::HasSubstr("nested too deeply"));
}

}  // namespace
