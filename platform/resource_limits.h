#pragma once
// The limits that bind the host's own processes where a container or a
// resource-controlled slice runs them: memory, processor time and the
// number of tasks; and the unit or container each process runs in.

#include <cstdint>
#include <optional>
#include <string>

namespace vq {

struct ResourceLimitSample {
    // The smallest memory limit on the way to the top that is below the
    // machine's memory, and what counts against it (less the page cache the
    // kernel may drop at once); unset when no limit binds.
    std::optional<std::uint64_t> memoryLimitBytes;
    std::optional<std::uint64_t> memoryUsedBytes;
    // Processor time allowed, in processors' worth; unset without a quota.
    std::optional<double> cpuQuota;
    // Whether the quota held processes back since the previous sample.
    std::optional<bool> cpuThrottled;
    // Processors' worth of time used since the previous sample.
    std::optional<double> cpuUsage;
    std::optional<std::uint64_t> pidsMax;

    bool anyLimit() const { return memoryLimitBytes || cpuQuota || pidsMax; }
};

class ResourceLimits {
public:
    virtual ~ResourceLimits() = default;
    // The limits of this moment. Each call is a sample: the throttling and
    // the usage cover the time since the previous call.
    virtual ResourceLimitSample sample() = 0;
    // A short label of the systemd service or container a process runs in
    // ("cups", "docker:0123456789ab"); empty when it runs in neither.
    virtual std::string unitOf(std::int32_t pid) = 0;
};

}  // namespace vq
