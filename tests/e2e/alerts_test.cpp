// The host's alerts end to end: the real host on a fixture machine (a
// battery at 4 % discharging, a processor 2 °C under its limit), a private
// session bus, and a stand-in notification server (python3-dbusmock's
// notification-daemon template) that records every call it gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "e2e.h"

namespace vq::e2e {
namespace {

namespace fs = std::filesystem;
using Child = std::unique_ptr<GSubprocess, void (*)(GSubprocess*)>;

Child child(GSubprocess* process) {
    return Child(process, [](GSubprocess* p) {
        if (!p) return;
        g_subprocess_force_exit(p), g_subprocess_wait(p, nullptr, nullptr);
        g_object_unref(p);
    });
}

template <typename Ready>
bool waitFor(Ready ready, int seconds = 15) {
    for (const gint64 end = g_get_monotonic_time() + seconds * G_USEC_PER_SEC; g_get_monotonic_time() < end;
         g_usleep(50000))
        if (ready()) return true;
    return false;
}

// A private session bus, and a connection of the test's own to it.
struct Bus {
    TempDir folder;
    std::string address = "unix:path=" + folder.path + "/bus";
    Child daemon = child(g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr, "dbus-daemon", "--session",
                                          "--nofork", ("--address=" + address).c_str(), "--print-address=1", nullptr));
    GDBusConnection* connection = nullptr;
    Bus() {
        if (!daemon) return;
        g_autoptr(GDataInputStream) out = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon.get()));
        g_free(g_data_input_stream_read_line(out, nullptr, nullptr, nullptr));
        connection = g_dbus_connection_new_for_address_sync(
            address.c_str(),
            GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                 G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, nullptr);
    }
    ~Bus() { g_clear_object(&connection); }

    GVariant* call(const char* name, const char* path, const char* interface, const char* method,
                   GVariant* args = nullptr) {
        return g_dbus_connection_call_sync(connection, name, path, interface, method, args, nullptr,
                                           G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    }
};

constexpr const char* kServer = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";

// The stand-in server on the bus, there once it owns its name.
Child startServer(Bus& bus) {
    g_autoptr(GSubprocessLauncher) launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
    g_subprocess_launcher_setenv(launcher, "DBUS_SESSION_BUS_ADDRESS", bus.address.c_str(), TRUE);
    Child server = child(g_subprocess_launcher_spawn(launcher, nullptr, VQ_SYSTEM_PYTHON, "-m", "dbusmock", "--session",
                                                     "--template", "notification_daemon", nullptr));
    const bool owned = waitFor([&] {
        g_autoptr(GVariant) reply = bus.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                             "NameHasOwner", g_variant_new("(s)", kServer));
        gboolean has = FALSE;
        if (reply) g_variant_get(reply, "(b)", &has);
        return has == TRUE;
    });
    return owned ? std::move(server) : child(nullptr);
}

// The server's record of the calls it got, but GetCapabilities, one line
// each: the method and its arguments with their types.
std::vector<std::string> recordedCalls(Bus& bus) {
    std::vector<std::string> out;
    g_autoptr(GVariant) reply = bus.call(kServer, kPath, "org.freedesktop.DBus.Mock", "GetCalls");
    g_autoptr(GVariantIter) calls = nullptr;
    if (reply) g_variant_get(reply, "(a(tsav))", &calls);
    guint64 when = 0;
    const gchar* method = nullptr;
    GVariant* args = nullptr;
    while (calls && g_variant_iter_next(calls, "(t&s@av)", &when, &method, &args)) {
        g_autofree gchar* text = g_variant_print(args, TRUE);
        if (std::string_view(method) != "GetCapabilities") out.push_back(std::string(method) + " " + text);
        g_variant_unref(args);
    }
    return out;
}

