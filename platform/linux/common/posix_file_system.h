#pragma once
#include <string>

#include "platform/file_system.h"

namespace vq {

// Real file operations; the application support directory is fixed at
// creation.
class PosixFileSystem : public FileSystem {
public:
    explicit PosixFileSystem(std::string applicationSupport) : applicationSupport_(std::move(applicationSupport)) {}

    std::string applicationSupportDirectory() override { return applicationSupport_; }
    bool fileExists(const std::string& path) override;
    bool createDirectory(const std::string& path) override;
    std::optional<std::string> readFile(const std::string& path) override;
    bool writeFileAtomically(const std::string& path, const std::string& data) override;
    bool removeFile(const std::string& path) override;

private:
    std::string applicationSupport_;
};

// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share; empty
// when neither is known.
std::string xdgDataHome(const char* xdgDataHomeVariable, const char* homeVariable);

}  // namespace vq
