// Reading a drive's history for zephra-cli history: ten years of daily samples (3,650
// lines) read from the file and parsed, against reading the file's bytes alone; and the
// parse over 1 to 40 years, whose time per sample stays flat when it is linear.

#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "history/HistoryCsv.h"

namespace {

// A plausible life: wear, data and hours grow, the temperature wanders, errors are rare.
std::string History(int days) {
    std::string text = std::string(history::HistoryHeader) + "\n";
    history::HistorySample s;
    s.availableSpare = 100;
    s.availableSpareThreshold = 10;
    for (int day = 0; day < days; ++day) {
        s.timeUtc = 1577836800 + static_cast<std::int64_t>(day) * 86400;
        s.temperatureKelvin = static_cast<std::uint16_t>(300 + day * 7 % 25);
        s.percentageUsed = static_cast<std::uint8_t>(day / 40 > 255 ? 255 : day / 40);
        s.availableSpare = static_cast<std::uint8_t>(100 - day / 400);
        s.dataUnitsRead.low += 60000 + static_cast<std::uint64_t>(day % 17) * 1000;
        s.dataUnitsWritten.low += 40000 + static_cast<std::uint64_t>(day % 13) * 1000;
        s.powerOnHours.low += 9;
        s.powerCycles.low += 1;
        s.unsafeShutdowns.low += day % 90 == 0;
        s.errorLogEntries.low += day % 200 == 0;
        s.warningTemperatureMinutes += day % 150 == 0;
        text += history::FormatLine(s);
    }
    return text;
}

std::string Path(int days) { return "/tmp/zephra-bench-history-" + std::to_string(days) + ".csv"; }

void WriteFile(int days) {
    const std::string text = History(days);
    std::FILE* file = std::fopen(Path(days).c_str(), "wb");
    if (!file || std::fwrite(text.data(), 1, text.size(), file) != text.size()) std::abort();
    std::fclose(file);
}

// As the store reads: the size first, then the whole file in one read.
std::string ReadFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file || std::fseek(file, 0, SEEK_END) != 0) std::abort();
    std::string bytes(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    if (std::fread(&bytes[0], 1, bytes.size(), file) != bytes.size()) std::abort();
    std::fclose(file);
    return bytes;
}

// The thread's processor time in seconds: what a busy machine disturbs least.
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Both in one loop, alternating, so that the machine's load weighs on both alike.
void BM_TenYearsAgainstTheBytes(benchmark::State& state) {
    constexpr int Days = 3650;
    WriteFile(Days);
    double bytesOnly = 0, withParse = 0;
    std::size_t samples = 0, size = 0;
    for (auto _ : state) {
        const double t0 = CpuSeconds();
        const std::string bytes = ReadFile(Path(Days));
        benchmark::DoNotOptimize(bytes.data());
        const double t1 = CpuSeconds();
        const std::string again = ReadFile(Path(Days));
        const history::ParsedHistory parsed = history::ParseHistory(again);
        benchmark::DoNotOptimize(parsed.samples.data());
        const double t2 = CpuSeconds();
        bytesOnly += t1 - t0;
        withParse += t2 - t1;
        samples = parsed.samples.size();
        size = bytes.size();
    }
    if (samples != Days) state.SkipWithError("the history did not parse");
    const auto n = static_cast<double>(state.iterations());
    state.counters["samples"] = static_cast<double>(samples);
    state.counters["file_bytes"] = static_cast<double>(size);
    state.counters["read_cpu_us"] = bytesOnly / n * 1e6;
    state.counters["read_parse_cpu_us"] = withParse / n * 1e6;
    state.counters["ratio"] = withParse / bytesOnly;
    std::remove(Path(Days).c_str());
}
BENCHMARK(BM_TenYearsAgainstTheBytes)->Unit(benchmark::kMicrosecond);

void BM_ParseYears(benchmark::State& state) {
    const int days = static_cast<int>(state.range(0)) * 365;
    const std::string text = History(days);
    for (auto _ : state) {
        const history::ParsedHistory parsed = history::ParseHistory(text);
        benchmark::DoNotOptimize(parsed.samples.data());
    }
    state.SetItemsProcessed(state.iterations() * days);  // samples a second: flat when linear
}
BENCHMARK(BM_ParseYears)->Arg(1)->Arg(10)->Arg(40)->Unit(benchmark::kMicrosecond);

}  // namespace
