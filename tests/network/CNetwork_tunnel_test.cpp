// The tunnel path with a tunnel of the tests' own: a factory that records its calls and
// instances whose event is an ordinary event.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "network/CNetwork.h"
#include "network/NetworkErrors.h"
#include "platform/kernel.h"
#include "runtime/NetResult.h"
#include "tests/network/NetworkTestSupport.h"

namespace {

using kwz_test::TestableNetwork;

class TestTunnel final : public ITunnel {
 public:
  TestTunnel() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~TestTunnel() { CloseHandle(event_); }

  void Reserved0() override { ADD_FAILURE() << "slot 0 called"; }
  int Receive(BYTE* buffer, int capacity, TunnelAddress* from) override {
    EXPECT_EQ(capacity, 65535);
    EXPECT_EQ(from->address, 0u);  // zeroed by the caller
    if (queued_.empty()) return 0;
    std::string datagram = queued_.front();
    queued_.pop_front();
    std::memcpy(buffer, datagram.data(), datagram.size());
    return static_cast<int>(datagram.size());
  }
  void Reserved2() override { ADD_FAILURE() << "slot 2 called"; }
  int Send(const BYTE*, int length, TunnelAddress) override { return length; }
  HANDLE GetEvent() override { return event_; }
  void Reserved5() override { ADD_FAILURE() << "slot 5 called"; }
  void SetOption(BYTE option) override { options.push_back(option); }

  void Deliver(const std::string& datagram) {
    queued_.push_back(datagram);
    SetEvent(event_);
  }

  std::vector<BYTE> options;

 private:
  HANDLE event_;
  std::deque<std::string> queued_;
};

class TestTunnelFactory : public ITunnelFactory {
 public:
  ~TestTunnelFactory() {
    for (TestTunnel* t : live) delete t;
    for (TestTunnel* t : retired) delete t;
  }
  ITunnel* CreateReceiver(TunnelAddress local) override {
    receiverAddresses.push_back(local);
    if (exhausted) return nullptr;
    auto* tunnel = new TestTunnel;
    live.push_back(tunnel);
    return tunnel;
  }
  ITunnel* CreateSender() override { return nullptr; }
  void Release(ITunnel* tunnel) override {
    released.push_back(tunnel);
    for (auto it = live.begin(); it != live.end(); ++it) {
      if (*it == tunnel) {
        // Kept until the factory goes, so a test can see whether its event was left open.
        retired.push_back(*it);
        live.erase(it);
        return;
      }
    }
    ADD_FAILURE() << "released an instance this factory does not hold";
  }

  bool exhausted = false;  // CreateReceiver gives no instance
  std::vector<TunnelAddress> receiverAddresses;
  std::vector<ITunnel*> released;
  std::vector<TestTunnel*> live;
  std::vector<TestTunnel*> retired;
};

class TunnelEndpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    stop_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    network_.SetTunnelFactory(&factory_);
  }
  void TearDown() override { CloseHandle(stop_); }

  TestTunnelFactory factory_;  // outlives the endpoint, as the sibling module's does
  HANDLE stop_ = nullptr;
  TestableNetwork network_;
};

TEST_F(TunnelEndpoint, OpenMakesAnUnboundSocketAndNoNetworkEvent) {
  ASSERT_EQ(network_.Open(60004, "127.0.0.1", stop_), 0);
  EXPECT_EQ(kwz_test::BoundPort(network_.m_EventSocket), 0);
  EXPECT_EQ(network_.m_hEvents[0], nullptr);
  EXPECT_EQ(network_.m_hEvents[1], stop_);
  // Unbound, so a second endpoint on the same port opens too.
  TestableNetwork second;
  second.SetTunnelFactory(&factory_);
  EXPECT_EQ(second.Open(60004, "127.0.0.1", stop_), 0);
}

TEST_F(TunnelEndpoint, JoinSucceedsWithoutTouchingTheSocket) {
  ASSERT_EQ(network_.Open(60004, "127.0.0.1", stop_), 0);
  EXPECT_EQ(network_.JoinGroup("224.76.12.19"), 0);
  EXPECT_EQ(network_.JoinGroup("224.76.12.19"), 0);  // nothing recorded, so no duplicate
  EXPECT_EQ(network_.JoinGroup("10.0.0.1"), 0);
}

TEST_F(TunnelEndpoint, AttachedTunnelsEventWakesTheWaitAndItsDatagramIsRead) {
  ASSERT_EQ(network_.Open(60004, "127.0.0.1", stop_), 0);
  network_.AttachTunnel();
  ASSERT_EQ(factory_.live.size(), 1u);
  TestTunnel* tunnel = factory_.live[0];
  ASSERT_EQ(factory_.receiverAddresses.size(), 1u);
  EXPECT_EQ(factory_.receiverAddresses[0].address, 0u);
  EXPECT_EQ(factory_.receiverAddresses[0].port, 60004u);
  EXPECT_EQ(tunnel->options, std::vector<BYTE>{0});
  ASSERT_EQ(network_.m_hEvents[0], tunnel->GetEvent());

  EXPECT_EQ(WSAWaitForMultipleEvents(2, network_.m_hEvents, FALSE, 0, FALSE), WSA_WAIT_TIMEOUT);
  tunnel->Deliver("through the tunnel");
  ASSERT_EQ(WSAWaitForMultipleEvents(2, network_.m_hEvents, FALSE, 5000, FALSE), WSA_WAIT_EVENT_0);
  BYTE buffer[65536];
  TunnelAddress from{};
  ITunnel* attached = network_.m_Endpoint.Socket().GetTunnel();
  ASSERT_EQ(attached, tunnel);
  int got = attached->Receive(buffer, 65535, &from);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(got)),
            "through the tunnel");
}

