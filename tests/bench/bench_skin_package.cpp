// Loading the skin package: open the archive, read every entry, parse the layouts and
// decode every image, separately and all together.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "duilib/core/DpiScale.h"
#include "duilib/core/Image.h"
#include "duilib/core/Markup.h"
#include "duilib/core/ZipArchive.h"
#include "MainWindowImages.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using DuiLib::ZipArchive;

constexpr std::size_t kEntryLimit = 16 * 1024 * 1024;

bool EndsWith(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char c = text[text.size() - suffix.size() + i];
        if ((c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != suffix[i]) return false;
    }
    return true;
}

bool IsImage(std::string_view name) {
    return EndsWith(name, ".png") || EndsWith(name, ".jpg") || EndsWith(name, ".jpeg");
}

const Bytes& Package() {
    static const Bytes package = [] {
        std::ifstream file(ZEPHRA_SKIN_PACKAGE, std::ios::binary);
        Bytes bytes(std::istreambuf_iterator<char>(file), {});
        if (bytes.empty()) {
            std::fprintf(stderr, "cannot read the skin package %s\n", ZEPHRA_SKIN_PACKAGE);
            std::exit(1);
        }
        return bytes;
    }();
    return package;
}

struct Entry {
    std::string name;
    Bytes content;
};

std::vector<Entry> ReadAll(const ZipArchive& archive) {
    std::vector<Entry> entries;
    for (const auto& entry : archive.Entries()) {
        auto content = archive.Read(entry.name, kEntryLimit);
        if (!content) {
            std::fprintf(stderr, "cannot read %s\n", entry.name.c_str());
            std::exit(1);
        }
        entries.push_back({entry.name, std::move(*content)});
    }
    return entries;
}

std::size_t TotalSize(const std::vector<Entry>& entries) {
    std::size_t total = 0;
    for (const Entry& e : entries) total += e.content.size();
    return total;
}

void OpenPackage(benchmark::State& state) {
    const Bytes& package = Package();
    for (auto _ : state) {
        auto archive = ZipArchive::Open(package.data(), package.size());
        benchmark::DoNotOptimize(archive);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * package.size()));
}
BENCHMARK(OpenPackage);

