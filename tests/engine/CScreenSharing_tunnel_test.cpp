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

  void Reserved0() override { ADD_FAILURE(); }
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
  void Reserved2() override { ADD_FAILURE(); }
  int Send(const BYTE*, int length, TunnelAddress) override { return length; }
  HANDLE GetEvent() override { return event_; }
  void Reserved5() override { ADD_FAILURE(); }
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

// Records what the engine asks of it, all on the control's (the test's) thread. Instances live
// until the factory goes, so a released one that were still used would not crash the test.
struct RecordingFactory : ITunnelFactory {
  ITunnel* CreateReceiver(TunnelAddress local) override {
    locals.push_back(local);
    tunnels.push_back(std::make_unique<QueueTunnel>());
    return tunnels.back().get();
  }
  ITunnel* CreateSender() override {
    ADD_FAILURE() << "the engine never sends";
    return nullptr;
  }
  void Release(ITunnel* tunnel) override { released.push_back(tunnel); }

  std::vector<TunnelAddress> locals;
  std::vector<std::unique_ptr<QueueTunnel>> tunnels;
  std::vector<ITunnel*> released;
};

// The engine's TearDown resets it before the factory goes.
class EngineTunnel : public EngineOnLoopback {
 protected:
  void SetUp() override {
    EngineOnLoopback::SetUp();
    engine_->m_pTunnelFactory = &factory_;
  }

  RecordingFactory factory_;
};

// Stop, a second Setup and the destructor each hand back the tunnel they find, once, whether it
// was started or not.
TEST_F(EngineTunnel, AttachesInsteadOfJoiningAndHandsEachTunnelBackOnce) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  ASSERT_EQ(factory_.tunnels.size(), 1u);
  EXPECT_EQ(factory_.locals[0].address, 0u);
  EXPECT_EQ(factory_.locals[0].port, port_);
  // The socket stays unbound: the tunnel carries the stream, and there is nothing to join on.
  EXPECT_TRUE(CanBind("127.0.0.1", port_));
  ASSERT_TRUE(engine_->Start());
  for (const Bytes& d : sender_->Datagrams(Geometry(640, 480), {})) factory_.tunnels[0]->Deliver(d);
  EXPECT_TRUE(WaitUntil([&] { return ShowsRect(640, 480); }));
  EXPECT_TRUE(factory_.released.empty());

  ASSERT_EQ(engine_->Setup(), S_OK);
  ASSERT_EQ(factory_.tunnels.size(), 2u);
  EXPECT_EQ(factory_.released, std::vector<ITunnel*>{factory_.tunnels[0].get()});
  ASSERT_TRUE(engine_->Start());
  EXPECT_TRUE(engine_->Stop());
  ASSERT_EQ(engine_->Setup(), S_OK);  // never started
  engine_.reset();
  EXPECT_EQ(factory_.released,
            (std::vector<ITunnel*>{factory_.tunnels[0].get(), factory_.tunnels[1].get(),
                                   factory_.tunnels[2].get()}));
}

}  // namespace
}  // namespace kwz_test
