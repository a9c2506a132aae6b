#pragma once
#include <cstdint>

namespace vq {

// Wall-clock time in whole seconds since 1970.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::int64_t now() = 0;
};

}  // namespace vq
