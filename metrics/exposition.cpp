#include "metrics/exposition.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

namespace vq::metrics {
namespace {

bool isNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9'); }

std::string_view typeName(MetricType type) {
    switch (type) {
    case MetricType::Counter: return "counter";
    case MetricType::Gauge: return "gauge";
    case MetricType::Untyped: return "untyped";
    }
    return "untyped";
}

bool labelsAreValid(const Labels& labels) {
    std::set<std::string_view> seen;
    return std::all_of(labels.begin(), labels.end(), [&](const auto& label) {
        return isValidLabelName(label.first) && seen.insert(label.first).second;
    });
}

// A series is told apart by its label set, whatever the order of its labels.
Labels sortedLabels(Labels labels) {
    std::sort(labels.begin(), labels.end());
    return labels;
}

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continuation = [&](std::size_t i) { return i < text.size() && (byte(i) & 0xC0) == 0x80; };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2)) return 0;
        if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0)) return 0;  // overlong, surrogate
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
        if ((lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90)) return 0;  // overlong, > U+10FFFF
        return 4;
    }
    return 0;
}

}  // namespace

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool inInvalidRun = false;
    while (!text.empty()) {
        const std::size_t length = utf8SequenceLength(text);
        if (length == 0) {
            if (!inInvalidRun) out += "\xEF\xBF\xBD";
            inInvalidRun = true;
            text.remove_prefix(1);
            continue;
        }
        inInvalidRun = false;
        out.append(text.substr(0, length));
        text.remove_prefix(length);
    }
    return out;
}

std::string escapeLabelValue(std::string_view raw) {
    const std::string value = validUtf8(raw);
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string escapeHelp(std::string_view raw) {
    const std::string help = validUtf8(raw);
    std::string out;
    out.reserve(help.size());
    for (char c : help) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string formatValue(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    char buffer[32];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return error == std::errc{} ? std::string(buffer, end) : "NaN";
}

bool isValidMetricName(std::string_view name) {
    if (name.empty() || !(isNameStart(name[0]) || name[0] == ':')) return false;
    return std::all_of(name.begin(), name.end(), [](char c) { return isNameChar(c) || c == ':'; });
}

bool isValidLabelName(std::string_view name) {
    if (name.empty() || !isNameStart(name[0]) || name.starts_with("__")) return false;
    return std::all_of(name.begin(), name.end(), isNameChar);
}

void ExpositionBuilder::add(MetricFamily family) {
    if (!isValidMetricName(family.name)) {
        rejected_ += family.samples.size();
        return;
    }
    auto existing = std::find_if(families_.begin(), families_.end(),
                                 [&](const MetricFamily& f) { return f.name == family.name; });
    if (existing == families_.end()) {
        families_.push_back({family.name, family.help, family.type, {}});
        existing = std::prev(families_.end());
    }
    std::set<Labels> seen;
    for (const auto& sample : existing->samples) seen.insert(sortedLabels(sample.labels));
    for (auto& sample : family.samples) {
        if (!labelsAreValid(sample.labels) || !seen.insert(sortedLabels(sample.labels)).second) {
            ++rejected_;
            continue;
        }
        existing->samples.push_back(std::move(sample));
    }
}

std::string ExpositionBuilder::text() const {
    std::string out;
    for (const auto& family : families_) {
        if (family.samples.empty()) continue;
        out += "# HELP " + family.name + " " + escapeHelp(family.help) + "\n";
        out += "# TYPE " + family.name + " " + std::string(typeName(family.type)) + "\n";
        for (const auto& sample : family.samples) {
            out += family.name;
            if (!sample.labels.empty()) {
                out += '{';
                for (std::size_t i = 0; i < sample.labels.size(); ++i) {
                    if (i) out += ',';
                    out += sample.labels[i].first + "=\"" + escapeLabelValue(sample.labels[i].second) + "\"";
                }
                out += '}';
            }
            out += ' ' + formatValue(sample.value) + '\n';
        }
    }
    return out;
}

}  // namespace vq::metrics
