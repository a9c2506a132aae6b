#include "platform/linux/drives/linux_smart_drives.h"

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <algorithm>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/unique_fd.h"
#include "platform/linux/drives/block_devices.h"
#include "platform/linux/sensors/hwmon_names.h"

namespace vq::linux_platform {
namespace {

constexpr unsigned kCommandTimeoutMs = 5000;
constexpr int kMaxStackedDevices = 8;

class SgIoDevice : public AtaPassThroughDevice {
public:
    explicit SgIoDevice(UniqueFd fd) : fd_(std::move(fd)) {}

    ScsiReply send(const AtaPassThroughCdb& cdb, std::span<std::uint8_t> dataIn) override {
        AtaPassThroughCdb command = cdb;
        sg_io_hdr_t header{};
        header.interface_id = 'S';
        header.cmdp = command.data();
        header.cmd_len = static_cast<unsigned char>(command.size());
        header.dxfer_direction = dataIn.empty() ? SG_DXFER_NONE : SG_DXFER_FROM_DEV;
        header.dxferp = dataIn.empty() ? nullptr : dataIn.data();
        header.dxfer_len = static_cast<unsigned>(dataIn.size());
        header.sbp = sense_.data();
        header.mx_sb_len = static_cast<unsigned char>(sense_.size());
        header.timeout = kCommandTimeoutMs;
        ScsiReply reply;
        if (::ioctl(fd_.get(), SG_IO, &header) != 0) return reply;
        // A transport or driver error means the command never completed.
        reply.delivered = header.host_status == 0 && (header.driver_status & ~kDriverSense) == 0;
        reply.status = header.status;
        reply.sense = std::span<const std::uint8_t>(sense_.data(), header.sb_len_wr);
        return reply;
    }

private:
    static constexpr int kDriverSense = 0x08;
    UniqueFd fd_;
    std::array<std::uint8_t, 64> sense_{};
};

// A drive that takes the ATA commands. The identify block of the probe is
// kept, so a refresh sends IDENTIFY once.
class AtaSmartInterface : public SmartInterface {
public:
    AtaSmartInterface(std::unique_ptr<AtaPassThroughDevice> device, const AtaBlock& identify)
        : device_(std::move(device)), identify_(identify) {}

    int getATAIdentifyData(AtaBlock& block) override {
        block = identify_;
        return 0;
    }
    int SMARTEnableDisableOperations(bool enable) override {
        if (!enable) return 0;
        return smartEnabled(identify_) ? 0 : kSmartStepFailed;
    }
    int SMARTEnableDisableAutosave(bool) override { return 0; }
    int SMARTReturnStatus(bool& exceeded) override {
        const auto outcome = returnStatusOutcome(device_->send(ataPassThroughCdb(AtaCommand::SmartReturnStatus), {}));
        if (!outcome) return kSmartStepFailed;
        exceeded = *outcome;
        return 0;
    }
    int SMARTExecuteOffLineImmediate(bool) override { return 0; }
    int SMARTReadData(AtaBlock& block) override {
        return dataCommandSucceeded(device_->send(ataPassThroughCdb(AtaCommand::SmartReadData), block))
                   ? 0
                   : kSmartStepFailed;
    }
    int SMARTValidateReadData(const AtaBlock& block) override {
        return checksumValid(block) ? 0 : kSmartStepFailed;
    }

private:
    std::unique_ptr<AtaPassThroughDevice> device_;
    AtaBlock identify_;
};

// A drive known by its hwmon temperature only; nothing is sent anywhere.
class HwmonSmartInterface : public SmartInterface {
public:
    explicit HwmonSmartInterface(std::optional<AtaBlock> smartData) : smartData_(smartData) {}

