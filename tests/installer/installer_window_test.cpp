#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>

#include "installer/gtk/installer_window.h"
#include "installer/linux/archive_unpacker.h"
#include "installer/linux/gio_desktop.h"
#include "installer/linux/soup_downloader.h"
#include "platform/linux/common/posix_file_system.h"

namespace vq::installer {
namespace {

namespace fs = std::filesystem;

struct NoBus : NotificationCenter {
    Subscription observe(const std::string&, std::function<void()>) override { return {}; }
    bool post(const std::string&) override { return false; }
};

void spin(std::chrono::milliseconds duration) {
    for (auto end = std::chrono::steady_clock::now() + duration; std::chrono::steady_clock::now() < end;)
        g_main_context_iteration(nullptr, FALSE);
}

GtkButton* findButton(GtkWidget* widget, const std::string& label) {
    if (GTK_IS_BUTTON(widget) && gtk_widget_is_drawable(widget) && label == gtk_button_get_label(GTK_BUTTON(widget)))
        return GTK_BUTTON(widget);
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
        if (GtkButton* found = findButton(child, label)) return found;
    return nullptr;
}

// Renders the window as GTK draws it, saves it, and answers the share of
// pixels that differ from the most common colour.
double screenshot(GtkWindow* window, const std::string& path) {
    const int width = gtk_widget_get_width(GTK_WIDGET(window));
    const int height = gtk_widget_get_height(GTK_WIDGET(window));
    GdkPaintable* paintable = gtk_widget_paintable_new(GTK_WIDGET(window));
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, snapshot, width, height);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    const graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, float(width), float(height));
    GdkTexture* texture = gsk_renderer_render_texture(gtk_native_get_renderer(GTK_NATIVE(window)), node, &bounds);
    gdk_texture_save_to_png(texture, path.c_str());
    std::vector<guint32> pixels(std::size_t(width) * height);
    gdk_texture_download(texture, reinterpret_cast<guchar*>(pixels.data()), std::size_t(width) * 4);
    gsk_render_node_unref(node);
    g_object_unref(texture);
    g_object_unref(paintable);
    std::map<guint32, std::size_t> counts;
    for (guint32 p : pixels) ++counts[p];
    std::size_t most = 0;
    for (const auto& [colour, n] : counts) most = std::max(most, n);
    return pixels.empty() ? 0 : 1.0 - double(most) / double(pixels.size());
}

bool shows(const InstallerWindow& window, const std::string& text) {
    const auto texts = window.visibleTexts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The window under a virtual X server: the first view, then a click on its
// install button against a server folder without the archive, which ends in
// the failed view with the download error.
TEST(InstallerWindow, ShowsTheFirstViewAndThenTheFailureMessage) {
    if (!gtk_init_check()) GTEST_SKIP() << "no display: run under xvfb-run";
    const fs::path scratch = fs::path(::mkdtemp(std::string("/tmp/vq-window-XXXXXX").data()));
    fs::create_directories(VQ_ARTIFACTS_DIR);
    PosixFileSystem files((scratch / "home").string());
    NoBus notifications;
    GioDesktop desktop;
    SoupDownloader downloader;
    ArchiveUnpacker unpacker;
    {
        InstallerWindow window(nullptr);
        BrackwellFileDownloader controller(window, {downloader, unpacker, desktop, files, notifications},
                                           "file://" + scratch.string(), "");
        window.connect(controller);
        controller.awakeFromNib();
        spin(std::chrono::milliseconds(500));
        EXPECT_TRUE(shows(window, "Download and Install"));
        EXPECT_GT(screenshot(window.window(), VQ_ARTIFACTS_DIR "/installer-main.png"), 0.01);

        GtkButton* install = findButton(GTK_WIDGET(window.window()), "Download and Install");
        ASSERT_NE(install, nullptr);
        g_signal_emit_by_name(install, "clicked");
        for (int i = 0; i < 200 && !shows(window, "Retry"); ++i) spin(std::chrono::milliseconds(20));
        spin(std::chrono::milliseconds(300));
        const std::string message = "Download Error: Error opening file " + scratch.string() +
                                    "/software/Intel/VelquorIntelSensorsV3.zip: No such file or directory";
        EXPECT_TRUE(shows(window, message)) << testing::PrintToString(window.visibleTexts());
        EXPECT_FALSE(window.spinning(Indicator::main));
        EXPECT_GT(screenshot(window.window(), VQ_ARTIFACTS_DIR "/installer-failed.png"), 0.01);
    }
    fs::remove_all(scratch);
}

}  // namespace
}  // namespace vq::installer
