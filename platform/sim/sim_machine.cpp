#include "platform/sim/sim_machine.h"

#include <algorithm>
#include <ctime>

#include <glib.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <sstream>
#include <limits>
#include <utility>
#include <stdexcept>

#include "platform/linux/common/posix_file_system.h"
#include "platform/linux/desktop/dbus_notification_center.h"
#include "platform/linux/desktop/xdg_autostart.h"
#include "platform/linux/desktop/xdg_config_files.h"
#include "platform/linux/sensors/sensor_module_loader.h"
#include "platform/linux/storage/volume_icons.h"
#include "platform/sim/sim_gpus.h"

namespace vq {
namespace {

template <typename T>
const T& sampleAt(const std::vector<T>& samples, std::size_t& reads) {
    const std::size_t index = std::min(reads, samples.size() - 1);
    ++reads;
    return samples[index];
}

}  // namespace

std::optional<std::vector<ProcessorTicks>> SimMachine::processorLoadInfo() {
    if (tickSamples.empty()) return std::nullopt;
    return sampleAt(tickSamples, tickReads_);
}

std::optional<VmStatistics> SimMachine::hostStatistics() {
    if (vmSamples.empty()) return std::nullopt;
    return sampleAt(vmSamples, vmReads_);
}

const SimVolume* SimMachine::findVolume(const std::string& path) const {
    for (const SimVolume& volume : volumes)
        if (volume.path == path) return &volume;
    return nullptr;
}

std::vector<std::string> SimMachine::mountedLocalVolumePaths() {
    std::vector<std::string> paths;
    for (const SimVolume& volume : volumes) paths.push_back(volume.path);
    return paths;
}

std::optional<std::string> SimMachine::mountedFrom(const std::string& path) {
    const SimVolume* volume = findVolume(path);
    if (!volume || volume->statfsFails) return std::nullopt;
    return volume->mountedFrom;
}

std::optional<VolumeSizes> SimMachine::volumeSizes(const std::string& path) {
    const SimVolume* volume = findVolume(path);
    if (!volume || volume->sizeFails) return std::nullopt;
    return VolumeSizes{volume->totalBytes, volume->freeBytes};
}

std::string SimMachine::displayNameAtPath(const std::string& path) {
    const SimVolume* volume = findVolume(path);
    if (volume && !volume->displayName.empty()) return volume->displayName;
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

std::optional<std::string> SimMachine::iconForVolume(const std::string& path) {
    if (!findVolume(path)) return std::nullopt;
    // Every simulated volume shows the built-in internal-disk icon.
    return std::string(linux_platform::builtInVolumeIcon(linux_platform::VolumeKind::InternalDisk));
}

std::optional<std::vector<RegistryEntryId>> SimMachine::matchingServices(const std::string& className,
                                                                         const nlohmann::json& propertyMatch) {
    if (!registry) return std::nullopt;
    return registry->matchingServices(className, propertyMatch);
}

std::optional<std::vector<RegistryEntryId>> SimMachine::matchingServicesByName(const std::string& name) {
    if (!registry || registryFailsFor.contains(name)) return std::nullopt;
    return registry->matchingServicesByName(name);
}

std::optional<nlohmann::json> SimMachine::properties(RegistryEntryId entry) {
    if (!registry || propertiesFail.contains(entry)) return std::nullopt;
    return registry->properties(entry);
}

bool SimMachine::conformsTo(RegistryEntryId entry, const std::string& className) {
    return registry && registry->conformsTo(entry, className);
}

std::optional<nlohmann::json> SimMachine::searchProperty(RegistryEntryId entry, const std::string& key) {
    if (!registry) return std::nullopt;
    return registry->searchProperty(entry, key);
}

std::optional<nlohmann::json> SimMachine::searchPropertyBelow(RegistryEntryId entry, const std::string& key) {
    if (!registry) return std::nullopt;
    return registry->searchPropertyBelow(entry, key);
}

double SimMachine::timeIntervalSince1970() {
    if (clockSamples.empty()) return static_cast<double>(g_get_real_time()) / G_USEC_PER_SEC;
    return sampleAt(clockSamples, clockReads_);
}

std::int64_t SimMachine::now() { return static_cast<std::int64_t>(timeIntervalSince1970()); }

std::optional<nlohmann::json> SimMachine::copyValue(const std::string& key) {
    if (!dynamicStore.is_object() || !dynamicStore.contains(key)) return std::nullopt;
    return dynamicStore[key];
}

std::optional<std::vector<nlohmann::json>> SimMachine::powerSourceDescriptions() {
    if (powerSourceSamples.empty()) return std::nullopt;
    return sampleAt(powerSourceSamples, powerSourceReads_);
}

std::optional<std::vector<InterfaceRecord>> SimMachine::interfaceList() {
    if (interfaceSamples.empty()) return std::nullopt;
    std::vector<InterfaceRecord> records;
    for (const SimInterface& i : sampleAt(interfaceSamples, interfaceReads_)) {
        const std::uint32_t flags = (i.up ? kInterfaceUp : 0u) | (i.loopback ? kInterfaceLoopback : 0u);
        records.push_back({i.name, flags, i.rxBytes, i.txBytes});
    }
    return records;
}

std::optional<std::string> SimMachine::processName(std::int32_t pid) {
    if (!processes || !processes->contains(pid)) return std::nullopt;
    return processes->at(pid).name;
}

std::optional<ProcessApplication> SimMachine::applicationOf(std::int32_t pid) {
    if (!processes || !processes->contains(pid) || processes->at(pid).bundlePath.empty()) return std::nullopt;
    const SimProcess& process = processes->at(pid);
    return ProcessApplication{process.bundleId, process.bundlePath};
}

// The Process Manager's name of a process is already its application's name.
std::optional<std::string> SimMachine::applicationName(const ProcessApplication&) { return std::nullopt; }

std::optional<std::string> SimMachine::applicationIconPng(const ProcessApplication& application) {
    std::ifstream in(application.bundlePath + "/icon.png", std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool SimMachine::sampleProcesses(ProcessSample& sample) {
    if (!processes) return false;
    const std::size_t index = processReads_++;
    sample.takenAt = static_cast<double>(index + 1);
    sample.records.clear();
    for (const auto& [pid, process] : *processes) {
        const double cpu = process.cpuSeconds.empty() ? 0.0
                                                      : process.cpuSeconds[std::min(index, process.cpuSeconds.size() - 1)];
        sample.records.push_back({pid, process.startedAt, cpu, process.residentBytes});
    }
    return true;
}

// The plug-in's host is a real process even on a simulated machine.
std::int32_t SimMachine::selfPid() { return static_cast<std::int32_t>(::getpid()); }

Subscription SimMachine::add(Observers& observers, std::function<void()> callback) {
    const std::uint64_t id = nextObserverId_++;
    observers.emplace(id, std::move(callback));
    std::weak_ptr<SimMachine> weak = weak_from_this();
    Observers* list = &observers;
    return Subscription([weak, list, id] {
        if (auto self = weak.lock()) list->erase(id);
    });
}

void SimMachine::fire(const Observers& observers) {
    // Copy first: a handler may cancel its own or another observation.
    std::vector<std::function<void()>> callbacks;
    for (const auto& [id, callback] : observers) callbacks.push_back(callback);
    for (auto& callback : callbacks) callback();
}

Subscription SimMachine::watchNetworkChanges(std::function<void()> onChange) {
    if (networkNotifierFails) throw NotifierUnavailable("simulated machine has no network change source");
    return add(networkObservers_, std::move(onChange));
}

Subscription SimMachine::watchMounts(std::function<void()> onMountOrUnmount) {
    return add(mountObservers_, std::move(onMountOrUnmount));
}

Subscription SimMachine::observe(const std::string& name, std::function<void()> handler) {
    return add(notificationObservers_[name], std::move(handler));
}

bool SimMachine::post(const std::string& name) {
    auto it = notificationObservers_.find(name);
    if (it != notificationObservers_.end()) fire(it->second);
    return true;
}

void SimMachine::fireNetworkChange() { fire(networkObservers_); }
void SimMachine::fireMountChange() { fire(mountObservers_); }

std::size_t SimMachine::observerCount() const {
    std::size_t count = networkObservers_.size() + mountObservers_.size();
    for (const auto& [name, observers] : notificationObservers_) count += observers.size();
    return count;
}

std::optional<std::int32_t> SimMachine::gestalt(std::uint32_t selector) {
    if (!architecture) return std::nullopt;
    const bool intel = *architecture == "intel";
    const bool powerpc = *architecture == "powerpc";
    if (selector == kGestaltSysArchitecture) {
        if (intel) return kGestaltIntel;
        if (powerpc) return kGestaltPowerPC;
    }
    if (selector == kGestaltProcessorType) {
        if (intel) return static_cast<std::int32_t>(kGestaltCPUPentium);
        if (powerpc) return static_cast<std::int32_t>(kGestaltCPUG4);
    }
    return std::nullopt;
}

namespace {

using nlohmann::json;

[[noreturn]] void malformed(const std::string& key, const std::string& what) {
    throw std::runtime_error("machine file: \"" + key + "\" " + what);
}

template <typename T>
T number(const json& value, const std::string& key) {
    if (!value.is_number_integer()) malformed(key, "must hold whole numbers");
    const bool fits = value.is_number_unsigned()
                          ? value.get<std::uint64_t>() <= static_cast<std::uint64_t>(std::numeric_limits<T>::max())
                          : std::in_range<T>(value.get<std::int64_t>());
    if (!fits) malformed(key, "holds a number out of range");
    return static_cast<T>(value.get<std::int64_t>());
}

const json& member(const json& object, const char* name, const std::string& key) {
    if (!object.is_object() || !object.contains(name)) malformed(key, std::string("needs \"") + name + "\"");
    return object.at(name);
}

std::string text(const json& value, const std::string& key) {
    if (!value.is_string()) malformed(key, "must be a string");
    return value.get<std::string>();
}

bool flag(const json& object, const char* name, const std::string& key) {
    if (!object.contains(name)) return false;
    if (!object[name].is_boolean()) malformed(key, std::string("\"") + name + "\" must be true or false");
    return object[name].get<bool>();
}

ProcessorTicks ticksOf(const json& row) {
    if (!row.is_array() || row.size() != 4) malformed("processorTicks", "rows must be [user, system, idle, nice]");
    ProcessorTicks ticks{};
    for (std::size_t k = 0; k < 4; ++k) ticks[k] = number<std::uint32_t>(row[k], "processorTicks");
    return ticks;
}

}  // namespace

std::shared_ptr<SimMachine> loadSimMachine(const json& file) {
    if (!file.is_object()) throw std::runtime_error("machine file: must be a JSON object");
    auto machine = std::make_shared<SimMachine>();
    if (file.contains("model")) machine->model = text(file["model"], "model");
    if (file.contains("architecture")) {
        machine->architecture = text(file["architecture"], "architecture");
        if (*machine->architecture != "intel" && *machine->architecture != "powerpc")
            malformed("architecture", "must be \"intel\" or \"powerpc\"");
    }
    if (file.contains("home")) machine->home = text(file["home"], "home");
    if (file.contains("clock")) {
        const json& clock = file["clock"];
        if (!clock.is_array() || clock.empty()) malformed("clock", "must be a non-empty list");
        for (const auto& t : clock) {
            if (!t.is_number()) malformed("clock", "must hold numbers");
            machine->clockSamples.push_back(t.get<double>());
        }
    }
    if (file.contains("bootTime")) {
        const json& boot = file["bootTime"];
        machine->boot = BootTime{number<std::int32_t>(member(boot, "sec", "bootTime"), "bootTime"),
                                 number<std::int32_t>(member(boot, "usec", "bootTime"), "bootTime")};
    }
    if (file.contains("loadAverage")) {
        const json& load = file["loadAverage"];
        const json& ldavg = member(load, "ldavg", "loadAverage");
        if (!ldavg.is_array() || ldavg.size() != 3) malformed("loadAverage", "\"ldavg\" must hold three numbers");
        LoadAverageRecord record;
        for (std::size_t i = 0; i < 3; ++i) record.ldavg[i] = number<std::uint32_t>(ldavg[i], "loadAverage");
        record.fscale = number<std::int32_t>(member(load, "fscale", "loadAverage"), "loadAverage");
        machine->loadRecord = record;
    }
    if (file.contains("taskCounts")) {
        const json& counts = file["taskCounts"];
        machine->taskCounts = TaskCounts{number<std::int32_t>(member(counts, "tasks", "taskCounts"), "taskCounts"),
                                         number<std::int32_t>(member(counts, "threads", "taskCounts"), "taskCounts")};
    }
    if (file.contains("processorTicks")) {
        const json& samples = file["processorTicks"];
        if (!samples.is_array() || samples.empty()) malformed("processorTicks", "must be a non-empty list of samples");
        for (const auto& sample : samples) {
            if (!sample.is_array()) malformed("processorTicks", "samples must be lists of rows");
            std::vector<ProcessorTicks> rows;
            for (const auto& row : sample) rows.push_back(ticksOf(row));
            machine->tickSamples.push_back(std::move(rows));
        }
    }
    if (file.contains("vm")) {
        const json& samples = file["vm"];
        if (!samples.is_array() || samples.empty()) malformed("vm", "must be a non-empty list of samples");
        for (const auto& sample : samples) {
            VmStatistics vm;
            vm.freeCount = number<std::uint32_t>(member(sample, "free", "vm"), "vm");
            vm.activeCount = number<std::uint32_t>(member(sample, "active", "vm"), "vm");
            vm.inactiveCount = number<std::uint32_t>(member(sample, "inactive", "vm"), "vm");
            vm.wireCount = number<std::uint32_t>(member(sample, "wire", "vm"), "vm");
            vm.pageins = number<std::uint32_t>(member(sample, "pageins", "vm"), "vm");
            vm.pageouts = number<std::uint32_t>(member(sample, "pageouts", "vm"), "vm");
            machine->vmSamples.push_back(vm);
        }
    }
    if (file.contains("swapTotalBytes")) machine->swapTotal = number<std::uint64_t>(file["swapTotalBytes"], "swapTotalBytes");
    if (file.contains("volumes")) {
        const json& volumes = file["volumes"];
        if (!volumes.is_array()) malformed("volumes", "must be a list");
        for (const auto& v : volumes) {
            SimVolume volume;
            volume.path = text(member(v, "path", "volumes"), "volumes");
            volume.mountedFrom = v.contains("mountedFrom") ? text(v["mountedFrom"], "volumes") : std::string();
            volume.displayName = v.contains("displayName") ? text(v["displayName"], "volumes") : std::string();
            volume.totalBytes = v.contains("totalBytes") ? number<std::uint64_t>(v["totalBytes"], "volumes") : 0;
            volume.freeBytes = v.contains("freeBytes") ? number<std::uint64_t>(v["freeBytes"], "volumes") : 0;
            volume.statfsFails = flag(v, "statfsFails", "volumes");
            volume.sizeFails = flag(v, "sizeFails", "volumes");
            machine->volumes.push_back(std::move(volume));
        }
    }
    if (file.contains("registry")) {
        const json& entries = file["registry"];
        if (!entries.is_array()) malformed("registry", "must be a list of entries");
        std::vector<RegistryEntry> list;
        for (const auto& e : entries) {
            RegistryEntry entry;
            entry.id = number<RegistryEntryId>(member(e, "id", "registry"), "registry");
            const json& classes = member(e, "classes", "registry");
            if (!classes.is_array() || classes.empty()) malformed("registry", "\"classes\" must be a non-empty list");
            for (const auto& c : classes) entry.classes.push_back(text(c, "registry"));
            entry.name = e.contains("name") ? text(e["name"], "registry") : std::string();
            if (e.contains("properties")) {
                if (!e["properties"].is_object()) malformed("registry", "\"properties\" must be an object");
                entry.properties = e["properties"];
            }
            if (e.contains("parent") && !e["parent"].is_null())
                entry.parent = number<RegistryEntryId>(e["parent"], "registry");
            if (flag(e, "propertiesFail", "registry")) machine->propertiesFail.insert(entry.id);
            list.push_back(std::move(entry));
        }
        machine->registry.emplace(std::move(list));
    }
    if (file.contains("registryFailsFor")) {
        const json& names = file["registryFailsFor"];
        if (!names.is_array()) malformed("registryFailsFor", "must be a list of service names");
        for (const auto& name : names) machine->registryFailsFor.insert(text(name, "registryFailsFor"));
    }
    if (file.contains("dynamicStore")) {
        if (!file["dynamicStore"].is_object()) malformed("dynamicStore", "must be an object of store keys");
        machine->dynamicStore = file["dynamicStore"];
    }
    if (file.contains("interfaces")) {
        const json& samples = file["interfaces"];
        if (!samples.is_array() || samples.empty()) malformed("interfaces", "must be a non-empty list of samples");
        for (const auto& sample : samples) {
            if (!sample.is_array()) malformed("interfaces", "samples must be lists of interfaces");
            std::vector<SimInterface> list;
            for (const auto& i : sample) {
                SimInterface item;
                item.name = text(member(i, "name", "interfaces"), "interfaces");
                item.up = i.contains("up") ? flag(i, "up", "interfaces") : true;
                item.loopback = flag(i, "loopback", "interfaces");
                item.rxBytes = i.contains("rxBytes") ? number<std::uint64_t>(i["rxBytes"], "interfaces") : 0;
                item.txBytes = i.contains("txBytes") ? number<std::uint64_t>(i["txBytes"], "interfaces") : 0;
                list.push_back(std::move(item));
            }
            machine->interfaceSamples.push_back(std::move(list));
        }
    }
    if (file.contains("powerSources")) {
        // A list of descriptions is one fixed sample; a list of such lists is
        // a sequence of samples.
        const json& sources = file["powerSources"];
        if (!sources.is_array()) malformed("powerSources", "must be a list of descriptions or of samples");
        const bool sampled = !sources.empty() && sources[0].is_array();
        for (const json& sample : sampled ? sources : json::array({sources})) {
            if (!sample.is_array()) malformed("powerSources", "samples must be lists of descriptions");
            std::vector<json> descriptions;
            for (const json& d : sample) {
                if (!d.is_object()) malformed("powerSources", "descriptions must be objects");
                descriptions.push_back(d);
            }
            machine->powerSourceSamples.push_back(std::move(descriptions));
        }
    }
    if (file.contains("gpus")) machine->gpus = loadSimGpus(file["gpus"]);
    if (file.contains("smart")) machine->smart = loadSimSmart(file["smart"]);
    if (file.contains("processes")) {
        const json& table = file["processes"];
        if (!table.is_object()) malformed("processes", "must be an object from pid to process");
        machine->processes.emplace();
        for (const auto& [key, p] : table.items()) {
            std::int32_t pid = 0;
            const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), pid);
            if (error != std::errc() || end != key.data() + key.size()) malformed("processes", "keys must be pids");
            if (!p.is_object()) malformed("processes", "entries must be objects");
            SimProcess process;
            if (p.contains("name")) process.name = text(p["name"], "processes");
            if (p.contains("bundlePath")) process.bundlePath = text(p["bundlePath"], "processes");
            if (p.contains("bundleId")) process.bundleId = text(p["bundleId"], "processes");
            if (p.contains("cpuSeconds")) {
                if (!p["cpuSeconds"].is_array()) malformed("processes", "\"cpuSeconds\" must be a list");
                for (const auto& t : p["cpuSeconds"]) {
                    if (!t.is_number()) malformed("processes", "\"cpuSeconds\" must hold numbers");
                    process.cpuSeconds.push_back(t.get<double>());
                }
            }
            if (p.contains("startedAt")) {
                if (!p["startedAt"].is_number()) malformed("processes", "\"startedAt\" must be a number");
                process.startedAt = p["startedAt"].get<double>();
            }
            if (p.contains("residentBytes")) process.residentBytes = number<std::uint64_t>(p["residentBytes"], "processes");
            machine->processes->emplace(pid, std::move(process));
        }
    }
    return machine;
}

Platform makeSimPlatform(std::shared_ptr<SimMachine> machine, std::shared_ptr<NotificationCenter> notifications) {
    Platform platform;
    platform.processorStats = machine;
    platform.memory = machine;
    platform.volumes = machine;
    platform.registry = machine;
    platform.dynamicStore = machine;
    platform.interfaces = machine;
    platform.log = machine;
    platform.clock = machine;
    platform.networkChanges = machine;
    platform.mounts = machine;
    platform.notifications = notifications ? std::move(notifications) : machine;
    platform.machine = machine;
    platform.powerSources = machine;
    platform.smartDrives = machine->smart;
    platform.gpus = machine->gpus;
    // Like the file operations: real files below the machine's home.
    platform.autostart =
        std::make_shared<linux_platform::XdgAutostart>(machine->home ? *machine->home + "/.config" : "");
    platform.processes = machine;
    platform.clipboard = machine;
    const std::string supportDirectory = machine->home ? *machine->home + "/Library/Application Support" : std::string();
    platform.files = std::make_shared<PosixFileSystem>(supportDirectory);
    // The module is a real file even on a simulated machine.
    platform.modules = linux_platform::makeSensorModuleLoader(machine);
    platform.configFiles =
        std::make_shared<linux_platform::XdgConfigFiles>(machine->home ? *machine->home + "/.config" : "");
    platform.simulated = true;
    return platform;
}

}  // namespace vq
