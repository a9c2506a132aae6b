// The host on this machine: every processor is covered, shares are sane and
// the text answers agree with what /proc says; memory, volume and network
// answers are well formed, the root volume is listed where "/" is a block
// device, and every volume icon URL loads.

#include <signal.h>
#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "host_process.h"
#include "http_client.h"
#include "scratch_machine.h"

namespace vq::e2e {
namespace {

using nlohmann::json;

class HostOnThisMachineTest : public ::testing::Test {
protected:
    // The icon caches go to a scratch data folder, not the user's.
    void SetUp() override {
        host_.emplace(HostLaunch{std::nullopt, {}, {"XDG_DATA_HOME=" + dataHome_.path()}});
    }
    void TearDown() override {
        if (!host_) return;  // SetUp failed and said why
        auto status = host_->stop(SIGTERM);
        EXPECT_TRUE(status.exitedWith(0)) << describe(status) << "\n" << host_->stderrText();
    }
    TempFolder dataHome_{"velquette-data"};
    std::optional<HostProcess> host_;
};

bool matches(const json& value, const char* pattern) {
    return value.is_string() && std::regex_match(value.get<std::string>(), std::regex(pattern));
}

// Whether "/" is mounted from a block device, as on a disk or a virtual
// disk, rather than from an overlay or a tmpfs.
bool rootIsABlockDevice() {
    std::ifstream in("/proc/self/mountinfo");
    bool block = false;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        fields >> id >> parent >> device >> root >> mountPoint;
        if (mountPoint != "/") continue;
        // The last mount on "/" is the one that is seen.
        block = !device.starts_with("0:") && std::filesystem::exists("/sys/dev/block/" + device);
    }
    return block;
}

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

TEST_F(HostOnThisMachineTest, MemoryUsageIsWellFormed) {
    const auto usage = callHost(host_->port(), "memoryUsage");
    ASSERT_TRUE(usage.is_array() && usage.size() == 12u) << usage;
    const char* size = R"(\d+mb|\d+\.\d\d[gt]b)";
    for (std::size_t i : {0u, 1u, 2u, 3u, 4u, 8u}) EXPECT_TRUE(matches(usage[i], size)) << i << ": " << usage;
    for (std::size_t i : {6u, 7u})
        EXPECT_TRUE(matches(usage[i], R"(\d{1,3}(,\d{3})*|\d+\.\dmil)")) << i << ": " << usage;
    EXPECT_TRUE(matches(usage[9], R"(\d+mb|\d+\.\d[gt]b)")) << usage;
    for (std::size_t i : {5u, 10u, 11u}) {
        ASSERT_TRUE(usage[i].is_number()) << usage;
        EXPECT_GE(usage[i].get<double>(), 0.0) << usage;
        EXPECT_LE(usage[i].get<double>(), 100.0) << usage;
    }
    // Used is active + wired, all against one total.
    EXPECT_NEAR(usage[5].get<double>(), usage[10].get<double>() + usage[11].get<double>(), 0.01) << usage;
    EXPECT_GT(usage[5].get<double>(), 0.0) << usage;
}

TEST_F(HostOnThisMachineTest, DiskUsageIsWellFormedAndListsTheRootVolume) {
    const auto volumes = callHost(host_->port(), "diskUsage");
    ASSERT_TRUE(volumes.is_array()) << volumes;
    for (const auto& volume : volumes) {
        ASSERT_TRUE(volume.is_array() && volume.size() == 6u) << volume;
        EXPECT_TRUE(volume[0].is_string() && !volume[0].get<std::string>().empty()) << volume;
        ASSERT_TRUE(volume[1].is_number_integer()) << volume;
        EXPECT_GE(volume[1].get<int>(), 0) << volume;
        EXPECT_LE(volume[1].get<int>(), 100) << volume;
        EXPECT_TRUE(matches(volume[2], R"(0KB|\d+MB|\d+\.\d\d[GT]B)")) << volume;
        EXPECT_TRUE(matches(volume[3], R"(0KB|\d+MB|\d+\.\d\d[GT]B)")) << volume;
        EXPECT_TRUE(matches(volume[4], R"(/.*)")) << volume;
        // Icons come as URLs of the host, and they load.
        ASSERT_TRUE(matches(volume[5], R"(/icons/volumes/[A-Za-z0-9%._~-]+\.png)")) << volume;
        auto icon = exchange(host_->port(), HttpRequest{"GET", volume[5].get<std::string>()});
        EXPECT_EQ(icon.status, 200) << volume;
        EXPECT_EQ(icon.header("Content-Type"), "image/png") << volume;
        EXPECT_TRUE(icon.body.starts_with("\x89PNG")) << volume;
    }
    if (!rootIsABlockDevice()) GTEST_SKIP() << "\"/\" is not mounted from a block device here";
    ASSERT_FALSE(volumes.empty());
    const auto& root = volumes[0];
    EXPECT_EQ(root[4], "/") << volumes;
    struct statvfs info {};
    ASSERT_EQ(::statvfs("/", &info), 0);
    const double total = double(info.f_blocks) * double(info.f_frsize);
    const double used = total - double(info.f_bavail) * double(info.f_frsize);
    EXPECT_NEAR(root[1].get<int>(), used / total * 100.0, 1.5) << root;
}

TEST_F(HostOnThisMachineTest, NetworkRowsAreWellFormed) {
    EXPECT_EQ(callHost(host_->port(), "hasNetworkSetupChanged"), true);
    for (int sample = 0; sample < 2; ++sample) {
        const auto rows = callHost(host_->port(), "network");
        ASSERT_TRUE(rows.is_array()) << rows;
        for (const auto& row : rows) {
            ASSERT_TRUE(row.is_array() && row.size() == 7u) << row;
            for (const auto& field : row) EXPECT_TRUE(field.is_string()) << row;
            const std::string name = row[0].get<std::string>();
            EXPECT_NE(name, "lo") << row;
            EXPECT_TRUE(std::filesystem::exists("/sys/class/net/" + name)) << row;
            EXPECT_FALSE(row[1].get<std::string>().empty()) << row;
            EXPECT_TRUE(matches(row[2], R"(|\d{1,3}(\.\d{1,3}){3})")) << row;
            for (std::size_t i : {3u, 4u}) EXPECT_TRUE(matches(row[i], R"(\d+[km]b/s|\d+\.\d\dgb/s)")) << row;
            for (std::size_t i : {5u, 6u}) EXPECT_TRUE(matches(row[i], R"(\d+mb|\d+\.\d\d[gt]b)")) << row;
            if (sample == 0) {
                EXPECT_EQ(row[3], "0kb/s") << "the first sample after a rebuild has no rate";
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace
}  // namespace vq::e2e
