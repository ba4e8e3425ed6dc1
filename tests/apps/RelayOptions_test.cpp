// kwz-relay's command line: impairments as asked, and every way of naming something other than
// a loopback port refused with a reason.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "apps/kwz-relay/RelayOptions.h"
#include "tests/apps/CommandLine.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_relay::ParseRelayOptions;
using kwz_relay::ParseResult;
using kwz_relay::RelayOptions;

ParseResult Parse(const std::string& line, RelayOptions* options, std::string* error) {
  kwz_test::CommandLine command("kwz-relay", line);
  return ParseRelayOptions(command.argc(), command.argv(), options, error);
}

// The impairments the program's runs leave at their defaults; ports, counts and scripts in the
// text are driven by the process tests.
TEST(RelayOptions, EveryImpairmentAndLimit) {
  kwz_test::TempDir dir;
  const std::string scriptFile = std::string(dir.path()) + "/faults.txt";
  std::ofstream(scriptFile) << "drop 2\n# comment\nswap 3 5\n";
  RelayOptions o;
  std::string error;
  ASSERT_EQ(Parse("--listen 47010 --to 47012 --loss 12.5 --burst 4 --dup 3 --reorder 2 --depth 30 "
                  "--hold-limit 120 --delay 15 --jitter 7 --seed 0x1234 --script " +
                      scriptFile + " --script-text truncate~9~20",
                  &o, &error),
            ParseResult::kRun)
      << error;
  EXPECT_DOUBLE_EQ(o.impair.loss, 0.125);
  EXPECT_DOUBLE_EQ(o.impair.meanBurst, 4);
  EXPECT_DOUBLE_EQ(o.impair.duplicate, 0.03);
  EXPECT_DOUBLE_EQ(o.impair.reorder, 0.02);
  EXPECT_EQ(o.impair.reorderDepth, 30u);
  EXPECT_EQ(o.impair.holdLimitMs, 120u);
  EXPECT_EQ(o.impair.delayMs, 15u);
  EXPECT_EQ(o.impair.jitterMs, 7u);
  EXPECT_EQ(o.impair.seed, 0x1234u);
  ASSERT_EQ(o.script.Actions().size(), 3u);  // file first, then the text
  EXPECT_EQ(o.script.Actions()[2].kind, ImpairAction::Kind::kTruncate);
}

TEST(RelayOptions, RefusalsExplainWhy) {
  const struct {
    const char* args;
    const char* reason;  // a piece of the error text
  } cases[] = {          // Anything that names an address, loopback or not, is refused: ports only.
               {"--listen 47010 --to 127.0.0.1:47012", "127.0.0.1 only"},
               {"--listen 0.0.0.0:47010 --to 47012", "127.0.0.1 only"},
               {"--listen 47010 --dest 10.0.0.5", "unknown option"},
               {"--listen 47010", "both needed"},
               {"--listen 47010 --to 47010", "must differ"},
               {"--listen 0 --to 47012", "not a port"},
               {"--listen 65536 --to 47012", "not a port"},
               {"--listen 47010 --to 47012 --loss 101", "out of range"},
               {"--listen 47010 --to 47012 --loss -1", "out of range"},
               {"--listen 47010 --to 47012 --loss nan", "out of range"},
               {"--listen 47010 --to 47012 --burst 0", "out of range"},
               {"--listen 47010 --to 47012 --seconds", "needs a value"},
               {"--listen 47010 --to 47012 --script /nonexistent/x", "cannot read"},
               {"--listen 47010 --to 47012 --script-text drop~0", "start at 1"},
               {"47010", "unexpected argument"}};
  for (const auto& c : cases) {
    RelayOptions o;
    std::string error;
    EXPECT_EQ(Parse(c.args, &o, &error), ParseResult::kBadArguments) << c.args;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

}  // namespace
