#include <gtest/gtest.h>

#include "miners/VQTDataMinerMemory.h"
#include "platform/sim/sim_machine.h"

namespace vq {
namespace {

TEST(MemoryText, MegabytesStepUpAbove1000AndDivideBy1024) {
    struct Case {
        float mb;
        const char* text;
        const char* swapText;
    } cases[] = {
        {0, "0mb", "0mb"},
        {64, "64mb", "64mb"},
        {999.6f, "1000mb", "1000mb"},
        {1000, "1000mb", "1000mb"},
        {1001, "0.98gb", "1.0gb"},
        {1024, "1.00gb", "1.0gb"},
        {1536, "1.50gb", "1.5gb"},
        {2048, "2.00gb", "2.0gb"},
        {1048576, "1.00tb", "1.0tb"},
        {4.0e9f, "3814.70tb", "3814.7tb"},  // past the last unit: stays in terabytes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VQTDataMinerMemory::convertM(c.mb), c.text) << c.mb;
        EXPECT_EQ(VQTDataMinerMemory::convertSwap(c.mb), c.swapText) << c.mb;
    }
}

TEST(MemoryText, PageCountsAreGroupedUpToAMillion) {
    struct Case {
        std::uint32_t pages;
        const char* text;
    } cases[] = {
        {0, "0"},          {7, "7"},           {999, "999"},           {1000, "1,000"},
        {65536, "65,536"}, {999999, "999,999"}, {1000000, "1.0mil"}, {2500000, "2.5mil"},
        {4294967295u, "4295.0mil"},
    };
    for (const auto& c : cases) EXPECT_EQ(VQTDataMinerMemory::formatPageCount(c.pages), c.text) << c.pages;
}

struct MemoryMinerTest : ::testing::Test {
    std::shared_ptr<SimMachine> machine = std::make_shared<SimMachine>();
    VQTDataMinerMemory miner{machine};
};

TEST_F(MemoryMinerTest, TwelveElementsAgainstOneTotal) {
    // 256 pages make a megabyte: free 1000 MB, active 2048, inactive 512, wired 440.
    machine->vmSamples = {{1000 * 256, 2048 * 256, 512 * 256, 440 * 256, 999999, 0}};
    machine->swapTotal = 1536ull << 20;
    EXPECT_TRUE(miner.getDataSet().is_null());
    miner.mineData();
    const Value& d = miner.getDataSet();
    ASSERT_EQ(d.size(), 12u);
    EXPECT_EQ(d[0], "1000mb");
    EXPECT_EQ(d[1], "2.43gb");  // 2488 MB used = active + wired
    EXPECT_EQ(d[2], "2.00gb");
    EXPECT_EQ(d[3], "512mb");
    EXPECT_EQ(d[4], "440mb");
    EXPECT_EQ(d[6], "999,999");
    EXPECT_EQ(d[7], "0");
    EXPECT_EQ(d[8], "1.48gb");  // free + inactive
    EXPECT_EQ(d[9], "1.5gb");
    const float total = 1000 + 2488 + 512;
    EXPECT_FLOAT_EQ(d[5].get<float>(), 100.0f * (2488 / total));
    EXPECT_FLOAT_EQ(d[10].get<float>(), 100.0f * (440 / total));
    EXPECT_FLOAT_EQ(d[11].get<float>(), 100.0f * (2048 / total));
    EXPECT_NEAR(d[5].get<double>(), d[10].get<double>() + d[11].get<double>(), 1e-4);
}

TEST_F(MemoryMinerTest, PagesBelowAMegabyteTruncate) {
    machine->vmSamples = {{255, 256, 511, 0, 0, 0}};
    miner.mineData();
    EXPECT_EQ(miner.getDataSet()[0], "0mb");
    EXPECT_EQ(miner.getDataSet()[2], "1mb");
    EXPECT_EQ(miner.getDataSet()[3], "1mb");
}

TEST_F(MemoryMinerTest, FailuresKeepTheDataSetAndNeverShowNaN) {
    machine->vmSamples = {{0, 0, 0, 0, 0, 0}};  // a total of 0
    miner.mineData();
    const Value first = miner.getDataSet();
    for (int i : {5, 10, 11}) EXPECT_EQ(first[i].get<double>(), 0.0);
    EXPECT_EQ(first[9], "0mb");  // no swap size readable
    machine->swapTotal = 0;
    EXPECT_EQ(miner.getSwap(), "0mb");

    machine->vmSamples = {{256, 256, 256, 256, 1, 2}};
    miner.mineData();
    const Value second = miner.getDataSet();
    EXPECT_NE(second, first);
    machine->vmSamples.clear();
    miner.mineData();
    EXPECT_EQ(miner.getDataSet(), second);
}

}  // namespace
}  // namespace vq
