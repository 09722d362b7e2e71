// The keyboard and assistive-technology halves of the skin library that need no window:
// tab order, focus moves, clicks from keys and letters, and what each control of the
// program's own layouts is called, what it is and what state it is in.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "duilib/core/AccessibleTree.h"
#include "duilib/core/DialogBuilder.h"
#include "duilib/core/PaintManagerCore.h"

namespace DuiLib {
namespace {

std::string ReadSkinFile(const char* name) {
    std::ifstream in(std::string(ZEPHRA_SOURCE_DIR) + "/skin/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Clicks : INotifyUI {
    void Notify(TNotifyUI& msg) override {
        if (msg.sType == L"click") clicked.push_back(msg.pSender->GetName());
    }
    std::vector<std::wstring> clicked;
};

// A window of one of the program's layouts, laid out at a size.
class LayoutWindow : public CPaintManagerCore {
public:
    LayoutWindow(const char* layout, UiRect client) {
        CDialogBuilder builder;
        AttachDialog(builder.CreateFromText(ReadSkinFile(layout), nullptr, this));
        SetClientRect(client);
        EnsureLayout();
        AddNotifier(&clicks);
    }
    CControlUI* operator[](const wchar_t* name) const { return FindControl(name); }
    std::vector<std::wstring> Names(const std::vector<CControlUI*>& controls) const {
        std::vector<std::wstring> names;
        for (const CControlUI* c : controls) names.push_back(c->GetName());
        return names;
    }
    // A key as the window side passes it on, the click sent as it does.
    void Key(NavKey key, bool shift = false, bool repeat = false) {
        if (CControlUI* clicked = OnKeyDown(key, shift, repeat)) NotifyClick(clicked, {});
    }
    void Char(wchar_t ch, bool repeat = false) {
        if (CControlUI* clicked = OnChar(ch, repeat)) NotifyClick(clicked, {});
    }
    std::wstring FocusName() const { return GetFocus() ? GetFocus()->GetName() : L"<none>"; }

    Clicks clicks;
};

using Names = std::vector<std::wstring>;

TEST(TabOrder, IsLayoutOrderOfTheEnabledVisibleButtons) {
    LayoutWindow main("mainSkin.xml", {0, 0, 700, 490});
    EXPECT_EQ(main.Names(TabOrder(main.GetRoot())), (Names{L"btnMin", L"btnClose", L"btnOption"}));
    main[L"btnOption"]->SetEnabled(false);
    EXPECT_EQ(main.Names(TabOrder(main.GetRoot())), (Names{L"btnMin", L"btnClose"}));
    main[L"btnMin"]->SetVisible(false);
    EXPECT_EQ(main.Names(TabOrder(main.GetRoot())), (Names{L"btnClose"}));
    main.GetRoot()->SetVisible(false);  // a hidden parent hides its buttons
    EXPECT_TRUE(TabOrder(main.GetRoot()).empty());
    EXPECT_FALSE(IsFocusable(main[L"btnClose"]));
    EXPECT_FALSE(IsFocusable(main[L"LabelStatus"]));
}

TEST(TabOrder, NextWrapsRoundBothWays) {
    CButtonUI a, b, c;
    const std::vector<CControlUI*> order{&a, &b, &c};
    EXPECT_EQ(NextInTabOrder(order, &a, true), &b);
    EXPECT_EQ(NextInTabOrder(order, &c, true), &a);
    EXPECT_EQ(NextInTabOrder(order, &a, false), &c);
    EXPECT_EQ(NextInTabOrder(order, &b, false), &a);
    EXPECT_EQ(NextInTabOrder(order, nullptr, true), &a);  // no focus yet
    EXPECT_EQ(NextInTabOrder(order, nullptr, false), &c);
    EXPECT_EQ(NextInTabOrder({}, &a, true), nullptr);
}

TEST(Keyboard, MainWindowTabSpaceAndEnter) {
    LayoutWindow main("mainSkin.xml", {0, 0, 700, 490});
    main.SetFocus(main[L"btnOption"]);
    EXPECT_FALSE(main.FocusCuesShown());  // not before the keyboard is used
    main.Key(NavKey::Tab);
    EXPECT_EQ(main.FocusName(), L"btnMin");
    EXPECT_TRUE(main.FocusCuesShown());
    main.Key(NavKey::Tab);
    EXPECT_EQ(main.FocusName(), L"btnClose");
    main.Key(NavKey::Tab);
    EXPECT_EQ(main.FocusName(), L"btnOption");
    main.Key(NavKey::Tab, true);
    EXPECT_EQ(main.FocusName(), L"btnClose");
    main.Key(NavKey::Right);
    EXPECT_EQ(main.FocusName(), L"btnOption");
    main.Key(NavKey::Left);
    main.Key(NavKey::Right);
    main.Key(NavKey::Space);
    main.Key(NavKey::Enter);
    EXPECT_EQ(main.clicks.clicked, (Names{L"btnOption", L"btnOption"}));
    // Letters are no answers in the main window.
    main.Char(L'o');
    EXPECT_EQ(main.clicks.clicked.size(), 2u);
}

TEST(Keyboard, ArrowsMoveTheFocusUpAndLeftBackDownAndRightOn) {
    // Three buttons, so that back and on differ from every place.
    LayoutWindow main("mainSkin.xml", {0, 0, 700, 490});
    main.SetFocus(main[L"btnOption"]);
    const struct {
        NavKey key;
        const wchar_t* focus;
    } steps[] = {
        {NavKey::Up, L"btnClose"},  {NavKey::Up, L"btnMin"},      {NavKey::Down, L"btnClose"},
        {NavKey::Down, L"btnOption"}, {NavKey::Down, L"btnMin"},  {NavKey::Up, L"btnOption"},
        {NavKey::Left, L"btnClose"}, {NavKey::Right, L"btnOption"},
    };
    for (const auto& step : steps) {
        EXPECT_TRUE(main.WantsKey(step.key)) << "the window takes the arrows from its dialog";
        main.Key(step.key);
        EXPECT_EQ(main.FocusName(), step.focus) << "after arrow " << static_cast<int>(step.key);
    }
    EXPECT_TRUE(main.clicks.clicked.empty());
    // With nothing to focus the arrows stay the owner's.
    for (const wchar_t* name : {L"btnMin", L"btnClose", L"btnOption"}) main[name]->SetEnabled(false);
    EXPECT_FALSE(main.WantsKey(NavKey::Up));
    EXPECT_FALSE(main.WantsKey(NavKey::Down));
}

TEST(Keyboard, AHeldKeyMovesTheFocusButNeverClicks) {
    LayoutWindow box("messageBoxYesNo.xml", {0, 0, 300, 150});
    box.EnableMnemonics(true);
    box.SetFocus(box[L"btnNo"]);
    box.Key(NavKey::Space, false, true);
    box.Key(NavKey::Enter, false, true);
    box.Char(L'y', true);
    EXPECT_TRUE(box.clicks.clicked.empty());
    box.Key(NavKey::Tab, false, true);
    EXPECT_EQ(box.FocusName(), L"btnYes");
}

TEST(Keyboard, EnterIsTheOwnersWithoutAFocusedButton) {
    LayoutWindow main("mainSkin.xml", {0, 0, 700, 490});
    EXPECT_FALSE(main.WantsKey(NavKey::Enter));
    EXPECT_FALSE(main.WantsKey(NavKey::Space));
    EXPECT_TRUE(main.WantsKey(NavKey::Tab));
    EXPECT_FALSE(main.WantsKey(NavKey::Other));  // Escape stays the dialog's Cancel
    main.SetFocus(main[L"btnOption"]);
    EXPECT_TRUE(main.WantsKey(NavKey::Enter));
    // The drive went: the disabled switch holds no focus, so Enter is the dialog's again;
    // it has the focus back once enabled.
    main[L"btnOption"]->SetEnabled(false);
    EXPECT_EQ(main.GetFocus(), nullptr);
    EXPECT_FALSE(main.WantsKey(NavKey::Enter));
    main.Key(NavKey::Enter);
    EXPECT_TRUE(main.clicks.clicked.empty());
    main[L"btnOption"]->SetEnabled(true);
    EXPECT_EQ(main.FocusName(), L"btnOption");
    // A press with the pointer takes the focus too, as on a system button.
    const UiRect& close = main[L"btnClose"]->GetPos();
    main.OnMouseDown({close.left + 2, close.top + 2});
    EXPECT_EQ(main.FocusName(), L"btnClose");
    main.OnPressCancelled();
    main.SetFocus(main[L"btnOption"]);
    // Only focusable controls take the focus.
    main.SetFocus(main[L"LabelStatus"]);
    EXPECT_EQ(main.FocusName(), L"btnOption");
    main.SetFocus(nullptr);
    EXPECT_EQ(main.GetFocus(), nullptr);
}

TEST(Keyboard, BoxLettersAndArrows) {
    LayoutWindow box("messageBoxYesNo.xml", {0, 0, 300, 150});
    box[L"btnYes"]->SetPos({40, 100, 120, 128});
    box[L"btnNo"]->SetPos({140, 100, 220, 128});
    box.SetFocus(box[L"btnNo"]);
    box.Char(L'y');  // letters only where asked for
    EXPECT_TRUE(box.clicks.clicked.empty());
    box.EnableMnemonics(true);
    box.Key(NavKey::Left);
    EXPECT_EQ(box.FocusName(), L"btnYes");
    box.Key(NavKey::Right);
    EXPECT_EQ(box.FocusName(), L"btnNo");
    box.Char(L'x');
    box.Char(L'1');
    EXPECT_TRUE(box.clicks.clicked.empty());
    box.Char(L'N');
    box.Char(L'y');
    EXPECT_EQ(box.clicks.clicked, (Names{L"btnNo", L"btnYes"}));
    EXPECT_EQ(box.FocusName(), L"btnYes");  // a letter also moves the focus to its button

    LayoutWindow ok("messageBoxOK.xml", {0, 0, 300, 150});
    ok.EnableMnemonics(true);
    ok.Char(L'o');
    EXPECT_EQ(ok.clicks.clicked, (Names{L"btnOK"}));
}

// The focus as the window side reports it to assistive technology: one event per move.
class FocusEvents : public LayoutWindow {
public:
    using LayoutWindow::LayoutWindow;
    std::vector<std::wstring> moves;

protected:
    void FocusMoved(CControlUI* control) override { moves.push_back(control ? control->GetName() : L"<none>"); }
};

TEST(Keyboard, OneFocusEventPerMoveNoneForTheControlThatHasIt) {
    FocusEvents main("mainSkin.xml", {0, 0, 700, 490});
    main.SetFocus(main[L"btnOption"]);
    main.SetFocus(main[L"btnOption"]);
    main.SetFocus(main[L"LabelStatus"]);  // cannot take it: no move
    main.Key(NavKey::Tab);
    main.Key(NavKey::Space);  // a click, not a move
    const UiRect& min = main[L"btnMin"]->GetPos();
    main.OnMouseDown({min.left + 2, min.top + 2});  // a press on the focused button
    main.OnPressCancelled();
    main.SetFocus(nullptr);
    main.SetFocus(nullptr);
    EXPECT_EQ(main.moves, (Names{L"btnOption", L"btnMin", L"<none>"}));
}

struct Expected {
    const wchar_t* control;
    AccessibleRole role;
    const wchar_t* name;
    std::uint32_t states;
};

TEST(Accessible, MainWindowChildrenInLayoutOrder) {
    LayoutWindow main("mainSkin.xml", {0, 0, 700, 490});
    main[L"LabelMnVal"]->SetText(L"Tavik VX310 Series SSD 512GB");
    main[L"LabelStatusVal"]->SetText(L"Optimizable");
    main.SetFocus(main[L"btnOption"]);
    const auto children = AccessibleChildren(main.GetRoot());
    const Expected expected[] = {
        {L"btnMin", AccessibleRole::PushButton, L"Minimize", StateFocusable},
        {L"btnClose", AccessibleRole::PushButton, L"Close", StateFocusable},
        {L"LabelDevice", AccessibleRole::StaticText, L"Tavik VX310 Series SSD", StateReadOnly},
        {L"LabelMN", AccessibleRole::StaticText, L"Model No.:", StateReadOnly},
        {L"LabelCap", AccessibleRole::StaticText, L"Capacity:", StateReadOnly},
        {L"LabelStatus", AccessibleRole::StaticText, L"Status:", StateReadOnly},
        {L"LabelMnVal", AccessibleRole::StaticText, L"Tavik VX310 Series SSD 512GB", StateReadOnly},
        {L"LabelCapVal", AccessibleRole::StaticText, L"", StateReadOnly},
        {L"LabelStatusVal", AccessibleRole::StaticText, L"Optimizable", StateReadOnly},
        {L"TextNotice", AccessibleRole::StaticText, L"Notice", StateReadOnly},
        {L"btnOption", AccessibleRole::PushButton, L"On", StateFocusable | StateFocused},
        {L"LabelHealth", AccessibleRole::StaticText, L"", StateReadOnly},
        {L"LabelHealthVal", AccessibleRole::StaticText, L"", StateReadOnly},
    };
    ASSERT_EQ(children.size(), std::size(expected));
    for (std::size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE(i);
        const AccessibleItem item = DescribeControl(*children[i], main.GetFocus(), true);
        EXPECT_EQ(children[i]->GetName(), expected[i].control);
        EXPECT_EQ(item.role, expected[i].role);
        EXPECT_EQ(item.name, expected[i].name);
        EXPECT_EQ(item.states, expected[i].states);
        EXPECT_EQ(item.defaultAction, item.role == AccessibleRole::PushButton ? L"Press" : L"");
    }
    // The switch says what it does; the image-only buttons are named by their tooltip.
    const AccessibleItem option = DescribeControl(*main[L"btnOption"], nullptr, false);
    EXPECT_NE(option.description.find(L"shuts the computer down"), std::wstring::npos);
    EXPECT_EQ(option.states, StateFocusable);  // focused only while the window has the focus
    EXPECT_TRUE(DescribeControl(*main[L"btnClose"], nullptr, false).description.empty());
}

TEST(Accessible, StatesFollowTheControls) {
    LayoutWindow main("mainSkin.xml", {0, 0, 700, 490});
    CControlUI& option = *main[L"btnOption"];
    option.SetEnabled(false);
    AccessibleItem item = DescribeControl(option, &option, true);
    EXPECT_EQ(item.states, StateUnavailable);
    EXPECT_TRUE(item.defaultAction.empty());
    option.SetEnabled(true);
    // Under the pointer is hot, not pressed; held down is pressed.
    option.SetHot(true);
    EXPECT_EQ(DescribeControl(option, nullptr, true).states, StateFocusable | StateHotTracked);
    option.SetHot(false);
    option.SetPushed(true);
    EXPECT_EQ(DescribeControl(option, nullptr, true).states, StateFocusable | StatePressed);
    option.SetHot(true);
    EXPECT_EQ(DescribeControl(option, nullptr, true).states, StateFocusable | StatePressed | StateHotTracked);
    option.SetVisible(false);
    main.EnsureLayout();
    EXPECT_EQ(DescribeControl(option, nullptr, true).states & (StateInvisible | StateFocusable), StateInvisible);
}

TEST(Accessible, BoxIsNamedByItsMessageAndItsIconByTooltip) {
    LayoutWindow box("messageBoxYesNo.xml", {0, 0, 300, 150});
    box[L"ctrlIcon"]->SetPos({20, 20, 61, 53});
    box[L"txtMsg"]->SetText(L"Computer will shut down after this process.");
    EXPECT_EQ(AccessibleWindowName(L"", box.GetRoot()), L"Computer will shut down after this process.");
    EXPECT_EQ(AccessibleWindowName(L"Zephra", box.GetRoot()), L"Zephra");
    const AccessibleItem icon = DescribeControl(*box[L"ctrlIcon"], nullptr, false);
    EXPECT_EQ(icon.role, AccessibleRole::Graphic);
    EXPECT_EQ(icon.name, L"Warning");  // its text "top" is where it goes, not what it is
    // The empty title is sized 0: there, but invisible.
    EXPECT_EQ(DescribeControl(*box[L"txtTitel"], nullptr, false).states, StateReadOnly | StateInvisible);
}

}  // namespace
}  // namespace DuiLib
