// Prints JSON for people: whatever fits on one line stays on one line (a
// dictionary row, a key), larger values are broken up and indented.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace scrutordb {

std::string PrintJson(const nlohmann::ordered_json& value);

}  // namespace scrutordb
