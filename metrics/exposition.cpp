#include "metrics/exposition.h"

#include <algorithm>
#include <charconv>
#include <cmath>

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

namespace {

// Appends `raw` escaped as a label value (quoted) or as HELP text. Nearly
// every text is plain ASCII with nothing to escape and is copied as it is;
// any other goes through validUtf8 and the escapes one byte at a time.
void appendEscaped(std::string& out, std::string_view raw, bool quoted) {
    const bool plain = std::all_of(raw.begin(), raw.end(), [&](char c) {
        return static_cast<unsigned char>(c) < 0x80 && c != '\\' && c != '\n' && !(quoted && c == '"');
    });
    if (plain) {
        out += raw;
        return;
    }
    for (char c : validUtf8(raw)) {
        if (c == '\\') out += "\\\\";
        else if (quoted && c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
}

void appendValue(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
    } else if (std::isinf(value)) {
        out += value > 0 ? "+Inf" : "-Inf";
    } else {
        char buffer[32];
        auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
        out.append(error == std::errc{} ? std::string_view(buffer, std::size_t(end - buffer)) : "NaN");
    }
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
    std::string out;
    appendEscaped(out, raw, true);
    return out;
}

std::string escapeHelp(std::string_view raw) {
    std::string out;
    appendEscaped(out, raw, false);
    return out;
}

std::string formatValue(double value) {
    std::string out;
    appendValue(out, value);
    return out;
}

bool isValidMetricName(std::string_view name) {
    if (name.empty() || !(isNameStart(name[0]) || name[0] == ':')) return false;
    return std::all_of(name.begin(), name.end(), [](char c) { return isNameChar(c) || c == ':'; });
}

bool isValidLabelName(std::string_view name) {
    if (name.empty() || !isNameStart(name[0]) || name.starts_with("__")) return false;
    return std::all_of(name.begin(), name.end(), isNameChar);
}

void ExpositionWriter::family(std::initializer_list<std::string_view> name,
                              std::initializer_list<std::string_view> help, MetricType type) {
    name_.clear();
    for (auto part : name) name_ += part;
    help_.clear();
    for (auto part : help) help_ += part;
    type_ = type;
    nameValid_ = isValidMetricName(name_);
    headerWritten_ = false;
}

void ExpositionWriter::sample(const Label* labels, std::size_t count, double value) {
    bool valid = nameValid_;
    for (std::size_t i = 0; i < count && valid; ++i) {
        valid = isValidLabelName(labels[i].first);
        for (std::size_t j = 0; j < i && valid; ++j) valid = labels[j].first != labels[i].first;
    }
    if (!valid) {
        ++rejected_;
        return;
    }
    if (!headerWritten_) {
        out_ += "# HELP ";
        out_ += name_;
        out_ += ' ';
        appendEscaped(out_, help_, false);
        out_ += "\n# TYPE ";
        out_ += name_;
        out_ += ' ';
        out_ += typeName(type_);
        out_ += '\n';
        headerWritten_ = true;
    }
    out_ += name_;
    if (count > 0) {
        out_ += '{';
        for (std::size_t i = 0; i < count; ++i) {
            if (i) out_ += ',';
            out_ += labels[i].first;
            out_ += "=\"";
            appendEscaped(out_, labels[i].second, true);
            out_ += '"';
        }
        out_ += '}';
    }
    out_ += ' ';
    appendValue(out_, value);
    out_ += '\n';
}

}  // namespace vq::metrics
