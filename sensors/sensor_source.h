#pragma once
// Where the temperature and fan miners read hardware sensors from. The SMC
// sensor controller answers both; the Intel sensor module's instance answers
// fans only; the hwmon source of Linux machines answers both, in the same
// form as the controller.
//
// A source may throw std::exception; the miner then shows an empty list for
// that call.

#include "miners/data_set.h"

namespace vq {

class TemperatureSource {
public:
    virtual ~TemperatureSource() = default;
    // Exactly four arrays, the groups of priority 1 to 4 in that order. Each
    // holds [display name, whole degrees Celsius] pairs sorted by name,
    // ignoring case (PQLSort::compare). A temperature is never 0.
    virtual Value getTempValues() = 0;
};

class FanSource {
public:
    virtual ~FanSource() = default;
    // An object from fan name to its speed text, such as "1200rpm"; empty
    // when the fans cannot be read.
    virtual Value getFanValues() = 0;
};

class SensorSource : public TemperatureSource, public FanSource {};

}  // namespace vq
