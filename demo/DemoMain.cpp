// The demo's entry point: Zephra, every window and flow, bound to a simulated machine
// instead of the system (the product's entry point, app/ZephraMain.cpp, binds the real
// one). Options: see DemoUsage, or zephra-demo --help.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/HostDialog.h"
#include "demo/DemoMachine.h"
#include "demo/DemoShutdown.h"
#include "demo/DemoOptions.h"
#include "demo/ReportMode.h"
#include "demo/TracedSystem.h"
#include "sim/SimShutdown.h"

namespace {

// How the system delivers a device change: sent to the registered window, which handles
// it on its own thread while the sender waits. The timeout keeps a hung window from
// holding the rescan worker for ever.
void SendDeviceChange(platform::Handle recipient, std::uint32_t event, const std::vector<std::uint8_t>& broadcast) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(static_cast<HWND>(recipient), WM_DEVICECHANGE, event,
                          reinterpret_cast<LPARAM>(broadcast.data()), SMTO_NORMAL, 5000, &result);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--report") == 0) return demo::RunReport(argc - 1, argv + 1);

    demo::DemoOptions options;
    std::string error;
    if (!demo::ParseDemoOptions(argc, argv, options, error) ||
        (options.beforeWrite != demo::DemoBeforeWrite::Nothing &&
         (error = "--before-write is zephra-cli-demo's (the window's rescans read the drive too)", true))) {
        std::fprintf(stderr, "zephra-demo: %s\n\n%s", error.c_str(), demo::DemoUsage());
        return 2;
    }
    if (options.help) {
        std::fputs(demo::DemoUsage(), stdout);
        return 0;
    }

    std::FILE* traceFile = nullptr;
    if (!options.traceFile.empty()) {
        traceFile = std::fopen(options.traceFile.c_str(), "w");
        if (!traceFile) {
            std::fprintf(stderr, "zephra-demo: cannot write %s\n", options.traceFile.c_str());
            return 2;
        }
    }

    if (!options.stateFile.empty() && !options.stateGiven) {
        if (const auto kept = demo::ReadStateFile(options.stateFile)) options.state = *kept;
    }

    int status = 0;
    {
        demo::DemoMachine machine(options);
        demo::TraceLog trace(traceFile);
        machine.SetMachineLock(trace.MachineLock());
        machine.Watch().SetDelivery(SendDeviceChange);
        demo::TracedSystem traced(trace, machine.System(), machine.Watch());
        sim::SimShutdown session;
        demo::TracedShutdown shutdown(trace, session);
        // As the system would: the session ends, and the program with it; the drive keeps
        // whatever state it now has into the next run.
        session.onAccepted = [&](const sim::SimShutdownRequest& request) {
            trace.Write(demo::TracedShutdown::ExitCall(request.flags, request.reason), "true, the session ends");
            if (!options.stateFile.empty()) {
                if (const auto state = machine.Vx310State()) demo::WriteStateFile(options.stateFile, *state);
            }
            // Not closed: the rescan worker may still be writing to it. Its lines are flushed.
            std::fflush(nullptr);
            ::ExitProcess(0);
        };
        // The drive locks are the host's, so that the demo's programs meet as the product's do.
        const AppSystem system{traced.Machine(), traced.Watch(), shutdown, &platform::SystemDriveLockIo()};
        CZephraApp app(system);
        status = RunApplication(app, ::GetModuleHandleW(nullptr));
        if (!options.stateFile.empty()) {
            if (const auto state = machine.Vx310State()) demo::WriteStateFile(options.stateFile, *state);
        }
    }
    if (traceFile) std::fclose(traceFile);
    return status;
}
