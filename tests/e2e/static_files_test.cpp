// Mapping request paths to the page's files, and reading them.

#include "host/static_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace vq::host {
namespace {

namespace fs = std::filesystem;

struct PathCase {
    const char* raw;
    std::optional<std::string> relative;
};

TEST(StaticFilesTest, PlainPathsMapIntoTheWebDirectory) {
    const PathCase cases[] = {
        {"/", "index.html"},
        {"/index.html", "index.html"},
        {"/widget.js", "widget.js"},
        {"/icons/cpu-1.png", "icons/cpu-1.png"},
        {"/style%2Ecss", "style.css"},
        {"/a_b-c.js", "a_b-c.js"},
    };
    for (const auto& c : cases) EXPECT_EQ(webRelativePath(c.raw), c.relative) << c.raw;
}

TEST(StaticFilesTest, NothingOutsideTheWebDirectoryCanBeNamed) {
    const char* refused[] = {
        "/..", "/../etc/passwd", "/icons/../../x.js", "/%2e%2e/etc/passwd", "/%2E%2E%2Fetc%2Fpasswd",
        "/..%2fetc/passwd", "/%2fetc/passwd", "/icons%2f..%2f..%2fx.js", "/%5c..%5cx.js", "/..\\x.js",
        "/.", "/./index.html", "/.git/config", "/%2egit/config", "//etc/passwd", "/icons//x.png", "/icons/",
        "/index.html%00.png", "/index.html%", "/index.html%2", "/index.html%zz", "/a b.js", "/caf%C3%A9.js",
        "index.html", "", "/~root", "/x?.js",
    };
    for (const char* raw : refused) EXPECT_EQ(webRelativePath(raw), std::nullopt) << raw;
}

TEST(StaticFilesTest, ContentTypesFollowTheExtension) {
    EXPECT_EQ(contentTypeForFile("index.html"), "text/html; charset=utf-8");
    EXPECT_EQ(contentTypeForFile("style.css"), "text/css; charset=utf-8");
    EXPECT_EQ(contentTypeForFile("widget.js"), "text/javascript; charset=utf-8");
    EXPECT_EQ(contentTypeForFile("icons/disk.png"), "image/png");
    EXPECT_EQ(contentTypeForFile("logo.svg"), "image/svg+xml");
    EXPECT_EQ(contentTypeForFile("CMakeLists.txt.swp"), std::nullopt);
    EXPECT_EQ(contentTypeForFile("core"), std::nullopt);
    EXPECT_EQ(contentTypeForFile(".js"), std::nullopt);
}

class WebDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = fs::temp_directory_path() / ("velquette-web-" + std::to_string(::getpid()));
        fs::remove_all(base_);
        fs::create_directories(base_ / "web" / "icons");
        write(base_ / "web" / "index.html", "<p>page</p>");
        write(base_ / "web" / "icons" / "a.png", "png");
        write(base_ / "secret.txt", "secret");
        fs::create_directory(base_ / "web" / "folder.js");
    }
    void TearDown() override { fs::remove_all(base_); }

    static void write(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }
    std::string root() const { return (base_ / "web").string(); }

    fs::path base_;
};

TEST_F(WebDirectoryTest, ServesRegularFilesWithTheirType) {
    auto page = loadWebFile(root(), "index.html");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->contents, "<p>page</p>");
    EXPECT_EQ(page->contentType, "text/html; charset=utf-8");
    auto icon = loadWebFile(root(), "icons/a.png");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->contents, "png");
}

TEST_F(WebDirectoryTest, RefusesMissingFilesDirectoriesAndLinksThatLeave) {
    EXPECT_FALSE(loadWebFile(root(), "missing.html"));
    EXPECT_FALSE(loadWebFile(root(), "folder.js"));
    fs::create_symlink(base_ / "secret.txt", base_ / "web" / "leak.txt");
    EXPECT_FALSE(loadWebFile(root(), "leak.txt"));
    fs::create_symlink(base_, base_ / "web" / "up");
    EXPECT_FALSE(loadWebFile(root(), "up/secret.txt"));
    // A directory whose name starts like the root's is not inside it.
    fs::create_directory(base_ / "web2");
    write(base_ / "web2" / "x.txt", "x");
    fs::create_symlink(base_ / "web2" / "x.txt", base_ / "web" / "sibling.txt");
    EXPECT_FALSE(loadWebFile(root(), "sibling.txt"));
}

TEST_F(WebDirectoryTest, LinksThatStayInsideAreFollowed) {
    fs::create_symlink(base_ / "web" / "index.html", base_ / "web" / "home.html");
    auto page = loadWebFile(root(), "home.html");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->contents, "<p>page</p>");
}

}  // namespace
}  // namespace vq::host
