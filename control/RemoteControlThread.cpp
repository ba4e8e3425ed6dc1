#include "control/RemoteControlThread.h"

#include "control/CKWZ_ScreenReceiver.h"

RemoteControlThread::RemoteControlThread(CKWZ_ScreenReceiver* control) : m_pControl(control) {
  Start();
}

RemoteControlThread::~RemoteControlThread() {
  Stop();
}

DWORD RemoteControlThread::Run() {
  // No pacing period of the base: this sleep alone sets the rhythm, and it is short enough for
  // a stop to find the thread between passes well inside the stop's time limit.
  Sleep(kResendIntervalMs);
  m_pControl->ResendMouseRecord();
  return 0;
}
