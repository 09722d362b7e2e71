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

std::optional<DeviceIdentity> DeviceIdentityFromReply(const std::uint8_t* reply, std::uint32_t returned,
                                                      std::size_t bufferSize) {
    if (returned > bufferSize || returned < DeviceDescriptorBusTypeOffset + 4) return std::nullopt;
    DeviceIdentity identity;
    auto text = [&](std::size_t offsetField, std::string& out) {
        const std::uint32_t at = GetU32(reply + offsetField);
        if (at == 0) return true;
        if (at >= returned) return false;
        const std::uint8_t* begin = reply + at;
        const std::uint8_t* end = begin;
        while (end < reply + returned && *end != 0) ++end;
        out.assign(begin, end);
        return true;
    };
    if (!text(DeviceDescriptorVendorOffset, identity.vendor) || !text(DeviceDescriptorProductOffset, identity.product))
        return std::nullopt;
    identity.busType = reply[DeviceDescriptorBusTypeOffset];
    return identity;
}

}  // namespace discovery