// The fixture machine in a scratch folder, with a rules file whose holds are 0.
struct Machine {
    TempDir tree;
    std::string battery = tree.path + "/sys/class/power_supply/battery";
    Machine() {
        const std::string fixtures = VQ_FIXTURES_DIR "/linux/";
        for (const char* from : {"hwmon-intel-laptop", "power-capacity-only"})
            fs::copy(fixtures + from, tree.path + "/sys", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        std::ofstream(tree.path + "/sys/devices/platform/coretemp.0/hwmon/hwmon5/temp1_input") << "98000\n";
        std::ofstream(battery + "/capacity") << "4\n";
        fs::create_directories(tree.path + "/proc");
        fs::create_directories(tree.path + "/config/velquette");
        std::ofstream(tree.path + "/config/velquette/alerts.conf")
            << "[temperature]\nfor=0\nclear_for=0\n[battery]\nfor=0\nclear_for=0\ncritical=3\n";
    }
    Launch launch(const std::string& busAddress) const {
        return {std::nullopt, {},
                {"VELQUETTE_SYS_ROOT=" + tree.path + "/sys", "VELQUETTE_PROC_ROOT=" + tree.path + "/proc",
                 "VELQUETTE_UDEV_ROOT=" + tree.path + "/udev", "XDG_CONFIG_HOME=" + tree.path + "/config",
                 "XDG_DATA_HOME=" + tree.path + "/data", "DBUS_SESSION_BUS_ADDRESS=" + busAddress}};
    }
};

// Notify's exact arguments as the server records them: no actions (the
// stand-in lists none), transient for warnings only.
std::string notify(int replaces, const std::string& summary, const std::string& body, bool critical) {
    return "Notify [<'Velquette'>, <uint32 " + std::to_string(replaces) + ">, <'org.brackwell.Velquette'>, <'" +
           summary + "'>, <'" + body + "'>, <@as []>, <{'urgency': <byte 0x0" + (critical ? "2" : "1") +
           ">, 'category': <'device.error'>, 'desktop-entry': <'org.brackwell.Velquette'>" +
           (critical ? "" : ", 'transient': <true>") + "}>, <-1>]";
}
const std::string kBattery = "4 % left, discharging. Connect the charger.";

TEST(Alerts, NotifyArgumentsEscalationAndClearing) {
    Bus bus;
    ASSERT_TRUE(bus.connection) << "dbus-daemon is needed";
    Child server = startServer(bus);
    ASSERT_TRUE(server) << "python3-dbusmock is needed";
    Machine machine;
    Host host(machine.launch(bus.address));

    // Both rules fire on the first evaluation: the battery as a warning (its critical is 3 % here).
    std::vector<std::string> calls;
    ASSERT_TRUE(waitFor([&] { return (calls = recordedCalls(bus)).size() >= 2; })) << host.stderrText();
    std::sort(calls.begin(), calls.end());
    // A second host on the same session (the window's, beside the headless one) sees the same alerts but
    // leaves the notifying to the first.
    Host second(machine.launch(bus.address));
    const gint64 secondStarted = g_get_monotonic_time();
    EXPECT_EQ(calls, (std::vector<std::string>{
                         notify(0, "Battery low", kBattery, false),
                         notify(0, "Critical temperature", "CPU Package is at 98 °C (its limit is 100 °C).", true)}));
    const json alerts = host.call("alerts");
    ASSERT_EQ(alerts.size(), 2u) << alerts;
    EXPECT_EQ(json({alerts[0]["rule"], alerts[0]["severity"], alerts[1]["rule"], alerts[1]["severity"]}),
              json({"temperature", "critical", "battery", "warning"}));
    const std::string metrics = host.request("GET", "/metrics").body;
    EXPECT_NE(metrics.find("velquette_alert_firing{rule=\"battery\",severity=\"warning\"} 1"), std::string::npos);
    EXPECT_NE(metrics.find("velquette_alert_firing{rule=\"battery\",severity=\"critical\"} 0"), std::string::npos);

    // The battery's id, as the server gave it (it numbers from 1 in the order they came), is what the
    // escalation replaces and the clearing closes.
    const int batteryId = recordedCalls(bus)[0].find("'Battery") != std::string::npos ? 1 : 2;
    EXPECT_EQ(host.call("setAlertRule", {"battery", "critical", 20}), "battery: critical must be at or below warning (10)");
    EXPECT_EQ(host.call("setAlertRule", {"battery", "critical", 5}), "");
    ASSERT_TRUE(waitFor([&] { return (calls = recordedCalls(bus)).size() >= 3; }));
    EXPECT_EQ(calls[2], notify(batteryId, "Battery critically low", kBattery, true));
    EXPECT_EQ(host.call("alertRule", {"battery"}),
              json::parse(R"({"enabled":true,"warning":10.0,"critical":5.0,"for":0,"clear":13.0,"clear_for":0})"));

    std::ofstream(machine.battery + "/capacity") << "50\n";
    ASSERT_TRUE(waitFor([&] { return (calls = recordedCalls(bus)).size() >= 4; })) << host.stderrText();
    // (The stand-in declares CloseNotification's id as a plain integer, and records it so.)
    EXPECT_EQ(calls[3], "CloseNotification [<" + std::to_string(batteryId) + ">]");
    // Past the second host's first retry (alerts run every 5 s), it has still shown nothing.
    g_usleep(std::max<gint64>(0, secondStarted + 7 * G_USEC_PER_SEC - g_get_monotonic_time()));
    EXPECT_EQ(recordedCalls(bus).size(), 4u);
    EXPECT_EQ(second.stop(), 0) << second.stderrText();
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

// No notification server: nothing fails, the alerts show in the page, and a
// server that appears later gets them. A broken rules file is set aside.
TEST(Alerts, WithoutANotificationServerAndWithABrokenRulesFile) {
    Bus bus;
    ASSERT_TRUE(bus.connection) << "dbus-daemon is needed";
    Machine machine;
    std::ofstream(machine.tree.path + "/config/velquette/alerts.conf") << "[battery]\nwarning=ten\n";
    Host host(machine.launch(bus.address));
    // The defaults: the battery at 4 % is critical; the processor's hold is 10 s, not yet passed.
    const json alerts = host.call("alerts");
    EXPECT_EQ(json({alerts.size(), alerts[0]["severity"]}), json({1, "critical"})) << alerts;
    EXPECT_TRUE(fs::exists(machine.tree.path + "/config/velquette/alerts.conf.bad"));
    EXPECT_FALSE(fs::exists(machine.tree.path + "/config/velquette/alerts.conf"));

    Child server = startServer(bus);
    ASSERT_TRUE(server) << "python3-dbusmock is needed";
    std::vector<std::string> calls;
    EXPECT_TRUE(waitFor([&] {
        calls = recordedCalls(bus);
        return std::count(calls.begin(), calls.end(), notify(0, "Battery critically low", kBattery, true)) == 1;
    })) << testing::PrintToString(calls);
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

}  // namespace
}  // namespace vq::e2e
