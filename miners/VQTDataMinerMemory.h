#pragma once
// Physical memory use, paging totals and the size of swap space, formatted
// for display.

#include <cstdint>
#include <memory>
#include <string>

#include "miners/data_set.h"
#include "platform/memory_stats.h"

namespace vq {

class VQTDataMinerMemory {
public:
    explicit VQTDataMinerMemory(std::shared_ptr<MemoryStats> stats);

    // Replaces the data set; an unreadable sample keeps the previous one.
    void mineData();
    // Twelve elements: free, used, active, inactive, wired (texts), used %,
    // page-ins, page-outs (texts), free + inactive, swap (texts), wired %,
    // active %. Null before the first sample.
    const Value& getDataSet() const { return latestData; }
    std::string getSwap();

    static std::string convertM(float megabytes);
    static std::string convertSwap(float megabytes);
    // Page counts: digits grouped by three up to 999,999, then "2.5mil".
    static std::string formatPageCount(std::uint32_t pages);

private:
    std::shared_ptr<MemoryStats> stats_;
    Value latestData;
};

}  // namespace vq
