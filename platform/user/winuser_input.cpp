// Keyboard state, characters, the focus and window regions.
#include <mutex>

#include "platform/kernel.h"
#include "platform/winerror.h"

#include "gdi/objects.h"
#include "user/key_table.h"
#include "user/keyboard_layout.h"
#include "user/keyboard_state.h"
#include "user/message_queue.h"
#include "user/window_calls.h"

namespace kwz_platform {
namespace {

// The one window of the process with the keyboard focus, and its thread.
struct FocusRecord {
  std::mutex lock;
  HWND window = nullptr;  // guarded by lock
  DWORD thread = 0;       // guarded by lock
};

FocusRecord& Focus() {
  static auto* focus = new FocusRecord;  // never destroyed: windows may outlive statics
  return *focus;
}

// Moves the focus to window (null: away from the calling thread's windows) and sends the
// messages; the previous focus window of this thread.
HWND MoveFocus(HWND window) {
  const DWORD thread = GetCurrentThreadId();
  HWND previous = nullptr;
  {
    FocusRecord& focus = Focus();
    std::lock_guard<std::mutex> guard(focus.lock);
    if (focus.thread == thread) previous = focus.window;
    if (previous == window) return previous;
    if (window == nullptr && previous == nullptr) return nullptr;
    focus.window = window;
    focus.thread = window != nullptr ? thread : 0;
  }
  if (previous != nullptr) {
    ThreadKeyboardState().ReleaseAll();
    SendMessageW(previous, WM_KILLFOCUS, reinterpret_cast<WPARAM>(window), 0);
  }
  // The previous window's handler may have moved the focus on.
  if (window != nullptr && GetFocus() == window) {
    SendMessageW(window, WM_SETFOCUS, reinterpret_cast<WPARAM>(previous), 0);
  }
  return previous;
}

}  // namespace

void NativeFocusChanged(HWND window, bool gained) {
  if (gained) {
    MoveFocus(window);
  } else if (GetFocus() == window) {
    MoveFocus(nullptr);
  }
}

void ForgetFocus(HWND window) {
  FocusRecord& focus = Focus();
  std::lock_guard<std::mutex> guard(focus.lock);
  if (focus.window == window) {
    focus.window = nullptr;
    focus.thread = 0;
  }
}

}  // namespace kwz_platform

using namespace kwz_platform;

BOOL GetKeyboardState(PBYTE keyState) {
  if (keyState == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto& keys = ThreadKeyboardState().Keys();
  std::copy(keys.begin(), keys.end(), keyState);
  return TRUE;
}

SHORT GetKeyState(int virtualKey) {
  if (virtualKey < 0 || virtualKey > 0xFF) return 0;
  const BYTE key = ThreadKeyboardState().Keys()[static_cast<size_t>(virtualKey)];
  return static_cast<SHORT>(((key & 0x80) != 0 ? 0xFF80 : 0) | (key & 0x01));
}

int ToUnicode(UINT vk, UINT scanCode, const BYTE* keyState, LPWSTR buffer, int bufferSize,
              UINT flags) {
  return TypeKey(ThreadKeyboardLayout(), vk, scanCode, keyState, buffer, bufferSize, flags);
}

UINT MapVirtualKeyW(UINT code, UINT mapType) {
  if (mapType != MAPVK_VSC_TO_VK && mapType != MAPVK_VSC_TO_VK_EX) return 0;
  const UINT prefix = code >> 8;
  if (prefix != 0 && prefix != 0xE0) return 0;
  const BYTE scan = static_cast<BYTE>(code & 0xFF);
  const bool extended = prefix == 0xE0;
  const PhysicalKey key = LookupEvdevKey(EvdevKeyForScan(scan, extended));
  if (mapType == MAPVK_VSC_TO_VK) return key.vk;
  const BYTE sided = SidedModifierVk(key.vk, scan, extended);
  return sided != 0 ? sided : key.vk;
}

HWND SetFocus(HWND window) {
  std::shared_ptr<NativeWindow> native;
  if (window != nullptr) {
    auto record = Windows().Find(window);
    if (!record) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    if (record->queue == nullptr || record->queue->ThreadId() != GetCurrentThreadId()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    std::lock_guard<std::mutex> guard(record->lock);
    if (record->destroyed) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    native = record->native;
  }
  const HWND previous = MoveFocus(window);
  // The display's own focus event comes later and finds the record already agreeing.
  if (native && GetFocus() == window) native->TakeFocus();
  return previous;
}

HWND GetFocus() {
  FocusRecord& focus = Focus();
  std::lock_guard<std::mutex> guard(focus.lock);
  return focus.thread == GetCurrentThreadId() ? focus.window : nullptr;
}

int SetWindowRgn(HWND window, HRGN region, BOOL) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (region != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return 1;
}
