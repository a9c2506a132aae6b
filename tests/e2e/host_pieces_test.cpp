// The host's own pieces: the call protocol against a plug-in object on the
// simulated two-processor machine, what the request guard refuses before
// reading a body, the command line, the page's files, the names the page
// offers, and icon paths to URLs and back.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "bridge/Velquette.h"
#include "bridge/script_table.h"
#include "host/call_protocol.h"
#include "host/icon_urls.h"
#include "host/options.h"
#include "host/request_guard.h"
#include "host/static_files.h"
#include "platform/sim/sim_machine.h"

namespace vq::host {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The first cpuUsage of that machine: single-precision shares as doubles.
json firstSample() {
    auto share = [](int ticks) { return double(float(ticks) / 1000.0f * 100.0f); };
    return {{10, 15, 0, 75, 25}, {{31, share(106), share(207), 0.0}, {20, share(106), share(100), 0.0}}};
}

class CallProtocolTest : public ::testing::Test {
protected:
    CallProtocolTest()
        : machine_(loadSimMachine(json::parse(std::ifstream(VQ_FIXTURES_DIR "/machines/intel-two-core.json")))),
          object_(makeSimPlatform(machine_)) {}

    // The answer's JSON, checked to be one line.
    static json body(const Reply& reply) {
        EXPECT_EQ(reply.body.find('\n'), std::string::npos) << reply.body;
        return json::parse(reply.body);
    }
    // A refusal: 400 and {"error": "<reason>"} and nothing else.
    static std::string refusal(const Reply& reply) {
        EXPECT_EQ(reply.status, 400u) << reply.body;
        auto answer = body(reply);
        EXPECT_TRUE(answer.is_object() && answer.size() == 1 && answer.value("error", "") != "") << reply.body;
        return answer.value("error", "");
    }

