// Icon paths to URLs and back: which paths are rewritten in call results,
// which URLs name a file, and which files are served from the caches.

#include "host/icon_urls.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace vq::host {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const IconCaches kCaches{"/home/ann/.local/share/Brackwell/ProcessesIconCache/",
                         "/home/ann/.local/share/Brackwell/Parquell/"};
const std::string kProcesses = kCaches.processes;
const std::string kVolumes = kCaches.volumes;

struct PathCase {
    std::string path;
    std::optional<std::string> url;
};

TEST(IconUrlsTest, PathsInsideACacheBecomeUrls) {
    const PathCase cases[] = {
        // The volume miner writes "<folder>/" + "/" + name.
        {kVolumes + "/vm.png", "/icons/volumes/vm.png"},
        {kVolumes + "vm.png", "/icons/volumes/vm.png"},
        {kVolumes + "///vm.png", "/icons/volumes/vm.png"},
        {kProcesses + "org.example.Editor.png", "/icons/processes/org.example.Editor.png"},
        {kVolumes + "/Backup Disk.png", "/icons/volumes/Backup%20Disk.png"},
        {kVolumes + "/100%.png", "/icons/volumes/100%25.png"},
        {kVolumes + "/a:b.png", "/icons/volumes/a%3Ab.png"},
        {kVolumes + "/?#&+=.png", "/icons/volumes/%3F%23%26%2B%3D.png"},
        {kVolumes + "/Données é.png", "/icons/volumes/Donn%C3%A9es%20%C3%A9.png"},
        {kVolumes + "/日本.png", "/icons/volumes/%E6%97%A5%E6%9C%AC.png"},
        {kVolumes + "/~a_b-c.png", "/icons/volumes/~a_b-c.png"},
        // Not a file directly inside a cache.
        {kVolumes + "/../ProcessesIconCache/x.png", std::nullopt},
        {kVolumes + "sub/x.png", std::nullopt},
        {kVolumes + "sub//x.png", std::nullopt},
        {kVolumes, std::nullopt},
        {kVolumes + "/", std::nullopt},
        {"/home/ann/.local/share/Brackwell/Parquell", std::nullopt},
        {"/home/ann/.local/share/Brackwell/ParquellX/a.png", std::nullopt},
        {"/home/ann/.local/share/Brackwell/a.png", std::nullopt},
        {"/etc/a.png", std::nullopt},
        {"/tmp" + kVolumes + "a.png", std::nullopt},
        {"file://" + kVolumes + "a.png", std::nullopt},
        {"", std::nullopt},
        {"/", std::nullopt},
        // Not a servable name.
        {kVolumes + "/.velquette-written-icons", std::nullopt},
        {kVolumes + "/.hidden.png", std::nullopt},
        {kVolumes + "/.png", std::nullopt},
        {kVolumes + "/vm.tiff", std::nullopt},
        {kVolumes + "/vm.PNG", std::nullopt},
        {kVolumes + std::string("/a\0.png", 7), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(iconUrlForPath(c.path, kCaches), c.url) << c.path;
}

TEST(IconUrlsTest, NoCacheFolderMeansNoIconPaths) {
    for (const IconCaches& caches : {IconCaches{}, IconCaches{"/", "//"}}) {
        EXPECT_EQ(iconUrlForPath("/vm.png", caches), std::nullopt);
        EXPECT_EQ(iconUrlForPath("//vm.png", caches), std::nullopt);
        EXPECT_EQ(iconUrlForPath(kVolumes + "/vm.png", caches), std::nullopt);
    }
}

TEST(IconUrlsTest, RewritesEveryIconPathOfAResultAndNothingElse) {
    json diskUsage = json::array({
        json::array({"vm", 20, "1.00GB", "4.00GB", "/", kVolumes + "/vm.png"}),
        json::array({"Backup", 50, "2MB", "2MB", "/mnt/backup", kVolumes + "/Backup.png"}),
        // A foreign path stays as it is; so does one the caches do not serve.
        json::array({"Other", 1, "0KB", "0KB", "/media/other", "/usr/share/icons/disk.png"}),
        json::array({"Hidden", 1, "0KB", "0KB", "/media/hidden", kVolumes + "/.hidden.png"}),
    });
    json rewritten = diskUsage;
    rewriteIconPaths(rewritten, kCaches);
    json expected = diskUsage;
    expected[0][5] = "/icons/volumes/vm.png";
    expected[1][5] = "/icons/volumes/Backup.png";
    EXPECT_EQ(rewritten, expected);

    json nested = {{"icon", kProcesses + "a.png"}, {"list", json::array({json::array({kProcesses + "b.png", 3.5})})},
                   {"flag", true}, {"none", nullptr}};
    rewriteIconPaths(nested, kCaches);
    EXPECT_EQ(nested, json({{"icon", "/icons/processes/a.png"},
                            {"list", json::array({json::array({"/icons/processes/b.png", 3.5})})},
                            {"flag", true},
                            {"none", nullptr}}));

    json single = kVolumes + "/x y.png";
    rewriteIconPaths(single, kCaches);
    EXPECT_EQ(single, "/icons/volumes/x%20y.png");

    json untouched = json::array({"/", 1, 2.5, nullptr, false, json::object()});
    json copy = untouched;
    rewriteIconPaths(copy, kCaches);
    EXPECT_EQ(copy, untouched);
}

struct UrlCase {
    std::string rawPath;
    std::optional<IconCache> cache;  // nullopt: not an icon
    std::string fileName = {};
};

TEST(IconUrlsTest, UrlsNameOneServableFileInOneCache) {
    const UrlCase cases[] = {
        {"/icons/volumes/vm.png", IconCache::Volumes, "vm.png"},
        {"/icons/processes/org.example.Editor.png", IconCache::Processes, "org.example.Editor.png"},
        {"/icons/volumes/Backup%20Disk.png", IconCache::Volumes, "Backup Disk.png"},
        {"/icons/volumes/100%25.png", IconCache::Volumes, "100%.png"},
        {"/icons/volumes/Donn%c3%a9es.png", IconCache::Volumes, "Données.png"},
        {"/icons/volumes/%E6%97%A5%E6%9C%AC.png", IconCache::Volumes, "日本.png"},
        {"/icons/volumes/%76%6D.png", IconCache::Volumes, "vm.png"},
        {"/icons/volumes/a:b.png", IconCache::Volumes, "a:b.png"},
        // Climbing out, or into a folder.
        {"/icons/volumes/../processes/x.png", std::nullopt},
        {"/icons/volumes/..%2Fprocesses%2Fx.png", std::nullopt},
        {"/icons/volumes/%2e%2e%2f%2e%2e%2f%2e%2e%2fetc%2fpasswd", std::nullopt},
        {"/icons/volumes/%2E%2E", std::nullopt},
        {"/icons/volumes/..", std::nullopt},
        {"/icons/volumes/a%2Fb.png", std::nullopt},
        {"/icons/volumes/%2Fetc%2Fx.png", std::nullopt},
        {"/icons/volumes//vm.png", std::nullopt},
        {"/icons//volumes/vm.png", std::nullopt},
        {"/icons/volumes/sub/vm.png", std::nullopt},
        // Not servable names.
        {"/icons/volumes/", std::nullopt},
        {"/icons/volumes/.velquette-written-icons", std::nullopt},
        {"/icons/volumes/%2Ehidden.png", std::nullopt},
        {"/icons/volumes/.png", std::nullopt},
        {"/icons/volumes/vm.tiff", std::nullopt},
        {"/icons/volumes/x%00.png", std::nullopt},
        {"/icons/volumes/x.png%00.txt", std::nullopt},
        // Malformed escapes.
        {"/icons/volumes/bad%2.png", std::nullopt},
        {"/icons/volumes/bad%zz.png", std::nullopt},
        {"/icons/volumes/x.png%", std::nullopt},
        {"/icons/volumes/x.pn%6", std::nullopt},
        // Not a cache.
        {"/icons/volumesX/a.png", std::nullopt},
        {"/icons/Volumes/a.png", std::nullopt},
        {"/icons/other/a.png", std::nullopt},
        {"/icons/a.png", std::nullopt},
        {"/icons/volumes", std::nullopt},
        {"/volumes/a.png", std::nullopt},
        {"icons/volumes/a.png", std::nullopt},
    };
    for (const auto& c : cases) {
        auto request = iconRequestForUrlPath(c.rawPath);
        ASSERT_EQ(request.has_value(), c.cache.has_value()) << c.rawPath;
        if (!request) continue;
        EXPECT_EQ(request->cache, *c.cache) << c.rawPath;
        EXPECT_EQ(request->fileName, c.fileName) << c.rawPath;
    }
}

TEST(IconUrlsTest, EveryRewrittenPathLeadsBackToItsFile) {
    for (const std::string name : {"vm.png", "Backup Disk.png", "100%.png", "%41.png", "a+b.png", "Données é.png",
                                   "日本.png", "x?y#z.png", "a:b.png", "-.png"}) {
        for (IconCache cache : {IconCache::Processes, IconCache::Volumes}) {
            auto url = iconUrlForPath(kCaches.folder(cache) + "/" + name, kCaches);
            ASSERT_TRUE(url) << name;
            auto request = iconRequestForUrlPath(*url);
            ASSERT_TRUE(request) << *url;
            EXPECT_EQ(request->cache, cache) << *url;
            EXPECT_EQ(request->fileName, name) << *url;
        }
    }
}

// A scratch home with both caches, removed afterwards.
class IconFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "velquette-icons-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "Brackwell/ProcessesIconCache");
        fs::create_directories(root_ / "Brackwell/Parquell");
        // As the plug-in names them: with a trailing slash.
        caches_ = {(root_ / "Brackwell/ProcessesIconCache").string() + "/",
                   (root_ / "Brackwell/Parquell").string() + "/"};
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    static std::string png(std::size_t size) {
        std::string bytes("\x89PNG\r\n\x1a\n", 8);
        bytes.resize(size, 'x');
        return bytes;
    }
    void write(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    fs::path volumes() const { return root_ / "Brackwell/Parquell"; }
    fs::path processes() const { return root_ / "Brackwell/ProcessesIconCache"; }
    std::optional<std::string> load(IconCache cache, const std::string& name) const {
        return loadIconFile(caches_, IconRequest{cache, name});
    }

    fs::path root_;
    IconCaches caches_;
};

TEST_F(IconFilesTest, ServesPngFilesOfTheNamedCacheOnly) {
    const std::string icon = png(300);
    write(volumes() / "Backup Disk.png", icon);
    write(volumes() / "Données.png", icon);
    write(processes() / "org.example.png", png(20));
    EXPECT_EQ(load(IconCache::Volumes, "Backup Disk.png"), icon);
    EXPECT_EQ(load(IconCache::Volumes, "Données.png"), icon);
    EXPECT_EQ(load(IconCache::Processes, "org.example.png"), png(20));
    // Each cache serves its own files.
    EXPECT_EQ(load(IconCache::Processes, "Backup Disk.png"), std::nullopt);
    EXPECT_EQ(load(IconCache::Volumes, "org.example.png"), std::nullopt);
    EXPECT_EQ(load(IconCache::Volumes, "missing.png"), std::nullopt);
    // Names that no URL can carry are refused here as well.
    write(root_ / "Brackwell/outside.png", icon);
    EXPECT_EQ(load(IconCache::Volumes, "../outside.png"), std::nullopt);
    write(volumes() / ".hidden.png", icon);
    EXPECT_EQ(load(IconCache::Volumes, ".hidden.png"), std::nullopt);
    // Without a folder there is nothing to serve.
    EXPECT_EQ(loadIconFile(IconCaches{}, IconRequest{IconCache::Volumes, "Backup Disk.png"}), std::nullopt);
}

TEST_F(IconFilesTest, RefusesWhatIsNotAPlainPngFile) {
    write(root_ / "secret.png", png(100));
    fs::create_symlink(root_ / "secret.png", volumes() / "out.png");
    write(volumes() / "real.png", png(100));
    fs::create_symlink("real.png", volumes() / "alias.png");
    fs::create_directory(volumes() / "folder.png");
    write(volumes() / "text.png", "not a picture at all");
    write(volumes() / "empty.png", "");
    EXPECT_EQ(load(IconCache::Volumes, "real.png"), png(100));
    EXPECT_EQ(load(IconCache::Volumes, "out.png"), std::nullopt);
    EXPECT_EQ(load(IconCache::Volumes, "alias.png"), std::nullopt);
    EXPECT_EQ(load(IconCache::Volumes, "folder.png"), std::nullopt);
    EXPECT_EQ(load(IconCache::Volumes, "text.png"), std::nullopt);
    EXPECT_EQ(load(IconCache::Volumes, "empty.png"), std::nullopt);
}

TEST_F(IconFilesTest, AFifoDoesNotStallTheHost) {
    ASSERT_EQ(::mkfifo((volumes() / "pipe.png").c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(load(IconCache::Volumes, "pipe.png"), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(IconFilesTest, FilesAreLimitedInSize) {
    write(volumes() / "largest.png", png(kMaxIconFileBytes));
    write(volumes() / "too-large.png", png(kMaxIconFileBytes + 1));
    auto largest = load(IconCache::Volumes, "largest.png");
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->size(), kMaxIconFileBytes);
    EXPECT_EQ(load(IconCache::Volumes, "too-large.png"), std::nullopt);
}

TEST_F(IconFilesTest, AFolderNamedWithDoubleSlashesStillServes) {
    write(volumes() / "vm.png", png(64));
    IconCaches doubled{caches_.processes, caches_.volumes + "/"};
    EXPECT_EQ(loadIconFile(doubled, IconRequest{IconCache::Volumes, "vm.png"}), png(64));
    auto url = iconUrlForPath(doubled.volumes + "/vm.png", doubled);
    EXPECT_EQ(url, "/icons/volumes/vm.png");
}

}  // namespace
}  // namespace vq::host
