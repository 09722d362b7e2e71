// The request layouts in both pointer widths, whatever width this test runs in: the
// tables are written out from the system's definitions, not from the layer's description.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedDeviceIo.h"
#include "devicecmd/IntelRst.h"
#include "devicecmd/Layouts.h"
#include "devicecmd/Requests.h"
#include "devicecmd/Transport.h"

namespace devicecmd_test {
namespace {

using namespace devicecmd;
using platform::PointerWidth;

struct FieldRow {
    const char* name;
    std::size_t field;
    std::uint32_t at32;
    std::uint32_t at64;
};
struct StructRow {
    const char* name;
    const platform::StructShape& shape;
    std::uint32_t size32;
    std::uint32_t size64;
    std::vector<FieldRow> fields;
};

const std::vector<StructRow>& StructTable() {
    static const std::vector<StructRow> table = {
        {"SCSI_PASS_THROUGH(_DIRECT)", Spt::Shape, 44, 56,
         {{"Length", Spt::Length, 0, 0},
          {"ScsiStatus", Spt::ScsiStatus, 2, 2},
          {"CdbLength", Spt::CdbLength, 6, 6},
          {"SenseInfoLength", Spt::SenseInfoLength, 7, 7},
          {"DataIn", Spt::DataIn, 8, 8},
          {"DataTransferLength", Spt::DataTransferLength, 12, 12},
          {"TimeOutValue", Spt::TimeOutValue, 16, 16},
          {"DataBuffer", Spt::DataBuffer, 20, 24},
          {"SenseInfoOffset", Spt::SenseInfoOffset, 24, 32},
          {"Cdb", Spt::Cdb, 28, 36}}},
        {"buffered SCSI request", ScsiRequest::Buffered, 67664, 67680,
         {{"header", ScsiRequest::Header, 0, 0},
          {"4 zero bytes", ScsiRequest::Filler, 44, 56},
          {"sense area", ScsiRequest::Sense, 48, 60},
          {"data area", ScsiRequest::Data, 80, 92}}},
        {"direct SCSI request", ScsiRequest::Direct, 80, 96,
         {{"4 zero bytes", ScsiRequest::Filler, 44, 56}, {"sense area", ScsiRequest::Sense, 48, 60}}},
        {"ATA_PASS_THROUGH_DIRECT", Aptd::Shape, 40, 48,
         {{"Length", Aptd::Length, 0, 0},
          {"AtaFlags", Aptd::AtaFlags, 2, 2},
          {"PathId", Aptd::PathId, 4, 4},
          {"DataTransferLength", Aptd::DataTransferLength, 8, 8},
          {"TimeOutValue", Aptd::TimeOutValue, 12, 12},
          {"ReservedAsUlong", Aptd::ReservedAsUlong, 16, 16},
          {"DataBuffer", Aptd::DataBuffer, 20, 24},
          {"PreviousTaskFile", Aptd::PreviousTaskFile, 24, 32},
          {"CurrentTaskFile", Aptd::CurrentTaskFile, 32, 40}}},
        {"STORAGE_PROTOCOL_COMMAND", Spc::Shape, 84, 84,
         {{"ReturnStatus", Spc::ReturnStatus, 16, 16},
          {"TimeOutValue", Spc::TimeOutValue, 40, 40},
          {"ErrorInfoOffset", Spc::ErrorInfoOffset, 44, 44},
          {"DataFromDeviceBufferOffset", Spc::DataFromDeviceBufferOffset, 52, 52},
          {"CommandSpecific", Spc::CommandSpecific, 56, 56},
          {"FixedProtocolReturnData", Spc::FixedProtocolReturnData, 64, 64},
          {"Command", Spc::Command, 80, 80}}},
        {"STORAGE_PROTOCOL_SPECIFIC_DATA", Psd::Shape, 40, 40,
         {{"ProtocolDataOffset", Psd::ProtocolDataOffset, 16, 16},
          {"ProtocolDataLength", Psd::ProtocolDataLength, 20, 20}}},
        {"STORAGE_PROPERTY_QUERY", Spq::Shape, 12, 12, {{"AdditionalParameters", Spq::AdditionalParameters, 8, 8}}},
        {"STORAGE_PROTOCOL_DATA_DESCRIPTOR", Spdd::Shape, 48, 48,
         {{"ProtocolSpecificData", Spdd::ProtocolSpecificData, 8, 8}}},
        {"SRB_IO_CONTROL", Srb::Shape, 28, 28,
         {{"Signature", Srb::Signature, 4, 4}, {"ReturnCode", Srb::ReturnCode, 20, 20}, {"Length", Srb::Length, 24, 24}}},
        {"NvmeMini request", NvmeMini::Shape, 156, 156,
         {{"Command", NvmeMini::Command, 52, 52},
          {"Completion", NvmeMini::Completion, 116, 116},
          {"Direction", NvmeMini::Direction, 132, 132},
          {"ReturnBufferLength", NvmeMini::ReturnBufferLength, 148, 148},
          {"DataBuffer", NvmeMini::DataBuffer, 152, 152}}},
        {"SCSI_ADDRESS", ScsiAddr::Shape, 8, 8,
         {{"PortNumber", ScsiAddr::PortNumber, 4, 4},
          {"PathId", ScsiAddr::PathId, 5, 5},
          {"TargetId", ScsiAddr::TargetId, 6, 6},
          {"Lun", ScsiAddr::Lun, 7, 7}}},
        {"NVME_PASS_THROUGH_PARAMETERS", RstParams::Shape, 132, 132,
         {{"Command", RstParams::Command, 0, 0},
          {"IsIOCommandSet", RstParams::IsIoCommandSet, 64, 64},
          {"Completion", RstParams::Completion, 68, 68},
          {"DataBufferOffset", RstParams::DataBufferOffset, 84, 84},
          {"DataBufferLength", RstParams::DataBufferLength, 88, 88},
          {"Reserved", RstParams::Reserved, 92, 92}}},
        {"NVME_IOCTL_PASS_THROUGH (IntelNvm)", RstRequest::Shape, 168, 168,
         {{"Version", RstRequest::Version, 28, 28},
          {"PathId", RstRequest::PathId, 29, 29},
          {"TargetId", RstRequest::TargetId, 30, 30},
          {"Lun", RstRequest::Lun, 31, 31},
          {"Parameters", RstRequest::Parameters, 32, 32},
          {"data (0xA4)", RstRequest::Data, 164, 164}}},
    };
    return table;
}

TEST(RequestLayouts, EveryStructureInBothWidths) {
    for (const StructRow& s : StructTable()) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(platform::SizeOf(s.shape, PointerWidth::Bits32), s.size32);
        EXPECT_EQ(platform::SizeOf(s.shape, PointerWidth::Bits64), s.size64);
        for (const FieldRow& f : s.fields) {
            EXPECT_EQ(platform::OffsetOf(s.shape, f.field, PointerWidth::Bits32), f.at32) << f.name;
            EXPECT_EQ(platform::OffsetOf(s.shape, f.field, PointerWidth::Bits64), f.at64) << f.name;
        }
    }
}

// Whole requests, byte for byte, as each width hands them to the driver.
TEST(RequestLayouts, DirectScsiRequestInBothWidths) {
    const Bytes cdb = Hex("A1 82 00 00 02 00 00 00 00 00 00 00");
    const auto build = [&](PointerWidth width, std::uint64_t address) {
        return BuildScsiDirectRequest(cdb.data(), 12, ScsiDataIn, address, 512, 10, width);
    };
    const Bytes sense = Fill(32, 0);
    const Bytes cdbField = Hex("A1 82 00 00 02 00 00 00 00 00 00 00 00 00 00 00");
    Bytes expected32 = Hex("2C 00 00 00 00 00 0C 18 01 00 00 00  00 02 00 00  0A 00 00 00  EF CD AB 89  30 00 00 00");
    expected32.insert(expected32.end(), cdbField.begin(), cdbField.end());
    expected32.insert(expected32.end(), 4, 0);
    expected32.insert(expected32.end(), sense.begin(), sense.end());
    EXPECT_EQ(ToHex(build(PointerWidth::Bits32, 0x89ABCDEF)), ToHex(expected32));

    Bytes expected64 = Hex(
        "38 00 00 00 00 00 0C 18 01 00 00 00  00 02 00 00  0A 00 00 00  00 00 00 00 "
        "EF CD AB 89 67 45 23 01  3C 00 00 00");
    expected64.insert(expected64.end(), cdbField.begin(), cdbField.end());
    expected64.insert(expected64.end(), 4 + 4, 0);  // the structure's tail padding, then the 4 zero bytes
    expected64.insert(expected64.end(), sense.begin(), sense.end());
    expected64.insert(expected64.end(), 4, 0);  // padding to a multiple of 8
    EXPECT_EQ(ToHex(build(PointerWidth::Bits64, 0x0123456789ABCDEF)), ToHex(expected64));
}

TEST(RequestLayouts, AtaRequestInBothWidths) {
    const auto build = [](PointerWidth width, std::uint64_t address) {
        return BuildAtaRequest(0xFC, 0x00D8, 0, address, 1, DirectionRead, 0xD0, 0xE0, width);
    };
    EXPECT_EQ(ToHex(build(PointerWidth::Bits32, 0x89ABCDEF)),
              ToHex(Hex("28 00 0A 00 00 00 00 00  00 02 00 00  0A 00 00 00  00 00 00 00  EF CD AB 89 "
                        "00 00 00 D8 00 00 00 00  D0 01 00 00 00 E0 FC 00")));
    EXPECT_EQ(ToHex(build(PointerWidth::Bits64, 0x0123456789ABCDEF)),
              ToHex(Hex("30 00 0A 00 00 00 00 00  00 02 00 00  0A 00 00 00  00 00 00 00  00 00 00 00 "
                        "EF CD AB 89 67 45 23 01  00 00 00 D8 00 00 00 00  D0 01 00 00 00 E0 FC 00")));
}

TEST(RequestLayouts, BufferedScsiRequestInBothWidths) {
    const Bytes cdb = Hex("A1 80 00 00 02 00 00 00 00 00 00 00");
    const Bytes data = Pattern(512);
    struct Case {
        PointerWidth width;
        std::size_t size;
        const char* head;  // up to the CDB
        std::size_t cdbAt;
        std::size_t dataAt;
    } cases[] = {
        {PointerWidth::Bits32, 67664, "2C 00 00 00 00 00 0C 18 00 00 00 00  00 02 00 00  07 00 00 00  50 00 00 00 "
                                      "30 00 00 00", 28, 80},
        {PointerWidth::Bits64, 67680, "38 00 00 00 00 00 0C 18 00 00 00 00  00 02 00 00  07 00 00 00  00 00 00 00 "
                                      "5C 00 00 00 00 00 00 00  3C 00 00 00", 36, 92},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const Bytes request = BuildScsiRequest(cdb.data(), 12, ScsiDataOut, data.data(), 512, 7, c.width);
        ASSERT_EQ(request.size(), c.size);
        const Bytes head = Hex(c.head);
        EXPECT_EQ(ToHex(Bytes(request.begin(), request.begin() + static_cast<std::ptrdiff_t>(head.size()))), ToHex(head));
        EXPECT_EQ(ToHex(Bytes(request.begin() + static_cast<std::ptrdiff_t>(c.cdbAt),
                              request.begin() + static_cast<std::ptrdiff_t>(c.cdbAt + 12))),
                  ToHex(cdb));
        // Between the CDB and the data nothing but zeros: rest of the CDB, padding, sense area.
        EXPECT_EQ(Bytes(request.begin() + static_cast<std::ptrdiff_t>(c.cdbAt + 12),
                        request.begin() + static_cast<std::ptrdiff_t>(c.dataAt)),
                  Fill(c.dataAt - c.cdbAt - 12, 0));
        EXPECT_EQ(Bytes(request.begin() + static_cast<std::ptrdiff_t>(c.dataAt),
                        request.begin() + static_cast<std::ptrdiff_t>(c.dataAt + 512)),
                  data);
    }
}

// The replies are read where each width's driver writes them.
TEST(RequestLayouts, RepliesAreJudgedWhereTheWidthPutsThem) {
    struct Case {
        PointerWidth width;
        std::size_t senseAt;
        std::size_t ataStatusAt;
    } cases[] = {{PointerWidth::Bits32, 48, 38}, {PointerWidth::Bits64, 60, 46}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.senseAt);
        Bytes reply(200, 0);
        EXPECT_TRUE(ScsiReplySucceeded(reply.data(), c.width));
        reply[c.senseAt + 2] = 0x05;
        EXPECT_FALSE(ScsiReplySucceeded(reply.data(), c.width));
        Bytes ata(64, 0);
        ata[c.ataStatusAt] = 0x50;
        EXPECT_TRUE(AtaReplySucceeded(ata.data(), c.width));
        ata[c.ataStatusAt] = 0x51;
        EXPECT_FALSE(AtaReplySucceeded(ata.data(), c.width));
    }
}

}  // namespace
}  // namespace devicecmd_test
