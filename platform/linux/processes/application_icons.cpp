#include "platform/linux/processes/application_icons.h"

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <array>
#include <string_view>

namespace vq::linux_platform {
namespace {

constexpr std::array<std::string_view, 2> kThemes{"hicolor", "Adwaita"};
constexpr std::array<std::string_view, 12> kSizes{"48x48",   "scalable", "64x64", "72x72", "96x96", "128x128",
                                                  "256x256", "512x512",  "32x32", "24x24", "22x22", "16x16"};
constexpr std::array<std::string_view, 3> kExtensions{".png", ".svg", ".xpm"};

bool isFile(const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR); }

std::optional<std::string> renderFile(const std::string& path) {
    g_autoptr(GdkPixbuf) loaded =
        gdk_pixbuf_new_from_file_at_scale(path.c_str(), kApplicationIconSize, kApplicationIconSize, TRUE, nullptr);
    if (!loaded) return std::nullopt;
    const int width = gdk_pixbuf_get_width(loaded), height = gdk_pixbuf_get_height(loaded);
    // A picture that is not square keeps its shape, centred on a clear square.
    g_autoptr(GdkPixbuf) square = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, kApplicationIconSize, kApplicationIconSize);
    if (!square) return std::nullopt;
    gdk_pixbuf_fill(square, 0);
    gdk_pixbuf_composite(loaded, square, (kApplicationIconSize - width) / 2, (kApplicationIconSize - height) / 2, width,
                         height, (kApplicationIconSize - width) / 2, (kApplicationIconSize - height) / 2, 1.0, 1.0,
                         GDK_INTERP_BILINEAR, 255);
    gchar* buffer = nullptr;
    gsize size = 0;
    if (!gdk_pixbuf_save_to_buffer(square, &buffer, &size, "png", nullptr, nullptr)) return std::nullopt;
    std::string png(buffer, size);
    g_free(buffer);
    return png;
}

}  // namespace

std::optional<std::string> findThemedIcon(const std::string& name, const std::vector<std::string>& dataDirectories) {
    if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
    for (std::string_view theme : kThemes)
        for (std::string_view size : kSizes)
            for (const auto& data : dataDirectories)
                for (std::string_view extension : kExtensions) {
                    std::string path = data + "/icons/" + std::string(theme) + "/" + std::string(size) + "/apps/" + name +
                                       std::string(extension);
                    if (isFile(path)) return path;
                }
    for (const auto& data : dataDirectories)
        for (std::string_view extension : kExtensions) {
            std::string path = data + "/pixmaps/" + name + std::string(extension);
            if (isFile(path)) return path;
        }
    return std::nullopt;
}

std::optional<std::string> renderApplicationIcon(GIcon* icon, const std::vector<std::string>& dataDirectories) {
    if (!icon) return std::nullopt;
    if (G_IS_FILE_ICON(icon)) {
        g_autofree char* path = g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon)));
        return path ? renderFile(path) : std::nullopt;
    }
    if (!G_IS_THEMED_ICON(icon)) return std::nullopt;
    for (const char* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon)); names && *names; ++names) {
        std::string name(*names);
        // Old entries name the file: "Icon=foo.png".
        for (std::string_view extension : kExtensions)
            if (name.ends_with(extension)) name.resize(name.size() - extension.size());
        if (auto path = findThemedIcon(name, dataDirectories))
            if (auto png = renderFile(*path)) return png;
    }
    return std::nullopt;
}

}  // namespace vq::linux_platform
