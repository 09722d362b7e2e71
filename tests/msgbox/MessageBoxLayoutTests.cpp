// The message box's arithmetic against boxes worked out by hand, with the program's
// layouts: icon 41 by 33 placed "top", buttons 80 by 28, no title.
#include "ui/MessageBoxLayout.h"

#include "duilib/core/DpiScale.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

using DuiLib::UiRect;

namespace DuiLib {
void PrintTo(const UiRect& r, std::ostream* os) {
    *os << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}
}  // namespace DuiLib

namespace {

constexpr FixedSize kIcon{41, 33};
constexpr FixedSize kButton{80, 28};

MessageBoxParts ProgramLayout(int type, std::vector<TextExtent> lines) {
    MessageBoxParts parts;
    parts.type = type;
    parts.icon = kIcon;
    parts.iconPlacement = L"top";
    parts.hasTitle = true;  // "txtTitel" is there; the title is empty, so nothing is measured
    parts.hasMessage = true;
    parts.lines = std::move(lines);
    parts.first = kButton;
    if (type == MessageBoxTypeYesNo) parts.second = kButton;
    return parts;
}

struct WorkedBox {
    const char* what;
    int type;
    std::vector<TextExtent> lines;
    int textWidth, textHeight, half, count;
    int width, height;
    UiRect icon, message, first;
    std::optional<UiRect> second;
};

TEST(MessageBoxLayout, WorkedBoxes) {
    const WorkedBox boxes[] = {
        {"Yes/No, two lines", MessageBoxTypeYesNo, {{230, 14}, {150, 14}}, 235, 42, 7, 2, 275, 157,
         {117, 20, 158, 53}, {20, 60, 255, 102}, {47, 109, 127, 137}, UiRect{147, 109, 227, 137}},
        {"OK, one wide line", MessageBoxTypeOk, {{300, 14}}, 305, 28, 7, 1, 345, 143,
         {152, 20, 193, 53}, {20, 60, 325, 88}, {132, 95, 212, 123}, std::nullopt},
        {"OK, one short line: the button row decides the width and the text is centred", MessageBoxTypeOk,
         {{50, 14}}, 55, 28, 7, 1, 120, 143, {39, 20, 80, 53}, {32, 60, 87, 88}, {20, 95, 100, 123}, std::nullopt},
        {"a line wider than the width so far sets it to its own width plus 5", MessageBoxTypeOk,
         {{100, 14}, {103, 14}}, 105, 42, 7, 1, 145, 157, {52, 20, 93, 53}, {20, 60, 125, 102},
         {32, 109, 112, 137}, std::nullopt},
        {"a trailing line feed: the empty last line is measured and decides half", MessageBoxTypeYesNo,
         {{230, 14}, {0, 15}}, 235, 43, 7, 2, 275, 158, {117, 20, 158, 53}, {20, 60, 255, 103},
         {47, 110, 127, 138}, UiRect{147, 110, 227, 138}},
        {"an odd last line height halves toward zero", MessageBoxTypeOk, {{200, 15}}, 205, 29, 7, 1, 245, 144,
         {102, 20, 143, 53}, {20, 60, 225, 89}, {82, 96, 162, 124}, std::nullopt},
    };
    for (const WorkedBox& box : boxes) {
        SCOPED_TRACE(box.what);
        const MessageBoxGeometry g = ComputeMessageBoxLayout(ProgramLayout(box.type, box.lines));
        EXPECT_EQ(g.textWidth, box.textWidth);
        EXPECT_EQ(g.textHeight, box.textHeight);
        EXPECT_EQ(g.half, box.half);
        EXPECT_EQ(g.buttonCount, box.count);
        EXPECT_EQ(g.width, box.width);
        EXPECT_EQ(g.height, box.height);
        EXPECT_EQ(g.icon, box.icon);
        EXPECT_EQ(g.message, box.message);
        EXPECT_EQ(g.first, box.first);
        EXPECT_EQ(g.second, box.second);
        EXPECT_EQ(g.title, (UiRect{5, 5, 0, 0})) << "an empty title stays sized 0";
        EXPECT_FALSE(g.close.has_value());
    }
}

// At another DPI the layout's controls come scaled (the icon and buttons below) and the
// text is measured with the scaled font; the box's own margins and paddings scale too.
MessageBoxParts ScaledProgramLayout(int dpi, int type, std::vector<TextExtent> lines) {
    MessageBoxParts parts = ProgramLayout(type, std::move(lines));
    parts.dpi = dpi;
    parts.icon = FixedSize{DuiLib::ScaleByDpi(kIcon.width, dpi), DuiLib::ScaleByDpi(kIcon.height, dpi)};
    const FixedSize button{DuiLib::ScaleByDpi(kButton.width, dpi), DuiLib::ScaleByDpi(kButton.height, dpi)};
    parts.first = button;
    if (type == MessageBoxTypeYesNo) parts.second = button;
    return parts;
}

TEST(MessageBoxLayout, AtTwiceTheDpiTwiceTheTextGivesTwiceTheBox) {
    // The first worked boxes at 200 %, their lines measured twice as large: the box is
    // exactly twice the size; what is centred by halving may land one pixel right of twice
    // its place at 100 %, where the half pixel was dropped.
    const struct {
        int type;
        UiRect first;
        std::optional<UiRect> second;
    } cases[] = {
        {MessageBoxTypeYesNo, {95, 218, 255, 274}, UiRect{295, 218, 455, 274}},
        {MessageBoxTypeOk, {195, 218, 355, 274}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const MessageBoxGeometry at96 = ComputeMessageBoxLayout(ProgramLayout(c.type, {{230, 14}, {150, 14}}));
        const MessageBoxGeometry g = ComputeMessageBoxLayout(ScaledProgramLayout(192, c.type, {{460, 28}, {300, 28}}));
        EXPECT_EQ(g.width, 2 * at96.width);
        EXPECT_EQ(g.height, 2 * at96.height);
        EXPECT_EQ(g.width, 550);
        EXPECT_EQ(g.height, 314);
        EXPECT_EQ(g.icon, (UiRect{234, 40, 316, 106}));
        EXPECT_EQ(g.message, (UiRect{40, 120, 510, 204}));
        EXPECT_EQ(g.first, c.first);
        EXPECT_EQ(g.second, c.second);
        EXPECT_EQ(g.title, (UiRect{10, 10, 0, 0}));
    }
}

TEST(MessageBoxLayout, WorkedBoxAt150Percent) {
    // Icon 62 by 50, buttons 120 by 42; margins and the gap 30, the line padding 8
    // (7.5 rounded away from zero); two lines of 345 and 225 by 21.
    const MessageBoxGeometry g =
        ComputeMessageBoxLayout(ScaledProgramLayout(144, MessageBoxTypeYesNo, {{345, 21}, {225, 21}}));
    EXPECT_EQ(g.textWidth, 353);
    EXPECT_EQ(g.half, 10);
    EXPECT_EQ(g.textHeight, 62);
    EXPECT_EQ(g.width, 413);   // 353 + 2 x 30
    EXPECT_EQ(g.height, 234);  // band 30 + 2 x 10 + 30 + icon 50 + button 42 + text 62
    EXPECT_EQ(g.icon, (UiRect{175, 30, 237, 80}));
    EXPECT_EQ(g.message, (UiRect{30, 90, 383, 152}));
    EXPECT_EQ(g.first, (UiRect{71, 162, 191, 204}));
    EXPECT_EQ(g.second, (UiRect{221, 162, 341, 204}));
    EXPECT_EQ(g.title, (UiRect{8, 8, 0, 0}));

    // A short line at 125 %: the button row decides the width, the text is centred over it.
    const MessageBoxGeometry narrow = ComputeMessageBoxLayout(ScaledProgramLayout(120, MessageBoxTypeOk, {{63, 18}}));
    EXPECT_EQ(narrow.textWidth, 69);  // 63 + 6
    EXPECT_EQ(narrow.width, 150);     // button 100 + 2 x 25
    EXPECT_EQ(narrow.message, (UiRect{40, 25 + 41 + 9, 109, 75 + 36}));
    EXPECT_EQ(narrow.first, (UiRect{25, narrow.height - 35 - 25, 125, narrow.height - 25}));
}

TEST(MessageBoxLayout, LinesSplitAtEveryLineFeed) {
    const struct {
        std::wstring message;
        std::vector<std::wstring> lines;
    } cases[] = {
        {L"", {L""}},
        {L"one", {L"one"}},
        {L"Computer will shut down after this process. \nAre you ready to proceed?",
         {L"Computer will shut down after this process. ", L"Are you ready to proceed?"}},
        {L"ends in a feed\n", {L"ends in a feed", L""}},
        {L"\n\n", {L"", L"", L""}},
        {L"a\r\nb", {L"a\r", L"b"}},
    };
    for (const auto& c : cases) {
        const auto lines = SplitMessageLines(c.message);
        ASSERT_EQ(lines.size(), c.lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(std::wstring(lines[i]), c.lines[i]);
    }
}

TEST(MessageBoxLayout, ButtonsOfEachType) {
    const struct {
        int type;
        const wchar_t* first;
        const wchar_t* second;
    } cases[] = {
        {0, L"btnOK", nullptr},
        {1, L"btnOK", L"btnCancel"},
        {4, L"btnYes", L"btnNo"},
        {0x34, L"btnYes", L"btnNo"},  // icon and default-button bits above the low four are ignored
        {0x40, L"btnOK", nullptr},
        {2, nullptr, nullptr},
        {3, nullptr, nullptr},
        {5, nullptr, nullptr},
        {15, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const MessageBoxButtonNames names = ButtonsOfType(c.type);
        EXPECT_EQ(names.first ? std::wstring(names.first) : L"-", c.first ? std::wstring(c.first) : L"-") << c.type;
        EXPECT_EQ(names.second ? std::wstring(names.second) : L"-", c.second ? std::wstring(c.second) : L"-")
            << c.type;
    }
}

TEST(MessageBoxLayout, IconOnTheLeftWidensTheContent) {
    MessageBoxParts parts = ProgramLayout(MessageBoxTypeOk, {{300, 14}});
    parts.iconPlacement = L"left";
    const MessageBoxGeometry g = ComputeMessageBoxLayout(parts);
    EXPECT_EQ(g.width, 305 + 41 + 40);
    EXPECT_EQ(g.height, 20 + 14 + 20 + 28 + 28) << "no icon row above the text";
    EXPECT_EQ(g.icon, (UiRect{20, 20, 61, 53}));
    EXPECT_EQ(g.message, (UiRect{61, 20, 366, 48}));

    // Placement is compared exactly: "Top" is neither "top" nor "left".
    parts.iconPlacement = L"Top";
    const MessageBoxGeometry odd = ComputeMessageBoxLayout(parts);
    EXPECT_EQ(odd.width, 345);
    EXPECT_EQ(odd.height, 20 + 14 + 20 + 28 + 28);
    EXPECT_EQ(odd.icon, (UiRect{20, 20, 61, 53}));
}

TEST(MessageBoxLayout, TitleAndCloseButton) {
    MessageBoxParts parts = ProgramLayout(MessageBoxTypeYesNo, {{230, 14}, {150, 14}});
    parts.title = TextExtent{60, 16};
    parts.close = FixedSize{16, 16};
    const MessageBoxGeometry g = ComputeMessageBoxLayout(parts);
    EXPECT_EQ(g.title, (UiRect{5, 5, 70, 26}));
    EXPECT_EQ(g.height, 157 + 6) << "the title band is 26 high instead of 20";
    EXPECT_EQ(g.close, (UiRect{275 - 21, 5, 270, 21}));
    EXPECT_EQ(g.icon, (UiRect{117, 26, 158, 59}));
}

TEST(MessageBoxLayout, MissingControls) {
    // No layout at all: still sized from the measurements, nothing placed.
    MessageBoxParts bare;
    bare.type = MessageBoxTypeYesNo;
    bare.lines = {{100, 16}};
    const MessageBoxGeometry none = ComputeMessageBoxLayout(bare);
    EXPECT_EQ(none.width, 105 + 40);
    EXPECT_EQ(none.height, 20 + 16 + 20 + 0 + 32);
    EXPECT_FALSE(none.icon || none.message || none.first || none.second || none.title || none.close);

    // Yes/No layout without "btnYes": one button's room, "btnNo" given no room at all.
    MessageBoxParts noYes = ProgramLayout(MessageBoxTypeYesNo, {{230, 14}});
    noYes.first.reset();
    const MessageBoxGeometry g = ComputeMessageBoxLayout(noYes);
    EXPECT_EQ(g.buttonCount, 1);
    EXPECT_EQ(g.button.width, 80);
    EXPECT_FALSE(g.first.has_value());
    EXPECT_EQ(g.second, UiRect{});

    // A first button of width 0 takes its size from the second.
    MessageBoxParts zeroWide = ProgramLayout(MessageBoxTypeYesNo, {{230, 14}});
    zeroWide.first = FixedSize{0, 40};
    zeroWide.second = FixedSize{90, 30};
    const MessageBoxGeometry z = ComputeMessageBoxLayout(zeroWide);
    EXPECT_EQ(z.button.width, 90);
    EXPECT_EQ(z.button.height, 30);

    // No icon: the message starts at the margin.
    MessageBoxParts noIcon = ProgramLayout(MessageBoxTypeOk, {{300, 14}});
    noIcon.icon.reset();
    const MessageBoxGeometry n = ComputeMessageBoxLayout(noIcon);
    EXPECT_EQ(n.message, (UiRect{20, 20, 325, 48}));
    EXPECT_EQ(n.height, 20 + 14 + 20 + 28 + 28);
}

}  // namespace

namespace {

TEST(MessageBoxWindowName, TitleElseTheMessageOnOneLine) {
    const struct {
        const wchar_t* title;
        const wchar_t* message;
        const wchar_t* name;
    } cases[] = {
        {L"", L"Computer will shut down after this process. \nAre you ready to proceed?",
         L"Computer will shut down after this process. Are you ready to proceed?"},
        {L"Zephra", L"Open Device error, error code 2", L"Zephra"},
        {L"", L"Open Device error, error code 2", L"Open Device error, error code 2"},
        {L"", L"Proceed?\n", L"Proceed?"},
        {L"", L"\n\nTwo\r\n  lines  ", L"Two lines"},
        {L"", L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(MessageBoxWindowName(c.title, c.message), c.name) << c.message;
}

}  // namespace
