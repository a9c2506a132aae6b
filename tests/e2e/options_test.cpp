// The host's command line.

#include "host/options.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace vq::host {
namespace {

std::variant<HostOptions, std::string> parse(std::initializer_list<std::string_view> args) {
    std::vector<std::string_view> list(args);
    return parseHostOptions(list, "/default/web");
}

TEST(HostOptionsTest, DefaultsAreLoopbackPort8765AndTheBuiltInWebDirectory) {
    auto options = std::get<HostOptions>(parse({}));
    EXPECT_EQ(options.server.listenAddress, "127.0.0.1");
    EXPECT_EQ(options.server.port, 8765);
    EXPECT_EQ(options.server.webRoot, "/default/web");
    EXPECT_FALSE(options.showHelp);
}

TEST(HostOptionsTest, ValuesComeAsTheNextArgumentOrAfterAnEqualsSign) {
    auto options = std::get<HostOptions>(parse({"--port", "0", "--listen=::1", "--web-root", "/srv/w"}));
    EXPECT_EQ(options.server.port, 0);
    EXPECT_EQ(options.server.listenAddress, "::1");
    EXPECT_EQ(options.server.webRoot, "/srv/w");
    EXPECT_EQ(std::get<HostOptions>(parse({"--port=65535"})).server.port, 65535);
    EXPECT_TRUE(std::get<HostOptions>(parse({"--help"})).showHelp);
}

TEST(HostOptionsTest, BadCommandLinesAreRefusedWithAReason) {
    for (auto args : {std::initializer_list<std::string_view>{"--port"},
                      {"--port", "65536"},
                      {"--port", "-1"},
                      {"--port", "80x"},
                      {"--port", ""},
                      {"--port", " 80"},
                      {"--listen="},
                      {"--web-root"},
                      {"--verbose"},
                      {"8765"}}) {
        auto result = parse(args);
        ASSERT_TRUE(std::holds_alternative<std::string>(result)) << *args.begin();
        EXPECT_FALSE(std::get<std::string>(result).empty());
    }
}

}  // namespace
}  // namespace vq::host
