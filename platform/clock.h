#pragma once
#include <cstdint>

namespace vq {

// Wall-clock time since 1970.
class Clock {
public:
    virtual ~Clock() = default;
    // Whole seconds.
    virtual std::int64_t now() = 0;
    // Seconds with their fraction, for rates over short intervals.
    virtual double timeIntervalSince1970() = 0;
};

}  // namespace vq
