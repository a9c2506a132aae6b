#pragma once
// The alert rules' settings: one group per rule in a GLib key file
// (alerts.conf), their defaults, and the checks a new value must pass.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "miners/data_set.h"

namespace vq::alerts {

enum class RuleKind { temperature, battery, volumes, memory, fan };
constexpr std::array<RuleKind, 5> kRuleKinds = {RuleKind::temperature, RuleKind::battery, RuleKind::volumes,
                                                RuleKind::memory, RuleKind::fan};

// The group name in the file, and the rule's name in calls and metrics.
std::string_view ruleName(RuleKind kind);
std::optional<RuleKind> ruleNamed(std::string_view name);

// Thresholds are in the rule's own unit (°C, percent charged, percent full,
// percent of time stalled); durations in seconds. For a battery lower is
// worse, so there clear > warning >= critical; for the others
// clear < warning <= critical. The fan rule has no thresholds: a fan the
// kernel marks failed is critical.
struct RuleSettings {
    bool enabled = true;
    double warning = 0;
    double critical = 0;
    int forSeconds = 0;
    double clear = 0;
    int clearForSeconds = 0;
    bool operator==(const RuleSettings&) const = default;
};

RuleSettings defaultSettings(RuleKind kind);
bool hasThresholds(RuleKind kind);

using AllSettings = std::array<RuleSettings, kRuleKinds.size()>;
AllSettings defaultSettings();

// Why the rule's settings cannot stand, in one line; nullopt when they can.
std::optional<std::string> checkSettings(RuleKind kind, const RuleSettings& settings);

// Every rule's settings from a key file's text: a key left out takes its
// default; other groups and keys are passed over. The reason, in one line,
// when the text is not a key file or a value is unusable.
std::variant<AllSettings, std::string> parseAlertsFile(std::string_view text);

// The settings with `key` (enabled, warning, critical, for, clear,
// clear_for) set to `value` (a truth value for enabled, else a number), or
// why not.
std::variant<RuleSettings, std::string> withValue(RuleKind kind, RuleSettings settings, std::string_view key,
                                                 const Value& value);

// `text` (the current file, may be empty or unusable) with the rule's group
// holding `settings`; other groups, keys and comments stay as they are.
std::string writeRule(std::string_view text, RuleKind kind, const RuleSettings& settings);

// {enabled, warning, critical, for, clear, clear_for}; the thresholds are
// null for the fan rule.
Value settingsValue(RuleKind kind, const RuleSettings& settings);

}  // namespace vq::alerts
