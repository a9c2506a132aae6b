#include "sensors/temperature_units.h"

#include <cstdint>
#include <limits>

#include "miners/text_format.h"

namespace vq {
namespace {

constexpr const char* kDegreeSign = "\u00B0";

int convert(int t, int unitCode) {
    if (unitCode == kUnitFahrenheit) {
        // 32-bit arithmetic that wraps instead of overflowing for readings no
        // sensor gives; the same figures as plain int arithmetic otherwise.
        const std::int64_t wide = std::int64_t{t} * 2 - t / 5 + 32;
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(wide));
    }
    if (unitCode == kUnitKelvin) {
        const double kelvin = t + 273.15;
        return kelvin >= static_cast<double>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                               : static_cast<int>(kelvin);
    }
    return t;
}

}  // namespace

std::string formatTemperature(int celsius, int unitCode) {
    return formatText("%i%s", convert(celsius, unitCode), unitCode == kUnitKelvin ? "K" : kDegreeSign);
}

}  // namespace vq
