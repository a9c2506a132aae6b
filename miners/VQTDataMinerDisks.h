#pragma once
// Mounted local volumes with their fill level, used and free space, mount
// path and a cached icon file. Disk images and optical media are left out.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "miners/data_set.h"
#include "platform/file_system.h"
#include "platform/io_registry.h"
#include "platform/volumes.h"

namespace vq {

class VQTDataMinerDisks {
public:
    VQTDataMinerDisks(std::shared_ptr<Volumes> volumes, std::shared_ptr<IORegistry> registry,
                      std::shared_ptr<FileSystem> files);

    // Rebuilds the volume list: one [name, used %, used, free, mount path,
    // icon path] element per listed volume.
    void update();
    const Value& getDataSet() const { return latestData; }
    // Rebuilds the whole-disk → drive type table from the registry.
    void findDrives();

    static std::string convertB(float kilobytes);
    // The whole-disk key of a mounted-from device name ("/dev/disk0s2" → "disk0").
    std::string diskKey(const std::string& mountedFrom) const;

    const std::map<std::string, std::string>& getDriveTypes() const { return driveTypes; }
    const std::string& iconDirectory() const { return icon_directory; }

private:
    void clearIconCache();
    std::string iconPathFor(const std::string& displayName, const std::string& mountPath);
    bool underVolumeRoot(const std::string& path) const;

    std::shared_ptr<Volumes> volumes_;
    std::shared_ptr<IORegistry> registry_;
    std::shared_ptr<FileSystem> files_;
    std::vector<std::string> volumeRoots_;

    std::string icon_directory;
    Value latestData = Value::array();
    std::map<std::string, std::string> driveTypes;
    std::vector<std::string> writtenIcons_;  // file names this miner wrote into the cache
    // Icon files known to be in the cache since the mounts last changed, so
    // that a refresh does not look for each one again.
    std::set<std::string> iconsInCache_;
};

}  // namespace vq
