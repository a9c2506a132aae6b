#pragma once
// Small helpers for the line-and-field text formats of /proc and /sys.

#include <array>
#include <charconv>
#include <optional>
#include <string_view>
#include <vector>

namespace vq::linux_platform {

// The first line of `text` (without its newline), which is taken off
// `text`: a walk over the lines that allocates nothing.
inline std::string_view takeLine(std::string_view& text) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    return line;
}

// `text` without the spaces, tabs and line feeds around it.
inline std::string_view trimBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

inline std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) lines.push_back(takeLine(text));
    return lines;
}

inline std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

// The fields of `line` into `fields` without allocating: the number of
// fields, or fields.size() + 1 when the line has more than fit.
template <std::size_t N>
std::size_t splitFieldsInto(std::string_view line, std::array<std::string_view, N>& fields) {
    std::size_t count = 0, i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i == start) break;
        if (count == N) return N + 1;
        fields[count++] = line.substr(start, i - start);
    }
    return count;
}

// The whole field must be a number that fits T (floating types too).
template <typename T>
std::optional<T> parseInteger(std::string_view field) {
    T value{};
    const char* end = field.data() + field.size();
    auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (ec != std::errc() || ptr != end || field.empty()) return std::nullopt;
    return value;
}

// The whole field must be a decimal number ("0.52", "41500").
inline std::optional<double> parseDecimal(std::string_view field) { return parseInteger<double>(field); }

}  // namespace vq::linux_platform
