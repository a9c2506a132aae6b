#pragma once
// Settings files in <config home>/velquette, written atomically (a new file
// renamed over the old one).

#include <string>

#include "platform/config_files.h"

namespace vq::linux_platform {

class XdgConfigFiles : public ConfigFiles {
public:
    // `configHome` empty: nothing to read, nowhere to write.
    explicit XdgConfigFiles(const std::string& configHome)
        : folder_(configHome.empty() ? std::string() : configHome + "/velquette") {}
    std::optional<std::string> read(const std::string& name) override;
    bool replace(const std::string& name, const std::string& text) override;
    bool setAside(const std::string& name) override;

private:
    std::string folder_;
};

}  // namespace vq::linux_platform
