#pragma once
// Request builders and reply judges of every pass-through path. All of it is pure byte
// work: the senders add nothing but the one submission through the device seam.

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "devicecmd/Layouts.h"
#include "devicecmd/Transport.h"

namespace devicecmd {

enum IoControlCode : std::uint32_t {
    IoctlScsiPassThrough = 0x4D004,
    IoctlScsiMiniport = 0x4D008,
    IoctlScsiPassThroughDirect = 0x4D014,
    IoctlAtaPassThroughDirect = 0x4D030,
    IoctlStorageQueryProperty = 0x2D1400,
    IoctlStorageProtocolCommand = 0x2DD3C0,
};

// Command registers the program's own commands use.
enum CommandOpcode : std::uint8_t {
    NvmeOpcodeIdentify = 0x06,
    AtaOpcodeIdentifyDevice = 0xEC,
    VendorOpcodeRead = 0xFC,
    VendorOpcodeWrite = 0xFD,
    NvmeOpcodeVendorRead = 0xFE,  // 0xFC with the NVMe read direction bits
};
enum VendorSubcode : std::uint16_t {
    VendorSubcodeIdentify = 0xA1,
    VendorSubcodeWriteState = 0xD7,
    VendorSubcodeReadState = 0xD8,
};
constexpr std::uint16_t VendorFeatures = 0xD0;
constexpr std::uint8_t VendorAtaDevice = 0xE0;
constexpr std::uint8_t VendorTimeoutSeconds = 10;
constexpr std::uint32_t VendorAttempts = 4;
constexpr std::uint32_t NvmeTimeoutSeconds = 30;
constexpr std::uint32_t NvmeAttempts = 4;
constexpr std::uint32_t SectorSize = 512;

// Runs a sender's body; a request too large to allocate fails the operation.
template <typename Body>
int FailOnAllocationError(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return 0;
    } catch (const std::length_error&) {
        return 0;
    }
}

// ---- replies, as far as the driver returned them ----

// A driver may succeed and fill less than it was given room for: the count it returns is
// its only statement of what it wrote. Each reply is judged within that count; the
// buffer's bytes past it are the caller's own (zeros, or the request) and say nothing.
enum class ReplyVerdict : std::uint8_t {
    Succeeded,
    Failed,  // complete, and the driver or the device said no
    Short,   // the count misses a field that is read, or exceeds the buffer it was given
};
// The last error a short reply leaves (ERROR_INVALID_DATA): the call itself succeeded,
// so the system left nothing that would say why the operation failed.
constexpr std::uint32_t ErrorShortReply = 13;
// The last error a refusal leaves (ERROR_IO_DEVICE): the call succeeded and its reply
// says that the drive or driver did not do the command (a completion status, an SRB
// return code, sense data, an ATA error status, a bridge status). Without it the code
// would be whatever an earlier, unrelated call left, often 0.
constexpr std::uint32_t ErrorRefused = 1117;

// Whether a call's reply is taken. A short one leaves ErrorShortReply, a refused one
// ErrorRefused; a failed call keeps the system's own last error.
inline bool TakeReply(platform::DeviceIo& io, bool called, ReplyVerdict verdict) {
    if (!called) return false;
    if (verdict == ReplyVerdict::Short) io.SetLastError(ErrorShortReply);
    if (verdict == ReplyVerdict::Failed) io.SetLastError(ErrorRefused);
    return verdict == ReplyVerdict::Succeeded;
}

// ---- SCSI pass-through, buffered and direct ----

// Layouts of the width given; a process hands the system those of its own width.
constexpr std::uint16_t ScsiHeaderLength(PointerWidth width = ProcessWidth) {
    return static_cast<std::uint16_t>(ScsiPassThroughLayout(width).Size());
}
constexpr std::uint32_t ScsiSenseOffset(PointerWidth width = ProcessWidth) {
    return BufferedScsiLayout(width)[ScsiRequest::Sense];
}
constexpr std::uint8_t ScsiSenseLength = 24;
constexpr std::uint32_t ScsiDataOffset(PointerWidth width = ProcessWidth) {
    return BufferedScsiLayout(width)[ScsiRequest::Data];
}
// 67664 bytes in a 32-bit process.
constexpr std::uint32_t ScsiRequestSize(PointerWidth width = ProcessWidth) { return BufferedScsiLayout(width).Size(); }
// 80 bytes in a 32-bit process.
constexpr std::uint32_t ScsiDirectRequestSize(PointerWidth width = ProcessWidth) {
    return DirectScsiLayout(width).Size();
}
constexpr std::uint8_t MaxCdbLength = 16;

enum ScsiDataDirection : std::uint8_t { ScsiDataOut = 0, ScsiDataIn = 1 };

// The buffered request; data (may be null) is copied in for data out.
// Requires cdbLength <= 16 and length <= ScsiDataRoom.
std::vector<std::uint8_t> BuildScsiRequest(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                           ScsiDataDirection direction, const std::uint8_t* data,
                                           std::uint32_t length, std::uint8_t timeout,
                                           PointerWidth width = ProcessWidth);
