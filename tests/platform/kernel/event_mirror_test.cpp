// The event's descriptor mirror: whoever polls the descriptor must see it readable exactly while
// the event is signalled, and no Set may be lost between a wait's test and its poll.
#include <poll.h>

#include <gtest/gtest.h>
#include <atomic>
#include <thread>

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
                                           MirrorCase{"autoAnnounced", false, false, false},
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
}

// A Set that lands between a wait's test of the state and its poll must wake it: a lost one
// lets the wait run out its time.
TEST(EventMirror, SetBetweenTestAndPollIsNotLost) {
  for (int round = 0; round < 200; ++round) {
    auto event = EventObject::Create(false, false);
    DWORD result = WAIT_FAILED;
    {
      std::jthread waiter([&] { result = event->Wait(10000); });
      for (int spin = 0; spin < round * 500; ++spin)
        std::atomic_signal_fence(std::memory_order_seq_cst);
      event->Set();
    }
    ASSERT_EQ(result, WAIT_OBJECT_0) << "round " << round;
  }
}

// Sets and Resets racing with waiters leave the state and the descriptor agreeing.
TEST(EventMirror, RacingSetAndResetLeaveStateAndDescriptorAgreeing) {
  auto event = EventObject::Create(true, false);
  const int fd = event->PollDescriptor();
  {
    std::jthread setter([&] {
      for (int i = 0; i < 20000; ++i) event->Set();
    });
    std::jthread resetter([&] {
      for (int i = 0; i < 20000; ++i) event->Reset();
    });
    std::jthread waiter([&] {
      for (int i = 0; i < 500; ++i) event->Wait(1);
    });
  }
  EXPECT_EQ(Readable(fd), event->TryAcquire());
  event->Reset();
  EXPECT_FALSE(Readable(fd));
}

}  // namespace
