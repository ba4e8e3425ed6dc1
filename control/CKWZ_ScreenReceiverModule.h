// The module-wide state of the screen receiver's in-process server: the lock count that
// decides whether the module may be unloaded, and the process's Global Interface Table.
//
// Lifetime: one object for the module, from load to unload (ScreenReceiverModule()).
// Threads: Lock, Unlock and GetLockCount from any thread; GetGIT from any thread initialised
// for COM.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/com.h"

class CKWZ_ScreenReceiverModule {
 public:
  CKWZ_ScreenReceiverModule() = default;
  // Releases the Global Interface Table if it was created.
  ~CKWZ_ScreenReceiverModule();
  CKWZ_ScreenReceiverModule(const CKWZ_ScreenReceiverModule&) = delete;
  CKWZ_ScreenReceiverModule& operator=(const CKWZ_ScreenReceiverModule&) = delete;

  // Each live control and each LockServer(TRUE) holds one lock.
  LONG Lock();
  LONG Unlock();
  LONG GetLockCount() const { return m_nLockCnt.load(); }

  // The process's Global Interface Table, created on first request and kept until unload;
  // not AddRef'd for the caller. Null when it cannot be created.
  IGlobalInterfaceTable* GetGIT();

 private:
  std::atomic<LONG> m_nLockCnt{0};
  std::mutex m_gitLock;
  IGlobalInterfaceTable* m_pGIT = nullptr;  // owned; guarded by m_gitLock
};

CKWZ_ScreenReceiverModule& ScreenReceiverModule();
