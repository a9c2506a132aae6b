// A sample sensor module: its fans are the list in fans.json inside the
// bundle, answered in the file's order, for example
//   {"fans": [["Master", "1500rpm"], ["Fan 1", "2100rpm"]]}
// Two optional keys make it fail on purpose: "failCreate": true (create
// answers NULL) and "failFans": true (the fan call fails). No exception
// leaves an entry point.
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sensor_module_abi.h"

// The library is built with hidden visibility, so only what is marked here is
// exported. The variant without entry points (a bundle without a principal
// class, for the loader's tests) is this same code with nothing marked.
#ifdef VQ_SAMPLE_MODULE_WITHOUT_ENTRY_POINTS
#define VQ_ENTRY_POINT
#else
#define VQ_ENTRY_POINT __attribute__((visibility("default")))
#endif

namespace {

struct SampleModule {
    std::vector<std::pair<std::string, std::string>> fans;
    bool failFans = false;
};

}  // namespace

extern "C" VQ_ENTRY_POINT void* vq_sensor_module_create(const char* bundle_path) {
    try {
        std::ifstream file(std::string(bundle_path) + "/fans.json");
        const auto description = nlohmann::json::parse(file, nullptr, /*allow_exceptions=*/false);
        if (!description.is_object() || description.value("failCreate", false)) return nullptr;
        auto module = std::make_unique<SampleModule>();
        module->failFans = description.value("failFans", false);
        for (const auto& fan : description.at("fans"))
            module->fans.emplace_back(fan.at(0).get<std::string>(), fan.at(1).get<std::string>());
        return module.release();
    } catch (...) {
        return nullptr;  // a malformed fans.json: the module cannot initialise
    }
}

extern "C" VQ_ENTRY_POINT int vq_sensor_module_fan_values(void* instance, vq_fan_sink sink, void* context) {
    const auto* module = static_cast<const SampleModule*>(instance);
    if (module->failFans) return 1;
    for (const auto& [name, value] : module->fans) sink(context, name.c_str(), value.c_str());
    return 0;
}

extern "C" VQ_ENTRY_POINT void vq_sensor_module_destroy(void* instance) {
    delete static_cast<SampleModule*>(instance);
}
