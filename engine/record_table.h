// Rows of named fields written as CSV or JSON by one serialiser: the command line's device list and
// the run report use it with their own key tables (deviceListFields, reportDeviceFields), so a field
// is quoted, typed and named the same way wherever the tool writes it.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json_fwd.hpp>

struct FieldSpec {
    const char* key;      // JSON key, and the CSV heading of the command line's list
    const char* heading;  // the report's CSV heading
};
using FieldValue = std::variant<std::string, bool, std::int64_t>;
using FieldRow = std::vector<FieldValue>;

// One CSV field: a text that starts with =, +, -, @, a tab or a carriage return gets a leading
// apostrophe (a spreadsheet would run it as a formula); quoted (with doubled quotes) only when it
// holds a comma, a quote or a line end.
std::string csvField(const std::string& text);
// One CSV line of values (booleans as true/false, numbers as they are), ended by `lineEnd`.
std::string csvRecord(const FieldRow& values, const char* lineEnd);
// The heading line: the fields' keys, or their headings.
std::string csvHeadings(const std::vector<FieldSpec>& fields, bool keys, const char* lineEnd);
// A text as a terminal may show it: control characters (C0, DEL, C1) in a visible form such as
// "\x1b"; everything else, UTF-8 included, unchanged.
std::string terminalText(const std::string& text);
// An array of objects keyed by the fields' keys, in field order.
nlohmann::ordered_json jsonRecords(const std::vector<FieldSpec>& fields, const std::vector<FieldRow>& rows);
// The form every JSON text of the tool has: two-space indent, bytes that are not UTF-8 replaced.
std::string jsonText(const nlohmann::ordered_json& value);
