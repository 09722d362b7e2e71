#pragma once
// The drive's SMART / health information log (log page 02h): the request on each NVMe
// path, and the one operation that reads it through the path the drive identified on.
// Read-only and standard: it goes to any drive that answered identify on an NVMe path.

#include <array>
#include <cstdint>
#include <vector>

#include "devicecmd/Transport.h"

namespace devicecmd {

constexpr std::uint8_t NvmeOpcodeGetLogPage = 0x02;
constexpr std::uint8_t LogPageHealth = 0x02;
constexpr std::uint32_t HealthLogSize = 512;
// The log covers the whole controller, not one namespace.
constexpr std::uint32_t NamespaceAll = 0xFFFFFFFF;
// Inbox driver: the device's (not the adapter's) protocol-specific property, log page data.
constexpr std::uint32_t PropertyIdDeviceProtocolSpecific = 50;
constexpr std::uint32_t ProtocolDataTypeLogPage = 2;

using HealthLogBytes = std::array<std::uint8_t, HealthLogSize>;

// Get Log Page: opcode 02h, namespace FFFFFFFFh, dword 10 = log page id 2 with the
// zero-based dword count of 512 bytes (127) in bits 31 to 16.
NvmeCommand BuildHealthLogCommand();
// The inbox driver's property query for the log: request value 2 (the page), sub-value 0
// (offset), the data right after the protocol-specific block, 512 bytes.
std::vector<std::uint8_t> BuildHealthLogQuery();

// Reads the 512-byte log through the drive's path (transport codes 2, 3 and 4) into log.
// 1 only when the whole log came back; 0 for a refusal, a short reply or another path.
// One attempt: a drive that refuses it costs one exchange, and health is then unavailable.
int ReadHealthLog(platform::Device device, TransportWord transport, HealthLogBytes& log);

// Get Log Page for any page read whole from offset 0: namespace FFFFFFFFh, dword 10 = the
// page id with the zero-based dword count in bits 31 to 16. size: a multiple of 4.
NvmeCommand BuildLogPageCommand(std::uint8_t logId, std::uint32_t size);
// The inbox driver's property query for that page.
std::vector<std::uint8_t> BuildLogPageQuery(std::uint8_t logId, std::uint32_t size);
// Reads a whole page of size bytes into out as ReadHealthLog reads the health log: one
// attempt, 1 only when all of it came back, out untouched otherwise.
int ReadLogPage(platform::Device device, TransportWord transport, std::uint8_t logId, std::uint8_t* out,
                std::uint32_t size);

}  // namespace devicecmd
