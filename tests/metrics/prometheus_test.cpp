// The host as a Prometheus target: a real Prometheus scraping it, promtool
// judging its page, and Debian's node_exporter beside it on this machine and
// on fixture sysfs trees; and the Machines section read back from that
// Prometheus. Each server runs on a free loopback port with its data in a
// scratch folder.

#include <crypt.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <libsoup/soup.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "e2e.h"
#include "exposition_check.h"

namespace vq::e2e {
namespace {

using metrics::check::Exposition;
using metrics::check::parseExposition;

constexpr const char* kPrometheus = "/usr/bin/prometheus";
constexpr const char* kPromtool = "/usr/bin/promtool";
constexpr const char* kNodeExporter = "/usr/bin/prometheus-node-exporter";
const std::string kFixtures = VQ_FIXTURES_DIR "/linux/";

std::uint16_t freePort() {
    g_autoptr(GSocket) socket = g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr);
    g_autoptr(GInetAddress) loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    g_autoptr(GSocketAddress) address = g_inet_socket_address_new(loopback, 0);
    g_socket_bind(socket, address, TRUE, nullptr);
    g_autoptr(GSocketAddress) bound = g_socket_get_local_address(socket, nullptr);
    return g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
}

// Status and body of a GET; status 0 when nothing answered.
std::pair<int, std::string> get(const std::string& url) {
    static SoupSession* session = soup_session_new_with_options("proxy-resolver", nullptr, "timeout", 10, nullptr);
    g_autoptr(SoupMessage) message = soup_message_new("GET", url.c_str());
    g_autoptr(GBytes) body = soup_session_send_and_read(session, message, nullptr, nullptr);
    gsize size = 0;
    const auto* data = body ? static_cast<const char*>(g_bytes_get_data(body, &size)) : nullptr;
    return {int(soup_message_get_status(message)), std::string(data ? data : "", size)};
}

bool waitFor(const std::function<bool()>& condition, int seconds = 30) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
}

// A server program for as long as this lives, its output in a scratch file.
class Daemon {
public:
    explicit Daemon(const std::vector<std::string>& argv) {
        g_autoptr(GSubprocessLauncher) launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_SILENCE);
        g_subprocess_launcher_set_stderr_file_path(launcher, (scratch.path + "/log").c_str());
        std::vector<const char*> args;
        for (const auto& arg : argv) args.push_back(arg.c_str());
        args.push_back(nullptr);
        process_ = g_subprocess_launcher_spawnv(launcher, args.data(), nullptr);
        if (!process_) throw std::runtime_error("cannot start " + argv[0]);
    }
    ~Daemon() {
        g_subprocess_force_exit(process_);
        g_subprocess_wait(process_, nullptr, nullptr);
        g_object_unref(process_);
    }
    std::string log() const { return readFile(scratch.path + "/log"); }
    TempDir scratch;

private:
    GSubprocess* process_ = nullptr;
};

