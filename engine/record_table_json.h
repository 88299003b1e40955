// The JSON side of record_table.h that names the JSON library's types, for the files that write JSON
// (the engine's other users need no JSON library).
#pragma once

#include <nlohmann/json.hpp>

#include "engine/record_table.h"

// The form every JSON text of the tool has: two-space indent, bytes that are not UTF-8 replaced.
std::string jsonText(const nlohmann::ordered_json& value);
