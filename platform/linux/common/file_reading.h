#pragma once
#include <optional>
#include <string>
#include <vector>

namespace vq::linux_platform {

// The whole file, or nullopt when it cannot be opened or read. /proc and
// /sys files report a size of 0, so this reads until end of file.
std::optional<std::string> readWholeFile(const std::string& path);

// The same into a buffer that the caller keeps between samples, so that a
// reader polled many times a second does not allocate for every read. false
// (and an empty buffer) when the file cannot be opened or read.
bool readWholeFileInto(const std::string& path, std::string& content);

// Names in a directory (without "." and ".."); nullopt when unreadable.
std::optional<std::vector<std::string>> listDirectory(const std::string& path);

}  // namespace vq::linux_platform
