// A child process that holds the codec mutex, for tests of who waits for it. Header-only: the
// test that includes it links the runtime, the support library does not.
#pragma once

#include "runtime/CKWZ_AVCodec_MutexAutoLock.h"
#include "tests/support/ChildProcess.h"

namespace kwz_test {

// Holds the mutex called name until told to let go ('U') or killed; reports 'L' when held, 'R'
// just before releasing.
inline ChildProcess StartCodecMutexHolder(const char* name = CKWZ_AVCodec_MutexAutoLock::kName) {
  return ChildProcess([name](const ChildProcess::Channel& channel) {
    CKWZ_AVCodec_MutexAutoLock lock(name);
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

}  // namespace kwz_test
