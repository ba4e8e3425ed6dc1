// An endpoint on the loopback interface receiving a multicast group, its two events, and its
// teardown.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "network/CNetwork.h"
#include "platform/kernel.h"
#include "platform/winsock_testing.h"
#include "tests/network/NetworkTestSupport.h"

namespace {

using kwz_test::LoopbackSender;
using kwz_test::TestableNetwork;

constexpr const char* kGroup = "224.76.12.19";

class LoopbackEndpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(network_.Open(0, "127.0.0.1", stop_), 0);
    port_ = kwz_test::BoundPort(network_.m_EventSocket);
    ASSERT_NE(port_, 0);
  }

  // Both events, as the receiving thread waits for them: the network event first.
  DWORD Wait(DWORD timeoutMs) {
    return WSAWaitForMultipleEvents(2, network_.m_hEvents, FALSE, timeoutMs, FALSE);
  }

  // What the receiving thread does after the network event: enumerate, then read.
  std::string ReadOne() {
    WSANETWORKEVENTS events{};
    EXPECT_EQ(WSAEnumNetworkEvents(network_.m_EventSocket, network_.m_hEvents[0], &events), 0);
    EXPECT_TRUE(events.lNetworkEvents & FD_READ);
    char buffer[65536];
    sockaddr_in from{};
    int fromLength = sizeof from;
    const int got = recvfrom(network_.m_EventSocket, buffer, sizeof buffer, 0,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
    EXPECT_EQ(from.sin_addr.s_addr, inet_addr("127.0.0.1"));
    return got < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(got));
  }

  kwz_test::StopEvent stop_;
  TestableNetwork network_;
  USHORT port_ = 0;
  LoopbackSender sender_;
};

TEST_F(LoopbackEndpoint, OnlyAJoinedGroupsDatagramsAreDelivered) {
  ASSERT_EQ(sender_.Send(kGroup, port_, "lost", 4), 4);  // not joined yet
  ASSERT_EQ(network_.JoinGroup(kGroup), 0);
  ASSERT_EQ(sender_.Send("224.76.12.20", port_, "other", 5), 5);
  ASSERT_EQ(sender_.Send(kGroup, port_, "screen", 6), 6);
  ASSERT_EQ(Wait(5000), WSA_WAIT_EVENT_0);
  // Loopback keeps the order of sending, so the first datagram read shows what was dropped.
  EXPECT_EQ(ReadOne(), "screen");
  EXPECT_EQ(Wait(0), WSA_WAIT_TIMEOUT);  // read and reset: nothing more to wake for
}

TEST_F(LoopbackEndpoint, NetworkEventWinsOverStopWithoutConsumingIt) {
  ASSERT_EQ(sender_.Send("127.0.0.1", port_, "x", 1), 1);
  // The datagram has landed once the network event alone is signalled.
  ASSERT_EQ(WSAWaitForMultipleEvents(1, network_.m_hEvents, FALSE, 5000, FALSE), WSA_WAIT_EVENT_0);
  SetEvent(stop_);
  ASSERT_EQ(Wait(5000), WSA_WAIT_EVENT_0);
  EXPECT_EQ(ReadOne(), "x");
  EXPECT_EQ(Wait(0), WSA_WAIT_EVENT_0 + 1);
  EXPECT_EQ(Wait(0), WSA_WAIT_TIMEOUT);  // the auto-reset stop event was consumed
}

TEST(CNetworkTeardown, DestroyedEndpointsLeaveNoSocketOrPortBehind) {
  kwz_test::StopEvent stop;
  const int before = kwz_test::OpenDescriptorCount();
  USHORT port = 0;
  SOCKET closed = INVALID_SOCKET;
  for (int i = 0; i < 3; ++i) {
    TestableNetwork network;
    ASSERT_EQ(network.Open(0, "127.0.0.1", stop), 0);
    ASSERT_EQ(network.JoinGroup(kGroup), 0);
    ASSERT_EQ(network.JoinGroup("224.76.12.20"), 0);
    port = kwz_test::BoundPort(network.m_EventSocket);
    closed = network.m_EventSocket;
  }
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);

  // The handle is dead, and the port binds without SO_REUSEADDR, so no socket still holds it.
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  EXPECT_EQ(closesocket(closed), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = inet_addr("127.0.0.1");
  EXPECT_EQ(bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
  closesocket(s);
  WSACleanup();
}

}  // namespace
