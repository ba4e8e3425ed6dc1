// The control window: its class, creation and destruction, and its message handling in the
// order of precedence of the control base, reflected notifications and the control's own map.
#include <mutex>
#include <unordered_map>

#include "control/CKWZ_ScreenReceiver.h"
#include "control/ControlMessageRoutes.h"
#include "control/RemoteInputRules.h"

namespace {

constexpr const char16_t* kWindowClass = u"KWZ_ScreenReceiverWindow";
// Arrow and Tab keys come to the control instead of moving the container's focus.
constexpr LRESULT kDialogCodes = DLGC_WANTARROWS | DLGC_WANTTAB;

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

}  // namespace

HWND CKWZ_ScreenReceiver::CreateControlWindow(HWND parent, const RECT& rect) {
  if (m_hWnd.load(std::memory_order_relaxed) != nullptr) return nullptr;
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    // Double-clicks arrive as messages of their own only for classes that ask for them.
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = &CKWZ_ScreenReceiver::WindowProc;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<UINT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExW(&windowClass) != 0;
  }();
  if (!registered) return nullptr;
  const DWORD style =
      parent != nullptr ? (WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN) : WS_VISIBLE;
  return CreateWindowExW(0, kWindowClass, u"", style, rect.left, rect.top, rect.right - rect.left,
                         rect.bottom - rect.top, parent, nullptr, nullptr, this);
}

void CKWZ_ScreenReceiver::DestroyControlWindow() {
  const HWND window = m_hWnd.load(std::memory_order_relaxed);
  if (window != nullptr) DestroyWindow(window);
}

HRESULT CKWZ_ScreenReceiver::OnDraw(HDC, const RECT&) {
  // The engine paints the picture into the window from its own thread; nothing to add here.
  return S_OK;
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
  if (message == WM_NCDESTROY) {
    {
      std::lock_guard<std::mutex> guard(g_windowsLock);
      Windows().erase(window);
    }
    control->m_hWnd.store(nullptr, std::memory_order_relaxed);
    return 0;
  }

  // The control base: painting is its own; the focus and activation messages it passes on
  // once it has told the container.
  if (message == WM_SETFOCUS || message == WM_KILLFOCUS || message == WM_MOUSEACTIVATE) {
    control->OnActivationMessage(message);
  }
  if (message == WM_PAINT) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client{};
    GetClientRect(window, &client);
    if (dc != nullptr) control->OnDraw(dc, client);
    EndPaint(window, &paint);
    return 0;
  }
  // Notifications that the parent reflected back are answered as the original messages.
  if (IsReflectedNotification(message)) {
    return DefWindowProcW(window, message - kReflectedMessageBase, wParam, lParam);
  }
  LRESULT result = 0;
  if (control->ProcessOwnMessage(window, message, wParam, lParam, &result)) return result;
  return DefWindowProcW(window, message, wParam, lParam);
}

bool CKWZ_ScreenReceiver::ProcessOwnMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam,
                                            LRESULT* result) {
  if (!IsOwnMapMessage(message)) return false;
  switch (message) {
    case WM_GETDLGCODE:
      *result = kDialogCodes;
      break;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
      *result = OnKey(message, wParam, lParam);
      break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      *result = OnFocus(message);
      break;
    case WM_CREATE:
      *result = OnCreate();
      break;
    case WM_DESTROY:
      DeInit();
      *result = 0;
      break;
    default:  // the nine button messages
      *result = OnMouseButton(message);
      break;
  }
  return true;
}

LRESULT CKWZ_ScreenReceiver::OnCreate() {
  if (m_hWnd.load(std::memory_order_relaxed) == nullptr) return 1;
  CCritSecLock guard(&m_csEngine);
  if (m_bInitPending) {
    m_bInitPending = false;
    Init();
  }
  if (m_bStartPending) {
    m_bStartPending = false;
    Start();
  }
  return 0;
}

LRESULT CKWZ_ScreenReceiver::OnFocus(UINT message) {
  CCritSecLock remote(&m_csRemote);
  SetWindowRgn(m_hWnd.load(std::memory_order_relaxed), nullptr, FALSE);
  m_bHasFocus = message == WM_SETFOCUS;
  return 0;
}
