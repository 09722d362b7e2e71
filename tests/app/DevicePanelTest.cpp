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

namespace {

devicecmd::DriveHealth Healthy() {
    devicecmd::DriveHealth h;
    h.temperatureKelvin = 311;
    h.availableSpare = 100;
    h.availableSpareThreshold = 10;
    h.percentageUsed = 3;
    h.dataUnitsWritten = {9876543, 0};
    h.powerOnHours = {1873, 0};
    return h;
}

TEST(HealthLine, WordsAndColourForEachKindOfLog) {
    auto with = [](auto change) {
        devicecmd::DriveHealth h = Healthy();
        change(h);
        return std::optional<devicecmd::DriveHealth>(h);
    };
    struct Case {
        const char* name;
        std::optional<devicecmd::DriveHealth> health;
        std::wstring text;
        bool warning;
    };
    const Case cases[] = {
        {"not read", std::nullopt, L"Unavailable", false},
        {"healthy", Healthy(), L"Good \u00B7 38 \u00B0C \u00B7 3 % used", false},
        {"temperature not reported", with([](auto& h) { h.temperatureKelvin = 0; }), L"Good \u00B7 3 % used", false},
        {"worn past 100 %", with([](auto& h) { h.percentageUsed = 255; }), L"Worn \u00B7 38 \u00B0C \u00B7 255 % used",
         true},
        {"exactly 100 % used", with([](auto& h) { h.percentageUsed = 100; }),
         L"Worn \u00B7 38 \u00B0C \u00B7 100 % used", true},
        {"99 % used", with([](auto& h) { h.percentageUsed = 99; }), L"Good \u00B7 38 \u00B0C \u00B7 99 % used", false},
        {"spare below threshold", with([](auto& h) { h.criticalWarning = 0x01; }), L"Warning: spare below threshold",
         true},
        {"hot", with([](auto& h) { h.criticalWarning = 0x02; }), L"Warning: temperature out of range", true},
        {"two bits", with([](auto& h) { h.criticalWarning = 0x0C; }),
         L"Warning: reliability degraded, read-only media", true},
        {"backup and persistent memory", with([](auto& h) { h.criticalWarning = 0x30; }),
         L"Warning: volatile memory backup failed, persistent memory read-only", true},
        {"reserved bits only", with([](auto& h) { h.criticalWarning = 0x80; }), L"Warning: critical warning 0x80",
         true},
        {"the other reserved bit alone", with([](auto& h) { h.criticalWarning = 0x40; }),
         L"Warning: critical warning 0x40", true},
        {"spare under its threshold, bit 0 clear", with([](auto& h) { h.availableSpare = 9; }),
         L"Warning: spare below threshold", true},
        {"spare under its threshold, bit 0 set", with([](auto& h) { h.availableSpare = 9, h.criticalWarning = 0x01; }),
         L"Warning: spare below threshold", true},
        {"spare 0 without a threshold", with([](auto& h) { h.availableSpare = 0, h.availableSpareThreshold = 0; }),
         L"Good \u00B7 38 \u00B0C \u00B7 3 % used", false},
        {"endurance group bits", with([](auto& h) { h.enduranceGroupWarning = 0x0D; }),
         L"Warning: endurance group spare below threshold, endurance group reliability degraded, endurance group "
         L"read-only",
         true},
        {"endurance group reserved bit", with([](auto& h) { h.enduranceGroupWarning = 0x02; }),
         L"Warning: endurance group warning 0x02", true},
        {"both bytes", with([](auto& h) { h.criticalWarning = 0x02, h.enduranceGroupWarning = 0x08; }),
         L"Warning: temperature out of range, endurance group read-only", true},
    };
    for (const Case& c : cases) {
        const HealthLine line = DescribeHealth(c.health);
        EXPECT_EQ(line.text, c.text) << c.name;
        EXPECT_EQ(line.warning, c.warning) << c.name;
    }
}

// The names the command line's JSON gives each warning, byte 6 and the spare included.
TEST(HealthLine, WarningNamesForMachines) {
    struct Case {
        std::uint8_t critical, group, spare;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {0x00, 0x00, 100, {}},
        {0x00, 0x00, 9, {"spare-below-threshold"}},
        {0x01, 0x00, 9, {"spare-below-threshold"}},
        {0x42, 0x00, 100, {"temperature", "reserved"}},
        {0x00, 0x0D, 100,
         {"endurance-group-spare-below-threshold", "endurance-group-reliability-degraded", "endurance-group-read-only"}},
        {0x00, 0x80, 100, {"endurance-group-reserved"}},
        {0x08, 0x04, 5, {"spare-below-threshold", "read-only", "endurance-group-reliability-degraded"}},
    };
    for (const Case& c : cases) {
        devicecmd::DriveHealth h = Healthy();
        h.criticalWarning = c.critical;
        h.enduranceGroupWarning = c.group;
        h.availableSpare = c.spare;
        EXPECT_EQ(HealthWarningNames(h), c.names) << int{c.critical} << " " << int{c.group} << " " << int{c.spare};
        EXPECT_EQ(HealthWarningWords(h).size(), c.names.size());
    }
}

TEST(HealthLine, ShownOnlyWithADriveWithTheFirmwareInItsTooltip) {
    EXPECT_TRUE(DecidePanel(nullptr).health.text.empty());
    EXPECT_TRUE(DecidePanel(nullptr).healthCaption.empty());

    ShownDrive drive{"Tavik VX310 Series SSD 512GB", 1000215216, 512, 2, "VX31A005", Healthy()};
    PanelView view = DecidePanel(&drive);
    EXPECT_EQ(view.healthCaption, L"Health:");
    EXPECT_EQ(view.health.text, L"Good \u00B7 38 \u00B0C \u00B7 3 % used");
    EXPECT_EQ(view.healthTooltip,
              L"Firmware revision VX31A005; spare 100 % (threshold 10 %); 4.60 TB written; 1873 power-on hours");
    // A drive whose log could not be read is still shown and switchable.
    drive.health.reset();
    view = DecidePanel(&drive);
    EXPECT_EQ(view.health.text, L"Unavailable");
    EXPECT_TRUE(view.buttonEnabled);
    EXPECT_EQ(view.healthTooltip.rfind(L"Firmware revision VX31A005", 0), 0u);
}

// The capacity's units (GB = 2^30 bytes, TB = 2^40), so that written data and capacity compare.
TEST(HealthLine, DataUnitsInTheCapacitysBinaryUnits) {
    EXPECT_EQ(FormatDataUnits({0, 0}), L"0.00 GB");
    EXPECT_EQ(FormatDataUnits({1586719, 0}), L"756.61 GB");
    EXPECT_EQ(FormatDataUnits({2097152, 0}), L"1000.00 GB");  // 1.024e12 bytes: below 2^40
    // Just under 2^40 bytes it would round to "1024.00 GB": the next unit instead.
    EXPECT_EQ(FormatDataUnits({2147483, 0}), L"1.00 TB");
    EXPECT_EQ(FormatDataUnits({9876543, 0}), L"4.60 TB");
    // Past 2^64 units the size is still shown, not wrapped.
    EXPECT_EQ(FormatDataUnits({0, 1}), L"8589934592000.00 TB");
}

}  // namespace
