#include "app/DevicePanel.h"

#include <array>
#include <cwchar>

namespace {

constexpr std::uint8_t StateOptimized = 0;
constexpr std::uint8_t StateOptimizable = 2;

}  // namespace

PanelView DecidePanel(const ShownDrive* drive) {
    PanelView view;
    if (!drive) return view;
    view.hasDrive = true;
    // Each 8-bit character on its own, as the identify data holds it.
    for (const char c : drive->modelNumber) view.modelNumber += static_cast<wchar_t>(static_cast<unsigned char>(c));
    view.capacity = FormatCapacity(drive->totalSectors, drive->bytesPerSector);
    view.statusId = OptimizeStatusTextId(drive->optimizeState);
    view.healthCaption = HealthCaption;
    view.health = DescribeHealth(drive->health);
    view.healthTooltip = HealthTooltip(std::string(drive->firmwareRev), drive->health);
    switch (drive->optimizeState) {
        case StateOptimized:
            view.button = OffLook;
            view.buttonEnabled = true;
            break;
        case StateOptimizable:
            view.button = OnLook;
            view.buttonEnabled = true;
            break;
        default:  // 0xFF (not read) or a value without meaning
            view.button = OnLook;
            view.buttonEnabled = false;
            break;
    }
    return view;
}
