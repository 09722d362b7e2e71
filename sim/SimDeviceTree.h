#pragma once
// The simulated machine's device tree and device-interface lists, behind the
// device-installation seam: nodes with instance IDs, driver keys and locations, hung
// under one another, and interfaces of a class on them, in the order they were added.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/DeviceInstall.h"
#include "sim/SimFault.h"
#include "sim/SimMachine.h"

namespace sim {

// Errors of the device-installation calls (last error) and CONFIGRET values.
enum SimSetupError : std::uint32_t {
    ErrorInvalidData = 13,
    ErrorNoMoreItems = 259,
    ErrorNoSuchDevinst = 0xE000020B,
};

// The queries of the seam, each of which can be made to fail.
enum class SimTreeQuery {
    ClassDevs,         // subject: the interface class as GuidText gives it
    EnumInterfaces,    // subject: the member's interface path
    DetailSize,        // subject: the member's interface path
    Detail,            // subject: the member's interface path
    RegistryProperty,  // subject: the node's instance ID
    Parent,            // subject: the child's instance ID
    DriverKey,         // subject: the node's instance ID
    DeviceId,          // subject: the node's instance ID
    HardwareIds,       // subject: the node's instance ID
};

std::wstring GuidText(const platform::Guid& guid);  // "{53f56307-b6bf-...}", lower case

class SimDeviceTree : public platform::DeviceInstall {
public:
    // Last errors go to the machine's calling thread, as the system's do.
    explicit SimDeviceTree(SimMachine& machine) : machine_(machine) {}

    struct NodeSpec {
        std::wstring instanceId;
        std::wstring driverKey;  // empty: the node has none
        std::wstring location;   // empty: the node has none
    };

    // parent 0 hangs the node at the top of the tree.
    platform::DevInst AddNode(platform::DevInst parent, NodeSpec spec);
    // present false: listed only when a list asks for absent interfaces too.
    void AddInterface(const platform::Guid& interfaceClass, std::wstring path, platform::DevInst node,
                      bool present = true);
    // Hangs node under a new parent (a loop may be made on purpose).
    void SetParent(platform::DevInst node, platform::DevInst parent);
    // The node's hardware IDs, most specific first; without them the node has none.
    void SetHardwareIds(platform::DevInst node, std::vector<std::wstring> ids);
    // The node's driver service (SPDRP_SERVICE); without it the node has none.
    void SetService(platform::DevInst node, std::wstring service);

    // The next `times` matching queries fail: with `error` as last error, or as the
    // CONFIGRET for the configuration-manager queries. An empty subject matches all.
    void Refuse(SimTreeQuery query, std::wstring subject, std::uint32_t error, std::uint32_t times = Forever);
    std::size_t OpenSetCount() const { return sets_.size(); }
    // No open set and no refusal; sets are numbered from the start again. The nodes and
    // interfaces stay as they were added.
    void Reset() {
        sets_.clear();
        refusals_ = {};
        nextSet_ = FirstSet;
    }

    // platform::DeviceInstall
    platform::DeviceInfoSet GetClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags) override;
    bool DestroyDeviceInfoList(platform::DeviceInfoSet set) override;
    bool EnumDeviceInterfaces(platform::DeviceInfoSet set, const platform::Guid& interfaceClass, std::uint32_t index,
                              platform::DeviceInterfaceData* member) override;
    bool GetDeviceInterfaceDetailSize(platform::DeviceInfoSet set, const platform::DeviceInterfaceData& member,
                                      std::uint32_t* required) override;
    bool GetDeviceInterfaceDetail(platform::DeviceInfoSet set, const platform::DeviceInterfaceData& member,
                                  std::uint32_t detailSize, std::wstring* path,
                                  platform::DeviceInfoData* device) override;
    bool GetDeviceRegistryProperty(platform::DeviceInfoSet set, const platform::DeviceInfoData& device,
                                   std::uint32_t property, wchar_t* buffer, std::uint32_t capacity,
                                   std::uint32_t* required) override;
    std::uint32_t GetParent(platform::DevInst* parent, platform::DevInst child) override;
    std::uint32_t GetDevNodeRegistryProperty(platform::DevInst device, std::uint32_t property, wchar_t* buffer,
                                             std::uint32_t* capacity) override;
    std::uint32_t GetDeviceId(platform::DevInst device, wchar_t* buffer, std::uint32_t capacity) override;

private:
    struct Node {
        platform::DevInst parent = 0;
        NodeSpec spec;
        std::vector<std::wstring> hardwareIds;
        std::wstring service;
    };
    struct Interface {
        platform::Guid interfaceClass;
        std::wstring path;
        platform::DevInst node = 0;
        bool present = true;
    };
    struct Set {
        platform::Guid interfaceClass;
        std::vector<std::size_t> members;  // indexes into interfaces_
    };
    std::uint32_t TakeRefusal(SimTreeQuery query, const std::wstring& subject);
    bool Fail(std::uint32_t error);
    const Interface* MemberOf(platform::DeviceInfoSet set, const platform::DeviceInterfaceData& member);
    const Node* NodeOf(platform::DevInst device) const;

    SimMachine& machine_;
    std::map<platform::DevInst, Node> nodes_;
    std::vector<Interface> interfaces_;
    std::map<std::uintptr_t, Set> sets_;
    SimRefusals<SimTreeQuery> refusals_;
    platform::DevInst nextNode_ = 1;
    static constexpr std::uintptr_t FirstSet = 0x5E70;
    std::uintptr_t nextSet_ = FirstSet;
};

}  // namespace sim
