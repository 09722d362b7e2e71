#pragma once
// System values the simulated machine speaks: device-control codes and error codes.

#include <cstdint>

namespace sim {

enum IoControlCode : std::uint32_t {
    IoctlDiskGetDriveGeometryEx = 0x000700A0,
    IoctlStorageGetDeviceNumber = 0x002D1080,
    IoctlStorageQueryProperty = 0x002D1400,
    IoctlStorageProtocolCommand = 0x002DD3C0,
    IoctlScsiPassThrough = 0x0004D004,
    IoctlScsiMiniport = 0x0004D008,
    IoctlScsiGetAddress = 0x00041018,
    IoctlScsiPassThroughDirect = 0x0004D014,
    IoctlAtaPassThroughDirect = 0x0004D030,
};

// The access a handle needs for a control code: bits 15-14 of the code.
constexpr std::uint32_t RequiredAccessOf(std::uint32_t code) { return (code >> 14) & 3; }
enum ControlAccess : std::uint32_t { ControlAccessRead = 1, ControlAccessWrite = 2 };

enum SystemError : std::uint32_t {
    ErrorSuccess = 0,
    ErrorInvalidFunction = 1,
    ErrorFileNotFound = 2,
    ErrorAccessDenied = 5,
    ErrorInvalidHandle = 6,
    ErrorNotSupported = 50,
    ErrorInvalidParameter = 87,
    ErrorInsufficientBuffer = 122,
    ErrorIoDevice = 1117,
    ErrorDeviceNotConnected = 1167,
};

}  // namespace sim
