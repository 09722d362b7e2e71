#pragma once
// A small reader for the layout markup: XML 1.0 in UTF-8, elements with attributes,
// comments, the XML declaration, character and the five predefined entity references.
// Attributes keep their order, and an attribute given twice stays twice.
// Malformed input gives a defined failure with a message, never a read past the input.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace DuiLib {

struct MarkupNode {
    std::wstring name;
    std::vector<std::pair<std::wstring, std::wstring>> attributes;  // in document order
    std::vector<MarkupNode> children;                               // elements only

    // The first attribute of that name, or null.
    const std::wstring* Attribute(std::wstring_view attributeName) const;
};

class CMarkup {
public:
    // Parses a whole document; the root element on success.
    static std::optional<MarkupNode> Parse(std::string_view utf8, std::string* error = nullptr);
};

}  // namespace DuiLib
