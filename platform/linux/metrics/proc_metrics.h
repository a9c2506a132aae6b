#pragma once
// The /proc files behind the node_* families that the page's readers do not
// read in full: every /proc/meminfo line, chosen /proc/vmstat counters, and
// /proc/loadavg.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::linux_platform::metrics {

struct MeminfoField {
    std::string key;  // as the kernel spells it: "MemTotal", "Active(anon)", "HugePages_Total"
    std::uint64_t value = 0;
    bool inKiB = false;  // the line ends in "kB"; counts such as HugePages_Total do not
};

// Every "Key: value [kB]" line, in file order. Lines that are not of that
// form are left out.
std::vector<MeminfoField> parseMeminfoFields(std::string_view text);

struct VmstatCounter {
    std::string name;
    std::uint64_t value = 0;
};

// The counters of /proc/vmstat that node_exporter reports by default: the
// paging, swapping, page-fault and OOM-kill counters. In file order.
std::vector<VmstatCounter> parseVmstatCounters(std::string_view text);

struct LoadAverages {
    double one = 0;
    double five = 0;
    double fifteen = 0;
};

// The first three fields of /proc/loadavg.
std::optional<LoadAverages> parseLoadavg(std::string_view text);

}  // namespace vq::linux_platform::metrics
