// The widget page in headless Chromium: against the host on a simulated
// machine and on this machine, and against a stand-in host that disappears
// and comes back. Screenshots are kept under <build>/artifacts/.

#include <signal.h>

#include <gtest/gtest.h>

#include <regex>

#include <nlohmann/json.hpp>

#include "chromium.h"
#include "fake_host.h"
#include "host_process.h"
#include "png_image.h"
#include "scratch_machine.h"

namespace vq::e2e {
namespace {

using nlohmann::json;

// The widget's colours for the system and user shares and the
// "disconnected" mark (style.css).
constexpr Rgb kSystemColour{0xff, 0x7a, 0x59};
constexpr Rgb kUserColour{0x4c, 0xb8, 0xff};
constexpr Rgb kWarnColour{0xf5, 0xb6, 0x42};
// The memory bar's wired and active shares.
constexpr Rgb kWiredColour{0xe8, 0x79, 0xf9};
constexpr Rgb kActiveColour{0x34, 0xd3, 0x99};

// Like intel-two-core.json, but every later sample adds the same ticks, so
// every refresh shows the same figures: core 0 at system 10.6 %, user 20.7 %
// (busy 31), core 1 at system 10.6 %, user 10 % (busy 20); summary 10, 15, 0,
// idle 75, busy 25.
const std::string kSteadyMachine = VQ_E2E_FIXTURES_DIR "/steady-two-core.json";

// A machine with memory figures, four volumes (one a disk image, left out)
// and two reported interfaces; see host_memory_disks_network_test.cpp.
const std::string kDeskMachine = VQ_E2E_FIXTURES_DIR "/desk-with-volumes-and-network.json";

// What the stand-in host answers: the steady machine's processor figures,
// then memory, volumes and network. Its volume icon does not exist.
const std::string kBatchAnswer = R"([{"result":[[10,15,0,75,25],[[31,10.6,20.7,0],[20,10.6,10.0,0]]]},
  {"result":"0.50, 0.25, 1.00"},{"result":"1d 2h 3m"},{"result":"57 tasks, 213 threads"},
  {"result":["512mb","3.26gb","2.00gb","1.00gb","1.26gb",68.48,"606,682","1.7mil","1.50gb","2.0gb",26.46,42.01]},
  {"result":false},
  {"result":[["vm",20,"4.00GB","16.00GB","/","/icons/volumes/vm.png"]]},
  {"result":true},
  {"result":[["eth0","Ethernet","192.0.2.1","12kb/s","3kb/s","154mb","20mb"]]}])";

const std::vector<std::string> kRefreshCalls{"cpuUsage",    "load",         "uptime",
                                             "processinfo", "memoryUsage",  "hasDiskSetupChanged",
                                             "diskUsage",   "hasNetworkSetupChanged", "network"};

bool statusShown(const std::string& dom) {
    std::smatch m;
    if (!std::regex_search(dom, m, std::regex(R"(<span id="status"[^>]*>)"))) return false;
    return m[0].str().find("hidden") == std::string::npos;
}

