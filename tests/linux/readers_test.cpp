#include <gtest/gtest.h>

#include "platform/linux/linux_machine_info.h"
#include "platform/linux/linux_processor_stats.h"
#include "platform/linux/posix_file_system.h"
#include "platform/platform.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace vq::linux_platform {
namespace {

const std::string kFixtures = VELQUETTE_FIXTURES "/linux";

TEST(LoadavgThreadTotal, ReadsTheTotalAfterTheSlash) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> threads;
    } cases[] = {
        {"0.52 0.31 1.07 2/417 98765\n", 417}, {"0.00 0.00 0.00 1/1 1", 1}, {"0.1 0.2 0.3 5 77\n", std::nullopt},
        {"0.1 0.2 0.3", std::nullopt},        {"0.1 0.2 0.3 2/ 1", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseLoadavgThreadTotal(c.text), c.threads) << c.text;
}

TEST(TaskEntries, CountOnlyNumericNames) {
    EXPECT_EQ(countTaskEntries({"1", "42", "self", "thread-self", "sys", "4000", "1a", ""}), 3);
}

TEST(LoadAverage, SysinfoLoadsUseSixteenFractionalBits) {
    const unsigned long loads[3] = {32768, 16384, 65536 * 3};
    const LoadAverageRecord record = loadAverageFromSysinfo(loads);
    EXPECT_EQ(record.fscale, 65536);
    EXPECT_EQ(record.ldavg[0], 32768u);
    EXPECT_EQ(record.ldavg[2], 65536u * 3);
}

TEST(LinuxProcessorStats, ReadsAFixtureTreeWithAnOfflineProcessor) {
    LinuxProcessorStats stats(kFixtures + "/proc-offline-cpu");
    auto ticks = stats.processorLoadInfo();
    ASSERT_TRUE(ticks);
    ASSERT_EQ(ticks->size(), 4u);
    EXPECT_EQ((*ticks)[0], (ProcessorTicks{10000, 3000 + 40 + 60 + 20, 130000 + 700, 200}));
    EXPECT_EQ((*ticks)[1], (ProcessorTicks{0, 0, 0, 0}));
    EXPECT_EQ((*ticks)[3][kStateUser], 8000u);
    EXPECT_EQ(stats.bootTime()->sec, 1764000000);
    auto counts = stats.processorSetLoadInfo();
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->tasks, 3);
    EXPECT_EQ(counts->threads, 417);
}

TEST(LinuxProcessorStats, ReadsAnOldKernelTree) {
    LinuxProcessorStats stats(kFixtures + "/proc-old-kernel");
    auto ticks = stats.processorLoadInfo();
    ASSERT_TRUE(ticks);
    ASSERT_EQ(ticks->size(), 2u);
    EXPECT_EQ((*ticks)[1], (ProcessorTicks{2500, 1000 + 10 + 15, 40000 + 150, 5}));
    EXPECT_EQ(stats.bootTime()->sec, 1100000000);
    EXPECT_EQ(stats.processorSetLoadInfo()->tasks, 1);
}

TEST(LinuxProcessorStats, MissingTreeFailsEveryQuery) {
    LinuxProcessorStats stats(kFixtures + "/does-not-exist");
    EXPECT_EQ(stats.processorLoadInfo(), std::nullopt);
    EXPECT_EQ(stats.processorSetLoadInfo(), std::nullopt);
    EXPECT_EQ(stats.bootTime(), std::nullopt);
}

TEST(MachineInfo, ProductNameIsTrimmedAndEmptyMeansUnknown) {
    EXPECT_EQ(parseProductName("MacBookPro5,1\n"), "MacBookPro5,1");
    EXPECT_EQ(parseProductName("  ThinkPad X1 Carbon Gen 9 \n"), "ThinkPad X1 Carbon Gen 9");
    EXPECT_EQ(parseProductName("\n"), std::nullopt);
    EXPECT_EQ(LinuxMachineInfo(kFixtures + "/does-not-exist").modelName(), std::nullopt);
}

TEST(XdgDataHome, FollowsTheBaseDirectoryRules) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* expected;
    } cases[] = {
        {"/data", "/home/u", "/data"},
        {nullptr, "/home/u", "/home/u/.local/share"},
        {"", "/home/u/", "/home/u/.local/share"},
        {"relative/dir", "/home/u", "/home/u/.local/share"},
        {nullptr, "/", "/.local/share"},
        {nullptr, nullptr, ""},
        {nullptr, "relative", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(xdgDataHome(c.xdg, c.home), c.expected);
}

}  // namespace
}  // namespace vq::linux_platform

namespace vq {
namespace {

TEST(LinuxPlatform, CreatesAMissingDataFolderPrivately) {
    char pattern[] = "/tmp/velquette-xdg-XXXXXX";
    const std::string base = ::mkdtemp(pattern);
    const std::string dataHome = base + "/fresh/share";
    const char* previous = std::getenv("XDG_DATA_HOME");
    const std::string saved = previous ? previous : "";
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    Platform platform = makePlatformFromEnvironment();
    if (previous) ::setenv("XDG_DATA_HOME", saved.c_str(), 1); else ::unsetenv("XDG_DATA_HOME");

    EXPECT_EQ(platform.files->applicationSupportDirectory(), dataHome);
    struct stat info {};
    ASSERT_EQ(::stat(dataHome.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace vq
