// The page's Velquette object must offer every name the host serves.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "bridge/script_table.h"

namespace {

TEST(WebScriptNamesTest, VelquetteJsOffersEveryReachableName) {
    std::ifstream in(VQ_WEB_DIR "/velquette.js");
    ASSERT_TRUE(in) << "cannot read " VQ_WEB_DIR "/velquette.js";
    std::stringstream text;
    text << in.rdbuf();
    const std::string source = text.str();

    // The NAMES list: every quoted identifier between "const NAMES = [" and "];".
    auto begin = source.find("const NAMES = [");
    ASSERT_NE(begin, std::string::npos);
    auto end = source.find("];", begin);
    std::string list = source.substr(begin, end - begin);
    std::set<std::string> offered;
    std::regex quoted("\"([A-Za-z_][A-Za-z0-9_]*)\"");
    for (std::sregex_iterator it(list.begin(), list.end(), quoted), done; it != done; ++it)
        offered.insert((*it)[1]);

    ASSERT_FALSE(vq::reachableScriptNames().empty());
    for (const auto& name : vq::reachableScriptNames()) EXPECT_TRUE(offered.count(name)) << name;
    EXPECT_EQ(offered.size(), 23u) << "the 19 script names and 4 default names";
}

}  // namespace
