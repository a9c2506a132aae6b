#include "chromium.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace vq::e2e {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool isExecutable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

// A fresh directory that is removed with everything in it.
class TempDirectory {
public:
    TempDirectory() {
        std::string pattern = (fs::temp_directory_path() / "velquette-chromium-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDirectory() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

}  // namespace

std::optional<std::string> findChromium() {
    if (const char* chosen = std::getenv("VELQUETTE_CHROMIUM"); chosen && *chosen)
        return isExecutable(chosen) ? std::optional<std::string>(chosen) : std::nullopt;
    if (isExecutable("/usr/bin/chromium")) return "/usr/bin/chromium";
    if (const char* path = std::getenv("PATH")) {
        std::stringstream dirs(path);
        for (std::string dir; std::getline(dirs, dir, ':');)
            for (const char* name : {"chromium", "chromium-browser"})
                if (!dir.empty() && isExecutable(dir + "/" + name)) return dir + "/" + name;
    }
    return std::nullopt;
}

PageSnapshot loadPage(const std::string& chromium, const PageLoad& load) {
    TempDirectory scratch;
    const auto profile = scratch.path() / "profile";
    const auto out = scratch.path() / "dom.html";
    const auto err = scratch.path() / "stderr.txt";

    std::vector<std::string> args{chromium,
                                  "--headless",
                                  "--no-sandbox",
                                  "--disable-gpu",
                                  "--disable-background-networking",
                                  "--disable-extensions",
                                  "--disable-sync",
                                  "--no-first-run",
                                  "--no-default-browser-check",
                                  "--hide-scrollbars",
                                  "--force-device-scale-factor=1",
                                  "--user-data-dir=" + profile.string(),
                                  "--virtual-time-budget=" + std::to_string(load.budgetMs),
                                  "--window-size=" + std::to_string(load.width) + "," + std::to_string(load.height),
                                  "--dump-dom"};
    if (!load.screenshotPath.empty()) args.push_back("--screenshot=" + load.screenshotPath);
    args.push_back(load.url);

    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, chromium.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    PageSnapshot snapshot;
    if (rc != 0) {
        snapshot.log = "cannot start " + chromium;
        return snapshot;
    }

    // Virtual time makes a healthy run take a couple of seconds of real time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            snapshot.log = "chromium did not finish within 60 s\n";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    snapshot.dom = readFile(out);
    snapshot.log += readFile(err);
    snapshot.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && snapshot.dom.find("<html") != std::string::npos;
    return snapshot;
}

std::string textOfId(const std::string& dom, const std::string& id) {
    std::smatch match;
    std::regex pattern("id=\"" + id + "\"[^>]*>([^<]*)<");
    return std::regex_search(dom, match, pattern) ? match[1].str() : std::string();
}

std::size_t countClass(const std::string& dom, const std::string& className) {
    std::regex pattern("class=\"(?:[^\"]* )?" + className + "(?: [^\"]*)?\"");
    return std::size_t(std::distance(std::sregex_iterator(dom.begin(), dom.end(), pattern), std::sregex_iterator()));
}

std::vector<std::string> textsOfClass(const std::string& dom, const std::string& className) {
    std::regex pattern("<[a-z0-9]+ [^>]*class=\"(?:[^\"]* )?" + className + "(?: [^\"]*)?\"[^>]*>([^<]*)<");
    std::vector<std::string> texts;
    for (std::sregex_iterator it(dom.begin(), dom.end(), pattern), end; it != end; ++it) texts.push_back((*it)[1]);
    return texts;
}

std::string artifactPath(const std::string& name) {
    fs::create_directories(VQ_ARTIFACTS_DIR);
    return std::string(VQ_ARTIFACTS_DIR) + "/" + name + ".png";
}

}  // namespace vq::e2e
