// kwz-web's command line where the browser tests, which run the program with its stream, page
// and remote-control options, do not reach: a group, a token, the defaults, and every
// inconsistent or malformed request refused with a reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "apps/kwz-web/WebOptions.h"
#include "tests/apps/CommandLine.h"
#include "web/HttpListener.h"

namespace {

using kwz_webapp::ParseResult;

ParseResult Parse(const std::string& line, kwz_web::GatewayOptions* options, std::string* error) {
  kwz_test::CommandLine command("kwz-web", line);
  return kwz_webapp::ParseWebOptions(command.argc(), command.argv(), options, error);
}

TEST(WebOptions, GroupTokenAndDefaults) {
  kwz_web::GatewayOptions o;
  std::string error;
  ASSERT_EQ(Parse("--source-address 127.0.0.1 --source-port 47010 --group 239.1.2.3 "
                  "--token abcdefABCDEF0123",
                  &o, &error),
            ParseResult::kRun)
      << error;
  EXPECT_EQ(o.source.group, "239.1.2.3");
  EXPECT_EQ(o.token, "abcdefABCDEF0123");

  // By default the page is on loopback and remote control is off.
  o = kwz_web::GatewayOptions{};
  ASSERT_EQ(Parse("--source-address 0.0.0.0 --source-port 60004", &o, &error), ParseResult::kRun);
  EXPECT_EQ(o.httpAddress, "127.0.0.1");
  EXPECT_FALSE(o.serverAddress);
  EXPECT_TRUE(o.token.empty());  // a random one is made at start
}

TEST(WebOptions, MistakesAreRefusedWithTheirReason) {
  struct Case {
    const char* extra;
    const char* reason;
  };
  const Case cases[] = {
      {"--source-port 47011", "even port"},
      {"--source-address localhost", "not an IPv4 address"},
      {"--group 10.0.0.1", "not an IPv4 multicast group"},
      {"--http 127.0.0.1", "ADDRESS:PORT"},
      {"--http 127.0.0.1:65536", "ADDRESS:PORT"},
      {"--remote-control", "needs --server-address"},
      {"--server-address 127.0.0.1 --server-port 5", "go with --remote-control"},
      {"--token short", "16 to 64 letters"},
      {"--token abcdefghijklmnop/", "16 to 64 letters"},
      {"--frobnicate 1", "unknown option"},
      {"stray", "unexpected argument"},
  };
  for (const Case& c : cases) {
    kwz_web::GatewayOptions o;
    std::string error;
    EXPECT_EQ(
        Parse(std::string("--source-address 127.0.0.1 --source-port 47010 ") + c.extra, &o, &error),
        ParseResult::kBadArguments)
        << c.extra;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  kwz_web::GatewayOptions o;
  std::string error;
  EXPECT_EQ(Parse("--source-port 47010", &o, &error), ParseResult::kBadArguments);
}

// (A wrong or missing token is the browser tests'.)
TEST(WebAccess, OnlyTheTokenOpensThePageAndTheSocket) {
  const char* token = "0123456789abcdef";
  struct Case {
    const char* target;
    const char* path;
    bool allowed;
  };
  const Case cases[] = {
      {"/?token=0123456789abcdef", "/", true},
      {"/ws?codecs=vp9&token=0123456789abcdef", "/ws", true},
      {"/?token=0123456789abcdef0", "/", false},
      {"/?xtoken=0123456789abcdef", "/", false},
      {"/ws?token=0123456789abcdef", "/", false},
      {"/index.html?token=0123456789abcdef", "/", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(kwz_web::TargetMatches(c.target, c.path, token), c.allowed) << c.target;
}

}  // namespace
