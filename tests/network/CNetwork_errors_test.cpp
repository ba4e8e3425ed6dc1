// The endpoint's failures, each driven by the situation that causes it, and what a failure
// leaves behind.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "network/CNetwork.h"
#include "network/NetworkErrors.h"
#include "platform/kernel.h"
#include "platform/winsock_testing.h"
#include "runtime/base_exception.h"
#include "tests/network/NetworkTestSupport.h"

namespace {

using kwz_test::StopEvent;
using kwz_test::TestableNetwork;

constexpr const char* kGroup = "224.76.12.19";

// Host addresses for the discovery of an endpoint opened on "0.0.0.0".
class FakeHost {
 public:
  explicit FakeHost(std::vector<const char*> addresses) {
    previous_ =
        kwz_platform::SetHostResolver([addresses](const char*, std::vector<std::uint32_t>* out) {
          for (const char* a : addresses) out->push_back(inet_addr(a));
          return !addresses.empty();
        });
  }
  ~FakeHost() { kwz_platform::SetHostResolver(previous_); }

 private:
  kwz_platform::HostResolver previous_;
};

using Run = std::function<int(TestableNetwork&, HANDLE stop)>;

// Opens on any even loopback port, then runs then.
Run Opened(std::function<int(TestableNetwork&)> then) {
  return [then](TestableNetwork& n, HANDLE stop) {
    EXPECT_EQ(n.Open(0, "127.0.0.1", stop), 0);
    return then(n);
  };
}

struct Situation {
  const char* name;
  Run run;
  int expected;
};
void PrintTo(const Situation& value, std::ostream* os) {
  *os << value.name;
}

class EndpointFailure : public ::testing::TestWithParam<Situation> {};

TEST_P(EndpointFailure, ReturnsItsCode) {
  StopEvent stop;
  TestableNetwork network;
  const int code = GetParam().run(network, stop);
  EXPECT_EQ(code, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Situations, EndpointFailure,
    ::testing::Values(
        Situation{"OddPort",
                  [](TestableNetwork& n, HANDLE s) { return n.Open(60005, "127.0.0.1", s); },
                  RTPERR_PORTBASE_NOT_EVEN},
        Situation{"SecondOpen",
                  [](TestableNetwork& n, HANDLE s) {
                    EXPECT_EQ(n.Open(0, "127.0.0.1", s), 0);
                    return n.Open(0, "127.0.0.1", s);
                  },
                  RTPERR_SESSION_ALREADY_INITIALIZED},
        Situation{"JoinBeforeOpen", [](TestableNetwork& n, HANDLE) { return n.JoinGroup(kGroup); },
                  RTPERR_OUT_OF_MEMORY},
        Situation{"UnicastGroup",
                  Opened([](TestableNetwork& n) { return n.JoinGroup("10.1.2.3"); }),
                  RTPERR_NOT_MULTICAST_ADDRESS},
        Situation{"MissingGroupAddress",
                  Opened([](TestableNetwork& n) { return n.JoinGroup(nullptr); }),
                  RTPERR_NOT_MULTICAST_ADDRESS},
        Situation{"DuplicateJoin", Opened([](TestableNetwork& n) {
                    EXPECT_EQ(n.JoinGroup(kGroup), 0);
                    return n.JoinGroup(kGroup);
                  }),
                  RTPERR_ALREADY_IN_GROUP},
        Situation{
            "AdoptUnpublished",
            [](TestableNetwork& n, HANDLE s) { return n.Open(OPEN_ADOPT_AUDIO, "127.0.0.1", s); },
            RTPERR_CANT_CREATE_SOCKET},
        Situation{"NoHostAddressBesidesLoopback",
                  [](TestableNetwork& n, HANDLE s) {
                    FakeHost host({"127.0.1.1", "0.1.2.3", "127.0.0.1"});
                    return n.Open(0, "0.0.0.0", s);
                  },
                  RTPERR_CANT_GET_LOCAL_IP},
        Situation{"UnknownHost",
                  [](TestableNetwork& n, HANDLE s) {
                    FakeHost host({});
                    return n.Open(0, "0.0.0.0", s);
                  },
                  RTPERR_CANT_GET_LOCAL_IP},
        // The discovered address is the interface of the membership; this one is no local
        // one. The table forgets the group when the membership fails: not "already joined".
        Situation{"JoinOnDiscoveredAddressOfNoInterface",
                  [](TestableNetwork& n, HANDLE s) {
                    FakeHost host({"127.0.1.1", "192.0.2.7"});
                    EXPECT_EQ(n.Open(0, "0.0.0.0", s), 0);
                    EXPECT_EQ(n.m_Endpoint.Socket().GetLocalAddress(), 0xC0000207u);
                    EXPECT_EQ(n.JoinGroup(kGroup), RTPERR_CANT_JOIN_GROUP);
                    return n.JoinGroup(kGroup);
                  },
                  RTPERR_CANT_JOIN_GROUP},
        // A failed Open closes what it opened and leaves the object ready for another.
        Situation{"OpenAfterAFailedOne",
                  [](TestableNetwork& n, HANDLE s) {
                    const int before = kwz_test::OpenDescriptorCount();
                    EXPECT_EQ(n.Open(0, "192.0.2.1", s), RTPERR_CANT_BIND_SOCKET);
                    EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);
                    return n.Open(0, "127.0.0.1", s);
                  },
                  0}),
    [](const auto& info) { return std::string(info.param.name); });

// Set-up faults raise, and leave neither a Winsock start-up nor a live endpoint behind.
TEST(CNetwork, SetUpFaultsRaiseAndLeaveNothingBehind) {
  const int startups = kwz_platform::WinsockStartupCount();
  const std::function<void()> faults[] = {
      [] {
        kwz_platform::FailNextWSAStartup(WSASYSNOTREADY);
        CNetwork network;
      },
      [] { CNetwork().Open(0, nullptr, nullptr); },
      [] { CNetwork().Open(0, "255.255.255.255", nullptr); },
      [] { CNetwork().Open(0, "", nullptr); },
  };
  for (const auto& fault : faults) {
    EXPECT_THROW(fault(), exc_CNetwork);
    EXPECT_EQ(kwz_platform::WinsockStartupCount(), startups);
    EXPECT_EQ(CNetwork::GetLiveCount(), 0);
  }
}

// Every object balances its Winsock start-up, and a destroyed endpoint leaves no socket behind,
// joined groups and all.
TEST(CNetwork, EveryObjectBalancesItsStartupAndItsSockets) {
  StopEvent stop;
  const int before = kwz_platform::WinsockStartupCount();
  const int descriptors = kwz_test::OpenDescriptorCount();
  {
    auto unopened = std::make_unique<CNetwork>();
    CNetwork opened, failed;
    ASSERT_EQ(opened.Open(0, "127.0.0.1", stop), 0);
    ASSERT_EQ(opened.JoinGroup(kGroup), 0);
    ASSERT_EQ(opened.JoinGroup("224.76.12.20"), 0);
    ASSERT_EQ(failed.Open(1, "127.0.0.1", stop), RTPERR_PORTBASE_NOT_EVEN);
    EXPECT_EQ(kwz_platform::WinsockStartupCount(), before + 3);
    EXPECT_EQ(CNetwork::GetLiveCount(), 3);
    unopened.reset();
    EXPECT_EQ(kwz_platform::WinsockStartupCount(), before + 2);
  }
  EXPECT_EQ(kwz_platform::WinsockStartupCount(), before);
  EXPECT_EQ(CNetwork::GetLiveCount(), 0);
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), descriptors);
}

}  // namespace
