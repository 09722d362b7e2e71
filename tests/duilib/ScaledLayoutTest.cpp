// The layouts at other DPIs: built at a DPI, every length of the file is scaled by the
// one rule; a DPI change applies them again, so the tree ends as if built at the new DPI.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "duilib/core/DialogBuilder.h"
#include "duilib/core/DpiScale.h"
#include "duilib/core/PaintManagerCore.h"
#include "duilib/core/SkinResources.h"
#include "TestSupport.h"

namespace DuiLib {
namespace {

struct Manager : CPaintManagerCore {
    void LayOut(int width, int height) {
        SetClientRect({0, 0, width, height});
        EnsureLayout();
    }
};

struct Placed {
    std::wstring name;
    UiRect pos;
    UiRect padding;
    int border;
};

std::vector<Placed> PlacesOf(Manager& manager) {
    std::vector<Placed> out;
    CControlUI* root = manager.GetRoot();
    out.push_back({L"(root)", root->GetPos(), root->GetTextPadding(), root->GetBorderSize()});
    for (std::size_t i = 0; i < root->AsContainer()->GetCount(); ++i) {
        CControlUI* c = root->AsContainer()->GetItemAt(i);
        out.push_back({c->GetName(), c->GetPos(), c->GetTextPadding(), c->GetBorderSize()});
    }
    return out;
}

class ScaledLayouts : public ::testing::Test {
protected:
    void SetUp() override {
        SkinResources::CloseZip();
        SkinResources::SetResourcePath(testing::SourceSkinFolder());
    }
    void TearDown() override { SkinResources::SetResourcePath(L""); }

    // The layout built for a window at dpi, laid out over the client area it then gets.
    void Build(Manager& manager, const wchar_t* layout, int dpi, UiSize client) {
        manager.SetDpi(dpi);
        CDialogBuilder builder;
        manager.AttachDialog(builder.Create(layout, nullptr, &manager));
        ASSERT_TRUE(manager.GetRoot()) << builder.GetLastError();
        manager.LayOut(ScaleByDpi(client.cx, dpi), ScaleByDpi(client.cy, dpi));
    }
};

TEST_F(ScaledLayouts, EveryLengthOfTheMainLayoutScalesByTheOneRule) {
    Manager at96;
    Build(at96, L"mainSkin.xml", 96, {700, 490});
    const std::vector<Placed> design = PlacesOf(at96);
    for (int dpi : {120, 144, 192}) {
        SCOPED_TRACE(dpi);
        Manager manager;
        Build(manager, L"mainSkin.xml", dpi, {700, 490});
        EXPECT_EQ(manager.GetDpi(), dpi);
        EXPECT_EQ(manager.GetCaptionRect(), ScaleByDpi(UiRect{0, 0, 0, 32}, dpi));
        EXPECT_EQ(manager.GetInitSize(), (UiSize{700, 490})) << "as written; the window side scales it";
        EXPECT_EQ(manager.GetFontSpec(0)->size, 16) << "as written; the window side scales it";
        const std::vector<Placed> scaled = PlacesOf(manager);
        ASSERT_EQ(scaled.size(), design.size());
        for (std::size_t i = 0; i < design.size(); ++i) {
            SCOPED_TRACE(design[i].name);
            // Each edge from the scaled position and the scaled size, as the file gives them.
            const UiRect& d = design[i].pos;
            const int left = ScaleByDpi(d.left, dpi);
            const int top = ScaleByDpi(d.top, dpi);
            EXPECT_EQ(scaled[i].pos, (UiRect{left, top, left + ScaleByDpi(d.Width(), dpi),
                                             top + ScaleByDpi(d.Height(), dpi)}));
            EXPECT_EQ(scaled[i].padding, ScaleByDpi(design[i].padding, dpi));
        }
    }
    // At 150 % the window is 1050 by 735 and the switch 239 by 57 at (408, 638).
    Manager at144;
    Build(at144, L"mainSkin.xml", 144, {700, 490});
    EXPECT_EQ(at144.GetRoot()->GetPos(), (UiRect{0, 0, 1050, 735}));
    EXPECT_EQ(at144.FindControl(L"btnOption")->GetPos(), (UiRect{408, 638, 647, 695}));
    EXPECT_EQ(at144.FindControl(L"TextNotice")->GetTextPadding(), (UiRect{3, 0, 3, 0}));
}

TEST_F(ScaledLayouts, TheBoxBorderAndFixedSizesScale) {
    for (int dpi : {96, 120, 144, 192}) {
        SCOPED_TRACE(dpi);
        Manager box;
        Build(box, L"messageBoxYesNo.xml", dpi, {275, 157});
        EXPECT_EQ(box.GetRoot()->GetBorderSize(), ScaleByDpi(1, dpi));
        EXPECT_EQ(box.GetCaptionRect(), ScaleByDpi(UiRect{0, 0, 0, 26}, dpi));
        CControlUI* icon = box.FindControl(L"ctrlIcon");
        CControlUI* yes = box.FindControl(L"btnYes");
        EXPECT_EQ(icon->GetFixedWidth(), ScaleByDpi(41, dpi));
        EXPECT_EQ(icon->GetFixedHeight(), ScaleByDpi(33, dpi));
        EXPECT_EQ(yes->GetFixedWidth(), ScaleByDpi(80, dpi));
        EXPECT_EQ(yes->GetFixedHeight(), ScaleByDpi(28, dpi));
        EXPECT_EQ(box.FindControl(L"txtMsg")->GetTextPadding(), ScaleByDpi(UiRect{2, 0, 2, 0}, dpi));
    }
}

TEST_F(ScaledLayouts, ADpiChangeEndsAsIfBuiltAtTheNewDpi) {
    // Through every pair of scales and back: no rounding drift accumulates, because each
    // change starts again from the file's own numbers.
    const int dpis[] = {96, 144, 120, 192, 144, 96};
    Manager moving;
    Build(moving, L"mainSkin.xml", dpis[0], {700, 490});
    CControlUI* option = moving.FindControl(L"btnOption");
    option->SetText(L"Off");  // what the program set stays
    option->SetEnabled(false);
    for (int dpi : dpis) {
        SCOPED_TRACE(dpi);
        moving.SetDpi(dpi);
        moving.LayOut(ScaleByDpi(700, dpi), ScaleByDpi(490, dpi));
        Manager fresh;
        Build(fresh, L"mainSkin.xml", dpi, {700, 490});
        const std::vector<Placed> a = PlacesOf(moving);
        const std::vector<Placed> b = PlacesOf(fresh);
        ASSERT_EQ(a.size(), b.size());
        for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].pos, b[i].pos) << a[i].name;
            EXPECT_EQ(a[i].padding, b[i].padding) << a[i].name;
        }
        EXPECT_EQ(moving.GetCaptionRect(), fresh.GetCaptionRect());
        EXPECT_EQ(moving.FindControl(L"btnOption"), option) << "the same controls, not a new tree";
        EXPECT_EQ(option->GetText(), L"Off");
        EXPECT_FALSE(option->IsEnabled());
    }
}

}  // namespace
}  // namespace DuiLib