// The direct request naming the caller's buffer by address.
std::vector<std::uint8_t> BuildScsiDirectRequest(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                                 ScsiDataDirection direction, std::uint64_t bufferAddress,
                                                 std::uint32_t length, std::uint8_t timeout,
                                                 PointerWidth width = ProcessWidth);
// Sense area free of errors; ScsiStatus is not consulted.
bool ScsiReplySucceeded(const std::uint8_t* reply, PointerWidth width = ProcessWidth);
// A SCSI request of bufferSize bytes as it came back with `returned` bytes. The count must
// cover the pass-through header, whose DataTransferLength (the bytes moved) must reach
// length; buffered data in must lie within the count as well. Sense bytes count only as
// far as the count reaches them: a driver that returns no sense reports none.
ReplyVerdict JudgeScsiReply(const std::uint8_t* reply, std::uint32_t returned, std::uint32_t bufferSize,
                            bool bufferedDataIn, std::uint32_t length, PointerWidth width = ProcessWidth);

// ---- ATA command inside ATA PASS-THROUGH (16) ----

constexpr std::uint8_t SatCdbLength = 16;

struct SatRequest {
    std::array<std::uint8_t, SatCdbLength> cdb{};
    ScsiDataDirection dataDirection = ScsiDataIn;
    std::uint32_t length = 0;
};
SatRequest BuildSatRequest(std::uint8_t opcode, std::uint16_t subcode, std::uint32_t address,
                           std::uint16_t sectors, std::uint8_t direction, std::uint16_t features,
                           std::uint8_t ataDevice);

// ---- platform ATA pass-through ----

// 40 bytes in a 32-bit process.
constexpr std::uint32_t AtaRequestSize(PointerWidth width = ProcessWidth) { return AtaPassThroughLayout(width).Size(); }
constexpr std::uint32_t AtaTimeoutSeconds = 10;

enum AtaFlag : std::uint16_t {
    AtaFlagDataIn = 0x02,
    AtaFlagDataOut = 0x04,
    AtaFlag48Bit = 0x08,
    AtaFlagUseDma = 0x10,
};

struct AtaCommandClass {
    bool is48Bit = false;
    bool usesDma = false;
};
AtaCommandClass ClassifyAtaCommand(std::uint8_t opcode);

std::vector<std::uint8_t> BuildAtaRequest(std::uint8_t opcode, std::uint16_t subcode, std::uint32_t address,
                                          std::uint64_t bufferAddress, std::uint16_t sectors,
                                          std::uint8_t direction, std::uint16_t features, std::uint8_t ataDevice,
                                          PointerWidth width = ProcessWidth);

// On return the driver leaves the device's status register in the current task file.
constexpr std::uint32_t AtaReplyStatusOffset(PointerWidth width = ProcessWidth) {
    return AtaPassThroughLayout(width)[Aptd::CurrentTaskFile] + 6;
}
enum AtaStatusBit : std::uint8_t {
    AtaStatusError = 0x01,
    AtaStatusDeviceFault = 0x20,
};
// The call carried the command; the status register says whether the device did it.
bool AtaReplySucceeded(const std::uint8_t* reply, PointerWidth width = ProcessWidth);
// The count must cover the returned task file, and the reported DataTransferLength must
// reach length (the data went straight to or from the caller's buffer).
ReplyVerdict JudgeAtaReply(const std::uint8_t* reply, std::uint32_t returned, std::uint32_t bufferSize,
                           std::uint32_t length, PointerWidth width = ProcessWidth);

// ---- inbox NVMe driver: protocol command ----

// The NVMe command, then the error information entry, then the data area.
constexpr std::uint32_t ProtocolCommandOffset = ProtocolCommandLayout[Spc::Command];  // 80
constexpr std::uint32_t ProtocolErrorInfoOffset = ProtocolCommandOffset + 64;
constexpr std::uint32_t ProtocolErrorInfoLength = 64;
constexpr std::uint32_t ProtocolDataOffset = ProtocolErrorInfoOffset + ProtocolErrorInfoLength;  // 208
constexpr std::uint32_t ProtocolDataGranule = 4096;

// The data area's size: length raised to a multiple of 4096; none when the request
// would not fit a 32-bit size.
std::optional<std::uint32_t> ProtocolDataAreaSize(std::uint32_t length);
// Requires commandLength <= 64 and a data area size from ProtocolDataAreaSize.
std::vector<std::uint8_t> BuildProtocolCommandRequest(const std::uint8_t* command, std::uint8_t commandLength,
                                                      const std::uint8_t* data, std::uint32_t length,
                                                      std::uint32_t dataAreaSize, std::uint8_t direction,
                                                      std::uint32_t queue, std::uint32_t timeout);
bool ProtocolCommandSucceeded(const std::uint8_t* reply);
// The count must cover the request's head (through the word before the NVMe command),
// and for a read the length data bytes after the error information entry.
ReplyVerdict JudgeProtocolCommandReply(const std::uint8_t* reply, std::uint32_t returned, std::uint32_t bufferSize,
                                       std::uint8_t direction, std::uint32_t length);

