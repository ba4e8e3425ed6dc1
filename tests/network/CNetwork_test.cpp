// The endpoint on its own: its failures, each driven by the situation that causes it, and what
// a failure leaves behind; the tunnel path's edges with a tunnel of the tests' own; and a socket
// published and adopted through the named records.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "network/CNetwork.h"
#include "network/NetworkErrors.h"
#include "platform/kernel.h"
#include "platform/memoryapi.h"
#include "platform/winsock_testing.h"
#include "runtime/NetResult.h"
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
        Situation{"UnicastOrMissingGroup",
                  [](TestableNetwork& n, HANDLE s) {
                    EXPECT_EQ(n.Open(0, "127.0.0.1", s), 0);
                    EXPECT_EQ(n.JoinGroup("10.1.2.3"), RTPERR_NOT_MULTICAST_ADDRESS);
                    return n.JoinGroup(nullptr);
                  },
                  RTPERR_NOT_MULTICAST_ADDRESS},
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

// Every object balances its Winsock start-up, and a destroyed endpoint leaves no socket behind,
// joined groups and all. Set-up faults raise, and leave neither a start-up nor a live endpoint.
TEST(CNetwork, EveryObjectBalancesItsStartupAndItsSockets) {
  StopEvent stop;
  const int before = kwz_platform::WinsockStartupCount();
  const std::function<void()> faults[] = {
      [] {
        kwz_platform::FailNextWSAStartup(WSASYSNOTREADY);
        CNetwork network;
      },
      [] { CNetwork().Open(0, nullptr, nullptr); },
      [] { CNetwork().Open(0, "255.255.255.255", nullptr); },
  };
  for (const auto& fault : faults) {
    EXPECT_THROW(fault(), exc_CNetwork);
    EXPECT_EQ(kwz_platform::WinsockStartupCount(), before);
    EXPECT_EQ(CNetwork::GetLiveCount(), 0);
  }
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

// --- The tunnel path: a factory that records its calls, and instances whose event is an
// ordinary event and that never deliver a datagram ---

class TestTunnel final : public ITunnel {
 public:
  TestTunnel() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~TestTunnel() { CloseHandle(event_); }

  void Reserved0() override { ADD_FAILURE() << "slot 0 called"; }
  int Receive(BYTE*, int capacity, TunnelAddress* from) override {
    EXPECT_EQ(capacity, 65535);
    EXPECT_EQ(from->address, 0u);  // zeroed by the caller
    return 0;
  }
  void Reserved2() override { ADD_FAILURE() << "slot 2 called"; }
  int Send(const BYTE*, int length, TunnelAddress) override { return length; }
  HANDLE GetEvent() override { return event_; }
  void Reserved5() override { ADD_FAILURE() << "slot 5 called"; }
  void SetOption(BYTE option) override { options.push_back(option); }

  std::vector<BYTE> options;

 private:
  HANDLE event_;
};

class TestTunnelFactory : public ITunnelFactory {
 public:
  ITunnel* CreateReceiver(TunnelAddress) override {
    if (exhausted) return nullptr;
    made.push_back(std::make_unique<TestTunnel>());
    return made.back().get();
  }
  ITunnel* CreateSender() override { return nullptr; }
  void Release(ITunnel*) override {}
  TestTunnel* last() { return made.back().get(); }

  bool exhausted = false;  // CreateReceiver gives no instance
  std::vector<std::unique_ptr<TestTunnel>> made;
};

class TunnelEndpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    network_.SetTunnelFactory(&factory_);
    ASSERT_EQ(network_.Open(60004, "127.0.0.1", stop_), 0);
  }
  int WaitAndRead(DWORD timeoutMs) {
    length_ = sizeof buffer_;
    return network_.WaitAndRead(buffer_, &length_, &info_, timeoutMs);
  }

  TestTunnelFactory factory_;  // outlives the endpoint, as the sibling module's does
  kwz_test::StopEvent stop_;
  TestableNetwork network_;
  BYTE buffer_[65536];
  DWORD length_ = 0;
  RtpPacketInfo info_{};
};

// Binding, attaching, receiving and handing back are the engine's tunnel tests; here are the
// edges the engine never reaches.
TEST_F(TunnelEndpoint, EdgesTheEngineNeverReaches) {
  // A join records nothing, so there is no duplicate and no address to refuse.
  EXPECT_EQ(network_.JoinGroup("224.76.12.19"), 0);
  EXPECT_EQ(network_.JoinGroup("224.76.12.19"), 0);
  EXPECT_EQ(network_.JoinGroup("10.0.0.1"), 0);

  // A signalled event with nothing behind it is no datagram.
  network_.AttachTunnel();
  ASSERT_EQ(factory_.made.size(), 1u);
  EXPECT_EQ(factory_.last()->options, std::vector<BYTE>{0});
  SetEvent(factory_.last()->GetEvent());
  EXPECT_EQ(WaitAndRead(5000), RTPERR_NO_RTP_DATA);

  // A factory that gives no instance leaves the wait waiting for the stop alone, as long as it
  // was asked to, instead of failing at once (which made the engine's thread spin), and never
  // on the event of an instance handed back before.
  factory_.exhausted = true;
  network_.AttachTunnel();
  EXPECT_EQ(network_.m_hEvents[0], nullptr);
  SetEvent(factory_.last()->GetEvent());
  EXPECT_EQ(WaitAndRead(0), static_cast<int>(NET_TIMEOUT));
  SetEvent(stop_);
  EXPECT_EQ(WaitAndRead(5000), static_cast<int>(NET_STOPPED));
}

