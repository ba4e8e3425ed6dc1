// The command line of kwz-viewer: each option read into what it sets, each kind of bad argument
// refused with a message that names it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/kwz-viewer/ViewerOptions.h"
#include "tests/apps/CommandLine.h"
#include "tests/support/ChildProcess.h"

namespace kwz_viewer {
namespace {

using kwz_test::ScopedEnv;

ParseResult Parse(const std::string& line, ViewerOptions* options, std::string* error) {
  kwz_test::CommandLine command("kwz-viewer", line);
  return ParseViewerOptions(command.argc(), command.argv(), options, error);
}

// What the program's runs leave out: a group, repeated settings and queries, the size's limits,
// a window id in hexadecimal, and headless by default only without a display.
TEST(ViewerOptions, EachOptionSetsWhatItSays) {
  ScopedEnv display("DISPLAY", ":99");
  ViewerOptions o;
  std::string error;
  ASSERT_EQ(Parse("--group 224.76.12.19 --set b=2 --set a=x=y --get video_pck_lost --get k "
                  "--size 1x16384 --parent 0x2c00005 --seconds 0",
                  &o, &error),
            ParseResult::kRun)
      << error;
  EXPECT_FALSE(o.headless) << "DISPLAY is set";
  EXPECT_EQ(o.group, "224.76.12.19");
  // Repeated settings keep their order; a value may hold '='.
  using Setting = std::pair<std::string, std::string>;
  EXPECT_EQ(o.settings, (std::vector<Setting>{{"b", "2"}, {"a", "x=y"}}));
  EXPECT_EQ(o.queries, (std::vector<std::string>{"video_pck_lost", "k"}));
  EXPECT_EQ(o.width, 1);
  EXPECT_EQ(o.height, 16384);
  EXPECT_EQ(o.parent.value_or(0), 0x2c00005ul);
  EXPECT_EQ(o.seconds.value_or(99), 0u);

  ScopedEnv noDisplay("DISPLAY", nullptr);
  o = ViewerOptions{};
  ASSERT_EQ(Parse("--source-address 127.0.0.1", &o, &error), ParseResult::kRun);
  EXPECT_TRUE(o.headless) << "no DISPLAY";
  EXPECT_EQ(Parse("--help", &o, &error), ParseResult::kHelp);
}

TEST(ViewerOptions, BadArgumentsSayWhatIsWrong) {
  ScopedEnv display("DISPLAY", ":99");
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"--sauce-port 1", "unknown argument '--sauce-port'"},
      {"--source-port", "--source-port needs a value"},
      {"--source-port 65536", "not a port number"},
      {"--server-port -1", "not a port number"},
      {"--source-port 60004x", "not a port number"},
      {"--size 800", "not WIDTHxHEIGHT"},
      {"--size 0x600", "not WIDTHxHEIGHT"},
      {"--size 99999999999x2", "not WIDTHxHEIGHT"},
      {"--set key", "not KEY=VALUE"},
      {"--set =v", "not KEY=VALUE"},
      {"--get ''", "needs a key"},
      {"--parent 0", "not an X window id"},
      {"--parent window", "not an X window id"},
      {"--seconds -5", "not a number of seconds"},
      {"--group 224.76.12.19 --remote-control", "needs --server-address"},
      {"--source-address 127.0.0.1 --headless --parent 12", "needs an X display"},
      {"--source-port 60010 --headless", "give --source-address ADDR or --group ADDR"},
  };
  for (const auto& c : cases) {
    ViewerOptions options;
    std::string error;
    EXPECT_EQ(Parse(c.args, &options, &error), ParseResult::kBadArguments) << c.message;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace kwz_viewer
