// velquette-widget: the widget in a desktop window of its own. The host runs
// on the toolkit's main loop (GTK runs on GLib) and the page is shown by
// WebKitGTK from the host's loopback URL, so the window and a browser show
// the same page.

#include <gdk/x11/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <cmath>
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
    "usage: velquette-widget [--port N] [--listen ADDR] [--web-root DIR] [--snapshot FILE] [--run-script FILE]\n"
    "  --port N           TCP port of the widget's host (default 0: any free port)\n"
    "  --listen ADDR      IP address to listen on (default 127.0.0.1)\n"
    "  --web-root DIR     directory of the widget page\n"
    "  --snapshot FILE    once the page has shown its first figures, save a PNG of the whole card and exit\n"
    "  --run-script FILE  once the page has shown its first figures, run FILE in it as the body of an async\n"
    "                     function, print what it returns as JSON on standard output and exit\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n";

constexpr int kWidth = 320;
// Until the page has told its height.
constexpr int kFirstHeight = 400;
// How long the page gets to show its first figures before --snapshot or
// --run-script give up, unless VELQUETTE_FIGURES_LIMIT gives other seconds.
constexpr guint kFiguresLimitSeconds = 30;
// After the first figures: long enough for the window to take the card's
// height and draw it.
constexpr guint kSettleMs = 600;

struct Widget {
    std::string url;
    std::string snapshot;
    std::string script;
    GtkWindow* window = nullptr;
    GtkWidget* grip = nullptr;
    WebKitWebView* view = nullptr;
    GApplication* application = nullptr;
    vq::host::HostSession* session = nullptr;
    guint figuresLimitSeconds = kFiguresLimitSeconds;
    guint figuresLimit = 0;
    bool figuresShown = false;
    int status = 0;
    // Standard output as it was given: the URL line, then a script's answer.
    int output = STDOUT_FILENO;
    // Whether the window can be seen: not minimised, not fully covered.
    bool minimised = false;
    bool obscured = false;
    bool toldShown = true;
};

void finish(Widget* widget, int status, const std::string& reason = {}) {
    if (!reason.empty()) std::fprintf(stderr, "velquette-widget: %s\n", reason.c_str());
    widget->status = status;
    if (widget->figuresLimit) g_source_remove(widget->figuresLimit);
    widget->figuresLimit = 0;
    g_application_quit(widget->application);
}

// The page samples only while someone can see it. A minimised window makes
// WebKit itself report the page hidden (document.visibilityState), and the
// page is told here as well, with what GTK does not pass on to WebKit: a
// window fully covered by others. X reports that (VisibilityNotify) only for
// a window that is not redirected: under a compositing manager, or for a
// window of a 32-bit (translucent) visual, which the X server redirects, it
// never comes.
void tellPageWhetherShown(Widget* widget) {
    const bool shown = !widget->minimised && !widget->obscured;
    if (shown == widget->toldShown || !widget->view) return;
    widget->toldShown = shown;
    const std::string script = std::string("document.dispatchEvent(new CustomEvent('velquette-window', "
                                           "{detail: {shown: ") + (shown ? "true" : "false") + "}}))";
    webkit_web_view_evaluate_javascript(widget->view, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
                                        nullptr);
}

void surfaceStateChanged(GdkToplevel* toplevel, GParamSpec*, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    // Minimised, or (GTK 4.12 on) suspended: a compositor says so of a window
    // on another workspace or wholly covered.
    unsigned hidden = GDK_TOPLEVEL_STATE_MINIMIZED;
#if GTK_CHECK_VERSION(4, 12, 0)
    hidden |= GDK_TOPLEVEL_STATE_SUSPENDED;
#endif
    widget->minimised = (gdk_toplevel_get_state(toplevel) & hidden) != 0;
    tellPageWhetherShown(widget);
}

gboolean x11Event(GdkX11Display*, XEvent* event, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    if (event->type != VisibilityNotify) return FALSE;
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(widget->window));
    if (!surface || event->xvisibility.window != gdk_x11_surface_get_xid(surface)) return FALSE;
    widget->obscured = event->xvisibility.state == VisibilityFullyObscured;
    tellPageWhetherShown(widget);
    return FALSE;
}

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
    // Covered or not: GDK's own event mask keeps its bits, this one is added.
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, event.xclient.window, &attributes))
        XSelectInput(display, event.xclient.window, attributes.your_event_mask | VisibilityChangeMask);
}

void realized(GtkWidget* window, gpointer data) {
    placeOnDesktop(window);
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
    g_signal_connect(surface, "notify::state", G_CALLBACK(&surfaceStateChanged), data);
    GdkDisplay* display = gtk_widget_get_display(window);
    if (GDK_IS_X11_DISPLAY(display)) g_signal_connect(display, "xevent", G_CALLBACK(&x11Event), data);
}

