#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "archive_writer.h"
#include "installer/linux/archive_unpacker.h"

namespace vq::installer {
namespace {

namespace fs = std::filesystem;
using test::Member;

TEST(ArchiveNames, LinksMayNotClimbOutOfTheInstallFolder) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"a.bundle/link", "module.so", true},       {"a.bundle/Contents/link", "../module.so", true},
        {"a.bundle/link", "../../outside", false},  {"link", "..", false},
        {"a.bundle/link", "/etc/passwd", false},    {"a.bundle/link", "", false},
        // Through a link "b" -> "." this climbs two levels although the text stays in.
        {"a.bundle/link", "b/b/../..", false},
    };
    for (const auto& [link, target, inside] : cases) EXPECT_EQ(linkStaysInside(link, target), inside) << target;
    EXPECT_EQ(memberPath("./a.bundle//module.so"), "a.bundle/module.so");
    EXPECT_EQ(memberPath("a.bundle/../../x"), std::nullopt);
    EXPECT_EQ(memberPath("/etc/passwd"), std::nullopt);
}

// Each archive tries to write outside the install folder or to fill the disk.
// It is refused as a whole and the folder beside it stays exactly as it was.
TEST(HostileArchives, AreRefusedAndWriteNothingOutside) {
    struct Case {
        const char* what;
        std::vector<Member> members;
        bool zip = true;
    };
    const fs::path scratch = fs::path(::mkdtemp(std::string("/tmp/vq-hostile-XXXXXX").data()));
    const fs::path outside = scratch / "outside";
    const fs::path install = scratch / "install";
    const std::string ok = "VelquorIntelSensorsV3.bundle/module.so";
    const Case cases[] = {
        {"dot-dot entry", {{Member::file, ok, "x"}, {Member::file, "../outside/escaped", "x"}}},
        {"dot-dot inside a name", {{Member::file, "VelquorIntelSensorsV3.bundle/../../outside/escaped", "x"}}},
        {"absolute path", {{Member::file, (outside / "escaped").string(), "x"}}},
        {"link out, then a file through it",
         {{Member::symlink, "VelquorIntelSensorsV3.bundle", "../outside"},
          {Member::file, ok, "x"}}},
        {"absolute link, then a file through it",
         {{Member::symlink, "out", outside.string()}, {Member::file, "out/escaped", "x"}}},
        {"hard link to a file outside",
         {{Member::hardlink, "VelquorIntelSensorsV3.bundle/secret", "../outside/secret"},
          {Member::file, "VelquorIntelSensorsV3.bundle/secret", "overwritten"}},
         false},
        {"absolute hard link", {{Member::hardlink, "secret", (outside / "secret").string()}}, false},
        {"zip bomb", {{Member::file, ok, "", UnpackLimits{}.maxTotalBytes + 1}}},
        {"members adding up past the limit",
         {{Member::file, ok, "", UnpackLimits{}.maxTotalBytes / 2 + 1}, {Member::file, "more", "", UnpackLimits{}.maxTotalBytes / 2 + 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(outside);
        fs::remove_all(install);
        fs::create_directories(outside);
        std::ofstream(outside / "secret") << "secret";
        const std::string archive = (scratch / "hostile").string();
        test::writeArchive(archive, c.members, c.zip);

        EXPECT_FALSE(unpackArchive(archive, install.string(), UnpackLimits{}));

        std::vector<fs::path> left;
        for (const auto& entry : fs::directory_iterator(outside)) left.push_back(entry.path().filename());
        EXPECT_EQ(left, std::vector<fs::path>{"secret"});
        std::ifstream secret(outside / "secret");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(secret), {}), "secret");
        EXPECT_EQ(fs::hard_link_count(outside / "secret"), 1u);
        std::uintmax_t written = 0;
        for (const auto& entry : fs::recursive_directory_iterator(install))
            if (entry.is_regular_file()) written += entry.file_size();
        EXPECT_LE(written, UnpackLimits{}.maxTotalBytes);
    }
    fs::remove_all(scratch);
}

}  // namespace
}  // namespace vq::installer
