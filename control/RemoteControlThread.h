// The remote-control re-send thread: every 100 ms it sends the control's mouse record again, so
// that the presenter's side sees the cursor move while no button or key is touched.
//
// Ownership: owned by the control from StartRemoteControl to EndRemoteControl; holds the control
// without a reference (the control stops and deletes the thread before it goes away).
// Threads: built, stopped and deleted on the container's thread; Run is the thread's own.
#pragma once

#include "runtime/CMediaThread.h"

class CKWZ_ScreenReceiver;

class RemoteControlThread : public CMediaThread {
 public:
  static constexpr DWORD kResendIntervalMs = 100;

  // Starts the thread at once.
  explicit RemoteControlThread(CKWZ_ScreenReceiver* control);
  // One pass: sleeps, then sends the mouse record under the control's remote-control lock.
  DWORD Run() override;
  // Stops the thread before the control it points to can go.
  ~RemoteControlThread() override;

 private:
  CKWZ_ScreenReceiver* m_pControl;
};
