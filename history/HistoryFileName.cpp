#include "history/HistoryFileName.h"

#include <cstdint>
#include <cstdio>

namespace history {
namespace {

bool Kept(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// Cleans one text; changed says whether more than its spaces were replaced or trimmed
// (identify pads its texts with spaces, and a space becomes '_' as an '_' stays).
std::string Clean(std::string_view text, bool& changed) {
    std::string out;
    for (const char c : text) {
        if (Kept(c)) {
            out += c;
            continue;
        }
        if (c != ' ' && c != '_') changed = true;
        if (out.empty() || out.back() != '_') out += '_';
    }
    // Windows drops trailing dots and spaces from a name; leading ones are as unwelcome.
    auto edge = [&](char c) {
        if (c == '.') changed = true;
        return c == '.' || c == '_';
    };
    while (!out.empty() && edge(out.front())) out.erase(out.begin());
    while (!out.empty() && edge(out.back())) out.pop_back();
    return out;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, whatever follows a dot.
bool ReservedDeviceName(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    for (char& c : stem) c = Upper(c);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
    return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

// FNV-1a, 32 bits: a short, stable tag of the original texts.
std::uint32_t Hash(std::string_view model, std::string_view serial) {
    std::uint32_t h = 2166136261u;
    auto add = [&](unsigned char c) { h = (h ^ c) * 16777619u; };
    for (const char c : model) add(static_cast<unsigned char>(c));
    add(0);
    for (const char c : serial) add(static_cast<unsigned char>(c));
    return h;
}

}  // namespace

std::string HistoryFileName(std::string_view model, std::string_view serial) {
    bool changed = false;
    std::string stem = Clean(model, changed);
    const std::string cleanSerial = Clean(serial, changed);
    if (!cleanSerial.empty()) stem += (stem.empty() ? "" : "_") + cleanSerial;
    if (stem.empty()) {
        stem = "drive";
        changed = true;
    }
    if (ReservedDeviceName(stem)) {
        stem.insert(stem.begin(), '_');
        changed = true;
    }
    constexpr char Extension[] = ".csv";
    constexpr std::size_t TagBytes = 9;  // "-" and eight hex digits
    const std::size_t room = MaxFileNameBytes - (sizeof Extension - 1) - TagBytes;
    if (stem.size() > room) {
        stem.resize(room);
        changed = true;
        while (!stem.empty() && (stem.back() == '.' || stem.back() == '_')) stem.pop_back();
    }
    if (changed) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "-%08x", static_cast<unsigned>(Hash(model, serial)));
        stem += tag;
    }
    return stem + Extension;
}

}  // namespace history
