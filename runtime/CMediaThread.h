// Base of every worker thread: runs the derived class's body in a loop until told to stop,
// contains an exception that escapes the body, and stops with a bounded wait.
//
// Start and Stop are called by the owner's controlling thread, never by the thread itself.
#pragma once

#include <atomic>

#include "platform/kernel.h"

class CMediaThread {
 public:
  CMediaThread();

  // One pass of the thread body. Returning NET_STOPPED (240) ends the loop; anything else
  // continues it. Must return regularly so that Stop rarely reaches its limit.
  virtual DWORD Run() = 0;
  // Stops the thread with this class's own Stop: by now a derived override is gone.
  virtual ~CMediaThread();
  // Returns true when the thread runs, at once when it already does.
  virtual bool Start();
  // Waits up to the stop limit for the thread to end, then terminates it (and returns false).
  virtual bool Stop();

  bool IsRunning() const { return m_bRunning.load(std::memory_order_relaxed); }

  // The stop limit: kStopTimeoutMs unless a test that lets a body hang sets a shorter one.
  static constexpr DWORD kStopTimeoutMs = 5000;
  void SetStopTimeoutMs(DWORD milliseconds) { m_dwStopTimeoutMs = milliseconds; }

 private:
  static unsigned ThreadProc(void* self);
  static void RunLoop(void* self);

  // Written by the controller, read by the thread between passes, and cleared by the thread as
  // it ends; Stop's wait orders the rest, so relaxed access is enough.
  std::atomic<bool> m_bRunning;
  HANDLE m_hThread;                          // controller thread only
  DWORD m_dwStopTimeoutMs = kStopTimeoutMs;  // controller thread only
};
