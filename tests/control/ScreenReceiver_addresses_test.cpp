// The addresses that Init hands the engine when a multicast group is named or the source address
// is "0.0.0.0": the engine then opens on every address and joins a group with the default
// interface, which must never happen on an interface of the machine running the tests. What the
// engine receives there is the engine tests' own. Each
// case runs in a forked child inside a network namespace of its own, where loopback is the only
// interface and carries the multicast route.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/control/ControlTestSupport.h"
#include "tests/engine/PrivateNetwork.h"

namespace kwz_test {
namespace {

// Exit codes of the child: which check failed.
enum ChildResult : int {
  kPassed = 0,
  kSetupFailed = 10,
  kInitFailed,
  kWrongMembership,
  kPortNotHeld,
  kRejoinedTooEarly,
  kNotLeftAtDeInit,
};

struct AddressCase {
  const char* name;
  const char16_t* sourceAddress;  // null: never set
  const char16_t* join;           // null: no JoinMulticastGroup
  const char* group;              // the group Init must join
  const char16_t* joinLater;      // null: none; else joined after Init, for the next Init
  const char* laterGroup;
};

constexpr DWORD kIpv4AllHosts = 0xE0000001;  // every interface with multicast is in it
constexpr USHORT kPort = static_cast<USHORT>(CScreenSharing::kDefaultPort);

std::vector<std::uint32_t> Joined() {
  std::vector<std::uint32_t> joined = JoinedGroups("lo");
  joined.erase(std::remove(joined.begin(), joined.end(), kIpv4AllHosts), joined.end());
  return joined;
}

bool JoinedOnly(const char* group) {
  return Joined() == std::vector<std::uint32_t>{ntohl(inet_addr(group))};
}

// The child's whole life in its private network.
int RunInPrivateNetwork(const AddressCase& c) {
  CComPtr<IDispatch> dispatch;
  if (!kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless) ||
      FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) ||
      CKWZ_ScreenReceiver::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(&dispatch)) !=
          S_OK) {
    return kSetupFailed;
  }
  kwz_platform::SetHeadlessDisplays({SIZE{1920, 1080}});
  auto* control = static_cast<CKWZ_ScreenReceiver*>(
      static_cast<IKWZ_ScreenReceiver*>(static_cast<IDispatch*>(dispatch)));
  Script s(dispatch);
  if (c.sourceAddress != nullptr && s.PutText(u"SourceAddress", c.sourceAddress).hr != S_OK) {
    return kSetupFailed;
  }
  if (c.join != nullptr && s.Call(u"JoinMulticastGroup", {c.join}).hr != S_OK) return kSetupFailed;
  if (control->CreateControlWindow(nullptr, RECT{0, 0, 320, 240}) == nullptr) return kSetupFailed;
  if (s.Call(u"Init").hr != S_OK || control->Engine() == nullptr) return kInitFailed;
  if (!JoinedOnly(c.group)) return kWrongMembership;
  // Opened on every address: the namespace's host address is held as well as loopback's.
  if (CanBind("127.0.0.1", kPort) || CanBind(kPrivateHostAddress, kPort)) return kPortNotHeld;

  if (c.joinLater != nullptr) {
    // The running engine keeps its group; the next Init takes the new one.
    if (s.Call(u"JoinMulticastGroup", {c.joinLater}).hr != S_OK) return kSetupFailed;
    if (!JoinedOnly(c.group)) return kRejoinedTooEarly;
    if (s.Call(u"DeInit").hr != S_OK || !Joined().empty()) return kNotLeftAtDeInit;
    if (s.Call(u"Init").hr != S_OK) return kInitFailed;
    if (!JoinedOnly(c.laterGroup)) return kWrongMembership;
  }
  if (s.Call(u"Stop").hr != S_OK || !Joined().empty()) return kNotLeftAtDeInit;
  return kPassed;
}

class ControlAddresses : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ControlAddresses, InitHandsTheEngineTheAddressesOfTheRules) {
  const AddressCase c = GetParam();
  ExpectPassesInPrivateHost([c] { return RunInPrivateNetwork(c); });
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ControlAddresses,
    ::testing::Values(
        // A named group wins: SourceAddress is not handed on, the engine opens on 0.0.0.0.
        AddressCase{"GroupOverridesSourceAddress", u"127.0.0.1", u"239.1.2.3", "239.1.2.3", nullptr,
                    nullptr},
        AddressCase{"AnyAddressKeepsTheEngineDefaults", u"0.0.0.0", nullptr,
                    CScreenSharing::kDefaultGroupAddress, nullptr, nullptr},
        AddressCase{"JoinAfterInitWaitsForTheNextInit", u"0.0.0.0", u"239.1.2.3", "239.1.2.3",
                    u"239.4.5.6", "239.4.5.6"}),
    [](const ::testing::TestParamInfo<AddressCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kwz_test
