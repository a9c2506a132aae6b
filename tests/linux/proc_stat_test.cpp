#include <gtest/gtest.h>

#include "platform/linux/proc_stat.h"

namespace vq::linux_platform {
namespace {

using Ticks = std::array<std::uint64_t, kCpuColumns>;

TEST(ParseProcStat, ReadsProcessorLinesByTheirOwnNumber) {
    struct Case {
        const char* name;
        const char* text;
        std::vector<int> cpus;
        std::vector<Ticks> ticks;
        std::optional<std::int64_t> btime;
    } cases[] = {
        {"current kernel",
         "cpu  4 4 4 4 4 4 4 4 4 4\ncpu0 1 2 3 4 5 6 7 8 9 10\ncpu1 10 9 8 7 6 5 4 3 2 1\nbtime 1764000000\n",
         {0, 1},
         {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {10, 9, 8, 7, 6, 5, 4, 3, 2, 1}},
         1764000000},
        {"offline processor leaves a gap", "cpu 1 1 1 1\ncpu0 1 1 1 1\ncpu2 2 2 2 2\n", {0, 2},
         {{1, 1, 1, 1}, {2, 2, 2, 2}}, std::nullopt},
        {"2.4 kernel prints four columns", "cpu0 7 6 5 4\nbtime 5\n", {0}, {{7, 6, 5, 4}}, 5},
        {"2.6 kernel prints seven columns", "cpu0 1 2 3 4 5 6 7\n", {0}, {{1, 2, 3, 4, 5, 6, 7}}, std::nullopt},
        {"64-bit counters", "cpu0 18446744073709551615 0 4294967296 1\n", {0},
         {{18446744073709551615ull, 0, 4294967296ull, 1}}, std::nullopt},
        {"no trailing newline, tabs", "cpu3\t9 9 9 9", {3}, {{9, 9, 9, 9}}, std::nullopt},
        {"malformed lines are skipped",
         "cpu0 1 2 3\ncpuX 1 2 3 4\ncpu-1 1 1 1 1\ncpu1 1 2 x 4\ncpu2 1 2 3 4 99999999999999999999\ncpu4 4 4 4 4\nbtime\n",
         {4}, {{4, 4, 4, 4}}, std::nullopt},
        {"empty", "", {}, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProcStat stat = parseProcStat(c.text);
        ASSERT_EQ(stat.cpus.size(), c.cpus.size());
        for (std::size_t i = 0; i < c.cpus.size(); ++i) {
            EXPECT_EQ(stat.cpus[i].cpu, c.cpus[i]);
            EXPECT_EQ(stat.cpus[i].ticks, c.ticks[i]);
        }
        EXPECT_EQ(stat.bootTime, c.btime);
    }
}

TEST(FoldCpuLine, CountsGuestOnceAndInterruptsAndStealAsSystem) {
    CpuLine line;
    line.ticks = {100, 7, 20, 500, 30, 3, 4, 5, 60, 2};  // guest 60 is already inside user
    const auto folded = foldCpuLine(line);
    EXPECT_EQ(folded[kStateUser], 100u);
    EXPECT_EQ(folded[kStateSystem], 20u + 3 + 4 + 5);
    EXPECT_EQ(folded[kStateIdle], 530u);
    EXPECT_EQ(folded[kStateNice], 7u);
}

CpuLine line(int cpu, Ticks ticks) {
    CpuLine l;
    l.cpu = cpu;
    l.ticks = ticks;
    return l;
}

TEST(TickFolder, KeepsPlacesOfOfflineProcessorsAndTheirLastCounters) {
    TickFolder folder;
    auto rows = folder.fold({line(0, {1, 0, 1, 1}), line(1, {2, 0, 2, 2}), line(2, {3, 0, 3, 3})});
    ASSERT_EQ(rows.size(), 3u);
    rows = folder.fold({line(0, {5, 0, 5, 5}), line(2, {6, 0, 6, 6})});  // cpu1 went offline
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1], (ProcessorTicks{2, 2, 2, 0}));
    EXPECT_EQ(rows[2], (ProcessorTicks{6, 6, 6, 0}));

    TickFolder fresh;  // a processor never seen online reads as zeros
    rows = fresh.fold({line(0, {1, 1, 1, 1}), line(3, {1, 1, 1, 1})});
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1], (ProcessorTicks{0, 0, 0, 0}));
}

TEST(TickFolder, IowaitGoingBackwardsNeverMakesIdleDecrease) {
    TickFolder folder;
    folder.fold({line(0, {10, 0, 10, 100, 50})});
    auto rows = folder.fold({line(0, {11, 0, 10, 101, 40})});  // iowait dropped by 10
    EXPECT_EQ(rows[0][kStateIdle], 150u);
    rows = folder.fold({line(0, {12, 0, 10, 130, 40})});
    EXPECT_EQ(rows[0][kStateIdle], 170u);
    EXPECT_EQ(rows[0][kStateUser], 12u);
}

TEST(TickFolder, KeepsTheLow32BitsOfHugeCounters) {
    TickFolder folder;
    auto rows = folder.fold({line(0, {(1ull << 32) + 5, 0, 0, (1ull << 33) + 7})});
    EXPECT_EQ(rows[0][kStateUser], 5u);
    EXPECT_EQ(rows[0][kStateIdle], 7u);
}

}  // namespace
}  // namespace vq::linux_platform
