#pragma once
#include <string>

namespace vq::linux_platform {

// Where the kernel's file systems are. Readers take these as values so that
// tests run them on fixture trees.
struct Roots {
    std::string proc = "/proc";
    std::string sys = "/sys";
    std::string udev = "/run/udev";
    std::string dev = "/dev";

    // VELQUETTE_PROC_ROOT, VELQUETTE_SYS_ROOT, VELQUETTE_UDEV_ROOT and
    // VELQUETTE_DEV_ROOT, each defaulting to the real location.
    static Roots fromEnvironment();
};

}  // namespace vq::linux_platform
