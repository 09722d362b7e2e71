#include "discovery/IntelRstAdapters.h"

namespace discovery {
namespace {

template <typename Char>
Char Upper(Char c) {
    return c >= Char('a') && c <= Char('z') ? static_cast<Char>(c - Char('a') + Char('A')) : c;
}

template <typename Char>
bool SameLetters(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SameLetters(text.substr(0, prefix.size()), prefix);
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && SameLetters(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace

bool IsIntelRstService(std::wstring_view service) {
    for (const std::wstring_view known : IntelRstServices)
        if (SameLetters(service, known)) return true;
    return false;
}

RstDisk ClassifyRstDisk(std::string_view vendor, std::string_view product) {
    vendor = Trimmed(vendor);
    product = Trimmed(product);
    // A volume first: whatever its members are, it is no one drive to send a command to.
    if (SameLetters(vendor, std::string_view("Intel")) && StartsWith(product, "Raid ") && EndsWith(product, " Volume"))
        return RstDisk::RaidVolume;
    if (SameLetters(vendor, std::string_view("NVMe"))) return RstDisk::Nvme;
    return RstDisk::Other;
}

}  // namespace discovery
