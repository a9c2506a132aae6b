#pragma once
// Display text of a temperature in the unit the page asks for.

#include <string>

namespace vq {

// Unit codes of the page: 0 Celsius, 1 Fahrenheit, 2 Kelvin; any other code
// is Celsius.
constexpr int kUnitCelsius = 0;
constexpr int kUnitFahrenheit = 1;
constexpr int kUnitKelvin = 2;

// Whole degrees Celsius as "%i" plus the suffix: the degree sign, or "K" for
// Kelvin ("47°", "117°", "320K"). Fahrenheit is t·2 − t/5 + 32 in 32-bit
// integers with the division truncated toward zero, so 47 gives 117 rather
// than the exact 116.6; Kelvin is t + 273.15 cut toward zero.
std::string formatTemperature(int celsius, int unitCode);

}  // namespace vq
