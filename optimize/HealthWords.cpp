#include "optimize/HealthWords.h"

#include <array>
#include <cwchar>

namespace {

struct WarningWords {
    std::uint8_t bit;
    const wchar_t* words;
    const char* name;
};
constexpr WarningWords Warnings[] = {
    {devicecmd::WarningSpareBelowThreshold, L"spare below threshold", "spare-below-threshold"},
    {devicecmd::WarningTemperature, L"temperature out of range", "temperature"},
    {devicecmd::WarningReliabilityDegraded, L"reliability degraded", "reliability-degraded"},
    {devicecmd::WarningReadOnly, L"read-only media", "read-only"},
    {devicecmd::WarningVolatileBackupFailed, L"volatile memory backup failed", "volatile-backup-failed"},
    {devicecmd::WarningPersistentMemoryReadOnly, L"persistent memory read-only", "persistent-memory-read-only"},
};

constexpr WarningWords EnduranceGroupWarnings[] = {
    {devicecmd::EnduranceGroupSpareBelowThreshold, L"endurance group spare below threshold",
     "endurance-group-spare-below-threshold"},
    {devicecmd::EnduranceGroupReliabilityDegraded, L"endurance group reliability degraded",
     "endurance-group-reliability-degraded"},
    {devicecmd::EnduranceGroupReadOnly, L"endurance group read-only", "endurance-group-read-only"},
};

std::wstring Hex(unsigned value) {
    std::array<wchar_t, 8> hex{};
    std::swprintf(hex.data(), hex.size(), L"%02X", value & 0xFFu);
    return hex.data();
}

constexpr wchar_t Separator[] = L" \u00B7 ";
constexpr std::uint8_t WornPercent = 100;

std::wstring Number(long long value) { return std::to_wstring(value); }

}  // namespace

std::vector<std::wstring> CriticalWarningWords(std::uint8_t criticalWarning) {
    std::vector<std::wstring> words;
    for (const WarningWords& w : Warnings)
        if (criticalWarning & w.bit) words.emplace_back(w.words);
    // Bits 6 and 7 are reserved; a drive that sets them still warns.
    if (criticalWarning & devicecmd::WarningReservedBits)
        words.emplace_back(L"critical warning 0x" + Hex(criticalWarning & devicecmd::WarningReservedBits));
    return words;
}

std::vector<std::wstring> HealthWarningWords(const devicecmd::DriveHealth& health) {
    std::vector<std::wstring> words = CriticalWarningWords(health.criticalWarning);
    if (health.SpareBelowThreshold() && !(health.criticalWarning & devicecmd::WarningSpareBelowThreshold))
        words.insert(words.begin(), Warnings[0].words);
    const std::uint8_t group = health.enduranceGroupWarning;
    for (const WarningWords& w : EnduranceGroupWarnings)
        if (group & w.bit) words.emplace_back(w.words);
    if (group & devicecmd::EnduranceGroupReservedBits)
        words.emplace_back(L"endurance group warning 0x" + Hex(group & devicecmd::EnduranceGroupReservedBits));
    return words;
}

std::vector<std::string> HealthWarningNames(const devicecmd::DriveHealth& health) {
    std::vector<std::string> names = CriticalWarningNames(health.criticalWarning);
    if (health.SpareBelowThreshold() && !(health.criticalWarning & devicecmd::WarningSpareBelowThreshold))
        names.insert(names.begin(), Warnings[0].name);
    const std::uint8_t group = health.enduranceGroupWarning;
    for (const WarningWords& w : EnduranceGroupWarnings)
        if (group & w.bit) names.emplace_back(w.name);
    if (group & devicecmd::EnduranceGroupReservedBits) names.emplace_back("endurance-group-reserved");
    return names;
}

std::vector<std::string> CriticalWarningNames(std::uint8_t criticalWarning) {
    std::vector<std::string> names;
    for (const WarningWords& w : Warnings)
        if (criticalWarning & w.bit) names.emplace_back(w.name);
    if (criticalWarning & devicecmd::WarningReservedBits) names.emplace_back("reserved");
    return names;
}

HealthLine DescribeHealth(const std::optional<devicecmd::DriveHealth>& health) {
    if (!health) return {HealthUnavailable, false};
    if (health->HasCriticalWarning()) {
        std::wstring text = L"Warning: ";
        const std::vector<std::wstring> words = HealthWarningWords(*health);
        for (std::size_t i = 0; i < words.size(); ++i) text += (i ? L", " : L"") + words[i];
        return {text, true};
    }
    const bool worn = health->percentageUsed >= WornPercent;
    std::wstring text = worn ? L"Worn" : L"Good";
    if (const auto celsius = health->TemperatureCelsius()) text += Separator + Number(*celsius) + L" \u00B0C";
    text += Separator + Number(health->percentageUsed) + L" % used";
    return {text, worn};
}

std::wstring FormatDataUnits(const devicecmd::U128& units) {
    constexpr double Gib = 1073741824.0;  // 2^30
    constexpr double Tib = 1024.0 * Gib;
    const double bytes = devicecmd::ToDouble(units) * devicecmd::HealthDataUnitBytes;
    // From the size that would round to "1024.00 GB" on, the next unit.
    const bool tera = bytes >= Tib - 0.005 * Gib;
    std::array<wchar_t, 64> text{};
    std::swprintf(text.data(), text.size(), L"%.2f %ls", bytes / (tera ? Tib : Gib), tera ? L"TB" : L"GB");
    return text.data();
}

std::wstring HealthTooltip(const std::string& firmwareRev, const std::optional<devicecmd::DriveHealth>& health) {
    std::wstring tip = L"Firmware revision ";
    for (const char c : firmwareRev) tip += static_cast<wchar_t>(static_cast<unsigned char>(c));
    if (!health) return tip + L"; the drive's health log could not be read";
    const std::string hours = devicecmd::ToDecimal(health->powerOnHours);
    tip += L"; spare " + Number(health->availableSpare) + L" % (threshold " +
           Number(health->availableSpareThreshold) + L" %); " + FormatDataUnits(health->dataUnitsWritten) +
           L" written; " + std::wstring(hours.begin(), hours.end()) + L" power-on hours";
    return tip;
}
