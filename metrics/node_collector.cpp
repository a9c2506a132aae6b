#include "metrics/node_collector.h"

#include "metrics/node_families.h"
#include "platform/linux/cgroups/linux_resource_limits.h"
#include "platform/linux/gpu/linux_gpus.h"

#ifndef VELQUETTE_VERSION
#error "VELQUETTE_VERSION must name the version being built"
#endif

namespace vq::metrics {

NodeScraper::NodeScraper(linux_platform::Roots roots)
    : roots_(std::move(roots)),
      stat_(roots_.proc + "/stat"),
      loadavg_(roots_.proc + "/loadavg"),
      meminfo_(roots_.proc + "/meminfo"),
      vmstat_(roots_.proc + "/vmstat"),
      mountinfo_(roots_.proc + "/self/mountinfo"),
      gpus_(linux_platform::makeLinuxGpus(roots_)) {}

bool NodeScraper::refreshMounts() {
    if (!mountinfo_.changed() && mounts_) return true;
    if (!mountinfo_.readInto(text_)) {
        mounts_.reset();
        return false;
    }
    mounts_ = linux_platform::parseMountinfo(text_);
    fileSystems_ = lm::keptFileSystems(*mounts_);
    const auto disk = lm::startupDisk(roots_, *mounts_);
    startupDisk_ = disk ? std::optional(Disk{disk->device, disk->model}) : std::nullopt;
    return true;
}

const std::string& NodeScraper::scrape(const std::function<void(ExpositionWriter&)>& hostFamilies) {
    ExpositionWriter& out = writer_;
    out.start();
    // Each collector says whether it could read its source.
    std::vector<std::pair<const char*, bool>> outcomes;
    outcomes.reserve(16);

    const auto parsedStat = stat_.readInto(text_) ? std::optional(linux_platform::parseProcStat(text_)) : std::nullopt;
    const bool haveCpus = parsedStat && !parsedStat->cpus.empty();
    if (haveCpus) writeCpu(out, parsedStat->cpus, lm::clockTicksPerSecond());
    outcomes.emplace_back("cpu", haveCpus);

    const auto load = loadavg_.readInto(text_) ? lm::parseLoadavg(text_) : std::nullopt;
    if (load) writeLoad(out, *load);
    outcomes.emplace_back("loadavg", load.has_value());

    const bool haveMeminfo = meminfo_.readInto(text_);
    std::optional<std::uint64_t> memTotalKiB;
    if (haveMeminfo) {
        const auto fields = lm::parseMeminfoFields(text_);
        writeMemory(out, fields);
        for (const auto& field : fields)
            if (field.key == "MemTotal" && field.inKiB) memTotalKiB = field.value;
    }
    outcomes.emplace_back("meminfo", haveMeminfo);

    const bool haveVmstat = vmstat_.readInto(text_);
    if (haveVmstat) writeVmstat(out, lm::parseVmstatCounters(text_));
    outcomes.emplace_back("vmstat", haveVmstat);

    // The mount table serves the file systems, the startup disk and the
    // control groups.
    const bool haveMounts = refreshMounts();
    if (haveMounts) {
        std::vector<lm::FileSystemUsage> readable;
        readable.reserve(fileSystems_.size());
        for (auto& fileSystem : fileSystems_)
            if (const auto space = lm::statfsSpace(fileSystem.mountPoint)) {
                fileSystem.space = *space;
                readable.push_back(fileSystem);
            }
        writeFileSystems(out, readable);
    }
    outcomes.emplace_back("filesystem", haveMounts);

    const auto devices = lm::readNetDevices(roots_.proc);
    if (devices) writeNetwork(out, *devices);
    outcomes.emplace_back("netdev", devices.has_value());

    // A machine without the class folder has no chips or supplies to report.
    writeHwmon(out, lm::readHwmonChips(roots_.sys).value_or(std::vector<lm::HwmonChip>{}));
    outcomes.emplace_back("hwmon", true);
    writePowerSupplies(out, lm::readPowerSupplyClass(roots_.sys).value_or(std::vector<lm::PowerSupply>{}));
    outcomes.emplace_back("powersupplyclass", true);

    const bool haveBootTime = parsedStat && parsedStat->bootTime;
    if (haveBootTime) writeBootTime(out, double(*parsedStat->bootTime));
    outcomes.emplace_back("stat", haveBootTime);

    writeTime(out, lm::realTimeSeconds());
    outcomes.emplace_back("time", true);

    const auto uname = lm::readUname();
    if (uname) writeUname(out, *uname);
    outcomes.emplace_back("uname", uname.has_value());

    // Most disks report no temperature without privileges; that is not a failure.
    if (startupDisk_ && haveMounts)
        if (const auto celsius = lm::diskTemperature(roots_, startupDisk_->device))
            writeDiskTemperature(out, {startupDisk_->device, startupDisk_->model, *celsius});
    outcomes.emplace_back("disk", true);

    // A reader of its own for each scrape: the page's reader keeps the
    // previous sample for its rates, and a scrape changes no state.
    if (haveMounts) writeCgroupLimits(out, linux_platform::LinuxResourceLimits(roots_).sample(*mounts_, memTotalKiB));
    outcomes.emplace_back("cgroup", haveMounts);

    // The scraper's own GPU reader: its busy shares span the time since the
    // previous scrape, apart from the page's. No GPU is no failure.
    writeGpus(out, gpus_->sample());
    outcomes.emplace_back("gpu", true);

    writeBuildInfo(out, VELQUETTE_VERSION);
    if (hostFamilies) hostFamilies(out);
    writeCollectorSuccess(out, outcomes);
    return out.text();
}

std::string scrapeNodeMetrics(const linux_platform::Roots& roots) { return NodeScraper(roots).scrape(); }

}  // namespace vq::metrics
