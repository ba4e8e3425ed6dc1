// A Win32 critical section and the scoped guard through which every lock of the system is
// taken, so that it is released on every way out of a block, exceptions included.
#pragma once

#include "platform/kernel.h"

class CCriticalSection {
 public:
  CCriticalSection() { InitializeCriticalSection(&m_cs); }
  ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  void Enter() { EnterCriticalSection(&m_cs); }
  void Leave() { LeaveCriticalSection(&m_cs); }

 private:
  CRITICAL_SECTION m_cs;
};

class CCritSecLock {
 public:
  explicit CCritSecLock(CCriticalSection* section) : m_pSection(section) { m_pSection->Enter(); }
  ~CCritSecLock() { m_pSection->Leave(); }
  CCritSecLock(const CCritSecLock&) = delete;
  CCritSecLock& operator=(const CCritSecLock&) = delete;

 private:
  CCriticalSection* m_pSection;
};
