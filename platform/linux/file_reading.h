#pragma once
#include <optional>
#include <string>
#include <vector>

namespace vq::linux_platform {

// The whole file, or nullopt when it cannot be opened or read. /proc and
// /sys files report a size of 0, so this reads until end of file.
std::optional<std::string> readWholeFile(const std::string& path);

// Names in a directory (without "." and ".."); nullopt when unreadable.
std::optional<std::vector<std::string>> listDirectory(const std::string& path);

}  // namespace vq::linux_platform
