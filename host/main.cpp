// velquette: the widget host. Runs one GLib main loop on one thread; the
// plug-in object, its notifiers and the HTTP server are all sources on it.

#include <glib-unix.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "bridge/Velquette.h"
#include "host/glib_handles.h"
#include "host/host_window.h"
#include "host/http_server.h"
#include "host/options.h"
#include "platform/linux/unique_fd.h"
#include "platform/platform.h"

#ifndef VELQUETTE_WEB_DIR
#error "VELQUETTE_WEB_DIR must name the directory of the widget page"
#endif

namespace {

gboolean quitLoop(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_CONTINUE;
}

vq::host::SourcePtr quitOnSignal(int signal, GMainContext* context, GMainLoop* loop) {
    vq::host::SourcePtr source(g_unix_signal_source_new(signal));
    g_source_set_callback(source.get(), &quitLoop, loop, nullptr);
    g_source_attach(source.get(), context);
    return source;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    auto parsed = vq::host::parseHostOptions(args, VELQUETTE_WEB_DIR);
    if (auto* reason = std::get_if<std::string>(&parsed)) {
        std::fprintf(stderr, "velquette: %s\n%.*s", reason->c_str(), int(vq::host::kUsage.size()),
                     vq::host::kUsage.data());
        return 2;
    }
    const auto& options = std::get<vq::host::HostOptions>(parsed);
    if (options.showHelp) {
        std::fwrite(vq::host::kUsage.data(), 1, vq::host::kUsage.size(), stdout);
        return 0;
    }
    // A reader that went away must not kill the host mid-answer.
    std::signal(SIGPIPE, SIG_IGN);
    // The plug-in's SMC layer writes its diagnostics to standard output
    // ("Error: no SMC found" on a machine without an SMC, as soon as the
    // temperature and fan miners are made). The URL is the line callers read
    // there, so standard output is kept for it alone and everything else
    // written to it goes to standard error.
    vq::linux_platform::UniqueFd urlOutput(::dup(STDOUT_FILENO));
    if (urlOutput) ::dup2(STDERR_FILENO, STDOUT_FILENO);

    // Everything below attaches to this context; declaration order is the
    // reverse of teardown: the server stops before the plug-in object goes,
    // and both go before the loop and the context.
    vq::host::ThreadDefaultContext context;
    vq::host::MainLoopPtr loop(g_main_loop_new(context.get(), FALSE));
    vq::host::HostWindow window;
    std::unique_ptr<vq::Velquette> velquette;
    std::optional<vq::host::HttpServer> server;

    std::optional<vq::Platform> platform;
    try {
        platform = vq::makePlatformFromEnvironment();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velquette: %s\n", e.what());
        return 1;
    }

    try {
        server.emplace(options.server, window);
    } catch (const vq::host::ListenError& e) {
        std::fprintf(stderr, "velquette: %s\n", e.what());
        return 1;
    }

    try {
        velquette = std::make_unique<vq::Velquette>(std::move(*platform));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velquette: cannot create the plug-in object: %s\n", e.what());
        return 1;
    }
    velquette->windowScriptObjectAvailable(window);

    auto onInterrupt = quitOnSignal(SIGINT, context.get(), loop.get());
    auto onTerminate = quitOnSignal(SIGTERM, context.get(), loop.get());

    ::dprintf(urlOutput ? urlOutput.get() : STDOUT_FILENO, "%s\n", server->url().c_str());

    g_main_loop_run(loop.get());

    server.reset();
    window.clear();
    velquette.reset();
    // GLib gives back the data of a cancelled D-Bus signal subscription from
    // an idle callback on the subscriber's context, so run what is pending
    // before the context goes; the bound guards against a source that stays
    // ready for ever.
    for (int i = 0; i < 100 && g_main_context_iteration(context.get(), FALSE); ++i) {
    }
    return 0;
}
