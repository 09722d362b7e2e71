#include <gtest/gtest.h>

#include "duilib/core/DialogBuilder.h"
#include "duilib/core/PaintManagerCore.h"
#include "duilib/core/SkinResources.h"
#include "TestSupport.h"

namespace DuiLib {
namespace {

std::string Layout(const char* rootName) {
    return std::string("<Window caption=\"0,0,0,26\"><VerticalLayout name=\"") + rootName + "\"/></Window>";
}

// A layout of exactly the given size: the root's name pads it.
std::string LayoutOfSize(std::size_t size) {
    const std::string head = "<Window><VerticalLayout name=\"";
    const std::string tail = "\"/></Window>";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

class Package : public ::testing::Test {
protected:
    void SetUp() override { SkinResources::CloseZip(); }
    void TearDown() override { SkinResources::CloseZip(); }

    static std::wstring RootName(const wchar_t* layout) {
        CPaintManagerCore manager;
        CDialogBuilder builder;
        auto root = builder.Create(layout, nullptr, &manager);
        return root ? root->GetName() : L"<none>";
    }
};

TEST_F(Package, FirstRegistrationWinsUntilClosed) {
    const auto first = testing::MakeZip({{"mainSkin.xml", Layout("first")}});
    const auto second = testing::MakeZip({{"mainSkin.xml", Layout("second")}});

    SkinResources::SetZip(first.data(), first.size());
    EXPECT_EQ(SkinResources::ZipName(), L"membuffer");
    EXPECT_EQ(SkinResources::ZipBuffer(), first.data());
    SkinResources::SetZip(second.data(), second.size());
    EXPECT_EQ(SkinResources::ZipBuffer(), first.data());
    EXPECT_EQ(RootName(L"mainSkin.xml"), L"first");
    EXPECT_EQ(RootName(L"MAINSKIN.XML"), L"first") << "names are compared without case";

    SkinResources::CloseZip();
    EXPECT_EQ(SkinResources::ZipName(), L"");
    EXPECT_EQ(SkinResources::ZipBuffer(), nullptr);
    SkinResources::SetZip(second.data(), second.size());
    EXPECT_EQ(RootName(L"mainSkin.xml"), L"second");
}

TEST_F(Package, BufferThatIsNoArchiveRegistersNothing) {
    const std::string junk = "this is not a zip archive at all";
    SkinResources::SetZip(junk.data(), junk.size());
    EXPECT_EQ(SkinResources::ZipName(), L"");
    SkinResources::SetZip(nullptr, 100);
    EXPECT_EQ(SkinResources::ZipBuffer(), nullptr);
    const auto good = testing::MakeZip({{"a.xml", Layout("a")}});
    SkinResources::SetZip(good.data(), good.size());
    EXPECT_EQ(RootName(L"a.xml"), L"a");
    EXPECT_EQ(RootName(L"b.xml"), L"<none>");
}

TEST_F(Package, LayoutsAboveFourMebibytesAreRefused) {
    const auto zip = testing::MakeZip({{"limit.xml", LayoutOfSize(SkinResources::kMaxLayoutSize)},
                                       {"over.xml", LayoutOfSize(SkinResources::kMaxLayoutSize + 1)}});
    SkinResources::SetZip(zip.data(), zip.size());
    EXPECT_NE(RootName(L"limit.xml"), L"<none>");
    CPaintManagerCore manager;
    CDialogBuilder builder;
    EXPECT_EQ(builder.Create(L"over.xml", nullptr, &manager), nullptr);
    EXPECT_EQ(builder.GetLastError(), "File too large");
}

TEST(ResourceFolder, GetsATrailingBackslashWhenItHasNoSeparator) {
    const struct {
        const wchar_t* given;
        const wchar_t* kept;
    } cases[] = {
        {L"skin", L"skin\\"},
        {L"skin\\", L"skin\\"},
        {L"skin/", L"skin/"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        SkinResources::SetResourcePath(c.given);
        EXPECT_EQ(SkinResources::ResourcePath(), c.kept);
    }
    SkinResources::SetResourcePath(L"");
}

TEST(ResourceFolder, FilesAreReadFromTheFolderWhenNoPackageIsRegistered) {
    SkinResources::CloseZip();
    SkinResources::SetResourcePath(testing::SourceSkinFolder());
    ZipError error = ZipError::None;
    const auto layout = SkinResources::ReadFile(L"messageBoxOK.xml", SkinResources::kMaxLayoutSize, &error);
    ASSERT_TRUE(layout);
    EXPECT_EQ(std::string(layout->begin(), layout->begin() + 5), "<?xml");
    EXPECT_FALSE(SkinResources::ReadFile(L"nothing.xml", SkinResources::kMaxLayoutSize, &error));
    EXPECT_EQ(error, ZipError::NotFound);
    EXPECT_FALSE(SkinResources::ReadFile(L"mainWnd.jpg", 100, &error));
    EXPECT_EQ(error, ZipError::TooLarge);
    SkinResources::SetResourcePath(L"");
}

}  // namespace
}  // namespace DuiLib
