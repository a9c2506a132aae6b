// The real velquette binary over HTTP on the simulated two-core machine:
// its answers, the page's files, and every refusal.

#include <signal.h>

#include <gtest/gtest.h>

#include <cctype>

#include "host_process.h"
#include "http_client.h"

namespace vq::e2e {
namespace {

using nlohmann::json;

const std::string kTwoCoreMachine = VQ_FIXTURES_DIR "/machines/intel-two-core.json";

// Every answer of the host: no CORS permission of any kind, and errors as
// one line of {"error": "..."}.
void expectWellFormed(const HttpResponse& response) {
    for (const auto& [name, value] : response.headers) {
        std::string lower = name;
        for (auto& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_FALSE(lower.starts_with("access-control-")) << name << ": " << value;
    }
    if (response.status >= 400) {
        EXPECT_EQ(response.header("Content-Type").value_or(""), "application/json");
        EXPECT_EQ(response.body.find('\n'), std::string::npos) << response.body;
        auto answer = json::parse(response.body, nullptr, false);
        EXPECT_TRUE(answer.is_object() && answer.size() == 1 && answer.contains("error") &&
                    answer["error"].is_string() && !answer["error"].get<std::string>().empty())
            << response.body;
    }
}

// Both floats and integers of cpuUsage, against expected shares.
void expectShares(const json& core, int busy, double system, double user, double nice) {
    ASSERT_TRUE(core.is_array() && core.size() == 4) << core;
    EXPECT_TRUE(core[0].is_number_integer()) << core;
    EXPECT_EQ(core[0], busy) << core;
    EXPECT_NEAR(core[1].get<double>(), system, 1e-4) << core;
    EXPECT_NEAR(core[2].get<double>(), user, 1e-4) << core;
    EXPECT_NEAR(core[3].get<double>(), nice, 1e-4) << core;
}

void expectFirstTwoCoreSample(const json& usage) {
    ASSERT_TRUE(usage.is_array() && usage.size() == 2) << usage;
    // Summary: S = (trunc(0 + 10.6) = 10, trunc(10 + 10.6) = 20) / 2 = 10;
    // U = (20 + 10) / 2 = 15; N = 0; idle = 100 - 25; busy = 25.
    EXPECT_EQ(usage[0], json({10, 15, 0, 75, 25}));
    for (const auto& n : usage[0]) EXPECT_TRUE(n.is_number_integer()) << usage[0];
    ASSERT_EQ(usage[1].size(), 2u) << usage;
    expectShares(usage[1][0], 31, 10.6, 20.7, 0.0);
    expectShares(usage[1][1], 20, 10.6, 10.0, 0.0);
}

class HostOnMachineFileTest : public ::testing::Test {
protected:
    void SetUp() override { host_.emplace(HostLaunch{kTwoCoreMachine, {}}); }
    void TearDown() override {
        if (!host_) return;  // SetUp failed and said why
        auto status = host_->stop(SIGTERM);
        EXPECT_TRUE(status.exitedWith(0)) << describe(status) << "\n" << host_->stderrText();
    }

    std::uint16_t port() const { return host_->port(); }
    json call(const std::string& name, const json& args = json::array()) { return callHost(port(), name, args); }
    HttpResponse post(const std::string& path, const std::string& body, Headers extra = {}) {
        auto response = postJson(port(), path, body, std::move(extra));
        expectWellFormed(response);
        return response;
    }
    HttpResponse request(HttpRequest r) {
        auto response = exchange(port(), r);
        expectWellFormed(response);
        return response;
    }

    std::optional<HostProcess> host_;
};

TEST_F(HostOnMachineFileTest, PrintsItsLoopbackUrl) {
    EXPECT_EQ(host_->url(), "http://127.0.0.1:" + std::to_string(port()) + "/");
    EXPECT_NE(port(), 0);
}

TEST_F(HostOnMachineFileTest, AnswersTheProcessorCallsOfTheSimulatedMachine) {
    expectFirstTwoCoreSample(call("cpuUsage"));
    EXPECT_EQ(call("uptime"), "1d 2h 3m");
    EXPECT_EQ(call("load"), "0.50, 0.25, 1.00");
    EXPECT_EQ(call("processinfo"), "57 tasks, 213 threads");
}

TEST_F(HostOnMachineFileTest, ChangeFlagsAreReadAndCleared) {
    EXPECT_EQ(call("hasNetworkSetupChanged"), true);
    EXPECT_EQ(call("hasNetworkSetupChanged"), false);
    EXPECT_EQ(call("hasDiskSetupChanged"), false);
    EXPECT_EQ(call("wasIntelModuleInstalled"), false);
    EXPECT_EQ(call("installIntelModule"), nullptr);
}

TEST_F(HostOnMachineFileTest, ABatchAnswersInOrderInOneRoundTrip) {
    auto response = post("/batch", R"([{"method":"cpuUsage","args":[]},{"method":"load"},{"method":"uptime"},
                                       {"method":"processinfo"},{"method":"hasNetworkSetupChanged"}])");
    ASSERT_EQ(response.status, 200) << response.body;
    auto answers = response.json();
    ASSERT_EQ(answers.size(), 5u) << answers;
    expectFirstTwoCoreSample(answers[0].at("result"));
    EXPECT_EQ(answers[1], json({{"result", "0.50, 0.25, 1.00"}}));
    EXPECT_EQ(answers[2], json({{"result", "1d 2h 3m"}}));
    EXPECT_EQ(answers[3], json({{"result", "57 tasks, 213 threads"}}));
    EXPECT_EQ(answers[4], json({{"result", true}}));
    EXPECT_EQ(post("/batch", "[]").json(), json::array());
}

TEST_F(HostOnMachineFileTest, ServesItsCallsOnOneKeepAliveConnection) {
    HttpConnection connection(port());
    HttpRequest r{"POST", "/call", {{"Content-Type", "application/json"}}, R"({"method":"uptime"})"};
    for (int i = 0; i < 3; ++i) {
        auto response = connection.send(r);
        ASSERT_EQ(response.status, 200);
        EXPECT_EQ(response.json(), json({{"result", "1d 2h 3m"}}));
    }
}

TEST_F(HostOnMachineFileTest, ServesThePageAndItsScripts) {
    struct File {
        const char* path;
        const char* type;
        const char* contains;
    };
    for (auto f : {File{"/", "text/html; charset=utf-8", "widget.js"},
                   File{"/index.html", "text/html; charset=utf-8", "cpu-summary"},
                   File{"/style.css", "text/css; charset=utf-8", ".core-bar"},
                   File{"/widget.js", "text/javascript; charset=utf-8", "cpuUsage"},
                   File{"/velquette.js", "text/javascript; charset=utf-8", "window.Velquette"}}) {
        auto response = request({"GET", f.path});
        EXPECT_EQ(response.status, 200) << f.path;
        EXPECT_EQ(response.header("Content-Type"), f.type) << f.path;
        EXPECT_NE(response.body.find(f.contains), std::string::npos) << f.path;
        EXPECT_EQ(response.header("X-Content-Type-Options"), "nosniff") << f.path;
    }
    auto page = request({"GET", "/"});
    EXPECT_NE(page.header("Content-Security-Policy").value_or("").find("frame-ancestors 'none'"), std::string::npos);

    auto head = request({"HEAD", "/style.css"});
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("Content-Type"), "text/css; charset=utf-8");
    EXPECT_EQ(request({"GET", "/missing.js"}).status, 404);
    EXPECT_EQ(request({"GET", "/call"}).status, 405);
}

TEST_F(HostOnMachineFileTest, NoPathReachesOutsideTheWebDirectory) {
    for (const char* target :
         {"/../CMakeLists.txt", "/..%2fCMakeLists.txt", "/%2e%2e/CMakeLists.txt", "/%2e%2e%2fCMakeLists.txt",
          "/%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/%2e%2e/etc/passwd", "/..%5c..%5cetc%5cpasswd", "//etc/passwd",
          "/../../../../../../etc/passwd", "/%2fetc%2fpasswd", "/.%2e/.%2e/etc/passwd", "/index.html%00.js",
          "/web/../../CMakeLists.txt", "http://127.0.0.1/../../etc/passwd", "/%252e%252e/CMakeLists.txt"}) {
        auto response = request({"GET", target});
        EXPECT_GE(response.status, 400) << target;
        EXPECT_LT(response.status, 500) << target;
        EXPECT_EQ(response.body.find("cmake_minimum_required"), std::string::npos) << target;
        EXPECT_EQ(response.body.find("root:"), std::string::npos) << target;
    }
}

TEST_F(HostOnMachineFileTest, RefusesRequestsThatDoNotNameThisServer) {
    const std::string p = std::to_string(port());
    for (const std::string& host : std::vector<std::string>{"attacker.example:" + p, "localhost.attacker.example:" + p,
                                                            "127.0.0.1:" + std::to_string(port() == 65535 ? 1 : port() + 1),
                                                            "127.0.0.1", "0.0.0.0:" + p}) {
        HttpRequest r{"POST", "/call", {{"Host", host}, {"Content-Type", "application/json"}},
                      R"({"method":"cpuUsage"})"};
        EXPECT_EQ(request(r).status, 421) << host;
        auto page = request({"GET", "/", {{"Host", host}}});
        EXPECT_EQ(page.status, 421) << host;
        EXPECT_EQ(page.body.find("<html"), std::string::npos) << host;
    }
    // A second Host header cannot vouch for a foreign first one, nor the
    // other way round.
    for (const std::string& second : {"attacker.example:" + p, "127.0.0.1:" + p}) {
        HttpRequest r{"POST", "/call",
                      {{"Host", second == "127.0.0.1:" + p ? "attacker.example:" + p : "127.0.0.1:" + p},
                       {"Host", second}, {"Content-Type", "application/json"}},
                      R"({"method":"cpuUsage"})"};
        EXPECT_EQ(request(r).status, 421) << second;
    }
    // A Host that libsoup cannot even parse is refused by libsoup itself.
    auto unparsable = exchange(port(), {"GET", "/", {{"Host", "127.0.0.1:" + p + ", attacker.example:" + p}}});
    EXPECT_EQ(unparsable.status, 400);
    EXPECT_EQ(unparsable.body.find("<html"), std::string::npos);

    // No Host at all (HTTP/1.0 allows leaving it out).
    HttpConnection bare(port());
    auto response = bare.sendRaw("GET / HTTP/1.0\r\n\r\n");
    expectWellFormed(response);
    EXPECT_GE(response.status, 400);

    // None of the refused calls sampled the processors.
    expectFirstTwoCoreSample(call("cpuUsage"));
}

TEST_F(HostOnMachineFileTest, AcceptsEveryLoopbackNameOfItsPort) {
    const std::string p = std::to_string(port());
    for (const std::string& host : {"127.0.0.1:" + p, "localhost:" + p, "LOCALHOST:" + p, "[::1]:" + p}) {
        auto response = post("/call", R"({"method":"uptime"})", {{"Host", host}});
        EXPECT_EQ(response.status, 200) << host << ": " << response.body;
    }
}

TEST_F(HostOnMachineFileTest, RefusesCallsFromOtherOrigins) {
    const std::string p = std::to_string(port());
    for (const std::string& origin : std::vector<std::string>{"http://attacker.example", "null", "https://127.0.0.1:" + p,
                                     "http://127.0.0.1:" + std::to_string(port() == 65535 ? 1 : port() + 1),
                                     "http://localhost:" + p + ".attacker.example"}) {
        auto response = post("/call", R"({"method":"cpuUsage"})", {{"Origin", origin}});
        EXPECT_EQ(response.status, 403) << origin;
        EXPECT_EQ(post("/batch", R"([{"method":"cpuUsage"}])", {{"Origin", origin}}).status, 403) << origin;
    }
    // A cross-origin preflight is not approved either.
    auto preflight = request({"OPTIONS",
                              "/call",
                              {{"Origin", "http://attacker.example"},
                               {"Access-Control-Request-Method", "POST"},
                               {"Access-Control-Request-Headers", "content-type"}}});
    EXPECT_GE(preflight.status, 400);

    // The page's own origin, by any loopback name, may call.
    for (const std::string& origin : {"http://127.0.0.1:" + p, "http://localhost:" + p})
        EXPECT_EQ(post("/call", R"({"method":"uptime"})", {{"Origin", origin}}).status, 200) << origin;
    expectFirstTwoCoreSample(call("cpuUsage"));
}

TEST_F(HostOnMachineFileTest, CallsMustBeJson) {
    for (const char* type : {"text/plain", "text/plain;charset=UTF-8", "application/x-www-form-urlencoded",
                             "multipart/form-data; boundary=x", "application/jsonp"}) {
        HttpRequest r{"POST", "/call", {{"Content-Type", type}}, R"({"method":"cpuUsage"})"};
        EXPECT_EQ(request(r).status, 415) << type;
    }
    EXPECT_EQ(request({"POST", "/batch", {}, R"([{"method":"cpuUsage"}])"}).status, 415);
    EXPECT_EQ(post("/call", R"({"method":"uptime"})", {}).status, 200);
    HttpRequest withCharset{"POST", "/call", {{"Content-Type", "application/json; charset=utf-8"}},
                            R"({"method":"uptime"})"};
    EXPECT_EQ(request(withCharset).status, 200);
    expectFirstTwoCoreSample(call("cpuUsage"));
}

TEST_F(HostOnMachineFileTest, BodiesAreLimitedTo64KiB) {
    // Padding inside valid JSON, so only the size can be the reason.
    auto padded = [](std::size_t size) {
        std::string body = R"({"method":"uptime"})";
        body.insert(1, size - body.size(), ' ');
        return body;
    };
    EXPECT_EQ(post("/call", padded(64 * 1024)).status, 200);
    EXPECT_EQ(post("/call", padded(64 * 1024 + 1)).status, 413);
    EXPECT_EQ(post("/batch", "[" + std::string(1 << 20, ' ') + "]").status, 413);

    // A chunked body declares no length; it is cut off as it arrives.
    std::string chunked;
    for (int i = 0; i < 20; ++i) chunked += "1000\r\n" + std::string(0x1000, ' ') + "\r\n";
    chunked += "0\r\n\r\n";
    HttpRequest r{"POST", "/batch", {{"Content-Type", "application/json"}, {"Transfer-Encoding", "chunked"}}, chunked};
    EXPECT_EQ(request(r).status, 413);
    // A small chunked call is fine.
    HttpRequest small{"POST", "/call", {{"Content-Type", "application/json"}, {"Transfer-Encoding", "chunked"}},
                      "13\r\n{\"method\":\"uptime\"}\r\n0\r\n\r\n"};
    auto answer = request(small);
    EXPECT_EQ(answer.status, 200) << answer.body;
}

TEST_F(HostOnMachineFileTest, RefusesBadCallsWith400AndChangesNothing) {
    for (const char* body : {"{", "not json", "\"cpuUsage\"", R"({"args":[]})", R"({"method":["cpuUsage"]})",
                             R"({"method":"bogus"})", R"({"method":"windowScriptObjectAvailable"})",
                             R"({"method":"workspaceChange"})", R"({"method":"uptime","args":[1]})",
                             R"({"method":"setShouldMonitorSMARTTemps"})",
                             R"({"method":"setShouldMonitorSMARTTemps","args":["1"]})",
                             R"({"method":"cpuUsage","args":{}})"}) {
        auto response = post("/call", body);
        EXPECT_EQ(response.status, 400) << body << " -> " << response.body;
    }
    // Deep nesting is just another malformed call.
    EXPECT_EQ(post("/call", std::string(30000, '[') + std::string(30000, ']')).status, 400);

    for (const char* batch :
         {R"({"method":"cpuUsage"})", R"([{"method":"hasNetworkSetupChanged"},{"method":"cpuUsage"},{"method":"bogus"}])",
          R"([{"method":"cpuUsage"},{"method":"setShouldMonitorSMARTTemps","args":[1,2]}])",
          R"([{"method":"hasNetworkSetupChanged"},"uptime"])"}) {
        auto response = post("/batch", batch);
        EXPECT_EQ(response.status, 400) << batch << " -> " << response.body;
    }
    // The refused batches ran nothing: the network flag is still set and the
    // first sample is still the first.
    EXPECT_EQ(call("hasNetworkSetupChanged"), true);
    expectFirstTwoCoreSample(call("cpuUsage"));
}

TEST_F(HostOnMachineFileTest, OnlyTheMethodsOfARouteAreAllowed) {
    struct Case {
        const char* method;
        const char* target;
        const char* allow;
    };
    for (auto c : {Case{"GET", "/call", "POST"}, Case{"GET", "/batch", "POST"}, Case{"PUT", "/call", "POST"},
                   Case{"DELETE", "/batch", "POST"}, Case{"POST", "/", "GET, HEAD"},
                   Case{"PUT", "/index.html", "GET, HEAD"}, Case{"DELETE", "/widget.js", "GET, HEAD"}}) {
        HttpRequest r{c.method, c.target, {{"Content-Type", "application/json"}}, "{}"};
        auto response = request(r);
        EXPECT_EQ(response.status, 405) << c.method << " " << c.target;
        EXPECT_EQ(response.header("Allow"), c.allow) << c.method << " " << c.target;
    }
}

}  // namespace
}  // namespace vq::e2e
