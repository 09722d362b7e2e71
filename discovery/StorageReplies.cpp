#include "discovery/StorageReplies.h"

#include "discovery/StorageCodes.h"

namespace discovery {

std::optional<DeviceNumber> DeviceNumberFromReply(const std::uint8_t* reply, std::uint32_t returned,
                                                  std::size_t bufferSize) {
    if (returned > bufferSize || returned < DeviceNumberSize) return std::nullopt;
    return DeviceNumber{GetU32(reply + DeviceNumberOffset), GetU32(reply + PartitionNumberOffset)};
}

std::optional<std::uint8_t> BusTypeFromReply(const std::uint8_t* reply, std::uint32_t returned,
                                             std::size_t bufferSize) {
    if (returned > bufferSize || returned <= AdapterBusTypeOffset) return std::nullopt;
    return reply[AdapterBusTypeOffset];
}

std::optional<DiskCapacity> CapacityFromReply(const std::uint8_t* reply, std::uint32_t returned,
                                              std::size_t bufferSize) {
    if (returned > bufferSize || returned < GeometryDiskSizeOffset + 8) return std::nullopt;
    const std::uint32_t bytesPerSector = GetU32(reply + GeometryBytesPerSectorOffset);
    const auto diskSize = static_cast<std::int64_t>(GetU64(reply + GeometryDiskSizeOffset));
    if (bytesPerSector == 0 || diskSize < 0) return DiskCapacity{};
    return DiskCapacity{static_cast<std::uint64_t>(diskSize) / bytesPerSector, bytesPerSector};
}

}  // namespace discovery
