// The widget page in headless Chromium: one DOM check and one screenshot
// (under <build>/artifacts/) per page state, against the host on a simulated
// machine and against a stand-in host that is away and comes back.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <libsoup/soup.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>

#include "e2e.h"

namespace vq::e2e {
namespace {

using Texts = std::vector<std::pair<std::string, std::string>>;

// The widget's colours (style.css): system and user shares, the memory bar's
// wired and active shares, and the "disconnected" mark.
constexpr std::uint32_t kSystem = 0xff7a59, kUser = 0x4cb8ff, kWired = 0xe879f9, kActive = 0x34d399, kWarn = 0xf5b642;

// The stand-in host's answer to every refresh: the desk machine's processor
// figures, memory, volumes (with an icon it cannot serve), network, no battery, 22 machines.
// The canned result of each call the page makes; calls not named here answer null.
const json kAnswers = [] {
    json answers = json::parse(R"({"cpuUsage": [[10,15,0,75,25],[[31,10.6,20.7,0],[20,10.6,10.0,0]]],
  "load": "0.50, 0.25, 1.00", "uptime": "1d 2h 3m", "processinfo": "57 tasks, 213 threads",
  "memoryUsage": ["512mb","3.26gb","2.00gb","1.00gb","1.26gb",68.48,"606,682","1.7mil","1.50gb","2.0gb",26.46,42.01],
  "hasDiskSetupChanged": false, "diskUsage": [["vm",20,"4.00GB","16.00GB","/","/icons/volumes/vm.png"]],
  "hasNetworkSetupChanged": true, "network": [["eth0","Ethernet","192.0.2.1","12kb/s","3kb/s","154mb","20mb"]],
  "temps": [], "fans": [], "isLaptop": false, "battery": ["Unknown","0","Unknown","Unknown","0","0%"],
  "limits": {"memoryLimitBytes": 2147483648, "memoryUsedBytes": 805306368, "cpuQuota": 1.5, "cpuThrottled": true,
             "cpuUsage": 0.75, "pidsMax": 512}})");
    // 22 machines, the first one down: the page shows 20 of them.
    for (int i = 0; i < 22; ++i)
        answers["fleet"].push_back({"10.0.0." + std::to_string(i) + ":9100", "m" + std::to_string(i), i != 0, 90 - i,
                                    50, "Tctl", 61.5, "/srv", 80, 1536, 2048, 0.5});
    return answers;
}();

// What the page shows: "#id" the text of that element, ".class" the texts of the elements of that class,
// "@attribute" its values (joined by "|"), and "~pattern" how often the pattern matches.
const Texts kCpuTexts{{"#cpu-system", "10"}, {"#cpu-user", "15"}, {"#cpu-nice", "0"}, {"#cpu-idle", "75"},
                      {"#cpu-busy", "25"}, {"@data-busy", "31|20"}, {"#load", "0.50, 0.25, 1.00"},
                      {"#uptime", "1d 2h 3m"}, {"#processinfo", "57 tasks, 213 threads"}};
const Texts kConnected{{"#status", ""}, {"~id=\"status\"[^>]* hidden", "1"}, {"~<body[^>]*disconnected", "0"}};
const Texts kDisconnected{{"#status", "reconnecting…"}, {"~id=\"status\"[^>]* hidden", "0"},
                          {"~<body[^>]*disconnected", "1"}};
// The desk machine: the disk image is left out, each icon is loaded from the
// host, the interfaces come in the kernel's order at the sampled rates; no battery.
const Texts kDeskTexts{
    {"#mem-used-percent", "68"}, {"#mem-free", "512mb"}, {"#mem-used", "3.26gb"}, {"#mem-active", "2.00gb"},
    {"#mem-inactive", "1.00gb"}, {"#mem-wired", "1.26gb"}, {"#mem-pageins", "606,682"}, {"#mem-pageouts", "1.7mil"},
    {"#mem-swap", "2.0gb"}, {"@data-used", "68|75|62|25"}, {".volume-name", "Main Disk|Backup Disk|Données"},
    {".volume-percent", "75%|62%|25%"}, {".volume-used", "192.00GB|640.00GB|4.00GB"},
    {".volume-free", "64.00GB|384.00GB|12.00GB"}, {"@data-loaded", "true|true|true"}, {"~no-icon", "0"},
    {".interface-name", "en0|en1"}, {".interface-kind", "Ethernet|Wi-Fi"}, {".interface-in", "200kb/s|2mb/s"},
    {".interface-address", "192.0.2.20|198.51.100.7"}, {".interface-out", "20kb/s|0kb/s"},
    {".interface-total-in", "154mb|5.00gb"}, {".interface-total-out", "20mb|300mb"},
    {".reading-name", "CPU A|GPU|Main Fan"}, {".reading-value", "45°|50°|1500rpm"}, {"~<section[^>]* hidden", "3"},
    {"~id=\"battery\"[^>]* hidden", "1"}, {"~id=\"machines\"[^>]* hidden", "1"}, {".process-name", "Mail|WindowServer|kernel_task"},
    {".process-cpu", "30.0%|20.0%|10.0%"}, {".process-memory", "50.0MB|150.0MB|1.0MB"},
    {"~id=\"module-notice\"[^>]* hidden", "1"}, {"~class=\"limit\" hidden", "4"}, {"#pids-max", ""}};
// The stand-in host's figures; its icon is missing, so the drawn stand-in shows.
const Texts kStandInTexts{{"#mem-used-percent", "68"}, {"#mem-wired", "1.26gb"}, {".volume-name", "vm"},
                          {".volume-percent", "20%"}, {"@data-loaded", "false"}, {"~no-icon", "1"},
                          {".interface-name", "eth0"}, {".interface-in", "12kb/s"}, {"~<section[^>]* hidden", "4"},
                          {"#mem-limit", "768MB / 2.00GB"}, {"#cpu-limit", "1.5 CPUs · 50% used · throttled"},
                          {"#pids-max", "max 512"}, {"~class=\"limit\" hidden", "0"},
                          {".machine-name", "m0|m1|m2|m3|m4|m5|m6|m7|m8|m9|m10|m11|m12|m13|m14|m15|m16|m17|m18|m19"},
                          {"~class=\"machine down\"", "1"}, {"#machines-more", "and 2 more"},
                          {"~class=\"machine-cpu\">90%<", "1"}, {"~\"machine-hottest\">Tctl 62°</span><span class="
                          "\"machine-fullest\">/srv 80%</span><span class=\"machine-rates\">↓1.5KB/s ↑2.0KB/s<", "20"}};

void expectTexts(const std::string& dom, std::initializer_list<Texts> tables) {
    for (const auto& table : tables)
        for (const auto& [selector, text] : table) {
            const std::string name = selector.substr(1);
            const std::regex re(selector[0] == '#'   ? "id=\"" + name + "\"[^>]*>([^<]*)<"
                                : selector[0] == '@' ? " " + name + "=\"([^\"]*)\""
                                : selector[0] == '.' ? "class=\"(?:[^\"]* )?" + name + "(?: [^\"]*)?\"[^>]*>([^<]*)<"
                                                     : name);
            const std::sregex_iterator begin(dom.begin(), dom.end(), re), end;
            std::string shown = selector[0] == '~' ? std::to_string(std::distance(begin, end)) : "";
            for (auto it = begin; it != end && selector[0] != '~'; ++it)
                shown += (it == begin ? "" : "|") + (*it)[1].str();
            EXPECT_EQ(shown, text) << selector;
        }
}

// Serves the real page and answers its refreshes as a test scripts: the first `unreachable` find no host (the
// connection closes unanswered), the next `answered` get kAnswers, and later ones find no host again. It runs
// on this thread's main loop, which turns while Chromium runs.
struct FakeHost {
    FakeHost(int unreachableFirst, int answeredNext) : unreachable(unreachableFirst), answered(answeredNext) {
        soup_server_add_handler(server, nullptr, &FakeHost::handle, this, nullptr);
        soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
        GSList* uris = soup_server_get_uris(server);
        url = "http://127.0.0.1:" + std::to_string(g_uri_get_port(static_cast<GUri*>(uris->data))) + "/";
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }
    ~FakeHost() { g_object_unref(server); }