void ReadEveryEntry(benchmark::State& state) {
    const Bytes& package = Package();
    const auto archive = ZipArchive::Open(package.data(), package.size());
    std::size_t total = 0;
    for (auto _ : state) {
        // An archive counts what all its reads inflate against its cap: one per round, as
        // each window opens its own.
        const auto round = ZipArchive::Open(package.data(), package.size());
        const auto entries = ReadAll(*round);
        total += TotalSize(entries);
        benchmark::DoNotOptimize(entries.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
    state.counters["entries"] = static_cast<double>(archive->Entries().size());
}
BENCHMARK(ReadEveryEntry)->Unit(benchmark::kMicrosecond);

void ParseEveryLayout(benchmark::State& state) {
    const Bytes& package = Package();
    const auto entries = ReadAll(*ZipArchive::Open(package.data(), package.size()));
    for (auto _ : state) {
        for (const Entry& e : entries) {
            if (!EndsWith(e.name, ".xml")) continue;
            auto root = DuiLib::CMarkup::Parse(
                {reinterpret_cast<const char*>(e.content.data()), e.content.size()});
            if (!root) state.SkipWithError(("cannot parse " + e.name).c_str());
            benchmark::DoNotOptimize(root);
        }
    }
}
BENCHMARK(ParseEveryLayout)->Unit(benchmark::kMicrosecond);

void DecodeEveryImage(benchmark::State& state) {
    const Bytes& package = Package();
    const auto entries = ReadAll(*ZipArchive::Open(package.data(), package.size()));
    std::size_t pixels = 0;
    for (auto _ : state) {
        for (const Entry& e : entries) {
            if (!IsImage(e.name)) continue;
            auto image = DuiLib::DecodeImage(e.content.data(), e.content.size());
            if (!image) state.SkipWithError(("cannot decode " + e.name).c_str());
            else pixels += image->pixels.size();
            benchmark::DoNotOptimize(image);
        }
    }
    state.counters["pixels/s"] = benchmark::Counter(static_cast<double>(pixels),
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(DecodeEveryImage)->Unit(benchmark::kMicrosecond);

// What a skinned window does at start: everything above, from the raw package.
void LoadWholePackage(benchmark::State& state) {
    const Bytes& package = Package();
    for (auto _ : state) {
        const auto archive = ZipArchive::Open(package.data(), package.size());
        for (const Entry& e : ReadAll(*archive)) {
            if (IsImage(e.name)) {
                auto image = DuiLib::DecodeImage(e.content.data(), e.content.size());
                benchmark::DoNotOptimize(image);
            } else {
                auto root = DuiLib::CMarkup::Parse(
                    {reinterpret_cast<const char*>(e.content.data()), e.content.size()});
                benchmark::DoNotOptimize(root);
            }
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * package.size()));
}
BENCHMARK(LoadWholePackage)->Unit(benchmark::kMicrosecond);

// A title-bar button image that carries a 3 MB text chunk before its pixels, as the
// shipped artwork may: the cost of skipping it.
void DecodeImageWithLargeTextChunk(benchmark::State& state) {
    const Bytes& package = Package();
    const auto archive = ZipArchive::Open(package.data(), package.size());
    const auto png = archive->Read("1btnMinNormal.png", kEntryLimit);
    if (!png) {
        state.SkipWithError("no 1btnMinNormal.png in the package");
        return;
    }
    constexpr std::size_t kAfterHeader = 8 + 25;  // signature and IHDR chunk
    constexpr std::uint32_t kTextSize = 3 * 1024 * 1024;
    Bytes chunk = {kTextSize >> 24, kTextSize >> 16 & 0xFF, kTextSize >> 8 & 0xFF,
                   kTextSize & 0xFF, 'i', 'T', 'X', 't'};
    const std::string_view head("XMP\0\0\0\0\0", 8);
    chunk.insert(chunk.end(), head.begin(), head.end());
    chunk.resize(8 + kTextSize, ' ');
    const auto crc = static_cast<std::uint32_t>(
        crc32(0L, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4)));
    chunk.insert(chunk.end(), {static_cast<std::uint8_t>(crc >> 24),
                               static_cast<std::uint8_t>(crc >> 16),
                               static_cast<std::uint8_t>(crc >> 8),
                               static_cast<std::uint8_t>(crc)});
    Bytes large(png->begin(), png->begin() + kAfterHeader);
    large.insert(large.end(), chunk.begin(), chunk.end());
    large.insert(large.end(), png->begin() + kAfterHeader, png->end());
    for (auto _ : state) {
        auto image = DuiLib::DecodeImage(large.data(), large.size());
        if (!image) state.SkipWithError("cannot decode the image with a large text chunk");
        benchmark::DoNotOptimize(image);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * large.size()));
}
BENCHMARK(DecodeImageWithLargeTextChunk)->Unit(benchmark::kMicrosecond);

// ---- the images drawn at 150 % and 200 %, against the package without them ----

const Bytes& PackageWithoutVariants() {
    static const Bytes package = [] {
        std::ifstream file(ZEPHRA_SKIN_PACKAGE_100, std::ios::binary);
        Bytes bytes(std::istreambuf_iterator<char>(file), {});
        if (bytes.empty()) {
            std::fprintf(stderr, "cannot read the skin package %s\n", ZEPHRA_SKIN_PACKAGE_100);
            std::exit(1);
        }
        return bytes;
    }();
    return package;
}

// Argument: 0 the package without the variants (as before them), 1 the package as shipped.
const Bytes& PackageOf(std::int64_t which) { return which ? Package() : PackageWithoutVariants(); }

void LoadWholePackageVariants(benchmark::State& state) {
    const Bytes& package = PackageOf(state.range(0));
    for (auto _ : state) {
        const auto archive = ZipArchive::Open(package.data(), package.size());
        for (const Entry& e : ReadAll(*archive)) {
            if (IsImage(e.name)) {
                auto image = DuiLib::DecodeImage(e.content.data(), e.content.size());
                benchmark::DoNotOptimize(image);
            } else {
                auto root = DuiLib::CMarkup::Parse({reinterpret_cast<const char*>(e.content.data()), e.content.size()});
                benchmark::DoNotOptimize(root);
            }
        }
    }
    state.counters["bytes"] = static_cast<double>(package.size());
    state.SetLabel(state.range(0) ? "with variants" : "without variants");
}
BENCHMARK(LoadWholePackageVariants)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// What the main window reads when it opens at a DPI (MainWindowImages.h).
void MainWindowAtStart(benchmark::State& state) {
    const int dpi = static_cast<int>(state.range(0));
    const Bytes& package = PackageOf(state.range(1));
    for (auto _ : state) {
        if (!bench::OpenMainWindowImages(package, dpi)) {
            state.SkipWithError("cannot read the main window's images");
            break;
        }
    }
    state.SetLabel(std::string(state.range(1) ? "with variants" : "without variants") + " at " + std::to_string(dpi));
}
// 125 %, 150 %, 175 % and 200 % have variants of their own; above 200 % the 200 % one is
// resized.
BENCHMARK(MainWindowAtStart)->Args({96, 0})->Apply([](benchmark::internal::Benchmark* b) {
    for (const int dpi : bench::kWindowsScaleDpis) b->Args({dpi, 1});
})->Unit(benchmark::kMicrosecond);

}  // namespace
