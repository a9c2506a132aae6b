// The host on a machine that changes or fails under it: kernel files that
// vanish between two samples, an SMC that fails at each step, a session bus
// that is missing or goes away, a disk that fills up. Each answers the
// sections' placeholders; the host never crashes and keeps no descriptor.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "e2e.h"

namespace vq::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kWholePage = R"([{"method":"cpuUsage"},{"method":"memoryUsage"},{"method":"hasDiskSetupChanged"},
  {"method":"diskUsage"},{"method":"hasNetworkSetupChanged"},{"method":"network"},{"method":"temps","args":[0]},
  {"method":"fans"},{"method":"isLaptop"},{"method":"battery"},{"method":"topProcesses","args":[5]}])";
enum Section { Volumes = 3, Network = 5, Temps, Fans, Laptop, Battery };

// The fewest descriptors the host holds over a fifth of a second: the
// connection of the last answer closes a moment after the answer arrives.
std::size_t openDescriptors(pid_t pid) {
    std::size_t fewest = SIZE_MAX;
    for (int i = 0; i < 20; ++i, g_usleep(10000)) {
        const fs::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd");
        fewest = std::min(fewest, std::size_t(std::distance(fds, fs::directory_iterator{})));
    }
    return fewest;
}

// Every section's answer, after checking that the whole page was answered.
json wholePage(const Host& host) {
    const Response response = host.post("/batch", kWholePage);
    EXPECT_EQ(response.status, 200) << response.body;
    json results = json::array();
    for (const json& answer : json::parse(response.body, nullptr, false)) results.push_back(answer.value("result", json()));
    EXPECT_EQ(results.size(), 11u) << response.body;
    return results;
}

