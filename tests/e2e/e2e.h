#pragma once
// The velquette binary as a child process on an ephemeral port, HTTP to it
// through libsoup, literal bytes on a socket for the requests no ordinary
// client sends, and scratch folders.

#include <gio/gio.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vq::e2e {

using nlohmann::json;
using Headers = std::vector<std::pair<std::string, std::string>>;

inline const std::string kTwoCoreMachine = VQ_FIXTURES_DIR "/machines/intel-two-core.json";
inline const std::string kDeskMachine = VQ_E2E_FIXTURES_DIR "/desk-with-volumes-and-network.json";

std::string readFile(const std::string& path);

// A fresh folder, removed with its contents.
struct TempDir {
    explicit TempDir(const std::string& base = std::filesystem::temp_directory_path()) : path(base + "/vq-XXXXXX") {
        if (!::mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed for " + path);
    }
    ~TempDir() { std::filesystem::remove_all(path, ignored); }
    std::error_code ignored;
    std::string path;
};

struct Response {
    int status = 0;
    std::map<std::string, std::string> headers;
    std::string body;
    std::string header(const std::string& name) const { return headers.contains(name) ? headers.at(name) : ""; }
};

struct Launch {
    std::optional<std::string> machine;         // a machine file; nullopt runs on this machine
    std::vector<std::string> args = {};         // after "--port 0"
    std::vector<std::string> environment = {};  // NAME=VALUE
    std::vector<std::string> launcher = {};     // a program that execs the host, such as unshare
    std::string program = VELQUETTE_HOST_BINARY;  // the host, or the widget window that runs one
};

class Host {
public:
    // Waits for the URL line; throws with the host's stderr when none comes.
    // A simulated machine gets a copy of its file whose home is a scratch
    // folder, so that the plug-in writes its icon caches there; the host's
    // configuration folder is a scratch one too.
    explicit Host(const Launch& launch);
    ~Host();
    // The exit code, or 128 + the signal that ended the host.
    int stop(int signal = SIGTERM);
    std::string stderrText() const { return readFile(scratch_.path + "/stderr"); }
    std::string volumeIcons() const { return scratch_.path + "/Library/Application Support/Brackwell/Parquell"; }

    Response request(const std::string& method, const std::string& path, const Headers& headers = {},
                     const std::string& body = {}) const;
    Response post(const std::string& path, const std::string& body) const {
        return request("POST", path, {{"Content-Type", "application/json"}}, body);
    }
    // The "result" of a /call; throws unless the answer is 200.
    json call(const std::string& name, const json& args = json::array()) const;
    // Sends exactly these bytes on a fresh connection and reads until it closes.
    Response raw(const std::string& bytes) const;

    pid_t pid = -1;
    std::uint16_t port = 0;
    std::string url;

private:
    TempDir scratch_;
    GSubprocess* process_;
};

// The busy-process helper (two spinning threads per processor) for as long as this lives.
struct BusyProcess {
    BusyProcess();
    ~BusyProcess();
    pid_t pid = -1;
    GSubprocess* process;
};

// Runs the host until it exits by itself: its status (as Host::stop), stdout and stderr.
std::tuple<int, std::string, std::string> runHost(const Launch& launch);

}  // namespace vq::e2e
