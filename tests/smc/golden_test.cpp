// Runs the real velquette-smc on machine files and compares its standard
// output and exit status with the saved expectations in
// tests/fixtures/smc/golden/<case>.out and <case>.status.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct ToolRun {
    std::string out;
    int status = -1;
};

// argv[0] is the bare program name, so the help text does not depend on
// where the build put the binary.
ToolRun runTool(const std::string& machineFile, const std::vector<std::string>& args) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string_view entry = *e;
        if (!entry.starts_with("VELQUETTE_")) env.emplace_back(entry);
    }
    env.push_back("VELQUETTE_MACHINE=" + std::string(VELQUETTE_FIXTURES) + "/machines/" + machineFile);
    env.push_back("VELQUETTE_SYS_ROOT=/nonexistent");

    std::vector<std::string> argvStrings{"velquette-smc"};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (auto& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, VELQUETTE_SMC_TOOL, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    ToolRun run;
    if (spawned == 0) {
        char buffer[4096];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) run.out.append(buffer, static_cast<std::size_t>(n));
        int waitStatus = 0;
        ::waitpid(pid, &waitStatus, 0);
        run.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
    }
    ::close(pipeFds[0]);
    return run;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

struct GoldenCase {
    const char* name;
    const char* machine;
    std::vector<std::string> args;
};

std::string caseName(const ::testing::TestParamInfo<GoldenCase>& info) {
    std::string name = info.param.name;
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
}

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, OutputAndStatusMatch) {
    const GoldenCase& c = GetParam();
    const std::string base = std::string(VELQUETTE_FIXTURES) + "/smc/golden/" + c.name;
    const ToolRun run = runTool(c.machine, c.args);
    EXPECT_EQ(run.out, readFile(base + ".out"));
    EXPECT_EQ(std::to_string(run.status) + "\n", readFile(base + ".status"));
}

INSTANTIATE_TEST_SUITE_P(
    VelquetteSmc, Golden,
    ::testing::Values(
        GoldenCase{"no-options", "smc-macbookpro.json", {}},
        // -v answers before the SMC is opened: no open error appears.
        GoldenCase{"version", "smc-fail-open.json", {"-v"}},
        GoldenCase{"list-then-help", "smc-macbookpro.json", {"-l", "-h"}},
        GoldenCase{"help-then-list", "smc-macbookpro.json", {"-h", "-l"}},
        GoldenCase{"unknown-option", "smc-macbookpro.json", {"-x"}},
        GoldenCase{"read-without-key", "smc-macbookpro.json", {"-r"}},
        GoldenCase{"write-without-key", "smc-writable.json", {"-w", "0001"}},
        GoldenCase{"read-ui16", "smc-macbookpro.json", {"-r", "-k", "MSAc"}},
        GoldenCase{"read-ui32", "smc-macbookpro.json", {"-r", "-k", "MSTc"}},
        GoldenCase{"read-fpe2", "smc-macbookpro.json", {"-k", "F0Ac", "-r"}},
        GoldenCase{"read-undecoded", "smc-macbookpro.json", {"-r", "-k", "TC0H"}},
        GoldenCase{"read-absent-key", "smc-macbookpro.json", {"-r", "-k", "ABCD"}},
        GoldenCase{"read-long-key", "smc-macbookpro.json", {"-r", "-k", "TC0HX"}},
        GoldenCase{"fans", "smc-macbookpro.json", {"-f"}},
        GoldenCase{"list", "smc-macbookpro.json", {"-l"}},
        GoldenCase{"list-failing-index", "smc-failing-index.json", {"-l"}},
        GoldenCase{"write-three-digits", "smc-writable.json", {"-k", "FS! ", "-w", "012"}},
        GoldenCase{"write-overlong", "smc-writable.json", {"-k", "FS! ", "-w", std::string(66, '0')}},
        GoldenCase{"write-size-mismatch", "smc-writable.json", {"-k", "FS! ", "-w", "03"}},
        GoldenCase{"write-refused", "smc-macbookpro.json", {"-k", "FS! ", "-w", "0003"}},
        GoldenCase{"write", "smc-writable.json", {"-k", "FS! ", "-w", "0003"}},
        GoldenCase{"no-smc-read", "smc-none.json", {"-r", "-k", "TC0H"}},
        GoldenCase{"no-smc-fans", "smc-none.json", {"-f"}},
        GoldenCase{"no-smc-list", "smc-none.json", {"-l"}},
        GoldenCase{"open-refused", "smc-fail-open.json", {"-r", "-k", "TC0H"}}),
    caseName);

}  // namespace
