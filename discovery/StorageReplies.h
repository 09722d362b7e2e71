#pragma once
// What discovery reads from the storage replies, judged only within the count the driver
// returned: a reply that does not reach a field is no answer, never a zero.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace discovery {

struct DeviceNumber {
    std::uint32_t device = 0;
    std::uint32_t partition = 0;
};
// STORAGE_DEVICE_NUMBER: the whole structure must come back.
std::optional<DeviceNumber> DeviceNumberFromReply(const std::uint8_t* reply, std::uint32_t returned,
                                                  std::size_t bufferSize);

// STORAGE_ADAPTER_DESCRIPTOR: the count must reach the bus type byte.
std::optional<std::uint8_t> BusTypeFromReply(const std::uint8_t* reply, std::uint32_t returned,
                                             std::size_t bufferSize);

struct DiskCapacity {
    std::uint64_t totalSectors = 0;
    std::uint32_t bytesPerSector = 0;
};
// DISK_GEOMETRY_EX through DiskSize. A geometry without a sector size, or with a negative
// disk size, is a capacity of 0 sectors of 0 bytes.
std::optional<DiskCapacity> CapacityFromReply(const std::uint8_t* reply, std::uint32_t returned,
                                              std::size_t bufferSize);

// STORAGE_DEVICE_DESCRIPTOR: the SCSI vendor and product identification (the texts its
// offsets name, each ending at a NUL or at the count) and the bus type. The count must
// reach the bus type; a text offset of 0 is no text, one at or past the count makes the
// reply no answer.
struct DeviceIdentity {
    std::string vendor;
    std::string product;
    std::uint8_t busType = 0;
};
std::optional<DeviceIdentity> DeviceIdentityFromReply(const std::uint8_t* reply, std::uint32_t returned,
                                                      std::size_t bufferSize);

}  // namespace discovery
