#pragma once
// The storage and disk control codes discovery issues, and the replies it reads.

#include <cstddef>
#include <cstdint>

#include "devicecmd/Bytes.h"
#include "devicecmd/Layouts.h"
#include "devicecmd/Requests.h"

namespace discovery {

enum DiscoveryControlCode : std::uint32_t {
    IoctlStorageGetDeviceNumber = 0x002D1080,
    IoctlDiskGetDriveGeometryEx = 0x000700A0,
};
// The property query is the one the device command layer sends too.
using devicecmd::IoctlStorageQueryProperty;
using devicecmd::PropertyStandardQuery;
// Replies and queries are read and written as the device command layer does.
using devicecmd::GetU32;
using devicecmd::GetU64;
using devicecmd::PutU32;

// STORAGE_DEVICE_NUMBER
constexpr std::size_t DeviceNumberSize = 12;
constexpr std::size_t DeviceNumberOffset = 4;
constexpr std::size_t PartitionNumberOffset = 8;

// STORAGE_PROPERTY_QUERY with no parameters, for the adapter descriptor, and the
// descriptor's bus type.
inline constexpr platform::Layout AdapterQueryLayout{devicecmd::Spq::Shape, devicecmd::ProcessWidth};
static_assert(AdapterQueryLayout.Size() == 12);
constexpr std::uint32_t StorageAdapterProperty = 1;
constexpr std::size_t AdapterDescriptorSize = 32;
constexpr std::size_t AdapterBusTypeOffset = 24;

// STORAGE_DEVICE_DESCRIPTOR (StorageDeviceProperty): the offsets of its vendor and product
// texts and its bus type; the texts follow the fixed part in the same reply.
constexpr std::uint32_t StorageDeviceProperty = 0;
constexpr std::size_t DeviceDescriptorSize = 1024;
constexpr std::size_t DeviceDescriptorVendorOffset = 12;
constexpr std::size_t DeviceDescriptorProductOffset = 16;
constexpr std::size_t DeviceDescriptorBusTypeOffset = 28;

// STORAGE_BUS_TYPE values the pass tells apart.
enum StorageBusType : std::uint8_t {
    StorageBusUsb = 7,
    StorageBusSata = 11,
    StorageBusNvme = 17,
};

// DISK_GEOMETRY_EX
constexpr std::size_t DiskGeometryExSize = 40;
constexpr std::size_t GeometryBytesPerSectorOffset = 20;
constexpr std::size_t GeometryDiskSizeOffset = 24;

}  // namespace discovery
