// The one unit that compiles stb_image; Image.cpp checks every input before stb sees it.
//
// Two settings make stb's behaviour on hostile input defined:
// - Every block stb allocates starts zeroed. Its JPEG decoder keeps its Huffman tables in one
//   allocation and never clears it, so a table the file never defines would otherwise be read
//   from whatever the heap held before (an earlier image's rows, say).
// - The build compiles this file with wrapping signed arithmetic (-fwrapv): the JPEG DC path
//   (predictor sum, dequantisation, progressive shift) overflows int on crafted coefficients,
//   and with wrapping the result is merely wrong pixels, the same on every build.

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

void* ZeroedAlloc(std::size_t size) { return std::calloc(1, size); }

// stb passes the old size along, so the grown part can be cleared as well.
void* ZeroedRealloc(void* block, std::size_t oldSize, std::size_t newSize) {
    void* grown = std::realloc(block, newSize);
    if (grown && newSize > oldSize) {
        std::memset(static_cast<unsigned char*>(grown) + oldSize, 0, newSize - oldSize);
    }
    return grown;
}

}  // namespace

#define STBI_MALLOC(size) ZeroedAlloc(size)
#define STBI_REALLOC_SIZED(block, oldSize, newSize) ZeroedRealloc(block, oldSize, newSize)
#define STBI_FREE(block) std::free(block)

// The skin holds PNG and JPEG images only; leaving the other formats out keeps
// the decoder's exposure to odd input small.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_MAX_DIMENSIONS 16384
#include <stb_image.h>
