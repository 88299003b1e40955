#include "engine/record_table.h"

#include "engine/record_table_json.h"

namespace {

std::string fieldText(const FieldValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* flag = std::get_if<bool>(&value)) return *flag ? "true" : "false";
    return std::to_string(std::get<std::int64_t>(value));
}

}  // namespace

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string csvRecord(const FieldRow& values, const char* lineEnd) {
    std::string line;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i > 0) line += ',';
        line += csvField(fieldText(values[i]));
    }
    return line + lineEnd;
}

std::string csvHeadings(const std::vector<FieldSpec>& fields, bool keys, const char* lineEnd) {
    FieldRow names;
    for (const FieldSpec& field : fields) names.emplace_back(std::string(keys ? field.key : field.heading));
    return csvRecord(names, lineEnd);
}

nlohmann::ordered_json jsonRecords(const std::vector<FieldSpec>& fields, const std::vector<FieldRow>& rows) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const FieldRow& row : rows) {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (size_t i = 0; i < fields.size() && i < row.size(); ++i)
            std::visit([&](const auto& value) { object[fields[i].key] = value; }, row[i]);
        array.push_back(std::move(object));
    }
    return array;
}

std::string jsonText(const nlohmann::ordered_json& value) {
    return value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
