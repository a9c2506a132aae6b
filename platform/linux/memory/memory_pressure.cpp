#include "platform/linux/memory/memory_pressure.h"

#include "platform/linux/cgroups/linux_resource_limits.h"
#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"
#include "platform/linux/memory/meminfo.h"

namespace vq::linux_platform {

std::optional<double> parsePressureSomeAvg60(std::string_view text) {
    // "some avg10=0.00 avg60=1.25 avg300=0.40 total=123456"
    while (!text.empty()) {
        const auto fields = splitFields(takeLine(text));
        if (fields.empty() || fields.front() != "some") continue;
        for (const std::string_view field : fields) {
            constexpr std::string_view key = "avg60=";
            if (field.substr(0, key.size()) != key) continue;
            const auto value = parseDecimal(field.substr(key.size()));
            if (value && *value >= 0 && *value <= 100) return value;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

namespace {

class LinuxMemoryPressure : public MemoryPressure {
public:
    // A limits reader of its own: the page's keeps the previous sample for
    // its processor rates, and an alert check must not move them.
    explicit LinuxMemoryPressure(const Roots& roots) : proc_(roots.proc), limits_(roots) {}

    MemoryPressureSample sample() override {
        MemoryPressureSample out;
        if (readWholeFileInto(proc_ + "/pressure/memory", text_)) out.someAvg60 = parsePressureSomeAvg60(text_);
        if (readWholeFileInto(proc_ + "/meminfo", text_)) {
            const Meminfo meminfo = parseMeminfo(text_);
            if (meminfo.memAvailableKiB) out.availableBytes = *meminfo.memAvailableKiB * 1024;
            if (meminfo.memTotalKiB) out.totalBytes = *meminfo.memTotalKiB * 1024;
        }
        const ResourceLimitSample limits = limits_.sample();
        out.limitBytes = limits.memoryLimitBytes;
        out.limitUsedBytes = limits.memoryUsedBytes;
        return out;
    }

private:
    std::string proc_;
    std::string text_;
    LinuxResourceLimits limits_;
};

}  // namespace

std::shared_ptr<MemoryPressure> makeLinuxMemoryPressure(const Roots& roots) {
    return std::make_shared<LinuxMemoryPressure>(roots);
}

}  // namespace vq::linux_platform
