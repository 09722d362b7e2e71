// libFuzzer entry point for a hostile or broken drive, driver or USB bridge. A device seam
// stands in front of the simulated machine, and each of its answers comes from the input:
// the call's success and last error, the count it returns (cut short, or more than the
// buffer), and bytes altered within the reply. It drives the enumeration pass, the
// optimize switch and the command layer on each transport, and traps when:
//   - a vendor write is sent during enumeration;
//   - a vendor write follows a re-identify that failed, came back short, or met another drive;
//   - an accepted record has no "Tavik" model, or one that no identify reply carried;
//   - an accepted record's state, or a state read, is one the drive did not give;
//   - a switch or a write reports success that the drive's full reply did not give;
//   - a handle is used after it was closed, or left open;
//   - an RST command other than identify goes to another PathId than the identify before
//     it (the drive's address is read once, when it is identified);
//   - the bridge's CDB 0xA1, or RST's SCSI_ADDRESS request, reaches a SATA disk (a disk
//     interface may name another disk's number; the disk's own handle says SATA).
// Input: one byte choosing the machine, then per seam call one byte choosing the answer
// and the bytes that answer needs; an exhausted input answers honestly.
// Each of the eight machines is built once per process and reset before every input, so
// an input meets the same machine as if it had been built for it alone.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "optimize/SwitchFlow.h"
#include "devicecmd/Detect.h"
#include "devicecmd/IntelRst.h"
#include "devicecmd/PrivateCmd.h"
#include "devicecmd/Requests.h"
#include "discovery/Enumerate.h"
#include "sim/SimCodes.h"
#include "sim/SimComputer.h"
#include "sim/SimLayouts.h"
#include "sim/SimShutdown.h"
#include "sim/SimStacks.h"

