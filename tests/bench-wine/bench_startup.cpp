// Start-up cost: from process start to the first painted frame of the 700x490 window,
// for each program given, started in turn (interleaved, so that both meet the same
// machine), under the same Wine. "Painted" is the window visible with nothing left to
// paint. Prints the median, the fastest and the slowest of each, and each program's
// median over the first one's: run it with the bare window program first. Beside the
// time, the mean of the processor time (user and kernel) the program had taken by then:
// on a busy machine it moves far less than the time, which waits for the processor too.
//
//   bench_startup.exe RUNS PROGRAM.exe [PROGRAM.exe ...]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Search {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindMain(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    RECT rect{};
    if (process == search->process && ::IsWindowVisible(window) && ::GetWindowRect(window, &rect) &&
        rect.right - rect.left == 700 && rect.bottom - rect.top == 490) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

double Now() {
    LARGE_INTEGER frequency, now;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

double Milliseconds(const FILETIME& t) {
    return static_cast<double>(static_cast<ULONGLONG>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000.0;
}

// Milliseconds to the first painted frame, or a negative value when it never came;
// processor: the processor time the program had taken by then.
double StartOnce(const std::wstring& program, double* processor) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    const HANDLE nul = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = nul;
    startup.hStdError = nul;
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + program + L"\"";
    const double start = Now();
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &info)) {
        ::CloseHandle(nul);
        return -1;
    }
    double took = -1;
    while (Now() - start < 60000) {
        Search search{info.dwProcessId, nullptr};
        ::EnumWindows(FindMain, reinterpret_cast<LPARAM>(&search));
        if (search.found && !::GetUpdateRect(search.found, nullptr, FALSE)) {
            took = Now() - start;
            FILETIME created, ended, kernel, user;
            if (::GetProcessTimes(info.hProcess, &created, &ended, &kernel, &user)) {
                *processor = Milliseconds(kernel) + Milliseconds(user);
            }
            break;
        }
        if (::WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0) break;
        ::Sleep(0);
    }
    ::TerminateProcess(info.hProcess, 0);
    ::WaitForSingleObject(info.hProcess, 10000);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    ::CloseHandle(nul);
    return took;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_startup RUNS PROGRAM.exe [PROGRAM.exe ...]\n");
        return 2;
    }
    const int runs = std::max(1, _wtoi(argv[1]));
    std::vector<std::wstring> programs(argv + 2, argv + argc);
    std::vector<std::vector<double>> times(programs.size());
    std::vector<double> processor(programs.size());  // summed over the runs
    double ignored = 0;
    for (std::size_t p = 0; p < programs.size(); ++p) StartOnce(programs[p], &ignored);  // warm the caches once
    for (int run = 0; run < runs; ++run) {
        for (std::size_t p = 0; p < programs.size(); ++p) {
            double cpu = 0;
            const double took = StartOnce(programs[p], &cpu);
            if (took < 0) {
                std::fwprintf(stderr, L"%ls showed no painted 700x490 window\n", programs[p].c_str());
                return 1;
            }
            times[p].push_back(took);
            processor[p] += cpu;
        }
    }
    std::printf("%-28s %10s %10s %10s %8s %10s %8s\n", "program (start to first frame)", "median ms", "min ms",
                "max ms", "ratio", "cpu ms", "ratio");
    double base = 0, cpuBase = 0;
    for (std::size_t p = 0; p < programs.size(); ++p) {
        std::vector<double>& t = times[p];
        std::sort(t.begin(), t.end());
        const double median = t[t.size() / 2];
        // The mean: the system counts processor time in ticks of several milliseconds.
        const double cpu = processor[p] / runs;
        if (p == 0) base = median, cpuBase = cpu;
        const std::wstring name = programs[p].substr(programs[p].find_last_of(L"\\/") + 1);
        std::printf("%-28ls %10.1f %10.1f %10.1f %8.2f %10.1f %8.2f\n", name.c_str(), median, t.front(), t.back(),
                    median / base, cpu, cpuBase > 0 ? cpu / cpuBase : 0.0);
    }
    std::printf("%d runs each, interleaved\n", runs);
    return 0;
}
