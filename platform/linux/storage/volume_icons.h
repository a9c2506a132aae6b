#pragma once
// Volume icons from the installed freedesktop icon themes, with built-in
// PNGs for machines that have no theme.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vq::linux_platform {

enum class VolumeKind { InternalDisk, Removable, Network };

// The icon-naming-spec name: "drive-harddisk", "drive-removable-media",
// "folder-remote".
std::string_view themeIconName(VolumeKind kind);

// The folders that hold icon themes, most particular first:
// $XDG_DATA_HOME/icons (or ~/.local/share/icons), ~/.icons, then each
// $XDG_DATA_DIRS entry (or /usr/local/share, /usr/share) + "/icons".
// Null or empty arguments count as unset.
std::vector<std::string> iconThemeRoots(const char* xdgDataHome, const char* home, const char* xdgDataDirs);

// The pixel size of a theme's size folder: "48x48" and "48" → 48. Scaled
// ("48x48@2"), scalable and symbolic folders have none.
std::optional<int> iconFolderSize(std::string_view folder);

// The PNG file of `iconName` in the devices or places folders of the themes
// under `roots`: Adwaita first, then the other themes by name, hicolor (the
// fallback theme) last; within a theme the size nearest to 48 pixels, the
// larger of two equally near. Both theme layouts are searched:
// <size>/<context>/ and <context>/<size>/. nullopt when no theme has it.
std::optional<std::string> findThemeIcon(const std::vector<std::string>& roots, std::string_view iconName);

bool looksLikePng(std::string_view bytes);

// PNG data of the icon of that kind: the theme's file where one is found and
// readable, else the built-in one.
std::string volumeIconPng(const std::vector<std::string>& roots, VolumeKind kind);
std::string_view builtInVolumeIcon(VolumeKind kind);

}  // namespace vq::linux_platform