bool bodyDisconnected(const std::string& dom) {
    return std::regex_search(dom, std::regex(R"(<body[^>]*class="[^"]*\bdisconnected\b)"));
}

std::vector<int> coreBusyValues(const std::string& dom) {
    std::vector<int> values;
    std::regex pattern(R"rx(class="core-bar" data-busy="(\d+)")rx");
    for (std::sregex_iterator it(dom.begin(), dom.end(), pattern), end; it != end; ++it)
        values.push_back(std::stoi((*it)[1]));
    return values;
}

void expectSimulatedFigures(const std::string& dom) {
    EXPECT_EQ(textOfId(dom, "cpu-system"), "10");
    EXPECT_EQ(textOfId(dom, "cpu-user"), "15");
    EXPECT_EQ(textOfId(dom, "cpu-nice"), "0");
    EXPECT_EQ(textOfId(dom, "cpu-idle"), "75");
    EXPECT_EQ(textOfId(dom, "cpu-busy"), "25");
    EXPECT_EQ(countClass(dom, "core-bar"), 2u);
    EXPECT_EQ(coreBusyValues(dom), (std::vector<int>{31, 20}));
    EXPECT_EQ(textOfId(dom, "load"), "0.50, 0.25, 1.00");
    EXPECT_EQ(textOfId(dom, "uptime"), "1d 2h 3m");
    EXPECT_EQ(textOfId(dom, "processinfo"), "57 tasks, 213 threads");
}

void expectPlaceholders(const std::string& dom) {
    for (const char* id : {"cpu-system", "cpu-user", "cpu-nice", "cpu-idle", "cpu-busy", "load", "uptime",
                           "processinfo", "mem-used-percent", "mem-free", "mem-used", "mem-active", "mem-inactive",
                           "mem-wired", "mem-pageins", "mem-pageouts", "mem-swap"})
        EXPECT_EQ(textOfId(dom, id), "–") << id;
    EXPECT_EQ(countClass(dom, "core-bar"), 0u);
    EXPECT_EQ(countClass(dom, "volume"), 0u);
    EXPECT_EQ(countClass(dom, "interface"), 0u);
    EXPECT_EQ(textsOfClass(dom, "empty"), (std::vector<std::string>{"–", "–"}));
}

// The stand-in host's memory, volume and network answers on the page.
void expectStandInRows(const std::string& dom) {
    EXPECT_EQ(textOfId(dom, "mem-used-percent"), "68");
    EXPECT_EQ(textOfId(dom, "mem-wired"), "1.26gb");
    EXPECT_EQ(textOfId(dom, "mem-swap"), "2.0gb");
    EXPECT_EQ(textsOfClass(dom, "volume-name"), std::vector<std::string>{"vm"});
    EXPECT_EQ(textsOfClass(dom, "volume-percent"), std::vector<std::string>{"20%"});
    EXPECT_EQ(textsOfClass(dom, "interface-name"), std::vector<std::string>{"eth0"});
    EXPECT_EQ(textsOfClass(dom, "interface-in"), std::vector<std::string>{"12kb/s"});
    // The icon is missing on the stand-in host: the drawn stand-in shows.
    EXPECT_TRUE(std::regex_search(dom, std::regex(R"(<img [^>]*data-loaded="false")"))) << dom;
    EXPECT_EQ(countClass(dom, "no-icon"), 1u);
}

// Every request of the page was one /batch of every section's calls, the
// change flags before the calls they affect.
void expectOneBatchPerRefresh(const std::vector<FakeHost::Call>& posts) {
    for (const auto& post : posts) {
        EXPECT_EQ(post.path, "/batch");
        auto calls = json::parse(post.body, nullptr, false);
        ASSERT_TRUE(calls.is_array()) << post.body;
        std::vector<std::string> names;
        for (const auto& call : calls) names.push_back(call.value("method", ""));
        EXPECT_EQ(names, kRefreshCalls) << post.body;
    }
}

class BrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto found = findChromium();
        if (!found) GTEST_SKIP() << "no Chromium: scripts/bootstrap installs it (or set VELQUETTE_CHROMIUM)";
        chromium_ = *found;
    }

    PageSnapshot load(const std::string& url, const std::string& screenshotName, int budgetMs = 4000,
                      int height = kHeight) {
        PageLoad request{url, screenshotName.empty() ? "" : artifactPath(screenshotName), kWidth, height, budgetMs};
        if (!request.screenshotPath.empty()) std::remove(request.screenshotPath.c_str());
        auto page = loadPage(chromium_, request);
        EXPECT_TRUE(page.ok) << page.log;
        return page;
    }

    static std::optional<PngImage> screenshot(const std::string& name, int height = kHeight) {
        auto image = readPng(artifactPath(name));
        EXPECT_TRUE(image) << "no screenshot at " << artifactPath(name);
        if (image) {
            EXPECT_EQ(image->width, std::uint32_t(kWidth));
            EXPECT_EQ(image->height, std::uint32_t(height));
        }
        return image;
    }

    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;
    // Tall enough for every section.
    static constexpr int kFullHeight = 720;
    std::string chromium_;
};

TEST_F(BrowserTest, ShowsTheSimulatedMachine) {
    HostProcess host(HostLaunch{kSteadyMachine, {}});
    auto page = load(host.url(), "cpu-simulated");
    expectSimulatedFigures(page.dom);
    EXPECT_FALSE(statusShown(page.dom));
    EXPECT_FALSE(bodyDisconnected(page.dom));

    if (auto image = screenshot("cpu-simulated")) {
        // Two bars with system and user segments, and their legend swatches.
        EXPECT_GT(image->countNear(kSystemColour), 200u);
        EXPECT_GT(image->countNear(kUserColour), 200u);
        EXPECT_EQ(image->countNear(kWarnColour), 0u);
    }
    auto status = host.stop(SIGTERM);
    EXPECT_TRUE(status.exitedWith(0)) << describe(status) << "\n" << host.stderrText();
}

