#include "runtime/CKWZ_AVCodec_MutexAutoLock.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/widestring.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::ChildProcess;

// Holds the machine-wide mutex in a child until told to let go ('U') or killed.
ChildProcess StartHolder() {
  return ChildProcess([](const ChildProcess::Channel& channel) {
    CKWZ_AVCodec_MutexAutoLock lock;
    lock.Lock();
    if (!lock.IsLocked()) return 1;
    channel.Send('L');
    if (channel.Receive() == 'U') {
      channel.Send('R');
      lock.Unlock();
    }
    return 0;
  });
}

// Tries the mutex from a fresh process; 'Y' when it could be had within 100 ms.
char ProbeFromAnotherProcess() {
  ChildProcess probe([](const ChildProcess::Channel& channel) {
    HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, CKWZ_AVCodec_MutexAutoLock::kName);
    DWORD r = WaitForSingleObject(m, 100);
    bool had = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    if (had) ReleaseMutex(m);  // exiting while holding it would leave it abandoned
    channel.Send(had ? 'Y' : 'N');
    return 0;
  });
  return probe.Receive();
}

class DebugCapture {
 public:
  DebugCapture() {
    SetDebugOutputSink([this](const WCHAR* text) {
      std::lock_guard<std::mutex> guard(lock_);
      texts_.push_back(Narrow(text));
    });
  }
  ~DebugCapture() { SetDebugOutputSink(nullptr); }
  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> guard(lock_);
    return texts_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> texts_;
};

TEST(AVCodecMutex, SerialisesTwoProcesses) {
  ChildProcess holder = StartHolder();
  ASSERT_EQ(holder.Receive(), 'L');
  EXPECT_EQ(ProbeFromAnotherProcess(), 'N');
  holder.Send('U');
  CKWZ_AVCodec_MutexAutoLock lock;
  lock.Lock();  // blocks until the holder lets go
  EXPECT_TRUE(lock.IsLocked());
  EXPECT_EQ(holder.Receive(0), 'R');  // its release came first
  EXPECT_EQ(ProbeFromAnotherProcess(), 'N');
  lock.Unlock();
  EXPECT_FALSE(lock.IsLocked());
  EXPECT_EQ(ProbeFromAnotherProcess(), 'Y');
  EXPECT_EQ(holder.Wait(), 0);
}

TEST(AVCodecMutex, UnlockWithoutLockReleasesNothing) {
  CKWZ_AVCodec_MutexAutoLock owner;
  CKWZ_AVCodec_MutexAutoLock other;  // same thread, never locked
  owner.Lock();
  ASSERT_TRUE(owner.IsLocked());
  other.Unlock();
  EXPECT_EQ(ProbeFromAnotherProcess(), 'N');
  owner.Unlock();
  EXPECT_EQ(ProbeFromAnotherProcess(), 'Y');
}

TEST(AVCodecMutex, FreeAgainAfterTheHolderIsKilled) {
  ChildProcess holder = StartHolder();
  ASSERT_EQ(holder.Receive(), 'L');
  holder.Kill();
  DebugCapture debug;
  {
    CKWZ_AVCodec_MutexAutoLock first;
    first.Lock();  // finds the mutex abandoned: reported, and the caller proceeds unlocked
    EXPECT_FALSE(first.IsLocked());
    first.Unlock();
  }
  EXPECT_EQ(debug.texts(),
            std::vector<std::string>{"CKWZ_AVCodec_MutexAutoLock::Lock() FAILED.\n"});
  EXPECT_EQ(ProbeFromAnotherProcess(), 'Y');  // not kept by the failed Lock either
  CKWZ_AVCodec_MutexAutoLock second;
  second.Lock();
  EXPECT_TRUE(second.IsLocked());
  second.Unlock();
}

TEST(AVCodecMutex, DestructionReleasesAHeldLock) {
  {
    CKWZ_AVCodec_MutexAutoLock lock;
    lock.Lock();
  }
  EXPECT_EQ(ProbeFromAnotherProcess(), 'Y');
}

}  // namespace
