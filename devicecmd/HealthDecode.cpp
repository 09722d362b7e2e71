#include "devicecmd/HealthDecode.h"

#include <algorithm>
#include <array>

#include "devicecmd/Bytes.h"

namespace devicecmd {
namespace {

// Offsets in the log page.
enum HealthOffset : std::size_t {
    AtCriticalWarning = 0,
    AtTemperature = 1,
    AtAvailableSpare = 3,
    AtSpareThreshold = 4,
    AtPercentageUsed = 5,
    AtEnduranceGroupWarning = 6,
    AtDataUnitsRead = 32,
    AtDataUnitsWritten = 48,
    AtHostReads = 64,
    AtHostWrites = 80,
    AtBusyTime = 96,
    AtPowerCycles = 112,
    AtPowerOnHours = 128,
    AtUnsafeShutdowns = 144,
    AtMediaErrors = 160,
    AtErrorLogEntries = 176,
    AtWarningTemperatureTime = 192,
    AtCriticalTemperatureTime = 196,
    LogSize = 512,
};

constexpr int KelvinOffset = 273;

U128 GetU128(const std::uint8_t* at) { return {GetU64(at), GetU64(at + 8)}; }

// Little-endian 32-bit limbs: long division and multiplication need no wider type than
// 64 bits, which both widths have.
template <std::size_t N>
using Limbs = std::array<std::uint32_t, N>;

template <std::size_t N>
bool IsZero(const Limbs<N>& limbs) {
    return std::all_of(limbs.begin(), limbs.end(), [](std::uint32_t limb) { return limb == 0; });
}

template <std::size_t N>
std::string LimbsToDecimal(Limbs<N> limbs) {
    std::string digits;
    do {
        std::uint64_t remainder = 0;
        for (std::size_t i = N; i-- > 0;) {
            const std::uint64_t current = (remainder << 32) | limbs[i];
            limbs[i] = static_cast<std::uint32_t>(current / 10);
            remainder = current % 10;
        }
        digits.push_back(static_cast<char>('0' + remainder));
    } while (!IsZero(limbs));
    std::reverse(digits.begin(), digits.end());
    return digits;
}

Limbs<6> ToLimbs(const U128& value) {
    return {static_cast<std::uint32_t>(value.low), static_cast<std::uint32_t>(value.low >> 32),
            static_cast<std::uint32_t>(value.high), static_cast<std::uint32_t>(value.high >> 32), 0, 0};
}

}  // namespace

std::string ToDecimal(const U128& value) { return LimbsToDecimal(ToLimbs(value)); }

double ToDouble(const U128& value) {
    return static_cast<double>(value.high) * 18446744073709551616.0 + static_cast<double>(value.low);
}

std::string DataUnitsToBytesDecimal(const U128& units) {
    Limbs<6> limbs = ToLimbs(units);
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : limbs) {
        const std::uint64_t product = std::uint64_t{limb} * HealthDataUnitBytes + carry;
        limb = static_cast<std::uint32_t>(product);
        carry = product >> 32;
    }
    return LimbsToDecimal(limbs);  // 2^128 * 512,000 < 2^147: six limbs hold it
}

std::optional<int> DriveHealth::TemperatureCelsius() const {
    if (temperatureKelvin == 0) return std::nullopt;
    return static_cast<int>(temperatureKelvin) - KelvinOffset;
}

std::optional<DriveHealth> DecodeHealthLog(const std::uint8_t* log, std::size_t size) {
    if (log == nullptr || size < LogSize) return std::nullopt;
    DriveHealth health;
    health.criticalWarning = log[AtCriticalWarning];
    health.temperatureKelvin = GetU16(log + AtTemperature);
    health.availableSpare = log[AtAvailableSpare];
    health.availableSpareThreshold = log[AtSpareThreshold];
    health.percentageUsed = log[AtPercentageUsed];
    health.enduranceGroupWarning = log[AtEnduranceGroupWarning];
    health.dataUnitsRead = GetU128(log + AtDataUnitsRead);
    health.dataUnitsWritten = GetU128(log + AtDataUnitsWritten);
    health.hostReadCommands = GetU128(log + AtHostReads);
    health.hostWriteCommands = GetU128(log + AtHostWrites);
    health.controllerBusyMinutes = GetU128(log + AtBusyTime);
    health.powerCycles = GetU128(log + AtPowerCycles);
    health.powerOnHours = GetU128(log + AtPowerOnHours);
    health.unsafeShutdowns = GetU128(log + AtUnsafeShutdowns);
    health.mediaErrors = GetU128(log + AtMediaErrors);
    health.errorLogEntries = GetU128(log + AtErrorLogEntries);
    health.warningTemperatureMinutes = GetU32(log + AtWarningTemperatureTime);
    health.criticalTemperatureMinutes = GetU32(log + AtCriticalTemperatureTime);
    return health;
}

}  // namespace devicecmd
