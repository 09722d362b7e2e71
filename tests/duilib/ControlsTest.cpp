#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "duilib/core/Controls.h"
#include "duilib/core/PaintManagerCore.h"
#include "TestSupport.h"

namespace DuiLib {
namespace {

using testing::DrawCall;
using testing::RecordingTarget;
using ::testing::ElementsAre;

constexpr UiRect kWindow{0, 0, 700, 490};

// A root with one floating child, laid out over a 700 x 490 client area.
struct Tree : CPaintManagerCore {
    explicit Tree(std::unique_ptr<CControlUI> child) {
        auto root = std::make_unique<CVerticalLayoutUI>();
        control = child.get();
        root->Add(std::move(child));
        AttachDialog(std::move(root));
        SetClientRect(kWindow);
        EnsureLayout();
    }
    std::vector<DrawCall> Paint() {
        EnsureLayout();
        RecordingTarget target;
        control->Paint(target, kWindow);
        return target.calls;
    }
    CControlUI* control;
};

void Apply(CControlUI& c, std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> attributes) {
    for (const auto& [name, value] : attributes) c.SetAttribute(name, value);
}

TEST(Controls, AttributesGivenTwiceAreAppliedInOrder) {
    CTextUI text;
    Apply(text, {{L"align", L"center"}, {L"align", L"wrap"}, {L"align", L"wrap"}});
    EXPECT_EQ(text.GetTextStyle(), TextWordBreak | TextCenter) << "wrap leaves the style alone";

    CButtonUI button;
    Apply(button, {{L"font", L"1"}, {L"font", L"2"}, {L"text", L"OK"}, {L"text", L"Ok"},
                   {L"normalimage", L"a.png"}, {L"normalimage", L"b.png"}});
    EXPECT_EQ(button.GetFont(), 2);
    EXPECT_EQ(button.GetText(), L"Ok");
    EXPECT_EQ(button.GetNormalImage(), L"b.png");

    CLabelUI label;
    Apply(label, {{L"align", L"right"}, {L"align", L"left"}});
    EXPECT_EQ(label.GetTextStyle(), TextSingleLine | TextVCenter | TextLeft);
    Apply(label, {{L"align", L"bogus"}, {L"textcolor", L"nonsense"}, {L"nosuch", L"1"}});
    EXPECT_EQ(label.GetTextStyle(), TextSingleLine | TextVCenter | TextLeft);
    EXPECT_EQ(label.GetTextColor(), 0xFF000000u);
}

TEST(Controls, ClassNamesAndTextDefaults) {
    EXPECT_EQ(CControlUI().GetClass(), L"ControlUI");
    EXPECT_EQ(CLabelUI().GetClass(), L"LabelUI");
    EXPECT_EQ(CTextUI().GetClass(), L"TextUI");
    EXPECT_EQ(CButtonUI().GetClass(), L"ButtonUI");
    EXPECT_EQ(CVerticalLayoutUI().GetClass(), L"VerticalLayoutUI");
    EXPECT_EQ(CTextUI().GetTextPadding(), (UiRect{2, 0, 2, 0}));
    EXPECT_EQ(CLabelUI().GetTextPadding(), (UiRect{0, 0, 0, 0}));
}

TEST(Controls, FloatingPositionIsRelativeToTheParent) {
    // The button sits in a panel that starts at (100, 50).
    auto panel = std::make_unique<CVerticalLayoutUI>();
    Apply(*panel, {{L"float", L"true"}, {L"pos", L"100,50,500,400"}});
    auto child = std::make_unique<CButtonUI>();
    Apply(*child, {{L"float", L"true"}, {L"pos", L"558,5,0,0"}, {L"width", L"16"}, {L"height", L"16"}});
    CButtonUI* button = child.get();
    panel->Add(std::move(child));
    Tree tree(std::move(panel));
    EXPECT_EQ(tree.control->GetPos(), (UiRect{100, 50, 500, 400}));
    EXPECT_EQ(button->GetPos(), (UiRect{658, 55, 674, 71})) << "x, y only; width and height size it";

    // A full rectangle sizes the control too, whatever came before.
    button->SetAttribute(L"pos", L"10,20,110,50");
    tree.EnsureLayout();
    EXPECT_EQ(button->GetPos(), (UiRect{110, 70, 210, 100}));

    // Code places it relative to the parent as well.
    button->SetPos({132, 95, 212, 123});
    tree.EnsureLayout();
    EXPECT_EQ(button->GetPos(), (UiRect{232, 145, 312, 173}));
    EXPECT_EQ(button->GetFixedWidth(), 80);
    EXPECT_EQ(button->GetFixedHeight(), 28);

    // An empty rectangle leaves it with no size, not with its earlier one.
    button->SetPos({0, 0, 0, 0});
    tree.EnsureLayout();
    EXPECT_TRUE(button->GetPos().IsEmpty());
}

TEST(Controls, TextIsDrawnOpaqueInTheFontAndInsideThePadding) {
    struct Case {
        const wchar_t* textcolor;
        bool enabled;
        Argb drawn;
    } cases[] = {
        {L"#00FFFFFF", true, 0xFFFFFFFFu},   // transparent alpha still draws white
        {L"#FF000000", true, 0xFF000000u},
        {L"#00FFFFFF", false, 0xFFA7A6AAu},  // disabled: the disabled colour
    };
    for (const auto& c : cases) {
        auto child = std::make_unique<CTextUI>();
        Apply(*child, {{L"float", L"true"}, {L"pos", L"110,341,0,0"}, {L"width", L"500"}, {L"height", L"80"},
                       {L"font", L"2"}, {L"text", L"Notice"}, {L"textcolor", c.textcolor},
                       {L"disabledtextcolor", L"#FFA7A6AA"}});
        child->SetEnabled(c.enabled);
        Tree tree(std::move(child));
        const auto calls = tree.Paint();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].kind, DrawCall::Text);
        EXPECT_EQ(calls[0].what, L"Notice");
        EXPECT_EQ(calls[0].color, c.drawn);
        EXPECT_EQ(calls[0].fontId, 2);
        EXPECT_EQ(calls[0].rect, (UiRect{112, 341, 608, 421}));
        EXPECT_EQ(calls[0].style, TextWordBreak | TextLeft);
    }
}

