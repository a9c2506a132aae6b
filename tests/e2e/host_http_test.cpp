// The real velquette binary over HTTP. On simulated machines: its answers, its files and icons, every refusal on
// the wire, how it starts and stops. On this machine: its answers agree with the kernel (/proc/stat, statvfs,
// sysfs), and mounts in a private mount namespace of its own reach its volume list.

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <regex>
#include <thread>

#include "e2e.h"

namespace vq::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The first cpuUsage of the two-core machine: single-precision shares as doubles.
json firstSample() {
    auto share = [](int ticks) { return double(float(ticks) / 1000.0f * 100.0f); };
    return {{10, 15, 0, 75, 25}, {{31, share(106), share(207), 0.0}, {20, share(106), share(100), 0.0}}};
}

// No CORS permission of any kind, and errors as one line of {"error": "..."}.
void expectWellFormed(const Response& response, const std::string& what) {
    for (const auto& [name, value] : response.headers)
        EXPECT_NE(g_ascii_strncasecmp(name.c_str(), "Access-Control-", 15), 0) << what << ": " << name;
    if (response.status < 400) return;
    EXPECT_EQ(response.header("Content-Type"), "application/json") << what;
    auto answer = json::parse(response.body, nullptr, false);
    EXPECT_TRUE(response.body.find('\n') == std::string::npos && answer.is_object() && answer.size() == 1 &&
                answer.value("error", "") != "")
        << what << ": " << response.body;
}

// A request as literal bytes: Host names this server unless the headers
// bring their own, and a Content-Length is added unless the body is chunked.
std::string wire(const Host& host, const std::string& method, const std::string& target,
                 const std::string& headers = "", const std::string& body = "") {
    std::string bytes = method + " " + target + " HTTP/1.1\r\n";
    if (!headers.starts_with("Host:")) bytes += "Host: 127.0.0.1:" + std::to_string(host.port) + "\r\n";
    if (!body.empty() && headers.find("chunked") == std::string::npos)
        bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return bytes + headers + "Connection: close\r\n\r\n" + body;
}

class HostTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(host_.stop(), 0) << host_.stderrText(); }
    Host host_{{kTwoCoreMachine}};
};

TEST_F(HostTest, AnswersCallsAndBatchesInOrder) {
    auto batch = host_.post("/batch", R"([{"method":"cpuUsage","args":[]},{"method":"load"},{"method":"processinfo"},
                                    {"method":"hasNetworkSetupChanged"},{"method":"installIntelModule"}])");
    EXPECT_EQ(batch.status, 200);
    EXPECT_EQ(json::parse(batch.body, nullptr, false),
              json::array({{{"result", firstSample()}}, {{"result", "0.50, 0.25, 1.00"}},
                           {{"result", "57 tasks, 213 threads"}}, {{"result", true}}, {{"result", nullptr}}}));
    EXPECT_EQ(host_.call("hasNetworkSetupChanged"), false);
    EXPECT_EQ(host_.call("uptime"), "1d 2h 3m");
    EXPECT_EQ(host_.post("/batch", "[]").body, "[]");
}

