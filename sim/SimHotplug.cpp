#include "sim/SimHotplug.h"

namespace sim {

namespace {
constexpr std::uint32_t ErrorNoMoreItemsCode = 259;
}  // namespace

void SimHotplugTree::Unplug(const std::wstring& interfacePath) { unplugged_.insert(interfacePath); }

void SimHotplugTree::Plug(const std::wstring& interfacePath) { unplugged_.erase(interfacePath); }

bool SimHotplugTree::IsUnplugged(const std::wstring& interfacePath) const {
    return unplugged_.count(interfacePath) != 0;
}

platform::DeviceInfoSet SimHotplugTree::GetClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags) {
    const platform::DeviceInfoSet set = Inner().GetClassDevs(interfaceClass, flags);
    if (set == platform::InvalidDeviceInfoSet() || unplugged_.empty()) return set;
    // Walk the whole list once, now, and keep what is still plugged in.
    std::vector<platform::DeviceInterfaceData> members;
    platform::DeviceInterfaceData member;
    for (std::uint32_t i = 0; Inner().EnumDeviceInterfaces(set, interfaceClass, i, &member); ++i) {
        std::uint32_t size = 0;
        Inner().GetDeviceInterfaceDetailSize(set, member, &size);
        std::wstring path;
        platform::DeviceInfoData device;
        if (Inner().GetDeviceInterfaceDetail(set, member, size, &path, &device) && IsUnplugged(path)) continue;
        members.push_back(member);
    }
    visible_[set] = std::move(members);
    return set;
}

bool SimHotplugTree::DestroyDeviceInfoList(platform::DeviceInfoSet set) {
    visible_.erase(set);
    return Inner().DestroyDeviceInfoList(set);
}

bool SimHotplugTree::EnumDeviceInterfaces(platform::DeviceInfoSet set, const platform::Guid& interfaceClass,
                                          std::uint32_t index, platform::DeviceInterfaceData* member) {
    const auto found = visible_.find(set);
    if (found == visible_.end()) return Inner().EnumDeviceInterfaces(set, interfaceClass, index, member);
    if (index >= found->second.size()) {
        machine_.SetLastError(ErrorNoMoreItemsCode);
        return false;
    }
    if (member) *member = found->second[index];
    return true;
}

}  // namespace sim
