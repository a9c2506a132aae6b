#include "alerts/alert_rules.h"

#include <glib.h>

#include <cmath>
#include <memory>

namespace vq::alerts {
namespace {

constexpr int kLongestHoldSeconds = 86400;

using KeyFile = std::unique_ptr<GKeyFile, decltype(&g_key_file_free)>;

KeyFile newKeyFile() { return KeyFile(g_key_file_new(), &g_key_file_free); }

bool lowerIsWorse(RuleKind kind) { return kind == RuleKind::battery; }

double largestThreshold(RuleKind kind) { return kind == RuleKind::temperature ? 150 : 100; }

std::string format(double value) {
    char text[G_ASCII_DTOSTR_BUF_SIZE];
    return g_ascii_dtostr(text, sizeof text, value);
}

}  // namespace

std::string_view ruleName(RuleKind kind) {
    switch (kind) {
        case RuleKind::temperature: return "temperature";
        case RuleKind::battery: return "battery";
        case RuleKind::volumes: return "volumes";
        case RuleKind::memory: return "memory";
        case RuleKind::fan: return "fan";
    }
    return "";
}

std::optional<RuleKind> ruleNamed(std::string_view name) {
    for (RuleKind kind : kRuleKinds)
        if (ruleName(kind) == name) return kind;
    return std::nullopt;
}

bool hasThresholds(RuleKind kind) { return kind != RuleKind::fan; }

RuleSettings defaultSettings(RuleKind kind) {
    switch (kind) {
        // For a sensor that reports its own critical limit, these move with
        // it: they are meant for a limit of 100 °C (see alert_checks.h).
        case RuleKind::temperature: return {true, 90, 97, 30, 85, 30};
        case RuleKind::battery: return {true, 10, 5, 0, 13, 0};
        case RuleKind::volumes: return {true, 90, 97, 0, 85, 0};
        case RuleKind::memory: return {true, 10, 40, 30, 5, 30};
        case RuleKind::fan: return {true, 0, 0, 0, 0, 30};
    }
    return {};
}

AllSettings defaultSettings() {
    AllSettings all;
    for (std::size_t i = 0; i < kRuleKinds.size(); ++i) all[i] = defaultSettings(kRuleKinds[i]);
    return all;
}

std::optional<std::string> checkSettings(RuleKind kind, const RuleSettings& s) {
    const std::string rule(ruleName(kind));
    for (const auto& [name, seconds] : {std::pair{"for", s.forSeconds}, {"clear_for", s.clearForSeconds}})
        if (seconds < 0 || seconds > kLongestHoldSeconds)
            return rule + ": " + name + " must be between 0 and " + std::to_string(kLongestHoldSeconds) + " seconds";
    if (!hasThresholds(kind)) return std::nullopt;
    const double top = largestThreshold(kind);
    for (const auto& [name, value] : {std::pair{"warning", s.warning}, {"critical", s.critical}, {"clear", s.clear}})
        if (!std::isfinite(value) || value < 0 || value > top)
            return rule + ": " + name + " must be between 0 and " + format(top);
    if (lowerIsWorse(kind)) {
        if (s.critical > s.warning) return rule + ": critical must be at or below warning (" + format(s.warning) + ")";
        if (s.clear <= s.warning) return rule + ": clear must be above warning (" + format(s.warning) + ")";
    } else {
        if (s.critical < s.warning) return rule + ": critical must be at or above warning (" + format(s.warning) + ")";
        if (s.clear >= s.warning) return rule + ": clear must be below warning (" + format(s.warning) + ")";
    }
    return std::nullopt;
}

std::variant<AllSettings, std::string> parseAlertsFile(std::string_view text) {
    KeyFile file = newKeyFile();
    GError* error = nullptr;
    if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_NONE, &error)) {
        std::string reason = std::string("not a key file: ") + error->message;
        g_error_free(error);
        return reason;
    }
    AllSettings all = defaultSettings();
    for (std::size_t i = 0; i < kRuleKinds.size(); ++i) {
        const RuleKind kind = kRuleKinds[i];
        const std::string group(ruleName(kind));
        RuleSettings& s = all[i];
        // Each key read if present; GLib refuses a value of the wrong kind.
        auto read = [&](const char* key, auto get, auto& target) {
            if (error || !g_key_file_has_key(file.get(), group.c_str(), key, nullptr)) return;
            const auto value = get(file.get(), group.c_str(), key, &error);
            if (!error) target = value;
        };
        read("enabled", &g_key_file_get_boolean, s.enabled);
        read("for", &g_key_file_get_integer, s.forSeconds);
        read("clear_for", &g_key_file_get_integer, s.clearForSeconds);
        if (hasThresholds(kind)) {
            read("warning", &g_key_file_get_double, s.warning);
            read("critical", &g_key_file_get_double, s.critical);
            read("clear", &g_key_file_get_double, s.clear);
        }
        if (error) {
            std::string reason = "[" + group + "] " + error->message;
            g_error_free(error);
            return reason;
        }
        if (auto reason = checkSettings(kind, s)) return *reason;
    }
    return all;
}

