// The program's real layouts and package, read the way the skinned windows read them: from a
// deflated package, by a name in any letter case, then parsed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "ZipFixture.h"
#include "duilib/core/DpiScale.h"
#include "duilib/core/Image.h"
#include "duilib/core/Markup.h"
#include "duilib/core/ZipArchive.h"

using DuiLib::CMarkup;
using DuiLib::MarkupNode;
using DuiLib::ZipArchive;

namespace {

constexpr std::size_t kLayoutLimit = 4194304;

ZipFixture::Bytes ReadSkinFile(const std::string& name) {
    std::ifstream file(std::string(ZEPHRA_SOURCE_DIR) + "/skin/" + name, std::ios::binary);
    return ZipFixture::Bytes(std::istreambuf_iterator<char>(file), {});
}

class SkinLayouts : public testing::Test {
protected:
    static void SetUpTestSuite() {
        std::vector<ZipFixture::FixtureEntry> entries;
        for (const char* name : {"mainSkin.xml", "messageBoxOK.xml", "messageBoxYesNo.xml"}) {
            entries.push_back({name, ReadSkinFile(name)});
        }
        package_ = new ZipFixture::Bytes(ZipFixture::Build(entries).bytes);
    }
    static void TearDownTestSuite() {
        delete package_;
        package_ = nullptr;
    }

    // The root of a layout, found in the package by the given name.
    static std::optional<MarkupNode> Load(std::string_view name) {
        const auto zip = ZipArchive::Open(package_->data(), package_->size());
        if (!zip) return std::nullopt;
        const auto content = zip->Read(name, kLayoutLimit);
        if (!content || content->empty()) return std::nullopt;
        std::string error;
        auto root = CMarkup::Parse(
            std::string_view(reinterpret_cast<const char*>(content->data()), content->size()),
            &error);
        EXPECT_TRUE(root) << name << ": " << error;
        return root;
    }

    static ZipFixture::Bytes* package_;
};

ZipFixture::Bytes* SkinLayouts::package_ = nullptr;

std::wstring Attr(const MarkupNode& node, std::wstring_view name) {
    const std::wstring* value = node.Attribute(name);
    return value ? *value : L"<absent>";
}

std::vector<std::wstring> AllValues(const MarkupNode& node, std::wstring_view name) {
    std::vector<std::wstring> values;
    for (const auto& [attribute, value] : node.attributes) {
        if (attribute == name) values.push_back(value);
    }
    return values;
}

const MarkupNode* Named(const MarkupNode& parent, std::wstring_view name) {
    const auto found = std::find_if(parent.children.begin(), parent.children.end(),
                                    [&](const MarkupNode& c) { return Attr(c, L"name") == name; });
    return found == parent.children.end() ? nullptr : &*found;
}

struct FontFacts {
    const wchar_t* id;
    const wchar_t* size;
};

void ExpectFonts(const MarkupNode& window, const std::vector<FontFacts>& expected) {
    std::vector<const MarkupNode*> fonts;
    for (const MarkupNode& child : window.children) {
        if (child.name == L"Font") fonts.push_back(&child);
    }
    ASSERT_EQ(fonts.size(), expected.size());
    for (std::size_t i = 0; i < fonts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Attr(*fonts[i], L"id"), expected[i].id);
        EXPECT_EQ(Attr(*fonts[i], L"name"), L"Arial");
        EXPECT_EQ(Attr(*fonts[i], L"size"), expected[i].size);
        EXPECT_NE(Attr(*fonts[i], L"bold"), L"true");
        EXPECT_NE(Attr(*fonts[i], L"italic"), L"true");
    }
}

const MarkupNode* RootLayout(const MarkupNode& window) {
    for (const MarkupNode& child : window.children) {
        if (child.name == L"VerticalLayout") return &child;
    }
    return nullptr;
}