TEST_F(BrowserTest, ShowsMemoryVolumesAndNetworkOfTheSimulatedMachine) {
    ScratchMachine machine(kDeskMachine);
    HostProcess host(HostLaunch{machine.machineFile(), {}});
    auto page = load(host.url(), "sections-simulated", 4000, kFullHeight);
    EXPECT_FALSE(statusShown(page.dom));

    EXPECT_EQ(textOfId(page.dom, "mem-used-percent"), "68");
    EXPECT_EQ(textOfId(page.dom, "mem-free"), "512mb");
    EXPECT_EQ(textOfId(page.dom, "mem-used"), "3.26gb");
    EXPECT_EQ(textOfId(page.dom, "mem-active"), "2.00gb");
    EXPECT_EQ(textOfId(page.dom, "mem-inactive"), "1.00gb");
    EXPECT_EQ(textOfId(page.dom, "mem-wired"), "1.26gb");
    EXPECT_EQ(textOfId(page.dom, "mem-pageins"), "606,682");
    EXPECT_EQ(textOfId(page.dom, "mem-pageouts"), "1.7mil");
    EXPECT_EQ(textOfId(page.dom, "mem-swap"), "2.0gb");
    EXPECT_TRUE(std::regex_search(page.dom, std::regex(R"(id="mem-bar"[^>]*data-used="68")"))) << page.dom;

    // Three volumes in the miner's order, the disk image left out, each
    // with its icon loaded from the host.
    EXPECT_EQ(countClass(page.dom, "volume"), 3u);
    EXPECT_EQ(textsOfClass(page.dom, "volume-name"),
              (std::vector<std::string>{"Main Disk", "Backup Disk", "Données"}));
    EXPECT_EQ(textsOfClass(page.dom, "volume-percent"), (std::vector<std::string>{"75%", "62%", "25%"}));
    EXPECT_EQ(textsOfClass(page.dom, "volume-used"), (std::vector<std::string>{"192.00GB", "640.00GB", "4.00GB"}));
    EXPECT_EQ(textsOfClass(page.dom, "volume-free"), (std::vector<std::string>{"64.00GB", "384.00GB", "12.00GB"}));
    std::regex loadedIcon(R"(<img [^>]*src="/icons/volumes/[^"]+"[^>]*data-loaded="true")");
    EXPECT_EQ(std::distance(std::sregex_iterator(page.dom.begin(), page.dom.end(), loadedIcon), std::sregex_iterator()),
              3)
        << page.dom;
    EXPECT_EQ(countClass(page.dom, "no-icon"), 0u);

    // Two interfaces in the kernel's order, at the rates of the samples.
    EXPECT_EQ(countClass(page.dom, "interface"), 2u);
    EXPECT_EQ(textsOfClass(page.dom, "interface-name"), (std::vector<std::string>{"en0", "en1"}));
    EXPECT_EQ(textsOfClass(page.dom, "interface-kind"), (std::vector<std::string>{"Ethernet", "Wi-Fi"}));
    EXPECT_EQ(textsOfClass(page.dom, "interface-address"), (std::vector<std::string>{"192.0.2.20", "198.51.100.7"}));
    EXPECT_EQ(textsOfClass(page.dom, "interface-in"), (std::vector<std::string>{"200kb/s", "2mb/s"}));
    EXPECT_EQ(textsOfClass(page.dom, "interface-out"), (std::vector<std::string>{"20kb/s", "0kb/s"}));
    EXPECT_EQ(textsOfClass(page.dom, "interface-total-in"), (std::vector<std::string>{"154mb", "5.00gb"}));
    EXPECT_EQ(textsOfClass(page.dom, "interface-total-out"), (std::vector<std::string>{"20mb", "300mb"}));

    if (auto image = screenshot("sections-simulated", kFullHeight)) {
        // The memory bar's two shares and their legend swatches.
        EXPECT_GT(image->countNear(kWiredColour), 300u);
        EXPECT_GT(image->countNear(kActiveColour), 500u);
        EXPECT_EQ(image->countNear(kWarnColour), 0u);
    }
    auto status = host.stop(SIGTERM);
    EXPECT_TRUE(status.exitedWith(0)) << describe(status) << "\n" << host.stderrText();
}

TEST_F(BrowserTest, ShowsThisMachine) {
    TempFolder dataHome("velquette-data");
    HostProcess host(HostLaunch{std::nullopt, {}, {"XDG_DATA_HOME=" + dataHome.path()}});
    auto page = load(host.url(), "widget-real", 4000, kFullHeight);
    EXPECT_EQ(countClass(page.dom, "core-bar"), procStatProcessorCount());
    EXPECT_EQ(coreBusyValues(page.dom).size(), procStatProcessorCount());
    for (int busy : coreBusyValues(page.dom)) {
        EXPECT_GE(busy, 0);
        EXPECT_LE(busy, 100);
    }
    std::smatch m;
    std::string idle = textOfId(page.dom, "cpu-idle"), busy = textOfId(page.dom, "cpu-busy");
    ASSERT_TRUE(std::regex_match(idle, std::regex(R"(\d{1,3})"))) << idle;
    ASSERT_TRUE(std::regex_match(busy, std::regex(R"(\d{1,3})"))) << busy;
    EXPECT_EQ(std::stoi(idle) + std::stoi(busy), 100);
    for (const char* id : {"cpu-system", "cpu-user", "cpu-nice"})
        EXPECT_TRUE(std::regex_match(textOfId(page.dom, id), std::regex(R"(\d{1,3})"))) << id;
    auto load = textOfId(page.dom, "load");
    EXPECT_TRUE(std::regex_match(load, std::regex(R"(\d+\.\d\d, \d+\.\d\d, \d+\.\d\d)"))) << load;
    auto uptime = textOfId(page.dom, "uptime");
    EXPECT_TRUE(std::regex_match(uptime, std::regex(R"(\d+d \d+h \d+m)"))) << uptime;
    auto tasks = textOfId(page.dom, "processinfo");
    EXPECT_TRUE(std::regex_match(tasks, std::regex(R"(\d+ tasks, \d+ threads)"))) << tasks;
    EXPECT_FALSE(statusShown(page.dom));
    EXPECT_TRUE(std::regex_match(textOfId(page.dom, "mem-used-percent"), std::regex(R"(\d{1,3})")));
    EXPECT_TRUE(std::regex_match(textOfId(page.dom, "mem-free"), std::regex(R"(\d+mb|\d+\.\d\d[gt]b)")));
    // Every listed volume shows its icon from the host.
    std::regex loadedIcon(R"(<img [^>]*src="/icons/volumes/[^"]+"[^>]*data-loaded="true")");
    EXPECT_EQ(std::size_t(std::distance(std::sregex_iterator(page.dom.begin(), page.dom.end(), loadedIcon),
                                        std::sregex_iterator())),
              countClass(page.dom, "volume"));

    screenshot("widget-real", kFullHeight);
    auto status = host.stop(SIGTERM);
    EXPECT_TRUE(status.exitedWith(0)) << describe(status) << "\n" << host.stderrText();
}

TEST_F(BrowserTest, ShowsPlaceholdersAndDisconnectedWhileThereIsNoHost) {
    FakeHost host(VQ_WEB_DIR, {.unreachableFirst = 1 << 30, .answered = 0, .batchAnswer = kBatchAnswer});
    auto page = load(host.url(), "cpu-disconnected");
    expectPlaceholders(page.dom);
    EXPECT_TRUE(statusShown(page.dom));
    EXPECT_EQ(textOfId(page.dom, "status"), "disconnected");
    EXPECT_TRUE(bodyDisconnected(page.dom));
    // It kept trying, once a second.
    auto posts = host.posts();
    EXPECT_GE(posts.size(), 3u);
    expectOneBatchPerRefresh(posts);
    if (auto image = screenshot("cpu-disconnected")) {
        EXPECT_GT(image->countNear(kWarnColour), 50u);
    }
}

TEST_F(BrowserTest, RecoversWhenTheHostComesBack) {
    FakeHost host(VQ_WEB_DIR, {.unreachableFirst = 2, .batchAnswer = kBatchAnswer});
    auto page = load(host.url(), "", 5000);
    expectSimulatedFigures(page.dom);
    expectStandInRows(page.dom);
    EXPECT_FALSE(statusShown(page.dom));
    EXPECT_FALSE(bodyDisconnected(page.dom));
    auto posts = host.posts();
    EXPECT_GE(posts.size(), 3u);
    expectOneBatchPerRefresh(posts);
}

TEST_F(BrowserTest, KeepsTheLastFiguresDimmedWhenTheHostGoesAway) {
    FakeHost host(VQ_WEB_DIR, {.unreachableFirst = 0, .answered = 1, .batchAnswer = kBatchAnswer});
    auto page = load(host.url(), "");
    expectSimulatedFigures(page.dom);
    expectStandInRows(page.dom);
    EXPECT_TRUE(statusShown(page.dom));
    EXPECT_TRUE(bodyDisconnected(page.dom));
}

}  // namespace
}  // namespace vq::e2e
