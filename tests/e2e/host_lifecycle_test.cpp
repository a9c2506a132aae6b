// How the host starts and stops: clean exits on signals, and the one-line
// failures of a taken port, an unusable machine file or a bad command line.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "host_process.h"
#include "http_client.h"

namespace vq::e2e {
namespace {

const std::string kTwoCoreMachine = VQ_FIXTURES_DIR "/machines/intel-two-core.json";

TEST(HostLifecycleTest, StopsCleanlyOnInterrupt) {
    HostProcess host(HostLaunch{kTwoCoreMachine, {}});
    EXPECT_EQ(callHost(host.port(), "uptime"), "1d 2h 3m");
    auto status = host.stop(SIGINT);
    EXPECT_TRUE(status.exitedWith(0)) << describe(status) << "\n" << host.stderrText();
}

TEST(HostLifecycleTest, ATakenPortIsAOneLineErrorAndAFailure) {
    HostProcess first(HostLaunch{kTwoCoreMachine, {}});
    auto second = runHostToCompletion({kTwoCoreMachine, {"--port", std::to_string(first.port())}});
    EXPECT_FALSE(second.status.exitedWith(0)) << describe(second.status);
    EXPECT_TRUE(second.status.code.has_value()) << describe(second.status);
    EXPECT_NE(second.stderrText.find(std::to_string(first.port())), std::string::npos) << second.stderrText;
    EXPECT_NE(second.stderrText.find("already in use"), std::string::npos) << second.stderrText;
    EXPECT_EQ(std::count(second.stderrText.begin(), second.stderrText.end(), '\n'), 1) << second.stderrText;
    EXPECT_EQ(second.stdoutText, "");
    // The first host is untouched.
    EXPECT_EQ(callHost(first.port(), "uptime"), "1d 2h 3m");
    EXPECT_TRUE(first.stop(SIGTERM).exitedWith(0));
}

TEST(HostLifecycleTest, AnUnusableMachineFileOrCommandLineStopsTheHost) {
    auto missing = runHostToCompletion({"/nonexistent/machine.json", {}});
    EXPECT_TRUE(missing.status.exitedWith(1)) << describe(missing.status);
    EXPECT_NE(missing.stderrText.find("/nonexistent/machine.json"), std::string::npos) << missing.stderrText;

    auto badPort = runHostToCompletion({kTwoCoreMachine, {"--port", "70000"}});
    EXPECT_TRUE(badPort.status.exitedWith(2)) << describe(badPort.status);
    EXPECT_NE(badPort.stderrText.find("usage"), std::string::npos) << badPort.stderrText;

    auto badAddress = runHostToCompletion({kTwoCoreMachine, {"--listen", "localhost"}});
    EXPECT_TRUE(badAddress.status.exitedWith(1)) << describe(badAddress.status);
}

TEST(HostLifecycleTest, ServesAnotherWebRootWhenTold) {
    namespace fs = std::filesystem;
    auto root = fs::temp_directory_path() / ("velquette-webroot-" + std::to_string(::getpid()));
    fs::create_directories(root);
    std::ofstream(root / "index.html") << "<p>another page</p>";
    {
        HostProcess host(HostLaunch{kTwoCoreMachine, {"--web-root", root.string()}});
        auto page = exchange(host.port(), {"GET", "/"});
        EXPECT_EQ(page.status, 200);
        EXPECT_EQ(page.body, "<p>another page</p>");
        EXPECT_EQ(exchange(host.port(), {"GET", "/widget.js"}).status, 404);
        EXPECT_TRUE(host.stop(SIGTERM).exitedWith(0));
    }
    fs::remove_all(root);
}

}  // namespace
}  // namespace vq::e2e
