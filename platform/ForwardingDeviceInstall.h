#pragma once
// A device-installation list that passes every call on to another: the base of wrappers
// that change or watch a few calls and leave the rest to the list they wrap.

#include "platform/DeviceInstall.h"

namespace platform {

class ForwardingDeviceInstall : public DeviceInstall {
public:
    explicit ForwardingDeviceInstall(DeviceInstall& inner) : inner_(inner) {}

    DeviceInfoSet GetClassDevs(const Guid& interfaceClass, std::uint32_t flags) override {
        return inner_.GetClassDevs(interfaceClass, flags);
    }
    bool DestroyDeviceInfoList(DeviceInfoSet set) override { return inner_.DestroyDeviceInfoList(set); }
    bool EnumDeviceInterfaces(DeviceInfoSet set, const Guid& interfaceClass, std::uint32_t index,
                              DeviceInterfaceData* member) override {
        return inner_.EnumDeviceInterfaces(set, interfaceClass, index, member);
    }
    bool GetDeviceInterfaceDetailSize(DeviceInfoSet set, const DeviceInterfaceData& member,
                                      std::uint32_t* required) override {
        return inner_.GetDeviceInterfaceDetailSize(set, member, required);
    }
    bool GetDeviceInterfaceDetail(DeviceInfoSet set, const DeviceInterfaceData& member, std::uint32_t detailSize,
                                  std::wstring* path, DeviceInfoData* device) override {
        return inner_.GetDeviceInterfaceDetail(set, member, detailSize, path, device);
    }
    bool GetDeviceRegistryProperty(DeviceInfoSet set, const DeviceInfoData& device, std::uint32_t property,
                                   wchar_t* buffer, std::uint32_t capacity, std::uint32_t* required) override {
        return inner_.GetDeviceRegistryProperty(set, device, property, buffer, capacity, required);
    }
    std::uint32_t GetParent(DevInst* parent, DevInst child) override { return inner_.GetParent(parent, child); }
    std::uint32_t GetDevNodeRegistryProperty(DevInst device, std::uint32_t property, wchar_t* buffer,
                                             std::uint32_t* capacity) override {
        return inner_.GetDevNodeRegistryProperty(device, property, buffer, capacity);
    }
    std::uint32_t GetDeviceId(DevInst device, wchar_t* buffer, std::uint32_t capacity) override {
        return inner_.GetDeviceId(device, buffer, capacity);
    }

protected:
    DeviceInstall& Inner() { return inner_; }

private:
    DeviceInstall& inner_;
};

}  // namespace platform
