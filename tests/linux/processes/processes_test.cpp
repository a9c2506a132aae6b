// Processes on Linux: the /proc table, application matching on desktop
// entries and icon themes of a fixture tree, and the clipboard programs.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/linux/processes/desktop_applications.h"
#include "platform/linux/processes/linux_processes.h"
#include "platform/linux/processes/proc_processes.h"

namespace vq::linux_platform {
namespace {

namespace fs = std::filesystem;
const std::string kTree = VELQUETTE_FIXTURES "/linux/processes";

TEST(ProcessStat, FieldsAfterTheLastParenthesis) {
    struct Case {
        const char* line;
        std::optional<std::tuple<std::string, std::uint64_t, std::uint64_t, std::uint64_t, std::int64_t>> fields;
    };
    const Case cases[] = {
        {"42 (bash) S 1 42 42 0 -1 0 0 0 0 0 7 3 0 0 20 0 1 0 900 0 512 1", {{"bash", 7, 3, 900, 512}}},
        {"43 (a) b (c)) R 1 1 1 0 -1 0 0 0 0 0 1 2 0 0 20 0 1 0 5 0 -1 1", {{"a) b (c)", 1, 2, 5, -1}}},
        {"44 (cut) S 1 1 1 0 -1 0 0 0 0 0 1 2 0 0 20", std::nullopt},
        {"45 (bad) S 1 1 1 0 -1 0 0 0 0 0 x 2 0 0 20 0 1 0 5 0 1 1", std::nullopt},
        {"46 no comm", std::nullopt},
    };
    for (const auto& [line, fields] : cases) {
        const auto parsed = parseProcessStat(line);
        ASSERT_EQ(parsed.has_value(), fields.has_value()) << line;
        if (parsed) {
            EXPECT_EQ(std::tuple(std::string(parsed->comm), parsed->utime, parsed->stime, parsed->starttime,
                                 parsed->rssPages),
                      *fields);
        }
    }
}

TEST(ProcessName, TheUntruncatedFormOfTheComm) {
    const std::tuple<const char*, const char*, std::vector<std::string>, const char*> cases[] = {
        {"long-process-na", "", {"/usr/libexec/long-process-name-daemon", "-v"}, "long-process-name-daemon"},
        {"myscript-with-l", "/usr/bin/python3.11", {"python3", "/opt/myscript-with-long-name.py"},
         "myscript-with-long-name.py"},
        {"chromium", "/usr/lib/chromium/chromium (deleted)", {"/usr/lib/chromium/chromium --type=renderer"}, "chromium"},
        {"worker", "", {"chrome --type=gpu"}, "worker"},
        {"kworker/0:1", "", {}, "kworker/0:1"},
    };
    for (const auto& [comm, exe, argv, name] : cases) EXPECT_EQ(chooseProcessName(comm, exe, argv), name) << comm;
}

TEST(ApplicationIds, FromTheLaunchersUnits) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"0::/user.slice/user@1000.service/app.slice/app-gnome-org.gnome.Terminal-4242.scope\n",
         {"org.gnome.Terminal", "gnome-org.gnome.Terminal"}},
        {"0::/user.slice/user@1000.service/app.slice/app-org.example.My\\x2dApp@1f.service",
         {"org.example.My-App"}},
        {"0::/app.slice/app-kde-org.kde.konsole-1.scope/tab-2.scope", {"org.kde.konsole", "kde-org.kde.konsole"}},
        {"0::/user.slice/user@1000.service/app.slice/snap.notes.notes.5e2c.scope", {"notes_notes"}},
        {"0::/user.slice/session-2.scope\n12:cpu:/\n", {}},
    };
    for (const auto& [cgroup, ids] : cases) EXPECT_EQ(applicationIdsFromCgroup(cgroup), ids) << cgroup;
}