// ---- inbox NVMe driver: protocol-specific property ----

constexpr std::uint32_t PropertyQueryHeadSize = PropertyQueryLayout.Size();  // 48
// STORAGE_QUERY_TYPE: the property itself, not whether it exists.
constexpr std::uint32_t PropertyStandardQuery = 0;
constexpr std::uint32_t PropertyIdAdapterProtocolSpecific = 49;
constexpr std::uint32_t ProtocolDataTypeIdentify = 1;

std::vector<std::uint8_t> BuildPropertyQuery(std::uint32_t length, std::uint32_t dataType,
                                             std::uint32_t propertyId, std::uint32_t requestValue,
                                             std::uint32_t requestSubValue);

struct ByteRange {
    std::size_t offset = 0;
    std::size_t size = 0;
};
// Where the returned data lies in a buffer of bufferSize bytes of which the driver
// returned `returned`: the `requested` bytes. None when the count exceeds the buffer, the
// descriptor is not 48/48 or lies outside the count, the data begins inside the
// descriptor, names fewer bytes than requested, or lies outside the count.
std::optional<ByteRange> PropertyReplyData(const std::uint8_t* reply, std::uint32_t returned, std::size_t bufferSize,
                                           std::uint32_t requested);

// ---- "NvmeMini" miniport ----

constexpr std::uint32_t MiniportHeaderLength = SrbLayout.Size();  // 28
constexpr std::uint32_t MiniportControlCode = 0xE0002000;
constexpr std::uint32_t MiniportCommandOffset = MiniportLayout[NvmeMini::Command];        // 52
constexpr std::uint32_t MiniportCompletionOffset = MiniportLayout[NvmeMini::Completion];  // 116
constexpr std::uint32_t MiniportDataOffset = MiniportLayout[NvmeMini::DataBuffer];        // 152
constexpr std::uint32_t MiniportMinimumSize = MiniportDataOffset + 1;

struct MiniportSizes {
    std::uint32_t request = 0;
    std::uint32_t reply = 0;
};
// Sizes for direction 0, 1 or 2; none for another direction or an oversized length.
std::optional<MiniportSizes> MiniportSizesFor(std::uint8_t direction, std::uint32_t length);
// Requires commandLength <= 64 and sizes from MiniportSizesFor.
std::vector<std::uint8_t> BuildMiniportRequest(const std::uint8_t* command, std::uint8_t commandLength,
                                               const std::uint8_t* data, std::uint32_t length,
                                               std::uint8_t direction, std::uint32_t queue,
                                               std::uint32_t timeout, MiniportSizes sizes);
// ReturnCode 0 and a clear status field in the returned completion entry.
bool MiniportReplySucceeded(const std::uint8_t* reply);
// The count must reach through the completion entry, and for a read through the length
// data bytes after it.
ReplyVerdict JudgeMiniportReply(const std::uint8_t* reply, std::uint32_t returned, std::uint32_t bufferSize,
                                std::uint8_t direction, std::uint32_t length);
constexpr std::uint32_t MiniportReplyMinimum =
    MiniportCompletionOffset + static_cast<std::uint32_t>(CompletionEntrySize);  // 132

// Completion entry dword 3: bit 16 is the phase tag, bits 17 to 31 the status field.
constexpr bool CompletionStatusClear(std::uint32_t dword3) { return (dword3 >> 17) == 0; }

// ---- USB-to-NVMe bridge ----

constexpr std::uint32_t BridgeSignature = 0x454D564E;  // "NVME"
constexpr std::uint8_t BridgeCdbLength = 12;
constexpr std::uint32_t MaxBridgeTransfer = 0xFFFFFF;  // the CDB's 24-bit length

enum BridgePhase : std::uint8_t {
    BridgePhaseCommandOut = 0x00,
    BridgePhaseNoData = 0x01,
    BridgePhaseDataIn = 0x02,
    BridgePhaseDataOut = 0x03,
    BridgePhaseResponseIn = 0x0F,
};

std::array<std::uint8_t, BridgeCdbLength> BuildBridgeCdb(bool admin, BridgePhase phase,
                                                         std::uint32_t transferLength);
// Signature present and the completion status field (bits 17 to 31 of dword 3) clear.
bool BridgeResponseSucceeded(const std::uint8_t* block);
// Completion dword 0 of a response block.
std::uint32_t BridgeResult(const std::uint8_t* block);

// ---- vendor identify record and optimize state payload ----

constexpr std::size_t VendorRecordKeyOffset = 128;
constexpr std::size_t VendorRecordEncipheredFlag = 156;

// Deciphers the enciphered ranges of a 512-byte vendor identify record in place.
void DecipherVendorRecord(std::uint8_t* record, std::uint8_t vendorLayout);
// The deciphered controller name starts with "VantorPlus", letter case ignored.
bool NamesServedController(const std::uint8_t* record);

std::array<std::uint8_t, 512> BuildStatePayload(std::uint8_t state);
// The state byte of a 512-byte payload that carries the signature.
std::optional<std::uint8_t> StateFromPayload(const std::uint8_t* payload);

}  // namespace devicecmd