    std::shared_ptr<SimMachine> machine_;
    Velquette object_;
};

TEST_F(CallProtocolTest, ACallAnswersItsResultAsJson) {
    auto reply = answerCall(object_, R"({"method": "cpuUsage", "args": []})");
    EXPECT_EQ(reply.status, 200u);
    // Compared exactly: the text carries every bit of each double.
    const auto usage = body(reply).at("result");
    EXPECT_EQ(usage, firstSample());
    for (const auto& n : usage[0]) EXPECT_TRUE(n.is_number_integer()) << usage;
    for (const auto& core : usage[1]) EXPECT_TRUE(core[0].is_number_integer()) << usage;
    // "args" may be left out; a method that answers nothing answers null.
    EXPECT_EQ(body(answerCall(object_, R"({"method":"load"})")), json({{"result", "0.50, 0.25, 1.00"}}));
    EXPECT_EQ(body(answerCall(object_, R"({"method":"setShouldMonitorSMARTTemps","args":[1]})")),
              json({{"result", nullptr}}));
}

TEST_F(CallProtocolTest, MalformedOrUnreachableCallsAreRefusedAndNeverRun) {
    const auto readsBefore = machine_->tickReads();
    for (const char* text :
         {"", "{", R"({"method":"uptime",})", R"("uptime")", "[]", "null", "{}", R"({"method":7})",
          R"({"method":null})", R"({"method":"uptime","args":{}})", R"({"method":"uptime","args":"x"})",
          R"({"method":"uptime"} x)", R"({"method":"uptime","arguments":[]})", "{\"method\": \"upt\xff\"}",
          R"({"method":"bogus"})", R"({"method":""})", R"({"method":"CPUUSAGE"})",
          // Life-cycle and handler methods are never reachable.
          R"({"method":"windowScriptObjectAvailable"})", R"({"method":"initWithWebView"})",
          R"({"method":"workspaceChange"})", R"({"method":"moduleInstalledNotification"})",
          R"({"method":"installNotifiers"})", R"({"method":"networkChangeCallback"})",
          // Wrong count and wrong type.
          R"({"method":"uptime","args":[1]})", R"({"method":"setShouldMonitorSMARTTemps"})",
          R"({"method":"setShouldMonitorSMARTTemps","args":[1,2]})",
          R"({"method":"setShouldMonitorSMARTTemps","args":["1"]})",
          R"({"method":"setShouldMonitorSMARTTemps","args":[null]})",
          R"({"method":"setShouldMonitorSMARTTemps","args":[[1]]})"})
        refusal(answerCall(object_, text));
    EXPECT_FALSE(object_.isSMARTMonitoringEnabled());
    EXPECT_EQ(machine_->tickReads(), readsBefore);
}

TEST_F(CallProtocolTest, ABatchIsCheckedWholeBeforeAnyCallRuns) {
    const auto readsBefore = machine_->tickReads();
    auto reason = refusal(answerBatch(object_, R"([{"method":"setShouldMonitorSMARTTemps","args":[1]},
                                                   {"method":"cpuUsage"},{"method":"hasNetworkSetupChanged"},
                                                   {"method":"bogus"}])"));
    EXPECT_NE(reason.find("call 3"), std::string::npos) << reason;
    for (const char* batch :
         {R"([{"method":"cpuUsage"},{"method":"uptime","args":[1]}])", R"([{"method":"cpuUsage"}, 5])",
          R"({"method":"uptime"})", "not json", R"([["uptime", []]])"})
        refusal(answerBatch(object_, batch));
    EXPECT_EQ(machine_->tickReads(), readsBefore);
    EXPECT_FALSE(object_.isSMARTMonitoringEnabled());

    // The flag and the first sample are still there, answered in order.
    EXPECT_EQ(body(answerBatch(object_, R"([{"method":"hasNetworkSetupChanged"},{"method":"cpuUsage"},
                                            {"method":"hasNetworkSetupChanged","args":[]},{"method":"uptime"}])")),
              json::array({{{"result", true}}, {{"result", firstSample()}}, {{"result", false}},
                           {{"result", "1d 2h 3m"}}}));
    EXPECT_EQ(body(answerBatch(object_, "[]")), json::array());
}

ServerAuthority atPort(std::uint16_t port) {
    ServerAuthority authority;
    authority.port = port;
    return authority;
}

TEST(RequestGuardTest, HostAndOriginMustNameThisServerByALoopbackName) {
    const auto self = atPort(8765);
    for (const char* host : {"127.0.0.1:8765", "localhost:8765", "LocalHost:8765", "[::1]:8765", " localhost:8765 "})
        EXPECT_TRUE(isAllowedHost(host, self)) << host;
    // DNS rebinding (a foreign name that resolves to 127.0.0.1), another port,
    // malformed ports and repeated headers, which arrive joined.
    for (const char* host : {"attacker.example:8765", "localhost.attacker.example:8765", "127.0.0.1.nip.io:8765",
                             "127.0.0.1:8766", "localhost", "127.0.0.1:", "127.0.0.1:8765x", "127.0.0.1:+8765",
                             "127.0.0.1:99999", "[::1]8765", "[::1", "::1:8765", "0.0.0.0:8765", "127.0.0.2:8765", "",
                             "127.0.0.1:8765, attacker.example:8765", "localhost:8765@attacker.example"})
        EXPECT_FALSE(isAllowedHost(host, self)) << host;
    for (const char* origin : {"http://127.0.0.1:8765", "http://localhost:8765", "http://[::1]:8765"})
        EXPECT_TRUE(isAllowedOrigin(origin, self)) << origin;
    for (const char* origin : {"https://localhost:8765", "http://localhost:8766", "http://attacker.example",
                               "http://localhost:8765.attacker.example", "http://localhost:8765/",
                               "http://user@localhost:8765", "null", "", "localhost:8765"})
        EXPECT_FALSE(isAllowedOrigin(origin, self)) << origin;

    // Port 80 may be left out; an explicit --listen literal is also accepted.
    EXPECT_TRUE(isAllowedHost("localhost", atPort(80)));
    EXPECT_TRUE(isAllowedOrigin("http://localhost", atPort(80)));
    auto listening = self;
    listening.hostNames.push_back("192.168.1.20");
    EXPECT_TRUE(isAllowedHost("192.168.1.20:8765", listening));
    EXPECT_TRUE(isAllowedOrigin("http://192.168.1.20:8765", listening));
    EXPECT_FALSE(isAllowedHost("192.168.1.21:8765", listening));
}

TEST(RequestGuardTest, OnlyJsonBodiesAreCalls) {
    for (const char* type : {"application/json", "application/json; charset=utf-8", "Application/JSON;charset=UTF-8",
                             " application/json "})
        EXPECT_TRUE(isJsonContentType(type)) << type;
    // What a cross-site form or a preflight-free fetch can send, and near misses.
    for (const char* type : {"text/plain", "text/plain; charset=utf-8", "application/x-www-form-urlencoded",
                             "multipart/form-data; boundary=x", "application/jsonp", "application/json-patch+json",
                             "application/json, text/plain", ""})
        EXPECT_FALSE(isJsonContentType(type)) << type;
}

TEST(RequestGuardTest, RoutesByPath) {
    const std::pair<const char*, Route> cases[] = {
        {"/call", Route::Call},   {"/batch", Route::Batch}, {"/icons/volumes/a.png", Route::Icon},
        {"/icons/", Route::Icon}, {"/icons", Route::File},  {"/iconsx/a.png", Route::File},
        {"/call/", Route::File},  {"/", Route::File},       {"/js/widget.js", Route::File},
        {"/metrics", Route::Metrics}, {"/metrics/", Route::File},
    };
    for (const auto& [path, route] : cases) EXPECT_EQ(routeForPath(path), route) << path;
}

// The statuses themselves are checked on the wire (host_http_test.cpp); here
// the order of the checks and the cases the wire cannot send.
TEST(RequestGuardTest, ScreeningDecidesInOrderHostMethodOriginTypeSize) {
    const std::string_view good = "127.0.0.1:8765", typed = "application/json", foreign = "http://attacker.example";
    const std::tuple<const char*, RequestHead, unsigned, const char*> cases[] = {
        {"a chunked call", {"POST", "/call", good, std::nullopt, typed, std::nullopt}, 0, ""},
        {"the largest body", {"POST", "/call", good, std::nullopt, typed, kMaxRequestBodyBytes}, 0, ""},
        {"a huge body", {"POST", "/batch", good, std::nullopt, typed, 1ull << 40}, 413, ""},
        {"no Host", {"POST", "/call", std::nullopt, std::nullopt, typed, 20}, 400, ""},
        {"foreign Host beats wrong method", {"GET", "/call", "evil:1", foreign, std::nullopt, 0}, 421, ""},
        {"wrong method beats foreign origin", {"PUT", "/", good, foreign, std::nullopt, 2}, 405, "GET, HEAD"},
        {"foreign origin beats text", {"POST", "/call", good, foreign, "text/plain", 20}, 403, ""},
        {"text beats size", {"POST", "/call", good, std::nullopt, "text/plain", 1ull << 40}, 415, ""},
    };
    for (const auto& [what, head, status, allow] : cases) {
        auto rejection = screenRequest(head, atPort(8765));
        EXPECT_EQ(rejection ? rejection->status : 0u, status) << what;
        if (!rejection) continue;
        EXPECT_EQ(rejection->allow, allow) << what;
        EXPECT_FALSE(rejection->message.empty() || rejection->message.find('\n') != std::string::npos) << what;
    }
}

TEST(RequestGuardTest, APageBatchComesFromThisServersOwnPage) {
    for (const auto& [page, size, status] : std::initializer_list<std::tuple<const char*, std::size_t, unsigned>>{
             {"http://127.0.0.1:8765/?frame=window", kMaxRequestBodyBytes, 0}, {"http://localhost:8765", 20, 0},
             {"http://127.0.0.1:8765/", kMaxRequestBodyBytes + 1, 413}, {"http://127.0.0.1:8766/", 20, 421},
             {"http://127.0.0.1:8765.attacker.example/", 20, 421}, {"http://user@127.0.0.1:8765/", 20, 421},
             {"https://127.0.0.1:8765/", 20, 403}, {"file:///index.html", 20, 403}, {"about:blank", 20, 403}}) {
        auto rejection = screenPageBatch(page, size, atPort(8765));
        EXPECT_EQ(rejection ? rejection->status : 0u, status) << page;
    }
}

// Values come as the next argument or after "="; a bad command line is
// refused with a reason.
TEST(HostOptionsTest, ParsesTheCommandLine) {
    const std::pair<std::vector<std::string_view>, std::string> cases[] = {
        {{}, "127.0.0.1 8765 /default/web"}, {{"--port", "0", "--listen=::1", "--web-root", "/srv/w"}, "::1 0 /srv/w"},
        {{"--port=65535"}, "127.0.0.1 65535 /default/web"}, {{"--help"}, "127.0.0.1 8765 /default/web help"},
        {{"--port"}, ""}, {{"--port", "65536"}, ""}, {{"--port", "-1"}, ""}, {{"--port", "80x"}, ""},
        {{"--port", ""}, ""}, {{"--port", " 80"}, ""}, {{"--listen="}, ""}, {{"--web-root"}, ""}, {{"--verbose"}, ""},
        {{"8765"}, ""}, {{"--prometheus", "ftp://p/"}, ""},
        {{"--prometheus=http://p:9090/"}, "127.0.0.1 8765 /default/web"}};
    for (const auto& [args, expected] : cases) {
        auto parsed = parseHostOptions(args, "/default/web");
        const auto* options = std::get_if<HostOptions>(&parsed);
        EXPECT_EQ(options ? options->server.listenAddress + " " + std::to_string(options->server.port) + " " +
                                options->server.webRoot + (options->showHelp ? " help" : "")
                          : std::get<std::string>(parsed).empty() ? "no reason" : "",
                  expected)
            << (args.empty() ? "" : args[0]) << " " << args.size();
    }
}

TEST(StaticFilesTest, PathsMapIntoTheWebDirectoryAndNowhereElse) {
    for (const auto& [raw, relative] : {std::pair{"/", "index.html"}, std::pair{"/js/widget.js", "js/widget.js"},
                                        std::pair{"/icons/cpu-1.png", "icons/cpu-1.png"},
                                        std::pair{"/style%2Ecss", "style.css"}, std::pair{"/a_b-c.js", "a_b-c.js"}})
        EXPECT_EQ(webRelativePath(raw), relative) << raw;
    for (const char* raw : {"/..", "/../etc/passwd", "/icons/../../x.js", "/%2e%2e/etc/passwd",
                            "/%2E%2E%2Fetc%2Fpasswd", "/..%2fetc/passwd", "/%2fetc/passwd", "/icons%2f..%2f..%2fx.js",
                            "/%5c..%5cx.js", "/..\\x.js", "/.", "/./index.html", "/.git/config", "/%2egit/config",
                            "//etc/passwd", "/icons//x.png", "/icons/", "/index.html%00.png", "/index.html%",
                            "/index.html%2", "/index.html%zz", "/a b.js", "/caf%C3%A9.js", "index.html", "", "/~root",
                            "/x?.js"})
        EXPECT_EQ(webRelativePath(raw), std::nullopt) << raw;
}

TEST(StaticFilesTest, ContentTypesFollowTheExtension) {
    for (const auto& [file, type] : {std::pair{"index.html", "text/html; charset=utf-8"},
                                     std::pair{"style.css", "text/css; charset=utf-8"},
                                     std::pair{"js/widget.js", "text/javascript; charset=utf-8"},
                                     std::pair{"icons/disk.png", "image/png"}, std::pair{"logo.svg", "image/svg+xml"}})
        EXPECT_EQ(contentTypeForFile(file), type) << file;
    for (const char* file : {"CMakeLists.txt.swp", "core", ".js"}) EXPECT_EQ(contentTypeForFile(file), std::nullopt);
}

TEST(StaticFilesTest, ServesRegularFilesAndLinksOnlyWhileTheyStayInside) {
    const fs::path base = fs::temp_directory_path() / ("velquette-web-" + std::to_string(::getpid()));
    const fs::path web = base / "web";
    for (const auto& folder : {web / "icons", web / "folder.js", base / "web2"}) fs::create_directories(folder);
    for (const auto& [path, text] : {std::pair{web / "index.html", "<p>page</p>"}, {web / "icons/a.png", "png"},
                                     {base / "secret.txt", "secret"}, {base / "web2/x.txt", "x"}})
        std::ofstream(path) << text;
    fs::create_symlink(web / "index.html", web / "home.html");
    fs::create_symlink(base / "secret.txt", web / "leak.txt");
    fs::create_symlink(base, web / "up");
    // A directory whose name starts like the root's is not inside it.
    fs::create_symlink(base / "web2/x.txt", web / "sibling.txt");

    auto page = loadWebFile(web.string(), "index.html");
    EXPECT_TRUE(page && page->contents == "<p>page</p>" && page->contentType == "text/html; charset=utf-8");
    EXPECT_EQ(loadWebFile(web.string(), "icons/a.png").value_or(WebFile{}).contents, "png");
    EXPECT_EQ(loadWebFile(web.string(), "home.html").value_or(WebFile{}).contents, "<p>page</p>");
    for (const char* name : {"missing.html", "folder.js", "leak.txt", "up/secret.txt", "sibling.txt"})
        EXPECT_FALSE(loadWebFile(web.string(), name)) << name;
    fs::remove_all(base);
}

TEST(WebScriptNamesTest, VelquetteJsOffersEveryReachableName) {
    std::ifstream in(VQ_WEB_DIR "/velquette.js");
    const std::string source{std::istreambuf_iterator<char>(in), {}};
    // The NAMES list: every quoted identifier between "const NAMES = [" and "];".
    const auto begin = source.find("const NAMES = [");
    ASSERT_NE(begin, std::string::npos) << "no NAMES list in " VQ_WEB_DIR "/velquette.js";
    const std::string list = source.substr(begin, source.find("];", begin) - begin);
    const std::regex quoted("\"([A-Za-z_][A-Za-z0-9_]*)\"");
    std::set<std::string> offered;
    for (std::sregex_iterator it(list.begin(), list.end(), quoted), end; it != end; ++it) offered.insert((*it)[1]);

    ASSERT_FALSE(reachableScriptNames().empty());
    for (const auto& name : reachableScriptNames()) EXPECT_TRUE(offered.count(name)) << name;
    EXPECT_EQ(offered.size(), 36u)
        << "the 19 script names, 4 default names, topProcesses, getPsUnit, limits, gpus, the autostart pair, hasSMC, "
           "the fleet trio, the three alert calls";
}


const IconCaches kCaches{"/home/ann/.local/share/Brackwell/ProcessesIconCache/",
                         "/home/ann/.local/share/Brackwell/Parquell/"};
const std::string kVolumes = kCaches.volumes, kProcesses = kCaches.processes;

TEST(IconUrlsTest, FilesDirectlyInsideACacheBecomeUrlsThatLeadBack) {
    const std::pair<std::string, std::string> cases[] = {
        // The volume miner writes "<folder>/" + "/" + name.
        {kVolumes + "/vm.png", "/icons/volumes/vm.png"}, {kVolumes + "///vm.png", "/icons/volumes/vm.png"},
        {kProcesses + "org.example.Editor.png", "/icons/processes/org.example.Editor.png"},
        {kVolumes + "/Backup Disk.png", "/icons/volumes/Backup%20Disk.png"},
        {kProcesses + "/100%.png", "/icons/processes/100%25.png"}, {kVolumes + "/%41.png", "/icons/volumes/%2541.png"},
        {kVolumes + "/?#&+=:.png", "/icons/volumes/%3F%23%26%2B%3D%3A.png"},
        {kProcesses + "/Données é.png", "/icons/processes/Donn%C3%A9es%20%C3%A9.png"},
        {kVolumes + "/日本.png", "/icons/volumes/%E6%97%A5%E6%9C%AC.png"},
        {kVolumes + "/~a_b-c.png", "/icons/volumes/~a_b-c.png"},
    };
    for (const auto& [path, url] : cases) {
        EXPECT_EQ(iconUrlForPath(path, kCaches), url) << path;
        auto request = iconRequestForUrlPath(url);
        ASSERT_TRUE(request) << url;
        EXPECT_TRUE(path.starts_with(kCaches.folder(request->cache)) && path.ends_with("/" + request->fileName)) << url;
    }
    // Not a file directly inside a cache, or not a servable name.
    const std::string notIcons[] = {
        kVolumes + "/../ProcessesIconCache/x.png", kVolumes + "sub/x.png", kVolumes + "sub//x.png", kVolumes,
        kVolumes + "/", "/home/ann/.local/share/Brackwell/Parquell", "/home/ann/.local/share/Brackwell/ParquellX/a.png",
        "/home/ann/.local/share/Brackwell/a.png", "/etc/a.png", "/tmp" + kVolumes + "a.png",
        "file://" + kVolumes + "a.png", "", "/", kVolumes + "/.velquette-written-icons", kVolumes + "/.hidden.png",
        kVolumes + "/.png", kVolumes + "/vm.tiff", kVolumes + "/vm.PNG", kVolumes + std::string("/a\0.png", 7)};
    for (const auto& path : notIcons) EXPECT_EQ(iconUrlForPath(path, kCaches), std::nullopt) << path;
    // Without cache folders nothing is an icon.
    for (const IconCaches& caches : {IconCaches{}, IconCaches{"/", "//"}})
        for (const auto& path : {std::string("/vm.png"), std::string("//vm.png"), kVolumes + "/vm.png"})
            EXPECT_EQ(iconUrlForPath(path, caches), std::nullopt) << path;
}

TEST(IconUrlsTest, RewritesEveryIconPathOfAResultAndNothingElse) {
    // A foreign path stays as it is; so does one the caches do not serve.
    json result = json::array({json::array({"vm", 20, "/", kVolumes + "/vm.png"}),
                               json::array({"Other", 1, "/media/other", "/usr/share/icons/disk.png"}),
                               json::array({"Hidden", 1, "/media/hidden", kVolumes + "/.hidden.png"}),
                               {{"icon", kProcesses + "a.png"},
                                {"list", json::array({json::array({kProcesses + "b.png", 3.5})})},
                                {"none", nullptr}}});
    json expected = result;
    expected[0][3] = "/icons/volumes/vm.png";
    expected[3]["icon"] = "/icons/processes/a.png";
    expected[3]["list"][0][0] = "/icons/processes/b.png";
    rewriteIconPaths(result, kCaches);
    EXPECT_EQ(result, expected);
    json single = kVolumes + "/x y.png";
    rewriteIconPaths(single, kCaches);
    EXPECT_EQ(single, "/icons/volumes/x%20y.png");
}

TEST(IconUrlsTest, UrlsNameOneServableFileInOneCache) {
    for (const auto& [url, name] : {std::pair{"/icons/volumes/Donn%c3%a9es.png", "Données.png"},
                                    std::pair{"/icons/volumes/%76%6D.png", "vm.png"},
                                    std::pair{"/icons/volumes/a:b.png", "a:b.png"}}) {
        auto request = iconRequestForUrlPath(url);
        ASSERT_TRUE(request) << url;
        EXPECT_EQ(request->cache, IconCache::Volumes) << url;
        EXPECT_EQ(request->fileName, name) << url;
    }
    // Climbing out or into a folder, names that are not servable, malformed
    // escapes, and paths of no cache.
    for (const char* url : {"/icons/volumes/../processes/x.png", "/icons/volumes/..%2Fprocesses%2Fx.png",
                            "/icons/volumes/%2e%2e%2f%2e%2e%2f%2e%2e%2fetc%2fpasswd", "/icons/volumes/%2E%2E",
                            "/icons/volumes/..", "/icons/volumes/a%2Fb.png", "/icons/volumes/%2Fetc%2Fx.png",
                            "/icons/volumes//vm.png", "/icons//volumes/vm.png", "/icons/volumes/sub/vm.png",
                            "/icons/volumes/", "/icons/volumes/.velquette-written-icons",
                            "/icons/volumes/%2Ehidden.png", "/icons/volumes/.png", "/icons/volumes/vm.tiff",
                            "/icons/volumes/x%00.png", "/icons/volumes/x.png%00.txt", "/icons/volumes/bad%2.png",
                            "/icons/volumes/bad%zz.png", "/icons/volumes/x.png%", "/icons/volumes/x.pn%6",
                            "/icons/volumesX/a.png", "/icons/Volumes/a.png", "/icons/other/a.png", "/icons/a.png",
                            "/icons/volumes", "/volumes/a.png", "icons/volumes/a.png"})
        EXPECT_EQ(iconRequestForUrlPath(url), std::nullopt) << url;
}

TEST(IconUrlsTest, ServesOnlyPlainPngFilesOfTheNamedCache) {
    std::string pattern = (fs::temp_directory_path() / "velquette-icons-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path root = pattern, volumes = root / "Parquell", processes = root / "ProcessesIconCache";
    fs::create_directories(volumes / "folder.png");
    fs::create_directories(processes);
    auto png = [](std::size_t size) { return std::string("\x89PNG\r\n\x1a\n", 8).append(size - 8, 'x'); };
    const std::pair<fs::path, std::string> files[] = {
        {volumes / "Backup Disk.png", png(300)}, {processes / "org.example.png", png(20)},
        {root / "outside.png", png(40)}, {volumes / ".hidden.png", png(40)}, {volumes / "text.png", "not a picture"},
        {volumes / "empty.png", ""}, {volumes / "largest.png", png(kMaxIconFileBytes)},
        {volumes / "too-large.png", png(kMaxIconFileBytes + 1)}};
    for (const auto& [path, bytes] : files) std::ofstream(path, std::ios::binary) << bytes;
    fs::create_symlink(root / "outside.png", volumes / "out.png");
    fs::create_symlink("Backup Disk.png", volumes / "alias.png");
    EXPECT_EQ(::mkfifo((volumes / "pipe.png").c_str(), 0600), 0);
    const IconCaches caches{processes.string() + "/", volumes.string() + "/"};
    auto load = [&](IconCache cache, const char* name) { return loadIconFile(caches, IconRequest{cache, name}); };

    EXPECT_EQ(load(IconCache::Volumes, "Backup Disk.png"), png(300));
    EXPECT_EQ(load(IconCache::Processes, "org.example.png"), png(20));
    EXPECT_TRUE(load(IconCache::Volumes, "largest.png") == png(kMaxIconFileBytes));
    EXPECT_EQ(load(IconCache::Processes, "Backup Disk.png"), std::nullopt);
    // Files of the other cache or outside, links (even inside the cache),
    // whatever is no plain PNG file within the size limit, and a FIFO, which
    // must not stall the host's only thread.
    const auto start = std::chrono::steady_clock::now();
    for (const char* name : {"org.example.png", "missing.png", "../outside.png", ".hidden.png", "out.png", "alias.png",
                             "folder.png", "text.png", "empty.png", "too-large.png", "pipe.png"})
        EXPECT_EQ(load(IconCache::Volumes, name), std::nullopt) << name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    // No folder serves nothing; a folder named with a doubled slash still serves.
    EXPECT_EQ(loadIconFile(IconCaches{}, IconRequest{IconCache::Volumes, "Backup Disk.png"}), std::nullopt);
    const IconCaches doubled{caches.processes, caches.volumes + "/"};
    EXPECT_EQ(loadIconFile(doubled, IconRequest{IconCache::Volumes, "Backup Disk.png"}), png(300));
    EXPECT_EQ(iconUrlForPath(doubled.volumes + "/vm.png", doubled), "/icons/volumes/vm.png");
    fs::remove_all(root);
}

}  // namespace
}  // namespace vq::host
