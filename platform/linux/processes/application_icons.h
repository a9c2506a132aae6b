#pragma once
// An application's icon as the 48x48 PNG the process icon cache holds. A
// themed icon is looked up in the icon theme folders under the data
// directories (the "hicolor" theme every application installs into, then
// "Adwaita"), then in the pixmaps folder; gdk-pixbuf loads and scales it,
// SVG included.

#include <gio/gio.h>

#include <optional>
#include <string>
#include <vector>

namespace vq::linux_platform {

constexpr int kApplicationIconSize = 48;

// The file of a themed icon name, or nullopt. The 48x48 and scalable
// renditions are preferred, then the larger ones, then the smaller ones.
std::optional<std::string> findThemedIcon(const std::string& name, const std::vector<std::string>& dataDirectories);

// The icon as PNG bytes, 48x48, its picture scaled to fit and centred; nullopt
// when no file of it can be found or loaded.
std::optional<std::string> renderApplicationIcon(GIcon* icon, const std::vector<std::string>& dataDirectories);

}  // namespace vq::linux_platform