struct NodeExporter {
    explicit NodeExporter(std::vector<std::string> flags) : port(freePort()) {
        flags.insert(flags.begin(), {kNodeExporter, "--web.listen-address=127.0.0.1:" + std::to_string(port)});
        daemon.emplace(flags);
        if (!waitFor([&] { return get(url()).first == 200; })) throw std::runtime_error("node_exporter: " + daemon->log());
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/metrics"; }
    std::uint16_t port;
    std::optional<Daemon> daemon;
};

// Prometheus scraping one target every second; `job` is the YAML of the
// scrape job after its target (scheme, basic_auth, tls_config).
struct Prometheus {
    Prometheus(std::uint16_t target, const std::string& job = "") : port(freePort()) {
        const std::string config = folder.path + "/prometheus.yml";
        std::ofstream(config) << "global: {scrape_interval: 1s, scrape_timeout: 1s, evaluation_interval: 1s}\n"
                              << "scrape_configs:\n- job_name: velquette\n  static_configs: [{targets: ['127.0.0.1:"
                              << target << "']}]\n" << job;
        daemon.emplace(std::vector<std::string>{kPrometheus, "--config.file=" + config,
            "--storage.tsdb.path=" + folder.path + "/data", "--web.listen-address=127.0.0.1:" + std::to_string(port)});
        if (!waitFor([&] { return get(api("/-/ready")).first == 200; })) throw std::runtime_error(daemon->log());
    }
    std::string api(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
    // The target's health and last error once it has been scraped.
    std::pair<std::string, std::string> target() const {
        const auto targets = json::parse(get(api("/api/v1/targets")).second)["data"]["activeTargets"];
        if (targets.empty()) return {"unknown", ""};
        return {targets[0]["health"], targets[0]["lastError"]};
    }
    json query(const std::string& expression) const {
        g_autofree char* escaped = g_uri_escape_string(expression.c_str(), nullptr, FALSE);
        return json::parse(get(api("/api/v1/query?query=") + escaped).second)["data"]["result"];
    }
    TempDir folder;
    std::uint16_t port;
    std::optional<Daemon> daemon;
};

bool installed(const char* program) { return ::access(program, X_OK) == 0; }

Exposition scrape(const std::string& url) {
    const auto [status, body] = get(url);
    EXPECT_EQ(status, 200);
    return parseExposition(body);
}

TEST(PrometheusScrape, TargetIsUpAndALabelWithQuoteAndBackslashComesBackIntact) {
    if (!installed(kPrometheus)) GTEST_SKIP() << kPrometheus << " is not installed (scripts/bootstrap installs it)";
    Host host({std::nullopt, {}, {"VELQUETTE_SYS_ROOT=" + kFixtures + "metrics-quoted-label"}});
    Prometheus prometheus(host.port);
    ASSERT_TRUE(waitFor([&] { return prometheus.target().first == "up"; })) << prometheus.target().second;
    EXPECT_EQ(prometheus.target().second, "");
    json labels;
    ASSERT_TRUE(waitFor([&] { return !(labels = prometheus.query("node_hwmon_sensor_label")).empty(); }));
    EXPECT_EQ(labels[0]["metric"]["label"], R"(Core "0" \ edge)");
    EXPECT_EQ(labels[0]["metric"]["chip"], "platform_coretemp_0");
    EXPECT_FALSE(prometheus.query("node_memory_MemTotal_bytes > 0").empty());
    EXPECT_EQ(prometheus.query("velquette_scrape_collector_success == 0"), json::array());
}

TEST(MetricsPage, PromtoolAcceptsItAndEachFamilyIsOneGroupOfUniqueSeries) {
    Host host({std::nullopt});
    const auto response = host.request("GET", "/metrics");
    ASSERT_EQ(response.status, 200);
    EXPECT_EQ(response.header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    const auto families = parseExposition(response.body);
    for (auto name : {"node_cpu_seconds_total", "node_load1", "node_memory_MemAvailable_bytes", "node_vmstat_pswpin",
                      "node_filesystem_avail_bytes", "node_boot_time_seconds", "node_time_seconds", "node_uname_info",
                      "velquette_build_info", "velquette_scrape_collector_success"})
        EXPECT_TRUE(families.contains(name)) << name;
    // The loopback guard still holds.
    EXPECT_EQ(host.request("GET", "/metrics", {{"Host", "attacker.example:" + std::to_string(host.port)}}).status, 421);

    if (!installed(kPromtool)) GTEST_SKIP() << kPromtool << " is not installed (scripts/bootstrap installs it)";
    g_autoptr(GSubprocess) promtool = g_subprocess_new(
        GSubprocessFlags(G_SUBPROCESS_FLAGS_STDIN_PIPE | G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_MERGE),
        nullptr, kPromtool, "check", "metrics", nullptr);
    g_autofree char* out = nullptr;
    ASSERT_TRUE(g_subprocess_communicate_utf8(promtool, response.body.c_str(), nullptr, &out, nullptr, nullptr));
    // Only node_exporter's own camelCase meminfo names may draw a remark.
    std::istringstream lines(out ? out : "");
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.find("node_memory_") != std::string::npos) << line;
    const bool remarks = out && *out;
    EXPECT_EQ(g_subprocess_get_exit_status(promtool), remarks ? 3 : 0) << out;
}

TEST(NodeExporterBeside, SharedFamiliesHaveTheSameNamesTypesAndLabelsAndTheSameTotals) {
    if (!installed(kNodeExporter)) GTEST_SKIP() << kNodeExporter << " is not installed (scripts/bootstrap installs it)";
    NodeExporter exporter({"--collector.disable-defaults", "--collector.cpu", "--collector.loadavg",
        "--collector.meminfo", "--collector.vmstat", "--collector.filesystem", "--collector.netdev",
        "--collector.hwmon", "--collector.powersupplyclass", "--collector.stat", "--collector.time", "--collector.uname"});
    Host host({std::nullopt});
    const auto theirs = scrape(exporter.url());
    const auto ours = parseExposition(host.request("GET", "/metrics").body);
    int shared = 0;
    for (const auto& [name, family] : ours) {
        if (!name.starts_with("node_")) continue;
        ASSERT_TRUE(theirs.contains(name)) << name << " is not a node_exporter name";
        ++shared;
        EXPECT_EQ(family.type, theirs.at(name).type) << name;
        // Each supply's info series has the labels of the attributes it has.
        if (name != "node_power_supply_info") {
            EXPECT_EQ(labelNameSets(family), labelNameSets(theirs.at(name))) << name;
        }
    }
    EXPECT_GT(shared, 40);
    auto one = [](const Exposition& e, const std::string& name, const metrics::check::LabelSet& labels = {}) {
        for (const auto& [set, value] : e.at(name).series)
            if (std::all_of(labels.begin(), labels.end(), [&](auto& l) { return set.contains(l.first) && set.at(l.first) == l.second; }))
                return value;
        return -1.0;
    };
    EXPECT_EQ(one(ours, "node_memory_MemTotal_bytes"), one(theirs, "node_memory_MemTotal_bytes"));
    EXPECT_EQ(one(ours, "node_filesystem_size_bytes", {{"mountpoint", "/"}}),
              one(theirs, "node_filesystem_size_bytes", {{"mountpoint", "/"}}));
    auto cpus = [](const Exposition& e) {
        std::set<std::string> set;
        for (const auto& [labels, value] : e.at("node_cpu_seconds_total").series) set.insert(labels.at("cpu"));
        return set;
    };
    EXPECT_EQ(cpus(ours), cpus(theirs));
}

TEST(NodeExporterBeside, HwmonAndPowerSupplySeriesEqualOnFixtureTrees) {
    if (!installed(kNodeExporter)) GTEST_SKIP() << kNodeExporter << " is not installed (scripts/bootstrap installs it)";
    const std::vector<std::string> families = {"node_hwmon_temp_celsius", "node_hwmon_fan_rpm", "node_hwmon_chip_names",
        "node_hwmon_sensor_label", "node_power_supply_capacity", "node_power_supply_online", "node_power_supply_present",
        "node_power_supply_energy_watthour", "node_power_supply_power_watt", "node_power_supply_time_to_empty_seconds",
        "node_power_supply_info"};
    for (const auto* tree : {"hwmon-amd-desktop", "hwmon-broken", "hwmon-intel-laptop", "hwmon-intel-mac", "hwmon-pi",
                             "metrics-quoted-label", "power-dell-energy", "power-desktop-mouse", "power-fully-charged",
                             "power-macbook", "power-thinkpad-two-batteries", "power-usb-c-charger"}) {
        NodeExporter exporter({"--path.sysfs=" + kFixtures + tree, "--collector.disable-defaults", "--collector.hwmon",
                               "--collector.powersupplyclass"});
        Host host({std::nullopt, {}, {"VELQUETTE_SYS_ROOT=" + kFixtures + tree}});
        const auto theirs = scrape(exporter.url());
        const auto ours = parseExposition(host.request("GET", "/metrics").body);
        int compared = 0;
        for (const auto& name : families) {
            using Series = std::map<metrics::check::LabelSet, double>;
            const Series mine = ours.contains(name) ? ours.at(name).series : Series{};
            compared += int(mine.size());
            EXPECT_EQ(mine, theirs.contains(name) ? theirs.at(name).series : Series{}) << tree << " " << name;
        }
        EXPECT_GT(compared, 0) << tree;
    }
}

std::string bcrypt(const std::string& password) {
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_data data{};
    if (!crypt_gensalt_rn("$2b$", 4, nullptr, 0, salt, sizeof salt)) throw std::runtime_error("no bcrypt salt");
    return crypt_r(password.c_str(), salt, &data);
}

// A host with a second listener on a free loopback port, set up by this web configuration.
struct ListeningHost {
    explicit ListeningHost(const std::string& webConfig) : port(freePort()) {
        std::ofstream(folder.path + "/web.yml") << webConfig;
        host.emplace(Launch{std::nullopt, {"--metrics-listen", "127.0.0.1:" + std::to_string(port), "--web-config",
                                           folder.path + "/web.yml"}});
    }
    TempDir folder;
    std::uint16_t port;
    std::optional<Host> host;
};

TEST(MetricsListener, BasicAuthKeepsTheTargetDownUntilThePasswordIsRightAndServesNothingElse) {
    if (!installed(kPrometheus)) GTEST_SKIP() << kPrometheus << " is not installed (scripts/bootstrap installs it)";
    ListeningHost listening("basic_auth_users:\n  scraper: " + bcrypt("right horse") + "\n");
    const std::string base = "http://127.0.0.1:" + std::to_string(listening.port);
    EXPECT_EQ(get(base + "/metrics").first, 401);
    EXPECT_EQ(get(base + "/").first, 404);
    EXPECT_EQ(get(base + "/velquette.js").first, 404);
    {
        Prometheus wrong(listening.port, "  basic_auth: {username: scraper, password: wrong}\n");
        ASSERT_TRUE(waitFor([&] { return wrong.target().first == "down"; }));
        EXPECT_NE(wrong.target().second.find("401"), std::string::npos) << wrong.target().second;
        Prometheus stranger(listening.port, "  basic_auth: {username: stranger, password: right horse}\n");
        ASSERT_TRUE(waitFor([&] { return stranger.target().first == "down"; }));
    }
    Prometheus right(listening.port, "  basic_auth: {username: scraper, password: right horse}\n");
    ASSERT_TRUE(waitFor([&] { return right.target().first == "up"; })) << right.target().second;
}

TEST(MetricsListener, PrometheusScrapesOverHttpsWithAVerifiedClientCertificate) {
    if (!installed(kPrometheus)) GTEST_SKIP() << kPrometheus << " is not installed (scripts/bootstrap installs it)";
    TempDir pki;
    const std::string script = "cd " + pki.path + " && exec >log 2>&1 && "
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=test-ca -keyout ca.key -out ca.crt && "
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=rogue -keyout rogue.key -out rogue.crt && "
        "for who in server client; do "
        "openssl req -newkey rsa:2048 -nodes -subj /CN=$who -keyout $who.key -out $who.csr && "
        "printf 'subjectAltName=IP:127.0.0.1\\nextendedKeyUsage=serverAuth,clientAuth\\n' > $who.ext && "
        "openssl x509 -req -in $who.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 2 -extfile $who.ext -out $who.crt;"
        " done";
    ASSERT_EQ(std::system(script.c_str()), 0) << readFile(pki.path + "/log");
    ListeningHost listening("tls_server_config:\n  cert_file: " + pki.path + "/server.crt\n  key_file: " + pki.path +
                            "/server.key\n  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: " +
                            pki.path + "/ca.crt\n");
    Prometheus prometheus(listening.port, "  scheme: https\n  tls_config: {ca_file: " + pki.path + "/ca.crt, cert_file: " +
                                              pki.path + "/client.crt, key_file: " + pki.path + "/client.key}\n");
    ASSERT_TRUE(waitFor([&] { return prometheus.target().first == "up"; })) << prometheus.target().second;
    // Without a client certificate, or with one of another authority, the handshake fails. (curl, since
    // loading GLib's TLS module into this process trips LeakSanitizer's tracer.)
    const std::string curl = "curl -s -o /dev/null --cacert " + pki.path + "/ca.crt https://127.0.0.1:" +
                             std::to_string(listening.port) + "/metrics";
    EXPECT_EQ(std::system((curl + " --cert " + pki.path + "/client.crt --key " + pki.path + "/client.key").c_str()), 0);
    EXPECT_NE(std::system(curl.c_str()), 0);
    EXPECT_NE(std::system((curl + " --cert " + pki.path + "/rogue.crt --key " + pki.path + "/rogue.key").c_str()), 0);
}

TEST(MetricsListener, RefusesUnsafeOrBrokenSettingsWithOneLine) {
    TempDir folder;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "refusing to serve /metrics on 0.0.0.0 without authentication"},
        {"tls_server_config: [", "malformed web configuration"},
        {"tls_server_config: {cert_file: /nonexistent.crt, key_file: /nonexistent.key}\nbasic_auth_users: {a: " +
             bcrypt("x") + "}\n", "cannot load the TLS certificate /nonexistent.crt"},
        {"basic_auth_users: {a: plain}\n", "is not a bcrypt hash"},
        {"http_server_config: {http2: true}\n", "\"http_server_config\" is not supported"},
    };
    for (const auto& [config, message] : cases) {
        std::ofstream(folder.path + "/web.yml") << config;
        const auto [status, out, err] = runHost(
            {std::nullopt, {"--metrics-listen", "0.0.0.0:0", "--web-config", folder.path + "/web.yml"}});
        EXPECT_NE(status, 0) << config;
        EXPECT_NE(err.find(message), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

// The widget page's DOM after a few seconds in headless Chromium; the screenshot goes to <build>/artifacts/.
std::string pageDom(const std::string& url, const std::string& name) {
    std::filesystem::create_directories(VQ_ARTIFACTS_DIR);
    TempDir profile;
    const std::string command = "timeout 60 chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-extensions --disable-background-networking"
        " --hide-scrollbars --force-device-scale-factor=1 --window-size=320,1100 --virtual-time-budget=3000"
        " --dump-dom --user-data-dir=" + profile.path + " --screenshot=" VQ_ARTIFACTS_DIR "/" + name + ".png " + url;
    g_autofree char *out = nullptr, *noise = nullptr;
    g_spawn_command_line_sync(command.c_str(), &out, &noise, nullptr, nullptr);
    return out ? out : "";
}

// The texts of the elements of one class, in page order, joined by "|".
std::string texts(const std::string& dom, const std::string& className) {
    const std::regex re("class=\"" + className + "\"[^>]*>([^<]*)<");
    std::string out;
    for (std::sregex_iterator it(dom.begin(), dom.end(), re), end; it != end; ++it) out += (out.empty() ? "" : "|") + (*it)[1].str();
    return out;
}

// Prometheus behind basic auth scrapes two hosts and a node_exporter, each renamed by relabelling so that the
// three differ; host A asks it with the right password, host B with a wrong one. B's page says why it cannot
// reach Prometheus; A's shows the three machines, and B once stopped turns to down, still by its name.
TEST(Fleet, ThreeMachinesShowAStoppedOneTurnsDownAndAWrongPasswordSaysWhy) {
    if (!installed(kPrometheus) || !installed(kNodeExporter)) GTEST_SKIP() << "scripts/bootstrap installs Prometheus";
    TempDir folder;
    const std::uint16_t port = freePort();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    for (const auto& [who, password] : {std::pair{"/a", "right horse"}, {"/b", "wrong horse"}}) {
        std::filesystem::create_directories(folder.path + who + "/velquette");
        std::ofstream(folder.path + who + "/pass") << password;
        std::ofstream(folder.path + who + "/velquette/velquette.conf")
            << "[prometheus]\nusername=widget\npassword-file=" << folder.path << who << "/pass\n";
    }
    NodeExporter exporter({"--collector.disable-defaults", "--collector.cpu", "--collector.meminfo",
                           "--collector.filesystem", "--collector.netdev", "--collector.hwmon", "--collector.uname"});
    Host a({std::nullopt, {"--prometheus", url}, {"XDG_CONFIG_HOME=" + folder.path + "/a"}});
    std::optional<Host> b(Launch{std::nullopt, {"--prometheus", url}, {"XDG_CONFIG_HOME=" + folder.path + "/b"}});
    std::ofstream(folder.path + "/web.yml") << "basic_auth_users:\n  widget: " << bcrypt("right horse") << "\n";
    std::ofstream config(folder.path + "/prometheus.yml");  // each job names its machine
    config << "global: {scrape_interval: 1s, scrape_timeout: 1s}\nscrape_configs:\n";
    for (const auto& [name, target] : {std::pair{"alpha", a.port}, {"bravo", b->port}, {"charlie", exporter.port}})
        config << "- job_name: " << name << "\n  static_configs: [{targets: ['127.0.0.1:" << target << "']}]\n"
               << "  metric_relabel_configs: [{source_labels: [__name__], regex: node_uname_info,"
               << " target_label: nodename, replacement: " << name << "}]\n";
    config.close();
    Daemon prometheus({kPrometheus, "--config.file=" + folder.path + "/prometheus.yml", "--web.config.file=" +
        folder.path + "/web.yml", "--storage.tsdb.path=" + folder.path + "/data", "--web.listen-address=127.0.0.1:" +
        std::to_string(port)});
    const std::string bInstance = "127.0.0.1:" + std::to_string(b->port);

    // Figures for all three: the processor's needs two scrapes.
    json rows;
    ASSERT_TRUE(waitFor([&] {
        rows = a.call("fleet");
        return rows.is_array() && rows.size() == 3 && std::all_of(rows.begin(), rows.end(), [](const json& row) {
            return row[1].is_string() && row[2] == true && row[3].is_number() && row[4].is_number();
        });
    }, 90)) << rows << prometheus.log();
    const std::string dom = pageDom(a.url, "fleet-three-machines");
    EXPECT_TRUE(std::regex_match(texts(dom, "machine-cpu"), std::regex("[0-9]+%\\|[0-9]+%\\|[0-9]+%"))) << dom;
    for (const char* name : {"alpha", "bravo", "charlie"}) {
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [&](const json& row) { return row[1] == name; }), 1) << rows;
        EXPECT_NE(texts(dom, "machine-name").find(name), std::string::npos) << name;
    }

    // B is refused by Prometheus; its page says why instead of showing rows.
    const std::string refused = "Prometheus answered HTTP 401 Unauthorized";
    ASSERT_TRUE(waitFor([&] { return b->call("fleet") == refused; })) << b->call("fleet");
    const std::string bDom = pageDom(b->url, "fleet-wrong-password");
    EXPECT_EQ(texts(bDom, "machines-problem"), "Prometheus unreachable: " + refused);
    EXPECT_EQ(texts(bDom, "machine-name"), "");

    b.reset();
    ASSERT_TRUE(waitFor([&] {
        rows = a.call("fleet");
        return rows.is_array() && rows.size() == 3 && rows[0][0] == bInstance && rows[0][2] == false;
    }, 60)) << rows;
    EXPECT_EQ(rows[0][1], json("bravo"));
    const std::string downDom = pageDom(a.url, "fleet-one-down");
    EXPECT_EQ(texts(downDom, "machine-name").substr(0, 5), "bravo");
    EXPECT_NE(downDom.find("class=\"machine down\""), std::string::npos);
}

}  // namespace
}  // namespace vq::e2e
