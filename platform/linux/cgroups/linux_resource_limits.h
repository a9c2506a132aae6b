#pragma once
// The host's own control groups, found from <proc>/self/cgroup and the
// cgroup mounts of <proc>/self/mountinfo, on the unified hierarchy (v2),
// on v1 and on the hybrid layout of both. Each limit is the smallest one on
// the way from the host's group up to the top of the hierarchy that this
// mount namespace can see. Mount points under /sys are read under the sys
// root, so that tests run on fixture trees.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/common/roots.h"
#include "platform/linux/storage/mountinfo.h"
#include "platform/resource_limits.h"

namespace vq::linux_platform {

class LinuxResourceLimits : public ResourceLimits {
public:
    // `now` answers seconds on a steady clock.
    explicit LinuxResourceLimits(Roots roots, std::function<double()> now = {});
    ResourceLimitSample sample() override;
    // The same on a mount table the caller has already read, and on the
    // machine's MemTotal (KiB) where the caller has just read /proc/meminfo.
    ResourceLimitSample sample(const std::vector<MountinfoEntry>& mounts,
                               std::optional<std::uint64_t> memTotalKiB = std::nullopt);
    std::string unitOf(std::int32_t pid) override;

private:
    // One sample from the text of <proc>/self/cgroup, read once by the caller.
    ResourceLimitSample sampleOf(const std::string& cgroups, const std::vector<MountinfoEntry>& mounts,
                                 std::optional<std::uint64_t> memTotalKiB);
    Roots roots_;
    std::function<double()> now_;
    // The group a counter was read in, its value and when: throttling and
    // usage are told from the change since the previous sample.
    struct Previous {
        std::string group;
        std::uint64_t value = 0;
        double at = 0;
    };
    std::optional<Previous> throttles_, usage_;
    // The mount table, read again only when the host's groups change: the
    // page asks every second, and cgroup and LXCFS mounts stay put.
    std::string cgroupsOfMounts_;
    std::vector<MountinfoEntry> mounts_;
};

std::shared_ptr<ResourceLimits> makeLinuxResourceLimits(const Roots& roots);

}  // namespace vq::linux_platform
