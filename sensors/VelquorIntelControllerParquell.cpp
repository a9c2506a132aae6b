#include "sensors/VelquorIntelControllerParquell.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>

#include "miners/PQLSort.h"
#include "smc/smc.h"

namespace vq {
namespace {

struct TemperatureKey {
    const char* key;
    const char* displayName;
    int priority;
};

// In the order the keys are tried; keys are case-sensitive ("TH0P" is not
// "Th0H"). No key has priority 3.
constexpr std::array<TemperatureKey, 25> kTemperatureKeys{{
    {"TC0H", "CPU A", 1},
    {"TC0D", "CPU A", 1},
    {"TC1D", "CPU B", 1},
    {"TCAH", "CPU A", 1},
    {"TCBH", "CPU B", 1},
    {"TG0P", "GPU", 2},
    {"TA0P", "Ambient", 2},
    {"TH0P", "HD Bay 1", 4},
    {"TO0P", "Optical Drive", 4},
    {"TH1P", "HD Bay 2", 4},
    {"TH2P", "HD Bay 3", 4},
    {"TH3P", "HD Bay 4", 4},
    {"Th0H", "Heatsink A", 2},
    {"Th1H", "Heatsink B", 2},
    {"TG0H", "GPU Heatsink", 2},
    {"TG0D", "GPU Diode", 2},
    {"TM0S", "Mem module 1", 4},
    {"TM1S", "Mem module 2", 4},
    {"TM2S", "Mem module 3", 4},
    {"TM3S", "Mem module 4", 4},
    {"Tp1C", "Power supply 2", 4},
    {"Tp0C", "Power supply 1", 4},
    {"TB0T", "Enclosure Bottom", 4},
    {"TN0P", "Northbridge 1", 4},
    {"TN1P", "Northbridge 2", 4},
}};

// Fan keys put the fan's index into four characters, so only fans 0 to 9
// have keys; a larger count never builds keys cut short.
constexpr std::uint32_t kMaxFanKeys = 10;

// Controllers that hold the process-wide connections conn2 and conn. The
// temperature miner and the fan miner each own a controller, and the fan
// miner replaces its own when the sensor module arrives; counting the
// holders keeps that replacement from closing the connections the
// temperature miner still reads through.
int connectionHolders = 0;

std::optional<SmcTemperature> readTemperature(const std::string& key) {
    SMCKeyValue val;
    if (SMCReadKey2(key.c_str(), &val, conn2) != 0 || val.size == 0) return std::nullopt;
    return decodeSmcTemperature(static_cast<unsigned char>(val.bytes[0]), static_cast<unsigned char>(val.bytes[1]));
}

std::string fanKey(const char* format, std::uint32_t index) {
    char key[5];
    std::snprintf(key, sizeof key, format, static_cast<int>(index));
    return key;
}

std::optional<std::uint32_t> readFanCount() {
    SMCKeyValue val;
    if (SMCReadKey("FNum", &val) != 0) return std::nullopt;
    return std::min(_strtoul(val.bytes, static_cast<int>(val.size), 10), kMaxFanKeys);
}

// Truncation toward zero that stays defined for speeds no fan reaches (a
// value of the wrong type decoded as fpe2).
int truncateToInt(float value) {
    if (!(value > -2147483520.0f)) return value != value ? 0 : std::numeric_limits<int>::min();
    if (value >= 2147483520.0f) return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

}  // namespace

SmcTemperature decodeSmcTemperature(unsigned char b0, unsigned char b1) {
    const int v = static_cast<signed char>(b0) * 256 + b1;
    const int q = v >> 2;  // arithmetic: rounds toward minus infinity
    return {q, q / 64};
}

VelquorIntelControllerParquell::VelquorIntelControllerParquell() {
    if (connectionHolders == 0) {
        if (SMCOpen(&conn2) != 0) return;  // SMCOpen has said why
        smc_init();
    }
    ++connectionHolders;
    supported = true;
    supportedKeys.emplace();
    setKeys();
    findSupportedKeys();
}

VelquorIntelControllerParquell::~VelquorIntelControllerParquell() {
    if (!supported) return;
    if (--connectionHolders == 0) {
        SMCClose(conn2);
        smc_close();
    }
}

std::optional<VelquorIntelControllerParquell::KeyPlace> VelquorIntelControllerParquell::placeOfKey(
    const std::string& key) {
    for (const TemperatureKey& entry : kTemperatureKeys)
        if (key == entry.key) return KeyPlace{entry.displayName, entry.priority};
    return std::nullopt;
}

void VelquorIntelControllerParquell::setKeys() {
    availableKeys.emplace();
    keyDisplayNames.emplace();
    priorities.emplace();
    for (const TemperatureKey& entry : kTemperatureKeys) {
        availableKeys->emplace_back(entry.key);
        (*keyDisplayNames)[entry.key] = entry.displayName;
        (*priorities)[entry.key] = entry.priority;
    }
}

void VelquorIntelControllerParquell::findSupportedKeys() {
    if (!availableKeys || !supportedKeys) return;
    for (const std::string& key : *availableKeys) {
        // At least 1 °C: q above 63.
        if (auto reading = readTemperature(key); reading && reading->quarterDegrees64 > 63)
            supportedKeys->push_back(key);
    }
}

Value VelquorIntelControllerParquell::getTempValues() {
    std::array<Value, 4> groups{Value::array(), Value::array(), Value::array(), Value::array()};
    if (supportedKeys) {
        for (const std::string& key : *supportedKeys) {
            auto reading = readTemperature(key);
            if (!reading || reading->celsius == 0) continue;
            const int priority = priorities->at(key);
            if (priority < 1 || priority > 4) continue;
            groups[static_cast<std::size_t>(priority - 1)].push_back(
                Value::array({keyDisplayNames->at(key), reading->celsius}));
        }
    }
    Value result = Value::array();
    for (Value& group : groups) {
        std::stable_sort(group.begin(), group.end(), PQLSort::ascending);
        result.push_back(std::move(group));
    }
    return result;
}

Value VelquorIntelControllerParquell::getFanValues() {
    Value fans = Value::object();
    const auto count = readFanCount();
    if (!count) return fans;
    for (std::uint32_t i = 0; i < *count; ++i) {
        SMCKeyValue val;
        SMCReadKey(fanKey("F%dAc", i).c_str(), &val);
        std::string name = getFanName(static_cast<int>(i));
        const int rpm = truncateToInt(_strtof(val.bytes, static_cast<int>(val.size), 2));
        fans[name] = std::to_string(rpm) + "rpm";
    }
    return fans;
}

std::string VelquorIntelControllerParquell::getFanName(int index) {
    SMCKeyValue val;
    SMCReadKey2(fanKey("F%dID", static_cast<std::uint32_t>(index)).c_str(), &val, conn2);
    std::string name;
    // Printable characters only: spaces, control characters and bytes from
    // 128 up are dropped.
    for (std::uint32_t i = 0; i < val.size; ++i) {
        if (static_cast<signed char>(val.bytes[i]) > 32) name.push_back(val.bytes[i]);
    }
    if (name.empty()) name = "Fan " + std::to_string(index);
    return name;
}

Value VelquorIntelControllerParquell::getFans() {
    Value fans = Value::array();
    const auto count = readFanCount();
    if (!count) return fans;
    for (std::uint32_t i = 0; i < *count; ++i) {
        SMCKeyValue val;
        SMCReadKey(fanKey("F%dAc", i).c_str(), &val);
        fans.push_back("Fan " + std::to_string(i));
    }
    return fans;
}

}  // namespace vq
