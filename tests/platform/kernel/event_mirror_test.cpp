// The event's descriptor mirror: whoever polls the descriptor must see it readable exactly while
// the event is signalled, and no Set may be lost between a wait's test and its poll.
#include <poll.h>

#include <gtest/gtest.h>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/kernel.h"

#include "kernel/event_object.h"

namespace {

using kwz_platform::EventObject;

bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

enum class Op { kSet, kReset, kAcquire };

struct MirrorCase {
  const char* name;
  bool manualReset;
  bool initialState;
  bool exported;  // polled through PollDescriptor rather than an announced poll
};

class EventMirrorScript : public ::testing::TestWithParam<MirrorCase> {};

// Every state change must reach a descriptor that someone polls, in both directions.
TEST_P(EventMirrorScript, DescriptorFollowsTheStateWhilePolled) {
  const MirrorCase& c = GetParam();
  auto event = EventObject::Create(c.manualReset, c.initialState);
  ASSERT_TRUE(event);
  int fd = event->descriptor();
  if (c.exported) {
    fd = event->PollDescriptor();
  } else {
    event->BeginPoll();
  }
  bool signalled = c.initialState;
  EXPECT_EQ(Readable(fd), signalled);
  const Op script[] = {Op::kSet,     Op::kSet,   Op::kAcquire, Op::kAcquire, Op::kReset,
                       Op::kReset,   Op::kSet,   Op::kReset,   Op::kAcquire, Op::kSet,
                       Op::kAcquire, Op::kReset, Op::kSet};
  for (std::size_t step = 0; step < std::size(script); ++step) {
    switch (script[step]) {
      case Op::kSet:
        event->Set();
        signalled = true;
        break;
      case Op::kReset:
        event->Reset();
        signalled = false;
        break;
      case Op::kAcquire:
        EXPECT_EQ(event->TryAcquire(), signalled) << "step " << step;
        if (!c.manualReset) signalled = false;
        break;
    }
    EXPECT_EQ(Readable(fd), signalled) << "step " << step;
  }
  if (!c.exported) event->EndPoll();
}

INSTANTIATE_TEST_SUITE_P(Kinds, EventMirrorScript,
                         ::testing::Values(MirrorCase{"manualAnnounced", true, false, false},
                                           MirrorCase{"manualSetAnnounced", true, true, false},
                                           MirrorCase{"autoAnnounced", false, false, false},
                                           MirrorCase{"manualExported", true, false, true},
                                           MirrorCase{"autoSetExported", false, true, true}),
                         [](const auto& info) { return info.param.name; });

// The point of the mirror: a Set and Reset that nobody polls for cost no descriptor traffic,
// yet a poll announced afterwards still sees the signal.
TEST(EventMirror, UnpolledSetIsWrittenWhenAPollIsAnnounced) {
  auto event = EventObject::Create(true, false);
  event->Set();
  EXPECT_FALSE(Readable(event->descriptor()));
  EXPECT_TRUE(event->TryAcquire());
  event->BeginPoll();
  EXPECT_TRUE(Readable(event->descriptor()));
  event->EndPoll();
  event->Reset();
  EXPECT_FALSE(Readable(event->descriptor()));
  EXPECT_FALSE(event->TryAcquire());
}

// A Set that lands between a wait's test of the state and its poll must wake it. A lost one
// leaves the waiter blocked; handing the descriptor out writes the signal and releases it.
TEST(EventMirror, SetBetweenTestAndPollIsNotLost) {
  for (int round = 0; round < 200; ++round) {
    auto event = EventObject::Create(false, false);
    std::atomic<bool> woken{false};
    std::thread waiter([&] {
      EXPECT_EQ(event->Wait(INFINITE), WAIT_OBJECT_0);
      woken = true;
    });
    for (int spin = 0; spin < round * 500; ++spin)
      std::atomic_signal_fence(std::memory_order_seq_cst);
    event->Set();
    for (int waited = 0; waited < 5000 && !woken.load(); ++waited) Sleep(1);
    const bool wokenBySet = woken.load();
    if (!wokenBySet) event->PollDescriptor();
    waiter.join();
    ASSERT_TRUE(wokenBySet) << "round " << round;
  }
}

// Sets and Resets racing with waiters leave the state and the descriptor agreeing, and the
// event still works afterwards.
TEST(EventMirror, RacingSetAndResetLeaveStateAndDescriptorAgreeing) {
  auto event = EventObject::Create(true, false);
  const int fd = event->PollDescriptor();
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    while (!stop.load()) event->Set();
  });
  threads.emplace_back([&] {
    while (!stop.load()) event->Reset();
  });
  threads.emplace_back([&] {
    while (!stop.load()) event->Wait(1);
  });
  Sleep(150);
  stop = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(Readable(fd), event->TryAcquire());
  event->Reset();
  EXPECT_FALSE(Readable(fd));
  std::thread waiter([&] { EXPECT_EQ(event->Wait(10000), WAIT_OBJECT_0); });
  Sleep(20);
  event->Set();
  waiter.join();
  EXPECT_TRUE(Readable(fd));
}

}  // namespace
