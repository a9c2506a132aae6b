#include "platform/sim/sim_gpus.h"

#include <algorithm>
#include <stdexcept>

namespace vq {
namespace {

using nlohmann::json;

[[noreturn]] void malformed(const std::string& what) { throw std::runtime_error("machine file: \"gpus\" " + what); }

template <typename T>
std::optional<T> figure(const json& gpu, const char* name) {
    if (!gpu.contains(name) || gpu[name].is_null()) return std::nullopt;
    const json& value = gpu[name];
    if (!value.is_number() || value.get<double>() < 0) malformed(std::string("\"") + name + "\" must be a number ≥ 0");
    return value.get<T>();
}

GpuReading gpuOf(const json& gpu) {
    if (!gpu.is_object()) malformed("must hold objects");
    GpuReading reading;
    if (!gpu.contains("name") || !gpu["name"].is_string()) malformed("needs a \"name\" string");
    reading.name = gpu["name"].get<std::string>();
    if (gpu.contains("pciAddress")) {
        if (!gpu["pciAddress"].is_string()) malformed("\"pciAddress\" must be a string");
        reading.pciAddress = gpu["pciAddress"].get<std::string>();
    }
    if (gpu.contains("asleep")) {
        if (!gpu["asleep"].is_boolean()) malformed("\"asleep\" must be true or false");
        reading.asleep = gpu["asleep"].get<bool>();
    }
    reading.busyPercent = figure<double>(gpu, "busyPercent");
    reading.vramUsedBytes = figure<std::uint64_t>(gpu, "vramUsedBytes");
    reading.vramTotalBytes = figure<std::uint64_t>(gpu, "vramTotalBytes");
    reading.celsius = figure<double>(gpu, "celsius");
    reading.watts = figure<double>(gpu, "watts");
    reading.megahertz = figure<double>(gpu, "megahertz");
    return reading;
}

class SimGpus : public Gpus {
public:
    explicit SimGpus(std::vector<std::vector<GpuReading>> samples) : samples_(std::move(samples)) {}
    std::vector<GpuReading> sample() override {
        if (samples_.empty()) return {};
        return samples_[std::min(reads_++, samples_.size() - 1)];
    }

private:
    std::vector<std::vector<GpuReading>> samples_;
    std::size_t reads_ = 0;
};

}  // namespace

std::shared_ptr<Gpus> loadSimGpus(const json& gpus) {
    if (!gpus.is_array()) malformed("must be a list of GPUs or of samples");
    const bool sampled = !gpus.empty() && gpus[0].is_array();
    std::vector<std::vector<GpuReading>> samples;
    for (const json& sample : sampled ? gpus : json::array({gpus})) {
        if (!sample.is_array()) malformed("samples must be lists of GPUs");
        std::vector<GpuReading> readings;
        for (const json& gpu : sample) readings.push_back(gpuOf(gpu));
        samples.push_back(std::move(readings));
    }
    return std::make_shared<SimGpus>(std::move(samples));
}

}  // namespace vq
