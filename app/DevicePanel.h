#pragma once
// What the main window's device panel shows for the drive in slot 0 of the drive table,
// or for none: a pure decision, so that it is checked without a window.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "devicecmd/HealthDecode.h"
#include "optimize/DriveWords.h"
#include "optimize/HealthWords.h"

// Ids of the program's string table that the panel uses.
enum PanelTextId : unsigned {
    TextNotice = 133,
    TextModelCaption = 136,
    TextCapacityCaption = 137,
    TextStatusCaption = 138,
    // 139 to 141, the state's own words: StatusTextId
    TextNoDevice = 142,
    TextOn = 143,
    TextOff = 144,
};

// The heading for a found drive; not in the string table.
constexpr wchar_t DeviceHeading[] = L"Tavik VX310 Series SSD";

// The switch button's text and images. It names what a click does.
struct ButtonLook {
    unsigned textId;
    const wchar_t* normalImage;
    const wchar_t* hotImage;
    const wchar_t* pushedImage;
    const wchar_t* disabledImage;
};
constexpr ButtonLook OnLook{TextOn, L"on_normal.png", L"on_over.png", L"on_down.png", L"on_down.png"};
constexpr ButtonLook OffLook{TextOff, L"off_normal.png", L"off_over.png", L"off_down.png", L"off_down.png"};

// The values of the drive record the panel reads.
struct ShownDrive {
    std::string_view modelNumber;  // 8-bit identify text
    std::uint64_t totalSectors = 0;
    std::uint32_t bytesPerSector = 0;
    std::uint8_t optimizeState = 0xFF;
    std::string_view firmwareRev;
    std::optional<devicecmd::DriveHealth> health;  // none: the log could not be read
};

// The health line's value text in a warning colour (the default text colour otherwise).
constexpr wchar_t HealthWarningColor[] = L"#FFC0392B";
constexpr wchar_t HealthNormalColor[] = L"#FF000000";

struct PanelView {
    bool hasDrive = false;       // heading: DeviceHeading, or string TextNoDevice
    std::wstring modelNumber;    // empty without a drive
    std::wstring capacity;       // empty without a drive
    unsigned statusId = 0;       // 0: empty status
    bool buttonEnabled = false;
    // Without a drive the button keeps the text and images it has.
    std::optional<ButtonLook> button;
    // The health line: caption, value and tooltip all empty without a drive.
    std::wstring healthCaption;
    HealthLine health;
    std::wstring healthTooltip;
};

// For the drive of slot 0, or null when there is none.
PanelView DecidePanel(const ShownDrive* drive);
