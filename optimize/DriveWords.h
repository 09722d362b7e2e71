#pragma once
// How a drive's capacity and optimize state are put into words: the same for the
// window's panel and for the command line.

#include <cstdint>
#include <string>

// Ids of the program's string table that name the optimize state.
enum StatusTextId : unsigned {
    TextOptimized = 139,    // "Has been optimized"
    TextOptimizable = 140,  // "Optimizable"
    TextUnknown = 141,      // "Unknown"
};

// 0 "Has been optimized", 2 "Optimizable", any other value (0xFF: not read) "Unknown".
StatusTextId OptimizeStatusTextId(std::uint8_t optimizeState);

// Sectors times bytes per sector (low 64 bits), divided by 2^30, as "%.02f GB".
std::wstring FormatCapacity(std::uint64_t totalSectors, std::uint32_t bytesPerSector);