TEST(Controls, BackgroundImageColourAndOpaqueBorder) {
    auto child = std::make_unique<CVerticalLayoutUI>();
    Apply(*child, {{L"bordersize", L"1"}, {L"bkcolor", L"#FFFFFFFF"}, {L"bordercolor", L"#00000000"},
                   {L"bkimage", L"back.png"}, {L"width", L"200"}, {L"height", L"100"}});
    Tree tree(std::move(child));
    const auto calls = tree.Paint();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].kind, DrawCall::Fill);
    EXPECT_EQ(calls[0].color, 0xFFFFFFFFu);
    EXPECT_EQ(calls[1].kind, DrawCall::Image);
    EXPECT_EQ(calls[1].what, L"back.png");
    EXPECT_EQ(calls[2].kind, DrawCall::Frame);
    EXPECT_EQ(calls[2].color, 0xFF000000u) << "a border of alpha 0 is opaque black";
    EXPECT_EQ(calls[2].width, 1);
    EXPECT_EQ(calls[2].rect, (UiRect{0, 0, 200, 100}));
}

TEST(Controls, ButtonShowsItsOwnImageForEachState) {
    // Like "btnClose": a disabled image and no pushed image.
    CButtonUI close;
    Apply(close, {{L"normalimage", L"closeN.png"}, {L"hotimage", L"closeH.png"},
                  {L"disabledimage", L"closeD.png"}});
    close.Arrange({679, 5, 695, 21});
    // Like "btnMin": a pushed image and no disabled image.
    CButtonUI min;
    Apply(min, {{L"normalimage", L"minN.png"}, {L"hotimage", L"minH.png"}, {L"pushedimage", L"minP.png"}});
    min.Arrange({658, 5, 674, 21});

    auto imageOf = [](CButtonUI& b, bool hot, bool pushed, bool enabled) {
        b.SetHot(hot);
        b.SetPushed(pushed);
        b.SetEnabled(enabled);
        RecordingTarget target;
        b.Paint(target, kWindow);
        return target.Images();
    };
    EXPECT_THAT(imageOf(close, false, false, true), ElementsAre(L"closeN.png"));
    EXPECT_THAT(imageOf(close, true, false, true), ElementsAre(L"closeH.png"));
    EXPECT_THAT(imageOf(close, true, true, true), ElementsAre(L"closeN.png"));
    EXPECT_THAT(imageOf(close, false, false, false), ElementsAre(L"closeD.png"));
    EXPECT_THAT(imageOf(min, true, true, true), ElementsAre(L"minP.png"));
    EXPECT_THAT(imageOf(min, false, false, false), ElementsAre(L"minN.png"));
    EXPECT_EQ(close.GetPushedImage(), L"");
    EXPECT_EQ(min.GetDisabledImage(), L"");
}

TEST(Controls, HitTestingFindsTheTopmostVisibleControl) {
    auto root = std::make_unique<CVerticalLayoutUI>();
    auto below = std::make_unique<CLabelUI>();
    auto above = std::make_unique<CButtonUI>();
    Apply(*below, {{L"name", L"below"}, {L"float", L"true"}, {L"pos", L"10,10,110,60"}});
    Apply(*above, {{L"name", L"above"}, {L"float", L"true"}, {L"pos", L"50,20,150,40"}});
    CControlUI* belowPtr = below.get();
    CControlUI* abovePtr = above.get();
    root->Add(std::move(below));
    root->Add(std::move(above));
    CPaintManagerCore manager;
    manager.AttachDialog(std::move(root));
    // The manager lays out over its client area, which the window side reports; here the
    // root is arranged by hand.
    manager.GetRoot()->Arrange(kWindow);
    EXPECT_EQ(manager.GetRoot()->FindControlAt({60, 30}), abovePtr);
    EXPECT_EQ(manager.GetRoot()->FindControlAt({20, 30}), belowPtr);
    EXPECT_EQ(manager.GetRoot()->FindControlAt({109, 59}), belowPtr);
    EXPECT_EQ(manager.GetRoot()->FindControlAt({110, 59}), manager.GetRoot()) << "right edge is outside";
    EXPECT_EQ(manager.GetRoot()->FindControlAt({700, 0}), nullptr);
    abovePtr->SetVisible(false);
    EXPECT_EQ(manager.GetRoot()->FindControlAt({60, 30}), belowPtr);
    EXPECT_EQ(manager.FindControl(L"above"), abovePtr);
    EXPECT_EQ(manager.FindControl(L"nosuch"), nullptr);
    EXPECT_EQ(manager.FindControl(L""), nullptr);
}

}  // namespace
}  // namespace DuiLib
