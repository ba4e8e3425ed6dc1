// Holds the avcodec mutex for a scope. Internal to codec/.
#pragma once

#include "runtime/CKWZ_AVCodec_MutexAutoLock.h"

namespace kwz_codec {

class AvcodecLockGuard {
 public:
  explicit AvcodecLockGuard(CKWZ_AVCodec_MutexAutoLock& lock) : m_lock(lock) { m_lock.Lock(); }
  ~AvcodecLockGuard() { m_lock.Unlock(); }
  AvcodecLockGuard(const AvcodecLockGuard&) = delete;
  AvcodecLockGuard& operator=(const AvcodecLockGuard&) = delete;

 private:
  CKWZ_AVCodec_MutexAutoLock& m_lock;
};

}  // namespace kwz_codec
