// The device self-test: the command (14h) and its log (06h) on each path in both pointer
// widths, written out from the system's and the NVMe definitions; the log's decoding; and
// what identify says about the test.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedDeviceIo.h"
#include "devicecmd/IntelRst.h"
#include "devicecmd/Requests.h"
#include "devicecmd/SelfTest.h"

namespace devicecmd_test {
namespace {

using namespace devicecmd;
using platform::PointerWidth;

enum class Path { Inbox, Miniport, Bridge, Rst };
enum class What { ShortTest, Log };

const char* NameOf(Path path) {
    switch (path) {
        case Path::Inbox: return "inbox";
        case Path::Miniport: return "miniport";
        case Path::Bridge: return "bridge";
        default: return "intel-rst";
    }
}

// The pass-through requests (in order) a process of this width hands the system.
std::vector<Bytes> Requests(What what, Path path, PointerWidth width) {
    const bool log = what == What::Log;
    const NvmeCommand command = log ? BuildSelfTestLogCommand() : BuildSelfTestCommand(SelfTestAction::Short);
    const auto bytes = command.Bytes();
    const std::uint32_t length = log ? SelfTestLogSize : 0;
    const std::uint8_t direction = log ? DirectionRead : DirectionNone;
    switch (path) {
        case Path::Inbox: {
            if (log) {
                const auto query = BuildSelfTestLogQuery();
                return {Bytes(query.begin(), query.end())};
            }
            const auto request = BuildProtocolCommandRequest(bytes.data(), 64, nullptr, 0, 0, DirectionNone, 0, 30);
            return {Bytes(request.begin(), request.end())};
        }
        case Path::Miniport: {
            const auto sizes = MiniportSizesFor(direction, length);
            const auto request = BuildMiniportRequest(bytes.data(), 64, nullptr, length, direction, 0, 30, *sizes);
            return {Bytes(request.begin(), request.end())};
        }
        case Path::Bridge: {
            const auto block = BuildBridgeBlock(command);
            auto scsi = [&](BridgePhase phase, std::uint32_t transfer, ScsiDataDirection dataDirection,
                            const std::uint8_t* data, std::uint32_t dataLength) {
                const auto cdb = BuildBridgeCdb(true, phase, transfer);
                const auto request =
                    BuildScsiRequest(cdb.data(), BridgeCdbLength, dataDirection, data, dataLength, 30, width);
                return Bytes(request.begin(), request.end());
            };
            const Bytes data = log ? scsi(BridgePhaseDataIn, length, ScsiDataIn, nullptr, length)
                                   : scsi(BridgePhaseNoData, 0, ScsiDataIn, nullptr, 0);
            return {scsi(BridgePhaseCommandOut, 512, ScsiDataOut, block.data(), 512), data,
                    scsi(BridgePhaseResponseIn, 512, ScsiDataIn, nullptr, 512)};
        }
        default: {
            const auto request = BuildRstRequest(bytes.data(), nullptr, length, direction, false, 30, {2, 1, 0, 0});
            return {Bytes(request.begin(), request.end())};
        }
    }
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct ByteRow {
    What what;
    Path path;
    std::size_t request;
    const char* field;
    std::size_t at32;
    std::size_t at64;
    Bytes value;
};

// Sizes of each request: {what, path, request, 32-bit, 64-bit}.
struct SizeRow {
    What what;
    Path path;
    std::size_t request;
    std::size_t size32;
    std::size_t size64;
};

const std::vector<SizeRow>& SizeTable() {
    static const std::vector<SizeRow> table = {
        {What::ShortTest, Path::Inbox, 0, 208, 208},      // head, command, error info, no data area
        {What::Log, Path::Inbox, 0, 48 + 564, 48 + 564},  // query and the page
        {What::ShortTest, Path::Miniport, 0, 153, 153},
        {What::Log, Path::Miniport, 0, 153, 153},         // the page comes back in the reply only
        {What::ShortTest, Path::Bridge, 1, 67664, 67680},
        {What::ShortTest, Path::Rst, 0, 164, 164},
        {What::Log, Path::Rst, 0, 164 + 564, 164 + 564},
    };
    return table;
}

const std::vector<ByteRow>& ByteTable() {
    const Bytes opcode14 = Le32(0x14);
    const Bytes opcode02 = Le32(0x02);
    const Bytes allNamespaces = Le32(0xFFFFFFFF);
    const Bytes shortTest = Le32(0x1);
    const Bytes logCdw10 = Le32(0x008C0006);  // log 06h, 141 dwords (zero-based 140)
    static const std::vector<ByteRow> table = {
        // STORAGE_PROTOCOL_COMMAND: no pointer, one layout.
        {What::ShortTest, Path::Inbox, 0, "Version", 0, 0, Le32(1)},
        {What::ShortTest, Path::Inbox, 0, "Length: the structure", 4, 4, Le32(84)},
        {What::ShortTest, Path::Inbox, 0, "ProtocolType NVMe", 8, 8, Le32(3)},
        {What::ShortTest, Path::Inbox, 0, "Flags: adapter request", 12, 12, Le32(0x80000000)},
        {What::ShortTest, Path::Inbox, 0, "CommandLength, ErrorInfoLength", 24, 24, Cat(Le32(64), Le32(64))},
        {What::ShortTest, Path::Inbox, 0, "no data either way", 32, 32, Cat(Le32(0), Le32(0))},
        {What::ShortTest, Path::Inbox, 0, "TimeOutValue", 40, 40, Le32(30)},
        {What::ShortTest, Path::Inbox, 0, "ErrorInfoOffset", 44, 44, Le32(144)},
        {What::ShortTest, Path::Inbox, 0, "no data offsets", 48, 48, Cat(Le32(0), Le32(0))},
        {What::ShortTest, Path::Inbox, 0, "CommandSpecific: admin command", 56, 56, Le32(1)},
        {What::ShortTest, Path::Inbox, 0, "CDW0 opcode 14h", 80, 80, opcode14},
        {What::ShortTest, Path::Inbox, 0, "NSID", 84, 84, allNamespaces},
        {What::ShortTest, Path::Inbox, 0, "CDW10: short test", 120, 120, shortTest},
        {What::ShortTest, Path::Inbox, 0, "CDW11 to CDW15", 124, 124, Fill(20, 0)},
        // STORAGE_PROPERTY_QUERY + STORAGE_PROTOCOL_SPECIFIC_DATA.
        {What::Log, Path::Inbox, 0, "PropertyId StorageDeviceProtocolSpecificProperty", 0, 0, Le32(50)},
        {What::Log, Path::Inbox, 0, "QueryType PropertyStandardQuery", 4, 4, Le32(0)},
        {What::Log, Path::Inbox, 0, "ProtocolType NVMe, DataType log page", 8, 8, Cat(Le32(3), Le32(2))},
        {What::Log, Path::Inbox, 0, "ProtocolDataRequestValue: log 06h", 16, 16, Le32(6)},
        {What::Log, Path::Inbox, 0, "ProtocolDataRequestSubValue: offset 0", 20, 20, Le32(0)},
        {What::Log, Path::Inbox, 0, "ProtocolDataOffset, ProtocolDataLength", 24, 24, Cat(Le32(40), Le32(564))},
        {What::Log, Path::Inbox, 0, "SubValue2 to SubValue4 and the rest", 32, 32, Fill(16, 0)},
        // SRB_IO_CONTROL + "NvmeMini" body.
        {What::ShortTest, Path::Miniport, 0, "HeaderLength, Signature", 0, 0,
         Cat(Le32(28), Hex("4E 76 6D 65 4D 69 6E 69"))},
        {What::ShortTest, Path::Miniport, 0, "Timeout, ControlCode", 12, 12, Cat(Le32(30), Le32(0xE0002000))},
        {What::ShortTest, Path::Miniport, 0, "Length: request size - 28", 24, 24, Le32(125)},
        {What::ShortTest, Path::Miniport, 0, "CDW0 opcode 14h", 52, 52, opcode14},
        {What::ShortTest, Path::Miniport, 0, "NSID", 56, 56, allNamespaces},
        {What::ShortTest, Path::Miniport, 0, "CDW10: short test", 92, 92, shortTest},
        {What::ShortTest, Path::Miniport, 0, "direction none, admin queue, no data", 132, 132,
         Cat(Le32(0), Cat(Le32(0), Le32(0)))},
        {What::ShortTest, Path::Miniport, 0, "reply buffer length", 148, 148, Le32(153)},
        {What::Log, Path::Miniport, 0, "CDW0 opcode Get Log Page", 52, 52, opcode02},
        {What::Log, Path::Miniport, 0, "NSID", 56, 56, allNamespaces},
        {What::Log, Path::Miniport, 0, "CDW10: log 06h, 564 bytes", 92, 92, logCdw10},
        {What::Log, Path::Miniport, 0, "CDW11 to CDW15", 96, 96, Fill(20, 0)},
        {What::Log, Path::Miniport, 0, "direction read, admin queue, data length", 132, 132,
         Cat(Le32(2), Cat(Le32(0), Le32(564)))},
        {What::Log, Path::Miniport, 0, "reply buffer length", 148, 148, Le32(152 + 564)},
        // Buffered SCSI_PASS_THROUGH: the pointer-sized DataBufferOffset moves what follows.
        {What::ShortTest, Path::Bridge, 0, "CDB: command block out", 28, 36, Hex("A1 80 00 00 02 00 00 00 00 00 00 00")},
        {What::ShortTest, Path::Bridge, 0, "block signature", 80, 92, Hex("4E 56 4D 45")},
        {What::ShortTest, Path::Bridge, 0, "block CDW0 opcode 14h, NSID", 88, 100, Cat(opcode14, allNamespaces)},
        {What::ShortTest, Path::Bridge, 0, "block CDW10 to CDW15", 128, 140, Cat(shortTest, Fill(20, 0))},
        {What::ShortTest, Path::Bridge, 1, "DataTransferLength: none", 12, 12, Le32(0)},
        {What::ShortTest, Path::Bridge, 1, "CDB: no data phase", 28, 36, Hex("A1 81 00 00 00 00 00 00 00 00 00 00")},
        {What::ShortTest, Path::Bridge, 2, "CDB: response block in", 28, 36, Hex("A1 8F 00 00 02 00")},
        {What::Log, Path::Bridge, 0, "block CDW0 opcode 02h, NSID", 88, 100, Cat(opcode02, allNamespaces)},
        {What::Log, Path::Bridge, 0, "block CDW10", 128, 140, logCdw10},
        {What::Log, Path::Bridge, 1, "DataIn in", 8, 8, Hex("01")},
        {What::Log, Path::Bridge, 1, "DataTransferLength", 12, 12, Le32(564)},
        {What::Log, Path::Bridge, 1, "CDB: data in, 564 bytes", 28, 36, Hex("A1 82 00 00 02 34 00 00 00 00 00 00")},
        {What::Log, Path::Bridge, 2, "CDB: response block in", 28, 36, Hex("A1 8F 00 00 02 00")},
        // "IntelNvm" request: no pointer, one layout; port 2, PathId 1.
        {What::ShortTest, Path::Rst, 0, "HeaderLength, Signature", 0, 0, Cat(Le32(28), Hex("49 6E 74 65 6C 4E 76 6D"))},
        {What::ShortTest, Path::Rst, 0, "Timeout, ControlCode, ReturnCode", 12, 12,
         Cat(Le32(30), Cat(Le32(0xF0002808), Le32(0)))},
        {What::ShortTest, Path::Rst, 0, "Length: request size - 28", 24, 24, Le32(136)},
        {What::ShortTest, Path::Rst, 0, "Version, PathId, TargetId, Lun", 28, 28, Hex("01 01 00 00")},
        {What::ShortTest, Path::Rst, 0, "CDW0 opcode 14h, NSID", 32, 32, Cat(opcode14, allNamespaces)},
        {What::ShortTest, Path::Rst, 0, "CDW10: short test", 72, 72, shortTest},
        {What::ShortTest, Path::Rst, 0, "admin queue, completion entry", 96, 96, Fill(20, 0)},
        {What::ShortTest, Path::Rst, 0, "DataBufferOffset, DataBufferLength", 116, 116, Cat(Le32(0xA4), Le32(0))},
        {What::Log, Path::Rst, 0, "Length: request size - 28", 24, 24, Le32(164 + 564 - 28)},
        {What::Log, Path::Rst, 0, "CDW0 opcode 02h, NSID", 32, 32, Cat(opcode02, allNamespaces)},
        {What::Log, Path::Rst, 0, "CDW10", 72, 72, logCdw10},
        {What::Log, Path::Rst, 0, "DataBufferOffset, DataBufferLength", 116, 116, Cat(Le32(0xA4), Le32(564))},
    };
    return table;
}

TEST(SelfTestRequest, CommandAndLogBytesOnEachPathInBothWidths) {
    for (const PointerWidth width : {PointerWidth::Bits32, PointerWidth::Bits64}) {
        const bool wide = width == PointerWidth::Bits64;
        for (const SizeRow& row : SizeTable()) {
            const std::vector<Bytes> requests = Requests(row.what, row.path, width);
            ASSERT_LT(row.request, requests.size());
            EXPECT_EQ(requests[row.request].size(), wide ? row.size64 : row.size32)
                << NameOf(row.path) << (row.what == What::Log ? " log" : " test") << (wide ? " 64" : " 32");
        }
        for (const ByteRow& row : ByteTable()) {
            const std::vector<Bytes> requests = Requests(row.what, row.path, width);
            ASSERT_LT(row.request, requests.size());
            const Bytes& request = requests[row.request];
            const std::size_t at = wide ? row.at64 : row.at32;
            ASSERT_LE(at + row.value.size(), request.size()) << NameOf(row.path) << " " << row.field;
            EXPECT_EQ(ToHex(Bytes(request.begin() + at, request.begin() + at + row.value.size())), ToHex(row.value))
                << NameOf(row.path) << (row.what == What::Log ? " log" : " test") << " request " << row.request
                << " " << row.field << " at " << at << ", " << (wide ? 64 : 32) << "-bit";
        }
    }
}

TEST(SelfTestRequest, EachActionInDword10) {
    const struct {
        SelfTestAction action;
        std::uint32_t dword10;
    } cases[] = {{SelfTestAction::Short, 1}, {SelfTestAction::Extended, 2}, {SelfTestAction::Abort, 0xF}};
    for (const auto& c : cases) {
        const NvmeCommand command = BuildSelfTestCommand(c.action);
        EXPECT_EQ(command.dword[0], 0x14u);
        EXPECT_EQ(command.dword[1], 0xFFFFFFFFu);
        EXPECT_EQ(command.dword[10], c.dword10);
        for (const std::size_t i : {2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 11u, 12u, 13u, 14u, 15u})
            EXPECT_EQ(command.dword[i], 0u) << "dword " << i;
    }
}

// ---- the log ----

// A log laid out by hand from the NVMe layout: header, then 28-byte results.
struct LogBuilder {
    Bytes bytes = Bytes(564, 0);
    LogBuilder() {
        for (std::size_t n = 0; n < 20; ++n) bytes[4 + 28 * n] = 0x0F;  // every entry unused
    }
    LogBuilder& Now(std::uint8_t operation, std::uint8_t percent) {
        bytes[0] = operation;
        bytes[1] = percent;
        return *this;
    }
    LogBuilder& Entry(std::size_t n, std::uint8_t status, std::uint8_t segment = 0, std::uint8_t valid = 0,
                      std::uint64_t hours = 0) {
        std::uint8_t* e = &bytes[4 + 28 * n];
        e[0] = status;
        e[1] = segment;
        e[2] = valid;
        for (int i = 0; i < 8; ++i) e[4 + i] = static_cast<std::uint8_t>(hours >> (8 * i));
        return *this;
    }
    LogBuilder& Diagnostics(std::size_t n, std::uint32_t nsid, std::uint64_t lba, std::uint8_t sct, std::uint8_t sc) {
        std::uint8_t* e = &bytes[4 + 28 * n];
        for (int i = 0; i < 4; ++i) e[12 + i] = static_cast<std::uint8_t>(nsid >> (8 * i));
        for (int i = 0; i < 8; ++i) e[16 + i] = static_cast<std::uint8_t>(lba >> (8 * i));
        e[24] = sct;
        e[25] = sc;
        return *this;
    }
};

TEST(SelfTestLogDecode, EachResultCodeAndWhatItMeans) {
    const struct {
        std::uint8_t code;
        SelfTestVerdict verdict;
    } cases[] = {
        {0x0, SelfTestVerdict::Passed},  {0x1, SelfTestVerdict::Aborted}, {0x2, SelfTestVerdict::Aborted},
        {0x3, SelfTestVerdict::Aborted}, {0x4, SelfTestVerdict::Aborted}, {0x5, SelfTestVerdict::Failed},
        {0x6, SelfTestVerdict::Failed},  {0x7, SelfTestVerdict::Failed},  {0x8, SelfTestVerdict::Aborted},
        {0x9, SelfTestVerdict::Aborted}, {0xA, SelfTestVerdict::Unknown}, {0xE, SelfTestVerdict::Unknown},
    };
    for (const auto& c : cases) {
        // An extended test (code 2 in the high nibble) with this result, segment 3 given.
        const LogBuilder log = LogBuilder().Entry(0, static_cast<std::uint8_t>(0x20 | c.code), 3);
        const auto decoded = DecodeSelfTestLog(log.bytes.data(), log.bytes.size());
        ASSERT_TRUE(decoded) << int{c.code};
        ASSERT_EQ(decoded->results.size(), 1u) << int{c.code};
        const SelfTestEntry& entry = decoded->results[0];
        EXPECT_EQ(entry.resultCode, c.code);
        EXPECT_EQ(entry.testCode, 2);
        EXPECT_EQ(entry.Verdict(), c.verdict) << int{c.code};
        // Only "failed segments" names the segment; elsewhere the byte says nothing.
        EXPECT_EQ(entry.FailedSegmentNumber(), c.code == 0x7 ? std::optional<std::uint8_t>(3) : std::nullopt)
            << int{c.code};
    }
}

TEST(SelfTestLogDecode, ProgressOrderUnusedEntriesAndDiagnostics) {
    const struct {
        const char* name;
        LogBuilder log;
        std::uint8_t operation;
        std::uint8_t percent;
        std::size_t used;
    } cases[] = {
        {"no test ever", LogBuilder(), 0, 0, 0},
        {"a short test at 42 %", LogBuilder().Now(0x1, 42), 1, 42, 0},
        // Bit 7 of the completion byte and bits 7:4 of the operation byte are reserved.
        {"reserved bits", LogBuilder().Now(0xF2, 0xE4), 2, 100, 0},
        {"an extended test, two results", LogBuilder().Now(0x2, 7).Entry(0, 0x10).Entry(1, 0x27, 5), 2, 7, 2},
        // An unused entry between used ones is passed over, not taken as the end.
        {"a gap", LogBuilder().Entry(0, 0x10).Entry(2, 0x11), 0, 0, 2},
        {"all twenty", [] {
             LogBuilder b;
             for (std::size_t n = 0; n < 20; ++n) b.Entry(n, 0x10, 0, 0, 100 - n);
             return b;
         }(), 0, 0, 20},
    };
    for (const auto& c : cases) {
        const auto decoded = DecodeSelfTestLog(c.log.bytes.data(), c.log.bytes.size());
        ASSERT_TRUE(decoded) << c.name;
        EXPECT_EQ(decoded->currentOperation, c.operation) << c.name;
        EXPECT_EQ(decoded->completionPercent, c.percent) << c.name;
        EXPECT_EQ(decoded->Running(), c.operation != 0) << c.name;
        EXPECT_EQ(decoded->results.size(), c.used) << c.name;
    }

    // Newest first, as the drive orders them, with each field where the layout puts it.
    LogBuilder log;
    log.Entry(0, 0x17, 2, 0x0F, 0x0102030405060708).Diagnostics(0, 1, 0x1122334455667788, 0xFA, 0x81);
    log.Entry(1, 0x20, 9, 0x00, 1873).Diagnostics(1, 7, 99, 1, 2);  // flags clear: nothing is valid
    log.Entry(2, 0x17, 4, 0x02, 12).Diagnostics(2, 7, 0xABCD, 1, 2);  // only the LBA is valid
    const auto decoded = DecodeSelfTestLog(log.bytes.data(), log.bytes.size());
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->results.size(), 3u);
    const SelfTestEntry& failed = decoded->results[0];
    EXPECT_EQ(failed.powerOnHours, 0x0102030405060708u);
    EXPECT_EQ(failed.FailedSegmentNumber(), std::optional<std::uint8_t>(2));
    EXPECT_EQ(failed.nsid, std::optional<std::uint32_t>(1));
    EXPECT_EQ(failed.failingLba, std::optional<std::uint64_t>(0x1122334455667788));
    EXPECT_EQ(failed.statusCodeType, std::optional<std::uint8_t>(2));  // bits 2:0 only
    EXPECT_EQ(failed.statusCode, std::optional<std::uint8_t>(0x81));
    const SelfTestEntry& passed = decoded->results[1];
    EXPECT_EQ(passed.Verdict(), SelfTestVerdict::Passed);
    EXPECT_EQ(passed.powerOnHours, 1873u);
    EXPECT_FALSE(passed.nsid || passed.failingLba || passed.statusCodeType || passed.statusCode);
    const SelfTestEntry& lbaOnly = decoded->results[2];
    EXPECT_EQ(lbaOnly.failingLba, std::optional<std::uint64_t>(0xABCD));
    EXPECT_FALSE(lbaOnly.nsid || lbaOnly.statusCodeType || lbaOnly.statusCode);
    EXPECT_EQ(decoded->Newest(), &decoded->results[0]);
}

TEST(SelfTestLogDecode, RefusesShortInput) {
    const LogBuilder log = LogBuilder().Entry(0, 0x10);
    for (const std::size_t size : {std::size_t{0}, std::size_t{4}, std::size_t{512}, std::size_t{563}})
        EXPECT_FALSE(DecodeSelfTestLog(log.bytes.data(), size)) << size;
    EXPECT_FALSE(DecodeSelfTestLog(nullptr, 564));
    EXPECT_TRUE(DecodeSelfTestLog(log.bytes.data(), 564));
}

TEST(SelfTestIdentify, OacsBitFourAndTheExtendedTime) {
    const struct {
        std::uint16_t oacs;
        std::uint16_t edstt;
        bool offered;
    } cases[] = {{0x0017, 10, true}, {0x0010, 0x1234, true}, {0x0007, 0, false}, {0xFFEF, 30, false}};
    for (const auto& c : cases) {
        Bytes identify(4096, 0);
        identify[256] = static_cast<std::uint8_t>(c.oacs);
        identify[257] = static_cast<std::uint8_t>(c.oacs >> 8);
        identify[316] = static_cast<std::uint8_t>(c.edstt);
        identify[317] = static_cast<std::uint8_t>(c.edstt >> 8);
        EXPECT_EQ(OffersSelfTest(identify.data()), c.offered) << std::hex << c.oacs;
        EXPECT_EQ(ExtendedTestMinutes(identify.data()), c.edstt);
    }
}

// The senders on the paths that need no port: one exchange each, never a second attempt.
TEST(SendSelfTest, OneAttemptAndARefusalIsReported) {
    for (const bool refused : {false, true}) {
        ScriptedDeviceIo io;
        auto& step = io.On(IoctlStorageProtocolCommand).Expect(80, Le32(0x14)).ExpectU32(120, 2);
        step.ReplyU32(16, refused ? 2 : 1);  // ReturnStatus: error or success
        EXPECT_EQ(SendSelfTest(io.Device(), MakeTransport(TransportNvmeInbox), SelfTestAction::Extended),
                  refused ? 0 : 1);
        EXPECT_EQ(io.Calls().size(), 1u);
        if (refused) {
            EXPECT_EQ(io.LastError(), 1117u);
        }
    }
    ScriptedDeviceIo ata;
    EXPECT_EQ(SendSelfTest(ata.Device(), MakeTransport(TransportSat), SelfTestAction::Short), 0);
    EXPECT_TRUE(ata.Calls().empty());
}

}  // namespace
}  // namespace devicecmd_test
