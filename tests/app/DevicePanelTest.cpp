#include <gtest/gtest.h>

#include "app/DevicePanel.h"

namespace {

TEST(Capacity, ShownInUnitsOfTwoToTheThirtyWithTwoDecimals) {
    struct Case {
        std::uint64_t sectors;
        std::uint32_t bytesPerSector;
        const wchar_t* text;
    };
    const Case cases[] = {
        {1953525168, 512, L"931.51 GB"},
        {1000215216, 512, L"476.94 GB"},
        {0, 512, L"0.00 GB"},
        {1953525168, 0, L"0.00 GB"},
        {244190646, 4096, L"931.51 GB"},
        {2097152, 512, L"1.00 GB"},
        // The product keeps its low 64 bits: 2^55 sectors of 512 bytes is 2^64, which wraps to 0.
        {std::uint64_t{1} << 55, 512, L"0.00 GB"},
        {~std::uint64_t{0}, 1, L"17179869184.00 GB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatCapacity(c.sectors, c.bytesPerSector), c.text) << c.sectors << " x " << c.bytesPerSector;
    }
}

TEST(Panel, NoDriveShowsNothingAndLeavesTheButtonAsItIs) {
    const PanelView view = DecidePanel(nullptr);
    EXPECT_FALSE(view.hasDrive);
    EXPECT_TRUE(view.modelNumber.empty());
    EXPECT_TRUE(view.capacity.empty());
    EXPECT_EQ(view.statusId, 0u);
    EXPECT_FALSE(view.buttonEnabled);
    EXPECT_FALSE(view.button.has_value());
}

void ExpectLook(const ButtonLook& look, unsigned textId, const wchar_t* prefix) {
    const std::wstring p = prefix;
    EXPECT_EQ(look.textId, textId);
    EXPECT_EQ(std::wstring(look.normalImage), p + L"_normal.png");
    EXPECT_EQ(std::wstring(look.hotImage), p + L"_over.png");
    EXPECT_EQ(std::wstring(look.pushedImage), p + L"_down.png");
    EXPECT_EQ(std::wstring(look.disabledImage), p + L"_down.png");
}

TEST(Panel, OptimizeStateChoosesStatusButtonAndEnabling) {
    struct Case {
        std::uint8_t state;
        unsigned status;
        unsigned buttonText;
        const wchar_t* images;
        bool enabled;
    };
    const Case cases[] = {
        {0x00, TextOptimized, TextOff, L"off", true},
        {0x02, TextOptimizable, TextOn, L"on", true},
        {0xFF, TextUnknown, TextOn, L"on", false},
        {0x01, TextUnknown, TextOn, L"on", false},
        {0x03, TextUnknown, TextOn, L"on", false},
        {0x80, TextUnknown, TextOn, L"on", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state));
        const ShownDrive drive{"Tavik VX310 1TB", 1953525168, 512, c.state};
        const PanelView view = DecidePanel(&drive);
        EXPECT_TRUE(view.hasDrive);
        EXPECT_EQ(view.modelNumber, L"Tavik VX310 1TB");
        EXPECT_EQ(view.capacity, L"931.51 GB");
        EXPECT_EQ(view.statusId, c.status);
        EXPECT_EQ(view.buttonEnabled, c.enabled);
        ASSERT_TRUE(view.button.has_value());
        ExpectLook(*view.button, c.buttonText, c.images);
    }
}

TEST(Panel, ModelNumberIsWidenedByteForByte) {
    const char model[] = {'T', 'a', 'v', 'i', 'k', ' ', static_cast<char>(0xE9), '\x7F'};
    const ShownDrive drive{std::string_view(model, sizeof model), 1, 512, 2};
    EXPECT_EQ(DecidePanel(&drive).modelNumber, std::wstring(L"Tavik \u00E9\x7F"));
    const ShownDrive full{std::string_view("0123456789012345678901234567890123456789"), 1, 512, 2};
    EXPECT_EQ(DecidePanel(&full).modelNumber.size(), 40u);
}

}  // namespace
