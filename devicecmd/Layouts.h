#pragma once
// Every structure the device layer hands to the system, described once. The layout for
// a 32-bit or a 64-bit process follows from the description (platform/StructLayout.h);
// the builders use the layout of the width they run in unless told otherwise.

#include <cstddef>
#include <cstdint>

#include "platform/StructLayout.h"

namespace devicecmd {

using platform::PointerWidth;
using platform::ProcessWidth;

template <typename FieldId, std::size_t N>
constexpr bool DescribesEveryField(const platform::Field (&)[N], FieldId last) {
    return static_cast<std::size_t>(last) + 1 == N;
}

// SCSI_PASS_THROUGH and SCSI_PASS_THROUGH_DIRECT share one shape: DataBuffer is the data's
// offset (ULONG_PTR) in one and the caller's buffer address (PVOID) in the other.
namespace Spt {
enum Field : std::size_t {
    Length, ScsiStatus, PathId, TargetId, Lun, CdbLength, SenseInfoLength, DataIn,
    DataTransferLength, TimeOutValue, DataBuffer, SenseInfoOffset, Cdb,
};
inline constexpr platform::Field Fields[] = {
    platform::U16(), platform::U8(), platform::U8(), platform::U8(), platform::U8(), platform::U8(),
    platform::U8(), platform::U8(), platform::U32(), platform::U32(), platform::Pointer(), platform::U32(),
    platform::U8(16),
};
static_assert(DescribesEveryField(Fields, Cdb));
inline constexpr platform::StructShape Shape{Fields};
}  // namespace Spt

constexpr std::uint32_t ScsiSenseRoom = 32;
constexpr std::uint32_t ScsiDataRoom = 67584;

// The program's SCSI requests: the pass-through header, 4 zero bytes, a 32-byte sense
// area and, for the buffered request, the data room.
namespace ScsiRequest {
enum Field : std::size_t { Header, Filler, Sense, Data };
inline constexpr platform::Field BufferedFields[] = {
    platform::Nested(Spt::Shape), platform::U32(), platform::U8(ScsiSenseRoom), platform::U8(ScsiDataRoom),
};
inline constexpr platform::Field DirectFields[] = {
    platform::Nested(Spt::Shape), platform::U32(), platform::U8(ScsiSenseRoom),
};
static_assert(DescribesEveryField(BufferedFields, Data));
static_assert(DescribesEveryField(DirectFields, Sense));
inline constexpr platform::StructShape Buffered{BufferedFields};
inline constexpr platform::StructShape Direct{DirectFields};
}  // namespace ScsiRequest

// ATA_PASS_THROUGH_DIRECT.
namespace Aptd {
enum Field : std::size_t {
    Length, AtaFlags, PathId, TargetId, Lun, ReservedAsUchar, DataTransferLength, TimeOutValue,
    ReservedAsUlong, DataBuffer, PreviousTaskFile, CurrentTaskFile,
};
inline constexpr platform::Field Fields[] = {
    platform::U16(), platform::U16(), platform::U8(), platform::U8(), platform::U8(), platform::U8(),
    platform::U32(), platform::U32(), platform::U32(), platform::Pointer(), platform::U8(8), platform::U8(8),
};
static_assert(DescribesEveryField(Fields, CurrentTaskFile));
inline constexpr platform::StructShape Shape{Fields};
}  // namespace Aptd

// STORAGE_PROTOCOL_COMMAND; the NVMe command starts at Command.
namespace Spc {
enum Field : std::size_t {
    Version, Length, ProtocolType, Flags, ReturnStatus, ErrorCode, CommandLength, ErrorInfoLength,
    DataToDeviceTransferLength, DataFromDeviceTransferLength, TimeOutValue, ErrorInfoOffset,
    DataToDeviceBufferOffset, DataFromDeviceBufferOffset, CommandSpecific, Reserved0,
    FixedProtocolReturnData, Reserved1, Command,
};
inline constexpr platform::Field Fields[] = {
    platform::U32(), platform::U32(), platform::U32(), platform::U32(), platform::U32(), platform::U32(),
    platform::U32(), platform::U32(), platform::U32(), platform::U32(), platform::U32(), platform::U32(),
    platform::U32(), platform::U32(), platform::U32(), platform::U32(), platform::U32(), platform::U32(3),
    platform::U8(1),
};
static_assert(DescribesEveryField(Fields, Command));
inline constexpr platform::StructShape Shape{Fields};
}  // namespace Spc

// STORAGE_PROTOCOL_SPECIFIC_DATA.
namespace Psd {
enum Field : std::size_t {
    ProtocolType, DataType, ProtocolDataRequestValue, ProtocolDataRequestSubValue, ProtocolDataOffset,
    ProtocolDataLength, FixedProtocolReturnData, ProtocolDataRequestSubValue2, ProtocolDataRequestSubValue3,
    ProtocolDataRequestSubValue4,
};
inline constexpr platform::Field Fields[] = {
    platform::U32(), platform::U32(), platform::U32(), platform::U32(), platform::U32(),
    platform::U32(), platform::U32(), platform::U32(), platform::U32(), platform::U32(),
};
static_assert(DescribesEveryField(Fields, ProtocolDataRequestSubValue4));
inline constexpr platform::StructShape Shape{Fields};
}  // namespace Psd

// STORAGE_PROPERTY_QUERY; AdditionalParameters holds the protocol-specific data.
namespace Spq {
enum Field : std::size_t { PropertyId, QueryType, AdditionalParameters };
inline constexpr platform::Field Fields[] = {platform::U32(), platform::U32(), platform::U8(1)};
static_assert(DescribesEveryField(Fields, AdditionalParameters));
inline constexpr platform::StructShape Shape{Fields};
// The query the layer sends: the two words, then the protocol-specific data.
inline constexpr platform::Field WithProtocolDataFields[] = {
    platform::U32(), platform::U32(), platform::Nested(Psd::Shape)};
inline constexpr platform::StructShape WithProtocolData{WithProtocolDataFields};
}  // namespace Spq

// STORAGE_PROTOCOL_DATA_DESCRIPTOR: what the property query hands back.
namespace Spdd {
enum Field : std::size_t { Version, Size, ProtocolSpecificData };
inline constexpr platform::Field Fields[] = {platform::U32(), platform::U32(), platform::Nested(Psd::Shape)};
static_assert(DescribesEveryField(Fields, ProtocolSpecificData));
inline constexpr platform::StructShape Shape{Fields};
}  // namespace Spdd

// SRB_IO_CONTROL, the head of every miniport request.
namespace Srb {
enum Field : std::size_t { HeaderLength, Signature, Timeout, ControlCode, ReturnCode, Length };
inline constexpr platform::Field Fields[] = {
    platform::U32(), platform::U8(8), platform::U32(), platform::U32(), platform::U32(), platform::U32()};
static_assert(DescribesEveryField(Fields, Length));
inline constexpr platform::StructShape Shape{Fields};
}  // namespace Srb

// The "NvmeMini" pass-through request behind its SRB_IO_CONTROL.
namespace NvmeMini {
enum Field : std::size_t {
    SrbIoControl, VendorSpecific, Command, Completion, Direction, QueueId, DataBufferLength,
    MetaDataLength, ReturnBufferLength, DataBuffer,
};
inline constexpr platform::Field Fields[] = {
    platform::Nested(Srb::Shape), platform::U32(6), platform::U32(16), platform::U32(4), platform::U32(),
    platform::U32(), platform::U32(), platform::U32(), platform::U32(), platform::U8(1),
};
static_assert(DescribesEveryField(Fields, DataBuffer));
inline constexpr platform::StructShape Shape{Fields};
}  // namespace NvmeMini

constexpr platform::Layout ScsiPassThroughLayout(PointerWidth width = ProcessWidth) { return {Spt::Shape, width}; }
constexpr platform::Layout AtaPassThroughLayout(PointerWidth width = ProcessWidth) { return {Aptd::Shape, width}; }
constexpr platform::Layout BufferedScsiLayout(PointerWidth width = ProcessWidth) {
    return {ScsiRequest::Buffered, width};
}
constexpr platform::Layout DirectScsiLayout(PointerWidth width = ProcessWidth) { return {ScsiRequest::Direct, width}; }

// The layouts no pointer reaches: one for both widths.
static_assert(platform::SameInBothWidths(Spc::Shape) && platform::SameInBothWidths(Spq::WithProtocolData) &&
              platform::SameInBothWidths(Spdd::Shape) && platform::SameInBothWidths(NvmeMini::Shape));
inline constexpr platform::Layout ProtocolCommandLayout{Spc::Shape, ProcessWidth};
inline constexpr platform::Layout ProtocolSpecificLayout{Psd::Shape, ProcessWidth};
inline constexpr platform::Layout PropertyQueryLayout{Spq::WithProtocolData, ProcessWidth};
inline constexpr platform::Layout ProtocolDescriptorLayout{Spdd::Shape, ProcessWidth};
inline constexpr platform::Layout MiniportLayout{NvmeMini::Shape, ProcessWidth};
inline constexpr platform::Layout SrbLayout{Srb::Shape, ProcessWidth};

}  // namespace devicecmd
