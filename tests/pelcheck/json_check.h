// A strict JSON reader for the tests: refuses anything RFC 8259 does not allow (raw control
// characters in strings, bad escapes, malformed UTF-8, trailing commas, trailing text) and
// gives back a tree to look into.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace peltest {

class JsonValue {
public:
    enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };

    Type type = Type::kNull;
    bool boolean = false;
    double number = 0;
    std::string text;  // UTF-8
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    bool IsNull() const { return type == Type::kNull; }
    bool Has(const std::string& key) const;
    // Member or item; a shared null value when absent.
    const JsonValue& operator[](const std::string& key) const;
    const JsonValue& operator[](size_t index) const;
    size_t Size() const { return type == Type::kArray ? items.size() : members.size(); }
};

// False with a reason when `text` is not one valid JSON value.
bool ParseJson(const std::string& text, JsonValue* value, std::string* error);

}  // namespace peltest
