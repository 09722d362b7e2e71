#include "discovery/IntelRstAdapters.h"

namespace discovery {
namespace {

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool SameLetters(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Upper(a[i]) != Upper(b[i])) return false;
    return true;
}

}  // namespace

bool IsIntelRstService(std::wstring_view service) {
    for (const std::wstring_view known : IntelRstServices)
        if (SameLetters(service, known)) return true;
    return false;
}

bool IsAtaDiskId(std::wstring_view instanceId) {
    constexpr std::wstring_view prefix = L"SCSI\\DISK&VEN_ATA&";
    return instanceId.size() >= prefix.size() && SameLetters(instanceId.substr(0, prefix.size()), prefix);
}

}  // namespace discovery
