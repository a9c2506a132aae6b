#include "e2e.h"

#include <arpa/inet.h>
#include <libsoup/soup.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vq::e2e {
namespace {

// Starts the host with the launch's command line and environment.
GSubprocess* spawn(const Launch& launch, GSubprocessFlags flags, const std::string& stderrPath = "") {
    g_autoptr(GSubprocessLauncher) launcher = g_subprocess_launcher_new(flags);
    g_subprocess_launcher_unsetenv(launcher, "VELQUETTE_MACHINE");
    if (launch.machine) g_subprocess_launcher_setenv(launcher, "VELQUETTE_MACHINE", launch.machine->c_str(), TRUE);
    for (const auto& entry : launch.environment)
        g_subprocess_launcher_setenv(launcher, entry.substr(0, entry.find('=')).c_str(),
                                     entry.substr(entry.find('=') + 1).c_str(), TRUE);
    if (!stderrPath.empty()) g_subprocess_launcher_set_stderr_file_path(launcher, stderrPath.c_str());
    std::vector<const char*> argv;
    for (const auto& a : launch.launcher) argv.push_back(a.c_str());
    argv.insert(argv.end(), {launch.program.c_str(), "--port", "0"});
    for (const auto& a : launch.args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    g_autoptr(GError) error = nullptr;
    GSubprocess* process = g_subprocess_launcher_spawnv(launcher, argv.data(), &error);
    if (!process) throw std::runtime_error(std::string("cannot start the host: ") + error->message);
    return process;
}

Launch withHome(Launch launch, const std::string& home) {
    // The host's configuration file is a scratch one, not the user's, unless the launch names another.
    launch.environment.insert(launch.environment.begin(), "XDG_CONFIG_HOME=" + home + "/config");
    // A machine file that cannot be read is the host's to report.
    if (!launch.machine || !std::filesystem::is_regular_file(*launch.machine)) return launch;
    auto machine = json::parse(readFile(*launch.machine));
    machine["home"] = home;
    std::filesystem::create_directories(home + "/Library/Application Support");
    std::ofstream(home + "/machine.json") << machine.dump();
    launch.machine = home + "/machine.json";
    return launch;
}

Response response(guint status, SoupMessageHeaders* headers, std::string body) {
    Response out{int(status), {}, std::move(body)};
    SoupMessageHeadersIter iter;
    soup_message_headers_iter_init(&iter, headers);
    for (const char *name, *value; soup_message_headers_iter_next(&iter, &name, &value);) out.headers[name] = value;
    return out;
}

int exitStatus(GSubprocess* p) {
    return g_subprocess_get_if_signaled(p) ? 128 + g_subprocess_get_term_sig(p) : g_subprocess_get_exit_status(p);
}

}  // namespace

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

Host::Host(const Launch& launch)
    : process_(spawn(withHome(launch, scratch_.path), G_SUBPROCESS_FLAGS_STDOUT_PIPE, scratch_.path + "/stderr")) {
    pid = std::stoi(g_subprocess_get_identifier(process_));
    g_autoptr(GDataInputStream) lines = g_data_input_stream_new(g_subprocess_get_stdout_pipe(process_));
    g_autofree char* line = g_data_input_stream_read_line(lines, nullptr, nullptr, nullptr);
    url = line ? line : "";
    if (!url.starts_with("http://127.0.0.1:")) {
        const int status = stop(SIGKILL);
        throw std::runtime_error("the host printed no URL (status " + std::to_string(status) + "): " + stderrText());
    }
    port = std::uint16_t(std::stoi(url.substr(17)));
}

Host::~Host() {
    stop(SIGKILL);
    g_object_unref(process_);
}

int Host::stop(int signal) {
    g_subprocess_send_signal(process_, signal);  // nothing happens once it has ended
    g_subprocess_wait(process_, nullptr, nullptr);
    return exitStatus(process_);
}

Response Host::request(const std::string& method, const std::string& path, const Headers& headers,
                       const std::string& body) const {
    // No proxy: the host is on loopback whatever the environment says.
    static SoupSession* session = soup_session_new_with_options("proxy-resolver", nullptr, nullptr);
    g_autoptr(SoupMessage) message = soup_message_new(method.c_str(), (url + path.substr(1)).c_str());
    for (const auto& [name, value] : headers)
        soup_message_headers_append(soup_message_get_request_headers(message), name.c_str(), value.c_str());
    g_autoptr(GBytes) bytes = g_bytes_new(body.data(), body.size());
    if (!body.empty()) soup_message_set_request_body_from_bytes(message, nullptr, bytes);
    g_autoptr(GError) error = nullptr;
    g_autoptr(GBytes) answer = soup_session_send_and_read(session, message, nullptr, &error);
    if (!answer) throw std::runtime_error(method + " " + path + ": " + error->message);
    return response(soup_message_get_status(message), soup_message_get_response_headers(message),
                    {static_cast<const char*>(g_bytes_get_data(answer, nullptr)), g_bytes_get_size(answer)});
}

json Host::call(const std::string& name, const json& args) const {
    auto response = post("/call", json{{"method", name}, {"args", args}}.dump());
    if (response.status != 200) throw std::runtime_error(name + " answered " + std::to_string(response.status));
    return json::parse(response.body).at("result");
}

Response Host::raw(const std::string& bytes) const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    std::string text;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        // The host may answer and close before it has read an oversized body.
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        char buffer[16384];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) text.append(buffer, std::size_t(n));
    }
    ::close(fd);
    g_autoptr(SoupMessageHeaders) headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    const auto headEnd = text.find("\r\n\r\n");
    guint status = 0;
    if (headEnd == std::string::npos || !soup_headers_parse_response(text.c_str(), int(headEnd + 2), headers, nullptr,
                                                                      &status, nullptr))
        return {};
    return response(status, headers, text.substr(headEnd + 4));
}

std::tuple<int, std::string, std::string> runHost(const Launch& launch) {
    TempDir home;
    g_autoptr(GSubprocess) process =
        spawn(withHome(launch, home.path), GSubprocessFlags(G_SUBPROCESS_FLAGS_STDOUT_PIPE | G_SUBPROCESS_FLAGS_STDERR_PIPE));
    g_autofree char* out = nullptr;
    g_autofree char* err = nullptr;
    g_subprocess_communicate_utf8(process, nullptr, nullptr, &out, &err, nullptr);
    return {exitStatus(process), out ? out : "", err ? err : ""};
}

BusyProcess::BusyProcess() {
    const char* argv[] = {VQ_BUSY_PROCESS, "60", nullptr};
    process = g_subprocess_newv(argv, G_SUBPROCESS_FLAGS_NONE, nullptr);
    if (!process) throw std::runtime_error("cannot start " VQ_BUSY_PROCESS);
    pid = std::stoi(g_subprocess_get_identifier(process));
    // A process is ranked first by its time on the processors since it started: it must have spun a while
    // (a second of CPU time, 100 ticks) so that a browser started after it, busy with its own start, cannot
    // outrank it. The deadline only keeps a stalled machine from hanging the test.
    for (const gint64 end = g_get_monotonic_time() + 10 * G_USEC_PER_SEC; g_get_monotonic_time() < end;
         g_usleep(50000)) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        long ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i >= 14) ticks += std::atol(field.c_str());
        if (ticks >= 100) break;
    }
}

BusyProcess::~BusyProcess() {
    g_subprocess_force_exit(process);
    g_subprocess_wait(process, nullptr, nullptr);
    g_object_unref(process);
}

}  // namespace vq::e2e
