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

// Exit codes of the child: which check failed.
enum ChildResult : int {
  kPassed = 0,
  kSetupFailed = 10,
  kWrongMembership,
  kPortNotHeld,
  kGroupDatagramLost,
  kUnicastDatagramLost,
  kStopFailed,
  kNoWindow,
};

struct DefaultsCase {
  const char* name;
  const char* group;  // null: the engine's default is left alone
  bool joined;
};

constexpr DWORD kIpv4AllHosts = 0xE0000001;  // every interface with multicast is in it

bool ShowsRect(const CScreenSharing& engine, LONG width, LONG height) {
  return WaitUntil([&] {
    RECT r{};
    engine.GetScreenRect(&r);
    return r.right == width && r.bottom == height;
  });
}

// The child's whole life in its private network: an engine with defaults, traffic on loopback.
int RunInPrivateNetwork(const DefaultsCase& c) {
  if (!kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless)) return kNoWindow;
  TestWindow window(200, 100);
  if (window.Get() == nullptr) return kNoWindow;
  const DWORD group = c.group != nullptr ? ntohl(inet_addr(c.group))
                                         : ntohl(inet_addr(CScreenSharing::kDefaultGroupAddress));
  int result = kPassed;
  {
    CScreenSharing engine;
    if (c.group != nullptr) engine.SetGroupAddress(c.group);
    engine.SetWindow(window.Get());
    if (engine.Setup() != S_OK) return kSetupFailed;

    std::vector<std::uint32_t> joined = JoinedGroups("lo");
    joined.erase(std::remove(joined.begin(), joined.end(), kIpv4AllHosts), joined.end());
    const std::vector<std::uint32_t> expected =
        c.joined ? std::vector<std::uint32_t>{group} : std::vector<std::uint32_t>{};
    if (joined != expected) return kWrongMembership;
    // Bound on every address: no other socket gets the port on any of them.
    if (CanBind("127.0.0.1", 60004) || CanBind("127.0.0.2", 60004)) return kPortNotHeld;

    if (!engine.Start()) return kSetupFailed;
    if (c.joined) {
      ScreenSender toGroup(c.group != nullptr ? c.group : CScreenSharing::kDefaultGroupAddress,
                           60004);
      toGroup.Send(Geometry(640, 480), {});
      if (!ShowsRect(engine, 640, 480)) result = kGroupDatagramLost;
    }
    ScreenSender unicast("127.0.0.1", 60004, 500);
    unicast.Send(Geometry(320, 200), {});
    if (result == kPassed && !ShowsRect(engine, 320, 200)) result = kUnicastDatagramLost;
    if (!engine.Stop() && result == kPassed) result = kStopFailed;
  }
  return result;
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
