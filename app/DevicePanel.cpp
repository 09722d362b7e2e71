#include "app/DevicePanel.h"

#include <array>
#include <cwchar>

namespace {

constexpr std::uint8_t StateOptimized = 0;
constexpr std::uint8_t StateOptimizable = 2;

}  // namespace

std::wstring FormatCapacity(std::uint64_t totalSectors, std::uint32_t bytesPerSector) {
    const std::uint64_t bytes = totalSectors * bytesPerSector;  // wraps like the system's 64-bit product
    const double gib = static_cast<double>(bytes) * 9.313225746154785e-10;
    std::array<wchar_t, 100> text{};
    std::swprintf(text.data(), text.size(), L"%.02f GB", gib);
    return text.data();
}

PanelView DecidePanel(const ShownDrive* drive) {
    PanelView view;
    if (!drive) return view;
    view.hasDrive = true;
    // Each 8-bit character on its own, as the identify data holds it.
    for (const char c : drive->modelNumber) view.modelNumber += static_cast<wchar_t>(static_cast<unsigned char>(c));
    view.capacity = FormatCapacity(drive->totalSectors, drive->bytesPerSector);
    switch (drive->optimizeState) {
        case StateOptimized:
            view.statusId = TextOptimized;
            view.button = OffLook;
            view.buttonEnabled = true;
            break;
        case StateOptimizable:
            view.statusId = TextOptimizable;
            view.button = OnLook;
            view.buttonEnabled = true;
            break;
        default:  // 0xFF (not read) or a value without meaning
            view.statusId = TextUnknown;
            view.button = OnLook;
            view.buttonEnabled = false;
            break;
    }
    return view;
}
