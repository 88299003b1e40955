// A small JSON reader and writer for the simulated site's configuration and record: values as a
// tree (objects keep their key order), strict parsing with a line:column message, and output with
// two-space indentation. Strings are UTF-8 as JSON requires; \u escapes (with surrogate pairs) are
// decoded to UTF-8. No limits besides a nesting depth of 64.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mini_json {

struct Value {
    enum class Type { Null, Bool, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0;
    int64_t integer = 0;  // exact value when isInteger
    bool isInteger = false;
    std::string string;
    std::vector<Value> array;
    std::vector<std::pair<std::string, Value>> object;

    Value() = default;
    static Value null() { return Value(); }
    static Value of(bool b);
    static Value of(int64_t n);
    static Value of(int n) { return of(static_cast<int64_t>(n)); }
    static Value of(double d);
    static Value of(std::string s);
    static Value of(const char* s) { return of(std::string(s)); }
    static Value makeArray();
    static Value makeObject();

    bool isNull() const { return type == Type::Null; }
    bool isBool() const { return type == Type::Bool; }
    bool isNumber() const { return type == Type::Number; }
    bool isString() const { return type == Type::String; }
    bool isArray() const { return type == Type::Array; }
    bool isObject() const { return type == Type::Object; }

    // Object member by key (the last one when repeated); null when absent or not an object.
    const Value* find(std::string_view key) const;
    // Adds or replaces an object member; returns it.
    Value& set(const std::string& key, Value value);
    // Appends to an array; returns the new element.
    Value& push(Value value);
};

// Parses one JSON text (surrounding blanks allowed). Absent with `error` = "line L, column C: why".
std::optional<Value> parse(std::string_view text, std::string& error);

// Writes a value; indent 0 gives one line.
std::string write(const Value& value, int indent = 2);

// A JSON string literal (with quotes) for UTF-8 text; invalid UTF-8 bytes become U+FFFD.
std::string quote(std::string_view utf8);

}  // namespace mini_json
