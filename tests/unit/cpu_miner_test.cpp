#include <gtest/gtest.h>

#include "miners/VQTDataMinerCPU.h"
#include "platform/sim/sim_machine.h"

namespace vq {
namespace {

struct CpuMinerTest : ::testing::Test {
    std::shared_ptr<SimMachine> machine = std::make_shared<SimMachine>();
    std::unique_ptr<VQTDataMinerCPU> miner;

    void create() { miner = std::make_unique<VQTDataMinerCPU>(machine, machine); }
    const Value& summary() const { return miner->getDataSet()[0]; }
    const Value& core(std::size_t i) const { return miner->getDataSet()[1][i]; }
};

TEST_F(CpuMinerTest, TwoProcessorsTruncateEachShareBeforeDividing) {
    // Interval totals of 1000 ticks: core 0 at system 10.6 % and user 20.7 %,
    // core 1 at system 10.6 % and user 10 %.
    machine->tickSamples = {{{0, 0, 0, 0}, {0, 0, 0, 0}}, {{207, 106, 687, 0}, {100, 106, 794, 0}}};
    create();
    EXPECT_TRUE(miner->getDataSet().is_null());
    miner->mineData();

    EXPECT_EQ(core(0)[0], 31);  // trunc(0 + (10.6 + 20.7))
    EXPECT_FLOAT_EQ(core(0)[1].get<float>(), 10.6f);
    EXPECT_FLOAT_EQ(core(0)[2].get<float>(), 20.7f);
    EXPECT_FLOAT_EQ(core(0)[3].get<float>(), 0.0f);
    EXPECT_EQ(core(1)[0], 20);
    // Shares go out as the double of the float, not a re-rounded double.
    EXPECT_EQ(core(0)[1].get<double>(), static_cast<double>(106.0f / 1000.0f * 100.0f));
    // S = (10 + 10) / 2, U = (20 + 10) / 2.
    EXPECT_EQ(summary(), Value::array({10, 15, 0, 75, 25}));
    EXPECT_EQ(miner->getProcessors(), 2);
}

TEST_F(CpuMinerTest, OneProcessorKeepsWholeNumberSharesWithoutDivision) {
    machine->tickSamples = {{{0, 0, 0, 0}}, {{337, 129, 500, 34}}};
    create();
    miner->mineData();
    EXPECT_EQ(summary(), Value::array({12, 33, 3, 52, 48}));
    EXPECT_EQ(core(0)[0], 50);
}

TEST_F(CpuMinerTest, SummaryAlwaysAddsUpToOneHundred) {
    machine->tickSamples = {{{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}},
                            {{999, 1, 0, 0}, {333, 333, 333, 1}, {0, 0, 1000, 0}},
                            {{1999, 501, 400, 100}, {333, 333, 333, 1}, {10, 990, 1000, 0}}};
    create();
    for (int sample = 0; sample < 2; ++sample) {
        miner->mineData();
        const auto s = summary().get<std::vector<int>>();
        EXPECT_EQ(s[3] + s[4], 100);
        EXPECT_EQ(s[4], s[0] + s[1] + s[2]);
        for (int share : {s[0], s[1], s[2]}) EXPECT_GE(share, 0);
    }
}

TEST_F(CpuMinerTest, WrappedCountersGiveTheTrueDelta) {
    const std::uint32_t nearTop = 0xFFFFFF00u;
    machine->tickSamples = {{{nearTop, nearTop, nearTop, 0}}, {{nearTop + 500u, nearTop + 250u, nearTop + 250u, 0}}};
    create();
    miner->mineData();
    EXPECT_FLOAT_EQ(core(0)[2].get<float>(), 50.0f);
    EXPECT_FLOAT_EQ(core(0)[1].get<float>(), 25.0f);
    EXPECT_EQ(summary(), Value::array({25, 50, 0, 25, 75}));
}

TEST_F(CpuMinerTest, NoElapsedTicksReportsZeroLoadInsteadOfNaN) {
    machine->tickSamples = {{{5, 5, 5, 5}, {1, 1, 1, 1}}, {{5, 5, 5, 5}, {101, 1, 1, 1}}};
    create();
    miner->mineData();
    EXPECT_EQ(core(0), Value::array({0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(core(1)[0], 100);
    EXPECT_EQ(summary(), Value::array({0, 50, 0, 50, 50}));
}

TEST_F(CpuMinerTest, ProcessorCountChangesNeverOverrunTheSavedTable) {
    machine->tickSamples = {
        {{0, 0, 0, 0}},                                   // creation: one processor
        {{0, 0, 100, 0}, {50, 50, 0, 0}, {10, 0, 0, 0}},  // three appear
        {{0, 0, 200, 0}, {150, 50, 0, 0}, {20, 0, 0, 0}},
        {{100, 0, 200, 0}},                               // back to one
    };
    create();
    miner->mineData();
    ASSERT_EQ(miner->getDataSet()[1].size(), 3u);
    // The newcomers have no interval yet and count as idle.
    EXPECT_EQ(core(1)[0], 0);
    EXPECT_EQ(core(2)[0], 0);
    EXPECT_EQ(miner->getProcessors(), 3);

    miner->mineData();  // all three compared against the rebuilt table
    EXPECT_EQ(core(1)[0], 100);
    EXPECT_FLOAT_EQ(core(1)[2].get<float>(), 100.0f);
    EXPECT_EQ(core(2)[0], 100);

    miner->mineData();
    ASSERT_EQ(miner->getDataSet()[1].size(), 1u);
    EXPECT_EQ(core(0)[0], 100);
    EXPECT_EQ(miner->getProcessors(), 1);
}

TEST_F(CpuMinerTest, FailedTickReadKeepsThePreviousDataSet) {
    machine->tickSamples = {{{0, 0, 0, 0}}, {{50, 0, 50, 0}}};
    create();
    miner->mineData();
    const Value before = miner->getDataSet();
    machine->tickSamples.clear();
    miner->mineData();
    EXPECT_EQ(miner->getDataSet(), before);
}

TEST_F(CpuMinerTest, UnreadableTicksAtCreationStillSampleLater) {
    create();  // no counters at all
    EXPECT_EQ(miner->getProcessors(), 0);
    machine->tickSamples = {{{10, 10, 10, 10}}, {{20, 10, 10, 10}}};
    miner->mineData();
    EXPECT_EQ(summary(), Value::array({0, 0, 0, 100, 0}));
    miner->mineData();
    EXPECT_EQ(summary(), Value::array({0, 100, 0, 0, 100}));
}

TEST_F(CpuMinerTest, LoadAveragesAreFormattedWithTwoDecimals) {
    create();
    machine->loadRecord = LoadAverageRecord{{32768, 16384, 65536}, 65536};
    EXPECT_EQ(miner->getLoad(), "0.50, 0.25, 1.00");
    machine->loadRecord = LoadAverageRecord{{2048 * 3 + 1, 0, 2048 * 100}, 2048};
    EXPECT_EQ(miner->getLoad(), "3.00, 0.00, 100.00");
    machine->loadRecord.reset();
    EXPECT_EQ(miner->getLoad(), "");
    machine->loadRecord = LoadAverageRecord{{1, 1, 1}, 0};  // no scale: nothing sensible to show
    EXPECT_EQ(miner->getLoad(), "");
}

TEST_F(CpuMinerTest, ProcessInfoNamesTasksAndThreads) {
    create();
    machine->taskCounts = TaskCounts{57, 213};
    EXPECT_EQ(miner->processInfo(), "57 tasks, 213 threads");
    machine->taskCounts.reset();
    EXPECT_EQ(miner->processInfo(), "");
}

TEST_F(CpuMinerTest, UptimeShowsDaysHoursMinutesAndDropsSeconds) {
    create();
    machine->boot = BootTime{1'700'000'000, 0};
    struct Case {
        std::int64_t elapsed;
        const char* expected;
    } cases[] = {
        {86400 + 2 * 3600 + 3 * 60 + 59, "1d 2h 3m"},
        {59, "0d 0h 0m"},
        {3600, "0d 1h 0m"},
        {400 * 86400 + 23 * 3600 + 59 * 60, "400d 23h 59m"},
    };
    for (const auto& c : cases) {
        machine->clockSamples = {static_cast<double>(1'700'000'000 + c.elapsed)};
        EXPECT_EQ(miner->getUptime(), c.expected) << c.elapsed;
    }
    machine->boot = BootTime{0, 5};
    EXPECT_EQ(miner->getUptime(), "");
    machine->boot.reset();
    EXPECT_EQ(miner->getUptime(), "");
}

}  // namespace
}  // namespace vq
