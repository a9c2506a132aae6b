#pragma once
#include <cstdio>
#include <string>

namespace vq {

// snprintf into a std::string, for the miners' display formats.
template <typename... Args>
std::string formatText(const char* format, Args... args) {
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(n));
    std::string large(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(large.data(), large.size(), format, args...);
    large.resize(static_cast<std::size_t>(n));
    return large;
}

}  // namespace vq
