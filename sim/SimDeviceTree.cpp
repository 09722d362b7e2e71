#include "sim/SimDeviceTree.h"

#include <algorithm>
#include <cstdio>

namespace sim {
namespace {

// Where the path begins in SP_DEVICE_INTERFACE_DETAIL_DATA_W, in either pointer width.
constexpr std::uint32_t DetailPathOffset = 4;

// Copies text and its terminator into capacity characters.
bool CopyText(const std::wstring& text, wchar_t* buffer, std::uint32_t capacity) {
    if (buffer == nullptr || text.size() + 1 > capacity) return false;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
    return true;
}

}  // namespace

std::wstring GuidText(const platform::Guid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(guid.data1), guid.data2, guid.data3, guid.data4[0], guid.data4[1],
                  guid.data4[2], guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

platform::DevInst SimDeviceTree::AddNode(platform::DevInst parent, NodeSpec spec) {
    const platform::DevInst id = nextNode_++;
    nodes_[id] = Node{parent, std::move(spec), {}, {}};
    return id;
}

void SimDeviceTree::AddInterface(const platform::Guid& interfaceClass, std::wstring path, platform::DevInst node,
                                 bool present) {
    interfaces_.push_back(Interface{interfaceClass, std::move(path), node, present});
}

void SimDeviceTree::SetParent(platform::DevInst node, platform::DevInst parent) {
    const auto found = nodes_.find(node);
    if (found != nodes_.end()) found->second.parent = parent;
}

void SimDeviceTree::SetHardwareIds(platform::DevInst node, std::vector<std::wstring> ids) {
    const auto found = nodes_.find(node);
    if (found != nodes_.end()) found->second.hardwareIds = std::move(ids);
}

void SimDeviceTree::SetService(platform::DevInst node, std::wstring service) {
    const auto found = nodes_.find(node);
    if (found != nodes_.end()) found->second.service = std::move(service);
}

void SimDeviceTree::Refuse(SimTreeQuery query, std::wstring subject, std::uint32_t error, std::uint32_t times) {
    refusals_.Add(query, subject, error, times);
}

std::uint32_t SimDeviceTree::TakeRefusal(SimTreeQuery query, const std::wstring& subject) {
    return refusals_.Take(query, subject);
}

bool SimDeviceTree::Fail(std::uint32_t error) {
    machine_.SetLastError(error);
    return false;
}

const SimDeviceTree::Node* SimDeviceTree::NodeOf(platform::DevInst device) const {
    const auto found = nodes_.find(device);
    return found == nodes_.end() ? nullptr : &found->second;
}

const SimDeviceTree::Interface* SimDeviceTree::MemberOf(platform::DeviceInfoSet set,
                                                        const platform::DeviceInterfaceData& member) {
    const auto found = sets_.find(reinterpret_cast<std::uintptr_t>(set));
    if (found == sets_.end()) {
        Fail(ErrorInvalidHandle);
        return nullptr;
    }
    // reserved carries the member's index + 1, as the enumeration handed it out.
    if (member.reserved == 0 || member.reserved > found->second.members.size()) {
        Fail(ErrorInvalidParameter);
        return nullptr;
    }
    return &interfaces_[found->second.members[member.reserved - 1]];
}

platform::DeviceInfoSet SimDeviceTree::GetClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags) {
    if (const std::uint32_t error = TakeRefusal(SimTreeQuery::ClassDevs, GuidText(interfaceClass))) {
        Fail(error);
        return platform::InvalidDeviceInfoSet();
    }
    if ((flags & platform::ClassDevsInterfaces) == 0) {
        Fail(ErrorInvalidParameter);  // the pass asks only for interface lists
        return platform::InvalidDeviceInfoSet();
    }
    Set set{interfaceClass, {}};
    for (std::size_t i = 0; i < interfaces_.size(); ++i) {
        const Interface& candidate = interfaces_[i];
        if (candidate.interfaceClass != interfaceClass) continue;
        if ((flags & platform::ClassDevsPresent) && !candidate.present) continue;
        set.members.push_back(i);
    }
    const std::uintptr_t handle = nextSet_;
    nextSet_ += 4;
    sets_[handle] = std::move(set);
    return reinterpret_cast<platform::DeviceInfoSet>(handle);
}

bool SimDeviceTree::DestroyDeviceInfoList(platform::DeviceInfoSet set) {
    if (sets_.erase(reinterpret_cast<std::uintptr_t>(set)) == 0) return Fail(ErrorInvalidHandle);
    return true;
}

bool SimDeviceTree::EnumDeviceInterfaces(platform::DeviceInfoSet set, const platform::Guid& interfaceClass,
                                         std::uint32_t index, platform::DeviceInterfaceData* member) {
    const auto found = sets_.find(reinterpret_cast<std::uintptr_t>(set));
    if (found == sets_.end() || member == nullptr) return Fail(ErrorInvalidHandle);
    const std::vector<std::size_t>& members = found->second.members;
    if (interfaceClass != found->second.interfaceClass || index >= members.size()) return Fail(ErrorNoMoreItems);
    const Interface& chosen = interfaces_[members[index]];
    if (const std::uint32_t error = TakeRefusal(SimTreeQuery::EnumInterfaces, chosen.path)) return Fail(error);
    member->interfaceClass = chosen.interfaceClass;
    member->flags = 1;  // SPINT_ACTIVE
    member->reserved = index + 1;
    return true;
}

bool SimDeviceTree::GetDeviceInterfaceDetailSize(platform::DeviceInfoSet set,
                                                 const platform::DeviceInterfaceData& member,
                                                 std::uint32_t* required) {
    if (required != nullptr) *required = 0;
    const Interface* chosen = MemberOf(set, member);
    if (chosen == nullptr) return false;
    if (const std::uint32_t error = TakeRefusal(SimTreeQuery::DetailSize, chosen->path)) return Fail(error);
    if (required != nullptr)
        *required = DetailPathOffset + static_cast<std::uint32_t>((chosen->path.size() + 1) * 2);
    return Fail(ErrorInsufficientBuffer);  // no buffer was given: the system always says so
}

bool SimDeviceTree::GetDeviceInterfaceDetail(platform::DeviceInfoSet set, const platform::DeviceInterfaceData& member,
                                             std::uint32_t detailSize, std::wstring* path,
                                             platform::DeviceInfoData* device) {
    const Interface* chosen = MemberOf(set, member);
    if (chosen == nullptr) return false;
    if (const std::uint32_t error = TakeRefusal(SimTreeQuery::Detail, chosen->path)) return Fail(error);
    const std::uint32_t needed = DetailPathOffset + static_cast<std::uint32_t>((chosen->path.size() + 1) * 2);
    if (detailSize < needed) return Fail(ErrorInsufficientBuffer);
    if (path != nullptr) *path = chosen->path;
    if (device != nullptr) {
        device->deviceClass = chosen->interfaceClass;
        device->devInst = chosen->node;
        device->reserved = 0;
    }
    return true;
}

bool SimDeviceTree::GetDeviceRegistryProperty(platform::DeviceInfoSet set, const platform::DeviceInfoData& device,
                                              std::uint32_t property, wchar_t* buffer, std::uint32_t capacity,
                                              std::uint32_t* required) {
    if (required != nullptr) *required = 0;
    if (sets_.find(reinterpret_cast<std::uintptr_t>(set)) == sets_.end()) return Fail(ErrorInvalidHandle);
    const Node* node = NodeOf(device.devInst);
    if (node == nullptr) return Fail(ErrorNoSuchDevinst);
    if (const std::uint32_t error = TakeRefusal(SimTreeQuery::RegistryProperty, node->spec.instanceId))
        return Fail(error);
    const std::wstring& text = property == platform::SpdrpLocationInformation ? node->spec.location
                               : property == platform::SpdrpService             ? node->service
                                                                                : std::wstring();
    if (text.empty()) return Fail(ErrorInvalidData);
    if (required != nullptr) *required = static_cast<std::uint32_t>((text.size() + 1) * 2);
    if (!CopyText(text, buffer, capacity)) return Fail(ErrorInsufficientBuffer);
    return true;
}

std::uint32_t SimDeviceTree::GetParent(platform::DevInst* parent, platform::DevInst child) {
    if (parent != nullptr) *parent = 0;
    const Node* node = NodeOf(child);
    if (node == nullptr) return platform::ConfigNoSuchDevnode;
    if (const std::uint32_t error = TakeRefusal(SimTreeQuery::Parent, node->spec.instanceId)) return error;
    if (node->parent == 0) return platform::ConfigNoSuchDevnode;  // the top of the tree
    if (parent != nullptr) *parent = node->parent;
    return platform::ConfigSuccess;
}

std::uint32_t SimDeviceTree::GetDevNodeRegistryProperty(platform::DevInst device, std::uint32_t property,
                                                        wchar_t* buffer, std::uint32_t* capacity) {
    const Node* node = NodeOf(device);
    if (node == nullptr || capacity == nullptr) return platform::ConfigNoSuchDevnode;
    std::wstring text;
    if (property == platform::CmDrpDriver) {
        if (const std::uint32_t error = TakeRefusal(SimTreeQuery::DriverKey, node->spec.instanceId)) return error;
        text = node->spec.driverKey;
    } else if (property == platform::CmDrpHardwareId) {
        if (const std::uint32_t error = TakeRefusal(SimTreeQuery::HardwareIds, node->spec.instanceId)) return error;
        // A text list: each text and its terminator, the list's own terminator added below.
        for (const std::wstring& id : node->hardwareIds) text += id + L'\0';
    }
    if (text.empty()) return platform::ConfigNoSuchValue;
    const std::uint32_t room = *capacity;
    *capacity = static_cast<std::uint32_t>(text.size() + 1);
    if (!CopyText(text, buffer, room)) return platform::ConfigBufferSmall;
    return platform::ConfigSuccess;
}

std::uint32_t SimDeviceTree::GetDeviceId(platform::DevInst device, wchar_t* buffer, std::uint32_t capacity) {
    const Node* node = NodeOf(device);
    if (node == nullptr) return platform::ConfigNoSuchDevnode;
    if (const std::uint32_t error = TakeRefusal(SimTreeQuery::DeviceId, node->spec.instanceId)) return error;
    if (!CopyText(node->spec.instanceId, buffer, capacity)) return platform::ConfigBufferSmall;
    return platform::ConfigSuccess;
}

}  // namespace sim
