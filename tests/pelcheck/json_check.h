// The tests' JSON reader: nlohmann/json's parser, which refuses anything RFC 8259 does not allow
// (raw control characters in strings, bad escapes, malformed UTF-8, trailing commas, trailing
// text), and on top of it what that parser lets through: a member name given twice in one
// object, and nesting deeper than 64.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace peltest {

// Members stay in the document's order.
using Json = nlohmann::ordered_json;

// False with a reason, and `value` null, when `text` is not one valid JSON document.
bool ParseJson(const std::string& text, Json* value, std::string* error);

}  // namespace peltest
