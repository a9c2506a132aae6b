// The desktop widget window under a virtual X server: it starts, shows the
// page, keeps the figures' decimal point under a decimal-comma locale, and
// stops cleanly.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "e2e.h"

namespace vq::e2e {
namespace {

// An X server of its own on a free display number; nullopt without Xvfb.
struct VirtualDisplay {
    VirtualDisplay() {
        for (int number = 90 + ::getpid() % 200; number < 400 && !process; ++number) {
            if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) continue;
            name = ":" + std::to_string(number);
            process = g_subprocess_new(G_SUBPROCESS_FLAGS_STDERR_SILENCE, nullptr, "Xvfb", name.c_str(), "-screen",
                                       "0", "800x1000x24", "-nolisten", "tcp", nullptr);
            for (int i = 0; i < 100 && process; ++i) {
                if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        name.clear();
    }
    ~VirtualDisplay() {
        if (!process) return;
        g_subprocess_send_signal(process, SIGTERM);
        g_subprocess_wait(process, nullptr, nullptr);
        g_object_unref(process);
    }
    std::string name;
    GSubprocess* process = nullptr;
};

TEST(WidgetWindowTest, ShowsThePageWithDecimalPointsUnderAGermanLocale) {
    VirtualDisplay display;
    if (display.name.empty()) GTEST_SKIP() << "no Xvfb";
    TempDir locales;
    // A locale of our own, so no system-wide generation is needed.
    const std::string make = "localedef -i de_DE -f UTF-8 " + locales.path + "/de_DE.UTF-8";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "cannot generate de_DE.UTF-8 with localedef";

    const std::string snapshot = locales.path + "/widget.png";
    Launch launch{kDeskMachine, {"--snapshot", snapshot},
                  {"DISPLAY=" + display.name, "WAYLAND_DISPLAY=", "LOCPATH=" + locales.path, "LC_ALL=de_DE.UTF-8"}};
    launch.program = VELQUETTE_WIDGET_BINARY;
    Host widget(launch);
    EXPECT_EQ(widget.call("load"), "0.50, 0.25, 1.00");
    widget.call("memoryUsage");
    const json memory = widget.call("memoryUsage"), volumes = widget.call("diskUsage");
    ASSERT_TRUE(memory.is_array() && memory.size() == 12 && volumes.is_array() && !volumes.empty()) << memory;
    // "3.26gb", never "3,26gb" ("606,682" page counts are grouped, not decimal).
    const std::regex decimalComma("[0-9],[0-9]+(gb|mb|kb|GB|MB|KB)$");
    json sizes = memory;
    sizes.insert(sizes.end(), volumes[0].begin(), volumes[0].end());
    for (const json& text : sizes) {
        EXPECT_FALSE(text.is_string() && std::regex_search(text.get<std::string>(), decimalComma)) << sizes;
    }

    GdkPixbuf* image = nullptr;
    for (int i = 0; i < 200 && !image; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (std::filesystem::exists(snapshot)) image = gdk_pixbuf_new_from_file(snapshot.c_str(), nullptr);
    }
    ASSERT_NE(image, nullptr) << widget.stderrText();
    EXPECT_EQ(gdk_pixbuf_get_width(image), 320);
    // The page drew its card: the picture is not one flat colour.
    const guchar* pixels = gdk_pixbuf_read_pixels(image);
    const int stride = gdk_pixbuf_get_rowstride(image), channels = gdk_pixbuf_get_n_channels(image);
    std::set<std::uint32_t> colours;
    for (int y = 0; y < gdk_pixbuf_get_height(image); y += 4)
        for (int x = 0; x < gdk_pixbuf_get_width(image); x += 4) {
            const guchar* p = pixels + y * stride + x * channels;
            colours.insert(std::uint32_t(p[0]) << 16 | p[1] << 8 | p[2]);
        }
    EXPECT_GT(colours.size(), 20u);
    g_object_unref(image);
    std::filesystem::copy_file(snapshot, VQ_ARTIFACTS_DIR "/widget-window.png",
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(widget.stop(), 0) << widget.stderrText();
}

}  // namespace
}  // namespace vq::e2e