namespace {

#define REQUIRE(condition) \
    do {                   \
        if (!(condition)) __builtin_trap(); \
    } while (0)

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() {
        if (size_ == 0) return 0;
        --size_;
        return *data_++;
    }
    std::uint32_t U16() { return Byte() | (static_cast<std::uint32_t>(Byte()) << 8); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

enum class Kind { Other, Identify, VendorRead, VendorWrite };
enum class Phase { Enumeration, Switch, Commands };

// One command's calls as the seam saw them, and what was done to their answers.
struct Exchange {
    Phase phase;
    Kind kind;
    // The last call of each of its phases (one, or a bridge's three) failed in none, none
    // came back short or claiming too much: a phase retried until it got a whole reply
    // counts by that reply.
    bool clean = true;
    bool altered = false;       // bytes within a returned reply were changed
    std::uint32_t unsettled = 0;  // the phases (bits) whose last call was not clean

    void Settle(std::uint8_t phase, bool callClean) {
        const std::uint32_t bit = 1u << (phase & 0x1F);
        unsettled = callClean ? unsettled & ~bit : unsettled | bit;
        clean = unsettled == 0;
    }
};

std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

Kind KindOfOpcode(std::uint8_t opcode) {
    switch (opcode) {
        case 0x06: case 0xEC: return Kind::Identify;
        case 0xFC: case 0xFE: return Kind::VendorRead;
        case 0xFD: return Kind::VendorWrite;
        default: return Kind::Other;
    }
}

std::wstring Lower(std::wstring_view text) {
    std::wstring lower(text);
    for (wchar_t& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    return lower;
}

class HostileIo : public platform::DeviceIo {
public:
    HostileIo(sim::SimMachine& machine, Input& input) : machine_(machine), input_(input) {}

    Phase phase = Phase::Enumeration;
    // A new phase; an RST command before any identify in it must go to rstPathId (none: -1).
    void StartPhase(Phase next, int rstPathId = -1) {
        phase = next;
        rstPathId_ = rstPathId;
    }
    std::vector<Exchange> exchanges;
    // Every reply of an identify exchange as far as it was returned.
    std::vector<std::vector<std::uint8_t>> identifyReplies;

    bool Altered(Phase p, Kind kind) const {
        return std::any_of(exchanges.begin(), exchanges.end(),
                           [&](const Exchange& x) { return x.phase == p && x.kind == kind && x.altered; });
    }
    const Exchange* Last(Phase p, Kind kind) const {
        for (auto x = exchanges.rbegin(); x != exchanges.rend(); ++x)
            if (x->phase == p && x->kind == kind) return &*x;
        return nullptr;
    }
    std::function<void(const Exchange&)> onVendorWrite;

    // Paths of SATA disks: no bridge CDB may reach them.
    std::set<std::wstring> sataPaths;

    platform::Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                          std::uint32_t flags) override {
        if (input_.Byte() % 16 == 15) {
            machine_.SetLastError(1 + input_.Byte());
            return platform::InvalidHandle();
        }
        const platform::Handle handle = machine_.Open(path, access, share, creation, flags);
        if (platform::IsUsable(handle)) {
            open_.insert(handle);
            paths_[handle] = Lower(path);
        }
        return handle;
    }
    bool Close(platform::Handle handle) override {
        REQUIRE(open_.erase(handle) == 1);  // closed once, and only what was opened
        closed_.insert(handle);
        return machine_.Close(handle);
    }
    bool IoControl(platform::Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* bytesReturned) override {
        REQUIRE(closed_.count(handle) == 0);
        const auto* request = static_cast<const std::uint8_t*>(in);
        const std::uint32_t needed = Classify(code, request, inSize, outSize);
        // No pass-through meant for another kind of disk reaches a SATA disk's handle.
        if (bridgeCdb_ || code == devicecmd::IoctlScsiGetAddress) REQUIRE(sataPaths.count(paths_[handle]) == 0);
        Exchange& exchange = exchanges.back();
        if (exchange.kind == Kind::VendorWrite && onVendorWrite && starts_) onVendorWrite(exchange);

        auto* reply = static_cast<std::uint8_t*>(out);
        std::uint32_t returned = 0;
        const std::uint8_t mode = input_.Byte() % 8;
        // What the caller's buffer held, for a reply cut short (mode 5) to leave it as it was.
        if (mode == 5 && reply) before_.assign(reply, reply + outSize);
        if (mode == 4) {
            exchange.Settle(callPhase_, false);
            machine_.SetLastError(1 + input_.Byte());
            if (bytesReturned) *bytesReturned = 0;
            return false;
        }
        const bool ok = machine_.IoControl(handle, code, in, inSize, out, outSize, &returned);
        if (!ok) {
            exchange.Settle(callPhase_, false);
            if (bytesReturned) *bytesReturned = returned;
            return false;
        }
        bool callClean = true;
        switch (mode) {
            case 5: {  // cut short of what the request needs
                const std::uint32_t limit = std::min(needed, returned);
                if (limit == 0) break;
                const std::uint32_t keep = input_.U16() % limit;
                std::copy(before_.begin() + keep, before_.end(), reply + keep);
                returned = keep;
                callClean = false;
                break;
            }
            case 6: {  // bytes changed within the reply
                const int changes = 1 + input_.Byte() % 4;
                for (int i = 0; i < changes && returned != 0; ++i) {
                    reply[input_.U16() % returned] = input_.Byte();
                    exchange.altered = true;
                }
                break;
            }
            case 7:  // a count larger than the buffer
                returned = outSize + 1 + input_.Byte();
                callClean = false;
                break;
            default: break;
        }
        exchange.Settle(callPhase_, callClean);
        if (exchange.kind == Kind::Identify && reply && returned <= outSize)
            identifyReplies.emplace_back(reply, reply + returned);
        if (bytesReturned) *bytesReturned = returned;
        return true;
    }
    bool Read(platform::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override {
        REQUIRE(closed_.count(handle) == 0);
        if (input_.Byte() % 16 == 15) {
            machine_.SetLastError(1 + input_.Byte());
            return false;
        }
        return machine_.Read(handle, buffer, size, bytesRead);
    }
    std::uint32_t Seek(platform::Handle handle, std::int32_t distance, std::uint32_t origin) override {
        REQUIRE(closed_.count(handle) == 0);
        return machine_.Seek(handle, distance, origin);
    }
    std::uint32_t LastError() override { return machine_.LastError(); }
    void SetLastError(std::uint32_t error) override { machine_.SetLastError(error); }
    void DebugOutput(std::wstring_view text) override { machine_.DebugOutput(text); }

    std::size_t OpenCount() const { return open_.size(); }

private:
    // Starts a new exchange or continues the bridge's; returns the count below which the
    // reply misses a field that a sound reader needs.
    std::uint32_t Classify(std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize, std::uint32_t outSize) {
        using namespace devicecmd;
        starts_ = true;
        callPhase_ = 0;
        Kind kind = Kind::Other;
        std::uint32_t needed = outSize;
        bridgeCdb_ = false;
        switch (code) {
            case IoctlStorageProtocolCommand:
                if (inSize >= 144) kind = KindOfOpcode(in[80]);
                needed = kind == Kind::VendorRead ? ProtocolDataOffset + SectorSize : ProtocolCommandOffset;
                break;
            case IoctlScsiMiniport:
                if (inSize >= RstDataOffset && std::memcmp(in + sim::SrbSignature, "IntelNvm", 8) == 0) {
                    kind = KindOfOpcode(in[RstCommandOffset]);
                    needed = kind == Kind::VendorWrite ? RstReplyMinimum : outSize;
                    const std::uint8_t pathId = in[RstRequestLayout[RstRequest::PathId]];
                    // One drive, one address: what its identify went to.
                    if (kind == Kind::Identify) rstPathId_ = pathId;
                    else REQUIRE(pathId == rstPathId_);
                    break;
                }
                if (inSize >= 116) kind = KindOfOpcode(in[52]);
                needed = kind == Kind::VendorWrite ? MiniportReplyMinimum : outSize;
                break;
            case IoctlScsiGetAddress:
                needed = static_cast<std::uint32_t>(ScsiAddressLayout.Size());
                break;
            case IoctlStorageQueryProperty:
                if (inSize >= 4 && Get32(in) == PropertyIdAdapterProtocolSpecific) kind = Kind::Identify;
                needed = kind == Kind::Identify ? outSize : 25;  // the adapter descriptor's bus type
                break;
            case IoctlScsiPassThrough:
            case IoctlScsiPassThroughDirect: {
                const platform::Layout spt = ScsiPassThroughLayout();
                if (inSize < spt.Size()) break;
                const std::uint8_t* cdb = in + spt[Spt::Cdb];
                const bool dataIn = in[spt[Spt::DataIn]] == ScsiDataIn;
                needed = dataIn && code == IoctlScsiPassThrough ? outSize : spt.Size();
                if (cdb[0] == 0xA1) {
                    bridgeCdb_ = true;
                    const std::uint8_t bridgePhase = cdb[1] & 0x0F;
                    callPhase_ = bridgePhase;
                    if (bridgePhase != 0 && !exchanges.empty()) {
                        starts_ = false;
                        return needed;  // the same command's later phases
                    }
                    if (code == IoctlScsiPassThrough && inSize >= ScsiDataOffset() + 12)
                        kind = KindOfOpcode(in[ScsiDataOffset() + 8]);
                } else if (cdb[0] == 0x85) {
                    kind = KindOfOpcode(cdb[14]);
                }
                break;
            }
            case IoctlAtaPassThroughDirect: {
                const platform::Layout apt = AtaPassThroughLayout();
                if (inSize >= apt.Size()) kind = KindOfOpcode(in[apt[Aptd::CurrentTaskFile] + 6]);
                needed = apt.Size();
                break;
            }
            case sim::IoctlStorageGetDeviceNumber: needed = 12; break;
            case sim::IoctlDiskGetDriveGeometryEx: needed = 32; break;
            default: break;
        }
        exchanges.push_back({phase, kind});
        return needed;
    }

    sim::SimMachine& machine_;
    Input& input_;
    std::vector<std::uint8_t> before_;
    std::set<platform::Handle> open_;
    std::set<platform::Handle> closed_;
    bool starts_ = true;
    std::uint8_t callPhase_ = 0;  // the bridge phase of the call at hand; 0 elsewhere
    std::map<platform::Handle, std::wstring> paths_;  // lower case
    bool bridgeCdb_ = false;       // the call at hand carries the bridge's CDB
    int rstPathId_ = -1;           // the PathId of the phase's last RST identify
};

class ScriptedUser : public SwitchUser {
public:
    std::function<void()> whileAsking;
    bool ConfirmSwitch() override {
        if (whileAsking) whileAsking();
        return true;
    }
    void ShowSwitchError(const std::wstring&) override {}
};

std::string Trimmed(const char* text, std::size_t size) {
    std::string s(text, strnlen(text, size));
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

bool SomeReplyCarries(const std::vector<std::vector<std::uint8_t>>& replies, const std::string& text) {
    // As bytes: a text byte above 0x7F is a negative char, never equal to the reply's byte.
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return std::any_of(replies.begin(), replies.end(), [&](const std::vector<std::uint8_t>& reply) {
        return std::search(reply.begin(), reply.end(), bytes.begin(), bytes.end()) != reply.end();
    });
}

// One machine: a VX310 on a path (another maker's drive before it, or not) and a SATA
// drive whose model names the maker.
struct Machine {
    sim::SimComputer pc;
    sim::SimDisk* vx310 = nullptr;
    sim::SimDisk* sata = nullptr;

    Machine(sim::SimNvmePath path, bool foreignFirst) {
        const std::size_t adapter = path == sim::SimNvmePath::IntelRst ? pc.AddIntelRstAdapter()
                                    : pc.AddAdapter(path == sim::SimNvmePath::Bridge ? sim::AdapterUsb : sim::AdapterNvme);
        if (foreignFirst) pc.AddForeignNvmeDrive(adapter, "Other Maker NVMe SSD 1TB", path);
        vx310 = &pc.AddVx310(adapter, path);
        sim::SimAtaConfig ataConfig;
        ataConfig.identity.model = "Tavik VX310 SATA";
        sata = &pc.AddSataDrive(pc.AddAdapter(sim::AdapterSata), ataConfig);
        pc.Machine().KeepTrace(false);  // nothing here reads it
    }
};

// Built on first use, then reset for each input.
Machine& MachineFor(sim::SimNvmePath path, bool foreignFirst) {
    static std::unique_ptr<Machine> machines[4][2];
    std::unique_ptr<Machine>& machine = machines[static_cast<int>(path)][foreignFirst ? 1 : 0];
    if (!machine) machine = std::make_unique<Machine>(path, foreignFirst);
    else machine->pc.Reset();
    return *machine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const std::uint8_t shape = input.Byte();
    const auto path = static_cast<sim::SimNvmePath>(shape % 4);
    const bool foreignFirst = (shape & 4) != 0;
    const std::uint8_t initialState = (shape & 8) != 0 ? 0 : 2;
    const bool writeRejected = (shape & 16) != 0;
    // Behind RST the port, not the disk's path, leads to the drive: no exchange there.
    const bool exchangedWhileAsking = (shape & 32) != 0 && path != sim::SimNvmePath::IntelRst;

    Machine& machine = MachineFor(path, foreignFirst);
    sim::SimComputer& pc = machine.pc;
    sim::SimDisk& vx310 = *machine.vx310;
    sim::SimDisk& sata = *machine.sata;
    sim::SimNvmeController& controller = *vx310.controller;
    controller.Firmware().SetOptimizeState(initialState);
    sata.ataDevice->Firmware().SetOptimizeState(initialState);
    if (writeRejected) {
        controller.RejectCommands(sim::NvmeVendorWrite, std::nullopt, sim::NvmeInvalidField);
        sata.ataDevice->AbortCommands(0xFD);
    }

    HostileIo io(pc.Machine(), input);
    io.sataPaths.insert(Lower(sata.physicalPath));
    const platform::System system{io, pc.Tree(), pc.Volumes()};

    // ---- enumeration ----
    discovery::DriveTable table;
    discovery::EnumerateDrives(system, table);
    REQUIRE(io.OpenCount() == 0);
    for (const Exchange& x : io.exchanges) REQUIRE(x.kind != Kind::VendorWrite);
    REQUIRE(controller.Firmware().OptimizeState() == initialState);
    const discovery::DiskInfo* record = table[0].get();
    if (record != nullptr) {
        const std::string model = Trimmed(record->modelNumber.data(), record->modelNumber.size());
        REQUIRE(model.find("Tavik") != std::string::npos);
        REQUIRE(SomeReplyCarries(io.identifyReplies, model));
        REQUIRE(record->optimizeState == 0xFF || record->optimizeState == initialState ||
                io.Altered(Phase::Enumeration, Kind::VendorRead));
    }

    // ---- the switch ----
    if (record != nullptr && record->privateCmd) {
        io.StartPhase(Phase::Switch);
        sim::SimShutdown shutdown;
        ScriptedUser user;
        std::shared_ptr<sim::SimNvmeController> other;
        if (exchangedWhileAsking) {
            // Another Tavik drive now answers at the record's path.
            user.whileAsking = [&] {
                sim::SimNvmeConfig config;
                config.identity.serial = "TVK310B9999999999999";
                other = std::make_shared<sim::SimNvmeController>(config);
                std::shared_ptr<sim::SimEndpoint> stack;
                switch (path) {
                    case sim::SimNvmePath::Inbox: stack = std::make_shared<sim::SimInboxNvmeStack>(other); break;
                    case sim::SimNvmePath::Miniport: stack = std::make_shared<sim::SimMiniportStack>(other); break;
                    case sim::SimNvmePath::Bridge: stack = std::make_shared<sim::SimUsbBridgeStack>(other); break;
                    case sim::SimNvmePath::IntelRst: break;
                }
                pc.Machine().Attach(vx310.physicalPath, stack);
                if (path == sim::SimNvmePath::Miniport) pc.Machine().Attach(pc.Adapter(vx310.adapter).interfacePath, stack);
            };
        }
        io.onVendorWrite = [&](const Exchange&) {
            const Exchange* identify = io.Last(Phase::Switch, Kind::Identify);
            REQUIRE(identify != nullptr && identify->clean);
            REQUIRE(!exchangedWhileAsking || identify->altered);
        };
        const SwitchResult result = RunOptimizeSwitch(*record, io, shutdown, user);
        io.onVendorWrite = nullptr;
        REQUIRE(io.OpenCount() == 0);
        const bool switched =
            result.outcome == SwitchOutcome::ShutdownRequested || result.outcome == SwitchOutcome::ShutdownRefused;
        if (switched) {
            const Exchange* write = io.Last(Phase::Switch, Kind::VendorWrite);
            REQUIRE(write != nullptr && write->clean);
            REQUIRE(controller.Firmware().OptimizeState() == result.newState || write->altered);
        }
        if (other) REQUIRE(other->Firmware().OptimizeState() == 2 || io.Altered(Phase::Switch, Kind::Identify));
        if (exchangedWhileAsking) {
            // The VX310 answers at its paths again (the next input's reset would do it too).
            pc.Machine().Attach(vx310.physicalPath, vx310.stack);
            if (path == sim::SimNvmePath::Miniport)
                pc.Machine().Attach(pc.Adapter(vx310.adapter).interfacePath, vx310.stack);
        }
    }
    discovery::ReleaseDrives(table);

    // ---- the command layer on each transport ----
    // The command layer's RST target carries the VX310's address, as a record would.
    io.StartPhase(Phase::Commands, vx310.scsiAddress ? vx310.scsiAddress->pathId : -1);
    struct Target {
        std::wstring path;
        std::uint8_t transport;
        sim::SimVendorFirmware* firmware;
    };
    const std::uint8_t nvmeTransport = path == sim::SimNvmePath::Inbox      ? devicecmd::TransportNvmeInbox
                                       : path == sim::SimNvmePath::Miniport ? devicecmd::TransportNvmeMiniport
                                       : path == sim::SimNvmePath::Bridge   ? devicecmd::TransportUsbBridge
                                                                            : devicecmd::TransportIntelRst;
    const std::wstring nvmePath =
        path == sim::SimNvmePath::Miniport ? pc.Adapter(vx310.adapter).interfacePath : vx310.physicalPath;
    const Target targets[] = {
        {nvmePath, nvmeTransport, &controller.Firmware()},
        {sata.physicalPath, devicecmd::TransportSat, &sata.ataDevice->Firmware()},
        {sata.physicalPath, devicecmd::TransportAta, &sata.ataDevice->Firmware()},
    };
    for (const Target& target : targets) {
        platform::UniqueHandle handle = platform::UniqueHandle::Open(
            io, target.path, platform::AccessRead | platform::AccessWrite, platform::ShareRead | platform::ShareWrite,
            platform::OpenExisting, platform::AttributesNone);
        devicecmd::TransportWord word = devicecmd::MakeTransport(target.transport, devicecmd::VendorLayout7305);
        // As a drive record carries it: the address read when the drive was identified.
        if (target.transport == devicecmd::TransportIntelRst && vx310.scsiAddress) {
            const sim::SimScsiAddress& a = *vx310.scsiAddress;
            word = devicecmd::WithRstAddress(word, {a.portNumber, a.pathId, a.targetId, a.lun});
        }
        std::array<std::uint8_t, 4096> identify{};
        devicecmd::IdentifyDevice(handle.Ref(), word, identify.data(), 1, 0);
        const std::uint8_t before = target.firmware->OptimizeState();
        std::uint8_t state = 0x77;
        if (devicecmd::QueryOptimizeState(handle.Ref(), word, &state))
            REQUIRE(state == before || io.Altered(Phase::Commands, Kind::VendorRead));
        else
            REQUIRE(state == 0x77);
        const std::uint8_t value = before == 0 ? 2 : 0;
        devicecmd::CPrivateCMD7305 commands;
        const std::size_t firstWrite = io.exchanges.size();
        if (commands.SetOptimize(handle.Ref(), word, value)) {
            bool clean = true, altered = false;
            for (std::size_t i = firstWrite; i < io.exchanges.size(); ++i) {
                clean = clean && io.exchanges[i].clean;
                altered = altered || io.exchanges[i].altered;
            }
            // A write's last attempt is the one that succeeded: its drive took the value.
            REQUIRE(target.firmware->OptimizeState() == value || altered);
            (void)clean;
        }
        handle.Reset();
    }
    REQUIRE(io.OpenCount() == 0);
    REQUIRE(pc.Machine().OpenHandleCount() == 0);
    return 0;
}
