// The bridge's process and host queries on the simulated machine: names,
// application icons and their cache, the module queries, the busiest
// processes, and how the page calls them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "bridge/Velquette.h"
#include "bridge/script_table.h"
#include "platform/sim/sim_machine.h"

namespace vq {
namespace {

namespace fs = std::filesystem;

struct ProcessQueries : ::testing::Test {
    ProcessQueries() {
        fs::create_directories(home / "Library/Application Support");
        fs::create_directories(home / "Mail.app");
        std::ofstream(home / "Mail.app/icon.png") << "first icon";
        const std::string mail = (home / "Mail.app").string();
        machine = loadSimMachine(nlohmann::json::parse(R"({"architecture": "intel", "processes": {
            "10": {"name": "Mail", "bundlePath": ")" + mail + R"(", "bundleId": "org.example.mail"},
            "11": {"name": "Mail", "bundlePath": ")" + mail + R"(", "bundleId": "org.example.mail"},
            "12": {"name": "daemon"},
            "13": {"name": "No Id", "bundlePath": ")" + mail + R"(", "bundleId": ""},
            "14": {"name": "Escape", "bundlePath": ")" + mail + R"(", "bundleId": "../escape"},
            "15": {"name": "No Icon", "bundlePath": "/nonexistent", "bundleId": "org.example.noicon"},
            "16": {"bundlePath": ")" + mail + R"(", "bundleId": "org.example.mail"}}})"));
        machine->home = home.string();
    }
    ~ProcessQueries() override { fs::remove_all(home); }
    Value call(Velquette& object, const char* name, const Value& args) {
        EXPECT_EQ(checkScriptCall(name, args), std::nullopt) << name;
        return invokeScriptCall(object, name, args);
    }

    fs::path home = fs::path(::mkdtemp(std::string("/tmp/velquette-processes-XXXXXX").data()));
    std::shared_ptr<SimMachine> machine;
};

TEST_F(ProcessQueries, NamesAndTheIconCache) {
    Velquette object(makeSimPlatform(machine));
    const std::string icon = object.iconDirectory() + "/org.example.mail.png";
    // The second argument is ignored, whatever it is.
    EXPECT_EQ(call(object, "getAppPath", {10, nullptr}), icon);
    struct stat first {};
    ASSERT_EQ(::stat(icon.c_str(), &first), 0);
    // Another process of the same application shares the file, and a changed
    // icon is not picked up while the file exists: the second call writes nothing.
    std::ofstream(home / "Mail.app/icon.png") << "second icon";
    EXPECT_EQ(call(object, "getAppPath", {11, "ignored"}), icon);
    struct stat second {};
    ASSERT_EQ(::stat(icon.c_str(), &second), 0);
    EXPECT_EQ(second.st_ino, first.st_ino);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(icon).rdbuf()), {}), "first icon");

    const std::tuple<std::int32_t, const char*, const char*> cases[] = {
        // pid, getPsName, getAppPath (relative to the cache)
        {10, "Mail", "/org.example.mail.png"},
        {12, "daemon", ""},       // no application
        {13, "No Id", ""},        // no identifier: unrelated applications never share a file
        {14, "Escape", ""},       // an identifier that is no plain file name
        {15, "No Icon", "/org.example.noicon.png"},  // the write fails: the path names no file
        {16, "Unknown widget", "/org.example.mail.png"},  // no name
        {999, "Unknown widget", ""},
    };
    for (const auto& [pid, name, path] : cases) {
        EXPECT_EQ(call(object, "getPsName", {pid}), name) << pid;
        EXPECT_EQ(call(object, "getAppPath", {pid, {{"any", 1}}}), *path ? object.iconDirectory() + path : "") << pid;
    }
    EXPECT_FALSE(fs::exists(object.iconDirectory() + "/org.example.noicon.png"));
    EXPECT_EQ(std::distance(fs::directory_iterator(object.iconDirectory()), {}), 1);

    EXPECT_EQ(call(object, "getselfpid", Value::array()), ::getpid());
    EXPECT_EQ(call(object, "copyTextToClipboard", {"192.0.2.1"}), nullptr);
    EXPECT_EQ(machine->clipboardTexts, std::vector<std::string>{"192.0.2.1"});
    EXPECT_NE(checkScriptCall("getAppPath", {10}), std::nullopt);
    EXPECT_NE(checkScriptCall("topProcesses", {"5"}), std::nullopt);
}

// A module loader whose file and bundle are as the case says.
struct FakeLoader : SensorModuleLoader {
    struct Bundle : SensorModuleBundle {
        bool hasPrincipalClass() override { return true; }
        std::unique_ptr<SensorModuleInstance> createInstance() override { return nullptr; }
    };
    bool exists = false, opens = false;
    std::vector<std::string> opened;
    bool fileExists(const std::string&) override { return exists; }
    std::shared_ptr<SensorModuleBundle> openBundle(const std::string& path) override {
        opened.push_back(path);
        return opens ? std::make_shared<Bundle>() : nullptr;
    }
};

