// Init, Start, DeInit and Stop, the control window that holds back an early Init, and the size
// notification that the engine's thread raises.
#include <mutex>
#include <new>
#include <unordered_map>

#include "control/AutomationBoundary.h"
#include "control/CKWZ_ScreenReceiver.h"
#include "platform/com.h"
#include "platform/kernel.h"
#include "platform/winerror.h"

namespace {

constexpr const char16_t* kWindowClass = u"KWZ_ScreenReceiverWindow";

// The control behind each of its windows: a window knows its control from its creation message
// on, and forgets it after its last one.
std::mutex g_windowsLock;
std::unordered_map<HWND, CKWZ_ScreenReceiver*>& Windows() {
  static auto* windows = new std::unordered_map<HWND, CKWZ_ScreenReceiver*>();
  return *windows;
}

CKWZ_ScreenReceiver* ControlOf(HWND window) {
  std::lock_guard<std::mutex> guard(g_windowsLock);
  const auto found = Windows().find(window);
  return found != Windows().end() ? found->second : nullptr;
}

unsigned StopEngineThread(void* engine) {
  static_cast<CScreenSharing*>(engine)->Stop();
  return 0;
}

}  // namespace

HRESULT CKWZ_ScreenReceiver::Init() {
  return kwz_control::RunAtBoundary("KWZ Unknown exception\nCKWZ_ScreenReceiver::Init",
                                    [this] { return InitBody(); });
}

HRESULT CKWZ_ScreenReceiver::InitBody() {
  CCritSecLock guard(&m_csEngine);
  if (m_bInitialized) return S_OK;
  const HWND window = m_hWnd.load(std::memory_order_relaxed);
  if (window == nullptr) {
    m_bInitPending = true;
    return S_OK;
  }
  // An engine left behind by a failed Init is released before the next one is built, so
  // nothing holds its port or thread any longer.
  ReleaseEngine();
  m_pEngine = new CScreenSharing();
  if (!m_strMulticastGroup.empty()) {
    m_pEngine->SetGroupAddress(m_strMulticastGroup.c_str());
  } else if (m_strSourceAddress != "0.0.0.0") {
    m_pEngine->SetLocalAddress(m_strSourceAddress.c_str());
  }
  if (m_nSourcePort != 0) m_pEngine->m_dwPort = static_cast<DWORD>(m_nSourcePort);
  if (m_nTunnel != 0) {
    m_pEngine->m_pTunnelFactory =
        reinterpret_cast<ITunnelFactory*>(static_cast<UINT_PTR>(m_nTunnel));
  }
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

HRESULT CKWZ_ScreenReceiver::StartRemoteControl() {
  return E_NOTIMPL;
}

HRESULT CKWZ_ScreenReceiver::EndRemoteControl() {
  // Remote control is never started by this build, so there is nothing to end.
  return S_OK;
}

void CKWZ_ScreenReceiver::ReleaseEngine() {
  CScreenSharing* engine = m_pEngine;
  if (engine == nullptr) return;
  // The engine's thread may be inside SizeUpdated, waiting for this thread to run the sink or
  // the window's resize. Stopping it from a helper while this thread keeps serving those calls
  // lets that pass finish instead of running into the stop's time limit.
  const UINT_PTR helper = _beginthreadex(nullptr, 0, &StopEngineThread, engine, 0, nullptr);
  if (helper != 0) {
    HANDLE handle = reinterpret_cast<HANDLE>(helper);
    DWORD index = 0;
    if (FAILED(CoWaitForMultipleHandles(0, INFINITE, 1, &handle, &index))) {
      WaitForSingleObject(handle, INFINITE);
    }
    CloseHandle(handle);
  }
  m_pEngine = nullptr;
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

HWND CKWZ_ScreenReceiver::CreateControlWindow(HWND parent, const RECT& rect) {
  if (m_hWnd.load(std::memory_order_relaxed) != nullptr) return nullptr;
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &CKWZ_ScreenReceiver::WindowProc;
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExW(&windowClass) != 0;
  }();
  if (!registered) return nullptr;
  const DWORD style = parent != nullptr ? (WS_CHILD | WS_VISIBLE) : WS_VISIBLE;
  return CreateWindowExW(0, kWindowClass, u"", style, rect.left, rect.top, rect.right - rect.left,
                         rect.bottom - rect.top, parent, nullptr, nullptr, this);
}

void CKWZ_ScreenReceiver::DestroyControlWindow() {
  const HWND window = m_hWnd.load(std::memory_order_relaxed);
  if (window != nullptr) DestroyWindow(window);
}

void CKWZ_ScreenReceiver::OnCreate() {
  CCritSecLock guard(&m_csEngine);
  if (m_bInitPending) {
    m_bInitPending = false;
    Init();
  }
  if (m_bStartPending) {
    m_bStartPending = false;
    Start();
  }
}

LRESULT CKWZ_ScreenReceiver::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* control = static_cast<CKWZ_ScreenReceiver*>(create->lpCreateParams);
    {
      std::lock_guard<std::mutex> guard(g_windowsLock);
      Windows()[window] = control;
    }
    control->m_hWnd.store(window, std::memory_order_relaxed);
    return TRUE;
  }
  CKWZ_ScreenReceiver* control = ControlOf(window);
  if (control == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_CREATE:
      control->OnCreate();
      return 0;
    case WM_DESTROY:
      control->DeInit();
      return 0;
    case WM_NCDESTROY: {
      std::lock_guard<std::mutex> guard(g_windowsLock);
      Windows().erase(window);
      control->m_hWnd.store(nullptr, std::memory_order_relaxed);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}
