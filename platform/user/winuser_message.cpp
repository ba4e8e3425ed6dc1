// Window messages: posting, sending, the message loop calls and the default procedure.
#include <unistd.h>

#include "platform/kernel.h"
#include "platform/winerror.h"

#include "gdi/objects.h"
#include "user/message_queue.h"
#include "user/window_calls.h"

namespace kwz_platform {
namespace {

LRESULT CallProc(const WindowRecord& record, UINT message, WPARAM wParam, LPARAM lParam) {
  return record.proc != nullptr ? record.proc(record.handle, message, wParam, lParam)
                                : DefWindowProcW(record.handle, message, wParam, lParam);
}

bool ValidFilter(HWND window) {
  if (window == nullptr || window == reinterpret_cast<HWND>(-1)) return true;
  if (IsWindow(window)) return true;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return false;
}

}  // namespace

LRESULT SendToWindow(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam,
                     LPARAM lParam) {
  if (record->queue == nullptr || record->queue->ThreadId() == GetCurrentThreadId()) {
    return CallProc(*record, message, wParam, lParam);
  }
  auto done = EventObject::Create(true, false);
  if (!done) return 0;
  auto result = std::make_shared<LRESULT>(0);
  const bool handed = record->queue->Hand(
      [record, message, wParam, lParam, done, result](bool run) {
        if (run && Windows().Find(record->handle)) {
          *result = CallProc(*record, message, wParam, lParam);
        }
        done->Set();
      },
      false);
  if (!handed) return 0;
  WaitRunningHanded(*done);
  return *result;
}

LRESULT NotifyWindow(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam,
                     LPARAM lParam) {
  // A class without a procedure (STATIC) answers as the default procedure does, on any thread.
  if (record->proc == nullptr) return DefWindowProcW(record->handle, message, wParam, lParam);
  return SendToWindow(record, message, wParam, lParam);
}

}  // namespace kwz_platform

using namespace kwz_platform;

LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      if (BeginPaint(window, &paint) != nullptr) EndPaint(window, &paint);
      return 0;
    }
    case WM_ERASEBKGND: {
      auto record = Windows().Find(window);
      if (!record) return 0;
      const auto colour = ClassBrushColour(record->classBackground);
      RECT client{};
      if (!colour || !GetClientRect(window, &client)) return 0;
      return FillDc(reinterpret_cast<HDC>(wParam), client, *colour) ? 1 : 0;
    }
    case WM_MOUSEACTIVATE:
      // A child's parent has the first say, as a container may keep the clicks of its children.
      if (const HWND parent = GetParent(window)) {
        if (const LRESULT answer = SendMessageW(parent, message, wParam, lParam)) return answer;
      }
      return MA_ACTIVATE;
    default:
      return 0;
  }
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
  auto record = Windows().Find(window);
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (processId != nullptr) *processId = static_cast<DWORD>(getpid());
  return record->queue != nullptr ? record->queue->ThreadId() : 0;
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<ThreadQueue> queue;
  if (window == nullptr) {
    queue = ThreadQueue::ForThisThread();
  } else if (auto record = Windows().Find(window)) {
    queue = record->queue;
  }
  const MSG posted{window, message, wParam, lParam, 0, POINT{0, 0}};
  if (!queue || !queue->Post(posted)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto record = Windows().Find(window);
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return SendToWindow(record, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
  if (auto queue = ThreadQueue::ForThisThread()) queue->Quit(exitCode);
}

BOOL GetMessageW(MSG* message, HWND window, UINT first, UINT last) {
  if (message == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (!ValidFilter(window)) return -1;
  auto queue = ThreadQueue::ForThisThread();
  if (!queue) return -1;
  for (;;) {
    queue->RunHanded();
    queue->PumpNative();
    if (queue->TakePosted(window, first, last, true, message)) {
      return message->message == WM_QUIT ? 0 : TRUE;
    }
    queue->Sleep(INFINITE, {});
  }
}

BOOL PeekMessageW(MSG* message, HWND window, UINT first, UINT last, UINT removal) {
  if (message == nullptr || !ValidFilter(window)) return FALSE;
  auto queue = ThreadQueue::ForThisThread();
  if (!queue) return FALSE;
  queue->RunHanded();
  queue->PumpNative();
  return queue->TakePosted(window, first, last, (removal & PM_REMOVE) != 0, message) ? TRUE : FALSE;
}

BOOL TranslateMessage(const MSG* message) {
  if (message == nullptr) return FALSE;
  switch (message->message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
      BYTE state[256];
      GetKeyboardState(state);
      WCHAR chars[8];
      const UINT scan = HIWORD(message->lParam) & (0xFF | KF_EXTENDED);
      const int count = ToUnicode(static_cast<UINT>(message->wParam), scan, state, chars, 8, 0);
      const bool system = message->message == WM_SYSKEYDOWN;
      if (count < 0) {
        PostMessageW(message->hwnd, system ? WM_SYSDEADCHAR : WM_DEADCHAR, chars[0],
                     message->lParam);
      }
      for (int i = 0; i < count; ++i) {
        PostMessageW(message->hwnd, system ? WM_SYSCHAR : WM_CHAR, chars[i], message->lParam);
      }
      return TRUE;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP:
      return TRUE;
    default:
      return FALSE;
  }
}

LRESULT DispatchMessageW(const MSG* message) {
  if (message == nullptr || message->hwnd == nullptr) return 0;
  auto record = Windows().Find(message->hwnd);
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return CallProc(*record, message->message, message->wParam, message->lParam);
}
