#pragma once
// The busiest processes over the interval since the previous call, for the
// page's Processes section. Names and icons are not part of the answer: the
// page asks getPsName and getAppPath for the pids it shows.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "miners/data_set.h"
#include "platform/processes.h"

namespace vq {

// Resident memory as display text; a unit steps up above 1000 while each
// step divides by 1024: "640KB", "12.5MB", "1.20GB".
std::string formatResidentMemory(std::uint64_t bytes);

class TopProcesses {
public:
    explicit TopProcesses(std::shared_ptr<Processes> processes) : processes_(std::move(processes)) {}

    // [[pid, cpu %, resident memory text], ...], at most `count` rows, busiest
    // first (ties: lower pid first). The share is CPU time over elapsed time,
    // so a process on several processors can pass 100. A process that was not
    // in the previous sample (or on the first call) is measured from its start.
    // Calls less than half a second apart measure from the same earlier sample.
    // An empty list when the process table cannot be read.
    Value top(int count);

private:
    struct Share {
        double percent;
        const ProcessRecord* record;
    };

    std::shared_ptr<Processes> processes_;
    ProcessSample previous_;
    ProcessSample current_;
    std::vector<Share> shares_;
};

}  // namespace vq