TEST_F(TunnelEndpoint, WaitAndReadParsesWhatTheTunnelDelivers) {
  ASSERT_EQ(network_.Open(60004, "127.0.0.1", stop_), 0);
  network_.AttachTunnel();
  TestTunnel* tunnel = factory_.live.at(0);
  // RTP version 2, marker, PT 113, sequence 7, even timestamp, SSRC 9, then "ab".
  const std::string datagram(
      "\x80\xF1\x00\x07\x00\x00\x00\x02\x00\x00\x00\x09"
      "ab",
      14);
  tunnel->Deliver(datagram);
  BYTE buffer[65536];
  DWORD length = sizeof buffer;
  RtpPacketInfo info{};
  ASSERT_EQ(network_.WaitAndRead(buffer, &length, &info, 5000), static_cast<int>(NET_PACKET));
  EXPECT_EQ(length, 14u);
  EXPECT_EQ(info.sequence, 7);
  EXPECT_EQ(info.extendedSequence, 7u);
  EXPECT_EQ(info.ssrc, 9u);
  EXPECT_EQ(info.marker, 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.payload), info.payloadLength), "ab");

  // A signalled event with nothing behind it is a read that found no datagram.
  SetEvent(tunnel->GetEvent());
  EXPECT_EQ(network_.WaitAndRead(buffer, &length, &info, 5000), RTPERR_NO_RTP_DATA);
}

TEST_F(TunnelEndpoint, AttachingAgainReplacesTheInstance) {
  ASSERT_EQ(network_.Open(60004, "127.0.0.1", stop_), 0);
  network_.AttachTunnel();
  ITunnel* first = network_.m_Endpoint.Socket().GetTunnel();
  network_.AttachTunnel();
  ASSERT_EQ(factory_.released, std::vector<ITunnel*>{first});
  ASSERT_EQ(factory_.live.size(), 1u);
  EXPECT_EQ(network_.m_hEvents[0], factory_.live[0]->GetEvent());
}

TEST_F(TunnelEndpoint, DetachHandsTheInstanceBackOnce) {
  ASSERT_EQ(network_.Open(60004, "127.0.0.1", stop_), 0);
  network_.AttachTunnel();
  network_.DetachTunnel();
  network_.DetachTunnel();
  EXPECT_EQ(factory_.released.size(), 1u);
  EXPECT_TRUE(factory_.live.empty());
  EXPECT_EQ(network_.m_hEvents[0], nullptr);
}

// A factory that gives no instance leaves nothing to receive from: the wait then waits for the
// stop event alone, as long as it was asked to, instead of failing at once (which made the
// engine's thread spin), and never on the event of an instance handed back before.
TEST_F(TunnelEndpoint, WithoutAnInstanceTheWaitWaitsForTheStop) {
  ASSERT_EQ(network_.Open(60004, "127.0.0.1", stop_), 0);
  network_.AttachTunnel();
  HANDLE oldEvent = factory_.live.at(0)->GetEvent();
  factory_.exhausted = true;
  network_.AttachTunnel();
  EXPECT_EQ(network_.m_hEvents[0], nullptr);
  SetEvent(oldEvent);

  BYTE buffer[65536];
  DWORD length = sizeof buffer;
  RtpPacketInfo info{};
  EXPECT_EQ(network_.WaitAndRead(buffer, &length, &info, 0), static_cast<int>(NET_TIMEOUT));
  SetEvent(stop_);
  EXPECT_EQ(network_.WaitAndRead(buffer, &length, &info, 5000), static_cast<int>(NET_STOPPED));
}

TEST(TunnelTeardown, DestructionHandsBackTheInstanceAndLeavesItsEventAlone) {
  TestTunnelFactory factory;
  HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE tunnelEvent;
  {
    TestableNetwork network;
    network.SetTunnelFactory(&factory);
    ASSERT_EQ(network.Open(60004, "127.0.0.1", stop), 0);
    network.AttachTunnel();
    tunnelEvent = network.m_hEvents[0];
  }
  EXPECT_EQ(factory.released.size(), 1u);
  EXPECT_TRUE(factory.live.empty());
  // Neither the tunnel's event nor the caller's stop event was closed by the endpoint.
  EXPECT_TRUE(SetEvent(tunnelEvent));
  EXPECT_TRUE(SetEvent(stop));
  CloseHandle(stop);
}

TEST(TunnelTeardown, WithoutFactoryAttachDoesNothing) {
  HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  TestableNetwork network;
  ASSERT_EQ(network.Open(0, "127.0.0.1", stop), 0);
  HANDLE own = network.m_hEvents[0];
  network.AttachTunnel();
  network.DetachTunnel();
  EXPECT_EQ(network.m_hEvents[0], own);
  EXPECT_EQ(network.m_Endpoint.Socket().GetTunnel(), nullptr);
  CloseHandle(stop);
}

}  // namespace
