// libFuzzer entry point for the layout markup reader: parse the input and walk the tree.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "duilib/core/Markup.h"

namespace {
std::size_t Walk(const DuiLib::MarkupNode& node) {
    std::size_t total = node.name.size();
    for (const auto& [name, value] : node.attributes) total += name.size() + value.size();
    for (const auto& child : node.children) total += Walk(child);
    return total;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto root = DuiLib::CMarkup::Parse(
        std::string_view(reinterpret_cast<const char*>(data), size), &error);
    if (root) {
        if (root->name.empty() || Walk(*root) > size) __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();  // every failure carries a message
    }
    return 0;
}
