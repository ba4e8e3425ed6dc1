// The tunnel path with a tunnel of the tests' own: a factory that records its calls and
// instances whose event is an ordinary event, and that never deliver a datagram.
#include <gtest/gtest.h>

#include <memory>
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

}  // namespace