    static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer self) {
        auto& host = *static_cast<FakeHost*>(self);
        // A fresh connection for every request, as after a host restart.
        soup_message_headers_replace(soup_server_message_get_response_headers(message), "Connection", "close");
        soup_server_message_set_status(message, 200, nullptr);
        if (soup_server_message_get_method(message) == std::string("POST")) {
            // The page's calls, by name, for each POST.
            g_autoptr(GBytes) bytes = soup_message_body_flatten(soup_server_message_get_request_body(message));
            const std::string body(static_cast<const char*>(g_bytes_get_data(bytes, nullptr)), g_bytes_get_size(bytes));
            std::string names = path + std::string(":");
            json answer = json::array();
            for (const auto& call : json::parse(body, nullptr, false)) {
                names += " " + call.value("method", "?");
                answer.push_back({{"result", kAnswers.value(call.value("method", "?"), json())}});
            }
            host.posts.push_back(names);
            const int index = int(host.posts.size()) - 1;
            if (index < host.unreachable || index >= host.unreachable + host.answered) {
                g_autoptr(GIOStream) connection = soup_server_message_steal_connection(message);
                g_io_stream_close(connection, nullptr, nullptr);
                return;
            }
            const std::string text = answer.dump();
            return soup_server_message_set_response(message, "application/json", SOUP_MEMORY_COPY, text.data(),
                                                    text.size());
        }
        const std::string name = path == std::string("/") ? "/index.html" : path, file = readFile(VQ_WEB_DIR + name);
        const char* type = name.ends_with(".html") ? "text/html"
                           : name.ends_with(".css") ? "text/css"
                                                    : "text/javascript";
        soup_server_message_set_response(message, type, SOUP_MEMORY_COPY, file.data(), file.size());
    }

