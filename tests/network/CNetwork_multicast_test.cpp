// An endpoint on the loopback interface receiving a multicast group, its events, and its
// teardown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "network/CNetwork.h"
#include "platform/kernel.h"
#include "platform/winsock_testing.h"
#include "tests/network/NetworkTestSupport.h"

namespace {

using kwz_test::LoopbackSender;
using kwz_test::TestableNetwork;
using Clock = std::chrono::steady_clock;

constexpr const char* kGroup = "224.76.12.19";

class LoopbackEndpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    stop_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_EQ(network_.Open(0, "127.0.0.1", stop_), 0);
    port_ = kwz_test::BoundPort(network_.m_EventSocket);
    ASSERT_NE(port_, 0);
  }
  void TearDown() override { CloseHandle(stop_); }

  DWORD Wait(DWORD timeoutMs) {
    return WSAWaitForMultipleEvents(2, network_.m_hEvents, FALSE, timeoutMs, FALSE);
  }

  // What the receiving thread does after the network event: enumerate, ask, read.
  std::string ReadOne() {
    WSANETWORKEVENTS events{};
    EXPECT_EQ(WSAEnumNetworkEvents(network_.m_EventSocket, network_.m_hEvents[0], &events), 0);
    EXPECT_TRUE(events.lNetworkEvents & FD_READ);
    ULONG pending = 0;
    EXPECT_EQ(ioctlsocket(network_.m_EventSocket, FIONREAD, &pending), 0);
    char buffer[65536];
    sockaddr_in from{};
    int fromLength = sizeof from;
    int got = recvfrom(network_.m_EventSocket, buffer, sizeof buffer, 0,
                       reinterpret_cast<sockaddr*>(&from), &fromLength);
    EXPECT_GE(got, 0);
    EXPECT_GE(pending, static_cast<ULONG>(got));
    EXPECT_EQ(from.sin_addr.s_addr, inet_addr("127.0.0.1"));
    return got < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(got));
  }

  TestableNetwork network_;
  HANDLE stop_ = nullptr;
  USHORT port_ = 0;
  LoopbackSender sender_;
};

TEST_F(LoopbackEndpoint, JoinedGroupsDatagramWakesTheWaitAndIsRead) {
  ASSERT_EQ(network_.JoinGroup(kGroup), 0);
  EXPECT_EQ(Wait(0), WSA_WAIT_TIMEOUT);
  ASSERT_EQ(sender_.Send(kGroup, port_, "screen", 6), 6);
  ASSERT_EQ(Wait(5000), WSA_WAIT_EVENT_0);
  EXPECT_EQ(ReadOne(), "screen");
  // Read and reset: nothing more to wake for.
  EXPECT_EQ(Wait(0), WSA_WAIT_TIMEOUT);
}

TEST_F(LoopbackEndpoint, GroupNotJoinedIsNotDelivered) {
  ASSERT_EQ(sender_.Send(kGroup, port_, "lost", 4), 4);
  ASSERT_EQ(sender_.Send("127.0.0.1", port_, "unicast", 7), 7);
  ASSERT_EQ(Wait(5000), WSA_WAIT_EVENT_0);
  EXPECT_EQ(ReadOne(), "unicast");
  EXPECT_EQ(Wait(50), WSA_WAIT_TIMEOUT);
}

TEST_F(LoopbackEndpoint, StopEventSetFromAnotherThreadEndsAPendingWait) {
  ASSERT_EQ(network_.JoinGroup(kGroup), 0);
  std::atomic<bool> waiting{false};
  std::thread stopper([&] {
    while (!waiting.load()) std::this_thread::yield();
    Sleep(20);
    SetEvent(stop_);
  });
  waiting.store(true);
  const auto start = Clock::now();
  EXPECT_EQ(Wait(30000), WSA_WAIT_EVENT_0 + 1);
  // Far below the time-out: the wait woke on the event, not on its clock.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  stopper.join();
  EXPECT_EQ(Wait(0), WSA_WAIT_TIMEOUT);  // the auto-reset stop event was consumed
}

TEST_F(LoopbackEndpoint, NetworkEventWinsOverStopWithoutConsumingIt) {
  ASSERT_EQ(sender_.Send("127.0.0.1", port_, "x", 1), 1);
  SetEvent(stop_);
  Sleep(10);  // let the datagram land
  ASSERT_EQ(Wait(5000), WSA_WAIT_EVENT_0);
  EXPECT_EQ(ReadOne(), "x");
  EXPECT_EQ(Wait(0), WSA_WAIT_EVENT_0 + 1);
}

TEST(CNetworkTeardown, ThousandEndpointsLeaveNoDescriptorBehind) {
  HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  const int before = kwz_test::OpenDescriptorCount();
  const int startups = kwz_platform::WinsockStartupCount();
  for (int i = 0; i < 1000; ++i) {
    auto network = std::make_unique<TestableNetwork>();
    ASSERT_EQ(network->Open(0, "127.0.0.1", stop), 0) << i;
    ASSERT_EQ(network->JoinGroup(kGroup), 0) << i;
    ASSERT_EQ(network->JoinGroup("224.76.12.20"), 0) << i;
  }
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);
  EXPECT_EQ(kwz_platform::WinsockStartupCount(), startups);
  EXPECT_EQ(CNetwork::GetLiveCount(), 0);
  CloseHandle(stop);
}

TEST(CNetworkTeardown, DestroyedEndpointNoLongerHoldsItsPort) {
  HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  USHORT port;
  SOCKET closed;
  {
    TestableNetwork network;
    ASSERT_EQ(network.Open(0, "127.0.0.1", stop), 0);
    port = kwz_test::BoundPort(network.m_EventSocket);
    closed = network.m_EventSocket;
  }
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
  CloseHandle(stop);
}

}  // namespace
