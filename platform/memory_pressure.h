#pragma once
// How hard the machine works to find memory: the kernel's pressure figure,
// the memory still available, and the limit of the host's control group
// where one binds. Read for the memory alert, apart from the page's figures.

#include <cstdint>
#include <optional>

namespace vq {

struct MemoryPressureSample {
    // Share of the last 60 s in which some task waited for memory, in percent.
    std::optional<double> someAvg60;
    std::optional<std::uint64_t> availableBytes;
    std::optional<std::uint64_t> totalBytes;
    // Where a control group's memory limit binds: the limit and what counts
    // against it.
    std::optional<std::uint64_t> limitBytes;
    std::optional<std::uint64_t> limitUsedBytes;
};

class MemoryPressure {
public:
    virtual ~MemoryPressure() = default;
    virtual MemoryPressureSample sample() = 0;
};

}  // namespace vq