// --- Publishing and adopting a socket through the named records, and their failures ---

SharedSocketRecord ReadRecord(const WCHAR* name) {
  CNetwork reader;
  SharedSocketRecord record{0xDEAD, 0xDEAD, 0xDEAD};
  reader.get_shared_socket(&record, name);
  return record;
}

class SharedSocket : public ::testing::Test {
 protected:
  kwz_test::StopEvent stop_;
};

// The adopter receives on the publisher's socket, and fails safely once the publisher has
// closed it.
TEST_F(SharedSocket, AdopterReceivesOnThePublishersSocketAndOutlivesItSafely) {
  auto publisher = std::make_unique<TestableNetwork>();
  ASSERT_EQ(publisher->Open(OPEN_PUBLISH_AUDIO, "127.0.0.1", stop_), 0);
  const SharedSocketRecord published = ReadRecord(SHARED_SOCKET_AUDIO);
  EXPECT_EQ(published.socket, static_cast<DWORD>(publisher->m_EventSocket));
  EXPECT_EQ(published.reserved1 | published.reserved2, 0u);

  TestableNetwork adopter;
  ASSERT_EQ(adopter.Open(OPEN_ADOPT_AUDIO, "127.0.0.1", stop_), 0);
  EXPECT_EQ(adopter.m_EventSocket, publisher->m_EventSocket);
  kwz_test::LoopbackSender sender;
  ASSERT_EQ(sender.Send("127.0.0.1", kwz_test::BoundPort(publisher->m_EventSocket), "both", 4), 4);
  EXPECT_EQ(WSAWaitForMultipleEvents(2, adopter.m_hEvents, FALSE, 5000, FALSE), WSA_WAIT_EVENT_0);
  char buffer[16];
  EXPECT_EQ(recvfrom(adopter.m_EventSocket, buffer, sizeof buffer, 0, nullptr, nullptr), 4);

  publisher.reset();
  ULONG pending = 0;
  EXPECT_EQ(ioctlsocket(adopter.m_EventSocket, FIONREAD, &pending), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(adopter.JoinGroup("224.76.12.19"), RTPERR_CANT_JOIN_GROUP);
}

// Publishing wins over adopting the same channel; once its last user is gone, the record is too
// (the handle it names was closed with the publisher, and a later adopter must not get it).
TEST_F(SharedSocket, PublishingWinsOverAdoptingTheSameChannelAndTheRecordGoesWithIt) {
  {
    TestableNetwork first;
    ASSERT_EQ(first.Open(OPEN_PUBLISH_AUDIO, "127.0.0.1", stop_), 0);
    TestableNetwork second;
    ASSERT_EQ(second.Open(OPEN_PUBLISH_AUDIO | OPEN_ADOPT_AUDIO, "127.0.0.1", stop_), 0);
    EXPECT_NE(second.m_EventSocket, first.m_EventSocket);
    EXPECT_NE(kwz_test::BoundPort(second.m_EventSocket), 0);  // made and bound its own
    EXPECT_EQ(ReadRecord(SHARED_SOCKET_AUDIO).socket, static_cast<DWORD>(second.m_EventSocket));
  }
  TestableNetwork adopter;
  EXPECT_EQ(adopter.Open(OPEN_ADOPT_AUDIO, "127.0.0.1", stop_), RTPERR_CANT_CREATE_SOCKET);
}

TEST_F(SharedSocket, BothChannelsNamedUseTheFirstMappedRecord) {
  TestableNetwork network;
  // Adopting audio maps "KWZ_SOCKET_AUDIO" first; the video publication lands in that view.
  ASSERT_EQ(network.Open(OPEN_ADOPT_AUDIO | OPEN_PUBLISH_VIDEO, "127.0.0.1", stop_), 0);
  EXPECT_EQ(ReadRecord(SHARED_SOCKET_AUDIO).socket, static_cast<DWORD>(network.m_EventSocket));
  EXPECT_EQ(ReadRecord(SHARED_SOCKET_VIDEO).socket, 0u);
}

// Record faults raise before anything is made.
TEST_F(SharedSocket, RecordFaultsRaise) {
  {
    TestableNetwork n;
    // Kept as the object keeps it, so its destructor unmaps the view and the name goes away.
    n.m_pSharedView = n.create_shared_memory(12, SHARED_SOCKET_AUDIO);
    EXPECT_THROW(n.create_shared_memory(12, SHARED_SOCKET_VIDEO), exc_create_shared_memory);
  }
  TestableNetwork n;
  EXPECT_THROW(n.create_shared_memory(0, SHARED_SOCKET_AUDIO), exc_create_shared_memory);
  EXPECT_THROW(n.set_shared_socket(nullptr, SHARED_SOCKET_AUDIO), base_exception);
  EXPECT_THROW(n.get_shared_socket(nullptr, SHARED_SOCKET_AUDIO), base_exception);
}

// Another module made the name read-only, so no writable view can be had: Open raises before
// any socket is made.
TEST_F(SharedSocket, ReadOnlyRecordStopsOpenBeforeAnySocketIsMade) {
  HANDLE readOnly =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 12, SHARED_SOCKET_AUDIO);
  const int before = kwz_test::OpenDescriptorCount();
  TestableNetwork network;
  EXPECT_THROW(network.Open(OPEN_ADOPT_AUDIO, "127.0.0.1", stop_), exc_create_shared_memory);
  EXPECT_EQ(network.JoinGroup("224.76.12.19"), RTPERR_OUT_OF_MEMORY);  // not opened
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);
  CloseHandle(readOnly);
}

}  // namespace
