#include "history/HistorySample.h"

#include <cstdio>

namespace history {

bool HistorySample::SameValues(const HistorySample& o) const {
    return temperatureKelvin == o.temperatureKelvin && availableSpare == o.availableSpare &&
           availableSpareThreshold == o.availableSpareThreshold && percentageUsed == o.percentageUsed &&
           dataUnitsRead == o.dataUnitsRead && dataUnitsWritten == o.dataUnitsWritten &&
           powerOnHours == o.powerOnHours && powerCycles == o.powerCycles && unsafeShutdowns == o.unsafeShutdowns &&
           mediaErrors == o.mediaErrors && errorLogEntries == o.errorLogEntries &&
           warningTemperatureMinutes == o.warningTemperatureMinutes &&
           criticalTemperatureMinutes == o.criticalTemperatureMinutes && criticalWarning == o.criticalWarning;
}

HistorySample SampleOf(const devicecmd::DriveHealth& h, std::int64_t timeUtc) {
    HistorySample s;
    s.timeUtc = timeUtc;
    s.temperatureKelvin = h.temperatureKelvin;
    s.availableSpare = h.availableSpare;
    s.availableSpareThreshold = h.availableSpareThreshold;
    s.percentageUsed = h.percentageUsed;
    s.dataUnitsRead = h.dataUnitsRead;
    s.dataUnitsWritten = h.dataUnitsWritten;
    s.powerOnHours = h.powerOnHours;
    s.powerCycles = h.powerCycles;
    s.unsafeShutdowns = h.unsafeShutdowns;
    s.mediaErrors = h.mediaErrors;
    s.errorLogEntries = h.errorLogEntries;
    s.warningTemperatureMinutes = h.warningTemperatureMinutes;
    s.criticalTemperatureMinutes = h.criticalTemperatureMinutes;
    s.criticalWarning = h.criticalWarning;
    return s;
}

bool SampleDue(const std::optional<HistorySample>& last, const HistorySample& next) {
    if (!last) return true;
    if (!last->SameValues(next)) return true;
    if (next.timeUtc < last->timeUtc) return true;
    return next.timeUtc - last->timeUtc >= SecondsPerDay;
}

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back (eras of 400 years).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool LeapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(std::int64_t y, unsigned m) {
    static const unsigned days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && LeapYear(y) ? 29 : days[m - 1];
}

// Digits at text[at, at + count) as a number; false for anything but digits.
bool Digits(std::string_view text, std::size_t at, std::size_t count, unsigned& value) {
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

}  // namespace

std::string FormatUtc(std::int64_t t) {
    std::int64_t days = t / SecondsPerDay;
    std::int64_t rest = t % SecondsPerDay;
    if (rest < 0) {
        rest += SecondsPerDay;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    if (y < 0) y = 0;
    if (y > 9999) y = 9999;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(y), m, d,
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
    return text;
}

std::optional<std::int64_t> ParseUtc(std::string_view s) {
    // YYYY-MM-DDTHH:MM:SSZ
    if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':' || s[19] != 'Z')
        return std::nullopt;
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    if (!Digits(s, 0, 4, y) || !Digits(s, 5, 2, mo) || !Digits(s, 8, 2, d) || !Digits(s, 11, 2, h) ||
        !Digits(s, 14, 2, mi) || !Digits(s, 17, 2, se))
        return std::nullopt;
    if (mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo) || h > 23 || mi > 59 || se > 59) return std::nullopt;
    return DaysFromCivil(y, mo, d) * SecondsPerDay + h * 3600 + mi * 60 + se;
}

std::optional<devicecmd::U128> ParseU128(std::string_view digits) {
    if (digits.empty() || digits.size() > 39) return std::nullopt;
    devicecmd::U128 value;
    if (digits.size() <= 19) {  // below 10^19: one 64-bit word holds it
        for (const char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            value.low = value.low * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return value;
    }
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        // value * 10 + digit, in 32-bit limbs so that an overflow past 2^128 is seen.
        std::uint64_t limbs[4] = {value.low & 0xFFFFFFFF, value.low >> 32, value.high & 0xFFFFFFFF, value.high >> 32};
        std::uint64_t carry = static_cast<std::uint64_t>(c - '0');
        for (std::uint64_t& limb : limbs) {
            const std::uint64_t v = limb * 10 + carry;
            limb = v & 0xFFFFFFFF;
            carry = v >> 32;
        }
        if (carry) return std::nullopt;
        value.low = limbs[0] | (limbs[1] << 32);
        value.high = limbs[2] | (limbs[3] << 32);
    }
    return value;
}

}  // namespace history