TEST_F(HostTest, ServesThePageAndNothingOutsideIt) {
    auto page = host_.request("GET", "/");
    EXPECT_EQ(page.header("Content-Type"), "text/html; charset=utf-8");
    EXPECT_EQ(page.header("X-Content-Type-Options"), "nosniff");
    EXPECT_NE(page.header("Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos);
    EXPECT_NE(page.body.find("js/widget.js"), std::string::npos);
    auto script = host_.request("HEAD", "/velquette.js");
    EXPECT_EQ(script.status, 200);
    EXPECT_EQ(script.header("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(host_.request("GET", "/missing.js").status, 404);
    for (const char* target : {"/../CMakeLists.txt", "/%2e%2e/%2e%2e/%2e%2e/etc/passwd", "http://x/../../etc/passwd"}) {
        auto response = host_.raw(wire(host_, "GET", target));
        EXPECT_TRUE(response.status == 400 || response.status == 404 || response.status == 421) << target;
        EXPECT_EQ(response.body.find("root:"), std::string::npos) << target;
    }
}

TEST_F(HostTest, RefusesRequestsBeforeTheyRun) {
    const std::string p = std::to_string(host_.port), cpu = R"({"method":"cpuUsage"})", up = R"({"method":"uptime"})";
    const std::string json = "Content-Type: application/json\r\n", chunked = "Transfer-Encoding: chunked\r\n";
    const std::string foreign = "Origin: http://attacker.example\r\n";
    const std::string ours = "Host: 127.0.0.1:" + p + "\r\n", evil = "Host: evil:" + p + "\r\n";
    auto padded = [](std::size_t size) { return "{" + std::string(size - 19, ' ') + R"("method":"uptime"})"; };
    std::string chunks;
    for (int i = 0; i < 20; ++i) chunks += "1000\r\n" + std::string(0x1000, ' ') + "\r\n";
    const std::tuple<const char*, std::string, std::string, std::string, std::string, int, std::string> cases[] = {
        {"foreign Host", "POST", "/call", "Host: attacker.example:" + p + "\r\n" + json, cpu, 421, ""},
        {"foreign Host, page", "GET", "/", "Host: localhost.attacker.example:" + p + "\r\n", "", 421, ""},
        {"ours, then a foreign Host", "POST", "/call", ours + evil + json, cpu, 421, ""},
        {"a foreign Host, then ours", "POST", "/call", evil + ours + json, cpu, 421, ""},
        {"another loopback name", "POST", "/call", "Host: LOCALHOST:" + p + "\r\n" + json, up, 200, ""},
        {"foreign origin", "POST", "/call", foreign + json, cpu, 403, ""},
        {"foreign origin, batch", "POST", "/batch", foreign + json, "[" + cpu + "]", 403, ""},
        {"foreign origin, file", "GET", "/js/widget.js", foreign, "", 403, ""},
        {"foreign origin, icon", "GET", "/icons/volumes/a.png", foreign, "", 403, ""},
        {"our own origin", "POST", "/call", "Origin: http://localhost:" + p + "\r\n" + json, up, 200, ""},
        {"preflight", "OPTIONS", "/call", foreign + "Access-Control-Request-Method: POST\r\n", "", 405, "POST"},
        {"text call", "POST", "/call", "Content-Type: text/plain\r\n", cpu, 415, ""},
        {"untyped batch", "POST", "/batch", "", "[" + cpu + "]", 415, ""},
        {"largest body", "POST", "/call", json, padded(64 * 1024), 200, ""},
        {"one byte more", "POST", "/call", json, padded(64 * 1024 + 1), 413, ""},
        {"large chunked batch", "POST", "/batch", json + chunked, chunks + "0\r\n\r\n", 413, ""},
        {"small chunked call", "POST", "/call", json + chunked, "13\r\n" + up + "\r\n0\r\n\r\n", 200, ""},
        {"GET of a call", "GET", "/call", "", "", 405, "POST"},
        {"POST of the page", "POST", "/", json, "{}", 405, "GET, HEAD"},
        {"POST of an icon", "POST", "/icons/volumes/a.png", json, "{}", 405, "GET, HEAD"},
        {"bad JSON", "POST", "/call", json, "{", 400, ""},
        {"an unreachable method", "POST", "/call", json, R"({"method":"workspaceChange"})", 400, ""},
        // A batch is checked whole before any of its calls runs.
        {"a bad call last", "POST", "/batch", json, R"([{"method":"hasNetworkSetupChanged"},{"method":"x"}])", 400, ""},
        {"wrong arguments", "POST", "/batch", json, "[" + cpu + R"(,{"method":"uptime","args":[1]}])", 400, ""},
    };
    for (const auto& [what, method, target, headers, body, status, allow] : cases) {
        auto response = host_.raw(wire(host_, method, target, headers, body));
        EXPECT_EQ(response.status, status) << what << ": " << response.body;
        EXPECT_EQ(response.header("Allow"), allow) << what;
        expectWellFormed(response, what);
    }
    // Two Hosts joined in one header, and none at all (HTTP/1.0 may leave it out).
    EXPECT_EQ(host_.raw("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + p + ", evil:" + p + "\r\n\r\n").status, 400);
    auto bare = host_.raw("GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(bare.status, 400);
    expectWellFormed(bare, "no Host");
    // None of the refused calls ran.
    EXPECT_EQ(host_.call("hasNetworkSetupChanged"), true);
    EXPECT_EQ(host_.call("cpuUsage"), firstSample());
}

TEST(HostVolumeIconsTest, ServesTheCachedIconsAndNothingElse) {
    Host host({kDeskMachine});
    json urls;
    for (const auto& volume : host.call("diskUsage")) urls.push_back(volume.at(5));
    EXPECT_EQ(urls, json({"/icons/volumes/Main%20Disk.png", "/icons/volumes/Backup%20Disk.png",
                          "/icons/volumes/Donn%C3%A9es.png"}));
    const Headers ownOrigin{{"Origin", host.url.substr(0, host.url.size() - 1)}};
    auto icon = host.request("GET", "/icons/volumes/Donn%C3%A9es.png", ownOrigin);
    EXPECT_EQ(icon.header("Content-Type"), "image/png");
    EXPECT_TRUE(icon.body.starts_with("\x89PNG") && icon.body == readFile(host.volumeIcons() + "/Données.png"));
    // Bait beside the cache, a link to it and a file that is no picture.
    const fs::path cache = host.volumeIcons();
    fs::copy_file(cache / "Main Disk.png", cache.parent_path() / "secret.png");
    fs::create_symlink(cache.parent_path() / "secret.png", cache / "link.png");
    std::ofstream(cache / "text.png") << "plain text, not a picture";
    for (const char* name : {"..%2Fsecret.png", "../secret.png", "link.png", "text.png", "../../processes/link.png"}) {
        auto response = host.raw(wire(host, "GET", "/icons/volumes/" + std::string(name)));
        EXPECT_TRUE(response.status == 404 || response.status == 400) << name << " " << response.status;
        EXPECT_EQ(response.body.find("PNG"), std::string::npos) << name;
    }
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

TEST(HostLifecycleTest, StartsAndStopsCleanlyOrSaysWhyNot) {
    TempDir root;
    std::ofstream(root.path + "/index.html") << "<p>another page</p>";
    Host first({kTwoCoreMachine, {"--web-root", root.path}});
    const auto [status, out, err] = runHost({kTwoCoreMachine, {"--port", std::to_string(first.port)}});
    EXPECT_EQ(status, 1);
    EXPECT_EQ(err, "velquette: cannot listen on 127.0.0.1 port " + std::to_string(first.port) +
                       ": the port is already in use\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(first.request("GET", "/").body, "<p>another page</p>");
    EXPECT_EQ(first.request("GET", "/js/widget.js").status, 404);
    EXPECT_EQ(first.stop(SIGINT), 0) << first.stderrText();
    // An unusable machine file or command line stops the host.
    for (const auto& [launch, expected, says] :
         {std::tuple{Launch{"/nonexistent/machine.json"}, 1, "/nonexistent/machine.json"},
          std::tuple{Launch{kTwoCoreMachine, {"--port", "70000"}}, 2, "usage"},
          std::tuple{Launch{kTwoCoreMachine, {"--listen", "localhost"}}, 1, "not an IP address"}}) {
        const auto [code, output, message] = runHost(launch);
        EXPECT_EQ(code, expected) << message << output;
        EXPECT_NE(message.find(says), std::string::npos) << message;
    }
}

TEST(HostOnThisMachineTest, AnswersAgreeWithTheKernel) {
    TempDir data;
    Host host({std::nullopt, {}, {"XDG_DATA_HOME=" + data.path}});
    std::this_thread::sleep_for(150ms);  // every processor counts some ticks
    const auto usage = host.call("cpuUsage");
    const auto& summary = usage.at(0);
    EXPECT_EQ(summary[3].get<int>() + summary[4].get<int>(), 100) << summary;
    EXPECT_EQ(summary[0].get<int>() + summary[1].get<int>() + summary[2].get<int>(), summary[4].get<int>()) << summary;
    std::ifstream stat("/proc/stat");
    std::size_t processors = 0;
    for (std::string line; std::getline(stat, line);) processors += line.starts_with("cpu") && std::isdigit(line[3]);
    EXPECT_EQ(usage.at(1).size(), processors);
    for (const auto& core : usage[1]) EXPECT_TRUE(core[0] >= 0 && core[0] <= 100) << core;

    const auto volumes = host.call("diskUsage");
    for (const auto& volume : volumes) {
        const auto icon = host.request("GET", volume.at(5).get<std::string>());
        EXPECT_EQ(icon.header("Content-Type"), "image/png") << volume;
        EXPECT_TRUE(icon.body.starts_with("\x89PNG")) << volume;
    }
    // "/" on a block device (not an overlay or tmpfs) is the first volume.
    struct stat rootDevice {};
    struct statvfs root {};
    ASSERT_EQ(::stat("/", &rootDevice) | ::statvfs("/", &root), 0);
    if (fs::exists("/sys/dev/block/" + std::to_string(major(rootDevice.st_dev)) + ":" +
                   std::to_string(minor(rootDevice.st_dev)))) {
        ASSERT_FALSE(volumes.empty());
        EXPECT_EQ(volumes[0][4], "/") << volumes;
        EXPECT_NEAR(volumes[0][1].get<int>(), 100.0 - 100.0 * double(root.f_bavail) / double(root.f_blocks), 1.5);
    }

    EXPECT_EQ(host.call("hasNetworkSetupChanged"), true);
    for (const auto& row : host.call("network")) {
        EXPECT_NE(row.at(0), "lo") << row;
        EXPECT_TRUE(fs::exists("/sys/class/net/" + row[0].get<std::string>())) << row;
        EXPECT_EQ(row[3], "0kb/s") << "the first sample after a rebuild has no rate";
    }
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

// The host moved into new v1 groups of this test's own groups, with a memory limit, a processor quota and a task
// ceiling: its limits call tells all three. Skipped where the groups cannot be made (no privilege, v2 only).
TEST(HostOnThisMachineTest, AGroupWithLimitsShowsItsLimits) {
    std::map<std::string, std::string> ownGroup;  // "ID:controller" -> path, from /proc/self/cgroup
    std::ifstream cgroup("/proc/self/cgroup");
    for (std::string line; std::getline(cgroup, line);)
        for (const char* name : {"memory", "cpu", "pids"})
            if (std::regex_search(line, std::regex(std::string("^\\d+:([^:]*,)?") + name + "(,[^:]*)?:")))
                ownGroup[name] = line.substr(line.find(':', line.find(':') + 1) + 1);
    const std::pair<const char*, std::vector<std::pair<const char*, const char*>>> settings[] = {
        {"memory", {{"memory.limit_in_bytes", "268435456"}}},
        {"cpu", {{"cpu.cfs_period_us", "100000"}, {"cpu.cfs_quota_us", "50000"}}},
        {"pids", {{"pids.max", "100"}}}};
    std::vector<std::string> made;
    const std::shared_ptr<void> removeGroups(nullptr, [&](void*) {
        for (const auto& folder : made) ::rmdir(folder.c_str());
    });
    for (const auto& [controller, files] : settings) {
        const std::string folder = "/sys/fs/cgroup/" + std::string(controller) + ownGroup[controller] + "/vq-limits-" +
                                   std::to_string(::getpid());
        if (!ownGroup.contains(controller) || ::mkdir(folder.c_str(), 0755) != 0)
            GTEST_SKIP() << "cannot make a v1 " << controller << " group here: " << folder;
        made.push_back(folder);
        for (const auto& [file, value] : files) std::ofstream(folder + "/" + file) << value;
    }
    TempDir data;
    Host host({std::nullopt, {}, {"XDG_DATA_HOME=" + data.path}});
    for (const auto& folder : made) std::ofstream(folder + "/cgroup.procs") << host.pid;
    const json limits = host.call("limits");
    EXPECT_EQ(json({limits["memoryLimitBytes"], limits["cpuQuota"], limits["pidsMax"]}), json({268435456, 0.5, 100}))
        << limits;
    EXPECT_LT(limits["memoryUsedBytes"].get<double>(), 268435456.0) << limits;
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

// A process that the test starts and keeps busy is the busiest over the interval between two calls; the host
// names it, finds no application for it, and knows its own pid.
TEST(HostOnThisMachineTest, TopProcessesListsABusyProcessFirst) {
    TempDir data;
    Host host({std::nullopt, {}, {"XDG_DATA_HOME=" + data.path}});
    BusyProcess busy;
    host.call("topProcesses", {5});
    std::this_thread::sleep_for(1500ms);
    const auto top = host.call("topProcesses", {5});
    ASSERT_EQ(top.size(), 5u) << top;
    // Only another test's busy process (ctest -j) may come before this one.
    std::size_t rank = 0;
    for (; rank < top.size() && top[rank][0] != busy.pid; ++rank)
        EXPECT_EQ(host.call("getPsName", json::array({top[rank][0]})), "velquette-busy-process") << top;
    ASSERT_LT(rank, top.size()) << top;
    EXPECT_GT(top[rank][1].get<double>(), 50.0) << top;
    EXPECT_TRUE(std::regex_match(top[rank][2].get<std::string>(), std::regex(R"(\d+(KB|\.\dMB))"))) << top;
    for (std::size_t i = 1; i < top.size(); ++i) EXPECT_GE(top[i - 1][1], top[i][1]) << top;
    EXPECT_EQ(host.call("getPsName", {busy.pid}), "velquette-busy-process");
    EXPECT_EQ(host.call("getAppPath", {busy.pid, nullptr}), "");
    EXPECT_EQ(host.call("getselfpid"), host.pid);
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

// Runs a command line: whether it succeeded, and its output.
std::pair<bool, std::string> run(const std::string& command) {
    g_autofree char* out = nullptr;
    g_autofree char* err = nullptr;
    int status = 0;
    if (!g_spawn_command_line_sync(command.c_str(), &out, &err, &status, nullptr)) return {false, "cannot run"};
    std::string output = std::string(out) + err;
    while (output.ends_with('\n')) output.pop_back();
    return {g_spawn_check_wait_status(status, nullptr), output};
}

// Each laptop family on a simulated machine, and Linux power_supply trees of several shapes.
TEST(HostBatteryTest, AnswersTheBatteryOfEachLaptopFamily) {
    const auto linux = [](const std::string& tree) {
        return Launch{std::nullopt, {}, {"VELQUETTE_SYS_ROOT=" VQ_FIXTURES_DIR "/linux/" + tree}};
    };
    const std::tuple<std::string, Launch, bool, std::vector<std::string>> cases[] = {
        {"macbook", {VQ_FIXTURES_DIR "/machines/battery-macbook.json"}, true,
         {"2:05 remaining", "86%", "Battery", "Draining", "212", "95% (4560mAh)"}},
        {"powerbook", {VQ_FIXTURES_DIR "/machines/battery-powerbook.json"}, true,
         {"0:42 until charged", "76%", "AC Power", "Charging", "388", "93% (4100mAh)", "Charged", "100%", "AC Power",
          "Charged", "388", "93% (4100mAh)", "1:05 remaining", "99%", "Battery", "Draining", "388", "93% (4100mAh)"}},
        // 3000 of 4500 mAh at 1000 mA, the two packs at different voltages.
        {"two packs", linux("power-two-packs-charge"), true,
         {"3:00 remaining", "67%", "Battery", "Draining", "58", "93% (4500mAh)"}},
        // The last 3000 of 7000 mAh at 2000 mA.
        {"macbook charging", linux("power-macbook-charging"), true,
         {"1:30 until charged", "57%", "AC Power", "Charging", "96", "95% (7000mAh)"}},
        {"overfull", linux("power-overfull"), true, {"Charged", "100%", "AC Power", "Charged", "12", "100% (5000mAh)"}},
        {"capacity only", linux("power-capacity-only"), true,
         {"Calculating", "57%", "Battery", "Draining", "0", "0%"}},
    };
    for (const auto& [name, launch, laptop, texts] : cases) {
        Host host(launch);
        EXPECT_EQ(host.call("isLaptop"), laptop) << name;
        for (std::size_t i = 0; i < texts.size(); i += 6)
            EXPECT_EQ(host.call("battery"), json(std::vector(texts.begin() + i, texts.begin() + i + 6))) << name;
        EXPECT_EQ(host.stop(), 0) << host.stderrText();
    }
}

// The GPUs over HTTP from the Linux reader, on the roots the environment gives (the page's machine-file GPUs are
// checked in the browser).
TEST(HostGpuTest, AnswersEachGpuFromTheRootsGiven) {
    const std::string root = VQ_FIXTURES_DIR "/linux/gpu-amd-discrete";
    Host host({std::nullopt, {}, {"VELQUETTE_SYS_ROOT=" + root + "/sys", "VELQUETTE_UDEV_ROOT=" + root + "/udev"}});
    EXPECT_EQ(host.call("gpus"), json::parse(R"([["Navi 23 [Radeon RX 6600/6600 XT/6600M]",37.0,1288490188,8573157376,
                                                 52.0,48.0,2450.0,false]])"));
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

// The sensor module arrives over the session bus while the host runs on an Intel SMC machine: the fans switch to
// the module's (named through the fan table) and temperatures stay with the SMC. A module file that others may
// write is refused, and the fans stay the controller's.
TEST(HostSensorModuleTest, FansSwitchToTheModuleUnlessItsFileIsWorldWritable) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS")) GTEST_SKIP() << "no session bus: run under dbus-run-session";
    const json controllerFans = json::parse(R"([["Left Fan","1165rpm"],["Right Fan","1250rpm"]])");
    for (bool worldWritable : {false, true}) {
        SCOPED_TRACE(worldWritable ? "world-writable module" : "module");
        Host host({VQ_FIXTURES_DIR "/machines/smc-macbookpro.json"});
        const json temps = host.call("temps", {1});
        EXPECT_EQ(temps, json::parse(R"([["CPU A","113°"],["CPU A","113°"],["Ambient","79°"],["GPU","122°"]])"));
        EXPECT_EQ(host.call("fans"), controllerFans);
        const fs::path bundle = fs::path(host.volumeIcons()).parent_path() / "Velquor/VelquorIntelSensorsV3.bundle";
        fs::create_directories(bundle.parent_path());
        fs::copy(VELQUETTE_SAMPLE_MODULE_DIR, bundle, fs::copy_options::recursive);
        fs::permissions(bundle / "module.so", worldWritable ? fs::perms::all : fs::perms(0755));
        bool arrived = false;
        for (auto end = std::chrono::steady_clock::now() + 10s; !arrived && std::chrono::steady_clock::now() < end;) {
            // Sent until it is seen: the host's subscription may still be on its way to the bus.
            ASSERT_TRUE(run("gdbus emit --session --object-path /org/brackwell/Notifications --signal "
                            "org.brackwell.Notifications.ParquellIntelModuleAvailable").first);
            std::this_thread::sleep_for(50ms);
            arrived = host.call("wasIntelModuleInstalled") == true;
        }
        ASSERT_TRUE(arrived) << host.stderrText();
        EXPECT_EQ(host.call("fans"),
                  worldWritable ? controllerFans : json::parse(R"([["Fan 1","2100rpm"],["Main Fan","1500rpm"]])"));
        EXPECT_EQ(host.call("temps", {1}), temps);
        EXPECT_EQ(host.stop(), 0) << host.stderrText();
    }
}

json mountPaths(const json& volumes) {
    json paths = json::array();
    for (const auto& volume : volumes) paths.push_back(volume.at(4));
    return paths;
}

TEST(HostMountTest, ALoopMountIsAVolumeOnlyOnAUsbBus) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
    if (!run("unshare --mount true").first) GTEST_SKIP() << "no private mount namespaces here";
    TempDir scratch, mountPoint("/mnt");
    fs::create_directories(scratch.path + "/udev/data");
    Host host({std::nullopt,
               {},
               {"VELQUETTE_UDEV_ROOT=" + scratch.path + "/udev", "XDG_DATA_HOME=" + scratch.path},
               {"/usr/bin/unshare", "--mount", "--propagation", "private"}});
    const std::string proc = "/proc/" + std::to_string(host.pid), inHost = "nsenter --mount --target " + proc.substr(6);
    ASSERT_NE(fs::read_symlink("/proc/self/ns/mnt"), fs::read_symlink(proc + "/ns/mnt"));
    auto mounted = [&](const std::string& in) {
        return readFile(in + "/mountinfo").find(" " + mountPoint.path + " ") != std::string::npos;
    };
    // The flag the page polls rises for each change, and for nothing after it.
    auto expectOneDiskChange = [&] {
        bool rose = false;
        for (auto end = std::chrono::steady_clock::now() + 5s; !rose && std::chrono::steady_clock::now() < end;
             std::this_thread::sleep_for(20ms))
            rose = host.call("hasDiskSetupChanged") == true;
        EXPECT_TRUE(rose);
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(host.call("hasDiskSetupChanged"), false);
    };
    EXPECT_EQ(host.call("hasDiskSetupChanged"), false);
    const auto before = mountPaths(host.call("diskUsage"));

    for (bool usb : {false, true}) {
        SCOPED_TRACE(usb ? "a loop device that udev puts on a USB bus" : "a plain loop device: a disk image");
        const std::string image = scratch.path + (usb ? "/stick.ext4" : "/image.ext4");
        auto [made, mkfsSays] = run("/usr/sbin/mkfs.ext4 -q -F -L VQTEST " + image + " 4M");
        ASSERT_TRUE(made) << mkfsSays;
        auto [attached, device] = run("/usr/sbin/losetup --find --show " + image);
        if (!attached) GTEST_SKIP() << "no loop device: " << device;
        if (usb) {
            const std::string number = readFile("/sys/class/block/" + device.substr(5) + "/dev");
            std::ofstream(scratch.path + "/udev/data/b" + number.substr(0, number.find('\n')))
                << "E:ID_BUS=usb\nE:ID_FS_TYPE=ext4\nE:ID_FS_LABEL=VQTEST\n";
        }
        auto [ok, mountSays] = run(inHost + " mount -t ext4 -o nosuid,nodev,noexec " + device + " " + mountPoint.path);
        run("/usr/sbin/losetup --detach " + device);  // from now on it goes with its last user
        ASSERT_TRUE(ok) << mountSays;
        EXPECT_TRUE(mounted(proc));
        EXPECT_FALSE(mounted("/proc/self")) << "the mount leaked into the test's own namespace";
        expectOneDiskChange();

        const auto volumes = host.call("diskUsage");
        auto expected = before;
        if (usb) expected.push_back(mountPoint.path);
        EXPECT_EQ(mountPaths(volumes), expected) << volumes;
        if (usb) {
            EXPECT_EQ(volumes.back()[0], "VQTEST");
            EXPECT_TRUE(volumes.back()[1] >= 0 && volumes.back()[1] < 50) << volumes;  // ext4 keeps a little
            EXPECT_EQ(volumes.back()[5], "/icons/volumes/VQTEST.png");
            EXPECT_TRUE(host.request("GET", "/icons/volumes/VQTEST.png").body.starts_with("\x89PNG"));
        }
        auto [unmounted, umountSays] = run(inHost + " umount " + mountPoint.path);
        ASSERT_TRUE(unmounted) << umountSays;
        expectOneDiskChange();
        EXPECT_EQ(mountPaths(host.call("diskUsage")), before);
    }
    // The host's namespace, and any mount left in it, ends with the host.
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

TEST(HostSmartTest, TheFirstDiskLeadsTheTemperaturesOnceAskedFor) {
    TempDir noDevices;
    const std::pair<Launch, json> cases[] = {
        {Launch{VQ_FIXTURES_DIR "/machines/smart-disk0.json"}, {"HD: Workhorse", "95°"}},
        {Launch{std::nullopt,
                {},
                {"VELQUETTE_SYS_ROOT=" VQ_FIXTURES_DIR "/linux/smart-drives/sys",
                 "VELQUETTE_PROC_ROOT=" VQ_FIXTURES_DIR "/linux/smart-drives/proc-nvme",
                 "VELQUETTE_DEV_ROOT=" + noDevices.path}},
         {"HD: " + std::string(g_get_host_name()), "101°"}},
    };
    for (const auto& [launch, first] : cases) {
        Host host(launch);
        const json plain = host.call("temps", {1});
        host.call("setShouldMonitorSMARTTemps", {1});
        const json merged = host.call("temps", {1});
        ASSERT_EQ(merged.size(), plain.size() + 1) << merged;
        EXPECT_EQ(merged[0], first);
        EXPECT_EQ(host.stop(), 0) << host.stderrText();
    }
}

}  // namespace
}  // namespace vq::e2e
