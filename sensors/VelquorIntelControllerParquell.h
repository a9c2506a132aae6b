#pragma once
// The SMC sensor controller of Intel machines: named temperatures in whole
// degrees Celsius, grouped by priority, and named fan speeds, read through
// the SMC function module.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "miners/data_set.h"
#include "sensors/sensor_source.h"

namespace vq {

class VelquorIntelControllerParquell final : public SensorSource {
public:
    // Opens the SMC connections and finds the temperature keys this machine
    // has. Without an SMC the controller is still made, unsupported.
    VelquorIntelControllerParquell();
    // Closes the SMC connections once the last controller holding them goes.
    ~VelquorIntelControllerParquell() override;
    VelquorIntelControllerParquell(const VelquorIntelControllerParquell&) = delete;
    VelquorIntelControllerParquell& operator=(const VelquorIntelControllerParquell&) = delete;

    bool isSupported() const { return supported; }
    void setKeys();
    void findSupportedKeys();

    Value getTempValues() override;
    Value getFanValues() override;
    std::string getFanName(int index);
    // ["Fan 0", "Fan 1", ...], one per fan the SMC counts.
    Value getFans();
    // The display name and priority group of a temperature key of the
    // controller's table ("TC0H" → "CPU A", 1); nullopt for keys outside it.
    struct KeyPlace {
        std::string displayName;
        int priority;
    };
    static std::optional<KeyPlace> placeOfKey(const std::string& key);

private:
    bool supported = false;
    // Null (nullopt) when the SMC could not be opened.
    std::optional<std::vector<std::string>> availableKeys;
    std::optional<std::vector<std::string>> supportedKeys;
    std::optional<std::map<std::string, std::string>> keyDisplayNames;
    std::optional<std::map<std::string, int>> priorities;
};

// The whole degrees Celsius of an SMC temperature's first two bytes:
// sign-extended big-endian, a quarter-degree shift kept with its sign, then
// truncated toward zero. Exposed for the decoding tests.
struct SmcTemperature {
    int quarterDegrees64;  // q: the value shifted right by 2, sign kept
    int celsius;           // T = q / 64
};
SmcTemperature decodeSmcTemperature(unsigned char b0, unsigned char b1);

}  // namespace vq
