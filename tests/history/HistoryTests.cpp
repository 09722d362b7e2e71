// The history file: its lines written and read back, what a power loss or a foreign file
// leaves, the file's name, the time and when a sample is due.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "history/HistoryCsv.h"
#include "history/HistoryFileName.h"
#include "history/HistorySample.h"

namespace {

using devicecmd::U128;
using history::HistorySample;
using history::ParseStatus;

constexpr std::int64_t Dec11 = 1796991726;  // 2026-12-11T12:22:06Z

HistorySample Typical(std::int64_t time = Dec11) {
    HistorySample s;
    s.timeUtc = time;
    s.temperatureKelvin = 311;
    s.availableSpare = 100;
    s.availableSpareThreshold = 10;
    s.percentageUsed = 3;
    s.dataUnitsRead = {12345678, 0};
    s.dataUnitsWritten = {9876543, 0};
    s.powerOnHours = {1873, 0};
    s.powerCycles = {412, 0};
    s.unsafeShutdowns = {7, 0};
    s.mediaErrors = {0, 0};
    s.errorLogEntries = {2, 0};
    s.warningTemperatureMinutes = 5;
    s.criticalTemperatureMinutes = 0;
    s.criticalWarning = 0;
    return s;
}

std::string Header() { return std::string(history::HistoryHeader) + "\n"; }

const char TypicalLine[] = "2026-12-11T12:22:06Z,38,100,10,3,12345678,9876543,1873,412,7,0,2,5,0,0\n";

TEST(HistoryLine, WritesEveryFieldInTheHeadersOrder) {
    EXPECT_EQ(history::FormatLine(Typical()), TypicalLine);
    HistorySample cold = Typical();
    cold.temperatureKelvin = 263;  // -10 °C
    cold.criticalWarning = 0x0A;
    EXPECT_EQ(history::FormatLine(cold), "2026-12-11T12:22:06Z,-10,100,10,3,12345678,9876543,1873,412,7,0,2,5,0,10\n");
}

// Extremes written and read back unchanged: 128-bit counters past 2^64 keep every digit,
// a temperature that is not reported stays not reported.
TEST(HistoryLine, ExtremesComeBackExact) {
    HistorySample none;
    HistorySample most = Typical();
    const U128 max{~0ull, ~0ull};
    most.dataUnitsRead = max;
    most.dataUnitsWritten = {0, 1};  // 2^64
    most.powerOnHours = {~0ull, 0};  // 2^64 - 1
    most.powerCycles = most.unsafeShutdowns = most.mediaErrors = most.errorLogEntries = max;
    most.temperatureKelvin = 0xFFFF;
    most.availableSpare = most.availableSpareThreshold = most.percentageUsed = most.criticalWarning = 255;
    most.warningTemperatureMinutes = most.criticalTemperatureMinutes = 0xFFFFFFFF;
    most.timeUtc = 253402300799;  // 9999-12-31T23:59:59Z
    HistorySample hot = Typical();
    hot.temperatureKelvin = 1;  // -272 °C: reported, however odd
    for (const HistorySample& s : {none, most, hot}) {
        const std::string line = history::FormatLine(s);
        EXPECT_LE(line.size(), history::MaxLineBytes);
        const auto parsed = history::ParseHistory(Header() + line);
        ASSERT_EQ(parsed.status, ParseStatus::Parsed) << line;
        ASSERT_EQ(parsed.samples.size(), 1u) << line;
        EXPECT_EQ(parsed.samples[0], s) << line;
    }
    const std::string line = history::FormatLine(most);
    EXPECT_NE(line.find(",340282366920938463463374607431768211455,18446744073709551616,18446744073709551615,"),
              std::string::npos)
        << line;
    EXPECT_EQ(history::FormatLine(none).substr(0, 22), "1970-01-01T00:00:00Z,,");
}

struct ParseCase {
    const char* name;
    std::string bytes;
    ParseStatus status;
    std::size_t samples;
    bool tornTail;
    std::size_t completeBytes;  // npos: the whole input
    std::size_t badLine;
};

constexpr std::size_t All = std::string::npos;

class HistoryParse : public testing::TestWithParam<ParseCase> {};

TEST_P(HistoryParse, Reads) {
    const ParseCase& c = GetParam();
    const auto parsed = history::ParseHistory(c.bytes);
    EXPECT_EQ(parsed.status, c.status);
    EXPECT_EQ(parsed.samples.size(), c.samples);
    EXPECT_EQ(parsed.tornTail, c.tornTail);
    if (c.status == ParseStatus::Parsed) {
        EXPECT_EQ(parsed.completeBytes, c.completeBytes == All ? c.bytes.size() : c.completeBytes);
    }
    EXPECT_EQ(parsed.badLine, c.badLine);
    for (const HistorySample& s : parsed.samples) EXPECT_EQ(s, Typical());
}

const std::string H = Header();
const std::string L = TypicalLine;
const std::string Line3 = "2026-12-11T12:22:06Z,38,100,10,3,12345678,9876543,1873,412,7,0,2,5,0";  // 14 fields

INSTANTIATE_TEST_SUITE_P(
    Cases, HistoryParse,
    testing::Values(
        ParseCase{"empty", "", ParseStatus::Parsed, 0, false, 0, 0},
        ParseCase{"header_only", H, ParseStatus::Parsed, 0, false, All, 0},
        ParseCase{"two_lines", H + L + L, ParseStatus::Parsed, 2, false, All, 0},
        ParseCase{"crlf", std::string(history::HistoryHeader) + "\r\n" + L.substr(0, L.size() - 1) + "\r\n",
                  ParseStatus::Parsed, 1, false, All, 0},
        // What a power loss leaves: the last line cut anywhere, even before its line feed.
        ParseCase{"torn_last_line", H + L + L.substr(0, 30), ParseStatus::Parsed, 1, true, H.size() + L.size(), 0},
        ParseCase{"torn_before_line_feed", H + L + L.substr(0, L.size() - 1), ParseStatus::Parsed, 1, true,
                  H.size() + L.size(), 0},
        ParseCase{"torn_header", H.substr(0, 20), ParseStatus::Parsed, 0, true, 0, 0},
        ParseCase{"torn_nul_filled", H + L + std::string(40, '\0'), ParseStatus::Parsed, 1, true,
                  H.size() + L.size(), 0},
        // Not a history file, or damaged inside: kept aside by the store.
        ParseCase{"foreign_file", "name,value\n1,2\n", ParseStatus::Unparsable, 0, false, 0, 1},
        ParseCase{"foreign_no_line_feed", "MZ\x90", ParseStatus::Unparsable, 0, false, 0, 1},
        ParseCase{"older_header", H.substr(0, 40) + "\n" + L, ParseStatus::Unparsable, 0, false, 0, 1},
        ParseCase{"damaged_middle_line", H + L + "2026-12-1" + "\n" + L, ParseStatus::Unparsable, 0, false, 0, 3},
        ParseCase{"missing_field", H + Line3 + "\n", ParseStatus::Unparsable, 0, false, 0, 2},
        ParseCase{"extra_field", H + Line3 + ",0,0\n", ParseStatus::Unparsable, 0, false, 0, 2},
        ParseCase{"counter_past_2_128",
                  H + "2026-12-11T12:22:06Z,38,100,10,3,340282366920938463463374607431768211456,0,0,0,0,0,0,0,0,0\n",
                  ParseStatus::Unparsable, 0, false, 0, 2},
        ParseCase{"negative_counter", H + "2026-12-11T12:22:06Z,38,100,10,3,-1,0,0,0,0,0,0,0,0,0\n",
                  ParseStatus::Unparsable, 0, false, 0, 2},
        ParseCase{"spare_past_255", H + "2026-12-11T12:22:06Z,38,256,10,3,0,0,0,0,0,0,0,0,0,0\n",
                  ParseStatus::Unparsable, 0, false, 0, 2},
        ParseCase{"minutes_past_32_bits", H + "2026-12-11T12:22:06Z,38,100,10,3,0,0,0,0,0,0,0,4294967296,0,0\n",
                  ParseStatus::Unparsable, 0, false, 0, 2},
        ParseCase{"kelvin_zero_as_number", H + "2026-12-11T12:22:06Z,-273,100,10,3,0,0,0,0,0,0,0,0,0,0\n",
                  ParseStatus::Unparsable, 0, false, 0, 2},
        ParseCase{"february_30", H + "2026-02-30T12:22:06Z,38,100,10,3,0,0,0,0,0,0,0,0,0,0\n",
                  ParseStatus::Unparsable, 0, false, 0, 2},
        ParseCase{"local_time", H + "2026-12-11T12:22:06+01,38,100,10,3,0,0,0,0,0,0,0,0,0,0\n",
                  ParseStatus::Unparsable, 0, false, 0, 2},
        ParseCase{"blank_line", H + L + "\n" + L, ParseStatus::Unparsable, 0, false, 0, 3},
        ParseCase{"overlong_line", H + std::string(600, '1') + "\n", ParseStatus::Unparsable, 0, false, 0, 2}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(HistoryParseSize, AFileLargerThanTheBoundIsNotRead) {
    const std::string big(history::MaxFileBytes + 1, '\n');
    EXPECT_EQ(history::ParseHistory(big).status, ParseStatus::TooLarge);
}

// The stated bound: ten years of daily samples, each at the longest line, fit.
TEST(HistoryParseSize, TenYearsOfDailySamplesStayUnderTheStatedSize) {
    HistorySample longest = Typical();
    longest.dataUnitsRead = longest.dataUnitsWritten = longest.powerOnHours = longest.powerCycles =
        longest.unsafeShutdowns = longest.mediaErrors = longest.errorLogEntries = U128{~0ull, ~0ull};
    longest.temperatureKelvin = 1;
    longest.warningTemperatureMinutes = longest.criticalTemperatureMinutes = 0xFFFFFFFF;
    longest.availableSpare = longest.percentageUsed = longest.criticalWarning = 255;
    const std::size_t longestLine = history::FormatLine(longest).size();
    EXPECT_LE(Header().size() + 3650 * longestLine, 1600u * 1000);
    EXPECT_LE(Header().size() + 3650 * history::FormatLine(Typical()).size(), 500u * 1000);
}

TEST(HistoryTime, IsoUtcBothWays) {
    const struct {
        std::int64_t time;
        const char* text;
    } cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {Dec11, "2026-12-11T12:22:06Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {-1, "1969-12-31T23:59:59Z"},
        {4107542399, "2100-02-28T23:59:59Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(history::FormatUtc(c.time), c.text);
        EXPECT_EQ(history::ParseUtc(c.text), c.time) << c.text;
    }
    for (const char* bad : {"2100-02-29T00:00:00Z", "2026-13-01T00:00:00Z", "2026-12-11T24:00:00Z",
                            "2026-12-11T12:60:00Z", "2026-12-11 12:22:06Z", "2026-12-11T12:22:06", "+026-12-11T12:22:06Z"})
        EXPECT_FALSE(history::ParseUtc(bad)) << bad;
}

TEST(HistoryDue, WhenAValueChangedOrADayPassed) {
    const HistorySample last = Typical();
    auto at = [&](std::int64_t time) {
        HistorySample s = last;
        s.timeUtc = time;
        return s;
    };
    HistorySample warmer = at(Dec11 + 3600);
    warmer.temperatureKelvin += 1;
    HistorySample moreWritten = at(Dec11 + 60);
    moreWritten.dataUnitsWritten.high = 1;
    const struct {
        const char* name;
        std::optional<HistorySample> last;
        HistorySample next;
        bool due;
    } cases[] = {
        {"first", std::nullopt, last, true},
        {"same_within_a_day", last, at(Dec11 + history::SecondsPerDay - 1), false},
        {"same_a_day_later", last, at(Dec11 + history::SecondsPerDay), true},
        {"value_changed", last, warmer, true},
        {"high_half_of_a_counter_changed", last, moreWritten, true},
        {"clock_set_back", last, at(Dec11 - 60), true},
    };
    for (const auto& c : cases) EXPECT_EQ(history::SampleDue(c.last, c.next), c.due) << c.name;
}

TEST(HistoryFileName, MadeSafeForWindows) {
    const struct {
        const char* model;
        std::string serial;
        const char* name;  // nullptr: only the checks below
    } cases[] = {
        {"Tavik VX310 Series SSD 512GB", "TVK310A0000000000017", "Tavik_VX310_Series_SSD_512GB_TVK310A0000000000017.csv"},
        {"  Padded Model   ", "  S1  ", "Padded_Model_S1.csv"},
        {"Maker: A/B\\C*D?E", "S1", nullptr},
        {"CON", "", nullptr},
        {"lpt1.x", "", nullptr},
        {"", "", nullptr},
        {"...", "..", nullptr},
        {"Caf\xE9 \x01\x7F", "S<1>|\"", nullptr},
        {"M", std::string(300, 'S'), nullptr},
    };
    for (const auto& c : cases) {
        const std::string name = history::HistoryFileName(c.model, c.serial);
        SCOPED_TRACE(name);
        if (c.name) {
            EXPECT_EQ(name, c.name);
        }
        EXPECT_LE(name.size(), history::MaxFileNameBytes);
        ASSERT_GT(name.size(), 4u);
        EXPECT_EQ(name.substr(name.size() - 4), ".csv");
        for (const char ch : name) {
            const bool ok = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
                            ch == '-' || ch == '_' || ch == '.';
            EXPECT_TRUE(ok) << static_cast<int>(static_cast<unsigned char>(ch));
        }
        EXPECT_NE(name[0], '.');
        std::string stem = name.substr(0, name.find('.'));
        for (char& ch : stem) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
        for (const char* reserved : {"CON", "PRN", "AUX", "NUL", "LPT1", "COM1"}) EXPECT_NE(stem, reserved);
    }
    // Texts that differ only in what was replaced keep files of their own.
    EXPECT_NE(history::HistoryFileName("A/B", "S"), history::HistoryFileName("A:B", "S"));
    EXPECT_NE(history::HistoryFileName("M", std::string(300, 'S') + "1"),
              history::HistoryFileName("M", std::string(300, 'S') + "2"));
    EXPECT_EQ(history::HistoryFileName("CON", "").substr(0, 4), "_CON");
}

}  // namespace
