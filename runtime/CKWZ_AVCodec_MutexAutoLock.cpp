#include "runtime/CKWZ_AVCodec_MutexAutoLock.h"

#include "platform/debug.h"
#include "platform/winerror.h"

CKWZ_AVCodec_MutexAutoLock::CKWZ_AVCodec_MutexAutoLock(const char* name)
    : m_hMutex(nullptr), m_bLocked(false) {
  m_hMutex = CreateMutexA(nullptr, FALSE, name);
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Keep a single handle for the object's lifetime.
    if (m_hMutex != nullptr) CloseHandle(m_hMutex);
    m_hMutex = OpenMutexA(SYNCHRONIZE, FALSE, name);
  }
}

CKWZ_AVCodec_MutexAutoLock::~CKWZ_AVCodec_MutexAutoLock() {
  Unlock();
  if (m_hMutex != nullptr) CloseHandle(m_hMutex);
}

void CKWZ_AVCodec_MutexAutoLock::Lock() {
  if (m_hMutex == nullptr) return;
  DWORD result = WaitForSingleObject(m_hMutex, INFINITE);
  if (result == WAIT_OBJECT_0) {
    m_bLocked = true;
    return;
  }
  OutputDebugStringW(u"CKWZ_AVCodec_MutexAutoLock::Lock() FAILED.\n");
  // An abandoned mutex (its holder died) comes back owned by us. The caller proceeds unlocked,
  // so hand it back at once rather than keep it from every other process.
  if (result == WAIT_ABANDONED) ReleaseMutex(m_hMutex);
}

void CKWZ_AVCodec_MutexAutoLock::Unlock() {
  if (m_hMutex != nullptr && m_bLocked) {
    ReleaseMutex(m_hMutex);
    m_bLocked = false;
  }
}
