// /proc/meminfo and /proc/vmstat: parsers on table cases, the reader on
// fixture trees of several kernel generations and on the running kernel.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/linux_storage.h"
#include "platform/linux/meminfo.h"
#include "platform/linux/meminfo_memory_stats.h"
#include "platform/linux/vmstat.h"

namespace vq {

// Test-only comparison and printing, found by argument-dependent lookup.
bool operator==(const VmStatistics& a, const VmStatistics& b) {
    return a.freeCount == b.freeCount && a.activeCount == b.activeCount && a.inactiveCount == b.inactiveCount &&
           a.wireCount == b.wireCount && a.pageins == b.pageins && a.pageouts == b.pageouts;
}

std::ostream& operator<<(std::ostream& out, const VmStatistics& s) {
    return out << "{free " << s.freeCount << ", active " << s.activeCount << ", inactive " << s.inactiveCount
               << ", wired " << s.wireCount << ", in " << s.pageins << ", out " << s.pageouts << "}";
}

namespace linux_platform {
namespace {

const std::string kFixtures = VELQUETTE_FIXTURES "/linux";

TEST(Meminfo, KeysMatchWholeAndNeedTheKilobyteUnit) {
    struct Case {
        const char* name;
        const char* text;
        std::optional<std::uint64_t> total, free, active, inactive, swap;
    } cases[] = {
        {"plain", "MemTotal: 1000 kB\nMemFree: 200 kB\nActive: 300 kB\nInactive: 400 kB\nSwapTotal: 0 kB\n", 1000, 200,
         300, 400, 0},
        // Only the sub-lists are present: they must not stand in for the totals.
        {"anon and file only", "MemTotal: 1000 kB\nActive(anon): 5 kB\nInactive(file): 6 kB\n", 1000, std::nullopt,
         std::nullopt, std::nullopt, std::nullopt},
        {"unitless huge-page counts", "HugePages_Total:   10240\nMemFree:  1 kB\n", std::nullopt, 1, std::nullopt,
         std::nullopt, std::nullopt},
        {"no final newline", "SwapTotal:   8 kB", std::nullopt, std::nullopt, std::nullopt, std::nullopt, 8},
        {"tabs and extra spaces", "MemTotal:\t\t 42   kB\n", 42, std::nullopt, std::nullopt, std::nullopt,
         std::nullopt},
        {"garbled values", "MemTotal: -5 kB\nMemFree: 12x kB\nActive: 99999999999999999999999 kB\nInactive: 3 MB\n",
         std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {"prefix of another key", "MemTotalX: 5 kB\nXMemFree: 6 kB\n", std::nullopt, std::nullopt, std::nullopt,
         std::nullopt, std::nullopt},
        {"empty", "", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        const Meminfo m = parseMeminfo(c.text);
        EXPECT_EQ(m.memTotalKiB, c.total) << c.name;
        EXPECT_EQ(m.memFreeKiB, c.free) << c.name;
        EXPECT_EQ(m.activeKiB, c.active) << c.name;
        EXPECT_EQ(m.inactiveKiB, c.inactive) << c.name;
        EXPECT_EQ(m.swapTotalKiB, c.swap) << c.name;
    }
}

TEST(Meminfo, WiredIsTheRestOfTheTotalAndNeverNegative) {
    struct Case {
        const char* name;
        Meminfo meminfo;
        std::optional<VmStatistics> pages;
    } cases[] = {
        {"rest of the total", {4096, 1024, 400, 800, 0}, VmStatistics{256, 100, 200, 468, 0, 0}},
        // Sampled one line after another, the parts can exceed the total.
        {"parts above the total", {1000, 600, 300, 200, 0}, VmStatistics{150, 75, 50, 0, 0, 0}},
        // Each figure rounds down on its own; wired takes up the lost pages so
        // that the four still add up to the total.
        {"rounding", {4000, 3, 3, 3, 0}, VmStatistics{0, 0, 0, 1000, 0, 0}},
        {"no total", {std::nullopt, 1, 1, 1, 0}, std::nullopt},
        {"no inactive", {8, 1, 1, std::nullopt, 0}, std::nullopt},
        {"beyond 32 bits",
         {std::uint64_t{1} << 45, std::uint64_t{1} << 44, 0, 0, 0},
         VmStatistics{0xFFFFFFFF, 0, 0, 0xFFFFFFFF, 0, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(pageCountsFromMeminfo(c.meminfo), c.pages) << c.name;
}

TEST(Vmstat, PagingCountersInKilobytesBecomePages) {
    const VmstatPaging paging = parseVmstat("nr_free_pages 12\npgpgin 4096\npgpgout 9\npgpginx 1\npswpin 3\n");
    EXPECT_EQ(paging.pgpginKiB, 4096u);
    EXPECT_EQ(paging.pgpgoutKiB, 9u);
    EXPECT_EQ(parseVmstat("pgpgin\npgpgout 1 2\n").pgpginKiB, std::nullopt);
    EXPECT_EQ(parseVmstat("pgpgin\npgpgout 1 2\n").pgpgoutKiB, std::nullopt);

    struct Case {
        std::uint64_t kib;
        std::uint32_t pages;
    } cases[] = {{0, 0},
                 {3, 0},
                 {4, 1},
                 {4096, 1024},
                 {(std::uint64_t{1} << 34) + 4, 1},
                 {(std::uint64_t{1} << 34) - 4, 0xFFFFFFFF}};
    for (const Case& c : cases) EXPECT_EQ(pageCounterFromKiB(c.kib), c.pages) << c.kib;
}

TEST(MeminfoMemoryStats, ReadsEachKernelGeneration) {
    struct Case {
        const char* tree;
        VmStatistics pages;
        std::uint64_t swapBytes;
    } cases[] = {
        // No MemAvailable yet; page-outs of 7 KiB are one page.
        {"meminfo-2.6.32", {53086, 511890, 314178, 101862, 5120000, 1}, 2097144ull * 1024},
        // pgpgout past 2^34 KiB: the page counter keeps its low 32 bits.
        {"meminfo-4.19", {2280103, 1043800, 565598, 190089, 1000000, 1}, 0},
        // A reserved pool of huge pages is in none of the lists, so wired holds it.
        {"meminfo-6.8-hugepages", {5000000, 3000000, 2000000, 6384000, 30864197, 246913}, 8388604ull * 1024},
    };
    for (const Case& c : cases) {
        auto stats = makeLinuxMemoryStats(Roots{kFixtures + "/" + c.tree, "/nonexistent", "/nonexistent"});
        EXPECT_EQ(stats->hostStatistics(), c.pages) << c.tree;
        EXPECT_EQ(stats->swapTotalBytes(), c.swapBytes) << c.tree;
    }
}

TEST(MeminfoMemoryStats, MissingFilesOrFiguresFail) {
    const std::string dir = ::testing::TempDir() + "/meminfo-partial";
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/meminfo") << "MemTotal: 100 kB\nMemFree: 10 kB\nActive: 10 kB\nInactive: 10 kB\n";
    std::ofstream(dir + "/vmstat") << "pgpgin 4\n";  // no pgpgout
    MeminfoMemoryStats partial(dir);
    EXPECT_EQ(partial.hostStatistics(), std::nullopt);
    EXPECT_EQ(partial.swapTotalBytes(), std::nullopt);

    MeminfoMemoryStats missing(kFixtures + "/does-not-exist");
    EXPECT_EQ(missing.hostStatistics(), std::nullopt);
    EXPECT_EQ(missing.swapTotalBytes(), std::nullopt);
}

TEST(MeminfoMemoryStats, LiveCountsAddUpToTheTotal) {
    std::ifstream in("/proc/meminfo");
    if (!in) GTEST_SKIP() << "no /proc/meminfo";
    std::stringstream text;
    text << in.rdbuf();
    const auto totalKiB = parseMeminfo(text.str()).memTotalKiB;
    ASSERT_TRUE(totalKiB);

    auto stats = makeLinuxMemoryStats(Roots{});
    const auto pages = stats->hostStatistics();
    ASSERT_TRUE(pages);
    const std::uint64_t sum =
        std::uint64_t{pages->freeCount} + pages->activeCount + pages->inactiveCount + pages->wireCount;
    // The reader takes its own sample; MemTotal only moves with memory
    // hot-plug or balloon drivers.
    EXPECT_EQ(sum, *totalKiB / 4);
    EXPECT_GT(pages->freeCount, 0u);
    EXPECT_GT(pages->activeCount + pages->inactiveCount, 0u);
    EXPECT_TRUE(stats->swapTotalBytes().has_value());
}

}  // namespace
}  // namespace linux_platform
}  // namespace vq
