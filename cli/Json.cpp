#include "cli/Json.h"

#include <cstdio>

namespace cli {
namespace {

void Escape(std::string& out, std::uint32_t c) {
    switch (c) {
        case '"': out += "\\\""; return;
        case '\\': out += "\\\\"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        case '\t': out += "\\t"; return;
        default: break;
    }
    if (c < 0x20 || c == 0x7F) {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
        out += escaped;
    } else if (c < 0x80) {
        out += static_cast<char>(c);
    } else {  // 0x80..0xFF as UTF-8
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string Quoted(const std::string& escaped) { return "\"" + escaped + "\""; }

void Indent(std::string& out, int depth) { out.append(static_cast<std::size_t>(depth) * 2, ' '); }

}  // namespace

Json Json::Bool(bool value) {
    Json json(Kind::Bool);
    json.scalar_ = value ? "true" : "false";
    return json;
}

Json Json::Number(std::int64_t value) {
    Json json(Kind::Number);
    json.scalar_ = std::to_string(value);
    return json;
}

Json Json::Unsigned(std::uint64_t value) {
    Json json(Kind::Number);
    json.scalar_ = std::to_string(value);
    return json;
}

Json Json::Text(std::string_view latin1) {
    Json json(Kind::String);
    for (const char c : latin1) Escape(json.scalar_, static_cast<unsigned char>(c));
    return json;
}

Json Json::Utf8(std::string_view utf8) {
    Json json(Kind::String);
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) Escape(json.scalar_, byte);
        else json.scalar_ += c;  // multi-byte sequences pass unchanged
    }
    return json;
}

Json& Json::Set(std::string key, Json value) {
    for (auto& member : members_) {
        if (member.first == key) {
            member.second = std::move(value);
            return *this;
        }
    }
    members_.emplace_back(std::move(key), std::move(value));
    return *this;
}

Json& Json::Add(Json value) {
    items_.push_back(std::move(value));
    return *this;
}

std::string Json::Dump() const {
    std::string out;
    DumpTo(out, 0);
    out += '\n';
    return out;
}

void Json::DumpTo(std::string& out, int depth) const {
    switch (kind_) {
        case Kind::Null: out += "null"; return;
        case Kind::Bool:
        case Kind::Number: out += scalar_; return;
        case Kind::String: out += Quoted(scalar_); return;
        case Kind::Object: {
            if (members_.empty()) {
                out += "{}";
                return;
            }
            out += "{\n";
            for (std::size_t i = 0; i < members_.size(); ++i) {
                Indent(out, depth + 1);
                std::string key;
                for (const char c : members_[i].first) Escape(key, static_cast<unsigned char>(c));
                out += Quoted(key) + ": ";
                members_[i].second.DumpTo(out, depth + 1);
                out += i + 1 < members_.size() ? ",\n" : "\n";
            }
            Indent(out, depth);
            out += "}";
            return;
        }
        case Kind::Array: {
            if (items_.empty()) {
                out += "[]";
                return;
            }
            out += "[\n";
            for (std::size_t i = 0; i < items_.size(); ++i) {
                Indent(out, depth + 1);
                items_[i].DumpTo(out, depth + 1);
                out += i + 1 < items_.size() ? ",\n" : "\n";
            }
            Indent(out, depth);
            out += "]";
            return;
        }
    }
}

}  // namespace cli
