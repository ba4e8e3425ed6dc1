// The engine with no settings opens 0.0.0.0:60004 and joins 224.76.12.19 with the default
// interface, which must never happen on an interface of the machine that runs the tests. Each
// case therefore runs in a forked child inside a network namespace of its own, where loopback is
// the only interface and carries the multicast route; the machine's network is never touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/winsock_testing.h"
#include "tests/engine/EngineFixture.h"
#include "tests/engine/PrivateNetwork.h"

namespace kwz_test {
namespace {

struct DefaultsCase {
  const char* name;
  const char* group;  // null: the engine's default is left alone
  bool joined;
};

// The child's whole life in its private network: an engine with defaults, traffic on loopback.
// Its exit code says which check failed.
int RunInPrivateNetwork(const DefaultsCase& c) {
  if (!kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless)) return 9;
  TestWindow window(200, 100);
  const char* group = c.group != nullptr ? c.group : CScreenSharing::kDefaultGroupAddress;
  CScreenSharing engine;
  if (c.group != nullptr) engine.SetGroupAddress(c.group);
  engine.SetWindow(window.Get());
  if (engine.Setup() != S_OK || !engine.Start()) return 10;
  std::vector<std::uint32_t> joined = JoinedGroups("lo");
  std::erase(joined, 0xE0000001u);  // all hosts: every interface with multicast is in it
  if (joined != (c.joined ? std::vector<std::uint32_t>{ntohl(inet_addr(group))}
                          : std::vector<std::uint32_t>{})) {
    return 11;
  }
  // Bound on every address: no other socket gets the port on any of them.
  if (CanBind("127.0.0.1", 60004) || CanBind("127.0.0.2", 60004)) return 12;
  if (c.joined) {
    ScreenSender(group, 60004).Send(Geometry(640, 480), {});
    if (!WaitUntil([&] { return ShowsRect(engine, 640, 480); })) return 13;
  }
  ScreenSender("127.0.0.1", 60004, 500).Send(Geometry(320, 200), {});
  if (!WaitUntil([&] { return ShowsRect(engine, 320, 200); })) return 14;
  return engine.Stop() ? 0 : 15;
}

class EngineDefaults : public ::testing::TestWithParam<DefaultsCase> {};

TEST_P(EngineDefaults, OpensEveryAddressOnTheDefaultPortAndJoinsOnlyClassDGroups) {
  const DefaultsCase c = GetParam();
  ExpectPassesInPrivateHost([c] { return RunInPrivateNetwork(c); });
}

INSTANTIATE_TEST_SUITE_P(Group, EngineDefaults,
                         ::testing::Values(DefaultsCase{"Default", nullptr, true},
                                           DefaultsCase{"ClassE", "240.0.0.1", false},
                                           DefaultsCase{"Malformed", "not-an-address", false}),
                         [](const ::testing::TestParamInfo<DefaultsCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace kwz_test