    SoupServer* server = soup_server_new(nullptr, nullptr);
    int unreachable, answered;
    std::string url;
    std::vector<std::string> posts;
};

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* chosen = std::getenv("VELQUETTE_CHROMIUM");
        g_autofree char* found = g_find_program_in_path(chosen && *chosen ? chosen : "chromium");
        if (!found) GTEST_SKIP() << "no Chromium: scripts/bootstrap installs it (or set VELQUETTE_CHROMIUM)";
        chromium_ = found;
    }

    // The DOM after `budgetMs` of virtual time, while this thread's main loop
    // turns; the screenshot goes to <build>/artifacts/<name>.png.
    // A profile folder given by the caller is kept between loads, as a
    // browser keeps its storage between visits.
    std::string load(const std::string& url, const std::string& name, int height, int budgetMs = 4000,
                     const std::string& keptProfile = "") {
        std::filesystem::create_directories(VQ_ARTIFACTS_DIR);
        screenshot_ = VQ_ARTIFACTS_DIR "/" + name + ".png";
        std::filesystem::remove(screenshot_);
        TempDir scratchProfile;
        const std::string& profile = keptProfile.empty() ? scratchProfile.path : keptProfile;
        const std::string command =
            "timeout 60 " + chromium_ +
            " --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run --disable-extensions"
            " --disable-background-networking --force-device-scale-factor=1 --dump-dom --user-data-dir=" +
            profile + " --virtual-time-budget=" + std::to_string(budgetMs) + " --window-size=320," +
            std::to_string(height) + " --screenshot=" + screenshot_ + " " + url;
        g_auto(GStrv) argv = nullptr;
        g_shell_parse_argv(command.c_str(), nullptr, &argv, nullptr);
        g_autoptr(GSubprocess) chromium = g_subprocess_newv(
            argv, GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_MERGE), nullptr);
        std::pair<GMainLoop*, char*> run{g_main_loop_new(nullptr, FALSE), nullptr};
        auto done = [](GObject* process, GAsyncResult* result, gpointer data) {
            auto* ran = static_cast<std::pair<GMainLoop*, char*>*>(data);
            g_subprocess_communicate_utf8_finish(G_SUBPROCESS(process), result, &ran->second, nullptr, nullptr);
            g_main_loop_quit(ran->first);
        };
        g_subprocess_communicate_utf8_async(chromium, nullptr, nullptr, done, &run);
        g_main_loop_run(run.first);
        g_main_loop_unref(run.first);
        g_autofree char* output = run.second;
        EXPECT_TRUE(g_subprocess_get_successful(chromium) && output && strstr(output, "<html")) << output;
        return output ? output : "";
    }

    // How many pixels of the screenshot are within 8 of the colour in every channel.
    std::size_t countNear(int height, std::uint32_t colour) {
        g_autoptr(GdkPixbuf) image = gdk_pixbuf_new_from_file(screenshot_.c_str(), nullptr);
        EXPECT_NE(image, nullptr) << "no screenshot at " << screenshot_;
        if (!image) return 0;
        EXPECT_EQ(gdk_pixbuf_get_width(image), 320);
        EXPECT_EQ(gdk_pixbuf_get_height(image), height);
        const int channels = gdk_pixbuf_get_n_channels(image), stride = gdk_pixbuf_get_rowstride(image);
        std::size_t count = 0;
        for (int y = 0; y < gdk_pixbuf_get_height(image); ++y)
            for (int x = 0; x < gdk_pixbuf_get_width(image); ++x) {
                const guchar* p = gdk_pixbuf_read_pixels(image) + y * stride + x * channels;
                count += std::abs(p[0] - int(colour >> 16)) <= 8 && std::abs(p[1] - int(colour >> 8 & 0xff)) <= 8 &&
                         std::abs(p[2] - int(colour & 0xff)) <= 8;
            }
        return count;
    }

    // Every POST of the page was one /batch of every section's calls, the
    // change flags before the calls they affect; it kept trying once a second.
    // Only the first asked the disk for a fresh temperature; the processes
    // are asked every third refresh after an answer, the processor until answered.
    static void expectOneBatchPerRefresh(const FakeHost& host) {
        EXPECT_GE(host.posts.size(), 3u);
        std::optional<std::size_t> processesAnswered;
        bool processorKnown = false;
        for (std::size_t i = 0; i < host.posts.size(); ++i) {
            const bool processes = !processesAnswered || i - *processesAnswered >= 3;
            std::string expected = std::string("/batch: alerts cpuUsage load uptime processinfo memoryUsage limits "
                                               "hasDiskSetupChanged diskUsage hasNetworkSetupChanged network gpus "
                                               "setShouldMonitorSMARTTemps ") +
                                   (i == 0 ? "setNeedsSMARTUpdate " : "") + "temps fans isLaptop battery" +
                                   (processes ? " topProcesses getselfpid" : "") + " fleet" +
                                   (processorKnown ? "" : " isIntel hasSMC needsIntelBundle fans");
            EXPECT_EQ(host.posts[i], expected) << i;
            if (int(i) >= host.unreachable && int(i) < host.unreachable + host.answered) {
                if (processes) processesAnswered = i;
                processorKnown = true;
            }
        }
    }

    std::string chromium_, screenshot_;
};

