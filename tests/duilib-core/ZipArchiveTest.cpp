#include "duilib/core/ZipArchive.h"

#include <gtest/gtest.h>

#include <string>

#include "ZipFixture.h"

using DuiLib::ZipArchive;
using DuiLib::ZipError;
using ZipFixture::Build;
using ZipFixture::Bytes;
using ZipFixture::FixtureEntry;
using ZipFixture::Method;
using ZipFixture::ToBytes;

namespace {

constexpr std::size_t kLayoutLimit = 4194304;  // the layout reader's limit

struct ReadResult {
    std::optional<Bytes> content;
    ZipError error = ZipError::None;
};

// Opens the archive and reads one entry; an archive that does not open reports its error.
ReadResult OpenAndRead(const Bytes& archive, std::string_view name,
                       std::size_t maxSize = kLayoutLimit) {
    ReadResult result;
    const auto zip = ZipArchive::Open(archive.data(), archive.size(), &result.error);
    if (!zip) return result;
    result.content = zip->Read(name, maxSize, &result.error);
    return result;
}

Bytes Pattern(std::size_t size) {
    Bytes bytes(size);
    std::uint32_t state = 12345;
    for (auto& b : bytes) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

TEST(ZipArchive, ErrorTexts) {
    EXPECT_STREQ(DuiLib::ZipErrorText(ZipError::NotFound), "Could not find ziped file");
    EXPECT_STREQ(DuiLib::ZipErrorText(ZipError::Corrupt), "Could not unzip file");
    EXPECT_STREQ(DuiLib::ZipErrorText(ZipError::BadArchive), "Error opening zip file");
    EXPECT_STREQ(DuiLib::ZipErrorText(ZipError::TooLarge), "File too large");
}

TEST(ZipArchive, FindsEntriesInAnyLetterCase) {
    const Bytes archive =
        Build({{"mainSkin.xml", ToBytes("<Window/>")}, {"warning.png", ToBytes("png")}}).bytes;
    for (const char* name : {"mainSkin.xml", "MAINSKIN.XML", "mainskin.xml", "MainSkin.Xml"}) {
        SCOPED_TRACE(name);
        const ReadResult read = OpenAndRead(archive, name);
        ASSERT_TRUE(read.content);
        EXPECT_EQ(*read.content, ToBytes("<Window/>"));
    }
    for (const char* name : {"mainSkin.xm", "mainSkin.xml ", "", "warning"}) {
        SCOPED_TRACE(name);
        const ReadResult read = OpenAndRead(archive, name);
        EXPECT_FALSE(read.content);
        EXPECT_EQ(read.error, ZipError::NotFound);
    }
}

TEST(ZipArchive, ReadsStoredAndDeflatedEntries) {
    const Bytes text = ToBytes(std::string(5000, 'a') + "tail");
    const Bytes noise = Pattern(70000);  // incompressible: deflate falls back to stored blocks
    const Bytes empty;
    const Bytes archive = Build({{"stored.txt", text, Method::Stored},
                                 {"deflated.txt", text, Method::Deflate},
                                 {"noise.bin", noise, Method::Deflate},
                                 {"empty-stored", {}, Method::Stored},
                                 {"empty-deflated", {}, Method::Deflate}})
                              .bytes;
    const struct {
        const char* name;
        const Bytes& expected;
    } cases[] = {{"stored.txt", text},
                 {"deflated.txt", text},
                 {"noise.bin", noise},
                 {"empty-stored", empty},
                 {"empty-deflated", empty}};
    const auto zip = ZipArchive::Open(archive.data(), archive.size());
    ASSERT_TRUE(zip);
    ASSERT_EQ(zip->Entries().size(), 5u);
    EXPECT_EQ(zip->Entries()[0].method, 0);
    EXPECT_EQ(zip->Entries()[1].method, 8);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ZipError error = ZipError::BadArchive;
        const auto content = zip->Read(c.name, kLayoutLimit, &error);
        ASSERT_TRUE(content);
        EXPECT_EQ(*content, c.expected);
        EXPECT_EQ(error, ZipError::None);
    }
}

TEST(ZipArchive, FolderEntriesAreMatchedByTheirFullPath) {
    const Bytes archive = Build({{"images/", {}, Method::Stored},
                                 {"images/Warning.png", ToBytes("icon")},
                                 {"warning.png", ToBytes("root icon")}})
                              .bytes;
    const struct {
        const char* name;
        std::optional<std::string> expected;
    } cases[] = {
        {"images/warning.png", "icon"},
        {"IMAGES/WARNING.PNG", "icon"},
        {"images\\warning.png", "icon"},  // either separator
        {"warning.png", "root icon"},     // the root entry, not the one in the folder
        {"images/", ""},
        {"images", std::nullopt},
        {"Warning.png/", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ReadResult read = OpenAndRead(archive, c.name);
        if (c.expected) {
            ASSERT_TRUE(read.content);
            EXPECT_EQ(*read.content, ToBytes(*c.expected));
        } else {
            EXPECT_FALSE(read.content);
            EXPECT_EQ(read.error, ZipError::NotFound);
        }
    }
}

TEST(ZipArchive, EnforcesTheSizeLimitBeforeInflating) {
    const Bytes atLimit(kLayoutLimit, 'x');
    const Bytes overLimit(kLayoutLimit + 1, 'x');
    // Claims to be too large and holds no valid deflate data: the size is refused
    // before any inflating is tried.
    FixtureEntry claimsTooLarge{"claimsTooLarge.xml", ToBytes("x")};
    claimsTooLarge.storedData = Bytes{0xFF, 0xFF};
    claimsTooLarge.size = kLayoutLimit + 1;
    const Bytes archive =
        Build({{"atLimit.xml", atLimit}, {"overLimit.xml", overLimit}, claimsTooLarge}).bytes;
    const ReadResult fits = OpenAndRead(archive, "atLimit.xml");
    ASSERT_TRUE(fits.content);
    EXPECT_EQ(*fits.content, atLimit);

    for (const char* name : {"overLimit.xml", "claimsTooLarge.xml"}) {
        SCOPED_TRACE(name);
        const ReadResult read = OpenAndRead(archive, name);
        EXPECT_FALSE(read.content);
        EXPECT_EQ(read.error, ZipError::TooLarge);
    }
    // The same entry reads under a larger limit.
    EXPECT_TRUE(OpenAndRead(archive, "overLimit.xml", kLayoutLimit + 1).content);
}

// Entries that all name one stream: each is within its own limit, together they are not.
std::vector<FixtureEntry> EntriesSharingOneStream(std::size_t count, const Bytes& content) {
    std::vector<FixtureEntry> entries{{"image0.png", content}};
    const Bytes deflated = ZipFixture::Deflate(content);
    for (std::size_t i = 1; i < count; ++i) {
        FixtureEntry alias{"image" + std::to_string(i) + ".png", {}};
        alias.storedData = Bytes{};
        alias.localOffset = 0;
        alias.size = static_cast<std::uint32_t>(content.size());
        alias.compressedSize = static_cast<std::uint32_t>(deflated.size());
        alias.crc = ZipFixture::Crc32(content);
        entries.push_back(std::move(alias));
    }
    return entries;
}

TEST(ZipArchive, CapsWhatAllEntriesTogetherMayInflate) {
    const Bytes stream(kLayoutLimit, 'x');
    // 1,000 entries over one 4 MB stream would inflate 4 GB: refused before any inflating.
    const Bytes bomb = Build(EntriesSharingOneStream(1000, stream)).bytes;
    ZipError error = ZipError::None;
    EXPECT_FALSE(ZipArchive::Open(bomb.data(), bomb.size(), &error));
    EXPECT_EQ(error, ZipError::TooLarge);

    // Exactly the cap opens, and every entry reads; one entry more does not open.
    const std::size_t atCap = static_cast<std::size_t>(ZipArchive::kMaxTotalSize / kLayoutLimit);
    const Bytes full = Build(EntriesSharingOneStream(atCap, stream)).bytes;
    const auto zip = ZipArchive::Open(full.data(), full.size(), &error);
    ASSERT_TRUE(zip);
    const auto last = zip->Read("image" + std::to_string(atCap - 1) + ".png", kLayoutLimit, &error);
    ASSERT_TRUE(last);
    EXPECT_EQ(*last, stream);
    const Bytes over = Build(EntriesSharingOneStream(atCap + 1, stream)).bytes;
    EXPECT_FALSE(ZipArchive::Open(over.data(), over.size(), &error));
    EXPECT_EQ(error, ZipError::TooLarge);
}

// One entry read again and again (under other spellings of its name, or after an image
// cache was emptied) spends from the same budget as reading other entries would.
TEST(ZipArchive, RepeatedReadsOfOneEntryCountAgainstTheCap) {
    const Bytes stream(kLayoutLimit, 'x');
    const Bytes archive = Build({FixtureEntry("images/bk.png", stream)}).bytes;
    const auto zip = ZipArchive::Open(archive.data(), archive.size());
    ASSERT_TRUE(zip);
    const char* spellings[] = {"images/bk.png", "IMAGES/BK.PNG", "images\\bk.png", "Images\\Bk.png"};
    const std::size_t reads = static_cast<std::size_t>(ZipArchive::kMaxTotalSize / kLayoutLimit);
    ZipError error = ZipError::None;
    for (std::size_t i = 0; i < reads; ++i) {
        SCOPED_TRACE(i);
        const auto content = zip->Read(spellings[i % 4], kLayoutLimit, &error);
        ASSERT_TRUE(content);
        EXPECT_EQ(content->size(), stream.size());
    }
    EXPECT_EQ(zip->InflatedSoFar(), ZipArchive::kMaxTotalSize);
    // The cap is reached: the next read is refused before any inflating, under any name.
    for (const char* name : spellings) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(zip->Read(name, kLayoutLimit, &error));
        EXPECT_EQ(error, ZipError::TooLarge);
    }
    EXPECT_EQ(zip->InflatedSoFar(), ZipArchive::kMaxTotalSize);
    // A name that is not there costs nothing.
    EXPECT_FALSE(zip->Read("images/other.png", kLayoutLimit, &error));
    EXPECT_EQ(error, ZipError::NotFound);
}

// A read whose data proves damaged has done its inflating: it counts too.
TEST(ZipArchive, AFailedReadStillCountsWhatItInflated) {
    FixtureEntry damaged("bk.png", Bytes(1000, 'y'));
    damaged.crc = 0x12345678;
    const Bytes archive = Build({damaged}).bytes;
    const auto zip = ZipArchive::Open(archive.data(), archive.size());
    ASSERT_TRUE(zip);
    ZipError error = ZipError::None;
    EXPECT_FALSE(zip->Read("bk.png", kLayoutLimit, &error));
    EXPECT_EQ(error, ZipError::Corrupt);
    EXPECT_EQ(zip->InflatedSoFar(), 1000u);
    EXPECT_FALSE(zip->Read("bk.png", 999, &error));  // over the caller's limit: refused unread
    EXPECT_EQ(error, ZipError::TooLarge);
    EXPECT_EQ(zip->InflatedSoFar(), 1000u);
}

TEST(ZipArchive, RefusesDamagedEntries) {
    const Bytes content = ToBytes(std::string(300, 'z') + "layout body");
    Bytes corruptDeflate = ZipFixture::Deflate(content);
    corruptDeflate[0] = 0xFF;  // block type 3 does not exist
    Bytes truncatedDeflate = ZipFixture::Deflate(content);
    truncatedDeflate.resize(truncatedDeflate.size() / 2);
    const std::uint32_t realSize = static_cast<std::uint32_t>(content.size());

    FixtureEntry crcMismatch{"crc", content};
    crcMismatch.crc = ZipFixture::Crc32(content) ^ 1;
    FixtureEntry storedCrcMismatch{"storedCrc", content, Method::Stored};
    storedCrcMismatch.crc = 0;
    FixtureEntry corrupt{"corrupt", content};
    corrupt.storedData = corruptDeflate;
    FixtureEntry truncated{"truncated", content};
    truncated.storedData = truncatedDeflate;
    FixtureEntry inflatesLonger{"longer", content};
    inflatesLonger.size = realSize - 1;
    FixtureEntry inflatesShorter{"shorter", content};
    inflatesShorter.size = realSize + 1;
    Bytes padded = content;  // what a reader that ignores the short output would return
    padded.push_back(0);
    inflatesShorter.crc = ZipFixture::Crc32(padded);
    FixtureEntry storedSizesDiffer{"storedSizes", content, Method::Stored};
    storedSizesDiffer.size = realSize - 1;
    FixtureEntry encrypted{"encrypted", content};
    encrypted.flags = 0x0001;
    FixtureEntry bzip2{"bzip2", content};
    bzip2.method = static_cast<Method>(12);
    FixtureEntry dataPastEnd{"pastEnd", content};
    dataPastEnd.compressedSize = 0x7FFFFFF0;

    const Bytes archive = Build({crcMismatch, storedCrcMismatch, corrupt, truncated,
                                 inflatesLonger, inflatesShorter, storedSizesDiffer, encrypted,
                                 bzip2, dataPastEnd, {"good", content}})
                              .bytes;
    for (const char* name : {"crc", "storedCrc", "corrupt", "truncated", "longer", "shorter",
                             "storedSizes", "encrypted", "bzip2", "pastEnd"}) {
        SCOPED_TRACE(name);
        const ReadResult read = OpenAndRead(archive, name);
        EXPECT_FALSE(read.content);
        EXPECT_EQ(read.error, ZipError::Corrupt);
    }
    // The damaged neighbours do not spoil a sound entry.
    const ReadResult good = OpenAndRead(archive, "good");
    ASSERT_TRUE(good.content);
    EXPECT_EQ(*good.content, content);
}

TEST(ZipArchive, EveryTruncationOfTheArchiveIsRefused) {
    const Bytes archive =
        Build({{"a.xml", ToBytes("<Window/>")}, {"b.png", Pattern(200), Method::Stored}}).bytes;
    ASSERT_TRUE(ZipArchive::Open(archive.data(), archive.size()));
    for (std::size_t length = 0; length < archive.size(); ++length) {
        SCOPED_TRACE(length);
        // A copy of exactly that length, so that the sanitizer sees any read past it.
        const Bytes prefix(archive.begin(), archive.begin() + length);
        ZipError error = ZipError::None;
        EXPECT_FALSE(ZipArchive::Open(prefix.data(), prefix.size(), &error));
        EXPECT_EQ(error, ZipError::BadArchive);
    }
    ZipError error = ZipError::None;
    EXPECT_FALSE(ZipArchive::Open(nullptr, 0, &error));
    EXPECT_EQ(error, ZipError::BadArchive);
}

TEST(ZipArchive, RefusesDirectoriesPointingOutsideTheInput) {
    const std::vector<FixtureEntry> entries = {{"a.xml", ToBytes("<Window/>")}};
    const ZipFixture::Archive sound = Build(entries);
    const std::size_t end = sound.endRecordOffset;

    struct Case {
        const char* what;
        std::size_t offset;  // field to overwrite
        std::uint32_t value;
    };
    const Case cases[] = {
        {"directory offset past the input", end + 16, 0x7FFFFFF0},
        {"directory offset into the end record", end + 16,
         static_cast<std::uint32_t>(end - 10)},
        {"directory size past the end record", end + 12, 0x1000},
        {"directory size wrapping around", end + 12, 0xFFFFFFF0},
        {"ZIP64 offset marker", end + 16, 0xFFFFFFFF},
        {"entry count larger than the directory", end + 8, 0x00050005},
        {"entries on another disk", end + 4, 0x00010001},
        {"local header past the directory", sound.centralDirOffset + 42,
         static_cast<std::uint32_t>(sound.centralDirOffset)},
        {"local header far outside", sound.centralDirOffset + 42, 0x7FFFFFF0},
        {"broken central header signature", sound.centralDirOffset, 0x02014b51},
        {"name running past the directory", sound.centralDirOffset + 28, 0x00000100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = sound.bytes;
        ZipFixture::Poke32(damaged, c.offset, c.value);
        ZipError error = ZipError::None;
        EXPECT_FALSE(ZipArchive::Open(damaged.data(), damaged.size(), &error));
        EXPECT_EQ(error, ZipError::BadArchive);
    }
}

TEST(ZipArchive, FindsTheEndRecordBeforeAComment) {
    const std::vector<FixtureEntry> entries = {{"a.xml", ToBytes("<Window/>")}};
    // The second comment carries bytes that look like an end record, with a comment
    // length that falls one byte short of the end; the real record is used.
    const std::string lookalike = "PK\x05\x06" + std::string(16, '\0') +
                                  std::string("\x05\0", 2) + "tail!!";
    for (const std::string& comment : {std::string("skin package"), lookalike,
                                       std::string(0xFFFF, 'c')}) {
        SCOPED_TRACE(comment.size());
        const ReadResult read = OpenAndRead(Build(entries, comment).bytes, "a.xml");
        ASSERT_TRUE(read.content);
        EXPECT_EQ(*read.content, ToBytes("<Window/>"));
    }
    // A comment length that does not reach the end of the input is no end record.
    Bytes trailing = Build(entries, "abc").bytes;
    trailing.push_back('!');
    EXPECT_FALSE(ZipArchive::Open(trailing.data(), trailing.size()));
}

TEST(ZipArchive, LocalHeaderIsCheckedAtReadTime) {
    FixtureEntry entry{"a.xml", ToBytes("<Window/>")};
    ZipFixture::Archive archive = Build({entry});
    ZipFixture::Poke32(archive.bytes, 0, 0x04034b00);  // local signature
    EXPECT_EQ(OpenAndRead(archive.bytes, "a.xml").error, ZipError::Corrupt);

    archive = Build({entry});
    archive.bytes[28] = 0xFF;  // local extra length sends the data past the input
    archive.bytes[29] = 0xFF;
    EXPECT_EQ(OpenAndRead(archive.bytes, "a.xml").error, ZipError::Corrupt);
}

}  // namespace
