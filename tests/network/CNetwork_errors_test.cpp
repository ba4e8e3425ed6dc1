// The endpoint's failures, each driven by the situation that causes it.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "network/CNetwork.h"
#include "network/NetworkErrors.h"
#include "platform/kernel.h"
#include "platform/widestring.h"
#include "platform/winsock_testing.h"
#include "runtime/base_exception.h"
#include "tests/network/NetworkTestSupport.h"

namespace {

using kwz_test::TestableNetwork;

constexpr DWORD kAnyEvenPort = 0;

class StopEvent {
 public:
  StopEvent() : handle_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~StopEvent() { CloseHandle(handle_); }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// A socket of the test bound to an even loopback port without SO_REUSEADDR, so no other socket
// may bind that port.
class ExclusivePort {
 public:
  ExclusivePort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    for (int attempt = 0; attempt < 100 && port_ == 0; ++attempt) {
      SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in local{};
      local.sin_family = AF_INET;
      local.sin_addr.s_addr = inet_addr("127.0.0.1");
      bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local);
      USHORT port = kwz_test::BoundPort(s);
      if (port != 0 && port % 2 == 0) {
        s_ = s;
        port_ = port;
      } else {
        closesocket(s);
      }
    }
  }
  ~ExclusivePort() {
    closesocket(s_);
    WSACleanup();
  }
  USHORT port() const { return port_; }

 private:
  SOCKET s_ = INVALID_SOCKET;
  USHORT port_ = 0;
};

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

struct Situation {
  const char* name;
  std::function<int(TestableNetwork&, HANDLE stop)> run;
  int expected;
};
void PrintTo(const Situation& value, std::ostream* os) {
  *os << value.name;
}

class EndpointFailure : public ::testing::TestWithParam<Situation> {};

TEST_P(EndpointFailure, ReturnsItsCode) {
  StopEvent stop;
  TestableNetwork network;
  EXPECT_EQ(GetParam().run(network, stop.get()), GetParam().expected)
      << RtpErrorMessage(GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Situations, EndpointFailure,
    ::testing::Values(
        Situation{"OddPort",
                  [](TestableNetwork& n, HANDLE stop) { return n.Open(60005, "127.0.0.1", stop); },
                  RTPERR_PORTBASE_NOT_EVEN},
        Situation{"SecondOpen",
                  [](TestableNetwork& n, HANDLE stop) {
                    EXPECT_EQ(n.Open(kAnyEvenPort, "127.0.0.1", stop), 0);
                    return n.Open(kAnyEvenPort, "127.0.0.1", stop);
                  },
                  RTPERR_SESSION_ALREADY_INITIALIZED},
        Situation{"JoinBeforeOpen",
                  [](TestableNetwork& n, HANDLE) { return n.JoinGroup("224.76.12.19"); },
                  RTPERR_OUT_OF_MEMORY},
        Situation{"JoinAfterFailedOpen",
                  [](TestableNetwork& n, HANDLE stop) {
                    EXPECT_EQ(n.Open(3, "127.0.0.1", stop), RTPERR_PORTBASE_NOT_EVEN);
                    return n.JoinGroup("224.76.12.19");
                  },
                  RTPERR_OUT_OF_MEMORY},
        Situation{"UnicastGroup",
                  [](TestableNetwork& n, HANDLE stop) {
                    EXPECT_EQ(n.Open(kAnyEvenPort, "127.0.0.1", stop), 0);
                    return n.JoinGroup("10.1.2.3");
                  },
                  RTPERR_NOT_MULTICAST_ADDRESS},
        Situation{"MissingGroupAddress",
                  [](TestableNetwork& n, HANDLE stop) {
                    EXPECT_EQ(n.Open(kAnyEvenPort, "127.0.0.1", stop), 0);
                    return n.JoinGroup(nullptr);
                  },
                  RTPERR_NOT_MULTICAST_ADDRESS},
        Situation{"DuplicateJoin",
                  [](TestableNetwork& n, HANDLE stop) {
                    EXPECT_EQ(n.Open(kAnyEvenPort, "127.0.0.1", stop), 0);
                    EXPECT_EQ(n.JoinGroup("224.76.12.19"), 0);
                    return n.JoinGroup("224.76.12.19");
                  },
                  RTPERR_ALREADY_IN_GROUP},
        Situation{"AddressOfNoInterface",
                  [](TestableNetwork& n, HANDLE stop) {
                    return n.Open(kAnyEvenPort, "192.0.2.1", stop);  // TEST-NET-1, never local
                  },
                  RTPERR_CANT_BIND_SOCKET},
        Situation{"PortHeldExclusively",
                  [](TestableNetwork& n, HANDLE stop) {
                    ExclusivePort held;
                    EXPECT_NE(held.port(), 0);
                    return n.Open(held.port(), "127.0.0.1", stop);
                  },
                  RTPERR_CANT_BIND_SOCKET},
        Situation{"AdoptUnpublished",
                  [](TestableNetwork& n, HANDLE stop) {
                    return n.Open(OPEN_ADOPT_AUDIO, "127.0.0.1", stop);
                  },
                  RTPERR_CANT_CREATE_SOCKET},
        Situation{"NoHostAddressBesidesLoopback",
                  [](TestableNetwork& n, HANDLE stop) {
                    FakeHost host({"127.0.1.1", "0.1.2.3", "127.0.0.1"});
                    return n.Open(kAnyEvenPort, "0.0.0.0", stop);
                  },
                  RTPERR_CANT_GET_LOCAL_IP},
        Situation{"UnknownHost",
                  [](TestableNetwork& n, HANDLE stop) {
                    FakeHost host({});
                    return n.Open(kAnyEvenPort, "0.0.0.0", stop);
                  },
                  RTPERR_CANT_GET_LOCAL_IP},
        // The discovered address is the interface of the membership; this one is no local one.
        Situation{"JoinOnDiscoveredAddressOfNoInterface",
                  [](TestableNetwork& n, HANDLE stop) {
                    FakeHost host({"127.0.1.1", "192.0.2.7"});
                    EXPECT_EQ(n.Open(kAnyEvenPort, "0.0.0.0", stop), 0);
                    EXPECT_EQ(n.m_Endpoint.Socket().GetLocalAddress(), 0xC0000207u);
                    return n.JoinGroup("224.76.12.19");
                  },
                  RTPERR_CANT_JOIN_GROUP}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CNetwork, FailedJoinLeavesNoGroupBehind) {
  FakeHost host({"192.0.2.7"});
  StopEvent stop;
  TestableNetwork network;
  ASSERT_EQ(network.Open(kAnyEvenPort, "0.0.0.0", stop.get()), 0);
  EXPECT_EQ(network.JoinGroup("224.76.12.19"), RTPERR_CANT_JOIN_GROUP);
  // Not "already joined": the table forgot the group when the membership failed.
  EXPECT_EQ(network.JoinGroup("224.76.12.19"), RTPERR_CANT_JOIN_GROUP);
}

TEST(CNetwork, FailedOpenClosesWhatItOpened) {
  StopEvent stop;
  const int before = kwz_test::OpenDescriptorCount();
  {
    TestableNetwork network;
    EXPECT_EQ(network.Open(kAnyEvenPort, "192.0.2.1", stop.get()), RTPERR_CANT_BIND_SOCKET);
    EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);
    // Still constructed and not opened: a later Open may succeed.
    EXPECT_EQ(network.Open(kAnyEvenPort, "127.0.0.1", stop.get()), 0);
  }
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);
}

