#pragma once
#include <optional>
#include <string>

namespace vq {

// The per-user application support directory and the few file operations the
// bridge needs on it.
class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Absolute path, without a trailing slash; empty when there is no home.
    virtual std::string applicationSupportDirectory() = 0;
    virtual bool fileExists(const std::string& path) = 0;
    // Creates one directory with default permissions, no intermediates.
    virtual bool createDirectory(const std::string& path) = 0;
    virtual std::optional<std::string> readFile(const std::string& path) = 0;
    // Writes through a temporary file and a rename, so readers never see a
    // partial file.
    virtual bool writeFileAtomically(const std::string& path, const std::string& data) = 0;
    virtual bool removeFile(const std::string& path) = 0;
};

}  // namespace vq
