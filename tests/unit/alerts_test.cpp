// Alerts: the state machines on an injected clock with scripted readings,
// the caps on notifications, the checks of each rule's readings, and the
// rules file (parsing, checking a new value, writing one rule back).
#include <gtest/gtest.h>

#include <map>

#include "alerts/alert_checks.h"
#include "alerts/alerts.h"

namespace vq::alerts {
namespace {

using Lines = std::vector<std::string>;
constexpr Severity N = Severity::none, W = Severity::warning, C = Severity::critical;

// "t show|replace|close rule severity", as a notification server would see them.
struct Recorder : DesktopNotifications {
    std::int64_t now = 0;
    bool present = true;
    std::map<std::string, bool> onScreen;
    Lines events;
    bool show(const std::string& key, const DesktopNotification& n) override {
        if (!present) return false;
        events.push_back(std::to_string(now) + (onScreen[key] ? " replace " : " show ") + key +
                         (n.critical ? " critical" : " warning"));
        onScreen[key] = true;
        return true;
    }
    void close(const std::string& key) override {
        events.push_back(std::to_string(now) + " close " + key);
        onScreen[key] = false;
    }
};

struct Step {
    std::int64_t at;
    Severity level;
    bool clear;
    bool enabled = true;
    bool serverPresent = true;
};

TEST(AlertEngine, StateMachineOnScriptedReadings) {
    const struct {
        const char* name;
        int forSeconds, clearForSeconds;
        std::vector<Step> steps;
        Lines expected;
    } cases[] = {
        {"fires once the condition held for `for`; a break starts it again", 30, 0,
         {{0, W, false}, {10, N, false}, {20, W, false}, {40, W, false}, {50, W, false}},
         {"50 show r warning"}},
        {"flapping at the threshold gives one notification in ten minutes", 0, 0,
         {{0, W, false}, {5, N, true}, {10, W, false}, {15, N, true}, {20, W, false}, {599, W, false}, {600, W, false}},
         {"0 show r warning", "5 close r", "600 show r warning"}},
        {"between the clear and the warning thresholds it keeps firing; clear_for must pass", 0, 10,
         {{0, W, false}, {5, N, false}, {10, N, true}, {15, N, false}, {20, N, true}, {29, N, true}, {30, N, true}},
         {"0 show r warning", "30 close r"}},
        {"escalation replaces; critical needs a third of `for`", 30, 0,
         {{0, W, false}, {30, W, false}, {35, C, false}, {44, C, false}, {45, C, false}, {50, W, false}},
         {"30 show r warning", "45 replace r critical"}},
        {"a critical rule reminds every hour, a warning never", 0, 0,
         {{0, C, false}, {1800, C, false}, {3600, C, false}, {7199, C, false}, {7200, C, false}},
         {"0 show r critical", "3600 replace r critical", "7200 replace r critical"}},
        {"a warning is not repeated", 0, 0, {{0, W, false}, {3600, W, false}, {7200, W, false}}, {"0 show r warning"}},
        {"a rule switched off closes its notification at once", 0, 60,
         {{0, W, false}, {10, W, false, false}, {20, W, false, false}}, {"0 show r warning", "10 close r"}},
        {"without a server nothing is lost: the notification goes once one is there", 0, 0,
         {{0, W, false, true, false}, {5, W, false, true, false}, {10, W, false}, {15, W, false}},
         {"10 show r warning"}},
    };
    for (const auto& c : cases) {
        Recorder recorder;
        AlertEngine engine(&recorder);
        for (const Step& s : c.steps) {
            recorder.now = s.at;
            recorder.present = s.serverPresent;
            engine.evaluate(s.at, {{"r", {s.enabled, c.forSeconds, c.clearForSeconds}, {s.level, s.clear, "", ""}}});
        }
        EXPECT_EQ(recorder.events, c.expected) << c.name;
    }
}

// Six rules fire at once: five notifications go, critical first; the sixth
// waits for the minute to pass. The page sees all six meanwhile.
TEST(AlertEngine, AtMostFiveNotificationsAMinute) {
    Recorder recorder;
    AlertEngine engine(&recorder);
    auto run = [&](std::int64_t at) {
        recorder.now = at;
        std::vector<AlertEngine::Input> inputs;
        for (int i = 0; i < 6; ++i)
            inputs.push_back({"r" + std::to_string(i), {true, 0, 0}, {i == 5 ? C : W, false, "", ""}});
        engine.evaluate(at, inputs);
    };
    run(0);
    EXPECT_EQ(recorder.events, (Lines{"0 show r5 critical", "0 show r0 warning", "0 show r1 warning",
                                      "0 show r2 warning", "0 show r3 warning"}));
    EXPECT_EQ(engine.firing().size(), 6u);
    EXPECT_EQ(engine.firing().front().rule, "r5");
    run(59);
    EXPECT_EQ(recorder.events.size(), 5u);
    run(60);
    EXPECT_EQ(recorder.events.back(), "60 show r4 warning");
}

TemperatureReading temp(std::string name, int celsius, std::optional<int> crit) {
    return {std::move(name), 1, celsius, std::nullopt, crit};
}

TEST(AlertChecks, EachRuleJudgesItsReadings) {
    const RuleSettings t = defaultSettings(RuleKind::temperature), b = defaultSettings(RuleKind::battery),
                       v = defaultSettings(RuleKind::volumes), m = defaultSettings(RuleKind::memory);
    const std::uint64_t GiB = 1ull << 30;
    const struct {
        const char* name;
        Observation seen;
        Severity level;
        bool clear;
        std::string body;
    } cases[] = {
        {"2 °C under the sensor's own limit", checkTemperatures({temp("CPU", 98, 100), temp("SSD", 40, 84)}, t), C,
         false, "CPU is at 98 °C (its limit is 100 °C)."},
        {"a drive's limit of 84 °C warns from 74 °C", checkTemperatures({temp("SSD", 74, 84)}, t), W, false, ""},
        {"no limit: 90 °C; 86 °C is neither firing nor clear", checkTemperatures({temp("Board", 86, {})}, t), N,
         false, ""},
        {"no limit, 85 °C is clear", checkTemperatures({temp("Board", 85, {})}, t), N, true, ""},
        {"battery at 4 % discharging", checkBattery(BatteryReading{4, false}, b), C, false,
         "4 % left, discharging. Connect the charger."},
        {"battery at 10 % warns; 12 % is not yet clear", checkBattery(BatteryReading{12, false}, b), N, false, ""},
        {"external power clears whatever the charge", checkBattery(BatteryReading{4, true}, b), N, true, ""},
        {"no battery", checkBattery(std::nullopt, b), N, true, ""},
        {"the fullest volume speaks", checkVolumes({{"Data", 91.5}, {"Home", 97.2}}, v), C, false,
         "Home is 97 % full."},
        {"pressure at 12 %", checkMemory({12.0, 8 * GiB, 16 * GiB, {}, {}}, m), W, false, ""},
        {"a binding limit counts, not the machine's memory",
         checkMemory({1.0, 8 * GiB, 16 * GiB, 1000, 960}, m), W, false,
         "Tasks waited for memory 1 % of the last minute. 4 % of the memory limit is free."},
        {"without pressure, 8 % available is neither firing nor clear",
         checkMemory({{}, 80, 1000, {}, {}}, m), N, false, "8 % of memory is free."},
        {"a failed fan; a stopped one is not", checkFans({{"Fan 1", 0, false}, {"Fan 2", 1200, true}}), C, false,
         "Fan 2 is reported as failed."},
        {"stopped fans alone", checkFans({{"Fan 1", 0, false}}), N, true, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.seen.level, c.level) << c.name;
        EXPECT_EQ(c.seen.clear, c.clear) << c.name;
        if (!c.body.empty()) {
            EXPECT_EQ(c.seen.body, c.body) << c.name;
        }
    }
}

TEST(AlertRules, TheRulesFile) {
    const AllSettings defaults = defaultSettings();
    auto with = [&](RuleKind kind, RuleSettings s) {
        AllSettings all = defaults;
        all[std::size_t(kind)] = s;
        return all;
    };
    const struct {
        const char* text;
        std::variant<AllSettings, std::string> expected;
    } files[] = {
        {"", defaults},
        {"# mine\n[battery]\nwarning=20\nclear=25\n[gpu]\nwarning=1\n", with(RuleKind::battery, {true, 20, 5, 0, 25, 0})},
        {"[fan]\nenabled=false\nwarning=3\n", with(RuleKind::fan, {false, 0, 0, 0, 0, 30})},
        {"[temperature]\nfor=soon\n", "[temperature] "},
        {"[volumes]\nwarning=99\n", "volumes: critical must be at or above warning (99)"},
        {"[memory]\nclear=-1\n", "memory: clear must be between 0 and 100"},
        {"warning=1\n", "not a key file: "},
    };
    for (const auto& f : files) {
        const auto parsed = parseAlertsFile(f.text);
        if (const auto* reason = std::get_if<std::string>(&f.expected)) {
            ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << f.text;
            EXPECT_TRUE(std::get<std::string>(parsed).starts_with(*reason)) << std::get<std::string>(parsed);
        } else {
            EXPECT_EQ(parsed, f.expected) << f.text;
        }
    }

    const struct {
        RuleKind kind;
        const char* key;
        Value value;
        std::string reason;  // empty: taken
    } values[] = {
        {RuleKind::memory, "critical", 50, ""},
        {RuleKind::temperature, "clear", 95, "temperature: clear must be below warning (90)"},
        {RuleKind::battery, "critical", 11, "battery: critical must be at or below warning (10)"},
        {RuleKind::battery, "clear", 10, "battery: clear must be above warning (10)"},
        {RuleKind::battery, "enabled", "yes", "battery: enabled must be true or false"},
        {RuleKind::volumes, "for", -1, "volumes: for must be a whole number of seconds from 0 to 86400"},
        {RuleKind::volumes, "clear_for", 2.5, "volumes: clear_for must be a whole number of seconds from 0 to 86400"},
        {RuleKind::fan, "warning", 1, "fan: this rule has no thresholds"},
        {RuleKind::fan, "colour", 1, "fan: no such setting: colour"},
    };
    for (const auto& v : values) {
        const auto result = withValue(v.kind, defaultSettings(v.kind), v.key, v.value);
        EXPECT_EQ(std::holds_alternative<std::string>(result) ? std::get<std::string>(result) : "", v.reason) << v.key;
    }

    // One rule written back keeps the other groups and the comments, and reads back as written.
    const RuleSettings memory{true, 10, 50, 30, 5, 30};
    const std::string written = writeRule("# mine\n[battery]\nwarning=20\nclear=25\n", RuleKind::memory, memory);
    EXPECT_NE(written.find("# mine"), std::string::npos) << written;
    AllSettings expected = with(RuleKind::memory, memory);
    expected[std::size_t(RuleKind::battery)] = {true, 20, 5, 0, 25, 0};
    EXPECT_EQ(parseAlertsFile(written), (std::variant<AllSettings, std::string>(expected))) << written;
}

// The file as the host keeps it: an unusable one is set aside with one log
// line; a refused value leaves the file as it was.
TEST(AlertRules, TheFileThroughTheHostsAlerts) {
    struct Files : ConfigFiles {
        std::map<std::string, std::string> files;
        std::optional<std::string> read(const std::string& n) override {
            return files.contains(n) ? std::optional(files[n]) : std::nullopt;
        }
        bool replace(const std::string& n, const std::string& text) override { return files[n] = text, true; }
        bool setAside(const std::string& n) override { return files[n + ".bad"] = files[n], files.erase(n) == 1; }
    };
    struct Log : SystemLog {
        Lines lines;
        void log(const std::string& line) override { lines.push_back(line); }
    };
    auto files = std::make_shared<Files>();
    auto log = std::make_shared<Log>();
    files->files["alerts.conf"] = "[battery\nwarning=20\n";
    Platform platform;
    platform.configFiles = files;
    platform.log = log;
    Alerts alerts(platform, [] { return std::int64_t{0}; });
    EXPECT_EQ(files->files, (std::map<std::string, std::string>{{"alerts.conf.bad", "[battery\nwarning=20\n"}}));
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(alerts.rule("battery"), settingsValue(RuleKind::battery, defaultSettings(RuleKind::battery)));

    EXPECT_EQ(alerts.setRule("battery", "warning", 4), "battery: critical must be at or below warning (4)");
    EXPECT_FALSE(files->files.contains("alerts.conf"));
    EXPECT_EQ(alerts.setRule("battery", "warning", 12), "");
    EXPECT_EQ(alerts.rule("battery")["warning"], 12);
    EXPECT_EQ(std::get<AllSettings>(parseAlertsFile(files->files.at("alerts.conf")))[1].warning, 12);
    EXPECT_EQ(alerts.setRule("gpu", "warning", 1), "no such rule: gpu");
}

}  // namespace
}  // namespace vq::alerts
