#pragma once
// Little-endian reads and writes on raw request and reply buffers.

#include <cstddef>
#include <cstdint>

namespace devicecmd {

inline void PutU16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void PutU32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

inline std::uint16_t GetU16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t GetU32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

inline std::uint64_t GetU64(const std::uint8_t* at) {
    return static_cast<std::uint64_t>(GetU32(at)) | (static_cast<std::uint64_t>(GetU32(at + 4)) << 32);
}

// A buffer's address as a request carries it; the request's layout decides its width.
inline std::uint64_t AddressOf(const void* buffer) {
    return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(buffer));
}

}  // namespace devicecmd
