#pragma once
// The desktop services of the installer through GLib and GIO: the temporary
// folder, random UUIDs as unique names, and the default applications.

#include "installer/installer_services.h"

namespace vq::installer {

class GioDesktop : public Desktop {
public:
    std::string temporaryDirectory() override;
    std::string globallyUniqueString() override;
    void openURL(const std::string& url) override;
    void openFile(const std::string& path) override;
};

}  // namespace vq::installer
