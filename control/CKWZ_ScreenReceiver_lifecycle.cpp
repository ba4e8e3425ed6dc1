// Init, Start, DeInit and Stop, and the size notification that the engine's thread raises.

#include "control/AutomationBoundary.h"
#include "control/CKWZ_ScreenReceiver.h"
#include "control/ScreenReceiverGuids.h"
#include "network/TunnelRegistry.h"
#include "platform/com.h"
#include "platform/kernel.h"
#include "platform/winerror.h"

namespace {

unsigned StopEngineThread(void* engine) {
  static_cast<CScreenSharing*>(engine)->Stop();
  return 0;
}

// While DeInit (or Stop, or Init replacing a failed engine) waits for the engine's thread, this
// thread keeps serving incoming calls, so a container's SizeUpdated handler can call Init or
// Start in the middle of the teardown. Such a call is refused rather than run afterwards:
// running it once the teardown ends would hand back a running engine from the DeInit that the
// container called to be rid of it, and would need a queue of deferred calls with its own
// ordering rules. Refusing leaves DeInit's result as asked, and the handler can call again once
// DeInit has returned. E_UNEXPECTED is COM's answer to a call made at a time the object cannot
// serve it. Other threads never get here: they wait on m_csEngine and run after the teardown.
HRESULT RefuseWhileReleasing(const char16_t* description) {
  kwz_control::SetThreadErrorInfo(description, CLSID_KWZ_ScreenReceiver, kScreenReceiverProgId);
  return E_UNEXPECTED;
}

}  // namespace

HRESULT CKWZ_ScreenReceiver::Init() {
  return kwz_control::RunAtBoundary("KWZ Unknown exception\nCKWZ_ScreenReceiver::Init",
                                    [this] { return InitBody(); });
}

HRESULT CKWZ_ScreenReceiver::InitBody() {
  CCritSecLock guard(&m_csEngine);
  if (m_bReleasingEngine) {
    return RefuseWhileReleasing(u"Init called while the engine is being stopped and released");
  }
  if (m_bInitialized) return S_OK;
  const HWND window = m_hWnd.load(std::memory_order_relaxed);
  if (window == nullptr) {
    m_bInitPending = true;
    return S_OK;
  }
  // An engine left behind by a failed Init is released before the next one is built, so
  // nothing holds its port or thread any longer.
  ReleaseEngine();
  {
    // The re-send thread reads the engine's screen rectangle under m_csRemote.
    CCritSecLock remote(&m_csRemote);
    m_pEngine = new CScreenSharing();
  }
  if (!m_strMulticastGroup.empty()) {
    m_pEngine->SetGroupAddress(m_strMulticastGroup.c_str());
  } else if (m_strSourceAddress != "0.0.0.0") {
    m_pEngine->SetLocalAddress(m_strSourceAddress.c_str());
  }
  if (m_nSourcePort != 0) m_pEngine->m_dwPort = static_cast<DWORD>(m_nSourcePort);
  // An id that names no registered factory leaves the engine on its own socket.
  m_pEngine->m_pTunnelFactory = FindTunnelFactory(m_nTunnel);
  m_pEngine->m_bReorder = m_bPacketReordering;
  m_pEngine->SetWindow(window);
  m_pEngine->m_pSizeSink = static_cast<IScreenSharing*>(this);
  // A port that cannot be opened leaves the engine not set up; the container learns of it
  // only by the stream not arriving, as with a presenter that does not send.
  m_pEngine->Setup();
  m_pEngine->SetStretch(m_bEnableStretch.load(std::memory_order_relaxed));
  m_bInitialized = true;
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::Start() {
  CCritSecLock guard(&m_csEngine);
  if (m_bReleasingEngine) {
    return RefuseWhileReleasing(u"Start called while the engine is being stopped and released");
  }
  if (m_bInitPending) {
    m_bStartPending = true;
  } else if (m_pEngine != nullptr && m_bInitialized) {
    m_pEngine->Start();
  }
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::DeInit() {
  return kwz_control::RunAtBoundary("KWZ Unknown exception\nCKWZ_ScreenReceiver::DeInit",
                                    [this] { return DeInitBody(); });
}

HRESULT CKWZ_ScreenReceiver::DeInitBody() {
  CCritSecLock guard(&m_csEngine);
  EndRemoteControl();
  ReleaseEngine();
  m_bInitialized = false;
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::Stop() {
  DeInit();
  return S_OK;
}

void CKWZ_ScreenReceiver::ReleaseEngine() {
  CScreenSharing* engine = m_pEngine;
  if (engine == nullptr) return;
  {
    CCritSecLock remote(&m_csRemote);
    m_pEngine = nullptr;
  }
  // The engine's thread may be inside SizeUpdated, waiting for this thread to run the sink or
  // the window's resize. Stopping it from a helper while this thread keeps serving those calls
  // lets that pass finish instead of running into the stop's time limit.
  const UINT_PTR helper = _beginthreadex(nullptr, 0, &StopEngineThread, engine, 0, nullptr);
  if (helper != 0) {
    m_bReleasingEngine = true;
    HANDLE handle = reinterpret_cast<HANDLE>(helper);
    DWORD index = 0;
    if (FAILED(CoWaitForMultipleHandles(0, INFINITE, 1, &handle, &index))) {
      WaitForSingleObject(handle, INFINITE);
    }
    m_bReleasingEngine = false;
    CloseHandle(handle);
  }
  delete engine;  // its own Stop finds the thread ended
}

void CKWZ_ScreenReceiver::OnScreenSizeChanged(std::uint32_t width, std::uint32_t height) {
  m_eventPoint.Fire_SizeUpdated(width, height);
  if (m_bEnableStretch.load(std::memory_order_relaxed)) return;
  const HWND window = m_hWnd.load(std::memory_order_relaxed);
  if (window == nullptr) return;
  SetWindowPos(window, nullptr, 0, 0, static_cast<int>(width), static_cast<int>(height),
               SWP_NOMOVE | SWP_NOZORDER);
  InvalidateRect(window, nullptr, TRUE);
}