TEST_F(SkinLayouts, MainWindow) {
    const auto window = Load("MAINSKIN.XML");
    ASSERT_TRUE(window);
    EXPECT_EQ(window->name, L"Window");
    EXPECT_EQ(Attr(*window, L"size"), L"700,490");
    EXPECT_EQ(Attr(*window, L"caption"), L"0,0,0,32");
    ExpectFonts(*window, {{L"0", L"16"}, {L"1", L"16"}, {L"2", L"12"}});

    const MarkupNode* root = RootLayout(*window);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Attr(*root, L"width"), L"700");
    EXPECT_EQ(Attr(*root, L"height"), L"490");
    EXPECT_EQ(Attr(*root, L"bkimage"), L"mainWnd.jpg");

    const struct {
        const wchar_t* name;
        const wchar_t* element;
        const wchar_t* pos;
        const wchar_t* width;
        const wchar_t* height;
    } controls[] = {
        {L"btnMin", L"Button", L"658,5,0,0", L"16", L"16"},
        {L"btnClose", L"Button", L"679,5,0,0", L"16", L"16"},
        {L"LabelDevice", L"Label", L"81,112,0,0", L"302", L"44"},
        {L"LabelMN", L"Label", L"105,174,0,0", L"91", L"30"},
        {L"LabelCap", L"Label", L"105,222,0,0", L"91", L"30"},
        {L"LabelStatus", L"Label", L"105,270,0,0", L"91", L"30"},
        {L"LabelMnVal", L"Label", L"210,174,0,0", L"180", L"30"},
        {L"LabelCapVal", L"Label", L"210,223,0,0", L"180", L"30"},
        {L"LabelStatusVal", L"Label", L"210,270,0,0", L"180", L"30"},
        {L"TextNotice", L"Text", L"110,341,0,0", L"500", L"80"},
        {L"btnOption", L"Button", L"272,425,0,0", L"159", L"38"},
        {L"LabelHealth", L"Label", L"105,302,0,0", L"91", L"28"},
        {L"LabelHealthVal", L"Label", L"210,302,0,0", L"400", L"28"},
    };
    ASSERT_EQ(root->children.size(), std::size(controls));
    for (std::size_t i = 0; i < std::size(controls); ++i) {
        const MarkupNode& child = root->children[i];
        SCOPED_TRACE(controls[i].name);
        EXPECT_EQ(Attr(child, L"name"), controls[i].name);
        EXPECT_EQ(child.name, controls[i].element);
        EXPECT_EQ(Attr(child, L"float"), L"true");
        EXPECT_EQ(Attr(child, L"pos"), controls[i].pos);
        EXPECT_EQ(Attr(child, L"width"), controls[i].width);
        EXPECT_EQ(Attr(child, L"height"), controls[i].height);
        EXPECT_EQ(Attr(child, L"disabledtextcolor"), L"#FFA7A6AA");
    }

    const MarkupNode* notice = Named(*root, L"TextNotice");
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(AllValues(*notice, L"align"), (std::vector<std::wstring>{L"wrap", L"wrap"}));
    EXPECT_EQ(Attr(*notice, L"font"), L"2");
    EXPECT_EQ(Attr(*notice, L"text"), L"Notice");

    // Each title-bar button has only the state images it was given.
    const MarkupNode* minimise = Named(*root, L"btnMin");
    const MarkupNode* close = Named(*root, L"btnClose");
    ASSERT_TRUE(minimise && close);
    EXPECT_EQ(Attr(*minimise, L"pushedimage"), L"1btnMinPush.png");
    EXPECT_EQ(minimise->Attribute(L"disabledimage"), nullptr);
    EXPECT_EQ(Attr(*close, L"disabledimage"), L"1btnClosePush.png");
    EXPECT_EQ(close->Attribute(L"pushedimage"), nullptr);

    const MarkupNode* option = Named(*root, L"btnOption");
    ASSERT_NE(option, nullptr);
    EXPECT_EQ(Attr(*option, L"text"), L"On");
    EXPECT_EQ(Attr(*option, L"textcolor"), L"#00FFFFFF");
    EXPECT_EQ(Attr(*option, L"normalimage"), L"on_normal.png");
    EXPECT_EQ(Attr(*option, L"disabledimage"), L"on_down.png");
    EXPECT_EQ(Attr(*Named(*root, L"LabelDevice"), L"text"), L"Tavik VX310 Series SSD");
}

TEST_F(SkinLayouts, MessageBoxes) {
    const struct {
        const char* file;
        std::vector<std::pair<const wchar_t*, const wchar_t*>> buttons;  // name, text
    } layouts[] = {
        {"messageboxok.xml", {{L"btnOK", L"OK"}}},
        {"MessageBoxYesNo.XML", {{L"btnYes", L"Yes"}, {L"btnNo", L"No"}}},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.file);
        const auto window = Load(layout.file);
        ASSERT_TRUE(window);
        EXPECT_EQ(Attr(*window, L"caption"), L"0,0,0,26");
        EXPECT_EQ(window->Attribute(L"size"), nullptr);
        ExpectFonts(*window, {{L"0", L"24"}, {L"1", L"12"}});

        const MarkupNode* root = RootLayout(*window);
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(Attr(*root, L"bordersize"), L"1");
        EXPECT_EQ(Attr(*root, L"bkcolor"), L"#FFFFFFFF");
        EXPECT_EQ(Attr(*root, L"bordercolor"), L"#00000000");
        EXPECT_EQ(root->Attribute(L"width"), nullptr);
        ASSERT_EQ(root->children.size(), 3 + layout.buttons.size());

        const MarkupNode* icon = Named(*root, L"ctrlIcon");
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->name, L"Control");
        EXPECT_EQ(Attr(*icon, L"text"), L"top");
        EXPECT_EQ(Attr(*icon, L"bkimage"), L"warning.png");
        for (const wchar_t* text : {L"txtTitel", L"txtMsg"}) {
            const MarkupNode* control = Named(*root, text);
            ASSERT_NE(control, nullptr);
            EXPECT_EQ(control->name, L"Text");
            EXPECT_EQ(Attr(*control, L"textpadding"), L"2,0,2,0");
            EXPECT_EQ(Attr(*control, L"font"), L"1");
        }
        for (const auto& [name, text] : layout.buttons) {
            const MarkupNode* button = Named(*root, name);
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->name, L"Button");
            EXPECT_EQ(Attr(*button, L"text"), text);
            EXPECT_EQ(AllValues(*button, L"font"), (std::vector<std::wstring>{L"1", L"1"}));
            EXPECT_EQ(Attr(*button, L"pos"), L"0,0,0,0");
            EXPECT_EQ(Attr(*button, L"width"), L"80");
            EXPECT_EQ(Attr(*button, L"height"), L"28");
            EXPECT_EQ(Attr(*button, L"pushedimage"), L"1redBtnNormal.png");
            EXPECT_EQ(Attr(*button, L"disabledimage"), L"1redBtnDisable.png");
        }
    }
}

}  // namespace