// One Linux machine made of the fixture trees (hwmon chips, two batteries,
// disks, network interfaces), then taken apart file by file while the host
// runs. The changes add up, so the last row sees a machine with none left.
TEST(HostFaults, KernelFilesThatVanishGivePlaceholders) {
    TempDir tree;
    const std::string fixtures = VQ_FIXTURES_DIR "/linux/", sys = tree.path + "/sys", proc = tree.path + "/proc";
    for (const auto& [from, to] : {std::pair{"hwmon-intel-laptop", "/sys"}, {"power-thinkpad-two-batteries", "/sys"},
                                   {"storage-desktop", ""}, {"net-unordered", ""}})
        fs::copy(fixtures + from, tree.path + to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    Host host({std::nullopt, {},
               {"VELQUETTE_SYS_ROOT=" + sys, "VELQUETTE_PROC_ROOT=" + proc, "VELQUETTE_UDEV_ROOT=" + tree.path + "/udev",
                "XDG_DATA_HOME=" + tree.path + "/data"}});
    // Two batteries (no "MacBook" in the machine's name) read as one.
    json page = wholePage(host);
    ASSERT_EQ(page[Temps].size(), 16u) << page;
    ASSERT_EQ(page[Fans].size(), 2u) << page;
    ASSERT_EQ(page[Laptop], true);
    ASSERT_EQ(page[Battery], json({"0:57 until charged", "88%", "AC Power", "Charging", "120", "95% (7600mAh)"}));
    ASSERT_FALSE(page[Network].empty()) << page;
    const std::size_t descriptors = openDescriptors(host.pid);

    const auto replaceByFolder = [](const std::string& file) { fs::remove(file), fs::create_directory(file); };
    const auto removeAll = [](const std::string& folder) {
        for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
    };
    // Each change, then where in the page's answer to look (section and
    // item) and what must be there.
    const struct {
        const char* change;
        std::function<void()> apply;
        std::string where;
        json expected;
    } cases[] = {
        {"one battery's charge is unreadable", [&] { replaceByFolder(sys + "/class/power_supply/BAT0/charge_now"); },
         "/9/1", "88%"},
        {"the batteries are gone", [&] { removeAll(sys + "/class/power_supply"); }, "/8", false},
        {"a sensor is unreadable", [&] { replaceByFolder(sys + "/class/hwmon/hwmon4/temp1_input"); }, "/7",
         page[Fans]},
        {"the hwmon chips are gone", [&] { removeAll(sys + "/class/hwmon"), removeAll(sys + "/devices"); }, "/6",
         json::array()},
        {"and with them the fans", [] {}, "/7", json::array()},
        // The counters and addresses come from netlink; the files only add facts.
        {"the interfaces are gone", [&] { removeAll(sys + "/class/net"), removeAll(proc + "/net"); }, "/5/0/0",
         page[Network][0][0]},
        {"and their kinds stay", [] {}, "/5/0/1", page[Network][0][1]},
        {"and their addresses", [] {}, "/5/0/2", page[Network][0][2]},
        {"the block devices are gone", [&] { removeAll(sys + "/dev/block"); }, "/3/0/0", "rootfs"},
        {"the mount table is unreadable", [&] { replaceByFolder(proc + "/self/mountinfo"); }, "/3", json::array()},
    };
    for (const auto& c : cases) {
        c.apply();
        page = wholePage(host);
        const json::json_pointer where(c.where);
        EXPECT_EQ(page.contains(where) ? page[where] : json(), c.expected) << c.change;
        EXPECT_LE(openDescriptors(host.pid), descriptors) << c.change;
    }
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

// The SMC's exchange fails at one step: finding the service, opening it,
// reading a key's type, reading its bytes.
TEST(HostFaults, AnSmcThatFailsAtEachStepGivesNoReadings) {
    const json machine = json::parse(readFile(VQ_FIXTURES_DIR "/machines/smc-macbookpro.json"));
    const auto failing = [](unsigned command) {
        return json{{"failures", {{{"command", command}, {"status", "0xe00002c0"}}}}};
    };
    const std::pair<const char*, json> cases[] = {{"matching", {{"failMatching", "0xe00002c0"}}},
                                                  {"open", {{"failOpen", true}}},
                                                  {"key info", failing(9)},
                                                  {"bytes", failing(5)}};
    for (const auto& [step, failure] : cases) {
        TempDir dir;
        json broken = machine;
        broken["smc"].update(failure);
        std::ofstream(dir.path + "/machine.json") << broken.dump();
        Host host({dir.path + "/machine.json"});
        const json page = wholePage(host);
        EXPECT_EQ(json({page[Temps], page[Fans]}), json({json::array(), json::array()})) << step;
        EXPECT_EQ(host.stop(), 0) << host.stderrText();
    }
}

// No session bus at all, and a bus that goes away while the host runs and comes back.
TEST(HostFaults, TheHostOutlivesItsSessionBus) {
    Host without({kTwoCoreMachine, {}, {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"}});
    wholePage(without);
    EXPECT_EQ(without.stop(), 0) << without.stderrText();

    // A bus restarted at the same address is joined again: a module announced there reaches the host.
    TempDir busFolder;
    const std::string address = "unix:path=" + busFolder.path + "/bus";
    using Bus = std::unique_ptr<GSubprocess, void (*)(GSubprocess*)>;
    auto startBus = [&] {  // listening once it prints its address; killed when dropped
        Bus bus(g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr, "dbus-daemon", "--session", "--nofork",
                                 ("--address=" + address).c_str(), "--print-address=1", nullptr),
                [](GSubprocess* daemon) {
                    g_subprocess_force_exit(daemon), g_subprocess_wait(daemon, nullptr, nullptr);
                    g_object_unref(daemon);
                });
        g_autoptr(GDataInputStream) out =
            bus ? g_data_input_stream_new(g_subprocess_get_stdout_pipe(bus.get())) : nullptr;
        g_free(out ? g_data_input_stream_read_line(out, nullptr, nullptr, nullptr) : nullptr);
        return bus;
    };
    Bus bus = startBus();
    ASSERT_TRUE(bus) << "dbus-daemon is needed";
    Host host({VQ_FIXTURES_DIR "/machines/smc-macbookpro.json", {}, {"DBUS_SESSION_BUS_ADDRESS=" + address}});
    wholePage(host);
    bus.reset();
    wholePage(host);
    bus = startBus();
    const fs::path bundle = fs::path(host.volumeIcons()).parent_path() / "Velquor/VelquorIntelSensorsV3.bundle";
    fs::create_directories(bundle.parent_path());
    fs::copy(VELQUETTE_SAMPLE_MODULE_DIR, bundle, fs::copy_options::recursive);
    fs::permissions(bundle / "module.so", fs::perms(0755));
    const std::string announce = "env DBUS_SESSION_BUS_ADDRESS=" + address +
                                 " gdbus emit --session --object-path /org/brackwell/Notifications"
                                 " --signal org.brackwell.Notifications.ParquellIntelModuleAvailable";
    const json moduleFans = json::parse(R"([["Fan 1","2100rpm"],["Main Fan","1500rpm"]])");
    bool arrived = false;
    for (const gint64 end = g_get_monotonic_time() + 15 * G_USEC_PER_SEC; !arrived && g_get_monotonic_time() < end;) {
        // Sent until seen: the host joins the new bus on a timer.
        g_spawn_command_line_sync(announce.c_str(), nullptr, nullptr, nullptr, nullptr);
        g_usleep(100000);
        arrived = host.call("fans") == moduleFans;
    }
    EXPECT_TRUE(arrived) << host.stderrText();
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

// With no room for an icon, the volumes still answer their icon's address
// and no half-written file is left in the cache. A file size limit stands in
// for a full disk: writes past it fail (EFBIG) the way they fail with ENOSPC.
TEST(HostFaults, AFullDiskLeavesNoHalfWrittenIcon) {
    Host host({VQ_FIXTURES_DIR "/machines/volumes.json", {}, {}, {"sh", "-c", "trap '' XFSZ; ulimit -f 0 && exec \"$@\"", "sh"}});
    const json volumes = host.call("diskUsage");
    ASSERT_FALSE(volumes.empty());
    for (const json& volume : volumes) {
        EXPECT_TRUE(volume[5].get<std::string>().starts_with("/icons/volumes/")) << volume;
        EXPECT_EQ(host.request("GET", volume[5]).status, 404) << volume;
    }
    // What is left is whole: the record of written icons and complete PNG files.
    for (const auto& entry : fs::directory_iterator(host.volumeIcons())) {
        const std::string name = entry.path().filename(), bytes = readFile(entry.path());
        EXPECT_TRUE(name == ".velquette-written-icons" || bytes.ends_with("IEND\xae\x42\x60\x82")) << name;
    }
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

}  // namespace
}  // namespace vq::e2e
