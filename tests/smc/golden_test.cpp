#include <glib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs velquette-smc; its output and exit status are in tests/fixtures/smc/golden/<case>.out and .status.
TEST(VelquetteSmc, OutputAndStatusMatchTheGoldenFiles) {
    struct Case {
        const char* name;
        const char* machine;  // in tests/fixtures/machines, or none
        std::vector<std::string> args;
        bool applesmc = false;  // the driver's files: a copy of tests/fixtures/smc/sysfs-one-key
    } cases[] = {
        {"no-options", "smc-macbookpro.json", {}},
        {"version", "smc-fail-open.json", {"-v"}},  // answered before the SMC is opened
        {"list-then-help", "smc-macbookpro.json", {"-l", "-h"}},
        {"help-then-list", "smc-macbookpro.json", {"-h", "-l"}},
        {"unknown-option", "smc-macbookpro.json", {"-x"}},
        {"read-without-key", "smc-macbookpro.json", {"-r"}},
        {"write-without-key", "smc-writable.json", {"-w", "0001"}},
        {"read-ui16", "smc-macbookpro.json", {"-r", "-k", "MSAc"}},
        {"read-ui32", "smc-macbookpro.json", {"-r", "-k", "MSTc"}},
        {"read-fpe2", "smc-macbookpro.json", {"-k", "F0Ac", "-r"}},
        {"read-undecoded", "smc-macbookpro.json", {"-r", "-k", "TC0H"}},
        {"read-absent-key", "smc-macbookpro.json", {"-r", "-k", "ABCD"}},
        {"read-long-key", "smc-macbookpro.json", {"-r", "-k", "TC0HX"}},
        {"read-oversized", "smc-oversized.json", {"-r", "-k", "OSK0"}},
        {"fans", "smc-macbookpro.json", {"-f"}},
        {"list", "smc-macbookpro.json", {"-l"}},
        {"list-failing-index", "smc-failing-index.json", {"-l"}},
        {"write-three-digits", "smc-writable.json", {"-k", "FS! ", "-w", "012"}},
        {"write-overlong", "smc-writable.json", {"-k", "FS! ", "-w", std::string(66, '0')}},
        {"write-size-mismatch", "smc-writable.json", {"-k", "FS! ", "-w", "03"}},
        {"write-oversized", "smc-oversized.json", {"-k", "OSK0", "-w", std::string(64, 'a')}},
        {"write-refused", "smc-macbookpro.json", {"-k", "FS! ", "-w", "0003"}},
        {"write", "smc-writable.json", {"-k", "FS! ", "-w", "0003"}},
        {"no-smc-read", "smc-none.json", {"-r", "-k", "TC0H"}},
        {"no-smc-fans", "smc-none.json", {"-f"}},
        {"no-smc-list", "smc-none.json", {"-l"}},
        {"matching-fails", "smc-fail-matching.json", {"-r", "-k", "TC0H"}},
        {"open-refused", "smc-fail-open.json", {"-r", "-k", "TC0H"}},
        {"unreadable-machine-file", "missing.json", {"-r", "-k", "TC0H"}},
        // Without a machine file: the applesmc driver when it is there, else no SMC.
        {"applesmc-read", nullptr, {"-r", "-k", "TC0H"}, true},
        {"no-driver-read", nullptr, {"-r", "-k", "TC0H"}},
    };
    const fs::path fixtures = VELQUETTE_FIXTURES;
    const fs::path sysRoot = fs::temp_directory_path() / ("velquette-smc-sys-" + std::to_string(::getpid()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(sysRoot);  // reading by name writes the driver's selector file, hence a copy
        if (c.applesmc) fs::copy(fixtures / "smc/sysfs-one-key", sysRoot, fs::copy_options::recursive);
        gchar** env = g_environ_setenv(g_get_environ(), "VELQUETTE_SYS_ROOT", sysRoot.c_str(), TRUE);
        env = c.machine ? g_environ_setenv(env, "VELQUETTE_MACHINE", (fixtures / "machines" / c.machine).c_str(), TRUE)
                        : g_environ_unsetenv(env, "VELQUETTE_MACHINE");
        std::vector<const char*> argv{VELQUETTE_SMC_TOOL, "velquette-smc"};  // the help text names the bare program
        for (const std::string& arg : c.args) argv.push_back(arg.c_str());
        argv.push_back(nullptr);
        gchar* out = nullptr;
        gint status = 0;
        EXPECT_TRUE(g_spawn_sync(nullptr, const_cast<gchar**>(argv.data()), env, G_SPAWN_FILE_AND_ARGV_ZERO, nullptr,
                                 nullptr, &out, nullptr, &status, nullptr));
        g_strfreev(env);
        const std::string golden = (fixtures / "smc/golden" / c.name).string();
        EXPECT_EQ(out ? out : "", contents(golden + ".out"));
        EXPECT_EQ(std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "\n", contents(golden + ".status"));
        g_free(out);
    }
    fs::remove_all(sysRoot);
}

}  // namespace
