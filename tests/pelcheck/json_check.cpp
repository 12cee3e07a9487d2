#include "json_check.h"

#include <set>
#include <utility>
#include <vector>

namespace peltest {

bool ParseJson(const std::string& text, Json* value, std::string* error) {
    constexpr int kMaxDepth = 64;
    std::string refused;
    std::vector<std::set<std::string>> names;  // of the objects open at this point
    const Json::parser_callback_t check = [&](int depth, Json::parse_event_t event, Json& parsed) {
        if (depth > kMaxDepth && refused.empty()) refused = "nested too deeply";
        if (event == Json::parse_event_t::object_start) {
            names.emplace_back();
        } else if (event == Json::parse_event_t::object_end) {
            names.pop_back();
        } else if (event == Json::parse_event_t::key) {
            const std::string& name = parsed.get_ref<const std::string&>();
            if (!names.back().insert(name).second && refused.empty())
                refused = "member \"" + name + "\" twice in one object";
        }
        return true;
    };
    *value = Json();
    try {
        Json parsed = Json::parse(text, check);
        if (refused.empty()) {
            *value = std::move(parsed);
            return true;
        }
    } catch (const Json::exception& e) {  // a parse error, or a number out of range
        refused = e.what();
    }
    if (error) *error = refused;
    return false;
}

}  // namespace peltest
