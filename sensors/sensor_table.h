#pragma once
// Helpers shared by the temperature and fan miners' registry walks.

#include <array>
#include <charconv>
#include <map>
#include <string>

#include "miners/data_set.h"

namespace vq::sensor_table {

struct Row {
    const char* location;
    const char* divisor;
    const char* displayName;
    const char* priority;
};

// A table's divisor, as an integer; 0 for a text that is none.
inline int divisorOf(const std::string& text) {
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The priority group 0 to 3 of a priority text "1" to "4"; -1 for any other.
inline int groupOf(const std::string& priority) {
    const int value = divisorOf(priority);
    return value >= 1 && value <= 4 ? value - 1 : -1;
}

// A string property, or "" when it is missing or not a string.
inline std::string stringProperty(const Value& properties, const char* key) {
    if (!properties.is_object()) return {};
    auto it = properties.find(key);
    return it != properties.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// [display name, text] rows of the four priority maps, priority 1 first. The
// maps are ordered by display name, so the order within a group is stable.
inline Value rowsByPriority(const std::array<std::map<std::string, std::string>, 4>& groups) {
    Value rows = Value::array();
    for (const auto& group : groups)
        for (const auto& [name, text] : group) rows.push_back(Value::array({name, text}));
    return rows;
}

}  // namespace vq::sensor_table
