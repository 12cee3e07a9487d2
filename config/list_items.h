// Splitting of the documents' ","-separated lists ("Active", "MenuList", "invoker").
#pragma once

#include <string>

namespace pel {

// Calls `each(item)` for every item in order until it returns true. Items are not trimmed;
// a trailing "," adds no item, while an empty item between two commas is passed on.
template <class Each>
void ForEachListItem(std::wstring list, Each&& each) {
    for (size_t comma = list.find(L','); comma != std::wstring::npos; comma = list.find(L',')) {
        const std::wstring item = list.substr(0, comma);
        list.erase(0, comma + 1);
        if (each(item)) return;
    }
    if (!list.empty()) each(list);
}

}  // namespace pel
