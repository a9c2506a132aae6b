#pragma once
// A number from a registry property or a drive's record as a 32-bit integer,
// the way the readers of those values take it.

#include <cmath>
#include <cstdint>
#include <limits>

#include "miners/data_set.h"

namespace vq {

// Integers keep their low 32 bits, fractions are cut toward zero (saturating
// outside the range), and anything that is not a number is 0.
inline std::int32_t intValue(const Value& value) {
    if (value.is_number_integer()) {
        const auto bits = value.is_number_unsigned() ? value.get<std::uint64_t>()
                                                     : static_cast<std::uint64_t>(value.get<std::int64_t>());
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
    }
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (std::isnan(d)) return 0;
        if (d <= std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
        if (d >= std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
        return static_cast<std::int32_t>(d);
    }
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    return 0;
}

}  // namespace vq
