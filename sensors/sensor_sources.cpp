#include "sensors/sensor_sources.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "miners/PQLSort.h"
#include "miners/text_format.h"
#include "sensors/VelquorIntelControllerParquell.h"

namespace vq {
namespace {

class NativeSensorSource final : public SensorSource {
public:
    explicit NativeSensorSource(std::shared_ptr<HardwareSensors> sensors) : sensors_(std::move(sensors)) {}

    Value getTempValues() override {
        std::array<Value, 4> groups{Value::array(), Value::array(), Value::array(), Value::array()};
        for (const TemperatureReading& reading : sensors_->temperatures()) {
            std::string name = reading.name;
            int group = reading.group;
            // An SMC chip's keys are named and grouped as the controller does.
            if (reading.smcKey) {
                if (auto place = VelquorIntelControllerParquell::placeOfKey(*reading.smcKey)) {
                    name = std::move(place->displayName);
                    group = place->priority;
                }
            }
            // The controller never answers 0 °C or a group outside 1 to 4;
            // readers of this form rely on that.
            if (reading.celsius == 0 || group < 1 || group > 4) continue;
            groups[static_cast<std::size_t>(group - 1)].push_back(Value::array({name, reading.celsius}));
        }
        Value result = Value::array();
        for (Value& group : groups) {
            std::stable_sort(group.begin(), group.end(), PQLSort::ascending);
            result.push_back(std::move(group));
        }
        return result;
    }

    Value getFanValues() override {
        Value fans = Value::object();
        for (const FanReading& fan : sensors_->fans()) fans[fan.name] = formatText("%irpm", fan.rpm);
        return fans;
    }

private:
    std::shared_ptr<HardwareSensors> sensors_;
};

class ModuleFanSource final : public FanSource {
public:
    ModuleFanSource(std::shared_ptr<SensorModuleBundle> bundle, std::unique_ptr<SensorModuleInstance> instance)
        : bundle_(std::move(bundle)), instance_(std::move(instance)) {}

    Value getFanValues() override {
        auto values = instance_->fanValues();
        if (!values) throw std::runtime_error("the sensor module could not read its fans");
        Value fans = Value::object();
        for (auto& [name, value] : *values) fans[name] = std::move(value);
        return fans;
    }

private:
    // Declared first so that it goes last: the instance's code lives in the bundle.
    std::shared_ptr<SensorModuleBundle> bundle_;
    std::unique_ptr<SensorModuleInstance> instance_;
};

}  // namespace

std::string sensorBundleFolder(FileSystem& files) {
    const std::string support = files.applicationSupportDirectory();
    return support.empty() ? std::string() : support + "/Brackwell/Velquor";
}

bool hasSiblingBundle(SensorModuleLoader& modules, const std::string& bundleFolder) {
    if (bundleFolder.empty()) return false;
    const std::string path = bundleFolder + "/" + kSiblingSensorBundleName;
    return modules.fileExists(path) && modules.openBundle(path) != nullptr;
}

bool isIntel(MachineInfo& machine) { return machine.gestalt(kGestaltSysArchitecture) == kGestaltIntel; }

std::unique_ptr<SensorSource> chooseSensorSource(MachineInfo& machine, std::shared_ptr<HardwareSensors> native) {
    const bool intel = isIntel(machine);
    std::unique_ptr<VelquorIntelControllerParquell> controller;
    if (intel) {
        controller = std::make_unique<VelquorIntelControllerParquell>();
        if (controller->isSupported()) return controller;
    }
    if (native) return makeNativeSensorSource(std::move(native));
    return controller;  // unsupported on Intel machines, none elsewhere
}

std::unique_ptr<SensorSource> makeNativeSensorSource(std::shared_ptr<HardwareSensors> sensors) {
    return std::make_unique<NativeSensorSource>(std::move(sensors));
}

std::unique_ptr<FanSource> makeModuleFanSource(std::shared_ptr<SensorModuleBundle> bundle,
                                               std::unique_ptr<SensorModuleInstance> instance) {
    return std::make_unique<ModuleFanSource>(std::move(bundle), std::move(instance));
}

}  // namespace vq
