#pragma once
// The user's settings files of this program, by name ("alerts.conf",
// "velquette.conf"):
// $XDG_CONFIG_HOME/velquette on Linux.

#include <optional>
#include <string>

namespace vq {

class ConfigFiles {
public:
    virtual ~ConfigFiles() = default;
    // The file's text; nullopt when it does not exist or cannot be read.
    virtual std::optional<std::string> read(const std::string& name) = 0;
    // Replaces the file at once (a reader sees the old text or the new,
    // never a part), readable by the user alone, since a settings file may
    // name where credentials are; false when it cannot be written.
    virtual bool replace(const std::string& name, const std::string& text) = 0;
    // Keeps a file that could not be used as "<name>.bad", in place of an
    // older one of that name.
    virtual bool setAside(const std::string& name) = 0;
};

}  // namespace vq
