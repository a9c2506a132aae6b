#include "installer/linux/gio_desktop.h"

#include <gio/gio.h>

#include <cstdio>

#include "host/glib_handles.h"

namespace vq::installer {

std::string GioDesktop::temporaryDirectory() { return g_get_tmp_dir(); }

std::string GioDesktop::globallyUniqueString() {
    host::GCharPtr uuid(g_uuid_string_random());
    return uuid.get();
}

// The user sees nothing happen when no application is found, so the reason
// goes to standard error.
void GioDesktop::openURL(const std::string& url) {
    GError* raw = nullptr;
    if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &raw)) {
        host::ErrorPtr error(raw);
        std::fprintf(stderr, "velquette-module-installer: cannot open %s: %s\n", url.c_str(),
                     error ? error->message : "no application");
    }
}

void GioDesktop::openFile(const std::string& path) {
    host::GCharPtr uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    if (uri) openURL(uri.get());
}

}  // namespace vq::installer
