#pragma once
// The text formats of control groups: /proc/PID/cgroup, the limit files of
// both hierarchies, and the flat "key value" statistics files.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::linux_platform {

// One line of /proc/PID/cgroup: "ID:CONTROLLERS:PATH". The unified (v2)
// hierarchy has ID 0 and no controllers; v1 lines list theirs
// ("memory", "cpu,cpuacct", "name=systemd").
struct CgroupMembership {
    unsigned hierarchy = 0;
    std::vector<std::string> controllers;
    std::string path;
};
std::vector<CgroupMembership> parseProcCgroup(std::string_view text);

// The path of the group that a controller ("memory", "cpu", "pids") is
// accounted in, and whether that is the unified hierarchy; nullopt when the
// process is in no group of it. The unified line answers for every
// controller that no v1 line names.
struct ControllerGroup {
    std::string path;
    bool unified = false;
};
std::optional<ControllerGroup> groupOfController(const std::vector<CgroupMembership>& groups,
                                                 std::string_view controller);

// A limit file's value: a number, or nullopt for "max" (v2), for v1's
// "no limit" figures (-1, or the page-rounded largest value) and for text
// that is no number.
std::optional<std::uint64_t> parseLimit(std::string_view text);

// cpu.max ("QUOTA PERIOD", QUOTA "max" for none) in processors' worth.
std::optional<double> parseCpuMax(std::string_view text);

// "key value" lines (memory.stat, cpu.stat); lines that are not a key and a
// whole number are passed over.
std::map<std::string, std::uint64_t, std::less<>> parseFlatKeyed(std::string_view text);

// A short label of the unit or container that a cgroup path belongs to:
// "docker:" and the first 12 hex digits of a Docker container, "pod:" and
// 12 of a Podman or Kubernetes one, "lxc:" and the name of an LXC
// container, the machine's name for a systemd-nspawn container, else the
// innermost systemd service without ".service". Empty for anything else
// (the root, session and application scopes, slices).
std::string unitLabelOfCgroup(std::string_view path);

}  // namespace vq::linux_platform
