#include "sensors/VQTDataMinerFans.h"

#include <exception>

#include "miners/text_format.h"
#include "miners/int_value.h"
#include "sensors/sensor_sources.h"
#include "sensors/sensor_table.h"

namespace vq {
namespace {

using sensor_table::Row;
using Groups = std::array<std::map<std::string, std::string>, 4>;

// Locations of fan services and of the fan control unit's "control-info"
// entries, matched exactly, case included ("Hard drive" and "Hard Drive" are
// two rows with different divisors). The divisor turns the raw speed into
// revolutions per minute: 65536 for 16.16 fixed point, 1 for whole numbers.
constexpr Row kFanSensors[] = {
    {"Hard drive", "65536", "Hard Drive", "2"},
    {"DRIVE BAY A INTAKE", "1", "Drive Bay", "3"},
    {"EXPANSION SLOTS INTAKE", "1", "Slots Intake", "4"},
    {"REAR LEFT EXHAUST", "65536", "Rear Exhaust", "3"},
    {"REAR RIGHT EXHAUST", "65536", "Rear right Exhaust", "3"},
    {"PCI SLOTS", "65536", "PCI Slots", "4"},
    {"CPU A INLET", "65536", "CPU A Inlet", "1"},
    {"CPU B INLET", "65536", "CPU B Inlet", "1"},
    {"CPU Fan", "1", "CPU", "1"},
    {"ODD Fan", "1", "Optical Drive", "2"},
    {"HDD Fan", "1", "Hard Drive", "2"},
    {"System Fan", "1", "System", "2"},
    {"Hard Drive", "1", "Hard Drive", "2"},
    {"REAR MAIN ENCLOSURE", "65536", "Rear Enclosure", "2"},
    {"CPU B PUMP", "1", "CPU B Pump", "1"},
    {"CPU A PUMP", "1", "CPU A Pump", "1"},
    {"CPU A INTAKE", "1", "CPU A Intake", "1"},
    {"CPU A EXHAUST", "1", "CPU A Exhaust", "1"},
    {"CPU B INTAKE", "1", "CPU B Intake", "1"},
    {"CPU B EXHAUST", "1", "CPU B Exhaust", "1"},
    {"DRIVE BAY", "1", "Drive Bay", "3"},
    {"SLOT", "1", "Slots", "4"},
    {"BACKSIDE", "1", "Backside", "4"},
    {"CPU fan", "1", "CPU", "1"},
};

// Names with a display name only: the fans of the sensor sources. Without a
// divisor or priority the registry searches never show them.
constexpr std::pair<const char*, const char*> kSourceFanNames[] = {
    {"IO", "Hard Drive/Expansion"}, {"EXHAUST", "Exhaust"},   {"PS", "Power Supply"},
    {"CPU_MEM", "CPU Fan"},         {"Leftside", "Left Fan"}, {"Rightside", "Right Fan"},
    {"Master", "Main Fan"},         {"ODD", "Optical Drive"}, {"CPU", "CPU Fan"},
    {"HDD", "Hard Drive"},
};

}  // namespace

VQTDataMinerFans::VQTDataMinerFans(std::unique_ptr<FanSource> source, std::shared_ptr<IORegistry> registry,
                                   std::shared_ptr<SensorModuleLoader> modules, std::shared_ptr<SystemLog> log,
                                   std::string bundleFolder)
    : intelClassInstance(std::move(source)),
      registry_(std::move(registry)),
      modules_(std::move(modules)),
      log_(std::move(log)),
      bundleFolder_(std::move(bundleFolder)) {
    setDictionaries();
    getDataSet();  // collects availableSensors
    sensorArray = true;
}

void VQTDataMinerFans::setDictionaries() {
    for (const Row& row : kFanSensors) {
        validFanSensors[row.location] = row.divisor;
        fanSensorName[row.location] = row.displayName;
        fanSensorPriority[row.location] = row.priority;
    }
    for (const auto& [name, displayName] : kSourceFanNames) fanSensorName[name] = displayName;
}

bool VQTDataMinerFans::hasIntelBundle() { return modules_ && hasSiblingBundle(*modules_, bundleFolder_); }

void VQTDataMinerFans::moduleInstalled() {
    if (log_) log_->log("Intel Module now available - fans");
    if (!modules_ || bundleFolder_.empty()) return;
    const std::string path = bundleFolder_ + "/" + kSensorModuleBundleName;
    if (!modules_->fileExists(path)) return;
    std::shared_ptr<SensorModuleBundle> bundle = modules_->openBundle(path);
    if (!bundle) return;
    if (bundle->hasPrincipalClass()) {
        // An instance that fails to initialise leaves no source: the
        // registry is read from then on.
        auto instance = bundle->createInstance();
        intelClassInstance = instance ? makeModuleFanSource(bundle, std::move(instance)) : nullptr;
    }
    sensorArray = false;
    availableSensors.clear();
    getDataSet();
    sensorArray = true;
}

Value VQTDataMinerFans::getDataSet() { return intelClassInstance ? sourceDataSet() : registryDataSet(); }

Value VQTDataMinerFans::sourceDataSet() {
    Value result = Value::array();
    try {
        const Value fans = intelClassInstance->getFanValues();
        if (!fans.is_object()) return Value::array();
        for (const auto& [name, value] : fans.items()) {
            if (!sensorArray) availableSensors.push_back(name);
            auto display = fanSensorName.find(name);
            result.push_back(Value::array({display != fanSensorName.end() ? display->second : name, value}));
        }
    } catch (const std::exception&) {
        return Value::array();
    }
    return result;
}

void VQTDataMinerFans::store(const std::string& location, std::int32_t raw, Groups& groups) {
    const int by = sensor_table::divisorOf(validFanSensors[location]);
    const int group = sensor_table::groupOf(fanSensorPriority[location]);
    if (by == 0 || group < 0) return;
    groups[static_cast<std::size_t>(group)][fanSensorName[location]] = formatText("%irpm", raw / by);
}

VQTDataMinerFans::Search VQTDataMinerFans::searchControls(const char* serviceName, Groups& groups) {
    const auto services = registry_->matchingServicesByName(serviceName);
    if (!services) return {};
    bool lastRead = true;
    for (RegistryEntryId service : *services) {
        const auto properties = registry_->properties(service);
        lastRead = properties.has_value();
        if (!properties) continue;
        const std::string location = sensor_table::stringProperty(*properties, "location");
        if (!validFanSensors.contains(location)) continue;
        const std::string type = sensor_table::stringProperty(*properties, "type");
        if (type != "fan-rpm" && type != "fanspeed") continue;
        if (!sensorArray) availableSensors.push_back(fanSensorName[location]);
        const int by = sensor_table::divisorOf(validFanSensors[location]);
        const std::int32_t current = intValue(properties->value("current-value", Value(0)));
        const std::int32_t target = intValue(properties->value("target-value", Value(0)));
        // The target speed, scaled, unless it scales to 0.
        store(location, by != 0 && target / by != 0 ? target : current, groups);
    }
    return {true, lastRead};
}

VQTDataMinerFans::Search VQTDataMinerFans::searchControlInfo(Groups& groups) {
    const auto services = registry_->matchingServicesByName("AppleFCU");
    if (!services) return {};
    bool lastRead = true;
    for (RegistryEntryId service : *services) {
        const auto properties = registry_->properties(service);
        lastRead = properties.has_value();
        if (!properties || !properties->is_object()) continue;
        const Value controls = properties->value("control-info", Value::array());
        if (!controls.is_array()) continue;
        for (const Value& entry : controls) {
            const std::string location = sensor_table::stringProperty(entry, "location");
            if (!validFanSensors.contains(location)) continue;
            if (!sensorArray) availableSensors.push_back(fanSensorName[location]);
            store(location, intValue(entry.value("target-value", Value(0))), groups);
        }
    }
    return {true, lastRead};
}

Value VQTDataMinerFans::registryDataSet() {
    Groups groups;
    // Each search runs only when the one before it matched and could read its
    // last service; otherwise the whole sample is empty. The last search's
    // own last read gates nothing.
    if (!registry_) return Value::array();
    const Search controls = searchControls("IOHWControl", groups);
    if (!controls.matched || !controls.lastRead) return Value::array();
    const Search controlUnits = searchControlInfo(groups);
    if (!controlUnits.matched || !controlUnits.lastRead) return Value::array();
    if (!searchControls("IOHWSensor", groups).matched) return Value::array();
    return sensor_table::rowsByPriority(groups);
}

}  // namespace vq
