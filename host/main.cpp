// velquette: the widget host. Runs one GLib main loop on one thread; the
// plug-in object, its notifiers and the HTTP server are all sources on it.

#include <glib-unix.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

#include "host/glib_handles.h"
#include "host/host_session.h"
#include "host/metrics_listener.h"
#include "host/options.h"
#include "platform/linux/common/unique_fd.h"
#include "platform/linux/desktop/installed_data.h"

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
    const std::string webRoot = vq::linux_platform::installedDataPath("web", VELQUETTE_WEB_DIR);
    auto parsed = vq::host::parseHostOptions(args, webRoot);
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
    if (options.showVersion) {
        std::puts("velquette " VELQUETTE_VERSION);
        return 0;
    }
    std::optional<vq::host::MetricsListenConfig> metricsConfig;
    if (options.metricsListen) {
        auto address = vq::host::parseListenAddress(*options.metricsListen);
        if (!address) {
            std::fprintf(stderr, "velquette: --metrics-listen needs ADDR:PORT, not \"%s\"\n", options.metricsListen->c_str());
            return 2;
        }
        metricsConfig.emplace(vq::host::MetricsListenConfig{address->first, address->second, {}, options.metricsInsecure});
        if (options.webConfig) {
            auto web = vq::host::readWebConfig(*options.webConfig);
            if (auto* reason = std::get_if<std::string>(&web)) {
                std::fprintf(stderr, "velquette: %s\n", reason->c_str());
                return 2;
            }
            metricsConfig->web = std::get<vq::host::WebConfig>(web);
        }
        if (auto reason = vq::host::refuseUnsafeListener(*metricsConfig)) {
            std::fprintf(stderr, "velquette: %s\n", reason->c_str());
            return 2;
        }
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

    // Everything below attaches to this context; the session goes before
    // the loop and the context.
    vq::host::ThreadDefaultContext context;
    vq::host::MainLoopPtr loop(g_main_loop_new(context.get(), FALSE));
    // Before the plug-in object, whose start-up diagnostics would follow a
    // refusal here.
    std::optional<vq::host::MetricsListener> metricsListener;
    if (metricsConfig) {
        try {
            metricsListener.emplace(std::move(*metricsConfig));
        } catch (const vq::host::ListenError& e) {
            std::fprintf(stderr, "velquette: %s\n", e.what());
            return 1;
        }
    }

    std::optional<vq::host::HostSession> session;
    try {
        session.emplace(options.server, options.prometheus);
    } catch (const vq::host::SessionError& e) {
        std::fprintf(stderr, "velquette: %s\n", e.what());
        return 1;
    }

    if (metricsListener) metricsListener->setAlerts(session->alerts());
    auto onInterrupt = quitOnSignal(SIGINT, context.get(), loop.get());
    auto onTerminate = quitOnSignal(SIGTERM, context.get(), loop.get());

    ::dprintf(urlOutput ? urlOutput.get() : STDOUT_FILENO, "%s\n", session->url().c_str());

    g_main_loop_run(loop.get());

    metricsListener.reset();
    session.reset();
    vq::host::drainPendingSources(context.get());
    return 0;
}
