#include "platform/linux/storage/volume_icons.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "platform/linux/common/file_reading.h"
#include "platform/linux/common/text_fields.h"

namespace vq::linux_platform {

// Generated from resources/icons at build time.
extern const std::string_view kBuiltInDriveHarddiskPng;
extern const std::string_view kBuiltInDriveRemovableMediaPng;
extern const std::string_view kBuiltInFolderRemotePng;

namespace {

constexpr int kPreferredSize = 48;
constexpr std::string_view kContexts[] = {"devices", "places"};

bool isSet(const char* value) { return value && *value; }

int themeRank(std::string_view theme) {
    if (theme == "Adwaita") return 0;
    if (theme == "hicolor") return 2;
    return 1;
}

struct Candidate {
    int size;
    std::string path;
};

bool nearer(int a, int b) {
    const int da = std::abs(a - kPreferredSize);
    const int db = std::abs(b - kPreferredSize);
    return da != db ? da < db : a > b;
}

std::optional<std::string> bestInTheme(const std::string& themeDir, std::string_view iconName) {
    const auto folders = listDirectory(themeDir);
    if (!folders) return std::nullopt;
    const std::string file = std::string(iconName) + ".png";
    std::optional<Candidate> best;
    auto consider = [&](int size, const std::string& path) {
        if (best && !nearer(size, best->size)) return;
        const auto bytes = readWholeFile(path);
        if (bytes && looksLikePng(*bytes)) best = Candidate{size, path};
    };
    for (const std::string& folder : *folders) {
        if (const auto folderSize = iconFolderSize(folder)) {
            for (std::string_view context : kContexts)
                consider(*folderSize, themeDir + "/" + folder + "/" + std::string(context) + "/" + file);
        } else if (std::find(std::begin(kContexts), std::end(kContexts), folder) != std::end(kContexts)) {
            const auto sizes = listDirectory(themeDir + "/" + folder);
            if (!sizes) continue;
            for (const std::string& sizeFolder : *sizes)
                if (const auto contextSize = iconFolderSize(sizeFolder))
                    consider(*contextSize, themeDir + "/" + folder + "/" + sizeFolder + "/" + file);
        }
    }
    if (!best) return std::nullopt;
    return best->path;
}

}  // namespace

std::string_view themeIconName(VolumeKind kind) {
    switch (kind) {
        case VolumeKind::Removable: return "drive-removable-media";
        case VolumeKind::Network: return "folder-remote";
        case VolumeKind::InternalDisk: break;
    }
    return "drive-harddisk";
}

std::vector<std::string> iconThemeRoots(const char* xdgDataHome, const char* home, const char* xdgDataDirs) {
    std::vector<std::string> roots;
    if (isSet(xdgDataHome))
        roots.push_back(std::string(xdgDataHome) + "/icons");
    else if (isSet(home))
        roots.push_back(std::string(home) + "/.local/share/icons");
    if (isSet(home)) roots.push_back(std::string(home) + "/.icons");
    std::string_view dirs = isSet(xdgDataDirs) ? xdgDataDirs : "/usr/local/share:/usr/share";
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        if (!dir.empty()) roots.push_back(std::string(dir) + "/icons");
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    return roots;
}

std::optional<int> iconFolderSize(std::string_view folder) {
    const auto x = folder.find('x');
    if (x == std::string_view::npos) return parseInteger<int>(folder);
    const auto width = parseInteger<int>(folder.substr(0, x));
    const auto height = parseInteger<int>(folder.substr(x + 1));
    if (!width || !height || *width != *height) return std::nullopt;
    return width;
}

std::optional<std::string> findThemeIcon(const std::vector<std::string>& roots, std::string_view iconName) {
    struct Theme {
        int rank;
        std::string name;
        std::size_t rootIndex;
        std::string dir;
    };
    std::vector<Theme> themes;
    for (std::size_t i = 0; i < roots.size(); ++i) {
        const auto names = listDirectory(roots[i]);
        if (!names) continue;
        for (const std::string& name : *names) themes.push_back({themeRank(name), name, i, roots[i] + "/" + name});
    }
    // By preference of theme; the same theme in a more particular root first.
    std::sort(themes.begin(), themes.end(), [](const Theme& a, const Theme& b) {
        return std::tie(a.rank, a.name, a.rootIndex) < std::tie(b.rank, b.name, b.rootIndex);
    });
    for (const Theme& theme : themes)
        if (auto path = bestInTheme(theme.dir, iconName)) return path;
    return std::nullopt;
}

bool looksLikePng(std::string_view bytes) { return bytes.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8); }

std::string_view builtInVolumeIcon(VolumeKind kind) {
    switch (kind) {
        case VolumeKind::Removable: return kBuiltInDriveRemovableMediaPng;
        case VolumeKind::Network: return kBuiltInFolderRemotePng;
        case VolumeKind::InternalDisk: break;
    }
    return kBuiltInDriveHarddiskPng;
}

std::string volumeIconPng(const std::vector<std::string>& roots, VolumeKind kind) {
    if (const auto path = findThemeIcon(roots, themeIconName(kind))) {
        if (auto bytes = readWholeFile(*path); bytes && looksLikePng(*bytes)) return std::move(*bytes);
    }
    return std::string(builtInVolumeIcon(kind));
}

}  // namespace vq::linux_platform
