#pragma once
// Mounted local volumes: their mount paths, devices, sizes, names and icons.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vq {

struct VolumeSizes {
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;  // available to unprivileged users
};

class Volumes {
public:
    virtual ~Volumes() = default;
    // Mount paths of the mounted local volumes, in mount order (the start-up
    // volume "/" first where it is one of them).
    virtual std::vector<std::string> mountedLocalVolumePaths() = 0;
    // The device the path is mounted from ("/dev/disk0s2", "/dev/sda1");
    // nullopt when the path is not a live mount point.
    virtual std::optional<std::string> mountedFrom(const std::string& path) = 0;
    virtual std::optional<VolumeSizes> volumeSizes(const std::string& path) = 0;
    virtual std::string displayNameAtPath(const std::string& path) = 0;
    // PNG data of the icon that stands for the volume at `path`.
    virtual std::optional<std::string> iconForVolume(const std::string& path) = 0;
    // The folder prefixes under which further volumes are mounted
    // ("/Volumes/" on the simulated machine; "/media/", "/run/media/", "/mnt/"
    // on Linux).
    virtual std::vector<std::string> volumeRoots() = 0;
    // The whole disk that holds a device, by kernel name ("sda1" → "sda",
    // "nvme0n1p2" → "nvme0n1"); the name itself when it is a whole disk or
    // unknown.
    virtual std::string wholeDiskName(const std::string& deviceName) = 0;
};

}  // namespace vq