    int getATAIdentifyData(AtaBlock& block) override {
        block = syntheticIdentifyData();
        return 0;
    }
    int SMARTEnableDisableOperations(bool) override { return 0; }
    int SMARTEnableDisableAutosave(bool) override { return 0; }
    int SMARTReturnStatus(bool& exceeded) override {
        exceeded = false;
        return 0;
    }
    int SMARTExecuteOffLineImmediate(bool) override { return 0; }
    int SMARTReadData(AtaBlock& block) override {
        if (!smartData_) return kSmartStepFailed;
        block = *smartData_;
        return 0;
    }
    int SMARTValidateReadData(const AtaBlock& block) override {
        return checksumValid(block) ? 0 : kSmartStepFailed;
    }

private:
    std::optional<AtaBlock> smartData_;
};

bool isPlainDiskName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// The hwmon folders of a drive: NVMe controllers hold them directly (or, for
// a multipath namespace, below each controller), the drivetemp driver below
// the SCSI device's "hwmon" class folder.
std::vector<std::string> hwmonFoldersOf(const std::string& sysRoot, const std::string& disk) {
    const std::string device = sysRoot + "/block/" + disk + "/device";
    std::vector<std::string> parents = {device, device + "/hwmon"};
    if (auto names = listDirectory(device)) {
        std::sort(names->begin(), names->end());
        for (const auto& name : *names)
            if (name.starts_with("nvme")) parents.push_back(device + "/" + name);
    }
    std::vector<std::string> folders;
    for (const auto& parent : parents) {
        auto names = listDirectory(parent);
        if (!names) continue;
        std::sort(names->begin(), names->end());
        for (const auto& name : *names)
            if (name.starts_with("hwmon") && name != "hwmon") folders.push_back(parent + "/" + name);
    }
    return folders;
}

}  // namespace

std::optional<int> driveHwmonTemperature(const std::string& sysRoot, const std::string& diskName) {
    if (!isPlainDiskName(diskName)) return std::nullopt;
    for (const auto& folder : hwmonFoldersOf(sysRoot, diskName)) {
        // NVMe drives label their overall reading "Composite"; other sensors
        // of the drive come after it. drivetemp has a single temp1.
        std::string input = folder + "/temp1_input";
        for (int index = 1; index <= 8; ++index) {
            const auto label = readWholeFile(folder + "/temp" + std::to_string(index) + "_label");
            if (label && hwmon::trimmed(*label) == "Composite") {
                input = folder + "/temp" + std::to_string(index) + "_input";
                break;
            }
        }
        if (const auto text = readWholeFile(input))
            if (const auto celsius = hwmon::parseCelsius(*text)) return celsius;
    }
    return std::nullopt;
}

std::string physicalDiskOf(const std::string& sysRoot, const std::string& deviceName) {
    std::string disk = wholeDiskOf(sysRoot, deviceName);
    for (int depth = 0; depth < kMaxStackedDevices && isPlainDiskName(disk); ++depth) {
        auto below = listDirectory(sysRoot + "/block/" + disk + "/slaves");
        if (!below || below->empty()) break;
        std::sort(below->begin(), below->end());
        disk = wholeDiskOf(sysRoot, below->front());
    }
    return disk;
}

AtaDeviceOpener sgIoDeviceOpener(std::string devRoot) {
    return [devRoot = std::move(devRoot)](const std::string& disk) -> std::unique_ptr<AtaPassThroughDevice> {
        if (!isPlainDiskName(disk)) return nullptr;
        UniqueFd fd(::open((devRoot + "/" + disk).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW));
        if (!fd) return nullptr;
        return std::make_unique<SgIoDevice>(std::move(fd));
    };
}

LinuxSmartDrives::LinuxSmartDrives(Roots roots, std::shared_ptr<Volumes> volumes, AtaDeviceOpener openDevice)
    : roots_(std::move(roots)), volumes_(std::move(volumes)), openDevice_(std::move(openDevice)) {}

std::string LinuxSmartDrives::firstDiskName() {
    const auto device = volumes_ ? volumes_->mountedFrom("/") : std::nullopt;
    if (!device || !device->starts_with("/dev/")) return {};
    return physicalDiskOf(roots_.sys, device->substr(5));
}

SmartPlugIn LinuxSmartDrives::createPlugIn(RegistryEntryId, const std::string& bsdName) {
    if (auto device = openDevice_ ? openDevice_(bsdName) : nullptr) {
        AtaBlock identify{};
        if (dataCommandSucceeded(device->send(ataPassThroughCdb(AtaCommand::IdentifyDevice), identify)))
            return {0, std::make_unique<AtaSmartInterface>(std::move(device), identify)};
    }
    if (const auto celsius = driveHwmonTemperature(roots_.sys, bsdName))
        return {0, std::make_unique<HwmonSmartInterface>(syntheticSmartData(*celsius))};
    return {kSmartStepUnsupported, nullptr};
}

std::shared_ptr<SmartDrives> makeLinuxSmartDrives(const Roots& roots, std::shared_ptr<Volumes> volumes) {
    return std::make_shared<LinuxSmartDrives>(roots, std::move(volumes), sgIoDeviceOpener(roots.dev));
}

}  // namespace vq::linux_platform
