#include "control/CKWZ_ScreenReceiverModule.h"

CKWZ_ScreenReceiverModule::~CKWZ_ScreenReceiverModule() {
  if (m_pGIT != nullptr) m_pGIT->Release();
}

LONG CKWZ_ScreenReceiverModule::Lock() {
  return ++m_nLockCnt;
}

LONG CKWZ_ScreenReceiverModule::Unlock() {
  return --m_nLockCnt;
}

IGlobalInterfaceTable* CKWZ_ScreenReceiverModule::GetGIT() {
  std::lock_guard<std::mutex> lock(m_gitLock);
  if (m_pGIT == nullptr) {
    CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                     IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&m_pGIT));
  }
  return m_pGIT;
}

CKWZ_ScreenReceiverModule& ScreenReceiverModule() {
  static CKWZ_ScreenReceiverModule module;
  return module;
}
