#include "miners/VQTDataMinerDisks.h"

#include <algorithm>
#include <cmath>

#include "miners/text_format.h"

namespace vq {
namespace {

constexpr const char* kSupportFolder = "/Brackwell/";
constexpr const char* kIconFolder = "Brackwell/Parquell/";
// The cache folder is shared with a sibling product, so this miner only ever
// deletes the files it lists here as its own.
constexpr const char* kWrittenRecord = ".velquette-written-icons";
constexpr const char* kStartupIDisk = "/Volumes/iDisk";

std::string lastComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A display name becomes a file name; a "/" in it must not reach another folder.
std::string iconFileName(std::string displayName) {
    std::replace(displayName.begin(), displayName.end(), '/', ':');
    return displayName + ".png";
}

}  // namespace

VQTDataMinerDisks::VQTDataMinerDisks(std::shared_ptr<Volumes> volumes, std::shared_ptr<IORegistry> registry,
                                     std::shared_ptr<FileSystem> files)
    : volumes_(std::move(volumes)), registry_(std::move(registry)), files_(std::move(files)) {
    volumeRoots_ = volumes_->volumeRoots();
    const std::string support = files_->applicationSupportDirectory();
    if (!support.empty()) {
        icon_directory = support + "/" + kIconFolder;
        if (!files_->fileExists(support + kSupportFolder)) files_->createDirectory(support + kSupportFolder);
        clearIconCache();
        if (!files_->fileExists(icon_directory)) files_->createDirectory(icon_directory);
    }
    findDrives();
    update();
}

void VQTDataMinerDisks::clearIconCache() {
    // Icons from an earlier run are discarded so that changed volumes get
    // fresh ones; files that other programs put in the folder stay.
    const std::string record = icon_directory + kWrittenRecord;
    if (auto listed = files_->readFile(record)) {
        std::size_t start = 0;
        while (start < listed->size()) {
            const std::size_t end = std::min(listed->find('\n', start), listed->size());
            const std::string name = listed->substr(start, end - start);
            if (!name.empty() && name.find('/') == std::string::npos && name != "." && name != "..")
                files_->removeFile(icon_directory + name);
            start = end + 1;
        }
        files_->removeFile(record);
    }
}

bool VQTDataMinerDisks::underVolumeRoot(const std::string& path) const {
    return std::any_of(volumeRoots_.begin(), volumeRoots_.end(),
                       [&](const std::string& root) { return path.find(root) != std::string::npos; });
}

void VQTDataMinerDisks::findDrives() {
    driveTypes.clear();
    // Runs when the mounts change: icons are looked for again then.
    iconsInCache_.clear();
    auto media = registry_->matchingServices("IOMedia", Value{{"Whole", true}});
    if (!media) return;
    for (RegistryEntryId medium : *media) {
        auto properties = registry_->properties(medium);
        if (!properties || !properties->contains("BSD Name") || !(*properties)["BSD Name"].is_string()) continue;
        const std::string name = (*properties)["BSD Name"].get<std::string>();
        if (registry_->conformsTo(medium, "IOCDMedia")) {
            driveTypes[name] = "CD";
        } else if (registry_->conformsTo(medium, "IODVDMedia")) {
            driveTypes[name] = "DVD";
        } else if (auto protocol = registry_->searchProperty(medium, "Protocol Characteristics")) {
            if (protocol->is_object() && protocol->contains("Physical Interconnect") &&
                (*protocol)["Physical Interconnect"].is_string())
                driveTypes[name] = (*protocol)["Physical Interconnect"].get<std::string>();
            else
                driveTypes.erase(name);
        }
    }
}

std::string VQTDataMinerDisks::diskKey(const std::string& mountedFrom) const {
    const std::string device = lastComponent(mountedFrom);
    if (device.rfind("disk", 0) == 0) {
        if (device.size() > 4) {
            const std::string rest = device.substr(4);
            const auto slice = rest.find('s');
            if (slice != std::string::npos) return "disk" + rest.substr(0, slice);
        }
        return device;
    }
    return volumes_->wholeDiskName(device);
}

std::string VQTDataMinerDisks::iconPathFor(const std::string& displayName, const std::string& mountPath) {
    const std::string fileName = iconFileName(displayName);
    const std::string path = icon_directory + "/" + fileName;
    if (icon_directory.empty() || iconsInCache_.count(path) != 0) return path;
    if (files_->fileExists(path)) {
        iconsInCache_.insert(path);
    } else {
        if (auto png = volumes_->iconForVolume(mountPath); png && files_->writeFileAtomically(path, *png)) {
            writtenIcons_.push_back(fileName);
            iconsInCache_.insert(path);
            std::string record;
            for (const auto& name : writtenIcons_) record += name + "\n";
            files_->writeFileAtomically(icon_directory + kWrittenRecord, record);
        }
    }
    return path;
}

void VQTDataMinerDisks::update() {
    Value list = Value::array();
    bool first = true;
    for (const std::string& path : volumes_->mountedLocalVolumePaths()) {
        auto mountedFrom = volumes_->mountedFrom(path);
        if (!mountedFrom) continue;
        const bool considered = first || underVolumeRoot(path);
        first = false;
        if (!considered) continue;

        // A volume whose size cannot be read is left out rather than shown empty.
        auto sizes = volumes_->volumeSizes(path);
        if (!sizes) continue;
        const std::uint64_t totalKB = sizes->totalBytes >> 10;
        const std::uint64_t freeKB = sizes->freeBytes >> 10;
        const std::uint64_t usedKB =
            sizes->totalBytes > sizes->freeBytes ? (sizes->totalBytes - sizes->freeBytes) >> 10 : 0;
        // The file system's "size unknown" marker.
        if (static_cast<std::int32_t>(static_cast<std::uint32_t>(totalKB)) == 0x7FFFFFFF) continue;

        int percentage = 0;
        if (totalKB != 0) {
            const float ratio = static_cast<float>(usedKB) / static_cast<float>(totalKB);
            percentage = static_cast<int>(std::trunc(ratio * 100.0f));
        }

        const auto type = driveTypes.find(diskKey(*mountedFrom));
        if (type != driveTypes.end() && path != kStartupIDisk &&
            (type->second == "Virtual Interface" || type->second == "CD" || type->second == "DVD"))
            continue;

        const std::string name = volumes_->displayNameAtPath(path);
        list.push_back(Value::array({name, percentage, convertB(static_cast<float>(usedKB)),
                                     convertB(static_cast<float>(freeKB)), path, iconPathFor(name, path)}));
    }
    latestData = std::move(list);
}

std::string VQTDataMinerDisks::convertB(float x) {
    if (x < 1024.0f) return "0KB";
    const float m = x * 0.0009765625f;
    if (m < 1024.0f) return formatText("%i%s", static_cast<int>(m), "MB");
    static const char* const units[] = {"", "GB", "TB"};
    float v = m;
    int i = 0;
    while (v > 1000.0f) {
        v *= 0.0009765625f;
        ++i;
    }
    if (i > 2) return "0KB";
    return formatText("%.2f%s", static_cast<double>(v), units[i]);
}

}  // namespace vq
