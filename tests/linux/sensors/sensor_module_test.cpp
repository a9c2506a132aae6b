// The sensor module loader on private copies of the sample bundle: the good
// one, tampered ones that must be refused, and modules that fail.
#include "platform/linux/sensors/sensor_module_loader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace vq::linux_platform {
namespace {

namespace fs = std::filesystem;
using Fans = std::vector<std::pair<std::string, std::string>>;
using fs::perms;
constexpr perms kSafeMode =
    perms::owner_all | perms::group_read | perms::group_exec | perms::others_read | perms::others_exec;

class RecordingLog : public SystemLog {
public:
    void log(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }
void addMode(const fs::path& path, perms mode) { fs::permissions(path, mode, fs::perm_options::add); }
void chownToNobody(const fs::path& path) { ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0) << path; }
void symlinkModule(const fs::path& b) {
    fs::rename(b / "module.so", b / "real.so");
    fs::create_symlink("real.so", b / "module.so");
}

enum class Outcome { Refused, NoPrincipalClass, NoInstance, NoFans, Answers };
using enum Outcome;

struct Case {
    const char* name;
    std::function<void(const fs::path& bundle)> change;
    Outcome outcome;
    const char* logged;   // the one log line holds the bundle path followed by this
    bool asRoot = false;  // chown needs root; CI runs as root
};

TEST(SensorModuleLoader, LoadsOnlySafeBundlesAndSurvivesFailingModules) {
    const auto failing = [](const char* knob) {
        return [knob](const fs::path& bundle) {
            writeFile(bundle / "fans.json", std::string(R"({"fans": [["Master", "1rpm"]], ")") + knob + R"(": true})");
        };
    };
    const Case cases[] = {
        {"good", [](const fs::path&) {}, Answers, nullptr},
        {"world-writable module", [](const fs::path& b) { addMode(b / "module.so", perms::others_write); }, Refused,
         "/module.so is writable by group or others"},
        {"group-writable module", [](const fs::path& b) { addMode(b / "module.so", perms::group_write); }, Refused,
         "/module.so is writable by group or others"},
        {"group-writable folder", [](const fs::path& b) { addMode(b, perms::group_write); }, Refused,
         " is writable by group or others"},
        {"symlinked module", symlinkModule, Refused, "/module.so is a symbolic link"},
        {"module of another user", [](const fs::path& b) { chownToNobody(b / "module.so"); }, Refused,
         "/module.so is owned by uid 65534, neither the user nor root", true},
        {"folder of another user", [](const fs::path& b) { chownToNobody(b); }, Refused,
         " is owned by uid 65534, neither the user nor root", true},
        {"missing module", [](const fs::path& b) { fs::remove(b / "module.so"); }, Refused, "/module.so is missing"},
        {"not a shared object", [](const fs::path& b) { writeFile(b / "module.so", "#!/bin/sh\n"); }, Refused,
         "/module.so failed to load: "},
        {"failCreate", failing("failCreate"), NoInstance, nullptr},
        {"failFans", failing("failFans"), NoFans, nullptr},
        {"without entry points",
         [](const fs::path& b) {
             fs::copy_file(VELQUETTE_SAMPLE_MODULE_NOENTRY, b / "module.so", fs::copy_options::overwrite_existing);
             fs::permissions(b / "module.so", kSafeMode);
         },
         NoPrincipalClass, nullptr},
    };
    char pattern[] = "/tmp/velquette-module-XXXXXX";
    const fs::path dir = ::mkdtemp(pattern);
    std::unique_ptr<SensorModuleInstance> kept;  // the good one, loaded while later rows open their modules
    for (const Case& c : cases) {
        if (c.asRoot && ::geteuid() != 0) continue;
        const fs::path bundle = dir / c.name;
        fs::copy(VELQUETTE_SAMPLE_MODULE_DIR, bundle);
        fs::permissions(bundle, kSafeMode);  // whatever the umask of the copy
        c.change(bundle);
        auto log = std::make_shared<RecordingLog>();
        auto loader = makeSensorModuleLoader(log);
        EXPECT_TRUE(loader->fileExists(bundle)) << c.name;
        auto opened = loader->openBundle(bundle);
        auto instance = opened ? opened->createInstance() : nullptr;
        const auto fans = instance ? instance->fanValues() : std::nullopt;
        const Outcome noInstance = opened && opened->hasPrincipalClass() ? NoInstance : NoPrincipalClass;
        const Outcome outcome = !opened ? Refused : !instance ? noInstance : !fans ? NoFans : Answers;
        EXPECT_EQ(outcome, c.outcome) << c.name;
        if (c.logged) {
            ASSERT_EQ(log->lines.size(), 1u) << c.name;
            EXPECT_NE(log->lines[0].find(bundle.string() + c.logged), std::string::npos) << log->lines[0];
        } else {
            EXPECT_EQ(log->lines, std::vector<std::string>{}) << c.name;
        }
        if (outcome == Answers) {
            EXPECT_EQ(fans, (Fans{{"Master", "1500rpm"}, {"Fan 1", "2100rpm"}}));
            kept = std::move(instance);
        }
    }
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->fanValues().value_or(Fans{}).size(), 2u);
    const std::string goodModule = dir / "good/module.so";
    void* loaded = ::dlopen(goodModule.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_TRUE(loaded) << "an instance keeps its module loaded";
    ::dlclose(loaded);
    // A module replaced while loaded, the way the installer replaces files
    // (a new file under the old name): the loaded one keeps answering, and
    // the bundle opened afresh is the new file.
    fs::remove(goodModule);
    fs::copy_file(VELQUETTE_SAMPLE_MODULE_NOENTRY, goodModule);
    fs::permissions(goodModule, kSafeMode);
    EXPECT_EQ(kept->fanValues().value_or(Fans{}).size(), 2u);
    const auto replaced = makeSensorModuleLoader(nullptr)->openBundle(dir / "good");
    EXPECT_TRUE(replaced && !replaced->hasPrincipalClass());
    kept.reset();
    EXPECT_FALSE(makeSensorModuleLoader(nullptr)->fileExists(dir / "absent"));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace vq::linux_platform