struct Raised {
  const char* name;
  std::function<void()> raise;
  LONG line;
  const char* message;
};
void PrintTo(const Raised& value, std::ostream* os) {
  *os << value.name;
}

class SetUpException : public ::testing::TestWithParam<Raised> {};

TEST_P(SetUpException, CarriesFileLineAndText) {
  const int startups = kwz_platform::WinsockStartupCount();
  try {
    GetParam().raise();
    FAIL() << "nothing raised";
  } catch (const exc_CNetwork& e) {
    EXPECT_EQ(Narrow(e.file()), ".\\CNetwork");
    EXPECT_EQ(e.line(), GetParam().line);
    EXPECT_EQ(Narrow(e.source()), "CNetwork");
    EXPECT_EQ(Narrow(e.message()), GetParam().message);
    EXPECT_EQ(e.code(), 0u);
  }
  EXPECT_EQ(kwz_platform::WinsockStartupCount(), startups);
  EXPECT_EQ(CNetwork::GetLiveCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Raises, SetUpException,
    ::testing::Values(Raised{"StartupFails",
                             [] {
                               kwz_platform::FailNextWSAStartup(WSASYSNOTREADY);
                               CNetwork network;
                             },
                             49, "WSAStartup failed. "},
                      Raised{"NoLocalAddress", [] { CNetwork().Open(0, nullptr, nullptr); }, 79,
                             "No local address."},
                      Raised{"BroadcastLocalAddress",
                             [] { CNetwork().Open(0, "255.255.255.255", nullptr); }, 85,
                             "Invalid local address."},
                      Raised{"MalformedLocalAddress",
                             [] { CNetwork().Open(0, "127.0.0.256", nullptr); }, 85,
                             "Invalid local address."},
                      Raised{"EmptyLocalAddress", [] { CNetwork().Open(0, "", nullptr); }, 85,
                             "Invalid local address."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CNetwork, EveryObjectBalancesItsWinsockStartup) {
  const int before = kwz_platform::WinsockStartupCount();
  StopEvent stop;
  {
    auto unopened = std::make_unique<CNetwork>();
    auto opened = std::make_unique<CNetwork>();
    auto failed = std::make_unique<CNetwork>();
    ASSERT_EQ(opened->Open(kAnyEvenPort, "127.0.0.1", stop.get()), 0);
    ASSERT_EQ(failed->Open(1, "127.0.0.1", stop.get()), RTPERR_PORTBASE_NOT_EVEN);
    EXPECT_EQ(kwz_platform::WinsockStartupCount(), before + 3);
    EXPECT_EQ(CNetwork::GetLiveCount(), 3);
    unopened.reset();
    EXPECT_EQ(kwz_platform::WinsockStartupCount(), before + 2);
  }
  EXPECT_EQ(kwz_platform::WinsockStartupCount(), before);
  EXPECT_EQ(CNetwork::GetLiveCount(), 0);
}

TEST(NetworkErrors, EveryCodeHasItsText) {
  const std::pair<int, const char*> table[] = {
      {-1, "Out of memory"},
      {-2, "Connection already created"},
      {-3, "Specified portbase not even"},
      {-4, "Can't create a socket"},
      {-5, "Can't bind a socket"},
      {-12, "Sockets not opened"},
      {-14, "No RTP data available"},
      {-25, "Session was not created"},
      {-26, "Session already initialized"},
      {-29, "Can't set a socket buffer"},
      {-33, "Can't get the local IP address"},
      {-36, "Not a multicast address"},
      {-37, "Already in specified multicast group"},
      {-39, "Unable to join multicast group"},
  };
  for (const auto& [code, text] : table) {
    ASSERT_NE(RtpErrorMessage(code), nullptr) << code;
    EXPECT_STREQ(RtpErrorMessage(code), text) << code;
  }
  for (int unknown : {0, -6, -13, -40, 241}) EXPECT_EQ(RtpErrorMessage(unknown), nullptr);
}

}  // namespace