// The tallest the window may be: the work area of its monitor (the screen
// less panels and docks), where the windowing system tells it.
int tallestHeight(Widget* widget) {
    GdkDisplay* display = gtk_widget_get_display(GTK_WIDGET(widget->window));
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(widget->window));
    GdkMonitor* monitor = surface ? gdk_display_get_monitor_at_surface(display, surface) : nullptr;
    if (!monitor) return G_MAXINT;
    GdkRectangle area{};
    if (GDK_IS_X11_MONITOR(monitor))
        gdk_x11_monitor_get_workarea(monitor, &area);
    else
        gdk_monitor_get_geometry(monitor, &area);
    return area.height > 0 ? area.height : G_MAXINT;
}

// The page tells the height of its card whenever it changes; the window
// takes it, up to the work area, beyond which the page scrolls.
void pageHeightChanged(WebKitUserContentManager*, JSCValue* value, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    if (!jsc_value_is_number(value)) return;
    const double wanted = jsc_value_to_double(value);
    if (!(wanted > 0 && wanted < 100000)) return;
    int gripHeight = 0;
    gtk_widget_measure(widget->grip, GTK_ORIENTATION_VERTICAL, kWidth, &gripHeight, nullptr, nullptr, nullptr);
    const int height = std::min(static_cast<int>(std::ceil(wanted)) + gripHeight, tallestHeight(widget));
    gtk_widget_set_size_request(GTK_WIDGET(widget->view), kWidth, std::max(1, height - gripHeight));
    gtk_window_set_default_size(widget->window, kWidth, height);
}

void snapshotSaved(GObject* view, GAsyncResult* result, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    GError* error = nullptr;
    GdkTexture* texture = webkit_web_view_get_snapshot_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (!texture || !gdk_texture_save_to_png(texture, widget->snapshot.c_str()))
        finish(widget, 1, "cannot save the snapshot: " + std::string(error ? error->message : "no image"));
    else
        finish(widget, 0);
    if (texture) g_object_unref(texture);
    g_clear_error(&error);
}

void scriptDone(GObject* view, GAsyncResult* result, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (!value) {
        finish(widget, 1, "the script failed: " + std::string(error ? error->message : "no answer"));
    } else {
        char* text = jsc_value_is_undefined(value) ? g_strdup("null") : jsc_value_to_json(value, 0);
        ::dprintf(widget->output, "%s\n", text ? text : "null");
        g_free(text);
        g_object_unref(value);
        finish(widget, 0);
    }
    g_clear_error(&error);
}

// Once the first figures have had time to settle: the snapshot or the script.
gboolean figuresSettled(gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    if (!widget->snapshot.empty()) {
        webkit_web_view_get_snapshot(widget->view, WEBKIT_SNAPSHOT_REGION_FULL_DOCUMENT, WEBKIT_SNAPSHOT_OPTIONS_NONE,
                                     nullptr, &snapshotSaved, widget);
    } else if (!widget->script.empty()) {
        gchar* body = nullptr;
        GError* error = nullptr;
        if (!g_file_get_contents(widget->script.c_str(), &body, nullptr, &error)) {
            finish(widget, 1, "cannot read the script: " + std::string(error->message));
            g_clear_error(&error);
            return G_SOURCE_REMOVE;
        }
        webkit_web_view_call_async_javascript_function(widget->view, body, -1, nullptr, nullptr, nullptr, nullptr,
                                                       &scriptDone, widget);
        g_free(body);
    }
    return G_SOURCE_REMOVE;
}

// The page hands its refresh's batch to the window, which answers it here,
// in process, rather than the page POSTing it to the host's loopback
// server: each refresh then costs no request through WebKit's network
// process and no HTTP on either side. It is screened as a POST /batch from
// the page's address would be. A browser showing the page keeps HTTP.
gboolean pageBatch(WebKitUserContentManager*, JSCValue* message, WebKitScriptMessageReply* reply, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    char* body = jsc_value_is_string(message) ? jsc_value_to_string(message) : nullptr;
    const char* page = webkit_web_view_get_uri(widget->view);
    const vq::host::Reply answer = body ? widget->session->answerPageBatch(page ? page : "", body)
                                        : vq::host::errorReply(400, "a batch must be sent as JSON text");
    g_free(body);
    JSCValue* value = jsc_value_new_string(jsc_value_get_context(message), answer.body.c_str());
    webkit_script_message_reply_return_value(reply, value);
    g_object_unref(value);
    return TRUE;
}

// The page says so once, after its first refresh has drawn figures.
void pageShowedFigures(WebKitUserContentManager*, JSCValue*, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    if (widget->figuresShown) return;
    widget->figuresShown = true;
    if (widget->figuresLimit) g_source_remove(widget->figuresLimit);
    widget->figuresLimit = 0;
    if (!widget->snapshot.empty() || !widget->script.empty()) g_timeout_add(kSettleMs, &figuresSettled, widget);
}

gboolean noFiguresInTime(gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    widget->figuresLimit = 0;
    finish(widget, 1, "the page showed no figures within " + std::to_string(widget->figuresLimitSeconds) + " s");
    return G_SOURCE_REMOVE;
}