namespace {

// Every entry of the built package reads with the layout reader's limit, every layout
// parses, and every image decodes to the size its control is drawn at.
TEST(SkinPackage, EveryEntryReadsParsesAndDecodes) {
    std::ifstream file(ZEPHRA_TEST_SKIN_PACKAGE, std::ios::binary);
    const ZipFixture::Bytes package(std::istreambuf_iterator<char>(file), {});
    ASSERT_FALSE(package.empty());
    const auto zip = ZipArchive::Open(package.data(), package.size());
    ASSERT_TRUE(zip);

    const struct {
        const char* name;
        int width;
        int height;
    } images[] = {
        {"mainWnd.jpg", 700, 490},        {"1btnMinNormal.png", 16, 16},
        {"1btnMinHot.png", 16, 16},       {"1btnMinPush.png", 16, 16},
        {"1btnCloseNormal.png", 16, 16},  {"1btnCloseHot.png", 16, 16},
        {"1btnClosePush.png", 16, 16},    {"on_normal.png", 156, 38},
        {"on_over.png", 156, 38},         {"on_down.png", 156, 38},
        {"off_normal.png", 156, 38},      {"off_over.png", 156, 38},
        {"off_down.png", 156, 38},        {"1redBtnNormal.png", 80, 28},
        {"1redBtnHot.png", 80, 28},       {"1redBtnDisable.png", 80, 28},
        {"warning.png", 41, 33},          {"close.png", 24, 24},
        {"min.png", 24, 24},              {"43.png", 24, 24},
        {"44.png", 24, 24},               {"45.png", 24, 24},
    };
    const char* layouts[] = {"mainSkin.xml", "messageBoxOK.xml", "messageBoxYesNo.xml"};
    // Each image also drawn at 125 %, 150 %, 175 % and 200 %, beside it.
    EXPECT_EQ(zip->Entries().size(), 5 * std::size(images) + std::size(layouts));
    for (const auto& entry : zip->Entries()) {
        EXPECT_EQ(entry.method, 8) << entry.name;
    }

    for (const char* name : layouts) {
        SCOPED_TRACE(name);
        const auto content = zip->Read(name, kLayoutLimit);
        ASSERT_TRUE(content);
        std::string error;
        EXPECT_TRUE(CMarkup::Parse({reinterpret_cast<const char*>(content->data()), content->size()},
                                   &error))
            << error;
    }
    for (const auto& image : images) {
        SCOPED_TRACE(image.name);
        const auto content = zip->Read(image.name, kLayoutLimit);
        ASSERT_TRUE(content);
        const auto decoded = DuiLib::DecodeImage(content->data(), content->size());
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->width, image.width);
        EXPECT_EQ(decoded->height, image.height);
        for (const auto scale : {DuiLib::ImageScale::Percent125, DuiLib::ImageScale::Percent150,
                                 DuiLib::ImageScale::Percent175, DuiLib::ImageScale::Percent200}) {
            const int dpi = static_cast<int>(scale) * 96 / 100;
            const std::wstring name(image.name, image.name + std::strlen(image.name));
            const std::wstring wide = DuiLib::ImageVariantName(name, scale);
            const std::string variantName(wide.begin(), wide.end());
            SCOPED_TRACE(variantName);
            const auto variant = zip->Read(variantName, kLayoutLimit);
            ASSERT_TRUE(variant);
            const auto pixels = DuiLib::DecodeImage(variant->data(), variant->size());
            ASSERT_TRUE(pixels);
            EXPECT_EQ(pixels->width, DuiLib::ScaleByDpi(image.width, dpi));
            EXPECT_EQ(pixels->height, DuiLib::ScaleByDpi(image.height, dpi));
            EXPECT_EQ(pixels->hasAlpha, decoded->hasAlpha);
        }
    }
}

}  // namespace
