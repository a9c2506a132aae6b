#pragma once
// Processor load per core over the interval since the previous sample, plus
// the load-average, task-count and uptime lines.

#include <memory>
#include <string>
#include <vector>

#include "miners/data_set.h"
#include "platform/clock.h"
#include "platform/processor_stats.h"

namespace vq {

class VQTDataMinerCPU {
public:
    VQTDataMinerCPU(std::shared_ptr<ProcessorStats> stats, std::shared_ptr<Clock> clock);

    // Samples the tick counters and replaces the data set. When the counters
    // cannot be read the previous data set stays.
    void mineData();
    // [[system, user, nice, idle, busy], [[busy, system, user, nice], ...]],
    // or null before the first sample.
    const Value& getDataSet() const { return latestData; }
    int getProcessors() const { return processors; }

    std::string getLoad();
    std::string processInfo();
    std::string getUptime();

private:
    void setup();

    std::shared_ptr<ProcessorStats> stats_;
    std::shared_ptr<Clock> clock_;
    Value latestData;
    std::vector<ProcessorTicks> lastCPUInfo;
    int processors = 0;
};

}  // namespace vq
