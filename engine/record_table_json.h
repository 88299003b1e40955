// The JSON side of record_table.h: rows of named fields as JSON values and text.
#pragma once

#include <nlohmann/json.hpp>

#include "engine/record_table.h"

// An array of objects keyed by the fields' keys, in field order.
nlohmann::ordered_json jsonRecords(const std::vector<FieldSpec>& fields, const std::vector<FieldRow>& rows);
// The form every JSON text of the tool has: two-space indent, bytes that are not UTF-8 replaced.
std::string jsonText(const nlohmann::ordered_json& value);
