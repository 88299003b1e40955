// Rows of named fields written as CSV or JSON by one serialiser: the command line's device list and
// the run report use it with their own key tables (deviceListFields, reportDeviceFields), so a field
// is quoted, typed and named the same way wherever the tool writes it.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

struct FieldSpec {
    const char* key;      // JSON key, and the CSV heading of the command line's list
    const char* heading;  // the report's CSV heading
};
using FieldValue = std::variant<std::string, bool, std::int64_t>;
using FieldRow = std::vector<FieldValue>;

// One CSV field: quoted (with doubled quotes) only when it holds a comma, a quote or a line end.
std::string csvField(const std::string& text);
// One CSV line of values (booleans as true/false), ended by `lineEnd`.
std::string csvRecord(const FieldRow& values, const char* lineEnd);
// The heading line: the fields' keys, or their headings.
std::string csvHeadings(const std::vector<FieldSpec>& fields, bool keys, const char* lineEnd);
// The JSON side is in record_table_json.h, for the files that write JSON (the engine's users need
// no JSON library).
