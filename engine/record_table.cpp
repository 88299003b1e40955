#include "engine/record_table.h"

#include <string_view>

#include "engine/record_table_json.h"

namespace {

std::string fieldText(const FieldValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
    return std::to_string(std::get<std::int64_t>(value));
}

}  // namespace

std::string csvField(const std::string& text) {
    // A spreadsheet runs a cell that starts like a formula; the apostrophe makes it plain text.
    const bool formula =
        !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    const std::string cell = formula ? "'" + text : text;
    if (cell.find_first_of(",\"\n\r") == std::string::npos) return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string csvRecord(const FieldRow& values, const char* lineEnd) {
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) line += ',';
        // Only texts are neutralised: a number (a byte count) stays a number.
        if (std::holds_alternative<std::string>(values[i]))
            line += csvField(std::get<std::string>(values[i]));
        else
            line += fieldText(values[i]);
    }
    return line + lineEnd;
}

std::string terminalText(const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    shown.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        // C0 controls and DEL; C1 controls (U+0080..U+009F, "\xc2\x80".."\xc2\x9f" in UTF-8), which
        // some terminals also obey.
        const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c >= 0x20 && c != 0x7F && !c1) {
            shown += static_cast<char>(c);
            continue;
        }
        for (int k = 0; k < (c1 ? 2 : 1); ++k) {
            const unsigned char byte = static_cast<unsigned char>(text[i + k]);
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        }
        if (c1) ++i;
    }
    return shown;
}

std::string csvHeadings(const std::vector<FieldSpec>& fields, bool keys, const char* lineEnd) {
    FieldRow names;
    for (const FieldSpec& field : fields) names.emplace_back(std::string(keys ? field.key : field.heading));
    return csvRecord(names, lineEnd);
}

void writeJsonRecords(const std::vector<FieldSpec>& fields, size_t count,
                      const std::function<FieldRow(size_t)>& rowAt, int depth, const TextSink& write) {
    if (count == 0) return write("[]");
    const std::string inner(static_cast<size_t>(2 * (depth + 1)), ' ');
    write("[\n");
    for (size_t i = 0; i < count; ++i) {
        const FieldRow row = rowAt(i);
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (size_t f = 0; f < fields.size() && f < row.size(); ++f)
            std::visit([&](const auto& value) { object[fields[f].key] = value; }, row[f]);
        // The object's own text, each line moved in to its depth (line ends inside strings are
        // escaped, so every raw line end is the layout's).
        const std::string text = jsonText(object);
        std::string shifted = i == 0 ? inner : ",\n" + inner;
        for (char c : text) {
            shifted += c;
            if (c == '\n') shifted += inner;
        }
        write(shifted);
    }
    write("\n" + std::string(static_cast<size_t>(2 * depth), ' ') + "]");
}

std::string jsonText(const nlohmann::ordered_json& value) {
    return value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
