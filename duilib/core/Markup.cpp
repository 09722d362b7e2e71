#include "duilib/core/Markup.h"

#include <cstdint>

namespace DuiLib {
namespace {

// Deeper nesting than any layout needs; keeps the parser's recursion bounded.
constexpr int kMaxDepth = 256;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNameStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// The characters XML allows in a document.
bool IsXmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendCodePoint(std::wstring& out, char32_t c) {
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (c & 0x3FF)));
            return;
        }
    }
    out.push_back(static_cast<wchar_t>(c));
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<MarkupNode> Document(std::string* error) {
        std::optional<MarkupNode> root = ParseDocument();
        if (!root && error) *error = "line " + std::to_string(LineOf(errorAt_)) + ": " + message_;
        return root;
    }

private:
    std::optional<MarkupNode> ParseDocument() {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
        if (text_.substr(pos_, 5) == "<?xml" && pos_ + 5 < text_.size() &&
            IsSpace(text_[pos_ + 5])) {
            if (!SkipPast("?>", "unterminated XML declaration")) return std::nullopt;
        }
        if (!SkipMisc()) return std::nullopt;
        if (AtEnd() || Peek() != '<') return Error("expected the root element");
        MarkupNode root;
        if (!ParseElement(root, 1)) return std::nullopt;
        if (!SkipMisc()) return std::nullopt;
        if (!AtEnd()) return Error("content after the root element");
        return root;
    }

    // Whitespace, comments and processing instructions, as allowed around the root.
    bool SkipMisc() {
        for (;;) {
            while (!AtEnd() && IsSpace(Peek())) ++pos_;
            if (StartsWith("<!--")) {
                if (!SkipComment()) return false;
            } else if (StartsWith("<?")) {
                if (!SkipPast("?>", "unterminated processing instruction")) return false;
            } else {
                return true;
            }
        }
    }

    bool SkipComment() {
        pos_ += 4;
        return SkipPast("-->", "unterminated comment");
    }

    // Moves past the next `terminator`, checking the encoding of what is skipped.
    bool SkipPast(std::string_view terminator, const char* unterminated) {
        const std::size_t start = pos_;
        const std::size_t found = text_.find(terminator, pos_);
        if (found == std::string_view::npos) return Fail(start, unterminated);
        while (pos_ < found) {
            if (!NextChar()) return false;
        }
        pos_ = found + terminator.size();
        return true;
    }

    bool ParseElement(MarkupNode& node, int depth) {
        if (depth > kMaxDepth) return Fail(pos_, "elements nested too deeply");
        ++pos_;  // '<'
        if (!ParseName(node.name)) return false;
        for (;;) {
            const bool spaced = SkipSpaces();
            if (AtEnd()) return Fail(pos_, "unterminated start tag");
            if (StartsWith("/>")) {
                pos_ += 2;
                return true;
            }
            if (Peek() == '>') {
                ++pos_;
                break;
            }
            if (!spaced) return Fail(pos_, "expected whitespace before an attribute");
            std::wstring name;
            std::wstring value;
            if (!ParseName(name)) return false;
            SkipSpaces();
            if (AtEnd() || Peek() != '=') return Fail(pos_, "expected '=' after an attribute name");
            ++pos_;
            SkipSpaces();
            if (!ParseAttributeValue(value)) return false;
            node.attributes.emplace_back(std::move(name), std::move(value));
        }
        return ParseContent(node, depth);
    }

    bool ParseContent(MarkupNode& node, int depth) {
        std::wstring ignoredText;
        for (;;) {
            if (AtEnd()) return Fail(pos_, "unclosed element");
            const char c = Peek();
            if (c == '&') {
                if (!ParseReference(ignoredText)) return false;
            } else if (c != '<') {
                if (StartsWith("]]>")) return Fail(pos_, "']]>' in text");
                if (!NextChar()) return false;
            } else if (StartsWith("</")) {
                return ParseEndTag(node.name);
            } else if (StartsWith("<!--")) {
                if (!SkipComment()) return false;
            } else if (StartsWith("<![CDATA[")) {
                pos_ += 9;
                if (!SkipPast("]]>", "unterminated CDATA section")) return false;
            } else if (StartsWith("<?")) {
                if (!SkipPast("?>", "unterminated processing instruction")) return false;
            } else if (pos_ + 1 < text_.size() && IsNameStart(text_[pos_ + 1])) {
                node.children.emplace_back();
                if (!ParseElement(node.children.back(), depth + 1)) return false;
            } else {
                return Fail(pos_, "unexpected '<'");
            }
            ignoredText.clear();
        }
    }

    bool ParseEndTag(const std::wstring& openName) {
        const std::size_t start = pos_;
        pos_ += 2;
        std::wstring name;
        if (!ParseName(name)) return false;
        SkipSpaces();
        if (AtEnd() || Peek() != '>') return Fail(pos_, "unterminated end tag");
        ++pos_;
        if (name != openName) return Fail(start, "end tag does not match the open element");
        return true;
    }

    bool ParseName(std::wstring& name) {
        if (AtEnd() || !IsNameStart(Peek())) return Fail(pos_, "expected a name");
        while (!AtEnd() && IsNameChar(Peek())) {
            const std::size_t at = pos_;
            char32_t c = 0;
            if (!NextChar(&c)) return false;
            if (c >= 0x80 && !IsXmlChar(c)) return Fail(at, "invalid character in a name");
            AppendCodePoint(name, c);
        }
        return true;
    }

    bool ParseAttributeValue(std::wstring& value) {
        if (AtEnd() || (Peek() != '"' && Peek() != '\'')) {
            return Fail(pos_, "expected a quoted attribute value");
        }
        const char quote = Peek();
        const std::size_t start = pos_++;
        // Each character of the value takes at least one byte of the input.
        const std::size_t close = text_.find(quote, pos_);
        if (close != std::string_view::npos) value.reserve(close - pos_);
        for (;;) {
            if (AtEnd()) return Fail(start, "unterminated attribute value");
            const char c = Peek();
            if (c == quote) {
                ++pos_;
                return true;
            }
            if (c == '<') return Fail(pos_, "'<' in an attribute value");
            if (c == '&') {
                if (!ParseReference(value)) return false;
                continue;
            }
            if (c == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ++pos_;
            char32_t decoded = 0;
            if (!NextChar(&decoded)) return false;
            // Literal line breaks and tabs in a value read as spaces.
            const bool space = decoded < 0x80 && IsSpace(static_cast<char>(decoded));
            AppendCodePoint(value, space ? U' ' : decoded);
        }
    }

    // An entity or character reference at '&', appended to `out`.
    bool ParseReference(std::wstring& out) {
        const std::size_t start = pos_;
        const std::size_t semicolon = text_.find(';', pos_);
        if (semicolon == std::string_view::npos || semicolon - pos_ > 12) {
            return Fail(start, "unterminated reference");
        }
        const std::string_view body = text_.substr(pos_ + 1, semicolon - pos_ - 1);
        pos_ = semicolon + 1;
        static constexpr std::pair<std::string_view, wchar_t> kEntities[] = {
            {"lt", L'<'}, {"gt", L'>'}, {"amp", L'&'}, {"apos", L'\''}, {"quot", L'"'}};
        for (const auto& [entity, character] : kEntities) {
            if (body == entity) {
                out.push_back(character);
                return true;
            }
        }
        if (body.size() < 2 || body[0] != '#') return Fail(start, "unknown entity reference");
        const bool hex = body[1] == 'x';
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty()) return Fail(start, "empty character reference");
        char32_t code = 0;
        for (const char d : digits) {
            int digit = -1;
            if (d >= '0' && d <= '9') digit = d - '0';
            else if (hex && d >= 'a' && d <= 'f') digit = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F') digit = d - 'A' + 10;
            if (digit < 0) return Fail(start, "bad digit in a character reference");
            code = code * (hex ? 16 : 10) + static_cast<char32_t>(digit);
            if (code > 0x10FFFF) return Fail(start, "character reference out of range");
        }
        if (!IsXmlChar(code)) return Fail(start, "character reference to a character XML forbids");
        AppendCodePoint(out, code);
        return true;
    }

    // Decodes one UTF-8 character at the current position and moves past it.
    bool NextChar(char32_t* decoded = nullptr) {
        const std::size_t start = pos_;
        const unsigned char lead = static_cast<unsigned char>(text_[pos_]);
        char32_t c = 0;
        std::size_t length = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            c = lead;
            length = 1;
        } else if ((lead & 0xE0) == 0xC0) {
            c = lead & 0x1F;
            length = 2;
            minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            c = lead & 0x0F;
            length = 3;
            minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            c = lead & 0x07;
            length = 4;
            minimum = 0x10000;
        } else {
            return Fail(start, "invalid UTF-8");
        }
        if (length > text_.size() - pos_) return Fail(start, "invalid UTF-8");
        for (std::size_t i = 1; i < length; ++i) {
            const unsigned char next = static_cast<unsigned char>(text_[pos_ + i]);
            if ((next & 0xC0) != 0x80) return Fail(start, "invalid UTF-8");
            c = c << 6 | (next & 0x3F);
        }
        if (c < minimum) return Fail(start, "invalid UTF-8");
        if (!IsXmlChar(c)) return Fail(start, "character XML forbids");
        pos_ += length;
        if (decoded) *decoded = c;
        return true;
    }

    bool SkipSpaces() {
        const std::size_t start = pos_;
        while (!AtEnd() && IsSpace(Peek())) ++pos_;
        return pos_ != start;
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return text_[pos_]; }
    bool StartsWith(std::string_view prefix) const {
        return text_.compare(pos_, prefix.size(), prefix) == 0;
    }

    bool Fail(std::size_t at, const char* message) {
        errorAt_ = at;
        message_ = message;
        return false;
    }
    std::nullopt_t Error(const char* message) {
        Fail(pos_, message);
        return std::nullopt;
    }

    std::size_t LineOf(std::size_t offset) const {
        std::size_t line = 1;
        for (std::size_t i = 0; i < offset && i < text_.size(); ++i) {
            if (text_[i] == '\n') ++line;
        }
        return line;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t errorAt_ = 0;
    std::string message_;
};

}  // namespace

const std::wstring* MarkupNode::Attribute(std::wstring_view attributeName) const {
    for (const auto& [name, value] : attributes) {
        if (name == attributeName) return &value;
    }
    return nullptr;
}

std::optional<MarkupNode> CMarkup::Parse(std::string_view utf8, std::string* error) {
    return Parser(utf8).Document(error);
}

}  // namespace DuiLib
