// The remote-control re-send thread: every period (100 ms unless the control was given another)
// it sends the control's mouse record again, so that the presenter's side sees the cursor move
// while no button or key is touched. Wake sends at once, without waiting for the period.
//
// Ownership: owned by the control from StartRemoteControl to EndRemoteControl; holds the control
// without a reference (the control stops and deletes the thread before it goes away).
// Threads: built, stopped and deleted on the container's thread; Run is the thread's own; Wake
// from any thread.
#pragma once

#include <atomic>

#include "runtime/CMediaThread.h"

class CKWZ_ScreenReceiver;

class RemoteControlThread : public CMediaThread {
 public:
  static constexpr DWORD kResendIntervalMs = 100;

  // Starts the thread at once.
  RemoteControlThread(CKWZ_ScreenReceiver* control, DWORD periodMs);
  // One pass: waits for the period or a wake, then sends the mouse record under the control's
  // remote-control lock (nothing when woken to stop).
  DWORD Run() override;
  // Wakes the wait, so that a long period does not hold the stop up.
  bool Stop() override;
  void Wake();
  // Stops the thread before the control it points to can go.
  ~RemoteControlThread() override;

 private:
  CKWZ_ScreenReceiver* m_pControl;
  const DWORD m_nPeriodMs;
  const HANDLE m_hWake;  // auto-reset
  // Set by Stop before it wakes the wait; the event orders it before the woken pass reads it.
  std::atomic<bool> m_bStopping{false};
};
