#pragma once
#include <string>

namespace vq {

// The system log, for the few lines the plug-in writes there.
class SystemLog {
public:
    virtual ~SystemLog() = default;
    virtual void log(const std::string& line) = 0;
};

}  // namespace vq
