#include "runtime/CKWZ_AVCodec_MutexAutoLock.h"

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/CodecMutexHolder.h"

namespace {

using kwz_test::ChildProcess;

// A name of the tests' own: a viewer or fuzzer on the same machine opens codecs under the real
// name, and would otherwise make a probe that expects the mutex free fail now and then.
constexpr const char* kTestName = "KWZ_AVCODEC_MUTEX_TEST";

// Tries the mutex from a fresh process; 'Y' when it could be had within 100 ms.
char ProbeFromAnotherProcess() {
  ChildProcess probe([](const ChildProcess::Channel& channel) {
    HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, kTestName);
    DWORD r = WaitForSingleObject(m, 100);
    bool had = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
    if (had) ReleaseMutex(m);  // exiting while holding it would leave it abandoned
    channel.Send(had ? 'Y' : 'N');
    return 0;
  });
  return probe.Receive();
}

// The guard waits for another process's holder; only the guard that locked releases (an Unlock
// of another one does nothing).
TEST(AVCodecMutex, SerialisesTwoProcessesAndOnlyTheLockingGuardReleases) {
  ChildProcess holder = kwz_test::StartCodecMutexHolder(kTestName);
  ASSERT_EQ(holder.Receive(), 'L');
  EXPECT_EQ(ProbeFromAnotherProcess(), 'N');
  holder.Send('U');
  CKWZ_AVCodec_MutexAutoLock lock(kTestName);
  CKWZ_AVCodec_MutexAutoLock other(kTestName);  // same thread, never locked
  lock.Lock();                                  // blocks until the holder lets go
  EXPECT_TRUE(lock.IsLocked());
  EXPECT_EQ(holder.Receive(0), 'R');  // its release came first
  other.Unlock();
  EXPECT_EQ(ProbeFromAnotherProcess(), 'N');
  lock.Unlock();
  EXPECT_EQ(ProbeFromAnotherProcess(), 'Y');
  EXPECT_EQ(holder.Wait(), 0);
}

// A mutex abandoned by a killed holder: the caller proceeds unlocked and keeps nothing, and the
// next Lock takes it.
TEST(AVCodecMutex, FreeAgainAfterTheHolderIsKilled) {
  ChildProcess holder = kwz_test::StartCodecMutexHolder(kTestName);
  ASSERT_EQ(holder.Receive(), 'L');
  holder.Kill();
  {
    CKWZ_AVCodec_MutexAutoLock first(kTestName);
    first.Lock();
    EXPECT_FALSE(first.IsLocked());
  }
  EXPECT_EQ(ProbeFromAnotherProcess(), 'Y');
  CKWZ_AVCodec_MutexAutoLock second(kTestName);
  second.Lock();
  EXPECT_TRUE(second.IsLocked());
}

}  // namespace
