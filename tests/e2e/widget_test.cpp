// The desktop widget window under a virtual X server: it starts, shows the
// page, keeps the figures' decimal point under a decimal-comma locale, stops
// cleanly, ends once its snapshot is written, and does what a user's clicks
// ask.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
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
    std::filesystem::create_directories(VQ_ARTIFACTS_DIR);
    std::filesystem::copy_file(snapshot, VQ_ARTIFACTS_DIR "/widget-window.png",
                               std::filesystem::copy_options::overwrite_existing);
    // It ends by itself once the snapshot is written.
    EXPECT_EQ(widget.stop(0), 0) << widget.stderrText();
}

// --snapshot writes the picture and exits 0 wherever the figures come from,
// and exits non-zero with the reason when they never come.
TEST(WidgetWindowTest, SnapshotEndsTheWidget) {
    VirtualDisplay display;
    if (display.name.empty()) GTEST_SKIP() << "no Xvfb";
    TempDir scratch;
    std::ofstream(scratch.path + "/index.html") << "<!doctype html><p>no figures here</p>";
    struct Case {
        std::string name;
        std::optional<std::string> machine;
        std::vector<std::string> environment;
        int status;
        std::string says;
    };
    const Case cases[] = {
        {"machine file", kDeskMachine, {}, 0, ""},
        {"hwmon tree", std::nullopt, {"VELQUETTE_SYS_ROOT=" VQ_FIXTURES_DIR "/linux/hwmon-amd-desktop"}, 0, ""},
        {"this machine", std::nullopt, {}, 0, ""},
        {"no figures", std::nullopt, {"VELQUETTE_FIGURES_LIMIT=2"}, 1, "showed no figures within 2 s"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string png = scratch.path + "/" + c.name + ".png";
        Launch launch{c.machine, {"--snapshot", png}, c.environment};
        launch.environment.insert(launch.environment.end(),
                                  {"DISPLAY=" + display.name, "WAYLAND_DISPLAY=", "XDG_DATA_HOME=" + scratch.path});
        if (c.status != 0) launch.args.insert(launch.args.end(), {"--web-root", scratch.path});
        launch.program = VELQUETTE_WIDGET_BINARY;
        const auto [status, out, err] = runHost(launch);
        EXPECT_EQ(status, c.status) << err;
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(std::filesystem::exists(png), c.status == 0);
    }
}

// A user's clicks, run in the window by --run-script: on an Intel Mac whose
// SMC counts no fans (so the module notice shows), and on this machine with
// a stand-in clipboard program that keeps what it is given.
TEST(WidgetWindowTest, DoesWhatTheClicksAsk) {
    VirtualDisplay display;
    if (display.name.empty()) GTEST_SKIP() << "no Xvfb";
    TempDir scratch;
    json machine = json::parse(readFile(kDeskMachine));
    machine["smc"]["keys"]["FNum"]["bytes"] = "00";
    std::ofstream(scratch.path + "/machine.json") << machine.dump();
    const std::string clipboard = scratch.path + "/copied";
    std::filesystem::create_directory(scratch.path + "/bin");
    std::ofstream(scratch.path + "/bin/xclip") << "#!/bin/sh\ncat > '" << clipboard << "'\n";
    std::filesystem::permissions(scratch.path + "/bin/xclip", std::filesystem::perms::owner_all);
    const auto clicks = [&](std::optional<std::string> on, const char* script) {
        Launch launch{on, {"--run-script", std::string(VQ_E2E_SCRIPTS_DIR "/") + script},
                      {"DISPLAY=" + display.name, "WAYLAND_DISPLAY=", "XDG_DATA_HOME=" + scratch.path + "/data",
                       "XDG_CACHE_HOME=" + scratch.path + "/cache", "PATH=" + scratch.path + "/bin:" + g_getenv("PATH")}};
        launch.program = VELQUETTE_WIDGET_BINARY;
        const auto [status, out, err] = runHost(launch);
        EXPECT_EQ(status, 0) << err;
        return json::parse(out.substr(out.find('\n') + 1), nullptr, false);
    };

    const json seen = clicks(scratch.path + "/machine.json", "clicks.js");
    const json expected = json::parse(R"({"notice": true, "noticeAfterClose": false, "unitSwitch": ["°F", "113°"],
        "diskSwitch": ["false", false], "copied": ["192.0.2.20", true], "windowShrinks": true, "windowGrows": true,
        "settingsOpen": true, "windowFitsSettings": true, "settings": [5, "light", "K"], "autostart": [true, true]})");
    for (const auto& [key, value] : expected.items()) EXPECT_EQ(seen.value(key, json()), value) << key;

    // Minimised, the window stops sampling until it shows again (without a window manager GTK takes a
    // window that another client unmapped as minimised); pause.js says when to unmap it and map it again.
    if (std::system("command -v xdotool > /dev/null") == 0) {
        std::jthread minimise([&] {
            for (const std::string step : {"windowunmap", "windowmap"}) {
                for (int i = 0; i < 600 && readFile(clipboard) != step; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const std::string command = "DISPLAY=" + display.name + " xdotool search --name '^Velquette$' " + step;
                EXPECT_EQ(std::system(command.c_str()), 0);
            }
        });
        EXPECT_EQ(clicks(std::nullopt, "pause.js"), json::parse(R"({"whileHidden": 0, "resumed": true})"));
    }

    const json copied = clicks(std::nullopt, "copy.js");
    if (copied.is_null()) GTEST_SKIP() << "this machine shows no IPv4 address to copy";
    EXPECT_EQ(readFile(clipboard), copied.get<std::string>());
}

}  // namespace
}  // namespace vq::e2e
