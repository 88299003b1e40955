// Rows of named fields written as CSV or JSON by one serialiser: the command line's device list and
// the run report use it with their own key tables (deviceListFields, reportDeviceFields), so a field
// is quoted, typed and named the same way wherever the tool writes it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

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
// Where written text goes, piece by piece (a file, a stream, a string).
using TextSink = std::function<void(std::string_view)>;
// An array of objects keyed by the fields' keys, in field order: `count` rows, row i from rowAt(i),
// written one at a time, never the whole array in memory. The text is what jsonText shows for the
// same array nested `depth` levels deep (depth 0: a document of its own).
void writeJsonRecords(const std::vector<FieldSpec>& fields, size_t count,
                      const std::function<FieldRow(size_t)>& rowAt, int depth, const TextSink& write);
// jsonText is in record_table_json.h, for the files that write JSON (the engine's users need
// no JSON library).
