#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "smc_test_support.h"

namespace vq::test {
namespace {

nlohmann::json parse(const char* text) { return nlohmann::json::parse(text); }

TEST(MachineFileSmc, LoadsKeysFlagsAndFailureRules) {
    auto sim = loadSimSmc(parse(R"({
        "keys": {"TC0H": {"type": "sp78", "bytes": "2d40"}, "FS! ": {"type": "ui16", "bytes": "0001"}},
        "writable": true,
        "failures": [{"command": 8, "index": 1, "status": "0xe00002c0"},
                     {"command": 9, "key": "TC0H", "status": 3758097084}]})"));
    EXPECT_EQ(sim->keys.at("TC0H").bytes, (std::vector<std::uint8_t>{0x2D, 0x40}));
    EXPECT_EQ(sim->keys.at("FS! ").type, "ui16");
    EXPECT_TRUE(sim->writable);
    EXPECT_FALSE(sim->failOpen);
    ASSERT_EQ(sim->failures.size(), 2u);
    EXPECT_EQ(sim->failures[0].status, 0xE00002C0u);
    EXPECT_EQ(sim->failures[0].index, 1u);
    EXPECT_EQ(sim->failures[1].key, "TC0H");
    EXPECT_EQ(sim->failures[1].status, 0xE00002BCu);
}

TEST(MachineFileSmc, MalformedEntriesAreNamed) {
    const char* cases[][2] = {
        {R"([1])", "must be an object"},
        {R"({"keys": {"TC0": {"type": "sp78", "bytes": "2d40"}}})", "\"TC0\""},
        {R"({"keys": {"TC0H": {"type": "ui8", "bytes": "2d"}}})", "four characters"},
        {R"({"keys": {"TC0H": {"type": "sp78", "bytes": "2d4"}}})", "pairs"},
        {R"({"keys": {"TC0H": {"type": "sp78", "bytes": "zz40"}}})", "pairs"},
        {R"({"keys": {"TC0H": {"type": "sp78"}}})", "\"bytes\""},
        {R"({"writable": "yes"})", "writable"},
        {R"({"failures": [{"command": 9}]})", "status"},
        {R"({"failures": [{"command": 9, "status": "0xnothex"}]})", "status"},
        {R"({"failMatching": -1})", "failMatching"},
    };
    for (const auto& [text, named] : cases) {
        try {
            loadSimSmc(parse(text));
            ADD_FAILURE() << "accepted " << text;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(named), std::string::npos) << error.what();
        }
    }
}

// The process's transport as chosen from the environment.
class ProcessTransport : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = installProcessSmcTransport(nullptr);
        conn = 0;
    }
    void TearDown() override {
        if (conn != 0) smc_close();
        installProcessSmcTransport(saved_);
        ::unsetenv("VELQUETTE_MACHINE");
        ::unsetenv("VELQUETTE_SYS_ROOT");
        conn = 0;
    }
    std::string openMessages() {
        ::testing::internal::CaptureStdout();
        smc_init();
        return ::testing::internal::GetCapturedStdout();
    }

private:
    std::shared_ptr<SmcTransport> saved_;
};

TEST_F(ProcessTransport, MachineFileChoosesTheSimulatedSmcOrNone) {
    const std::string machines = std::string(VELQUETTE_FIXTURES) + "/machines/";
    ::setenv("VELQUETTE_MACHINE", (machines + "smc-failing-index.json").c_str(), 1);
    EXPECT_EQ(openMessages(), "");
    EXPECT_EQ(SMCReadIndexCount(), 4u);
    smc_close();

    installProcessSmcTransport(nullptr);
    ::setenv("VELQUETTE_MACHINE", (machines + "smc-none.json").c_str(), 1);
    EXPECT_EQ(openMessages(), "Error: no SMC found\n");
}

TEST_F(ProcessTransport, UnusableMachineFileMeansNoSmc) {
    ::setenv("VELQUETTE_MACHINE", "/nonexistent/machine.json", 1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(openMessages(), "Error: no SMC found\n");
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("/nonexistent/machine.json"), std::string::npos);
}

TEST_F(ProcessTransport, SysRootWithTheDriverChoosesApplesmc) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("velquette-sysroot-" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::copy(fs::path(VELQUETTE_FIXTURES) / "smc/sysfs-one-key", root, fs::copy_options::recursive);
    ::setenv("VELQUETTE_SYS_ROOT", root.c_str(), 1);
    EXPECT_EQ(openMessages(), "");
    SMCKeyValue val;
    ASSERT_EQ(SMCReadKey("TC0H", &val), 0u);
    EXPECT_STREQ(val.type, "sp78");
    EXPECT_EQ(val.bytes[0], 0x2D);

    installProcessSmcTransport(nullptr);
    conn = 0;
    ::setenv("VELQUETTE_SYS_ROOT", (root / "nothing-here").c_str(), 1);
    EXPECT_EQ(openMessages(), "Error: no SMC found\n");
    fs::remove_all(root);
}

}  // namespace
}  // namespace vq::test
