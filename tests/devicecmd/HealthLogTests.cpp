// The health log: its request on each path in both pointer widths (written out from the
// system's and the NVMe definitions), what each path's sender does with replies, and the
// decoding of the page.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Exchanges.h"
#include "ScriptedDeviceIo.h"
#include "devicecmd/HealthDecode.h"
#include "devicecmd/HealthLog.h"
#include "devicecmd/Requests.h"

namespace devicecmd_test {
namespace {

using namespace devicecmd;
using platform::PointerWidth;

constexpr std::uint32_t ErrorIoDevice = 1117;
constexpr std::uint32_t ErrorInvalidData = 13;

enum class Path { Inbox, Miniport, Bridge };
const char* NameOf(Path path) {
    switch (path) {
        case Path::Inbox: return "inbox";
        case Path::Miniport: return "miniport";
        default: return "bridge";
    }
}
std::uint8_t CodeOf(Path path) {
    switch (path) {
        case Path::Inbox: return TransportNvmeInbox;
        case Path::Miniport: return TransportNvmeMiniport;
        default: return TransportUsbBridge;
    }
}

// The requests a process of this width hands the system for the log, in order.
std::vector<Bytes> HealthRequests(Path path, PointerWidth width) {
    const auto command = BuildHealthLogCommand().Bytes();
    switch (path) {
        case Path::Inbox: {
            const std::vector<std::uint8_t> query = BuildHealthLogQuery();
            return {Bytes(query.begin(), query.end())};
        }
        case Path::Miniport: {
            const auto sizes = MiniportSizesFor(DirectionRead, HealthLogSize);
            const auto request = BuildMiniportRequest(command.data(), 64, nullptr, HealthLogSize, DirectionRead, 0,
                                                      NvmeTimeoutSeconds, *sizes);
            return {Bytes(request.begin(), request.end())};
        }
        default: {
            const auto block = BuildBridgeBlock(BuildHealthLogCommand());
            const auto out = BuildBridgeCdb(true, BridgePhaseCommandOut, 512);
            const auto in = BuildBridgeCdb(true, BridgePhaseDataIn, HealthLogSize);
            const auto response = BuildBridgeCdb(true, BridgePhaseResponseIn, 512);
            auto scsi = [&](const std::array<std::uint8_t, BridgeCdbLength>& cdb, ScsiDataDirection direction,
                            const std::uint8_t* data, std::uint32_t length) {
                const auto request = BuildScsiRequest(cdb.data(), BridgeCdbLength, direction, data, length,
                                                      NvmeTimeoutSeconds, width);
                return Bytes(request.begin(), request.end());
            };
            return {scsi(out, ScsiDataOut, block.data(), 512), scsi(in, ScsiDataIn, nullptr, HealthLogSize),
                    scsi(response, ScsiDataIn, nullptr, 512)};
        }
    }
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct ByteRow {
    Path path;
    std::size_t request;  // which request of the exchange
    const char* field;
    std::size_t at32;
    std::size_t at64;
    Bytes value;
};

const std::vector<ByteRow>& RequestTable() {
    static const std::vector<ByteRow> table = {
        // STORAGE_PROPERTY_QUERY + STORAGE_PROTOCOL_SPECIFIC_DATA: no pointer, one layout.
        {Path::Inbox, 0, "PropertyId StorageDeviceProtocolSpecificProperty", 0, 0, Le32(50)},
        {Path::Inbox, 0, "QueryType PropertyStandardQuery", 4, 4, Le32(0)},
        {Path::Inbox, 0, "ProtocolType NVMe", 8, 8, Le32(3)},
        {Path::Inbox, 0, "DataType NVMeDataTypeLogPage", 12, 12, Le32(2)},
        {Path::Inbox, 0, "ProtocolDataRequestValue: log page 2", 16, 16, Le32(2)},
        {Path::Inbox, 0, "ProtocolDataRequestSubValue: offset 0", 20, 20, Le32(0)},
        {Path::Inbox, 0, "ProtocolDataOffset: size of the specific data", 24, 24, Le32(40)},
        {Path::Inbox, 0, "ProtocolDataLength", 28, 28, Le32(512)},
        {Path::Inbox, 0, "remaining fields", 32, 32, Fill(16, 0)},
        // SRB_IO_CONTROL + "NvmeMini" body: no pointer, one layout.
        {Path::Miniport, 0, "HeaderLength", 0, 0, Le32(28)},
        {Path::Miniport, 0, "Signature", 4, 4, Hex("4E 76 6D 65 4D 69 6E 69")},
        {Path::Miniport, 0, "Timeout", 12, 12, Le32(30)},
        {Path::Miniport, 0, "ControlCode", 16, 16, Le32(0xE0002000)},
        {Path::Miniport, 0, "Length: request size - 28", 24, 24, Le32(125)},
        {Path::Miniport, 0, "CDW0 opcode Get Log Page", 52, 52, Le32(0x02)},
        {Path::Miniport, 0, "NSID", 56, 56, Le32(0xFFFFFFFF)},
        {Path::Miniport, 0, "CDW10: LID 2, NUMDL 127", 92, 92, Le32(0x007F0002)},
        {Path::Miniport, 0, "CDW11 to CDW15", 96, 96, Fill(20, 0)},
        {Path::Miniport, 0, "direction: read", 132, 132, Le32(2)},
        {Path::Miniport, 0, "queue: admin", 136, 136, Le32(0)},
        {Path::Miniport, 0, "data length", 140, 140, Le32(512)},
        {Path::Miniport, 0, "reply buffer length", 148, 148, Le32(664)},
        // Buffered SCSI_PASS_THROUGH: the pointer-sized DataBufferOffset moves what follows.
        {Path::Bridge, 0, "Length", 0, 0, Le16(0)},  // replaced below by the width's size
        {Path::Bridge, 0, "CdbLength, SenseInfoLength, DataIn out", 6, 6, Hex("0C 18 00")},
        {Path::Bridge, 0, "DataTransferLength", 12, 12, Le32(512)},
        {Path::Bridge, 0, "TimeOutValue", 16, 16, Le32(30)},
        {Path::Bridge, 0, "DataBufferOffset", 20, 24, Le32(0)},  // replaced below
        {Path::Bridge, 0, "CDB: command block out", 28, 36, Hex("A1 80 00 00 02 00 00 00 00 00 00 00")},
        {Path::Bridge, 0, "block signature", 80, 92, Hex("4E 56 4D 45")},
        {Path::Bridge, 0, "block CDW0 opcode", 88, 100, Le32(0x02)},
        {Path::Bridge, 0, "block NSID", 92, 104, Le32(0xFFFFFFFF)},
        {Path::Bridge, 0, "block CDW10 to CDW15", 128, 140, Cat(Hex("02 00 7F 00"), Fill(20, 0))},
        {Path::Bridge, 1, "DataIn in", 8, 8, Hex("01")},
        {Path::Bridge, 1, "DataTransferLength", 12, 12, Le32(512)},
        {Path::Bridge, 1, "CDB: data in, 512 bytes", 28, 36, Hex("A1 82 00 00 02 00 00 00 00 00 00 00")},
        {Path::Bridge, 2, "CDB: response block in", 28, 36, Hex("A1 8F 00 00 02 00 00 00 00 00 00 00")},
    };
    return table;
}

TEST(HealthLogRequest, BytesOnEachPathInBothWidths) {
    struct Size {
        Path path;
        std::size_t size32;
        std::size_t size64;
    };
    for (const Size& s : {Size{Path::Inbox, 560, 560}, Size{Path::Miniport, 153, 153}, Size{Path::Bridge, 67664, 67680}}) {
        EXPECT_EQ(HealthRequests(s.path, PointerWidth::Bits32)[0].size(), s.size32) << NameOf(s.path);
        EXPECT_EQ(HealthRequests(s.path, PointerWidth::Bits64)[0].size(), s.size64) << NameOf(s.path);
    }
    for (const PointerWidth width : {PointerWidth::Bits32, PointerWidth::Bits64}) {
        const bool wide = width == PointerWidth::Bits64;
        for (const ByteRow& row : RequestTable()) {
            const std::vector<Bytes> requests = HealthRequests(row.path, width);
            ASSERT_LT(row.request, requests.size());
            const Bytes& request = requests[row.request];
            Bytes value = row.value;
            if (row.path == Path::Bridge && std::string(row.field) == "Length") value = Le16(wide ? 56 : 44);
            if (std::string(row.field) == "DataBufferOffset") value = LeN(wide ? 92 : 80, wide ? 8 : 4);
            const std::size_t at = wide ? row.at64 : row.at32;
            ASSERT_LE(at + value.size(), request.size()) << NameOf(row.path) << " " << row.field;
            EXPECT_EQ(ToHex(Bytes(request.begin() + at, request.begin() + at + value.size())), ToHex(value))
                << NameOf(row.path) << " request " << row.request << " " << row.field << " at " << at << ", "
                << (wide ? 64 : 32) << "-bit";
        }
    }
}

// The log with a recognisable pattern; byte 0 (critical warning) 0.
Bytes SampleLog() {
    Bytes log = Pattern(512, 3);
    log[0] = 0;
    return log;
}

// What ReadHealthLog hands the system in this process is what the table above describes.
TEST(ReadHealthLog, SendsTheTabledRequestsAndDeliversTheWholeLog) {
    for (const Path path : {Path::Inbox, Path::Miniport, Path::Bridge}) {
        SCOPED_TRACE(NameOf(path));
        ScriptedDeviceIo io;
        const Bytes log = SampleLog();
        if (path == Path::Inbox) {
            io.On(IoctlStorageQueryProperty).ReplyU32(0, 48).ReplyU32(4, 48).ReplyU32(24, 40).ReplyU32(28, 512)
                .Reply(48, log);
        } else {
            ExpectNvmeExchange(io, CodeOf(path), {0x02, 0x007F0002, 0, DirectionRead, log});
        }
        HealthLogBytes out{};
        ASSERT_EQ(ReadHealthLog(io.Device(), MakeTransport(CodeOf(path), 5), out), 1);
        EXPECT_EQ(ToHex(Bytes(out.begin(), out.end())), ToHex(log));
        const std::vector<Bytes> expected = HealthRequests(path, platform::ProcessWidth);
        ASSERT_EQ(io.Calls().size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            Bytes sent = io.Calls()[i].request;
            Bytes wanted = expected[i];
            // The bridge's buffered requests carry data room the sender may size itself.
            sent.resize(std::min(sent.size(), wanted.size()));
            EXPECT_EQ(sent.size(), wanted.size());
            EXPECT_TRUE(sent == wanted) << "request " << i << " differs";
        }
    }
}

// A refusal or a reply that misses part of the 512 bytes: no log, and the caller's area
// is left as it was (never half a log shown as values).
TEST(ReadHealthLog, RefusedOrShortRepliesDeliverNothing) {
    struct Case {
        const char* name;
        Path path;
        std::uint32_t error;  // the last error left
    };
    const Case cases[] = {
        {"inbox: the driver refuses the query", Path::Inbox, ErrorIoDevice},
        {"inbox: the descriptor names 256 bytes", Path::Inbox, ErrorInvalidData},
        {"inbox: the count stops inside the data", Path::Inbox, ErrorInvalidData},
        {"miniport: the completion carries an error status", Path::Miniport, 0},
        {"miniport: the count stops inside the data", Path::Miniport, ErrorInvalidData},
        {"bridge: the response carries an error status", Path::Bridge, 0},
        {"bridge: the data phase moved 256 bytes", Path::Bridge, ErrorInvalidData},
    };
    const Bytes log = SampleLog();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name;
        ScriptedDeviceIo io;
        switch (c.path) {
            case Path::Inbox: {
                auto& step = io.On(IoctlStorageQueryProperty);
                if (name.find("refuses") != std::string::npos) {
                    step.Fail(ErrorIoDevice);
                } else {
                    step.ReplyU32(0, 48).ReplyU32(4, 48).ReplyU32(24, 40).Reply(48, log);
                    if (name.find("256") != std::string::npos) step.ReplyU32(28, 256);
                    else step.ReplyU32(28, 512).Returned(48 + 300);
                }
                break;
            }
            case Path::Miniport: {
                auto& step = io.On(IoctlScsiMiniport).Reply(MiniportDataAt, log);
                if (name.find("status") != std::string::npos) step.ReplyU32(116 + 12, (0x109u << 17) | (1u << 16));
                else step.Returned(152 + 100);
                break;
            }
            case Path::Bridge:
                io.On(IoctlScsiPassThrough);
                if (name.find("status") != std::string::npos) {
                    io.On(IoctlScsiPassThrough).Reply(ScsiDataAt, log);
                    io.On(IoctlScsiPassThrough).Reply(ScsiDataAt, Hex("4E 56 4D 45")).ReplyU32(ScsiDataAt + 20,
                                                                                              0x109u << 17);
                } else {
                    io.On(IoctlScsiPassThrough).ReplyU32(12, 256).Reply(ScsiDataAt,
                                                                          Bytes(log.begin(), log.begin() + 256));
                }
                break;
        }
        HealthLogBytes out{};
        out.fill(0xEE);
        EXPECT_EQ(ReadHealthLog(io.Device(), MakeTransport(CodeOf(c.path)), out), 0);
        EXPECT_EQ(out[0], 0xEE);
        EXPECT_EQ(out[511], 0xEE);
        if (c.error != 0) {
            EXPECT_EQ(io.LastError(), c.error);
        }
    }
}

TEST(ReadHealthLog, AtaPathsAndUnknownCodesSendNothing) {
    for (const std::uint8_t code : {std::uint8_t{TransportSat}, std::uint8_t{TransportAta}, std::uint8_t{7}}) {
        ScriptedDeviceIo io;  // any call fails the test
        HealthLogBytes out{};
        EXPECT_EQ(ReadHealthLog(io.Device(), MakeTransport(code), out), 0) << int{code};
    }
}

// ---- decoding ----

Bytes PutLe(Bytes log, std::size_t at, const Bytes& value) {
    std::copy(value.begin(), value.end(), log.begin() + static_cast<std::ptrdiff_t>(at));
    return log;
}

TEST(DecodeHealthLog, FieldsAsTheStandardLaysThemOut) {
    struct Case {
        const char* name;
        Bytes log;
        std::uint8_t warning;
        std::optional<int> celsius;
        std::uint8_t spare, threshold, used;
        std::string unitsWritten;  // decimal
        std::string powerOnHours;
        std::uint8_t groupWarning = 0;  // byte 6
        bool warns = false;             // HasCriticalWarning: what exit 8 and the red line follow
    };
    Bytes base(512, 0);
    base[1] = 0x37, base[2] = 0x01;  // 311 K
    base[3] = 100, base[4] = 10, base[5] = 3;
    base = PutLe(base, 48, Le32(9876543));
    base = PutLe(base, 128, Le32(1873));
    auto with = [&](std::size_t at, const Bytes& value) { return PutLe(base, at, value); };
    const Case cases[] = {
        {"healthy", base, 0, 38, 100, 10, 3, "9876543", "1873"},
        {"spare below threshold", with(0, Hex("01 37 01 05 0A")), 0x01, 38, 5, 10, 3, "9876543", "1873", 0, true},
        {"temperature outside a threshold", with(0, Hex("02 66 01")), 0x02, 85, 100, 10, 3, "9876543", "1873", 0,
         true},
        {"reliability degraded", with(0, Hex("04")), 0x04, 38, 100, 10, 3, "9876543", "1873", 0, true},
        {"read-only media", with(0, Hex("08")), 0x08, 38, 100, 10, 3, "9876543", "1873", 0, true},
        {"volatile memory backup failed", with(0, Hex("10")), 0x10, 38, 100, 10, 3, "9876543", "1873", 0, true},
        {"persistent memory read-only", with(0, Hex("20")), 0x20, 38, 100, 10, 3, "9876543", "1873", 0, true},
        {"every bit", with(0, Hex("3F")), 0x3F, 38, 100, 10, 3, "9876543", "1873", 0, true},
        {"reserved bit alone", with(0, Hex("40")), 0x40, 38, 100, 10, 3, "9876543", "1873", 0, true},
        // Byte 6, the endurance group summary: a warning with byte 0 clear.
        {"endurance group spare", with(6, Hex("01")), 0, 38, 100, 10, 3, "9876543", "1873", 0x01, true},
        {"endurance group reliability degraded", with(6, Hex("04")), 0, 38, 100, 10, 3, "9876543", "1873", 0x04,
         true},
        {"endurance group read-only", with(6, Hex("08")), 0, 38, 100, 10, 3, "9876543", "1873", 0x08, true},
        {"endurance group reserved bit", with(6, Hex("10")), 0, 38, 100, 10, 3, "9876543", "1873", 0x10, true},
        // The spare against its threshold, bit 0 clear.
        {"spare under the threshold, bit 0 clear", with(3, Hex("09 0A")), 0, 38, 9, 10, 3, "9876543", "1873", 0,
         true},
        {"spare at the threshold", with(3, Hex("0A 0A")), 0, 38, 10, 10, 3, "9876543", "1873", 0, false},
        {"no threshold set", with(3, Hex("00 00")), 0, 38, 0, 0, 3, "9876543", "1873", 0, false},
        {"temperature 0: not reported", with(1, Hex("00 00")), 0, std::nullopt, 100, 10, 3, "9876543", "1873"},
        {"below freezing", with(1, Hex("0C 01")), 0, -5, 100, 10, 3, "9876543", "1873"},
        {"percentage used 255", with(5, Hex("FF")), 0, 38, 100, 10, 255, "9876543", "1873"},
        {"counters above 2^64", PutLe(with(48, Hex("05 00 00 00 00 00 00 00 01")), 128, Fill(16, 0xFF)), 0, 38, 100,
         10, 3, "18446744073709551621", "340282366920938463463374607431768211455"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<DriveHealth> health = DecodeHealthLog(c.log.data(), c.log.size());
        ASSERT_TRUE(health);
        EXPECT_EQ(health->criticalWarning, c.warning);
        EXPECT_EQ(health->enduranceGroupWarning, c.groupWarning);
        EXPECT_EQ(health->HasCriticalWarning(), c.warns);
        EXPECT_EQ(health->TemperatureCelsius(), c.celsius);
        EXPECT_EQ(health->availableSpare, c.spare);
        EXPECT_EQ(health->availableSpareThreshold, c.threshold);
        EXPECT_EQ(health->percentageUsed, c.used);
        EXPECT_EQ(ToDecimal(health->dataUnitsWritten), c.unitsWritten);
        EXPECT_EQ(ToDecimal(health->powerOnHours), c.powerOnHours);
    }
    EXPECT_FALSE(DecodeHealthLog(base.data(), 511));
    EXPECT_FALSE(DecodeHealthLog(nullptr, 512));
}

TEST(DecodeHealthLog, EveryCounterAtItsOffset) {
    Bytes log(512, 0);
    const std::size_t offsets[] = {32, 48, 64, 80, 96, 112, 128, 144, 160, 176};
    for (std::size_t i = 0; i < std::size(offsets); ++i) log[offsets[i]] = static_cast<std::uint8_t>(i + 1);
    log = PutLe(log, 192, Le32(37));
    log = PutLe(log, 196, Le32(4));
    const DriveHealth h = *DecodeHealthLog(log.data(), log.size());
    const U128 counters[] = {h.dataUnitsRead,   h.dataUnitsWritten, h.hostReadCommands, h.hostWriteCommands,
                             h.controllerBusyMinutes, h.powerCycles, h.powerOnHours, h.unsafeShutdowns,
                             h.mediaErrors,     h.errorLogEntries};
    for (std::size_t i = 0; i < std::size(counters); ++i) EXPECT_EQ(counters[i], (U128{i + 1, 0})) << offsets[i];
    EXPECT_EQ(h.warningTemperatureMinutes, 37u);
    EXPECT_EQ(h.criticalTemperatureMinutes, 4u);
}

TEST(U128, DecimalDigitsAndBytesOfDataUnits) {
    struct Case {
        U128 value;
        std::string decimal;
        std::string bytes;  // value * 512,000
    };
    const Case cases[] = {
        {{0, 0}, "0", "0"},
        {{1, 0}, "1", "512000"},
        {{9876543, 0}, "9876543", "5056790016000"},
        {{0xFFFFFFFFFFFFFFFFull, 0}, "18446744073709551615", "9444732965739290426880000"},
        {{0, 1}, "18446744073709551616", "9444732965739290427392000"},
        {{0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull}, "340282366920938463463374607431768211455",
         "174224571863520493293247799005065324264960000"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToDecimal(c.value), c.decimal);
        EXPECT_EQ(DataUnitsToBytesDecimal(c.value), c.bytes) << c.decimal;
    }
    EXPECT_DOUBLE_EQ(ToDouble({0, 1}), 18446744073709551616.0);
}

}  // namespace
}  // namespace devicecmd_test
