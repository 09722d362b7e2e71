// The command line's entry point: zephra-cli bound to the real system. It runs as the
// caller is (no elevation prompt); without administrator rights it says so and exits 5.
#include "cli/Cli.h"
#include "cli/WinConsole.h"
#include "cli/WinProgress.h"

int wmain(int argc, wchar_t** argv) {
    cli::CliSystem system{platform::RealSystem(), platform::SystemShutdownIo(), cli::LoadProgramText,
                          cli::OpenLogFile, &platform::SystemFileStoreIo(), &platform::SystemDriveLockIo()};
    system.wait = cli::WaitMilliseconds;
    system.progress = cli::WriteProgress;
    system.progressIsConsole = cli::ProgressIsConsole();
    return cli::Deliver(cli::RunCli(cli::Utf8Arguments(argc, argv), system));
}
