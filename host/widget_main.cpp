// velquette-widget: the widget in a desktop window of its own. The host runs
// on the toolkit's main loop (GTK runs on GLib) and the page is shown by
// WebKitGTK from the host's loopback URL, so the window and a browser show
// the same page.

#include <gdk/x11/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_session.h"
#include "host/options.h"
#include "platform/linux/common/unique_fd.h"
#include "platform/linux/desktop/installed_data.h"

#ifndef VELQUETTE_WEB_DIR
#error "VELQUETTE_WEB_DIR must name the directory of the widget page"
#endif

namespace {

constexpr std::string_view kUsage =
    "usage: velquette-widget [--port N] [--listen ADDR] [--web-root DIR] [--snapshot FILE]\n"
    "  --port N         TCP port of the widget's host (default 0: any free port)\n"
    "  --listen ADDR    IP address to listen on (default 127.0.0.1)\n"
    "  --web-root DIR   directory of the widget page\n"
    "  --snapshot FILE  once the page has shown its first figures, save a PNG of it\n";

constexpr int kWidth = 320;
constexpr int kHeight = 860;
// Long enough for the page's first refresh to have drawn.
constexpr guint kSnapshotDelayMs = 2500;

struct Widget {
    std::string url;
    std::string snapshot;
    WebKitWebView* view = nullptr;
};

// Where the windowing system lets us: every workspace, below other windows,
// outside the task bar. X11 window managers take the EWMH hints; Wayland
// compositors decide for themselves.
void placeOnDesktop(GtkWidget* window) {
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    if (!GDK_IS_X11_SURFACE(surface)) return;
    gdk_x11_surface_move_to_desktop(surface, 0xFFFFFFFF);
    gdk_x11_surface_set_skip_taskbar_hint(surface, TRUE);
    gdk_x11_surface_set_skip_pager_hint(surface, TRUE);
    Display* display = gdk_x11_display_get_xdisplay(gtk_widget_get_display(window));
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = gdk_x11_surface_get_xid(surface);
    event.xclient.message_type = XInternAtom(display, "_NET_WM_STATE", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 1;  // add
    event.xclient.data.l[1] = static_cast<long>(XInternAtom(display, "_NET_WM_STATE_BELOW", False));
    event.xclient.data.l[3] = 1;  // a normal application
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

void saveSnapshot(GObject* view, GAsyncResult* result, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    GError* error = nullptr;
    GdkTexture* texture = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (!texture || !gdk_texture_save_to_png(texture, widget->snapshot.c_str()))
        std::fprintf(stderr, "velquette-widget: cannot save the snapshot: %s\n", error ? error->message : "no image");
    if (texture) g_object_unref(texture);
    g_clear_error(&error);
}

gboolean takeSnapshot(gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    webkit_web_view_get_snapshot(widget->view, WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE, nullptr,
                                 &saveSnapshot, widget);
    return G_SOURCE_REMOVE;
}

void loadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    if (event == WEBKIT_LOAD_FINISHED && !widget->snapshot.empty())
        g_timeout_add(kSnapshotDelayMs, &takeSnapshot, widget);
}

void activate(GtkApplication* application, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    GtkWidget* window = gtk_application_window_new(application);
    gtk_window_set_title(GTK_WINDOW(window), "Velquette");
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window), kWidth, kHeight);
    gtk_widget_add_css_class(window, "velquette-widget");

    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css,
                                    "window.velquette-widget { background: transparent; }"
                                    ".velquette-grip { min-height: 8px; }",
                                    -1);
    gtk_style_context_add_provider_for_display(gtk_widget_get_display(window), GTK_STYLE_PROVIDER(css),
                                               GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);

    // The page takes the clicks, so the window moves by a thin strip above it.
    GtkWidget* grip = gtk_window_handle_new();
    GtkWidget* strip = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_add_css_class(strip, "velquette-grip");
    gtk_widget_set_tooltip_text(strip, "Drag to move the widget");
    gtk_window_handle_set_child(GTK_WINDOW_HANDLE(grip), strip);

    widget->view = WEBKIT_WEB_VIEW(webkit_web_view_new());
    const GdkRGBA clear{0, 0, 0, 0};
    webkit_web_view_set_background_color(widget->view, &clear);
    gtk_widget_set_vexpand(GTK_WIDGET(widget->view), TRUE);
    g_signal_connect(widget->view, "load-changed", G_CALLBACK(&loadChanged), widget);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_append(GTK_BOX(column), grip);
    gtk_box_append(GTK_BOX(column), GTK_WIDGET(widget->view));
    gtk_window_set_child(GTK_WINDOW(window), column);

    g_signal_connect(window, "realize", G_CALLBACK(+[](GtkWidget* w, gpointer) { placeOnDesktop(w); }), nullptr);
    // The page leaves its background to the window, which is transparent.
    webkit_web_view_load_uri(widget->view, (widget->url + "?frame=window").c_str());
    gtk_window_present(GTK_WINDOW(window));
}

gboolean quitApplication(gpointer application) {
    g_application_quit(G_APPLICATION(application));
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    // The port comes first so that one given on the command line wins.
    std::vector<std::string_view> args{"--port=0"};
    std::string snapshot;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--snapshot" && i + 1 < argc) {
            snapshot = argv[++i];
        } else if (arg.starts_with("--snapshot=")) {
            snapshot = arg.substr(11);
        } else {
            args.push_back(arg);
        }
    }
    const std::string webRoot = vq::linux_platform::installedDataPath("web", VELQUETTE_WEB_DIR);
    auto parsed = vq::host::parseHostOptions(args, webRoot);
    if (auto* reason = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "velquette-widget: %s\n%.*s", reason->c_str(), int(kUsage.size()), kUsage.data());
        return 2;
    }
    const auto& options = std::get<vq::host::HostOptions>(parsed);
    if (options.showHelp) {
        std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Standard output carries the URL line only, as with the headless host.
    vq::linux_platform::UniqueFd urlOutput(::dup(STDOUT_FILENO));
    if (urlOutput) ::dup2(STDERR_FILENO, STDOUT_FILENO);

    if (!gtk_init_check()) {
        std::fprintf(stderr, "velquette-widget: no display to open a window on\n");
        return 1;
    }
    // GTK has set the user's locale; the plug-in's figures keep their decimal point.
    vq::host::keepNumericLocaleC();

    Widget widget;
    widget.snapshot = snapshot;
    int status = 0;
    {
        std::optional<vq::host::HostSession> session;
        try {
            session.emplace(options.server);
        } catch (const vq::host::SessionError& e) {
            std::fprintf(stderr, "velquette-widget: %s\n", e.what());
            return 1;
        }
        widget.url = session->url();
        ::dprintf(urlOutput ? urlOutput.get() : STDOUT_FILENO, "%s\n", widget.url.c_str());

        GtkApplication* application = gtk_application_new("org.brackwell.Velquette", G_APPLICATION_NON_UNIQUE);
        g_signal_connect(application, "activate", G_CALLBACK(&activate), &widget);
        const guint onInterrupt = g_unix_signal_add(SIGINT, &quitApplication, application);
        const guint onTerminate = g_unix_signal_add(SIGTERM, &quitApplication, application);
        char* noArguments[] = {argv[0], nullptr};
        status = g_application_run(G_APPLICATION(application), 1, noArguments);
        g_source_remove(onInterrupt);
        g_source_remove(onTerminate);
        g_object_unref(application);
    }
    vq::host::drainPendingSources(g_main_context_default());
    return status;
}
