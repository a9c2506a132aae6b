#include "platform/linux/gpu/gpu_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"
#include "platform/linux/common/unique_fd.h"

namespace vq::linux_platform {
namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string ifExists(std::string path) { return exists(path) ? path : std::string(); }

// The hwmon folder of the device (amdgpu, i915 and xe register one).
std::string hwmonFolder(const std::string& devicePath) {
    const auto names = listDirectory(devicePath + "/hwmon");
    if (!names || names->empty()) return {};
    return devicePath + "/hwmon/" + *std::min_element(names->begin(), names->end());
}

// The lowest-numbered tempN_input: amdgpu's "edge", xe's package.
std::string firstTemperature(const std::string& hwmon) {
    for (int n = 1; n <= 9; ++n)
        if (std::string path = hwmon + "/temp" + std::to_string(n) + "_input"; exists(path)) return path;
    return {};
}

std::optional<std::int64_t> readNumber(const std::string& path, std::string& buffer) {
    if (path.empty() || !readAttribute(path, buffer)) return std::nullopt;
    return parseSysfsNumber(buffer);
}

}  // namespace

GpuFiles findGpuFiles(const DrmCard& card) {
    GpuFiles files;
    const std::string& device = card.devicePath;
    files.runtimeStatus = device + "/power/runtime_status";
    if (card.driver == "amdgpu") {
        // Kept even where absent: the read's failure makes the figure unknown.
        files.busyPercent = device + "/gpu_busy_percent";
        files.vramUsed = device + "/mem_info_vram_used";
        files.vramTotal = device + "/mem_info_vram_total";
    } else if (card.driver == "i915") {
        files.clockMhz = ifExists(card.cardPath + "/gt_cur_freq_mhz");
    } else if (card.driver == "xe") {
        files.clockMhz = ifExists(device + "/tile0/gt0/freq0/cur_freq");
    }
    if (card.driver == "nvidia") return files;  // NVML tells the rest
    if (const std::string hwmon = hwmonFolder(device); !hwmon.empty()) {
        files.temperature = firstTemperature(hwmon);
        files.powerAverage = ifExists(hwmon + "/power1_average");
        files.powerInput = ifExists(hwmon + "/power1_input");
        files.clockHz = ifExists(hwmon + "/freq1_input");
    }
    return files;
}

bool readAttribute(const std::string& path, std::string& buffer) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char text[256];
    const ssize_t n = fd ? ::read(fd.get(), text, sizeof text) : -1;
    if (n < 0) return false;
    buffer.assign(text, std::size_t(n));
    return true;
}

std::optional<std::int64_t> parseSysfsNumber(std::string_view text) {
    return parseInteger<std::int64_t>(trimBlanks(text));
}

GpuReading readGpuFiles(const GpuFiles& files, std::string& buffer) {
    GpuReading reading;
    // On APUs gpu_busy_percent fails (EOPNOTSUPP, EINVAL): unknown, the rest still shows.
    if (auto busy = readNumber(files.busyPercent, buffer); busy && *busy >= 0 && *busy <= 100)
        reading.busyPercent = double(*busy);
    if (auto used = readNumber(files.vramUsed, buffer); used && *used >= 0) reading.vramUsedBytes = std::uint64_t(*used);
    if (auto total = readNumber(files.vramTotal, buffer); total && *total > 0) reading.vramTotalBytes = std::uint64_t(*total);
    if (auto milli = readNumber(files.temperature, buffer)) reading.celsius = double(*milli) / 1000.0;
    auto micro = readNumber(files.powerAverage, buffer);
    if (!micro) micro = readNumber(files.powerInput, buffer);
    if (micro && *micro >= 0) reading.watts = double(*micro) / 1e6;
    if (auto mhz = readNumber(files.clockMhz, buffer); mhz && *mhz > 0) reading.megahertz = double(*mhz);
    else if (auto hz = readNumber(files.clockHz, buffer); hz && *hz > 0) reading.megahertz = double(*hz) / 1e6;
    return reading;
}

double BusySmoother::add(double percent) {
    recent_[count_++ % 3] = percent;
    const std::size_t n = std::min<std::size_t>(count_, 3);
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += recent_[i];
    return sum / double(n);
}

}  // namespace vq::linux_platform