TEST_F(ProcessQueries, IntelMachinesNeedTheModuleUntilItOpens) {
    const std::tuple<std::optional<std::string>, bool, bool, bool, bool> cases[] = {
        // architecture, module file, opens; isIntel, needsIntelBundle
        {"intel", false, false, true, true},
        {"intel", true, false, true, true},  // a file that cannot be opened as a bundle
        {"intel", true, true, true, false},
        {"powerpc", false, false, false, false},
        {"powerpc", true, true, false, false},
        {std::nullopt, false, false, false, false},  // Gestalt fails
    };
    for (const auto& [architecture, exists, opens, intel, needed] : cases) {
        SCOPED_TRACE(architecture.value_or("none") + (exists ? " with file" : "") + (opens ? " that opens" : ""));
        machine->architecture = architecture;
        Platform platform = makeSimPlatform(machine);
        auto loader = std::make_shared<FakeLoader>();
        loader->exists = exists;
        loader->opens = opens;
        platform.modules = loader;
        Velquette object(platform);
        loader->opened.clear();
        EXPECT_EQ(object.isIntel(), intel);
        EXPECT_EQ(object.needsIntelBundle(), needed);
        if (intel && exists) {
            EXPECT_EQ(loader->opened, std::vector<std::string>{(home / "Library/Application Support/Brackwell/Velquor/"
                                                                      "VelquorIntelSensorsV3.bundle").string()});
        }
    }
}

TEST_F(ProcessQueries, TopProcessesBusiestFirstOverEachInterval) {
    // Sample i is taken at i + 1 seconds; processes not in the previous sample count from their start.
    machine->processes = {{1, {"a", "", "", {0.5, 1.0, 1.0}, 2048}},
                          {2, {"b", "", "", {0.25, 2.0, 2.0}, 1536 * 1024}},
                          {3, {"c", "", "", {0.5, 1.5, 4.0}, 1100 * 1024 * 1024}}};
    Velquette object(makeSimPlatform(machine));
    const std::vector<std::pair<int, const char*>> calls = {
        {5, R"([[1,50.0,"2KB"],[3,50.0,"1.07GB"],[2,25.0,"1.5MB"]])"},  // ties: lower pid first
        {2, R"([[2,175.0,"1.5MB"],[3,100.0,"1.07GB"]])"},              // several processors pass 100
        {1, R"([[3,250.0,"1.07GB"]])"},
    };
    for (const auto& [count, rows] : calls) EXPECT_EQ(call(object, "topProcesses", {count}).dump(), rows);
    // A pid that now names another process, younger than the last sample, counts from its start.
    machine->processes->at(1) = {"a2", "", "", {1.2}, 0, 3.5};
    machine->processes->erase(2);
    EXPECT_EQ(call(object, "topProcesses", {5}).dump(), R"([[1,240.0,"0KB"],[3,0.0,"1.07GB"]])");
    EXPECT_EQ(call(object, "topProcesses", {0}).dump(), "[]");
    machine->processes.reset();
    EXPECT_EQ(call(object, "topProcesses", {5}).dump(), "[]");
}

TEST(ResidentMemory, StepsUpAbove1000) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0KB"}, {1000 * 1024, "1000KB"}, {1001 * 1024, "1.0MB"}, {1000 * 1024 * 1024, "1000.0MB"},
        {std::uint64_t(1001) * 1024 * 1024, "0.98GB"}, {std::uint64_t(3) << 40, "3.00TB"}};
    for (const auto& [bytes, text] : cases) EXPECT_EQ(formatResidentMemory(bytes), text) << bytes;
}

// The autostart entry follows the setting; a user who hid it in the
// desktop's own settings sees it off.
TEST(Autostart, TheEntryFollowsTheSetting) {
    const fs::path home = fs::path(::mkdtemp(std::string("/tmp/vq-autostart-XXXXXX").data()));
    const fs::path entry = home / ".config/autostart/org.brackwell.Velquette.desktop";
    Velquette object(makeSimPlatform(loadSimMachine({{"architecture", "intel"}, {"home", home.string()}})));
    auto set = [&](int value) { return invokeScriptCall(object, "setAutostart", Value::array({value})); };
    auto enabled = [&] { return invokeScriptCall(object, "isAutostartEnabled", Value::array()); };

    EXPECT_EQ(enabled(), false);
    EXPECT_EQ(set(1), true);
    EXPECT_EQ(enabled(), true);
    std::ifstream written(entry);
    const std::string text{std::istreambuf_iterator<char>(written), {}};
    EXPECT_NE(text.find("\nExec=velquette-widget\n"), std::string::npos) << text;
    std::ofstream(entry, std::ios::app) << "Hidden=true\n";
    EXPECT_EQ(enabled(), false);
    EXPECT_EQ(set(2), true);  // only 1 switches it on
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_EQ(set(0), true);
    // A config folder that cannot be made: the page is told it stayed off.
    fs::remove_all(home / ".config");
    std::ofstream(home / ".config") << "a file";
    EXPECT_EQ(set(1), false);
    EXPECT_EQ(enabled(), false);
    fs::remove_all(home);
}

}  // namespace
}  // namespace vq
