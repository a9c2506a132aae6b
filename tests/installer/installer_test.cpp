#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "archive_writer.h"
#include "installer/BrackwellFileDownloader.h"
#include "installer/linux/archive_unpacker.h"
#include "installer/linux/gio_desktop.h"
#include "installer/linux/soup_downloader.h"
#include "platform/linux/common/posix_file_system.h"

namespace vq::installer {
namespace {

namespace fs = std::filesystem;

struct RecordingView : InstallerView {
    void activate() override {}
    void keepAbove() override {}
    void setContent(InstallerPane pane) override { content = pane; }
    void startIndicator(Indicator i) override { running[static_cast<int>(i)] = true; }
    void stopIndicator(Indicator i) override {
        running[static_cast<int>(i)] = false;
        stopped.push_back(i);
    }
    void setFailedMessage(const std::string& m) override { message = m; }
    void setRestartNeeded(bool needed) override { restartNeeded = needed; }
    InstallerPane content = InstallerPane::main;
    std::string message;
    bool restartNeeded = false;
    bool running[3] = {};
    std::vector<Indicator> stopped;
};

struct CountingNotifications : NotificationCenter {
    Subscription observe(const std::string&, std::function<void()>) override { return {}; }
    bool post(const std::string& name) override {
        posted.push_back(name);
        return connected;
    }
    std::vector<std::string> posted;
    bool connected = true;
};

struct ScratchDesktop : GioDesktop {
    std::string temporaryDirectory() override { return temporary; }
    void openURL(const std::string& url) override { opened.push_back(url); }
    void openFile(const std::string& path) override { opened.push_back(path); }
    std::string temporary;
    std::vector<std::string> opened;
};

// A home, a temporary folder and a "server" folder that the base URL points at.
struct InstallerTest : ::testing::Test {
    InstallerTest() {
        fs::create_directories(server / "software/Intel");
        fs::create_directories(desktop.temporary = (scratch / "tmp").string());
    }
    ~InstallerTest() override { fs::remove_all(scratch); }
    void serve(const fs::path& archive) {
        fs::copy_file(archive, server / "software/Intel/VelquorIntelSensorsV3.zip",
                      fs::copy_options::overwrite_existing);
    }
    // Runs the main loop until the window shows success or failure.
    void finish() {
        view.content = InstallerPane::main;
        for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
             view.content != InstallerPane::success && view.content != InstallerPane::failed &&
             std::chrono::steady_clock::now() < end;)
            g_main_context_iteration(nullptr, TRUE);
    }
    fs::path scratch = fs::path(::mkdtemp(std::string("/tmp/vq-installer-XXXXXX").data()));
    fs::path server = scratch / "server";
    fs::path folder = scratch / "home/Library/Application Support/Brackwell/Velquor";
    PosixFileSystem files{(scratch / "home/Library/Application Support").string()};
    RecordingView view;
    CountingNotifications notifications;
    ScratchDesktop desktop;
    SoupDownloader downloader;
    ArchiveUnpacker unpacker;
    std::string baseURL = "file://" + server.string() + "/";
    BrackwellFileDownloader controller{view, {downloader, unpacker, desktop, files, notifications}, baseURL,
                                       "/opt/manual.html"};
};

TEST_F(InstallerTest, FirstViewIsReplaceOnlyWhenTheModuleIsInPlace) {
    controller.awakeFromNib();
    EXPECT_EQ(view.content, InstallerPane::main);
    fs::create_directories(folder / "VelquorIntelSensorsV3.bundle");
    controller.awakeFromNib();
    EXPECT_EQ(view.content, InstallerPane::replace);
    controller.showManualInstructions();
    controller.getSource();
    EXPECT_EQ(desktop.opened, (std::vector<std::string>{"/opt/manual.html", baseURL + "support/?p=21"}));
}

// Each way an installation can end: the view, its message, the indicator
// stopped and the notifications posted.
TEST_F(InstallerTest, EachOutcomeShowsItsViewMessageAndIndicator) {
    test::writeArchive((scratch / "other.zip").string(), {{test::Member::file, "Other.bundle/module.so", "x"}});
    std::ofstream(scratch / "garbage.zip") << "not an archive";
    struct Case {
        const char* what;
        std::string archive;  // served at the module's path; empty serves nothing
        std::string base;
        InstallerPane pane;
        std::string message;  // a prefix for download errors
        std::size_t posts;
        bool connected = true;
        std::string temporary = "tmp";
        std::uint64_t maxBytes = SoupDownloader::kDefaultMaxBytes;
    };
    const Case cases[] = {
        {"the module", VELQUETTE_SAMPLE_MODULE_ARCHIVE, baseURL, InstallerPane::success, "", 1},
        {"no session bus", VELQUETTE_SAMPLE_MODULE_ARCHIVE, baseURL, InstallerPane::success, "", 1, false},
        {"no bundle in the archive", (scratch / "other.zip").string(), baseURL, InstallerPane::failed,
         "File could not be created", 0},
        {"not an archive", (scratch / "garbage.zip").string(), baseURL, InstallerPane::failed,
         "Could not unzip file", 0},
        {"nothing at the URL", "", baseURL, InstallerPane::failed,
         "Download Error: Error opening file " + server.string() + "/software/Intel/VelquorIntelSensorsV3.zip", 0},
        {"unreachable server", "", "http://127.0.0.1:1", InstallerPane::failed,
         "Download Error: Could not connect to 127.0.0.1", 0},
        {"no temporary folder", VELQUETTE_SAMPLE_MODULE_ARCHIVE, baseURL, InstallerPane::failed,
         "Could not create temporary directory", 0, true, "missing/tmp"},
        {"an archive past the size limit", VELQUETTE_SAMPLE_MODULE_ARCHIVE, baseURL, InstallerPane::failed,
         "Download Error: the archive is larger than 1024 bytes", 0, true, "tmp-limited", 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder);
        fs::remove(server / "software/Intel/VelquorIntelSensorsV3.zip");
        if (!c.archive.empty()) serve(c.archive);
        notifications.posted.clear();
        notifications.connected = c.connected;
        desktop.temporary = (scratch / c.temporary).string();
        view.stopped.clear();
        if (c.maxBytes != SoupDownloader::kDefaultMaxBytes) fs::create_directories(desktop.temporary);
        SoupDownloader limited(c.maxBytes);
        BrackwellFileDownloader installer{view, {limited, unpacker, desktop, files, notifications}, c.base, ""};
        installer.downloadAndInstall();
        EXPECT_TRUE(view.running[0]);
        finish();
        EXPECT_EQ(view.content, c.pane);
        EXPECT_EQ(fs::exists(folder / "VelquorIntelSensorsV3.bundle"), c.pane == InstallerPane::success);
        if (c.pane == InstallerPane::failed) {
            EXPECT_EQ(view.message.substr(0, c.message.size()), c.message);
        }
        EXPECT_EQ(view.stopped, std::vector<Indicator>{Indicator::main});
        EXPECT_EQ(notifications.posted, std::vector<std::string>(c.posts, "ParquellIntelModuleAvailable"));
        if (c.pane == InstallerPane::success) {
            EXPECT_EQ(view.restartNeeded, !c.connected);
        }
        if (c.maxBytes != SoupDownloader::kDefaultMaxBytes) {  // the cut-off download is not kept
            for (const auto& entry : fs::recursive_directory_iterator(desktop.temporary))
                EXPECT_FALSE(entry.is_regular_file()) << entry.path();
        }
    }
}

TEST_F(InstallerTest, ASuccessfulRetryStopsTheFailedViewsIndicator) {
    controller.downloadAndInstall();
    finish();
    ASSERT_EQ(view.content, InstallerPane::failed);
    serve(VELQUETTE_SAMPLE_MODULE_ARCHIVE);
    view.stopped.clear();
    controller.retry();
    EXPECT_TRUE(view.running[2]);
    finish();
    EXPECT_EQ(view.content, InstallerPane::success);
    EXPECT_EQ(controller.installFrom(), 2);
    EXPECT_EQ(view.stopped, std::vector<Indicator>{Indicator::failed});
    EXPECT_FALSE(view.running[2]);
}

// Installing twice (the second time replacing) downloads into two fresh
// temporary folders, keeps both, and tells the widgets twice.
TEST_F(InstallerTest, TwoInstallationsUseTwoTemporaryFoldersAndPostTwice) {
    serve(VELQUETTE_SAMPLE_MODULE_ARCHIVE);
    controller.downloadAndInstall();
    finish();
    const fs::path first = controller.downloadPath();
    std::ofstream(folder / "VelquorIntelSensorsV3.bundle/fans.json") << "stale";
    controller.replaceAndInstall();
    finish();
    const fs::path second = controller.downloadPath();
    EXPECT_EQ(view.content, InstallerPane::success);
    EXPECT_NE(first.parent_path(), second.parent_path());
    EXPECT_EQ(first.parent_path().parent_path(), desktop.temporary);
    EXPECT_EQ(second.filename(), "VelquorIntelSensorsV3.zip");
    EXPECT_TRUE(fs::exists(first) && fs::exists(second));
    EXPECT_EQ(notifications.posted.size(), 2u);
    EXPECT_NE(fs::file_size(folder / "VelquorIntelSensorsV3.bundle/fans.json"), 5u);  // "stale" was replaced
}

}  // namespace
}  // namespace vq::installer
