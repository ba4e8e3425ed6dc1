// A Win32 event: auto-reset by default, manual-reset on request, initially not signalled.
#pragma once

#include "platform/kernel.h"

class CEvent {
 public:
  CEvent();
  explicit CEvent(bool manualReset);
  ~CEvent();
  CEvent(const CEvent&) = delete;
  CEvent& operator=(const CEvent&) = delete;

  bool Set();
  bool Reset();
  // True exactly when the event was signalled within the time-out; a time-out, an abandoned or
  // a failed wait (a broken handle included) give false.
  bool Wait(DWORD timeoutMs);
  bool Poll() { return Wait(0); }

  // The handle, for waits that cover this event and other objects. Owned by the event.
  HANDLE GetHandle() const { return m_hEvent; }

 private:
  HANDLE m_hEvent;
};
