#include "history/HistoryCsv.h"

#include <cstdint>
#include <limits>
#include <optional>

namespace history {

const char HistoryHeader[] =
    "time_utc,temperature_c,available_spare_pct,available_spare_threshold_pct,percentage_used,"
    "data_units_read,data_units_written,power_on_hours,power_cycles,unsafe_shutdowns,media_errors,"
    "error_log_entries,warning_temperature_minutes,critical_temperature_minutes,critical_warning";

namespace {

constexpr std::size_t FieldCount = 15;
// Kelvin to Celsius, as the health line shows it.
constexpr int KelvinOffset = 273;

std::optional<std::uint64_t> ParseSmall(std::string_view text, std::uint64_t max) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// Temperature in °C; empty when the drive reports none (kelvin 0).
std::optional<std::uint16_t> ParseCelsius(std::string_view text) {
    if (text.empty()) return std::uint16_t{0};
    const bool negative = text[0] == '-';
    const auto magnitude = ParseSmall(negative ? text.substr(1) : text, 0xFFFF);
    if (!magnitude) return std::nullopt;
    const std::int64_t kelvin = (negative ? -static_cast<std::int64_t>(*magnitude) : static_cast<std::int64_t>(*magnitude)) +
                                KelvinOffset;
    // Kelvin 0 is "not reported", which is written as an empty field, never as -273.
    if (kelvin < 1 || kelvin > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(kelvin);
}

// The line's fields; false unless there are exactly FieldCount.
bool SplitFields(std::string_view line, std::string_view (&fields)[FieldCount]) {
    std::size_t count = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != ',') continue;
        if (count == FieldCount) return false;
        fields[count++] = line.substr(start, i - start);
        start = i + 1;
    }
    return count == FieldCount;
}

std::optional<HistorySample> ParseLine(std::string_view line) {
    std::string_view f[FieldCount];
    if (!SplitFields(line, f)) return std::nullopt;
    HistorySample s;
    const auto time = ParseUtc(f[0]);
    const auto kelvin = ParseCelsius(f[1]);
    const auto spare = ParseSmall(f[2], 0xFF);
    const auto threshold = ParseSmall(f[3], 0xFF);
    const auto used = ParseSmall(f[4], 0xFF);
    const auto warning = ParseSmall(f[12], 0xFFFFFFFF);
    const auto critical = ParseSmall(f[13], 0xFFFFFFFF);
    const auto bits = ParseSmall(f[14], 0xFF);
    if (!time || !kelvin || !spare || !threshold || !used || !warning || !critical || !bits) return std::nullopt;
    devicecmd::U128* counters[] = {&s.dataUnitsRead, &s.dataUnitsWritten, &s.powerOnHours, &s.powerCycles,
                                   &s.unsafeShutdowns, &s.mediaErrors, &s.errorLogEntries};
    for (std::size_t i = 0; i < 7; ++i) {
        const auto value = ParseU128(f[5 + i]);
        if (!value) return std::nullopt;
        *counters[i] = *value;
    }
    s.timeUtc = *time;
    s.temperatureKelvin = *kelvin;
    s.availableSpare = static_cast<std::uint8_t>(*spare);
    s.availableSpareThreshold = static_cast<std::uint8_t>(*threshold);
    s.percentageUsed = static_cast<std::uint8_t>(*used);
    s.warningTemperatureMinutes = static_cast<std::uint32_t>(*warning);
    s.criticalTemperatureMinutes = static_cast<std::uint32_t>(*critical);
    s.criticalWarning = static_cast<std::uint8_t>(*bits);
    return s;
}

std::string_view WithoutCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

std::string FormatLine(const HistorySample& s) {
    std::string line = FormatUtc(s.timeUtc);
    line += ',';
    if (s.temperatureKelvin != 0) line += std::to_string(static_cast<int>(s.temperatureKelvin) - KelvinOffset);
    for (const unsigned value : {unsigned{s.availableSpare}, unsigned{s.availableSpareThreshold}, unsigned{s.percentageUsed}})
        line += ',' + std::to_string(value);
    for (const devicecmd::U128* counter : {&s.dataUnitsRead, &s.dataUnitsWritten, &s.powerOnHours, &s.powerCycles,
                                           &s.unsafeShutdowns, &s.mediaErrors, &s.errorLogEntries})
        line += ',' + devicecmd::ToDecimal(*counter);
    line += ',' + std::to_string(s.warningTemperatureMinutes);
    line += ',' + std::to_string(s.criticalTemperatureMinutes);
    line += ',' + std::to_string(unsigned{s.criticalWarning});
    line += '\n';
    return line;
}

ParsedHistory ParseHistory(std::string_view bytes) {
    ParsedHistory out;
    if (bytes.size() > MaxFileBytes) {
        out.status = ParseStatus::TooLarge;
        return out;
    }
    // One allocation for the samples, however long the history.
    std::size_t lines = 0;
    for (const char c : bytes) lines += c == '\n';
    out.samples.reserve(lines);
    std::size_t at = 0;
    std::size_t lineNumber = 0;
    while (at < bytes.size()) {
        const std::size_t end = bytes.find('\n', at);
        ++lineNumber;
        if (end == std::string_view::npos) {
            // Torn by a power loss: a header still being written is a prefix of ours; anything
            // else after the header is a sample cut short.
            const std::string_view tail = bytes.substr(at);
            if (lineNumber == 1 && std::string_view(HistoryHeader).substr(0, tail.size()) != tail) {
                out.status = ParseStatus::Unparsable;
                out.badLine = lineNumber;
                out.samples.clear();
                return out;
            }
            out.tornTail = true;
            break;
        }
        const std::string_view line = WithoutCr(bytes.substr(at, end - at));
        if (lineNumber == 1) {
            if (line != HistoryHeader) {
                out.status = ParseStatus::Unparsable;
                out.badLine = lineNumber;
                return out;
            }
        } else {
            const auto sample = line.size() <= MaxLineBytes ? ParseLine(line) : std::nullopt;
            if (!sample) {
                out.status = ParseStatus::Unparsable;
                out.badLine = lineNumber;
                out.samples.clear();
                return out;
            }
            out.samples.push_back(*sample);
        }
        at = end + 1;
        out.completeBytes = at;
    }
    return out;
}

}  // namespace history
