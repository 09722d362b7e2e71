#pragma once
// The system structures whose layout moves with the pointer width, as the simulated
// drivers read them. Described here from the system's own definitions, apart from the
// device layer's descriptions, so that the two sides do not share a mistake; the stacks
// judge a request by the layout of the width they run in, as a driver does for a
// caller of its own width.

#include <cstddef>
#include <cstdint>

#include "platform/StructLayout.h"

namespace sim {

// SRB_IO_CONTROL, the same in both widths, which the miniport's "NvmeMini" and RST's
// "IntelNvm" requests both begin with.
enum SrbIoControlOffset : std::uint32_t {
    SrbHeaderLength = 0,
    SrbSignature = 4,
    SrbTimeout = 12,
    SrbControlCode = 16,
    SrbReturnCode = 20,
    SrbLength = 24,
    SrbHeadSize = 28,
};

// SCSI_PASS_THROUGH and SCSI_PASS_THROUGH_DIRECT: DataBuffer is ULONG_PTR DataBufferOffset
// in one and PVOID DataBuffer in the other.
namespace SimSpt {
enum Field : std::size_t {
    Length, ScsiStatus, PathId, TargetId, Lun, CdbLength, SenseInfoLength, DataIn,
    DataTransferLength, TimeOutValue, DataBuffer, SenseInfoOffset, Cdb,
};
inline constexpr platform::Field Fields[] = {
    platform::U16(), platform::U8(),  platform::U8(),  platform::U8(),      platform::U8(),
    platform::U8(),  platform::U8(),  platform::U8(),  platform::U32(),     platform::U32(),
    platform::Pointer(), platform::U32(), platform::U8(16),
};
static_assert(Cdb + 1 == sizeof Fields / sizeof Fields[0]);
inline constexpr platform::StructShape Shape{Fields};
}  // namespace SimSpt

// ATA_PASS_THROUGH_DIRECT.
namespace SimAptd {
enum Field : std::size_t {
    Length, AtaFlags, PathId, TargetId, Lun, ReservedAsUchar, DataTransferLength, TimeOutValue,
    ReservedAsUlong, DataBuffer, PreviousTaskFile, CurrentTaskFile,
};
inline constexpr platform::Field Fields[] = {
    platform::U16(), platform::U16(), platform::U8(),  platform::U8(),      platform::U8(),   platform::U8(),
    platform::U32(), platform::U32(), platform::U32(), platform::Pointer(), platform::U8(8), platform::U8(8),
};
static_assert(CurrentTaskFile + 1 == sizeof Fields / sizeof Fields[0]);
inline constexpr platform::StructShape Shape{Fields};
}  // namespace SimAptd

inline constexpr platform::Layout ScsiPassThroughLayout{SimSpt::Shape, platform::ProcessWidth};
inline constexpr platform::Layout AtaPassThroughLayout{SimAptd::Shape, platform::ProcessWidth};

}  // namespace sim
