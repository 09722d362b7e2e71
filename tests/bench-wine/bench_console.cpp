// Console programs from process start to exit: each command line given, started in turn
// (interleaved, so that all meet the same machine) under the same Wine, its output
// thrown away. Prints the median, fastest and slowest of each, and each median over the
// first one's: give the bare console program first. Beside the time, the mean of the
// processor time each run took (user and kernel): on a busy machine it moves far less
// than the time to exit, which waits for the processor too.
//
//   bench_console.exe RUNS "PROGRAM.exe ARGS" ["PROGRAM.exe ARGS" ...]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

double Now() {
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Milliseconds(const FILETIME& t) {
    return static_cast<double>(static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000.0;
}

// The processor time a process has taken so far, user and kernel, in milliseconds.
double ProcessorTime(HANDLE process) {
    FILETIME created, ended, kernel, user;
    if (!::GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
    return Milliseconds(kernel) + Milliseconds(user);
}

// Milliseconds from CreateProcess to the process's end; negative when it did not start.
double RunOnce(std::wstring commandLine, DWORD* exitCode, double* processor) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const HANDLE nul = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION info{};
    const double start = Now();
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        ::CloseHandle(nul);
        return -1;
    }
    ::WaitForSingleObject(info.hProcess, INFINITE);
    const double took = Now() - start;
    ::GetExitCodeProcess(info.hProcess, exitCode);
    *processor = ProcessorTime(info.hProcess);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(nul);
    return took;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_console RUNS \"PROGRAM.exe ARGS\" [...]\n");
        return 2;
    }
    const int runs = std::max(1, _wtoi(argv[1]));
    std::vector<std::wstring> commands(argv + 2, argv + argc);
    std::vector<std::vector<double>> times(commands.size()), processor(commands.size());
    std::vector<DWORD> codes(commands.size());
    double ignored = 0;
    for (std::size_t c = 0; c < commands.size(); ++c) RunOnce(commands[c], &codes[c], &ignored);  // warm the caches once
    for (int run = 0; run < runs; ++run) {
        for (std::size_t c = 0; c < commands.size(); ++c) {
            double cpu = 0;
            const double took = RunOnce(commands[c], &codes[c], &cpu);
            if (took < 0) {
                std::fwprintf(stderr, L"cannot start %ls\n", commands[c].c_str());
                return 1;
            }
            times[c].push_back(took);
            processor[c].push_back(cpu);
        }
    }
    std::printf("%-36s %10s %10s %10s %8s %10s %8s %6s\n", "program (start to exit)", "median ms", "min ms", "max ms",
                "ratio", "cpu ms", "ratio", "exit");
    double base = 0, cpuBase = 0;
    for (std::size_t c = 0; c < commands.size(); ++c) {
        std::vector<double>& t = times[c];
        std::sort(t.begin(), t.end());
        const double median = t[t.size() / 2];
        // The mean: the system counts processor time in ticks of several milliseconds.
        double cpu = 0;
        for (double v : processor[c]) cpu += v;
        cpu /= static_cast<double>(processor[c].size());
        if (c == 0) base = median, cpuBase = cpu;
        std::wstring name = commands[c].substr(0, commands[c].find(L".exe") + 4);
        name = name.substr(name.find_last_of(L"\\/") + 1);
        // The command after the program's name tells the runs of one program apart.
        std::wstring args = commands[c].substr(std::min(commands[c].size(), commands[c].find(L".exe") + 4));
        const std::size_t last = args.find_last_of(L' ');
        int disks = 0;
        for (std::size_t at = args.find(L"--drive "); at != std::wstring::npos; at = args.find(L"--drive ", at + 1)) {
            ++disks;
        }
        if (disks > 0) name += L" " + std::to_wstring(disks) + L" disks";
        if (last != std::wstring::npos && last + 1 < args.size()) name += L" " + args.substr(last + 1);
        std::printf("%-36ls %10.1f %10.1f %10.1f %8.2f %10.1f %8.2f %6lu\n", name.c_str(), median, t.front(), t.back(),
                    median / base, cpu, cpuBase > 0 ? cpu / cpuBase : 0.0, codes[c]);
    }
    std::printf("%d runs each, interleaved\n", runs);
    return 0;
}
