#include "exposition_check.h"

#include <cmath>
#include <cstdlib>

namespace vq::metrics::check {
namespace {

std::string unescape(std::string_view text, std::size_t& i, char end, const std::string& line) {
    std::string out;
    for (; i < text.size() && text[i] != end; ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) throw FormatError("escape at end: " + line);
        if (text[i] == 'n') out += '\n';
        else if (text[i] == '\\' || text[i] == '"') out += text[i];
        else throw FormatError("unknown escape: " + line);
    }
    return out;
}

double parseValue(const std::string& text, const std::string& line) {
    if (text == "+Inf") return INFINITY;
    if (text == "-Inf") return -INFINITY;
    if (text == "NaN") return NAN;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end) throw FormatError("bad value: " + line);
    return value;
}

}  // namespace

Exposition parseExposition(std::string_view text) {
    Exposition families;
    std::string current;  // the family whose group is open
    std::set<std::string> closed;
    auto enter = [&](const std::string& name, const std::string& line) {
        if (name == current) return;
        if (closed.contains(name)) throw FormatError("family " + name + " is split: " + line);
        if (!current.empty()) closed.insert(current);
        current = name;
    };
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string_view::npos) throw FormatError("last line has no line feed");
        const std::string line(text.substr(start, end - start));
        start = end + 1;
        if (line.starts_with("# HELP ") || line.starts_with("# TYPE ")) {
            const auto space = line.find(' ', 7);
            const std::string name = line.substr(7, space - 7);
            const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
            enter(name, line);
            auto& family = families[name];
            if (line[2] == 'T') {
                if (!family.type.empty() || !family.series.empty()) throw FormatError("TYPE not first or repeated: " + line);
                family.type = rest;
            } else {
                std::size_t i = 0;
                family.help = unescape(rest, i, '\0', line);
            }
            continue;
        }
        if (line.empty() || line[0] == '#') continue;
        const auto nameEnd = line.find_first_of("{ ");
        const std::string name = line.substr(0, nameEnd);
        enter(name, line);
        LabelSet labels;
        std::size_t i = nameEnd;
        if (i < line.size() && line[i] == '{') {
            ++i;
            while (i < line.size() && line[i] != '}') {
                const auto equals = line.find('=', i);
                if (equals == std::string::npos || equals + 1 >= line.size() || line[equals + 1] != '"')
                    throw FormatError("bad label: " + line);
                const std::string label = line.substr(i, equals - i);
                i = equals + 2;
                std::string value = unescape(line, i, '"', line);
                if (i >= line.size()) throw FormatError("unterminated label value: " + line);
                ++i;
                if (!labels.emplace(label, value).second) throw FormatError("label twice: " + line);
                if (i < line.size() && line[i] == ',') ++i;
            }
            if (i >= line.size()) throw FormatError("unterminated labels: " + line);
            ++i;
        }
        if (i >= line.size() || line[i] != ' ') throw FormatError("no value: " + line);
        auto& family = families[name];
        if (!family.series.emplace(labels, parseValue(line.substr(i + 1), line)).second)
            throw FormatError("series twice: " + line);
    }
    return families;
}

std::set<std::set<std::string>> labelNameSets(const Family& family) {
    std::set<std::set<std::string>> sets;
    for (const auto& [labels, value] : family.series) {
        std::set<std::string> names;
        for (const auto& [name, ignored] : labels) names.insert(name);
        sets.insert(names);
    }
    return sets;
}

}  // namespace vq::metrics::check
