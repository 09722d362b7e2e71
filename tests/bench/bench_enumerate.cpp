// The enumeration pass runs on the user-interface thread at every disk arrival and
// removal, so its cost is the window's stall. Machines of 8 to 64 disks: the VX310 last,
// the others of other makers on mixed buses, one volume each. Reported per pass: the
// time, the system calls through the three seams, and the calls per foreign disk (the
// pass's calls less those of a machine with the VX310 alone, over the foreign disks).
// BM_EnumerateDrives/1 is that plain machine; the complexity line fits time against N.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "discovery/DebugLog.h"
#include "discovery/Enumerate.h"
#include "sim/SimComputer.h"
#include "tests/bench/BenchMachine.h"

namespace {

// Pass-through seams that count every call.
class CountingIo final : public platform::DeviceIo {
public:
    CountingIo(platform::DeviceIo& inner, std::uint64_t& calls) : inner_(inner), calls_(calls) {}
    platform::Handle Open(std::wstring_view path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                          std::uint32_t flags) override {
        ++calls_;
        return inner_.Open(path, access, share, creation, flags);
    }
    bool Close(platform::Handle handle) override {
        ++calls_;
        return inner_.Close(handle);
    }
    bool IoControl(platform::Handle handle, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                   std::uint32_t outSize, std::uint32_t* bytesReturned) override {
        ++calls_;
        return inner_.IoControl(handle, code, in, inSize, out, outSize, bytesReturned);
    }
    bool Read(platform::Handle handle, void* buffer, std::uint32_t size, std::uint32_t* bytesRead) override {
        ++calls_;
        return inner_.Read(handle, buffer, size, bytesRead);
    }
    std::uint32_t Seek(platform::Handle handle, std::int32_t distance, std::uint32_t origin) override {
        ++calls_;
        return inner_.Seek(handle, distance, origin);
    }
    std::uint32_t LastError() override { return inner_.LastError(); }  // no system call on Windows either
    void SetLastError(std::uint32_t error) override { inner_.SetLastError(error); }
    void DebugOutput(std::wstring_view text) override {
        ++calls_;
        inner_.DebugOutput(text);
    }

private:
    platform::DeviceIo& inner_;
    std::uint64_t& calls_;
};

class CountingInstall final : public platform::DeviceInstall {
public:
    CountingInstall(platform::DeviceInstall& inner, std::uint64_t& calls) : inner_(inner), calls_(calls) {}
    platform::DeviceInfoSet GetClassDevs(const platform::Guid& c, std::uint32_t flags) override {
        ++calls_;
        return inner_.GetClassDevs(c, flags);
    }
    bool DestroyDeviceInfoList(platform::DeviceInfoSet set) override {
        ++calls_;
        return inner_.DestroyDeviceInfoList(set);
    }
    bool EnumDeviceInterfaces(platform::DeviceInfoSet set, const platform::Guid& c, std::uint32_t index,
                              platform::DeviceInterfaceData* member) override {
        ++calls_;
        return inner_.EnumDeviceInterfaces(set, c, index, member);
    }
    bool GetDeviceInterfaceDetailSize(platform::DeviceInfoSet set, const platform::DeviceInterfaceData& member,
                                      std::uint32_t* required) override {
        ++calls_;
        return inner_.GetDeviceInterfaceDetailSize(set, member, required);
    }
    bool GetDeviceInterfaceDetail(platform::DeviceInfoSet set, const platform::DeviceInterfaceData& member,
                                  std::uint32_t size, std::wstring* path, platform::DeviceInfoData* device) override {
        ++calls_;
        return inner_.GetDeviceInterfaceDetail(set, member, size, path, device);
    }
    bool GetDeviceRegistryProperty(platform::DeviceInfoSet set, const platform::DeviceInfoData& device,
                                   std::uint32_t property, wchar_t* buffer, std::uint32_t capacity,
                                   std::uint32_t* required) override {
        ++calls_;
        return inner_.GetDeviceRegistryProperty(set, device, property, buffer, capacity, required);
    }
    std::uint32_t GetParent(platform::DevInst* parent, platform::DevInst child) override {
        ++calls_;
        return inner_.GetParent(parent, child);
    }
    std::uint32_t GetDevNodeRegistryProperty(platform::DevInst device, std::uint32_t property, wchar_t* buffer,
                                             std::uint32_t* capacity) override {
        ++calls_;
        return inner_.GetDevNodeRegistryProperty(device, property, buffer, capacity);
    }
    std::uint32_t GetDeviceId(platform::DevInst device, wchar_t* buffer, std::uint32_t capacity) override {
        ++calls_;
        return inner_.GetDeviceId(device, buffer, capacity);
    }

private:
    platform::DeviceInstall& inner_;
    std::uint64_t& calls_;
};

class CountingVolumes final : public platform::Volumes {
public:
    CountingVolumes(platform::Volumes& inner, std::uint64_t& calls) : inner_(inner), calls_(calls) {}
    bool VolumeNameForMountPoint(std::wstring_view mountPoint, wchar_t* name, std::uint32_t capacity) override {
        ++calls_;
        return inner_.VolumeNameForMountPoint(mountPoint, name, capacity);
    }
    bool VolumePathNames(std::wstring_view name, wchar_t* paths, std::uint32_t capacity,
                         std::uint32_t* length) override {
        ++calls_;
        return inner_.VolumePathNames(name, paths, capacity, length);
    }
    std::uint32_t DriveTypeOf(std::wstring_view root) override {
        ++calls_;
        return inner_.DriveTypeOf(root);
    }
    bool DiskFreeSpace(std::wstring_view root, platform::ClusterSpace* space) override {
        ++calls_;
        return inner_.DiskFreeSpace(root, space);
    }
    bool DiskFreeSpaceEx(std::wstring_view root, platform::ByteSpace* space) override {
        ++calls_;
        return inner_.DiskFreeSpaceEx(root, space);
    }
    bool FileSystemName(std::wstring_view root, wchar_t* name, std::uint32_t capacity) override {
        ++calls_;
        return inner_.FileSystemName(root, name, capacity);
    }
    std::uint32_t SystemDirectory(wchar_t* buffer, std::uint32_t capacity) override {
        ++calls_;
        return inner_.SystemDirectory(buffer, capacity);
    }
    std::wstring FromAnsiCodePage(std::string_view text) override {
        ++calls_;
        return inner_.FromAnsiCodePage(text);
    }

private:
    platform::Volumes& inner_;
    std::uint64_t& calls_;
};

struct Pass {
    std::uint64_t calls = 0;
    bool found = false;
};

Pass RunOnce(sim::SimComputer& pc) {
    Pass pass;
    CountingIo io(pc.Machine(), pass.calls);
    CountingInstall install(pc.Tree(), pass.calls);
    CountingVolumes volumes(pc.Volumes(), pass.calls);
    discovery::DriveTable table;
    discovery::EnumerateDrives({io, install, volumes}, table);
    pass.found = table[0] != nullptr && table[0]->isRightDevice == 1;
    pc.Machine().ClearTrace();
    return pass;
}

void BM_EnumerateDrives(benchmark::State& state) {
    const int disks = static_cast<int>(state.range(0));
    const auto pc = bench::MakeMachine(disks);
    const auto alone = bench::MakeMachine(1);
    const Pass base = RunOnce(*alone);
    const Pass one = RunOnce(*pc);
    if (!one.found || !base.found) {
        state.SkipWithError("the VX310 was not found");
        return;
    }

    std::uint64_t calls = 0;
    CountingIo io(pc->Machine(), calls);
    CountingInstall install(pc->Tree(), calls);
    CountingVolumes volumes(pc->Volumes(), calls);
    const platform::System system{io, install, volumes};
    discovery::DriveTable table;
    for (auto _ : state) {
        discovery::EnumerateDrives(system, table);
        benchmark::DoNotOptimize(table[0].get());
        state.PauseTiming();
        pc->Machine().ClearTrace();  // the simulator's record of every call would grow without end
        state.ResumeTiming();
    }
    state.SetComplexityN(disks);
    state.counters["disks"] = disks;
    state.counters["calls/pass"] = static_cast<double>(one.calls);
    if (disks > 1)
        state.counters["calls/foreign disk"] =
            static_cast<double>(one.calls - base.calls) / static_cast<double>(disks - 1);
}

BENCHMARK(BM_EnumerateDrives)->Arg(1)->Arg(8)->Arg(16)->Arg(32)->Arg(64)->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

// Building the simulated machine alone: the demo programs pay it before their first call,
// so it is part of what their start-up benchmarks measure, though no product contains it.
void BM_BuildMachine(benchmark::State& state) {
    const int disks = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const auto pc = bench::MakeMachine(disks);
        benchmark::DoNotOptimize(pc.get());
    }
    state.counters["disks"] = disks;
}

BENCHMARK(BM_BuildMachine)->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);

}  // namespace
