// The command line of kwz-viewer: each option read into what it sets, each kind of bad argument
// refused with a message that names it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "apps/kwz-viewer/ViewerOptions.h"
#include "tests/support/ChildProcess.h"

namespace kwz_viewer {
namespace {

using kwz_test::ScopedEnv;

ParseResult Parse(std::vector<const char*> args, ViewerOptions* options, std::string* error) {
  args.insert(args.begin(), "kwz-viewer");
  return ParseViewerOptions(static_cast<int>(args.size()), args.data(), options, error);
}

struct Accepted {
  const char* name;
  std::vector<const char*> args;
  std::function<void(const ViewerOptions&)> check;
};

class ViewerOptionsAccepted : public ::testing::TestWithParam<Accepted> {};

TEST_P(ViewerOptionsAccepted, SetsWhatTheOptionSays) {
  ScopedEnv display("DISPLAY", ":99");
  ViewerOptions options;
  std::string error;
  ASSERT_EQ(Parse(GetParam().args, &options, &error), ParseResult::kRun) << error;
  GetParam().check(options);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ViewerOptionsAccepted,
    ::testing::Values(
        Accepted{"defaults",
                 {"--group", "224.76.12.19"},
                 [](const ViewerOptions& o) {
                   EXPECT_EQ(o.width, 800);
                   EXPECT_EQ(o.height, 600);
                   EXPECT_FALSE(o.headless) << "DISPLAY is set";
                   EXPECT_FALSE(o.stretch);
                   EXPECT_FALSE(o.seconds.has_value());
                   EXPECT_FALSE(o.parent.has_value());
                 }},
        Accepted{"source",
                 {"--source-address", "127.0.0.1", "--source-port", "60010", "--group",
                  "224.76.12.19", "--stretch"},
                 [](const ViewerOptions& o) {
                   EXPECT_EQ(o.sourceAddress, "127.0.0.1");
                   EXPECT_EQ(o.sourcePort, "60010");
                   EXPECT_EQ(o.group, "224.76.12.19");
                   EXPECT_TRUE(o.stretch);
                 }},
        Accepted{"repeated_settings_keep_order",
                 {"--source-address", "127.0.0.1", "--set", "b=2", "--set", "a=x=y", "--get",
                  "video_pck_lost", "--get", "k"},
                 [](const ViewerOptions& o) {
                   ASSERT_EQ(o.settings.size(), 2u);
                   EXPECT_EQ(o.settings[0], std::make_pair(std::string("b"), std::string("2")));
                   EXPECT_EQ(o.settings[1], std::make_pair(std::string("a"), std::string("x=y")));
                   EXPECT_EQ(o.queries, (std::vector<std::string>{"video_pck_lost", "k"}));
                 }},
        Accepted{"remote_control",
                 {"--source-address", "127.0.0.1", "--server-address", "127.0.0.1", "--server-port",
                  "0", "--remote-control"},
                 [](const ViewerOptions& o) {
                   EXPECT_TRUE(o.remoteControl);
                   EXPECT_EQ(o.serverPort, "0");
                 }},
        Accepted{"window",
                 {"--group", "224.76.12.19", "--size", "1x16384", "--parent", "0x2c00005",
                  "--snapshot", "out.png", "--seconds", "0"},
                 [](const ViewerOptions& o) {
                   EXPECT_EQ(o.width, 1);
                   EXPECT_EQ(o.height, 16384);
                   EXPECT_EQ(o.parent.value_or(0), 0x2c00005ul);
                   EXPECT_EQ(o.snapshot, "out.png");
                   EXPECT_EQ(o.seconds.value_or(99), 0u);
                 }},
        Accepted{"headless_asked",
                 {"--source-address", "127.0.0.1", "--headless"},
                 [](const ViewerOptions& o) { EXPECT_TRUE(o.headless); }}),
    [](const auto& info) { return std::string(info.param.name); });

struct Rejected {
  const char* name;
  std::vector<const char*> args;
  const char* message;  // part of the error
};

class ViewerOptionsRejected : public ::testing::TestWithParam<Rejected> {};

TEST_P(ViewerOptionsRejected, SaysWhatIsWrong) {
  ScopedEnv display("DISPLAY", ":99");
  ViewerOptions options;
  std::string error;
  ASSERT_EQ(Parse(GetParam().args, &options, &error), ParseResult::kBadArguments);
  EXPECT_NE(error.find(GetParam().message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ViewerOptionsRejected,
    ::testing::Values(Rejected{"unknown", {"--sauce-port", "1"}, "unknown argument '--sauce-port'"},
                      Rejected{"missing_value", {"--source-port"}, "--source-port needs a value"},
                      Rejected{"port_too_large", {"--source-port", "65536"}, "not a port number"},
                      Rejected{"port_negative", {"--server-port", "-1"}, "not a port number"},
                      Rejected{
                          "port_trailing_text", {"--source-port", "60004x"}, "not a port number"},
                      Rejected{"size_without_x", {"--size", "800"}, "not WIDTHxHEIGHT"},
                      Rejected{"size_zero", {"--size", "0x600"}, "not WIDTHxHEIGHT"},
                      Rejected{"size_huge", {"--size", "99999999999x2"}, "not WIDTHxHEIGHT"},
                      Rejected{"set_without_equals", {"--set", "key"}, "not KEY=VALUE"},
                      Rejected{"set_without_key", {"--set", "=v"}, "not KEY=VALUE"},
                      Rejected{"empty_get", {"--get", ""}, "needs a key"},
                      Rejected{"parent_zero", {"--parent", "0"}, "not an X window id"},
                      Rejected{"parent_text", {"--parent", "window"}, "not an X window id"},
                      Rejected{"seconds_negative", {"--seconds", "-5"}, "not a number of seconds"},
                      Rejected{"remote_without_server",
                               {"--group", "224.76.12.19", "--remote-control"},
                               "needs --server-address"},
                      Rejected{"parent_headless",
                               {"--source-address", "127.0.0.1", "--headless", "--parent", "12"},
                               "needs an X display"},
                      Rejected{"no_source",
                               {"--source-port", "60010", "--headless"},
                               "give --source-address ADDR or --group ADDR"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ViewerOptions, NoDisplayMeansHeadless) {
  ScopedEnv display("DISPLAY", nullptr);
  ViewerOptions options;
  std::string error;
  ASSERT_EQ(Parse({"--source-address", "127.0.0.1"}, &options, &error), ParseResult::kRun);
  EXPECT_TRUE(options.headless);
  EXPECT_EQ(Parse({"--help"}, &options, &error), ParseResult::kHelp);
}

}  // namespace
}  // namespace kwz_viewer
