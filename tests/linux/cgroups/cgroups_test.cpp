// Control groups: the limits that bind the host on fixture trees of the unified hierarchy, v1, the hybrid of both
// and a container under LXCFS; the label of a process's unit or container.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/linux/cgroups/cgroup_files.h"
#include "platform/linux/cgroups/linux_resource_limits.h"

namespace vq::linux_platform {
namespace {

namespace fs = std::filesystem;
const std::string kLinux = VELQUETTE_FIXTURES "/linux/";

Roots rootsOf(const std::string& tree) { return Roots{tree + "/proc", tree + "/sys", "/nonexistent", "/nonexistent"}; }

// A sample as one line: unset figures read "-".
std::string describe(const ResourceLimitSample& s) {
    std::string line;
    const auto add = [&](const auto& v) { line += (line.empty() ? "" : " ") + (v ? nlohmann::json(*v).dump() : "-"); };
    add(s.memoryLimitBytes), add(s.memoryUsedBytes), add(s.cpuQuota), add(s.cpuThrottled), add(s.cpuUsage);
    add(s.pidsMax);
    return line;
}

TEST(Cgroups, LimitsOfEachLayout) {
    const std::pair<const char*, const char*> cases[] = {
        // 2 GiB on the slice above the host's scope; 1 GiB in use of which 256 MiB inactive page cache.
        {"cgroup-v2", "2147483648 805306368 1.5 - - 512"},
        // A limit above the machine's 16 GB does not bind.
        {"cgroup-v2-unlimited", "- - - - - -"},
        // v1 counts the inactive cache of the whole subtree; cpu and cpuacct mounted apart.
        {"cgroup-hybrid", "4294967296 1073741824 0.5 - - -"},
        {"cgroup-v1", "4294967296 1073741824 0.5 - - -"},
        // LXCFS already shows the container's memory and processors in /proc.
        {"cgroup-lxcfs", "- - - - - 512"},
        {"no-such-tree", "- - - - - -"},
    };
    for (const auto& [tree, expected] : cases)
        EXPECT_EQ(describe(LinuxResourceLimits(rootsOf(kLinux + tree)).sample()), expected) << tree;
}

// Throttling and usage are the change since the previous sample, on the group that sets the quota.
TEST(Cgroups, ThrottlingAndUsageComeFromTheChangeBetweenSamples) {
    const std::string copy = fs::temp_directory_path() / ("vq-cgroup-" + std::to_string(::getpid()));
    fs::copy(kLinux + "cgroup-v2", copy, fs::copy_options::recursive);
    double now = 100;
    LinuxResourceLimits limits(rootsOf(copy), [&] { return now; });
    const std::string stat = copy + "/sys/fs/cgroup/user.slice/limited.slice/cpu.stat";
    const std::pair<const char*, const char*> steps[] = {
        {"usage_usec 8500000\nnr_throttled 12\n", "2147483648 805306368 1.5 false 0.75 512"},
        {"usage_usec 9000000\nnr_throttled 15\n", "2147483648 805306368 1.5 true 0.25 512"},
        // A counter that went back (the group was made anew) tells nothing.
        {"usage_usec 10\nnr_throttled 0\n", "2147483648 805306368 1.5 - - 512"},
    };
    limits.sample();
    for (const auto& [counters, expected] : steps) {
        now += 2;
        std::ofstream(stat) << counters;
        EXPECT_EQ(describe(limits.sample()), expected) << counters;
    }
    fs::remove_all(copy);
}

TEST(Cgroups, UnitLabels) {
    const std::string id = "4f1c2a9b8d7e6f5a4b3c2d1e0f9a8b7c6d5e4f3a2b1c0d9e8f7a6b5c4d3e2f1a";
    const std::pair<std::string, const char*> cases[] = {
        {"/system.slice/cups.service", "cups"},
        {"/user.slice/user-1000.slice/user@1000.service/app.slice/pipewire.service", "pipewire"},
        {"/system.slice/getty.slice/getty@tty1.service", "getty@tty1"},
        {"/user.slice/user-1000.slice/session-2.scope", ""},
        {"/init.scope", ""},
        {"/", ""},
        {"/system.slice/docker-" + id + ".scope", "docker:4f1c2a9b8d7e"},
        {"/docker/" + id, "docker:4f1c2a9b8d7e"},
        {"/user.slice/user-1000.slice/user@1000.service/user.slice/libpod-" + id + ".scope/container", "pod:4f1c2a9b8d7e"},
        {"/kubepods.slice/kubepods-burstable.slice/kubepods-burstable-pod1.slice/cri-containerd-" + id + ".scope",
         "pod:4f1c2a9b8d7e"},
        {"/kubepods/besteffort/pod1/" + id, "pod:4f1c2a9b8d7e"},
        {"/lxc.payload.web1/system.slice/cron.service", "lxc:web1"},
        {"/lxc/web2", "lxc:web2"},
        {"/machine.slice/systemd-nspawn@db\\x2d1.service/payload", "db-1"},
        {"/machine.slice/machine-vm1.scope", "vm1"},
    };
    for (const auto& [path, label] : cases) EXPECT_EQ(unitLabelOfCgroup(path), label) << path;
    // From the unified line, else from v1's systemd hierarchy; nothing for a process that cannot be read.
    const std::tuple<const char*, std::int32_t, const char*> processes[] = {
        {"cgroup-v2", 4242, "docker:4f1c2a9b8d7e"}, {"cgroup-v2", 4243, "cups"}, {"cgroup-hybrid", 77, "web-front"},
        {"cgroup-v2", 1, ""}};
    for (const auto& [tree, pid, label] : processes)
        EXPECT_EQ(LinuxResourceLimits(rootsOf(kLinux + tree)).unitOf(pid), label) << tree << " " << pid;
}

}  // namespace
}  // namespace vq::linux_platform
