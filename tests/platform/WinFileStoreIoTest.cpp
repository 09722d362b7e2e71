// The file store's Windows binding against the real (Wine's) file system, in a folder of
// its own under the temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/FileStoreIo.h"

namespace {

class WinFileStore : public testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
        folder_ = std::wstring(temp) + L"zephra-file-store-" + std::to_wstring(::GetCurrentProcessId());
        ASSERT_TRUE(io_.CreateFolder(folder_)) << io_.LastError();
    }
    void TearDown() override {
        for (const wchar_t* name : {L"\\a.csv", L"\\b.csv", L"\\inner\\c.csv"}) ::DeleteFileW((folder_ + name).c_str());
        ::RemoveDirectoryW((folder_ + L"\\inner").c_str());
        ::RemoveDirectoryW(folder_.c_str());
    }
    std::string Read(const std::wstring& path) {
        std::uint64_t size = 0;
        std::string bytes;
        EXPECT_TRUE(io_.ReadWhole(path, 1 << 20, &size, &bytes)) << io_.LastError();
        EXPECT_EQ(size, bytes.size());
        return bytes;
    }

    platform::FileStoreIo& io_ = platform::SystemFileStoreIo();
    std::wstring folder_;
};

TEST_F(WinFileStore, AppendsReadsCutsAndRenames) {
    const std::wstring a = folder_ + L"\\a.csv";
    const std::wstring b = folder_ + L"\\b.csv";
    ASSERT_TRUE(io_.AppendDurably(a, "header\n")) << io_.LastError();
    ASSERT_TRUE(io_.AppendDurably(a, "line 1\nli")) << io_.LastError();
    EXPECT_EQ(Read(a), "header\nline 1\nli");
    ASSERT_TRUE(io_.Truncate(a, 14)) << io_.LastError();
    ASSERT_TRUE(io_.AppendDurably(a, "line 2\n"));
    EXPECT_EQ(Read(a), "header\nline 1\nline 2\n");

    // Over the limit: the size, no bytes.
    std::uint64_t size = 0;
    std::string bytes = "stale";
    ASSERT_TRUE(io_.ReadWhole(a, 10, &size, &bytes));
    EXPECT_EQ(size, 21u);
    EXPECT_TRUE(bytes.empty());

    ASSERT_TRUE(io_.AppendDurably(b, "other\n"));
    EXPECT_FALSE(io_.Rename(a, b));  // never replaces
    EXPECT_EQ(io_.LastError(), static_cast<std::uint32_t>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Read(b), "other\n");
    ASSERT_TRUE(::DeleteFileW(b.c_str()));
    ASSERT_TRUE(io_.Rename(a, b)) << io_.LastError();
    EXPECT_EQ(Read(b), "header\nline 1\nline 2\n");
}

TEST_F(WinFileStore, MissingFilesAndFoldersAreTold) {
    std::uint64_t size = 0;
    std::string bytes;
    EXPECT_FALSE(io_.ReadWhole(folder_ + L"\\none.csv", 1 << 20, &size, &bytes));
    EXPECT_EQ(io_.LastError(), platform::ErrorFileNotFound);
    EXPECT_FALSE(io_.ReadWhole(folder_ + L"\\no\\none.csv", 1 << 20, &size, &bytes));
    EXPECT_EQ(io_.LastError(), platform::ErrorPathNotFound);
    EXPECT_FALSE(io_.AppendDurably(folder_ + L"\\no\\none.csv", "x"));
    EXPECT_TRUE(io_.CreateFolder(folder_));  // an existing folder counts as made
    ASSERT_TRUE(io_.CreateFolder(folder_ + L"\\inner"));
    EXPECT_TRUE(io_.AppendDurably(folder_ + L"\\inner\\c.csv", "x\n"));
    EXPECT_FALSE(io_.ProgramDataFolder().empty());
}

}  // namespace
