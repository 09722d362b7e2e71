#include "discovery/UsbBridges.h"

#include <array>

namespace discovery {
namespace {

// A device tree is shallow; a walk this long means the system's answers loop.
constexpr int MaxTreeDepth = 256;
// Room for a node's hardware IDs; a longer list is read as none.
constexpr std::size_t HardwareIdChars = 1024;

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Upper(text[i]) != prefix[i]) return false;
    return true;
}

// Four hex digits at the front of text.
bool TakeHex4(std::wstring_view text, std::uint16_t* value) {
    if (text.size() < 4) return false;
    unsigned result = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const wchar_t c = Upper(text[i]);
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'A' && c <= L'F')
            digit = static_cast<unsigned>(c - L'A' + 10);
        else
            return false;
        result = result * 16 + digit;
    }
    *value = static_cast<std::uint16_t>(result);
    return true;
}

bool IsUsbId(std::wstring_view hardwareId) { return StartsWith(hardwareId, L"USB\\"); }

}  // namespace

bool ParseUsbId(std::wstring_view id, std::uint16_t* vendorId, std::uint16_t* productId) {
    constexpr std::wstring_view vidPrefix = L"USB\\VID_";
    constexpr std::wstring_view pidPrefix = L"&PID_";
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    if (!StartsWith(id, vidPrefix)) return false;
    id.remove_prefix(vidPrefix.size());
    if (!TakeHex4(id, &vendor)) return false;
    id.remove_prefix(4);
    if (!StartsWith(id, pidPrefix)) return false;
    id.remove_prefix(pidPrefix.size());
    if (!TakeHex4(id, &product)) return false;
    id.remove_prefix(4);
    if (!id.empty() && id.front() != L'&' && id.front() != L'\\') return false;
    if (vendorId) *vendorId = vendor;
    if (productId) *productId = product;
    return true;
}

const UsbNvmeBridge* FindUsbNvmeBridge(std::wstring_view hardwareId) {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    if (!ParseUsbId(hardwareId, &vendor, &product)) return nullptr;
    for (const UsbNvmeBridge& bridge : KnownUsbNvmeBridges)
        if (bridge.vendorId == vendor && bridge.productId == product) return &bridge;
    return nullptr;
}

const UsbNvmeBridge* NvmeBridgeAbove(platform::DeviceInstall& install, platform::DevInst disk) {
    platform::DevInst node = disk;
    platform::DevInst parent = 0;
    for (int depth = 0; depth < MaxTreeDepth && install.GetParent(&parent, node) == platform::ConfigSuccess;
         ++depth) {
        node = parent;
        // One terminator more than the system is given: the list always ends.
        std::array<wchar_t, HardwareIdChars + 2> ids{};
        std::uint32_t capacity = HardwareIdChars;
        if (install.GetDevNodeRegistryProperty(node, platform::CmDrpHardwareId, ids.data(), &capacity) !=
            platform::ConfigSuccess)
            return nullptr;  // it may be the USB parent: nothing is known
        bool usbNode = false;
        const UsbNvmeBridge* found = nullptr;
        for (std::size_t at = 0; at < HardwareIdChars && ids[at] != L'\0';) {
            const std::wstring_view id(ids.data() + at);
            usbNode = usbNode || IsUsbId(id);
            if (!found) found = FindUsbNvmeBridge(id);
            at += id.size() + 1;
        }
        if (usbNode) return found;
    }
    return nullptr;
}

}  // namespace discovery
