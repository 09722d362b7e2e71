#pragma once
// A small JSON document builder for the command line's machine-readable output: objects
// keep their members in the order they were set, so the output reads the same every run.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cli {

class Json {
public:
    static Json Null() { return Json(Kind::Null); }
    static Json Bool(bool value);
    static Json Number(std::int64_t value);
    static Json Unsigned(std::uint64_t value);
    // 8-bit text: ASCII as it is; other bytes are taken as Latin-1 (identify texts are ASCII
    // by rule, so anything else a drive sends is shown, never passed on as broken UTF-8).
    static Json Text(std::string_view latin1);
    // Text that is already UTF-8 (the program's own words).
    static Json Utf8(std::string_view utf8);
    static Json Object() { return Json(Kind::Object); }
    static Json Array() { return Json(Kind::Array); }

    // Object: sets (or replaces) a member. Array: appends.
    Json& Set(std::string key, Json value);
    Json& Add(Json value);

    // Two-space indented, one member per line, ending in a line feed.
    std::string Dump() const;

private:
    enum class Kind { Null, Bool, Number, String, Object, Array };
    explicit Json(Kind kind) : kind_(kind) {}
    void DumpTo(std::string& out, int depth) const;

    Kind kind_;
    std::string scalar_;  // the literal for Bool and Number; the escaped text for String
    std::vector<std::pair<std::string, Json>> members_;
    std::vector<Json> items_;
};

}  // namespace cli
