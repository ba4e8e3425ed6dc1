// The tunnel path with a tunnel of the tests' own: a factory that records its calls and
// instances whose event is an ordinary event.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <memory>
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
    const std::string datagram = queued_.front();
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
  ITunnel* CreateReceiver(TunnelAddress local) override {
    localPorts.push_back(local.address == 0 ? local.port : 0);
    if (exhausted) return nullptr;
    made.push_back(std::make_unique<TestTunnel>());
    return made.back().get();
  }
  ITunnel* CreateSender() override { return nullptr; }
  // Instances are kept until the factory goes, so a test can see whether an event was closed.
  void Release(ITunnel* tunnel) override { released.push_back(tunnel); }
  TestTunnel* last() { return made.back().get(); }

  bool exhausted = false;  // CreateReceiver gives no instance
  std::vector<unsigned> localPorts;
  std::vector<ITunnel*> released;
  std::vector<std::unique_ptr<TestTunnel>> made;
};

class TunnelEndpoint : public ::testing::Test {
 protected:
  void SetUp() override {
    stop_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    network_.SetTunnelFactory(&factory_);
    ASSERT_EQ(network_.Open(60004, "127.0.0.1", stop_), 0);
  }
  void TearDown() override { CloseHandle(stop_); }
  int WaitAndRead(DWORD timeoutMs) {
    length_ = sizeof buffer_;
    return network_.WaitAndRead(buffer_, &length_, &info_, timeoutMs);
  }

  TestTunnelFactory factory_;  // outlives the endpoint, as the sibling module's does
  HANDLE stop_ = nullptr;
  TestableNetwork network_;
  BYTE buffer_[65536];
  DWORD length_ = 0;
  RtpPacketInfo info_{};
};

TEST_F(TunnelEndpoint, OpenBindsNothingAndJoinTouchesNothing) {
  EXPECT_EQ(kwz_test::BoundPort(network_.m_EventSocket), 0);
  EXPECT_EQ(network_.m_hEvents[0], nullptr);
  EXPECT_EQ(network_.m_hEvents[1], stop_);
  EXPECT_EQ(network_.JoinGroup("224.76.12.19"), 0);
  EXPECT_EQ(network_.JoinGroup("224.76.12.19"), 0);  // nothing recorded, so no duplicate
  EXPECT_EQ(network_.JoinGroup("10.0.0.1"), 0);
  // Unbound, so a second endpoint on the same port opens too.
  TestableNetwork second;
  second.SetTunnelFactory(&factory_);
  EXPECT_EQ(second.Open(60004, "127.0.0.1", stop_), 0);
}

TEST_F(TunnelEndpoint, WaitAndReadParsesWhatTheAttachedTunnelDelivers) {
  network_.AttachTunnel();
  ASSERT_EQ(factory_.made.size(), 1u);
  TestTunnel* tunnel = factory_.last();
  EXPECT_EQ(factory_.localPorts, std::vector<unsigned>{60004});
  EXPECT_EQ(tunnel->options, std::vector<BYTE>{0});
  EXPECT_EQ(network_.m_hEvents[0], tunnel->GetEvent());
  EXPECT_EQ(WaitAndRead(0), static_cast<int>(NET_TIMEOUT));

  // RTP version 2, marker, PT 113, sequence 7, even timestamp, SSRC 9, then "ab".
  tunnel->Deliver(
      std::string("\x80\xF1\x00\x07\x00\x00\x00\x02\x00\x00\x00\x09"
                  "ab",
                  14));
  ASSERT_EQ(WaitAndRead(5000), static_cast<int>(NET_PACKET));
  EXPECT_EQ(length_, 14u);
  EXPECT_EQ(info_.extendedSequence, 7u);
  EXPECT_EQ(info_.ssrc, 9u);
  EXPECT_EQ(info_.marker, 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info_.payload), info_.payloadLength), "ab");

  // A signalled event with nothing behind it is a read that found no datagram.
  SetEvent(tunnel->GetEvent());
  EXPECT_EQ(WaitAndRead(5000), RTPERR_NO_RTP_DATA);
}

// Attaching again hands the old instance back; detaching hands one back once. A factory that
// gives no instance leaves the wait waiting for the stop alone, as long as it was asked to,
// instead of failing at once (which made the engine's thread spin), and never on the event of
// an instance handed back before.
TEST_F(TunnelEndpoint, InstancesAreReplacedAndHandedBackOnce) {
  network_.AttachTunnel();
  ITunnel* first = network_.m_Endpoint.Socket().GetTunnel();
  network_.AttachTunnel();
  EXPECT_EQ(factory_.released, std::vector<ITunnel*>{first});
  EXPECT_EQ(network_.m_hEvents[0], factory_.last()->GetEvent());
  network_.DetachTunnel();
  network_.DetachTunnel();
  EXPECT_EQ(factory_.released.size(), 2u);
  EXPECT_EQ(network_.m_hEvents[0], nullptr);

  factory_.exhausted = true;
  network_.AttachTunnel();
  EXPECT_EQ(network_.m_hEvents[0], nullptr);
  SetEvent(factory_.last()->GetEvent());
  EXPECT_EQ(WaitAndRead(0), static_cast<int>(NET_TIMEOUT));
  SetEvent(stop_);
  EXPECT_EQ(WaitAndRead(5000), static_cast<int>(NET_STOPPED));
}

TEST(TunnelTeardown, DestructionHandsBackTheInstanceAndLeavesTheEventsAlone) {
  TestTunnelFactory factory;
  HANDLE stop = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  {
    TestableNetwork network;
    network.SetTunnelFactory(&factory);
    ASSERT_EQ(network.Open(60004, "127.0.0.1", stop), 0);
    network.AttachTunnel();
  }
  ASSERT_EQ(factory.released.size(), 1u);
  EXPECT_EQ(factory.released[0], factory.last());
  // Neither the tunnel's event nor the caller's stop event was closed by the endpoint.
  EXPECT_TRUE(SetEvent(factory.last()->GetEvent()));
  EXPECT_TRUE(SetEvent(stop));

  // Without a factory, attaching and detaching change nothing.
  TestableNetwork plain;
  ASSERT_EQ(plain.Open(0, "127.0.0.1", stop), 0);
  HANDLE own = plain.m_hEvents[0];
  plain.AttachTunnel();
  plain.DetachTunnel();
  EXPECT_EQ(plain.m_hEvents[0], own);
  EXPECT_EQ(plain.m_Endpoint.Socket().GetTunnel(), nullptr);
  CloseHandle(stop);
}

}  // namespace