// Every process of the fixture tree: its name, its application (id, name as
// the desktop shows it) and the size of the rendered icon, if any.
TEST(LinuxProcesses, ApplicationsOfTheFixtureTree) {
    auto processes = makeLinuxProcesses(kTree + "/proc", {kTree + "/data-user", kTree + "/data-system"});
    struct Case {
        std::int32_t pid;
        const char* name;
        const char* application;
        const char* shown;
        bool icon;
    };
    const Case cases[] = {
        {100, "editor-bin", "org.example.Editor", "Editor (mine)", true},  // launcher scope; user entry first
        {101, "editor-bin", "org.example.Editor", "Editor (mine)", true},  // launcher service
        {200, "viewer", "viewer", "Viewer", true},                       // Exec after env, SVG icon
        {300, "flatapp", "org.example.Flat", "Flat", false},             // Flatpak metadata, icon file missing
        {400, "notes", "notes_notes", "Notes", true},                    // snap unit, pixmap "notes.png"
        {500, "wmtool", "wm", "WM Tool", false},                         // StartupWMClass
        {600, "long-process-name-daemon", "", "", false},                // its only entry is hidden
        {601, "sh", "", "", false},                                      // an entry that runs sh claims no shell
        {700, "my-app", "org.example.My-App", "My App", false},          // escaped id; deleted executable
        {701, "(sd-pam)", "", "", false},                                // no command line, no executable
        {999, nullptr, "", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pid);
        EXPECT_EQ(processes->processName(c.pid), c.name ? std::optional<std::string>(c.name) : std::nullopt);
        const auto application = processes->applicationOf(c.pid);
        EXPECT_EQ(application ? application->bundleId : "", c.application);
        if (!application) continue;
        EXPECT_EQ(processes->applicationName(*application), c.shown);
        const auto png = processes->applicationIconPng(*application);
        ASSERT_EQ(png.has_value(), c.icon);
        if (!png) continue;
        g_autoptr(GdkPixbufLoader) loader = gdk_pixbuf_loader_new();
        ASSERT_TRUE(gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(png->data()), png->size(), nullptr));
        ASSERT_TRUE(gdk_pixbuf_loader_close(loader, nullptr));
        GdkPixbuf* image = gdk_pixbuf_loader_get_pixbuf(loader);
        EXPECT_EQ(gdk_pixbuf_get_width(image), 48);
        EXPECT_EQ(gdk_pixbuf_get_height(image), 48);
    }
}

TEST(LinuxProcesses, SampleSkipsTornAndNonProcessEntries) {
    auto processes = makeLinuxProcesses(kTree + "/proc", {});
    ProcessSample sample;
    ASSERT_TRUE(processes->sampleProcesses(sample));
    std::vector<std::int32_t> pids;
    for (const auto& record : sample.records) pids.push_back(record.pid);
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<std::int32_t>{100, 101, 200, 300, 400, 500, 600, 601, 700, 701}));
    const auto editor = std::find_if(sample.records.begin(), sample.records.end(), [](auto& r) { return r.pid == 100; });
    const double tick = 1.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
    EXPECT_DOUBLE_EQ(editor->cpuSeconds, 300 * tick);
    EXPECT_DOUBLE_EQ(editor->startedAt, 1000 * tick);
    EXPECT_EQ(editor->residentBytes, 512u * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)));
    EXPECT_FALSE(makeLinuxProcesses("/nonexistent", {})->sampleProcesses(sample));
}

TEST(Clipboard, TheTextGoesToTheDisplaysProgramOnItsInput) {
    EXPECT_EQ(clipboardCommand("wayland-0", ":0"), std::vector<std::string>{"wl-copy"});
    EXPECT_EQ(clipboardCommand("", ":0"), (std::vector<std::string>{"xclip", "-selection", "clipboard"}));
    EXPECT_EQ(clipboardCommand(nullptr, ""), std::vector<std::string>{});

    // Stand-ins for both programs record their arguments and their input.
    const fs::path folder = fs::path(::mkdtemp(std::string("/tmp/velquette-clipboard-XXXXXX").data()));
    for (const char* program : {"wl-copy", "xclip"}) {
        std::ofstream(folder / program) << "#!/bin/sh\necho \"$0 $*\" > " << (folder / "args").string()
                                        << ".tmp\ncat > " << (folder / "input").string() << "\nmv "
                                        << (folder / "args").string() << ".tmp " << (folder / "args").string() << "\n";
        fs::permissions(folder / program, fs::perms::owner_all);
    }
    const auto variable = [](const char* name) { return std::string(g_getenv(name) ? g_getenv(name) : ""); };
    const std::string savedPath = variable("PATH"), savedWayland = variable("WAYLAND_DISPLAY"),
                      savedDisplay = variable("DISPLAY");
    g_setenv("PATH", (folder.string() + ":" + savedPath).c_str(), TRUE);
    const auto copy = [&](const char* wayland, const char* display, const std::string& text) {
        g_setenv("WAYLAND_DISPLAY", wayland, TRUE);
        g_setenv("DISPLAY", display, TRUE);
        makeLinuxClipboard()->copyText(text);
        // The host never waits: the program finishes on the main loop.
        const gint64 deadline = g_get_monotonic_time() + (*wayland ? 5 : 0.3) * G_USEC_PER_SEC;
        while (!fs::exists(folder / "args") && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, FALSE);
        for (int i = 0; i < 20; ++i) g_main_context_iteration(nullptr, FALSE);
    };
    copy("wayland-1", "", "192.0.2.1 ' $(x)");
    std::ifstream args(folder / "args"), input(folder / "input");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(args), {}), (folder / "wl-copy").string() + " \n");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(input), {}), "192.0.2.1 ' $(x)");
    fs::remove(folder / "args");
    copy("", "", "nothing");
    EXPECT_FALSE(fs::exists(folder / "args"));

    g_setenv("PATH", savedPath.c_str(), TRUE);
    g_setenv("WAYLAND_DISPLAY", savedWayland.c_str(), TRUE);
    g_setenv("DISPLAY", savedDisplay.c_str(), TRUE);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace vq::linux_platform
