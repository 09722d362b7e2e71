#pragma once
// How a drive's health log is put into words: the window's health line and the command
// line say the same.

#include <optional>
#include <string>
#include <vector>

#include "devicecmd/HealthDecode.h"

// The health line: "Good · 38 °C · 3 % used", "Worn · 38 °C · 112 % used",
// "Warning: spare below threshold", or "Unavailable" when the log could not be read.
struct HealthLine {
    std::wstring text;
    bool warning = false;  // the drive warns (HasCriticalWarning), or it has used 100 % or more
};
HealthLine DescribeHealth(const std::optional<devicecmd::DriveHealth>& health);

// The caption in front of the line.
constexpr wchar_t HealthCaption[] = L"Health:";
constexpr wchar_t HealthUnavailable[] = L"Unavailable";

// The words of each critical-warning bit that is set, lowest bit first.
std::vector<std::wstring> CriticalWarningWords(std::uint8_t criticalWarning);
// Stable names of the same bits for machine-readable output ("spare-below-threshold", ...).
std::vector<std::string> CriticalWarningNames(std::uint8_t criticalWarning);
// Every warning of the log, in words and in names: the critical-warning bits, a spare below
// its threshold that bit 0 leaves unsaid, then the endurance group warning bits.
std::vector<std::wstring> HealthWarningWords(const devicecmd::DriveHealth& health);
std::vector<std::string> HealthWarningNames(const devicecmd::DriveHealth& health);

// Data units (1,000 x 512 bytes) in the capacity's binary units, as Windows shows sizes:
// "GB" is 2^30 bytes, "TB" 2^40 ("4.60 TB", "756.61 GB").
std::wstring FormatDataUnits(const devicecmd::U128& units);

// The line's tooltip: the firmware revision, then spare, written data and power-on hours.
std::wstring HealthTooltip(const std::string& firmwareRev, const std::optional<devicecmd::DriveHealth>& health);
