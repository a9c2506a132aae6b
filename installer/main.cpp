// velquette-module-installer: downloads the Intel sensor module, unpacks it
// into the sensor module folder and tells running widgets. With --install it
// does so without a window and reports on standard output.

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "host/glib_handles.h"
#include "installer/BrackwellFileDownloader.h"
#include "installer/console_view.h"
#include "installer/gtk/installer_window.h"
#include "installer/linux/archive_unpacker.h"
#include "installer/linux/gio_desktop.h"
#include "installer/linux/soup_downloader.h"
#include "platform/platform.h"
#include "platform/linux/desktop/installed_data.h"

namespace {

using namespace vq::installer;

std::string manualPath() {
    return vq::linux_platform::installedDataPath("manual.html", VELQUETTE_INSTALLER_MANUAL);
}

struct Options {
    bool install = false;
    bool showHelp = false;
    bool showVersion = false;
    std::string baseURL;
};

constexpr const char* kUsage =
    "usage: velquette-module-installer [--install] [--base-url URL]\n"
    "  --install        install without a window; prints the outcome, exits 0 on success\n"
    "  --base-url URL   the web server of the module archive (also VELQUETTE_MODULE_BASE_URL)\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n";

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;

    const char* fromEnvironment = std::getenv("VELQUETTE_MODULE_BASE_URL");
    options.baseURL = fromEnvironment && *fromEnvironment ? fromEnvironment : kDefaultBaseURL;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--install") {
            options.install = true;
        } else if (arg == "--help" || arg == "-h") {
            options.showHelp = true;
        } else if (arg == "--version") {
            options.showVersion = true;
        } else if (arg == "--base-url" && i + 1 < argc) {
            options.baseURL = argv[++i];
        } else if (arg.starts_with("--base-url=")) {
            options.baseURL = arg.substr(std::strlen("--base-url="));
        } else {
            return std::nullopt;
        }
    }
    return options;
}

int installWithoutWindow(const Options& options, InstallerServices services) {
    vq::host::MainLoopPtr loop(g_main_loop_new(nullptr, FALSE));
    ConsoleView view([&loop] { g_main_loop_quit(loop.get()); });
    BrackwellFileDownloader controller(view, services, options.baseURL, manualPath());
    controller.awakeFromNib();
    if (view.content == InstallerPane::replace) {
        controller.replaceAndInstall();
    } else {
        controller.downloadAndInstall();
    }
    g_main_loop_run(loop.get());
    if (view.content != InstallerPane::success) {
        std::printf("failed: %s\n", view.failedMessage.c_str());
        return 1;
    }
    std::printf("installed: %s\n", controller.installedModulePath().c_str());
    if (view.restartNeeded) std::printf("Running widgets could not be told; restart them to use the module.\n");
    return 0;
}

struct WindowApplication {
    const Options* options;
    InstallerServices* services;
    std::unique_ptr<InstallerWindow> window;
    std::unique_ptr<BrackwellFileDownloader> controller;
};

void onActivate(GtkApplication* application, gpointer data) {
    auto* app = static_cast<WindowApplication*>(data);
    if (app->window) return app->window->activate();
    app->window = std::make_unique<InstallerWindow>(application);
    app->controller = std::make_unique<BrackwellFileDownloader>(*app->window, *app->services,
                                                                app->options->baseURL, manualPath());
    app->window->connect(*app->controller);
    app->controller->awakeFromNib();
    // Closing the window ends the application, as its only window.
    g_signal_connect(app->window->window(), "close-request", G_CALLBACK(+[](GtkWindow*, gpointer quitting) {
                         g_application_quit(G_APPLICATION(quitting));
                         return gboolean(FALSE);
                     }),
                     application);
}

int installWithWindow(const Options& options, InstallerServices services) {
    vq::host::GObjectPtr<GtkApplication> application(
        gtk_application_new("org.brackwell.VelquetteModuleInstaller", G_APPLICATION_NON_UNIQUE));
    WindowApplication app{&options, &services, nullptr, nullptr};
    g_signal_connect(application.get(), "activate", G_CALLBACK(onActivate), &app);
    char* arguments[] = {const_cast<char*>("velquette-module-installer"), nullptr};
    const int status = g_application_run(G_APPLICATION(application.get()), 1, arguments);
    app.controller.reset();
    app.window.reset();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options->showHelp) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options->showVersion) {
        std::puts("velquette-module-installer " VELQUETTE_VERSION);
        return 0;
    }
    std::optional<vq::Platform> platform;
    try {
        platform = vq::makePlatformFromEnvironment();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velquette-module-installer: %s\n", e.what());
        return 1;
    }
    SoupDownloader downloader;
    ArchiveUnpacker unpacker;
    GioDesktop desktop;
    InstallerServices services{downloader, unpacker, desktop, *platform->files, *platform->notifications};
    return options->install ? installWithoutWindow(*options, services) : installWithWindow(*options, services);
}
