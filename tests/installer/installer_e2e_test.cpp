#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "e2e.h"

namespace vq::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The module's web server on loopback, on a thread of its own: the archive's
// path answers with a redirect to the file, which the installer must follow.
class ArchiveServer {
public:
    ArchiveServer() : thread_([this] { run(); }) { url = ready_.get_future().get(); }
    ~ArchiveServer() {
        g_main_context_invoke(context_, [](gpointer loop) { g_main_loop_quit(static_cast<GMainLoop*>(loop)); return G_SOURCE_REMOVE; }, loop_);
        thread_.join();
    }
    std::string url;

private:
    static void serve(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer) {
        if (std::string(path) == "/software/Intel/VelquorIntelSensorsV3.zip")
            return soup_server_message_set_redirect(message, 302, "/files/VelquorIntelSensorsV3.zip");
        if (std::string(path) != "/files/VelquorIntelSensorsV3.zip")
            return soup_server_message_set_status(message, 404, nullptr);
        const std::string zip = readFile(VELQUETTE_SAMPLE_MODULE_ARCHIVE);
        soup_server_message_set_status(message, 200, nullptr);
        soup_server_message_set_response(message, "application/zip", SOUP_MEMORY_COPY, zip.data(), zip.size());
    }
    void run() {
        context_ = g_main_context_new();
        g_main_context_push_thread_default(context_);
        loop_ = g_main_loop_new(context_, FALSE);
        SoupServer* server = soup_server_new(nullptr, nullptr);
        soup_server_add_handler(server, nullptr, &serve, nullptr, nullptr);
        soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
        GSList* uris = soup_server_get_uris(server);
        ready_.set_value("http://127.0.0.1:" + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data))));
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
        g_main_loop_run(loop_);
        g_object_unref(server);
        g_main_loop_unref(loop_);
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    std::promise<std::string> ready_;
    GMainContext* context_ = nullptr;
    GMainLoop* loop_ = nullptr;
    std::thread thread_;
};

// The installer on the host's simulated machine: the module lands where the
// host looks, and its notification reaches the host over the session bus.
TEST(InstallerEndToEnd, InstallsFromTheServerAndTheHostsFansSwitchToTheModule) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "no session bus: run under dbus-run-session";
    ArchiveServer server;
    Host host({VQ_FIXTURES_DIR "/machines/smc-macbookpro.json"});
    EXPECT_EQ(host.call("fans"), json::parse(R"([["Left Fan","1165rpm"],["Right Fan","1250rpm"]])"));
    EXPECT_EQ(host.call("wasIntelModuleInstalled"), false);
    EXPECT_EQ(host.call("needsIntelBundle"), true);

    TempDir scratch;
    const fs::path home = fs::path(host.volumeIcons()).parent_path().parent_path().parent_path().parent_path();
    std::ofstream(scratch.path + "/machine.json") << json{{"home", home.string()}};
    gchar** environment = g_get_environ();
    environment = g_environ_setenv(environment, "VELQUETTE_MACHINE", (scratch.path + "/machine.json").c_str(), TRUE);
    environment = g_environ_setenv(environment, "TMPDIR", scratch.path.c_str(), TRUE);
    const char* argv[] = {VELQUETTE_INSTALLER_BINARY, "--install", "--base-url", server.url.c_str(), nullptr};
    g_autofree char* out = nullptr;
    g_autofree char* err = nullptr;
    int status = -1;
    ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<char**>(argv), environment, G_SPAWN_DEFAULT, nullptr, nullptr, &out,
                             &err, &status, nullptr));
    g_strfreev(environment);
    EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << out << err;
    EXPECT_EQ(std::string(out),
              "installed: " + home.string() +
                  "/Library/Application Support/Brackwell/Velquor/VelquorIntelSensorsV3.bundle\n");

    bool arrived = false;
    for (auto end = std::chrono::steady_clock::now() + 10s; !arrived && std::chrono::steady_clock::now() < end;) {
        arrived = host.call("wasIntelModuleInstalled") == true;
        if (!arrived) std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(arrived) << host.stderrText();
    EXPECT_EQ(host.call("fans"), json::parse(R"([["Fan 1","2100rpm"],["Main Fan","1500rpm"]])"));
    EXPECT_EQ(host.call("needsIntelBundle"), false);
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

}  // namespace
}  // namespace vq::e2e
