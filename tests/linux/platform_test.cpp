// The processor reader on fixture trees and this machine, smaller services, the session-bus notifications.
#include "platform/platform.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "miners/VQTDataMinerCPU.h"
#include "platform/linux/common/posix_file_system.h"
#include "platform/linux/desktop/dbus_notification_center.h"
#include "platform/linux/processor/linux_machine_info.h"
#include "platform/linux/processor/linux_processor_stats.h"
#include "platform/linux/processor/proc_stat.h"
#include "platform/linux/storage/mountinfo_notifier.h"

namespace vq::linux_platform {
namespace {

const std::string kFixtures = VELQUETTE_FIXTURES "/linux";

CpuLine line(int cpu, std::array<std::uint64_t, kCpuColumns> ticks) { return CpuLine{cpu, ticks}; }

TEST(LinuxProcessorStats, FixtureTreesAndOfflineProcessors) {
    using TasksAndThreads = std::pair<std::int32_t, std::int32_t>;
    // cpu1 offline; guest inside user; irq, softirq, steal are system, iowait idle. proc-garbled: four columns,
    // a tab, a counter past 32 bits kept to its low bits, garbled lines, no btime value, no thread total.
    const std::vector<ProcessorTicks> offline = {
        {10000, 3120, 130700, 200}, {}, {12000, 3620, 135800, 300}, {8000, 2610, 135500, 100}};
    const std::tuple<const char*, std::vector<ProcessorTicks>, std::int32_t, TasksAndThreads> cases[] = {
        {"proc-offline-cpu", offline, 1764000000, {3, 417}},
        {"proc-old-kernel", {{2500, 1025, 40150, 5}, {2500, 1025, 40150, 5}}, 1100000000, {1, 60}},
        {"proc-garbled", {{5, 7, 9, 0}, {}, {}, {}, {4, 2, 1, 3}}, 0, {0, 0}}};
    for (const auto& [tree, ticks, bootTime, tasksAndThreads] : cases) {
        LinuxProcessorStats stats(kFixtures + "/" + tree);
        EXPECT_EQ(stats.processorLoadInfo(), ticks) << tree;
        EXPECT_EQ(stats.bootTime().value_or(BootTime{}).sec, bootTime) << tree;
        const TaskCounts counts = stats.processorSetLoadInfo().value_or(TaskCounts{});
        EXPECT_EQ(std::pair(counts.tasks, counts.threads), tasksAndThreads) << tree;
    }
    LinuxProcessorStats missing(kFixtures + "/does-not-exist");
    EXPECT_FALSE(missing.processorLoadInfo() || missing.processorSetLoadInfo() || missing.bootTime());

    TickFolder folder;
    folder.fold({line(0, {10, 0, 10, 100, 50}), line(1, {2, 0, 2, 2}), line(2, {3, 0, 3, 3})});
    // cpu1 went offline; iowait of cpu0 dropped by 10.
    auto rows = folder.fold({line(0, {11, 0, 10, 101, 40}), line(2, {6, 0, 6, 6})});
    EXPECT_EQ(rows, (std::vector<ProcessorTicks>{{11, 10, 150, 0}, {2, 2, 2, 0}, {6, 6, 6, 0}}));
    EXPECT_EQ(folder.fold({line(0, {12, 0, 10, 130, 40})})[0], (ProcessorTicks{12, 10, 170, 0}));
    TickFolder fresh;  // a processor never seen online reads as zeros
    EXPECT_EQ(fresh.fold({line(1, {1, 1, 1, 1})}), (std::vector<ProcessorTicks>{{0, 0, 0, 0}, {1, 1, 1, 1}}));
}

TEST(SmallServices, SysinfoScaleProductNameAndDataFolder) {
    const unsigned long loads[3] = {32768, 16384, 65536 * 3};
    const LoadAverageRecord record = loadAverageFromSysinfo(loads);
    EXPECT_EQ(std::pair(record.fscale, record.ldavg),
              std::pair(65536, std::array<std::uint32_t, 3>{32768, 16384, 196608}));
    EXPECT_EQ(parseProductName("  ThinkPad X1 Carbon Gen 9 \n"), "ThinkPad X1 Carbon Gen 9");
    EXPECT_EQ(parseProductName("\n"), std::nullopt);
    EXPECT_FALSE(MountinfoNotifier("/nonexistent-proc").watchMounts([] {})) << "no mount table, no subscription";
    const std::tuple<const char*, const char*, const char*> homes[] = {{"/data", "/h", "/data"},
                                                                       {"relative", "/h/", "/h/.local/share"},
                                                                       {nullptr, "/", "/.local/share"},
                                                                       {nullptr, "relative", ""}};
    for (const auto& [xdg, home, expected] : homes) EXPECT_EQ(xdgDataHome(xdg, home), expected) << xdg << home;

    // A missing data folder is created, private to its owner.
    char pattern[] = "/tmp/velquette-xdg-XXXXXX";
    const std::string base = ::mkdtemp(pattern), dataHome = base + "/fresh/share";
    const char* previous = std::getenv("XDG_DATA_HOME");
    const std::string saved = previous ? previous : "";
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    Platform platform = makePlatformFromEnvironment();
    previous ? ::setenv("XDG_DATA_HOME", saved.c_str(), 1) : ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(platform.files->applicationSupportDirectory(), dataHome);
    struct stat info {};
    EXPECT_EQ(::stat(dataHome.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFDIR | 0700u);
    std::filesystem::remove_all(base);
}

// The CPU miner on this machine against what the kernel prints.
TEST(LiveMachine, ProcessorsLoadAndUptimeAgreeWithProc) {
    if (std::getenv("VELQUETTE_MACHINE")) GTEST_SKIP() << "a simulated machine is selected";
    Platform platform = makePlatformFromEnvironment();
    VQTDataMinerCPU miner(platform.processorStats, platform.clock);
    miner.mineData();
    ASSERT_TRUE(miner.getDataSet().is_array());
    std::ifstream procStat("/proc/stat");
    const std::string text(std::istreambuf_iterator<char>(procStat), {});
    EXPECT_EQ(miner.getDataSet()[1].size(), parseProcStat(text).cpus.back().cpu + 1u);
    double ours[3], kernel[3] = {-1, -1, -1}, uptime = 0;
    ASSERT_EQ(std::sscanf(miner.getLoad().c_str(), "%lf, %lf, %lf", &ours[0], &ours[1], &ours[2]), 3);
    std::ifstream("/proc/loadavg") >> kernel[0] >> kernel[1] >> kernel[2];
    std::ifstream("/proc/uptime") >> uptime;
    // sysinfo() and /proc/loadavg round the same values separately; allow a tick in between.
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(ours[i], kernel[i], 0.011 + 0.05 * kernel[i]);
    int days, hours, minutes;
    ASSERT_EQ(std::sscanf(miner.getUptime().c_str(), "%dd %dh %dm", &days, &hours, &minutes), 3);
    // Boot time is whole seconds of wall-clock time, minutes are truncated.
    EXPECT_NEAR(days * 86400.0 + hours * 3600.0 + minutes * 60.0, uptime, 62.0);
    EXPECT_NE(miner.processInfo().find(" tasks, "), std::string::npos) << miner.processInfo();
}

// Iterates the thread-default context until `done` or two seconds pass.
bool spinUntil(const bool& done) {
    const gint64 deadline = g_get_monotonic_time() + 2 * G_USEC_PER_SEC;
    while (!done && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, FALSE), g_usleep(1000);
    return done;
}

TEST(DBusNotificationCenter, DeliversANamedNotificationOverTheSessionBus) {
    DBusNotificationCenter offline(nullptr);
    EXPECT_FALSE(offline.observe("Anything", [] {}) || offline.post("Anything"));
    DBusNotificationCenter center;
    if (!center.connected()) GTEST_SKIP() << "no D-Bus session bus";
    bool arrived = false, other = false, never = false;
    Subscription subscription = center.observe("ParquellIntelModuleAvailable", [&] { arrived = true; });
    Subscription unrelated = center.observe("SomethingElse", [&] { other = true; });
    ASSERT_TRUE(center.post("ParquellIntelModuleAvailable"));
    EXPECT_TRUE(spinUntil(arrived));
    EXPECT_FALSE(other);
    arrived = false;
    subscription.reset();
    ASSERT_TRUE(center.post("ParquellIntelModuleAvailable"));
    spinUntil(never);
    EXPECT_FALSE(arrived);
}

}  // namespace
}  // namespace vq::linux_platform
