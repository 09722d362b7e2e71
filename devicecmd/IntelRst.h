#pragma once
// Intel Rapid Storage Technology's NVMe pass-through, for NVMe drives behind an RST
// adapter ("RAID On"), where neither the inbox driver nor an "NvmeMini" miniport answers.
// The request is an "IntelNvm" SRB_IO_CONTROL sent with IOCTL_SCSI_MINIPORT to the SCSI
// port of the disk's adapter (\\.\ScsiN:), addressed to the disk by the PathId of its
// SCSI_ADDRESS; TargetId and Lun are reserved and sent as 0. The interface is the one RST
// 14.6 to 18.x document, also served by the VMD driver (iaStorVD); the driver reads the
// data direction from the NVMe opcode. Its ReturnCode is an SRB status, not a miniport's
// 0-for-success code.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devicecmd/Layouts.h"
#include "devicecmd/Requests.h"
#include "devicecmd/Transport.h"

namespace devicecmd {

// SCSI_ADDRESS: what IOCTL_SCSI_GET_ADDRESS on a disk hands back.
namespace ScsiAddr {
enum Field : std::size_t { Length, PortNumber, PathId, TargetId, Lun };
inline constexpr platform::Field Fields[] = {platform::U32(), platform::U8(), platform::U8(), platform::U8(),
                                             platform::U8()};
static_assert(DescribesEveryField(Fields, Lun));
inline constexpr platform::StructShape Shape{Fields};
}  // namespace ScsiAddr

// NVME_PASS_THROUGH_PARAMETERS: the command, the queue flag (a BOOLEAN, padded to a
// dword by the completion entry after it), the completion entry, and the data's place.
namespace RstParams {
enum Field : std::size_t { Command, IsIoCommandSet, Completion, DataBufferOffset, DataBufferLength, Reserved };
inline constexpr platform::Field Fields[] = {
    platform::U32(16), platform::U8(), platform::U32(4), platform::U32(), platform::U32(), platform::U32(10),
};
static_assert(DescribesEveryField(Fields, Reserved));
inline constexpr platform::StructShape Shape{Fields};
}  // namespace RstParams

// NVME_IOCTL_PASS_THROUGH: SRB_IO_CONTROL, version and address, parameters, then the data.
namespace RstRequest {
enum Field : std::size_t { SrbIoControl, Version, PathId, TargetId, Lun, Parameters, Data };
inline constexpr platform::Field Fields[] = {
    platform::Nested(Srb::Shape), platform::U8(), platform::U8(), platform::U8(), platform::U8(),
    platform::Nested(RstParams::Shape), platform::U8(1),
};
static_assert(DescribesEveryField(Fields, Data));
inline constexpr platform::StructShape Shape{Fields};
}  // namespace RstRequest

// No pointer in either: one layout for both widths.
static_assert(platform::SameInBothWidths(ScsiAddr::Shape) && platform::SameInBothWidths(RstRequest::Shape));
inline constexpr platform::Layout ScsiAddressLayout{ScsiAddr::Shape, ProcessWidth};
inline constexpr platform::Layout RstRequestLayout{RstRequest::Shape, ProcessWidth};
inline constexpr platform::Layout RstParamsLayout{RstParams::Shape, ProcessWidth};

constexpr std::uint32_t IoctlScsiGetAddress = 0x41018;
// CTL_CODE(0xF000, 0xA02, METHOD_BUFFERED, FILE_ANY_ACCESS)
constexpr std::uint32_t RstControlCode = 0xF0002808;
constexpr std::uint8_t RstPassThroughVersion = 1;
constexpr std::uint32_t RstParamsOffset = RstRequestLayout[RstRequest::Parameters];                   // 32
constexpr std::uint32_t RstCommandOffset = RstParamsOffset + RstParamsLayout[RstParams::Command];      // 32
constexpr std::uint32_t RstQueueFlagOffset = RstParamsOffset + RstParamsLayout[RstParams::IsIoCommandSet];  // 96
constexpr std::uint32_t RstCompletionOffset = RstParamsOffset + RstParamsLayout[RstParams::Completion];     // 100
constexpr std::uint32_t RstDataOffsetField = RstParamsOffset + RstParamsLayout[RstParams::DataBufferOffset];  // 116
constexpr std::uint32_t RstDataLengthField = RstParamsOffset + RstParamsLayout[RstParams::DataBufferLength];  // 120
constexpr std::uint32_t RstDataOffset = RstRequestLayout[RstRequest::Data];                            // 164
constexpr std::uint32_t RstReplyMinimum = RstCompletionOffset + static_cast<std::uint32_t>(CompletionEntrySize);
static_assert(RstDataOffset % 4 == 0, "the data must start on a dword");

// SRB_IO_CONTROL.ReturnCode of an "IntelNvm" reply: the SRB status the driver completed
// the request with. Only Success hands back data and a completion entry; Pending is no
// final answer.
enum RstSrbStatus : std::uint32_t {
    RstSrbPending = 0,
    RstSrbSuccess = 1,
    RstSrbAborted = 2,
    RstSrbAbortFailed = 3,
    RstSrbError = 4,
    RstSrbBusy = 5,
    RstSrbInvalidRequest = 6,  // the driver does not pass this command
    RstSrbInvalidPathId = 7,
};
// The last error an invalid-request status leaves (ERROR_NOT_SUPPORTED): the driver has the
// pass-through but will not carry the command, so this path reaches no drive. Unlike a
// refusal (ErrorRefused) it is not worth another attempt.
constexpr std::uint32_t ErrorRstNotPassed = 50;

struct ScsiAddress {
    std::uint8_t portNumber = 0;
    std::uint8_t pathId = 0;
    std::uint8_t targetId = 0;
    std::uint8_t lun = 0;
};

// The address in a SCSI_ADDRESS reply of `returned` bytes in a buffer of bufferSize;
// none when the count misses the address or exceeds the buffer.
std::optional<ScsiAddress> ScsiAddressFromReply(const std::uint8_t* reply, std::uint32_t returned,
                                                std::size_t bufferSize);
// "\\.\ScsiN:" for the port number N.
std::wstring ScsiPortPath(std::uint8_t portNumber);

// Whether the data direction agrees with the opcode's two low bits (NVMe: 00 none,
// 01 to the controller, 10 from it, 11 either). The driver moves data by the opcode,
// so a disagreement would send the caller's buffer, or overwrite it, against its will.
bool RstDirectionAgrees(std::uint8_t opcode, std::uint8_t direction);

// The request size for length data bytes: the head and the data; none when too large.
std::optional<std::uint32_t> RstRequestSize(std::uint32_t length);
// Requires a size from RstRequestSize(length). data (length bytes) is copied for direction 1.
// Only the address's PathId is sent; TargetId and Lun are reserved (0).
std::vector<std::uint8_t> BuildRstRequest(const std::uint8_t* command, const std::uint8_t* data,
                                          std::uint32_t length, std::uint8_t direction, bool ioCommandSet,
                                          std::uint32_t timeout, ScsiAddress address);
// The reply in the request's buffer of bufferSize bytes, `returned` of them written. The
// count must reach through the completion entry, and for a read through the data. The
// signature, ReturnCode RstSrbSuccess and a clear completion status must all say success.
ReplyVerdict JudgeRstReply(const std::uint8_t* reply, std::uint32_t returned, std::uint32_t bufferSize,
                           std::uint8_t direction, std::uint32_t length);

// Identify-controller data as a drive gives it: not all zeros, and a model number of
// printable ASCII that is not all blanks. A driver that lays the reply out otherwise
// does not hand back such data where it is read.
// The ReturnCode of a reply whose count reaches it; none otherwise.
std::optional<std::uint32_t> RstReturnCode(const std::uint8_t* reply, std::uint32_t returned,
                                           std::uint32_t bufferSize);

bool LooksLikeIdentifyController(const std::uint8_t* data);

// One NVMe command (64 bytes, any admin or I/O command; the namespace is the command's
// dword 1) through the RST pass-through. device is the open physical drive: its SCSI
// address names the port and the target. ioCommandSet: 0 for the admin queue.
// completion: optional 16-byte out area for the completion entry. A command the driver
// does not pass fails at once with ErrorRstNotPassed.
int SendIntelRstNvmeCommand(platform::Device device, const std::uint8_t* command, std::uint8_t* buffer,
                            std::uint32_t length, std::uint8_t direction, std::uint8_t ioCommandSet,
                            std::uint32_t timeout, std::uint32_t attempts, std::uint8_t* completion);
// The same, to the drive at `address`, read when it was identified: the disk's SCSI address
// is not read again, so that a changed one cannot lead the command to another drive. Without
// an address, as above.
int SendIntelRstNvmeCommand(platform::Device device, std::optional<ScsiAddress> address,
                            const std::uint8_t* command, std::uint8_t* buffer, std::uint32_t length,
                            std::uint8_t direction, std::uint8_t ioCommandSet, std::uint32_t timeout,
                            std::uint32_t attempts, std::uint8_t* completion);

// IOCTL_SCSI_GET_ADDRESS on the disk's handle; none when refused or short (last error 13).
std::optional<ScsiAddress> ReadScsiAddress(platform::Device device);
bool SameScsiAddress(const ScsiAddress& a, const ScsiAddress& b);

// The transport word carrying the drive's address for every later command, and back.
TransportWord WithRstAddress(TransportWord word, ScsiAddress address);
std::optional<ScsiAddress> RstAddressOf(TransportWord word);

}  // namespace devicecmd
