#include "optimize/DriveWords.h"

#include <array>
#include <cwchar>

#include "devicecmd/PrivateCmd.h"

StatusTextId OptimizeStatusTextId(std::uint8_t optimizeState) {
    switch (optimizeState) {
        case devicecmd::OptimizeStateOptimized: return TextOptimized;
        case devicecmd::OptimizeStateOptimizable: return TextOptimizable;
        default: return TextUnknown;
    }
}

std::wstring FormatCapacity(std::uint64_t totalSectors, std::uint32_t bytesPerSector) {
    const std::uint64_t bytes = totalSectors * bytesPerSector;  // wraps like the system's 64-bit product
    const double gib = static_cast<double>(bytes) * 9.313225746154785e-10;
    std::array<wchar_t, 100> text{};
    std::swprintf(text.data(), text.size(), L"%.02f GB", gib);
    return text.data();
}
