// Checks the readers against the machine the tests run on.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "miners/VQTDataMinerCPU.h"
#include "platform/platform.h"

namespace vq {
namespace {

std::string slurp(const char* path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct LiveMachine : ::testing::Test {
    void SetUp() override {
        if (std::getenv("VELQUETTE_MACHINE")) GTEST_SKIP() << "a simulated machine is selected";
        platform = makePlatformFromEnvironment();
        miner = std::make_unique<VQTDataMinerCPU>(platform.processorStats, platform.clock);
    }
    Platform platform;
    std::unique_ptr<VQTDataMinerCPU> miner;
};

TEST_F(LiveMachine, OneEntryPerProcessorLine) {
    std::istringstream stat(slurp("/proc/stat"));
    int highest = -1;
    for (std::string line; std::getline(stat, line);) {
        if (line.rfind("cpu", 0) != 0 || line.size() < 4 || !std::isdigit(static_cast<unsigned char>(line[3])))
            continue;
        highest = std::max(highest, std::atoi(line.c_str() + 3));
    }
    miner->mineData();
    const Value& data = miner->getDataSet();
    ASSERT_TRUE(data.is_array());
    EXPECT_EQ(static_cast<int>(data[1].size()), highest + 1);
    const auto summary = data[0].get<std::vector<int>>();
    EXPECT_EQ(summary[3] + summary[4], 100);
    for (const auto& core : data[1]) {
        EXPECT_GE(core[0].get<int>(), 0);
        EXPECT_LE(core[0].get<int>(), 100);
    }
}

TEST_F(LiveMachine, LoadTextMatchesProcLoadavg) {
    const std::string text = miner->getLoad();
    double ours[3];
    ASSERT_EQ(std::sscanf(text.c_str(), "%lf, %lf, %lf", &ours[0], &ours[1], &ours[2]), 3) << text;
    double kernel[3];
    ASSERT_EQ(std::sscanf(slurp("/proc/loadavg").c_str(), "%lf %lf %lf", &kernel[0], &kernel[1], &kernel[2]), 3);
    // Both round the same fixed-point values; allow for a tick in between.
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(ours[i], kernel[i], 0.011 + 0.05 * kernel[i]) << text;
}

TEST_F(LiveMachine, UptimeAgreesWithProcUptime) {
    const std::string text = miner->getUptime();
    int days, hours, minutes;
    ASSERT_EQ(std::sscanf(text.c_str(), "%dd %dh %dm", &days, &hours, &minutes), 3) << text;
    const double ours = days * 86400.0 + hours * 3600.0 + minutes * 60.0;
    const double kernel = std::atof(slurp("/proc/uptime").c_str());
    // Boot time is whole seconds of wall-clock time, minutes are truncated.
    EXPECT_NEAR(ours, kernel, 60.0 + 2.0);
}

TEST_F(LiveMachine, TaskAndThreadCountsAreSane) {
    int tasks, threads;
    ASSERT_EQ(std::sscanf(miner->processInfo().c_str(), "%d tasks, %d threads", &tasks, &threads), 2);
    EXPECT_GE(tasks, 1);
    EXPECT_GE(threads, tasks > 0 ? 1 : 0);
}

}  // namespace
}  // namespace vq
