// The host on this machine: every processor is covered, shares are sane and
// the text answers agree with what /proc says.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "host_process.h"
#include "http_client.h"

namespace vq::e2e {
namespace {

class HostOnThisMachineTest : public ::testing::Test {
protected:
    void SetUp() override { host_.emplace(HostLaunch{std::nullopt, {}}); }
    void TearDown() override {
        if (!host_) return;  // SetUp failed and said why
        auto status = host_->stop(SIGTERM);
        EXPECT_TRUE(status.exitedWith(0)) << describe(status) << "\n" << host_->stderrText();
    }
    std::optional<HostProcess> host_;
};

TEST_F(HostOnThisMachineTest, CpuUsageCoversEveryProcessorWithSaneShares) {
    // Let every processor count some ticks (USER_HZ is 100) since the plug-in
    // took its first counters.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    for (int sample = 0; sample < 2; ++sample) {
        auto usage = callHost(host_->port(), "cpuUsage");
        ASSERT_TRUE(usage.is_array() && usage.size() == 2) << usage;
        const auto& summary = usage[0];
        ASSERT_EQ(summary.size(), 5u) << summary;
        for (const auto& n : summary) {
            EXPECT_TRUE(n.is_number_integer()) << summary;
            EXPECT_GE(n.get<int>(), 0) << summary;
            EXPECT_LE(n.get<int>(), 100) << summary;
        }
        EXPECT_EQ(summary[3].get<int>() + summary[4].get<int>(), 100) << summary;
        EXPECT_EQ(summary[0].get<int>() + summary[1].get<int>() + summary[2].get<int>(), summary[4].get<int>())
            << summary;

        EXPECT_EQ(usage[1].size(), procStatProcessorCount()) << usage[1];
        for (const auto& core : usage[1]) {
            ASSERT_TRUE(core.is_array() && core.size() == 4) << core;
            EXPECT_TRUE(core[0].is_number_integer()) << core;
            double total = 0;
            for (std::size_t i = 1; i < 4; ++i) {
                ASSERT_TRUE(core[i].is_number()) << core;
                EXPECT_GE(core[i].get<double>(), 0.0) << core;
                EXPECT_LE(core[i].get<double>(), 100.0) << core;
                total += core[i].get<double>();
            }
            EXPECT_EQ(core[0].get<int>(), int(std::trunc(float(total)))) << core;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

TEST_F(HostOnThisMachineTest, TextQueriesAreWellFormed) {
    std::smatch m;
    const std::string load = callHost(host_->port(), "load");
    EXPECT_TRUE(std::regex_match(load, std::regex(R"(\d+\.\d\d, \d+\.\d\d, \d+\.\d\d)"))) << load;

    const std::string uptime = callHost(host_->port(), "uptime");
    ASSERT_TRUE(std::regex_match(uptime, m, std::regex(R"((\d+)d (\d+)h (\d+)m)"))) << uptime;
    EXPECT_LT(std::stoi(m[2]), 24);
    EXPECT_LT(std::stoi(m[3]), 60);
    double procUptime = 0;
    std::ifstream("/proc/uptime") >> procUptime;
    const double shownMinutes = std::stoi(m[1]) * 1440.0 + std::stoi(m[2]) * 60.0 + std::stoi(m[3]);
    // Boot time comes from btime, whole seconds apart from /proc/uptime.
    EXPECT_NEAR(shownMinutes, std::floor(procUptime / 60), 1.0) << uptime << " vs " << procUptime;

    const std::string info = callHost(host_->port(), "processinfo");
    ASSERT_TRUE(std::regex_match(info, m, std::regex(R"((\d+) tasks, (\d+) threads)"))) << info;
    const int tasks = std::stoi(m[1]);
    const int threads = std::stoi(m[2]);
    int processes = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const auto name = entry.path().filename().string();
        processes += !name.empty() && std::all_of(name.begin(), name.end(), ::isdigit);
    }
    EXPECT_GT(tasks, 0);
    EXPECT_NEAR(tasks, processes, 20 + processes / 5);
    EXPECT_GE(threads, tasks - 20);
}

}  // namespace
}  // namespace vq::e2e
