// BeginPaint and EndPaint over the window DCs of platform/gdi.h.
#include <cstring>

#include "platform/kernel.h"
#include "platform/winerror.h"
#include "platform/winuser.h"

#include "gdi/objects.h"
#include "user/window_calls.h"

using namespace kwz_platform;

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  auto record = Windows().Find(window);
  if (paint == nullptr || !record) {
    SetLastError(paint == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  std::memset(paint, 0, sizeof *paint);
  bool erase = false;
  TakeUpdate(*record, &paint->rcPaint, &erase);
  paint->hdc = GetDC(window);
  if (erase && paint->hdc != nullptr) {
    paint->fErase =
        SendMessageW(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(paint->hdc), 0) ? FALSE : TRUE;
  }
  return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  if (paint == nullptr) return FALSE;
  if (paint->hdc != nullptr) ReleaseDC(window, paint->hdc);
  return TRUE;
}
