#pragma once
// Reply cuts aimed at the vendor state commands on each NVMe path (the inbox protocol
// command, the "NvmeMini" request, the bridge's phases), for SimMachine::CutReplies.

#include <cstdint>

#include "sim/SimMachine.h"

namespace sim {

// Which part of a vendor command's exchange is cut.
enum class SimCutPhase {
    Data,      // the reply that carries the read data (on the bridge: the data-in phase)
    Response,  // the reply that carries the completion (on the bridge: the response block)
};

// Cuts the reply of the NVMe commands with this opcode and subcode (dword 15) to `keep`
// bytes counted from where that reply's payload starts: the data area for Data, the head
// of the request (or the response block) for Response.
SimReplyCut CutVendorReply(std::uint8_t opcode, std::uint32_t subcode, SimCutPhase phase, std::uint32_t keep);

// The optimize-state read's reply stops right after the 4 signature bytes.
void CutStateReadAfterSignature(SimMachine& machine, std::uint32_t times = Forever);
// The optimize-state write is answered with an empty reply (on the bridge: an empty
// response block).
void EmptyStateWriteReply(SimMachine& machine, std::uint32_t times = Forever);

// The health log's reply carries only `keep` of its 512 bytes, on every NVMe path: the
// property query's data, the "NvmeMini" reply's data, the bridge's data-in phase.
void CutHealthLogReply(SimMachine& machine, std::uint32_t keep, std::uint32_t times = Forever);

}  // namespace sim
