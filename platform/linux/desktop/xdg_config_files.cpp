#include "platform/linux/desktop/xdg_config_files.h"

#include <glib.h>
#include <glib/gstdio.h>

namespace vq::linux_platform {

std::optional<std::string> XdgConfigFiles::read(const std::string& name) {
    if (folder_.empty()) return std::nullopt;
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents((folder_ + "/" + name).c_str(), &contents, &length, nullptr)) return std::nullopt;
    std::string text(contents, length);
    g_free(contents);
    return text;
}

bool XdgConfigFiles::replace(const std::string& name, const std::string& text) {
    if (folder_.empty() || g_mkdir_with_parents(folder_.c_str(), 0700) != 0) return false;
    // A temporary file renamed over the old one, flushed to disk first.
    return g_file_set_contents_full((folder_ + "/" + name).c_str(), text.data(), gssize(text.size()),
                                    G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

bool XdgConfigFiles::setAside(const std::string& name) {
    if (folder_.empty()) return false;
    const std::string path = folder_ + "/" + name;
    return g_rename(path.c_str(), (path + ".bad").c_str()) == 0;
}

}  // namespace vq::linux_platform
