#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "duilib/core/DialogBuilder.h"
#include "duilib/core/PaintManagerCore.h"

namespace DuiLib {
namespace {

struct Recorder : INotifyUI {
    void Notify(TNotifyUI& msg) override { seen.emplace_back(msg.sType, msg.pSender); }
    std::vector<std::pair<std::wstring, CControlUI*>> seen;
};

// Two buttons and a label in a 300 x 100 window.
class Pointer : public ::testing::Test, protected CPaintManagerCore {
protected:
    void SetUp() override {
        CDialogBuilder builder;
        AttachDialog(builder.CreateFromText(
            "<Window><VerticalLayout>"
            "<Button name=\"ok\" float=\"true\" pos=\"10,10,0,0\" width=\"80\" height=\"28\"/>"
            "<Button name=\"off\" float=\"true\" pos=\"100,10,0,0\" width=\"80\" height=\"28\" enabled=\"false\"/>"
            "<Label name=\"label\" float=\"true\" pos=\"200,10,0,0\" width=\"80\" height=\"28\"/>"
            "</VerticalLayout></Window>",
            nullptr, this));
        SetClientRect({0, 0, 300, 100});
        AddNotifier(&recorder);
        ok = dynamic_cast<CButtonUI*>(FindControl(L"ok"));
        ASSERT_TRUE(ok);
    }

    // A whole press: down at one point, up at another; the click is sent as the window does.
    void Press(UiPoint down, UiPoint up) {
        OnMouseDown(down);
        OnMouseMove(up);
        if (CControlUI* clicked = OnMouseUp(up)) NotifyClick(clicked, up);
    }

    Recorder recorder;
    CButtonUI* ok = nullptr;
};

TEST_F(Pointer, ReleaseOverThePressedButtonClicksIt) {
    EXPECT_TRUE(OnMouseDown({20, 20}));
    EXPECT_TRUE(ok->IsPushed());
    CControlUI* clicked = OnMouseUp({85, 37});
    EXPECT_EQ(clicked, ok);
    EXPECT_FALSE(ok->IsPushed());
    NotifyClick(clicked, {85, 37});
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0].first, L"click");
    EXPECT_EQ(recorder.seen[0].second, ok);
}

TEST_F(Pointer, NoClickWithoutPressAndReleaseOnAnEnabledButton) {
    const struct {
        UiPoint down;
        UiPoint up;
    } cases[] = {
        {{20, 20}, {95, 20}},    // released beside the button
        {{20, 20}, {210, 20}},   // released over another control
        {{110, 20}, {110, 20}},  // disabled button
        {{210, 20}, {210, 20}},  // a label is no button
        {{5, 5}, {20, 20}},      // pressed on the background, released over the button
    };
    for (const auto& c : cases) {
        Press(c.down, c.up);
        EXPECT_TRUE(recorder.seen.empty()) << c.down.x << "," << c.down.y << " -> " << c.up.x << "," << c.up.y;
        EXPECT_FALSE(ok->IsPushed());
        EXPECT_EQ(GetPressedControl(), nullptr);
    }
}

TEST_F(Pointer, PushedLookFollowsThePointerWhilePressed) {
    OnMouseDown({20, 20});
    OnMouseMove({150, 50});
    EXPECT_FALSE(ok->IsPushed());
    OnMouseMove({30, 30});
    EXPECT_TRUE(ok->IsPushed());
    // Losing the pointer capture ends the press without a click.
    OnPressCancelled();
    EXPECT_FALSE(ok->IsPushed());
    EXPECT_EQ(OnMouseUp({30, 30}), nullptr);
    EXPECT_TRUE(recorder.seen.empty());
}

TEST_F(Pointer, HotFollowsThePointerOverEnabledControls) {
    OnMouseMove({20, 20});
    EXPECT_TRUE(ok->IsHot());
    EXPECT_EQ(GetHotControl(), ok);
    OnMouseMove({110, 20});
    EXPECT_FALSE(ok->IsHot());
    EXPECT_EQ(GetHotControl(), nullptr) << "a disabled button never gets hot";
    OnMouseMove({20, 20});
    OnMouseLeave();
    EXPECT_FALSE(ok->IsHot());
    // A new tree drops the states of the old one.
    OnMouseMove({20, 20});
    AttachDialog(nullptr);
    EXPECT_EQ(GetHotControl(), nullptr);
    EXPECT_EQ(FindControl(UiPoint{20, 20}), nullptr);
}

}  // namespace
}  // namespace DuiLib
