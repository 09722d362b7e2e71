// Every structure layout the device layer and the simulated drivers use, against the
// system headers' own definitions (offsetof and sizeof as this compiler lays them out):
// the 32-bit build checks the 32-bit layouts, the 64-bit build the 64-bit ones.

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "devicecmd/Layouts.h"
#include "sim/SimLayouts.h"

namespace {

using platform::PointerWidth;
using platform::ProcessWidth;

struct Check {
    std::string what;
    std::size_t described;
    std::size_t system;
};

#define FIELD(shape, width, id, type, member) \
    Check { #type "." #member, platform::OffsetOf(shape, id, width), offsetof(type, member) }
#define SIZE(shape, width, type) \
    Check { "sizeof " #type, platform::SizeOf(shape, width), sizeof(type) }

void ExpectAll(const std::vector<Check>& checks) {
    for (const Check& c : checks) EXPECT_EQ(c.described, c.system) << c.what;
}

// The program's SCSI requests as a C compiler lays them out around the system's header.
template <typename Header>
struct BufferedScsiRequest {
    Header header;
    ULONG filler;
    UCHAR sense[32];
    UCHAR data[67584];
};
template <typename Header>
struct DirectScsiRequest {
    Header header;
    ULONG filler;
    UCHAR sense[32];
};
// The query the layer sends: the property query's two words, then the protocol-specific data.
struct PropertyQueryWithProtocolData {
    STORAGE_PROPERTY_ID PropertyId;
    STORAGE_QUERY_TYPE QueryType;
    STORAGE_PROTOCOL_SPECIFIC_DATA ProtocolSpecific;
};

TEST(SystemLayouts, DeviceLayerMatchesTheSystemHeaders) {
    namespace d = devicecmd;
    const PointerWidth w = ProcessWidth;
    ExpectAll({
        SIZE(d::Spt::Shape, w, SCSI_PASS_THROUGH),
        FIELD(d::Spt::Shape, w, d::Spt::Length, SCSI_PASS_THROUGH, Length),
        FIELD(d::Spt::Shape, w, d::Spt::ScsiStatus, SCSI_PASS_THROUGH, ScsiStatus),
        FIELD(d::Spt::Shape, w, d::Spt::PathId, SCSI_PASS_THROUGH, PathId),
        FIELD(d::Spt::Shape, w, d::Spt::TargetId, SCSI_PASS_THROUGH, TargetId),
        FIELD(d::Spt::Shape, w, d::Spt::Lun, SCSI_PASS_THROUGH, Lun),
        FIELD(d::Spt::Shape, w, d::Spt::CdbLength, SCSI_PASS_THROUGH, CdbLength),
        FIELD(d::Spt::Shape, w, d::Spt::SenseInfoLength, SCSI_PASS_THROUGH, SenseInfoLength),
        FIELD(d::Spt::Shape, w, d::Spt::DataIn, SCSI_PASS_THROUGH, DataIn),
        FIELD(d::Spt::Shape, w, d::Spt::DataTransferLength, SCSI_PASS_THROUGH, DataTransferLength),
        FIELD(d::Spt::Shape, w, d::Spt::TimeOutValue, SCSI_PASS_THROUGH, TimeOutValue),
        FIELD(d::Spt::Shape, w, d::Spt::DataBuffer, SCSI_PASS_THROUGH, DataBufferOffset),
        FIELD(d::Spt::Shape, w, d::Spt::SenseInfoOffset, SCSI_PASS_THROUGH, SenseInfoOffset),
        FIELD(d::Spt::Shape, w, d::Spt::Cdb, SCSI_PASS_THROUGH, Cdb),
        SIZE(d::Spt::Shape, w, SCSI_PASS_THROUGH_DIRECT),
        FIELD(d::Spt::Shape, w, d::Spt::DataBuffer, SCSI_PASS_THROUGH_DIRECT, DataBuffer),
        FIELD(d::Spt::Shape, w, d::Spt::SenseInfoOffset, SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset),
        FIELD(d::Spt::Shape, w, d::Spt::Cdb, SCSI_PASS_THROUGH_DIRECT, Cdb),

        SIZE(d::ScsiRequest::Buffered, w, BufferedScsiRequest<SCSI_PASS_THROUGH>),
        FIELD(d::ScsiRequest::Buffered, w, d::ScsiRequest::Filler, BufferedScsiRequest<SCSI_PASS_THROUGH>, filler),
        FIELD(d::ScsiRequest::Buffered, w, d::ScsiRequest::Sense, BufferedScsiRequest<SCSI_PASS_THROUGH>, sense),
        FIELD(d::ScsiRequest::Buffered, w, d::ScsiRequest::Data, BufferedScsiRequest<SCSI_PASS_THROUGH>, data),
        SIZE(d::ScsiRequest::Direct, w, DirectScsiRequest<SCSI_PASS_THROUGH_DIRECT>),
        FIELD(d::ScsiRequest::Direct, w, d::ScsiRequest::Filler, DirectScsiRequest<SCSI_PASS_THROUGH_DIRECT>, filler),
        FIELD(d::ScsiRequest::Direct, w, d::ScsiRequest::Sense, DirectScsiRequest<SCSI_PASS_THROUGH_DIRECT>, sense),

        SIZE(d::Aptd::Shape, w, ATA_PASS_THROUGH_DIRECT),
        FIELD(d::Aptd::Shape, w, d::Aptd::Length, ATA_PASS_THROUGH_DIRECT, Length),
        FIELD(d::Aptd::Shape, w, d::Aptd::AtaFlags, ATA_PASS_THROUGH_DIRECT, AtaFlags),
        FIELD(d::Aptd::Shape, w, d::Aptd::PathId, ATA_PASS_THROUGH_DIRECT, PathId),
        FIELD(d::Aptd::Shape, w, d::Aptd::ReservedAsUchar, ATA_PASS_THROUGH_DIRECT, ReservedAsUchar),
        FIELD(d::Aptd::Shape, w, d::Aptd::DataTransferLength, ATA_PASS_THROUGH_DIRECT, DataTransferLength),
        FIELD(d::Aptd::Shape, w, d::Aptd::TimeOutValue, ATA_PASS_THROUGH_DIRECT, TimeOutValue),
        FIELD(d::Aptd::Shape, w, d::Aptd::ReservedAsUlong, ATA_PASS_THROUGH_DIRECT, ReservedAsUlong),
        FIELD(d::Aptd::Shape, w, d::Aptd::DataBuffer, ATA_PASS_THROUGH_DIRECT, DataBuffer),
        FIELD(d::Aptd::Shape, w, d::Aptd::PreviousTaskFile, ATA_PASS_THROUGH_DIRECT, PreviousTaskFile),
        FIELD(d::Aptd::Shape, w, d::Aptd::CurrentTaskFile, ATA_PASS_THROUGH_DIRECT, CurrentTaskFile),

        SIZE(d::Psd::Shape, w, STORAGE_PROTOCOL_SPECIFIC_DATA),
        FIELD(d::Psd::Shape, w, d::Psd::ProtocolType, STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolType),
        FIELD(d::Psd::Shape, w, d::Psd::DataType, STORAGE_PROTOCOL_SPECIFIC_DATA, DataType),
        FIELD(d::Psd::Shape, w, d::Psd::ProtocolDataRequestValue, STORAGE_PROTOCOL_SPECIFIC_DATA,
              ProtocolDataRequestValue),
        FIELD(d::Psd::Shape, w, d::Psd::ProtocolDataRequestSubValue, STORAGE_PROTOCOL_SPECIFIC_DATA,
              ProtocolDataRequestSubValue),
        FIELD(d::Psd::Shape, w, d::Psd::ProtocolDataOffset, STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataOffset),
        FIELD(d::Psd::Shape, w, d::Psd::ProtocolDataLength, STORAGE_PROTOCOL_SPECIFIC_DATA, ProtocolDataLength),
        FIELD(d::Psd::Shape, w, d::Psd::FixedProtocolReturnData, STORAGE_PROTOCOL_SPECIFIC_DATA,
              FixedProtocolReturnData),
        FIELD(d::Psd::Shape, w, d::Psd::ProtocolDataRequestSubValue4, STORAGE_PROTOCOL_SPECIFIC_DATA,
              ProtocolDataRequestSubValue4),
        SIZE(d::Spq::Shape, w, STORAGE_PROPERTY_QUERY),
        FIELD(d::Spq::Shape, w, d::Spq::QueryType, STORAGE_PROPERTY_QUERY, QueryType),
        FIELD(d::Spq::Shape, w, d::Spq::AdditionalParameters, STORAGE_PROPERTY_QUERY, AdditionalParameters),
        SIZE(d::Spq::WithProtocolData, w, PropertyQueryWithProtocolData),
        FIELD(d::Spq::WithProtocolData, w, d::Spq::AdditionalParameters, PropertyQueryWithProtocolData,
              ProtocolSpecific),
        SIZE(d::Spdd::Shape, w, STORAGE_PROTOCOL_DATA_DESCRIPTOR),
        FIELD(d::Spdd::Shape, w, d::Spdd::Size, STORAGE_PROTOCOL_DATA_DESCRIPTOR, Size),
        FIELD(d::Spdd::Shape, w, d::Spdd::ProtocolSpecificData, STORAGE_PROTOCOL_DATA_DESCRIPTOR,
              ProtocolSpecificData),

        SIZE(d::Srb::Shape, w, SRB_IO_CONTROL),
        FIELD(d::Srb::Shape, w, d::Srb::Signature, SRB_IO_CONTROL, Signature),
        FIELD(d::Srb::Shape, w, d::Srb::Timeout, SRB_IO_CONTROL, Timeout),
        FIELD(d::Srb::Shape, w, d::Srb::ControlCode, SRB_IO_CONTROL, ControlCode),
        FIELD(d::Srb::Shape, w, d::Srb::ReturnCode, SRB_IO_CONTROL, ReturnCode),
        FIELD(d::Srb::Shape, w, d::Srb::Length, SRB_IO_CONTROL, Length),
        // The miniport request's head is the SRB_IO_CONTROL itself.
        Check{"NvmeMini request's first field", platform::OffsetOf(d::NvmeMini::Shape, d::NvmeMini::VendorSpecific, w),
              sizeof(SRB_IO_CONTROL)},
    });
    // STORAGE_PROTOCOL_COMMAND is not in these headers; its layout, which no pointer
    // reaches, is checked against its table in the device layer's own tests.
}

#ifdef _WIN64
// A 64-bit compile also knows the 32-bit caller's SCSI_PASS_THROUGH (for drivers that
// serve 32-bit processes): the other width, checked here too. The headers' *_DIRECT32
// forms declare their buffer as a plain pointer and so do not show the 32-bit layout.
TEST(SystemLayouts, ThirtyTwoBitPassThroughMatchesTheSystemsThunkingHeader) {
    namespace d = devicecmd;
    const PointerWidth w = PointerWidth::Bits32;
    ExpectAll({
        SIZE(d::Spt::Shape, w, SCSI_PASS_THROUGH32),
        FIELD(d::Spt::Shape, w, d::Spt::DataTransferLength, SCSI_PASS_THROUGH32, DataTransferLength),
        FIELD(d::Spt::Shape, w, d::Spt::DataBuffer, SCSI_PASS_THROUGH32, DataBufferOffset),
        FIELD(d::Spt::Shape, w, d::Spt::SenseInfoOffset, SCSI_PASS_THROUGH32, SenseInfoOffset),
        FIELD(d::Spt::Shape, w, d::Spt::Cdb, SCSI_PASS_THROUGH32, Cdb),
        SIZE(sim::SimSpt::Shape, w, SCSI_PASS_THROUGH32),
        FIELD(sim::SimSpt::Shape, w, sim::SimSpt::DataBuffer, SCSI_PASS_THROUGH32, DataBufferOffset),
        FIELD(sim::SimSpt::Shape, w, sim::SimSpt::SenseInfoOffset, SCSI_PASS_THROUGH32, SenseInfoOffset),
        FIELD(sim::SimSpt::Shape, w, sim::SimSpt::Cdb, SCSI_PASS_THROUGH32, Cdb),
    });
}
#endif

TEST(SystemLayouts, SimulatedDriversMatchTheSystemHeaders) {
    namespace s = sim;
    const PointerWidth w = ProcessWidth;
    ExpectAll({
        SIZE(s::SimSpt::Shape, w, SCSI_PASS_THROUGH),
        FIELD(s::SimSpt::Shape, w, s::SimSpt::ScsiStatus, SCSI_PASS_THROUGH, ScsiStatus),
        FIELD(s::SimSpt::Shape, w, s::SimSpt::CdbLength, SCSI_PASS_THROUGH, CdbLength),
        FIELD(s::SimSpt::Shape, w, s::SimSpt::SenseInfoLength, SCSI_PASS_THROUGH, SenseInfoLength),
        FIELD(s::SimSpt::Shape, w, s::SimSpt::DataIn, SCSI_PASS_THROUGH, DataIn),
        FIELD(s::SimSpt::Shape, w, s::SimSpt::DataTransferLength, SCSI_PASS_THROUGH, DataTransferLength),
        FIELD(s::SimSpt::Shape, w, s::SimSpt::TimeOutValue, SCSI_PASS_THROUGH, TimeOutValue),
        FIELD(s::SimSpt::Shape, w, s::SimSpt::DataBuffer, SCSI_PASS_THROUGH, DataBufferOffset),
        FIELD(s::SimSpt::Shape, w, s::SimSpt::SenseInfoOffset, SCSI_PASS_THROUGH, SenseInfoOffset),
        FIELD(s::SimSpt::Shape, w, s::SimSpt::Cdb, SCSI_PASS_THROUGH, Cdb),
        SIZE(s::SimSpt::Shape, w, SCSI_PASS_THROUGH_DIRECT),
        FIELD(s::SimSpt::Shape, w, s::SimSpt::DataBuffer, SCSI_PASS_THROUGH_DIRECT, DataBuffer),
        SIZE(s::SimAptd::Shape, w, ATA_PASS_THROUGH_DIRECT),
        FIELD(s::SimAptd::Shape, w, s::SimAptd::AtaFlags, ATA_PASS_THROUGH_DIRECT, AtaFlags),
        FIELD(s::SimAptd::Shape, w, s::SimAptd::DataTransferLength, ATA_PASS_THROUGH_DIRECT, DataTransferLength),
        FIELD(s::SimAptd::Shape, w, s::SimAptd::TimeOutValue, ATA_PASS_THROUGH_DIRECT, TimeOutValue),
        FIELD(s::SimAptd::Shape, w, s::SimAptd::DataBuffer, ATA_PASS_THROUGH_DIRECT, DataBuffer),
        FIELD(s::SimAptd::Shape, w, s::SimAptd::PreviousTaskFile, ATA_PASS_THROUGH_DIRECT, PreviousTaskFile),
        FIELD(s::SimAptd::Shape, w, s::SimAptd::CurrentTaskFile, ATA_PASS_THROUGH_DIRECT, CurrentTaskFile),
    });
}

}  // namespace
