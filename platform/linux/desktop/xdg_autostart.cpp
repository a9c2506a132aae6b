#include "platform/linux/desktop/xdg_autostart.h"

#include <glib.h>

#include <cstdio>

#include "platform/linux/common/file_reading.h"

namespace vq::linux_platform {

std::string autostartEntry() {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Velquette\n"
           "Comment=The system monitor widget, started with the session\n"
           "Exec=velquette-widget\n"
           "Icon=org.brackwell.Velquette\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool XdgAutostart::isEnabled() {
    if (configHome_.empty()) return false;
    const auto entry = readWholeFile(path());
    return entry && entry->find("\nHidden=true") == std::string::npos;
}

bool XdgAutostart::setEnabled(bool enabled) {
    if (configHome_.empty()) return false;
    if (!enabled) return std::remove(path().c_str()) == 0 || !g_file_test(path().c_str(), G_FILE_TEST_EXISTS);
    const std::string folder = configHome_ + "/autostart";
    if (g_mkdir_with_parents(folder.c_str(), 0755) != 0) return false;
    const std::string entry = autostartEntry();
    // g_file_set_contents writes a temporary file and renames it over the entry.
    return g_file_set_contents(path().c_str(), entry.data(), static_cast<gssize>(entry.size()), nullptr);
}

std::string xdgConfigHome(const char* xdgConfigHomeVariable, const char* homeVariable) {
    if (xdgConfigHomeVariable && xdgConfigHomeVariable[0] == '/') return xdgConfigHomeVariable;
    if (homeVariable && homeVariable[0] == '/') return std::string(homeVariable) + "/.config";
    return {};
}

}  // namespace vq::linux_platform