TEST_F(BrowserTest, ShowsEverySectionOfTheSimulatedMachine) {
    Host host({kDeskMachine});
    expectTexts(load(host.url, "sections-simulated", 840), {kCpuTexts, kDeskTexts, kConnected});
    for (const auto& [colour, least] : {std::pair{kSystem, 200u}, {kUser, 200u}, {kWired, 300u}, {kActive, 500u}})
        EXPECT_GT(countNear(840, colour), least) << std::hex << colour;
    EXPECT_EQ(countNear(840, kWarn), 0u);
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

// The busiest processes of this machine: a busy process that the test starts is shown, by its name.
TEST_F(BrowserTest, ShowsTheBusiestProcessesOfThisMachine) {
    TempDir data;
    Host host({std::nullopt, {}, {"XDG_DATA_HOME=" + data.path}});
    BusyProcess busy;
    // On a loaded machine the first list (each process's time since it started) may rank long-running busy
    // processes above the new one; the budget leaves room for a second list, over its own interval, and its names.
    const std::string dom = load(host.url, "processes-this-machine", 840, 9000);
    // The rows' names down to the busy process's row.
    const std::regex row("data-pid=\"(\\d+)\"[^>]*>.*?class=\"process-name\">([^<]*)<");
    std::string names;
    for (std::sregex_iterator it(dom.begin(), dom.end(), row), end; it != end; ++it) {
        names += (*it)[2].str() + "|";
        if ((*it)[1] == std::to_string(busy.pid)) break;
    }
    // Other processes may outrank it on a loaded machine (a build, another test); its row and name must be there.
    EXPECT_TRUE(std::regex_search(names, std::regex("velquette-busy-process\\|$"))) << names;
    EXPECT_NE(dom.find("data-pid=\"" + std::to_string(busy.pid) + "\""), std::string::npos);
    // The GPU section shows exactly when this machine has a GPU to tell of (none on a VM).
    expectTexts(dom, {{{"~class=\"process( self)?\" data-pid", "5"},
                       {"~id=\"gpu\"[^>]* hidden", host.call("gpus").empty() ? "1" : "0"}}});
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

// Each section shows what the host answered; a section without data on the
// machine stays hidden.
TEST_F(BrowserTest, EachMachineShowsItsSectionsAndHidesTheRest) {
    const std::pair<std::string, std::string> machines[] = {
        {kDeskMachine, "desk"},
        {VQ_E2E_FIXTURES_DIR "/macbook-everything.json", "macbook"},
        {VQ_E2E_FIXTURES_DIR "/powerbook-everything.json", "powerbook"},
    };
    for (const auto& [machine, name] : machines) {
        SCOPED_TRACE(name);
        Host host({machine});
        std::string readings, hidden;
        for (const char* call : {"temps", "fans"})
            for (const json& row : host.call(call, call == std::string("temps") ? json{0} : json::array()))
                readings += (readings.empty() ? "" : "|") + row[1].get<std::string>();
        const bool laptop = host.call("isLaptop") == true;
        // The simulated GPUs' first sample goes here; the page sees the last one.
        const bool gpus = !host.call("gpus").empty();
        const std::string dom = load(host.url, "machine-" + name, 1100);
        // The battery's samples move on with each call, so its charge is checked by form.
        expectTexts(dom, {{{".reading-value", readings},
                           {"~id=\"battery\"[^>]* hidden", laptop ? "0" : "1"},
                           {"~id=\"fans\"[^>]* hidden", readings.find("rpm") == std::string::npos ? "1" : "0"},
                           {"~id=\"battery-charge\"[^>]*>[0-9]+%<", laptop ? "1" : "0"},
                           {"~id=\"gpu\"[^>]* hidden", gpus ? "0" : "1"},
                           // History lines of at least two samples each.
                           {"~class=\"spark (busy|down|up)\" points=\"[^\" ]+ [^\"]+\"", gpus ? "4" : "3"}}});
        // The MacBook's discrete GPU is busy and its integrated one asleep.
        if (gpus)
            expectTexts(dom, {{{".gpu-name", "Radeon Pro 5500M|UHD Graphics 630"}, {".gpu-busy", "61%|asleep"},
                               {".gpu-figures", "VRAM 1.2 / 8.0gb · 55° · 24 W · 1450 MHz|"}, {"#gpu-busy", "61"}}});
        EXPECT_EQ(host.stop(), 0) << host.stderrText();
    }
}

// The module notice shows only where the module would bring the fans: an
// Intel Mac whose SMC answers and that shows no fans otherwise.
TEST_F(BrowserTest, TheModuleNoticeShowsOnlyOnAnIntelMacWithAnSmcAndNoFans) {
    TempDir scratch;
    json fanless = json::parse(readFile(kDeskMachine));
    fanless["smc"]["keys"]["FNum"]["bytes"] = "00";
    std::ofstream(scratch.path + "/fanless-mac.json") << fanless.dump();
    const std::pair<Launch, std::string> machines[] = {
        {{std::nullopt, {}, {"VELQUETTE_SYS_ROOT=" VQ_FIXTURES_DIR "/linux/hwmon-amd-desktop"}}, "1"},
        {{std::nullopt, {}, {"VELQUETTE_SYS_ROOT=" VQ_FIXTURES_DIR "/linux/hwmon-pi"}}, "1"},
        {{scratch.path + "/fanless-mac.json"}, "0"},
    };
    for (auto [launch, hidden] : machines) {
        SCOPED_TRACE(launch.environment.empty() ? "fanless Mac" : launch.environment[0]);
        launch.environment.push_back("XDG_DATA_HOME=" + scratch.path);
        Host host(launch);
        expectTexts(load(host.url, "notice", 840), {{{"~id=\"module-notice\"[^>]* hidden", hidden}}});
    }
}

// Settings given in the address are kept in the browser's storage: a later
// visit without them shows the same unit, theme, layout and sections.
TEST_F(BrowserTest, SettingsSurviveAReload) {
    Host host({VQ_E2E_FIXTURES_DIR "/macbook-everything.json"});
    std::string fahrenheit;
    for (const json& row : host.call("temps", {1})) fahrenheit += (fahrenheit.empty() ? "" : "|") + row[1].get<std::string>();
    TempDir profile;
    load(host.url + "#unit=F&theme=light&layout=compact&hide=processes,network", "settings-set", 840, 3000,
         profile.path);
    const std::string dom = load(host.url, "settings-kept", 840, 3000, profile.path);
    expectTexts(dom, {{{"@data-theme", "light"}, {"@data-layout", "compact"}, {"#temp-unit", "°F"},
                       {"~id=\"processes\"[^>]* data-off", "1"}, {"~id=\"network\"[^>]* data-off", "1"},
                       {"~id=\"cpu\"[^>]* data-off", "0"}}});
    EXPECT_NE(dom.find(fahrenheit.substr(0, fahrenheit.find('|'))), std::string::npos) << fahrenheit;
    // The other profile never saw the settings.
    expectTexts(load(host.url, "settings-default", 840, 3000), {{{"@data-theme", "system"}, {"#temp-unit", "°C"}}});
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

// A section switched off in the settings sends no calls at all.
TEST_F(BrowserTest, SectionsSwitchedOffCostTheHostNothing) {
    FakeHost host(0, 1 << 30);
    load(host.url + "#hide=processes,temperatures,fans,battery", "sections-off", 240);
    ASSERT_GE(host.posts.size(), 2u);
    for (std::size_t i = 0; i < host.posts.size(); ++i)
        EXPECT_EQ(host.posts[i], std::string("/batch: alerts cpuUsage load uptime processinfo memoryUsage limits hasDiskSetupChanged "
                                             "diskUsage hasNetworkSetupChanged network gpus fleet") +
                                     (i == 0 ? " isIntel hasSMC needsIntelBundle fans" : ""));
}

TEST_F(BrowserTest, ShowsTheStartUpDiskTemperature) {
    Host host({VQ_FIXTURES_DIR "/machines/smart-disk0.json"});
    const Texts shown{{"~id=\"temperatures\"[^>]* hidden", "0"}, {".reading-name", "HD: Workhorse"},
                      {".reading-value", "35°"}, {"@aria-pressed", "true"}};
    expectTexts(load(host.url, "disk-temperature", 840), {shown});
    EXPECT_EQ(host.stop(), 0) << host.stderrText();
}

TEST_F(BrowserTest, ShowsPlaceholdersAndDisconnectedWhileThereIsNoHost) {
    FakeHost host(1 << 30, 0);
    const Texts placeholders{{"#cpu-system", "–"}, {"#cpu-busy", "–"}, {"#load", "–"}, {"#uptime", "–"},
                             {"#processinfo", "–"}, {"#mem-used-percent", "–"}, {"#mem-free", "–"},
                             {"#mem-wired", "–"}, {"#mem-pageouts", "–"}, {"#mem-swap", "–"}, {"@data-busy", ""},
                             {".volume-name", ""}, {".interface-name", ""}, {".empty", "–|–|–"}};
    expectTexts(load(host.url, "disconnected", 240), {placeholders, kDisconnected});
    expectOneBatchPerRefresh(host);
    EXPECT_GT(countNear(240, kWarn), 50u);
}

TEST_F(BrowserTest, RecoversWhenTheHostComesBack) {
    FakeHost host(2, 1 << 30);
    expectTexts(load(host.url, "recovered", 240, 5000), {kCpuTexts, kStandInTexts, kConnected});
    expectOneBatchPerRefresh(host);
    EXPECT_EQ(countNear(240, kWarn), 0u);
}

TEST_F(BrowserTest, KeepsTheLastFiguresDimmedWhenTheHostGoesAway) {
    FakeHost host(0, 1);
    expectTexts(load(host.url, "dimmed", 240), {kCpuTexts, kStandInTexts, kDisconnected});
    EXPECT_GT(countNear(240, kWarn), 50u);
}

}  // namespace
}  // namespace vq::e2e
