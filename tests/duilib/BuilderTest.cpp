#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "duilib/core/DialogBuilder.h"
#include "duilib/core/PaintManagerCore.h"
#include "duilib/core/SkinResources.h"
#include "TestSupport.h"

namespace DuiLib {
namespace {

// A manager laid out over a client area of a given size.
struct Manager : CPaintManagerCore {
    void LayOut(int width, int height) {
        SetClientRect({0, 0, width, height});
        EnsureLayout();
    }
};

// Reads the layouts from the source tree's skin folder.
class SkinFolder : public ::testing::Test {
protected:
    void SetUp() override {
        SkinResources::CloseZip();
        SkinResources::SetResourcePath(testing::SourceSkinFolder());
    }
    void TearDown() override { SkinResources::SetResourcePath(L""); }

    std::unique_ptr<CControlUI> Build(const wchar_t* layout, IDialogBuilderCallback* callback = nullptr) {
        CDialogBuilder builder;
        auto root = builder.Create(layout, callback, &manager);
        EXPECT_TRUE(root) << builder.GetLastError();
        return root;
    }

    Manager manager;
};

struct Expected {
    const wchar_t* name;
    std::wstring_view kind;
    UiRect pos;
    int font;
    const wchar_t* text;
    unsigned style;
    Argb textColor;
};

TEST_F(SkinFolder, MainLayoutBuildsTheWholePanel) {
    manager.AttachDialog(Build(L"mainSkin.xml"));
    manager.LayOut(700, 490);
    EXPECT_EQ(manager.GetInitSize(), (UiSize{700, 490}));
    EXPECT_EQ(manager.GetCaptionRect(), (UiRect{0, 0, 0, 32}));
    ASSERT_EQ(manager.Fonts().size(), 3u);
    for (int id : {0, 1}) {
        const FontSpec* font = manager.GetFontSpec(id);
        ASSERT_TRUE(font);
        EXPECT_EQ(font->face, L"Arial");
        EXPECT_EQ(font->size, 16);
        EXPECT_FALSE(font->bold || font->italic);
    }
    EXPECT_EQ(manager.GetFontSpec(2)->size, 12);

    CControlUI* root = manager.GetRoot();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->GetClass(), L"VerticalLayoutUI");
    EXPECT_EQ(root->GetBkImage(), L"mainWnd.jpg");
    EXPECT_EQ(root->GetPos(), (UiRect{0, 0, 700, 490}));

