#pragma once
#include <string>

namespace vq::linux_platform {

// Where the kernel's file systems are. Readers take these as values so that
// tests run them on fixture trees.
struct Roots {
    std::string proc = "/proc";
    std::string sys = "/sys";
    std::string udev = "/run/udev";

    // VELQUETTE_PROC_ROOT, VELQUETTE_SYS_ROOT and VELQUETTE_UDEV_ROOT, each
    // defaulting to the real location.
    static Roots fromEnvironment();
};

}  // namespace vq::linux_platform
