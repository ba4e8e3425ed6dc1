#include "runtime/CMediaThread.h"

#include "platform/com.h"
#include "platform/debug.h"
#include "platform/seh.h"
#include "platform/winerror.h"
#include "runtime/ExceptionLog.h"
#include "runtime/NetResult.h"

CMediaThread::CMediaThread() : m_bRunning(false), m_hThread(nullptr) {}

CMediaThread::~CMediaThread() {
  CMediaThread::Stop();
}

bool CMediaThread::Start() {
  if (IsRunning()) return true;
  if (m_hThread != nullptr) {  // left by a thread that ended by itself
    CloseHandle(m_hThread);
    m_hThread = nullptr;
  }
  m_bRunning.store(true, std::memory_order_relaxed);
  m_hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ThreadProc, this, 0, nullptr));
  if (m_hThread == nullptr) {
    m_bRunning.store(false, std::memory_order_relaxed);
    return false;
  }
  // Not IsRunning(): a body that ends at once may already have cleared the flag.
  return true;
}

bool CMediaThread::Stop() {
  m_bRunning.store(false, std::memory_order_relaxed);
  if (m_hThread == nullptr) return true;
  if (WaitForSingleObject(m_hThread, m_dwStopTimeoutMs) == WAIT_OBJECT_0) {
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    return true;
  }
  TerminateThread(m_hThread, 0);
  OutputDebugStringW(u"\nWARNING using TerminateThread.\n\n");
  CloseHandle(m_hThread);
  m_hThread = nullptr;
  return false;
}

void CMediaThread::RunLoop(void* self) {
  auto* thread = static_cast<CMediaThread*>(self);
  while (thread->IsRunning()) {
    if (thread->Run() == NET_STOPPED) break;
  }
}

unsigned CMediaThread::ThreadProc(void* self) {
  auto* thread = static_cast<CMediaThread*>(self);
  HRESULT com = CoInitialize(nullptr);
  DWORD code = 0;
  if (CallWithExceptionHandler(RunLoop, thread, &code)) AppendThreadFaultEntry(code);
  thread->m_bRunning.store(false, std::memory_order_relaxed);
  if (com == S_OK) CoUninitialize();
  _endthreadex(NET_STOPPED);
}