    constexpr unsigned kLine = TextSingleLine | TextVCenter;
    const Expected expected[] = {
        {L"btnMin", L"ButtonUI", {658, 5, 674, 21}, -1, L"", kLine | TextCenter, 0xFF000000u},
        {L"btnClose", L"ButtonUI", {679, 5, 695, 21}, -1, L"", kLine | TextCenter, 0xFF000000u},
        {L"LabelDevice", L"LabelUI", {81, 112, 383, 156}, 0, L"Tavik VX310 Series SSD", kLine | TextCenter,
         0xFF000000u},
        {L"LabelMN", L"LabelUI", {105, 174, 196, 204}, 0, L"Model No.:", kLine, 0xFF000000u},
        {L"LabelCap", L"LabelUI", {105, 222, 196, 252}, 0, L"Capacity:", kLine, 0xFF000000u},
        {L"LabelStatus", L"LabelUI", {105, 270, 196, 300}, 0, L"Status:", kLine, 0xFF000000u},
        {L"LabelMnVal", L"LabelUI", {210, 174, 390, 204}, 0, L"", kLine, 0xFF000000u},
        {L"LabelCapVal", L"LabelUI", {210, 223, 390, 253}, 0, L"", kLine, 0xFF000000u},
        {L"LabelStatusVal", L"LabelUI", {210, 270, 390, 300}, 0, L"", kLine, 0xFF000000u},
        {L"TextNotice", L"TextUI", {110, 341, 610, 421}, 2, L"Notice", TextWordBreak, 0xFF000000u},
        {L"btnOption", L"ButtonUI", {272, 425, 431, 463}, 0, L"On", kLine | TextCenter, 0x00FFFFFFu},
        // The health line, in the free band between the status row and the notice.
        {L"LabelHealth", L"LabelUI", {105, 302, 196, 330}, 0, L"", kLine, 0xFF000000u},
        {L"LabelHealthVal", L"LabelUI", {210, 302, 610, 330}, 0, L"", kLine, 0xFF000000u},
    };
    ASSERT_EQ(root->AsContainer()->GetCount(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Expected& e = expected[i];
        SCOPED_TRACE(e.name);
        CControlUI* c = manager.FindControl(e.name);
        ASSERT_TRUE(c);
        EXPECT_EQ(c, root->AsContainer()->GetItemAt(i)) << "document order";
        EXPECT_EQ(c->GetClass(), e.kind);
        EXPECT_TRUE(c->IsFloat());
        EXPECT_EQ(c->GetPos(), e.pos);
        EXPECT_EQ(c->GetFont(), e.font);
        EXPECT_EQ(c->GetText(), e.text);
        EXPECT_EQ(c->GetTextStyle(), e.style);
        EXPECT_EQ(c->GetTextColor(), e.textColor);
        EXPECT_EQ(c->GetDisabledTextColor(), 0xFFA7A6AAu);
    }

    auto* min = dynamic_cast<CButtonUI*>(manager.FindControl(L"btnMin"));
    auto* close = dynamic_cast<CButtonUI*>(manager.FindControl(L"btnClose"));
    auto* option = dynamic_cast<CButtonUI*>(manager.FindControl(L"btnOption"));
    ASSERT_TRUE(min && close && option);
    EXPECT_EQ(min->GetPushedImage(), L"1btnMinPush.png");
    EXPECT_EQ(min->GetDisabledImage(), L"") << "never taken from another button";
    EXPECT_EQ(close->GetDisabledImage(), L"1btnClosePush.png");
    EXPECT_EQ(close->GetPushedImage(), L"") << "never taken from another button";
    EXPECT_EQ(option->GetNormalImage(), L"on_normal.png");
    EXPECT_EQ(option->GetHotImage(), L"on_over.png");
    EXPECT_EQ(option->GetPushedImage(), L"on_down.png");
    EXPECT_EQ(option->GetDisabledImage(), L"on_down.png");
}

TEST_F(SkinFolder, MessageBoxLayoutsDifferOnlyInTheirButtons) {
    const struct {
        const wchar_t* layout;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> buttons;
    } cases[] = {
        {L"messageBoxOK.xml", {{L"btnOK", L"OK"}}},
        {L"messageBoxYesNo.xml", {{L"btnYes", L"Yes"}, {L"btnNo", L"No"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::wstring(c.layout).size());
        Manager box;
        CDialogBuilder builder;
        box.AttachDialog(builder.Create(c.layout, nullptr, &box));
        box.LayOut(275, 157);
        CControlUI* root = box.GetRoot();
        ASSERT_TRUE(root) << builder.GetLastError();
        EXPECT_EQ(box.GetCaptionRect(), (UiRect{0, 0, 0, 26}));
        EXPECT_EQ(box.GetInitSize(), (UiSize{0, 0}));
        EXPECT_EQ(box.GetFontSpec(0)->size, 24);
        EXPECT_EQ(box.GetFontSpec(1)->size, 12);
        EXPECT_EQ(root->GetPos(), (UiRect{0, 0, 275, 157})) << "the root fills the window";
        EXPECT_EQ(root->GetBorderSize(), 1);
        EXPECT_EQ(root->GetBkColor(), 0xFFFFFFFFu);
        EXPECT_EQ(root->GetBorderColor(), 0x00000000u);

        CControlUI* icon = box.FindControl(L"ctrlIcon");
        ASSERT_TRUE(icon);
        EXPECT_EQ(icon->GetClass(), L"ControlUI");
        EXPECT_EQ(icon->GetText(), L"top");
        EXPECT_EQ(icon->GetFixedWidth(), 41);
        EXPECT_EQ(icon->GetFixedHeight(), 33);
        EXPECT_EQ(icon->GetBkImage(), L"warning.png");
        for (const wchar_t* name : {L"txtTitel", L"txtMsg"}) {
            CControlUI* text = box.FindControl(name);
            ASSERT_TRUE(text);
            EXPECT_EQ(text->GetClass(), L"TextUI");
            EXPECT_EQ(text->GetFont(), 1);
            EXPECT_EQ(text->GetTextPadding(), (UiRect{2, 0, 2, 0}));
            EXPECT_EQ(text->GetFixedWidth(), 0);
        }
        for (const auto& [name, text] : c.buttons) {
            auto* button = dynamic_cast<CButtonUI*>(box.FindControl(name));
            ASSERT_TRUE(button);
            EXPECT_EQ(button->GetText(), text);
            EXPECT_EQ(button->GetFont(), 1);
            EXPECT_EQ(button->GetFixedWidth(), 80);
            EXPECT_EQ(button->GetFixedHeight(), 28);
            EXPECT_EQ(button->GetTextColor(), 0x00FFFFFFu);
            EXPECT_EQ(button->GetPushedImage(), L"1redBtnNormal.png");
            EXPECT_EQ(button->GetDisabledImage(), L"1redBtnDisable.png");
        }
        EXPECT_EQ(root->AsContainer()->GetCount(), 3 + c.buttons.size());
        for (const wchar_t* absent : {L"btnClose", L"btnMin", L"btnMax", L"btnCancel"}) {
            EXPECT_EQ(box.FindControl(absent), nullptr);
        }
    }
}

class CustomFactory : public IDialogBuilderCallback {
public:
    std::unique_ptr<CControlUI> MakeControl(std::wstring_view className) override {
        asked.emplace_back(className);
        if (className == L"Fancy") return std::make_unique<CLabelUI>();
        return nullptr;
    }
    std::vector<std::wstring> asked;
};

TEST(Builder, UnknownElementsGoToTheCallbackOrAreSkipped) {
    CPaintManagerCore manager;
    CustomFactory factory;
    CDialogBuilder builder;
    auto root = builder.CreateFromText(
        "<Window><VerticalLayout><Fancy name=\"f\"/><Strange name=\"s\"><Label name=\"inner\"/></Strange>"
        "<Label name=\"l\"/></VerticalLayout></Window>",
        &factory, &manager);
    ASSERT_TRUE(root);
    EXPECT_THAT(factory.asked, ::testing::ElementsAre(L"Fancy", L"Strange"));
    EXPECT_EQ(root->AsContainer()->GetCount(), 2u);
    EXPECT_TRUE(root->FindControlByName(L"f"));
    EXPECT_FALSE(root->FindControlByName(L"inner"));
    EXPECT_TRUE(root->FindControlByName(L"l"));
}

TEST(Builder, AttributesGivenTwiceAreAppliedTwiceInOrder) {
    CPaintManagerCore manager;
    CDialogBuilder builder;
    auto root = builder.CreateFromText(
        "<Window caption=\"0,0,0,10\" caption=\"0,0,0,26\">"
        "<Font id=\"1\" name=\"Arial\" size=\"16\" size=\"12\"/>"
        "<VerticalLayout><Button name=\"b\" text=\"OK\" font=\"1\" text=\"Ok\" font=\"2\" align=\"right\""
        " align=\"wrap\" pushedimage=\"a.png\" pushedimage=\"b.png\"/></VerticalLayout></Window>",
        nullptr, &manager);
    ASSERT_TRUE(root) << builder.GetLastError();
    EXPECT_EQ(manager.GetCaptionRect(), (UiRect{0, 0, 0, 26}));
    EXPECT_EQ(manager.GetFontSpec(1)->size, 12);
    auto* button = dynamic_cast<CButtonUI*>(root->FindControlByName(L"b"));
    ASSERT_TRUE(button);
    EXPECT_EQ(button->GetText(), L"Ok");
    EXPECT_EQ(button->GetFont(), 2);
    EXPECT_EQ(button->GetTextStyle(), TextSingleLine | TextVCenter | TextRight) << "wrap leaves right in place";
    EXPECT_EQ(button->GetPushedImage(), L"b.png");
}

TEST(Builder, UnreadableLayoutsYieldNoRoot) {
    const char* cases[] = {
        "",
        "<Window><VerticalLayout></Window>",
        "<Dialog><VerticalLayout/></Dialog>",
        "<Window size=\"700,490\"><Font id=\"0\" name=\"Arial\" size=\"16\"/></Window>",
    };
    for (const char* text : cases) {
        CPaintManagerCore manager;
        CDialogBuilder builder;
        EXPECT_EQ(builder.CreateFromText(text, nullptr, &manager), nullptr) << text;
    }
    SkinResources::CloseZip();
    SkinResources::SetResourcePath(testing::SourceSkinFolder());
    CDialogBuilder builder;
    EXPECT_EQ(builder.Create(L"noSuchLayout.xml", nullptr, nullptr), nullptr);
    EXPECT_FALSE(builder.GetLastError().empty());
    SkinResources::SetResourcePath(L"");
}

TEST(Builder, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string text = "<Window>";
    for (int i = 0; i < 200; ++i) text += "<VerticalLayout>";
    for (int i = 0; i < 200; ++i) text += "</VerticalLayout>";
    text += "</Window>";
    CPaintManagerCore manager;
    CDialogBuilder builder;
    auto root = builder.CreateFromText(text, nullptr, &manager);
    // Either the reader refuses it, or the builder stops at its depth limit.
    int depth = 0;
    for (CControlUI* c = root.get(); c && c->AsContainer(); c = c->AsContainer()->GetItemAt(0)) ++depth;
    EXPECT_LE(depth, 65);
}

}  // namespace
}  // namespace DuiLib
