// The engine with a datagram tunnel of the tests' own in place of its socket: the tunnel is
// attached instead of a group being joined, carries the stream, and is handed back exactly once
// by Stop, a new Setup or the destructor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "network/ITunnel.h"
#include "platform/kernel.h"
#include "tests/engine/EngineFixture.h"

namespace kwz_test {
namespace {

class QueueTunnel final : public ITunnel {
 public:
  QueueTunnel() : event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~QueueTunnel() { CloseHandle(event_); }

  void Reserved0() override { ADD_FAILURE() << "slot 0 called"; }
  int Receive(BYTE* buffer, int capacity, TunnelAddress*) override {
    std::lock_guard<std::mutex> guard(lock_);
    if (queued_.empty()) return 0;
    const Bytes datagram = std::move(queued_.front());
    queued_.pop_front();
    if (!queued_.empty()) SetEvent(event_);
    const int length = std::min(capacity, static_cast<int>(datagram.size()));
    std::memcpy(buffer, datagram.data(), static_cast<std::size_t>(length));
    return length;
  }
  void Reserved2() override { ADD_FAILURE() << "slot 2 called"; }
  int Send(const BYTE*, int length, TunnelAddress) override { return length; }
  HANDLE GetEvent() override { return event_; }
  void Reserved5() override { ADD_FAILURE() << "slot 5 called"; }
  void SetOption(BYTE) override {}

  void Deliver(const Bytes& datagram) {
    std::lock_guard<std::mutex> guard(lock_);
    queued_.push_back(datagram);
    SetEvent(event_);
  }

 private:
  HANDLE event_;
  std::mutex lock_;
  std::deque<Bytes> queued_;
};

// Records what the engine asks of it; instances live until the factory goes, so a released one
// that were still used would not crash the test but show in the counts.
class RecordingFactory : public ITunnelFactory {
 public:
  ITunnel* CreateReceiver(TunnelAddress local) override {
    std::lock_guard<std::mutex> guard(lock_);
    locals_.push_back(local);
    tunnels_.push_back(std::make_unique<QueueTunnel>());
    return tunnels_.back().get();
  }
  ITunnel* CreateSender() override {
    ADD_FAILURE() << "the engine never sends";
    return nullptr;
  }
  void Release(ITunnel* tunnel) override {
    std::lock_guard<std::mutex> guard(lock_);
    released_.push_back(tunnel);
  }

  std::size_t Created() const {
    std::lock_guard<std::mutex> guard(lock_);
    return tunnels_.size();
  }
  std::vector<ITunnel*> Released() const {
    std::lock_guard<std::mutex> guard(lock_);
    return released_;
  }
  QueueTunnel* Tunnel(std::size_t i) const {
    std::lock_guard<std::mutex> guard(lock_);
    return tunnels_.at(i).get();
  }
  TunnelAddress Local(std::size_t i) const {
    std::lock_guard<std::mutex> guard(lock_);
    return locals_.at(i);
  }

 private:
  mutable std::mutex lock_;
  std::vector<TunnelAddress> locals_;
  std::vector<std::unique_ptr<QueueTunnel>> tunnels_;
  std::vector<ITunnel*> released_;
};

class EngineTunnel : public EngineOnLoopback {
 protected:
  void SetUp() override {
    EngineOnLoopback::SetUp();
    engine_->m_pTunnelFactory = &factory_;
  }
  void TearDown() override {
    EngineOnLoopback::TearDown();  // the engine goes before the factory
  }

  RecordingFactory factory_;
};

TEST_F(EngineTunnel, AttachesInsteadOfJoiningAndReceivesThroughIt) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  ASSERT_EQ(factory_.Created(), 1u);
  EXPECT_EQ(factory_.Local(0).address, 0u);
  EXPECT_EQ(factory_.Local(0).port, port_);
  // The socket stays unbound: the tunnel carries the stream, and there is nothing to join on.
  EXPECT_TRUE(CanBind("127.0.0.1", port_));
  ASSERT_TRUE(engine_->Start());
  presenter::ScreenMessageFields fields;
  fields.streamMode = 0;
  fields.width = 640;
  fields.height = 480;
  for (const Bytes& d : sender_->Datagrams(fields, {})) factory_.Tunnel(0)->Deliver(d);
  EXPECT_TRUE(WaitUntil([&] {
    RECT r{};
    engine_->GetScreenRect(&r);
    return r.right == 640 && r.bottom == 480;
  }));
  EXPECT_TRUE(factory_.Released().empty());
}

// Stop, a second Setup and the destructor each hand back the tunnel they find, once.
TEST_F(EngineTunnel, EachTunnelIsHandedBackExactlyOnce) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  ASSERT_EQ(engine_->Setup(), S_OK);
  ASSERT_EQ(factory_.Created(), 2u);
  EXPECT_EQ(factory_.Released(), std::vector<ITunnel*>{factory_.Tunnel(0)});
  ASSERT_TRUE(engine_->Start());
  EXPECT_TRUE(engine_->Stop());
  engine_.reset();
  EXPECT_EQ(factory_.Released(), (std::vector<ITunnel*>{factory_.Tunnel(0), factory_.Tunnel(1)}));
}

TEST_F(EngineTunnel, DestructorHandsBackATunnelNeverStarted) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  ASSERT_TRUE(factory_.Released().empty());
  engine_.reset();
  EXPECT_EQ(factory_.Released(), std::vector<ITunnel*>{factory_.Tunnel(0)});
}

}  // namespace
}  // namespace kwz_test
