#include "control/RemoteControlThread.h"

#include "control/CKWZ_ScreenReceiver.h"
#include "runtime/NetResult.h"

RemoteControlThread::RemoteControlThread(CKWZ_ScreenReceiver* control, DWORD periodMs)
    : m_pControl(control),
      m_nPeriodMs(periodMs),
      m_hWake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  Start();
}

RemoteControlThread::~RemoteControlThread() {
  Stop();
  CloseHandle(m_hWake);
}

bool RemoteControlThread::Stop() {
  // The flag goes first, so that the woken pass sees it and sends nothing.
  m_bStopping.store(true, std::memory_order_relaxed);
  SetEvent(m_hWake);
  return CMediaThread::Stop();
}

void RemoteControlThread::Wake() {
  SetEvent(m_hWake);
}

DWORD RemoteControlThread::Run() {
  // No pacing period of the base: this wait alone sets the rhythm; a stop wakes it.
  // Checked before the wait as well: a stop whose wake an earlier pass took must not leave this
  // pass waiting out the period.
  if (m_bStopping.load(std::memory_order_relaxed)) return NET_STOPPED;
  WaitForSingleObject(m_hWake, m_nPeriodMs);
  if (m_bStopping.load(std::memory_order_relaxed)) return NET_STOPPED;
  m_pControl->ResendMouseRecord();
  return 0;
}
