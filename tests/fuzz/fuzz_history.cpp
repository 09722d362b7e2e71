// libFuzzer entry point for the history file's parser: any bytes are read without a fault,
// and whatever it accepts is written back and read again to the same samples.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "history/HistoryCsv.h"
#include "history/HistoryFileName.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const history::ParsedHistory parsed = history::ParseHistory(bytes);
    if (parsed.status != history::ParseStatus::Parsed) {
        if (!parsed.samples.empty()) __builtin_trap();
    } else {
        if (parsed.completeBytes > size || parsed.tornTail != (parsed.completeBytes < size)) __builtin_trap();
        std::string again = std::string(history::HistoryHeader) + "\n";
        for (const history::HistorySample& s : parsed.samples) {
            const std::string line = history::FormatLine(s);
            if (line.size() > history::MaxLineBytes) __builtin_trap();
            again += line;
        }
        const history::ParsedHistory reread = history::ParseHistory(again);
        if (reread.status != history::ParseStatus::Parsed || reread.tornTail ||
            reread.samples.size() != parsed.samples.size())
            __builtin_trap();
        for (std::size_t i = 0; i < parsed.samples.size(); ++i)
            if (reread.samples[i] != parsed.samples[i]) __builtin_trap();
    }
    // The same bytes as a model and serial: the name is always a safe one.
    const std::string name = history::HistoryFileName(bytes.substr(0, size / 2), bytes.substr(size / 2));
    if (name.size() > history::MaxFileNameBytes || name.size() < 5) __builtin_trap();
    for (const char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
              c == '.'))
            __builtin_trap();
    return 0;
}
