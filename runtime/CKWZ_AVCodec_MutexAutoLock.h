// A lock on the named mutex "KWZ_AVCODEC_MUTEX", which serialises every FFmpeg codec context
// open and close of every process of the user (another user's processes can neither hold nor
// touch it). The codec wrappers call Lock before and Unlock after each such call.
#pragma once

#include "platform/kernel.h"

class CKWZ_AVCodec_MutexAutoLock {
 public:
  static constexpr const char* kName = "KWZ_AVCODEC_MUTEX";

  // name: tests pass one of their own, so that codecs busy elsewhere on the machine (a viewer, a
  // fuzzer) cannot hold the lock they watch.
  explicit CKWZ_AVCodec_MutexAutoLock(const char* name = kName);
  ~CKWZ_AVCodec_MutexAutoLock();
  CKWZ_AVCodec_MutexAutoLock(const CKWZ_AVCodec_MutexAutoLock&) = delete;
  CKWZ_AVCodec_MutexAutoLock& operator=(const CKWZ_AVCodec_MutexAutoLock&) = delete;

  // Waits without time-out. A failed wait is reported on the debugger output only, and the
  // caller proceeds unlocked.
  void Lock();
  // Releases only a lock that Lock obtained.
  void Unlock();
  bool IsLocked() const { return m_bLocked; }

 private:
  HANDLE m_hMutex;
  bool m_bLocked;
};
