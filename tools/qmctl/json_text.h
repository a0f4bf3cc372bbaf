// JSON output of qmctl: nlohmann::ordered_json, written as one line.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace qm {

// Members stay in the order they were added.
using Json = nlohmann::ordered_json;

// `value` as one line of JSON without a line end. Text that is not valid
// UTF-8 has its bad sequences replaced by U+FFFD; control characters come out
// as \b \f \n \r \t or \u00XX with upper-case digits, and DEL as \u007F, as
// qmctl has always written them (scripts compare the output byte for byte).
std::string JsonLine(const Json& value);

}  // namespace qm