std::variant<RuleSettings, std::string> withValue(RuleKind kind, RuleSettings settings, std::string_view key,
                                                 const Value& value) {
    const std::string rule(ruleName(kind));
    if (key == "enabled") {
        if (!value.is_boolean()) return rule + ": enabled must be true or false";
        settings.enabled = value.get<bool>();
    } else if (key == "for" || key == "clear_for") {
        if (!value.is_number_integer() || value.get<double>() < 0 || value.get<double>() > kLongestHoldSeconds)
            return rule + ": " + std::string(key) + " must be a whole number of seconds from 0 to " +
                   std::to_string(kLongestHoldSeconds);
        (key == "for" ? settings.forSeconds : settings.clearForSeconds) = value.get<int>();
    } else if (key == "warning" || key == "critical" || key == "clear") {
        if (!hasThresholds(kind)) return rule + ": this rule has no thresholds";
        if (!value.is_number()) return rule + ": " + std::string(key) + " must be a number";
        (key == "warning" ? settings.warning : key == "critical" ? settings.critical : settings.clear) =
            value.get<double>();
    } else {
        return rule + ": no such setting: " + std::string(key);
    }
    if (auto reason = checkSettings(kind, settings)) return *reason;
    return settings;
}

std::string writeRule(std::string_view text, RuleKind kind, const RuleSettings& s) {
    KeyFile file = newKeyFile();
    if (!g_key_file_load_from_data(file.get(), text.data(), text.size(), G_KEY_FILE_KEEP_COMMENTS, nullptr))
        file = newKeyFile();
    const std::string group(ruleName(kind));
    g_key_file_set_boolean(file.get(), group.c_str(), "enabled", s.enabled);
    if (hasThresholds(kind)) {
        g_key_file_set_double(file.get(), group.c_str(), "warning", s.warning);
        g_key_file_set_double(file.get(), group.c_str(), "critical", s.critical);
        g_key_file_set_double(file.get(), group.c_str(), "clear", s.clear);
    }
    g_key_file_set_integer(file.get(), group.c_str(), "for", s.forSeconds);
    g_key_file_set_integer(file.get(), group.c_str(), "clear_for", s.clearForSeconds);
    gsize length = 0;
    gchar* data = g_key_file_to_data(file.get(), &length, nullptr);
    std::string out(data, length);
    g_free(data);
    return out;
}

Value settingsValue(RuleKind kind, const RuleSettings& s) {
    const bool thresholds = hasThresholds(kind);
    return Value{{"enabled", s.enabled},
                 {"warning", thresholds ? Value(s.warning) : Value()},
                 {"critical", thresholds ? Value(s.critical) : Value()},
                 {"for", s.forSeconds},
                 {"clear", thresholds ? Value(s.clear) : Value()},
                 {"clear_for", s.clearForSeconds}};
}

}  // namespace vq::alerts