void activate(GtkApplication* application, gpointer data) {
    auto* widget = static_cast<Widget*>(data);
    GtkWidget* window = gtk_application_window_new(application);
    widget->window = GTK_WINDOW(window);
    gtk_window_set_title(GTK_WINDOW(window), "Velquette");
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window), kWidth, kFirstHeight);
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
    widget->grip = gtk_window_handle_new();
    GtkWidget* strip = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    gtk_widget_add_css_class(strip, "velquette-grip");
    gtk_widget_set_tooltip_text(strip, "Drag to move the widget");
    gtk_window_handle_set_child(GTK_WINDOW_HANDLE(widget->grip), strip);

    widget->view = WEBKIT_WEB_VIEW(webkit_web_view_new());
    // A card of text and a few bars gains nothing from the GPU, and where
    // there is none (software GL) compositing through it costs more than
    // drawing on the CPU, and stalls the first frames for seconds while the
    // shader cache is filled.
    webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(widget->view),
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    const GdkRGBA clear{0, 0, 0, 0};
    webkit_web_view_set_background_color(widget->view, &clear);
    gtk_widget_set_size_request(GTK_WIDGET(widget->view), kWidth, kFirstHeight);
    gtk_widget_set_vexpand(GTK_WIDGET(widget->view), TRUE);
    WebKitUserContentManager* messages = webkit_web_view_get_user_content_manager(widget->view);
    webkit_user_content_manager_register_script_message_handler(messages, "velquetteHeight", nullptr);
    webkit_user_content_manager_register_script_message_handler(messages, "velquetteFigures", nullptr);
    g_signal_connect(messages, "script-message-received::velquetteHeight", G_CALLBACK(&pageHeightChanged), widget);
    g_signal_connect(messages, "script-message-received::velquetteFigures", G_CALLBACK(&pageShowedFigures), widget);
    webkit_user_content_manager_register_script_message_handler_with_reply(messages, "velquetteBatch", nullptr);
    g_signal_connect(messages, "script-message-with-reply-received::velquetteBatch", G_CALLBACK(&pageBatch), widget);

    GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_append(GTK_BOX(column), widget->grip);
    gtk_box_append(GTK_BOX(column), GTK_WIDGET(widget->view));
    gtk_window_set_child(GTK_WINDOW(window), column);

    g_signal_connect(window, "realize", G_CALLBACK(&realized), widget);
    if (!widget->snapshot.empty() || !widget->script.empty())
        widget->figuresLimit = g_timeout_add_seconds(widget->figuresLimitSeconds, &noFiguresInTime, widget);
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
    std::string snapshot, script;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--snapshot" && i + 1 < argc) {
            snapshot = argv[++i];
        } else if (arg.starts_with("--snapshot=")) {
            snapshot = arg.substr(11);
        } else if (arg == "--run-script" && i + 1 < argc) {
            script = argv[++i];
        } else if (arg.starts_with("--run-script=")) {
            script = arg.substr(13);
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
    if (options.showVersion) {
        std::puts("velquette-widget " VELQUETTE_VERSION);
        return 0;
    }
    std::signal(SIGPIPE, SIG_IGN);
    // Standard output carries the URL line (and the answer of --run-script)
    // only, as with the headless host.
    vq::linux_platform::UniqueFd urlOutput(::dup(STDOUT_FILENO));
    if (urlOutput) ::dup2(STDERR_FILENO, STDOUT_FILENO);

    // GTK draws the window's few widgets and WebKit's picture with cairo
    // unless the user chose a renderer: on a desktop without graphics
    // acceleration the GL renderer redraws the whole transparent window
    // through software GL at each of the page's updates.
    g_setenv("GSK_RENDERER", "cairo", FALSE);
    if (!gtk_init_check()) {
        std::fprintf(stderr, "velquette-widget: no display to open a window on\n");
        return 1;
    }
    // GTK has set the user's locale; the plug-in's figures keep their decimal point.
    vq::host::keepNumericLocaleC();

    Widget widget;
    widget.snapshot = snapshot;
    widget.script = script;
    if (urlOutput) widget.output = urlOutput.get();
    if (const char* limit = g_getenv("VELQUETTE_FIGURES_LIMIT")) {
        const guint64 seconds = g_ascii_strtoull(limit, nullptr, 10);
        if (seconds > 0 && seconds < 3600) widget.figuresLimitSeconds = static_cast<guint>(seconds);
    }
    int status = 0;
    {
        std::optional<vq::host::HostSession> session;
        try {
            session.emplace(options.server, options.prometheus);
        } catch (const vq::host::SessionError& e) {
            std::fprintf(stderr, "velquette-widget: %s\n", e.what());
            return 1;
        }
        widget.url = session->url();
        widget.session = &*session;
        ::dprintf(urlOutput ? urlOutput.get() : STDOUT_FILENO, "%s\n", widget.url.c_str());

        GtkApplication* application = gtk_application_new("org.brackwell.Velquette", G_APPLICATION_NON_UNIQUE);
        widget.application = G_APPLICATION(application);
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
    return status != 0 ? status : widget.status;
}
