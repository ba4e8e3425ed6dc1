#include "runtime/CEvent.h"

CEvent::CEvent() : m_hEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CEvent::CEvent(bool manualReset)
    : m_hEvent(CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr)) {}

CEvent::~CEvent() {
  if (m_hEvent != nullptr) CloseHandle(m_hEvent);
}

bool CEvent::Set() {
  return SetEvent(m_hEvent) != FALSE;
}

bool CEvent::Reset() {
  return ResetEvent(m_hEvent) != FALSE;
}

bool CEvent::Wait(DWORD timeoutMs) {
  return WaitForSingleObject(m_hEvent, timeoutMs) == WAIT_OBJECT_0;
}
