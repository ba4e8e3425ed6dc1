// BeginPaint and EndPaint over the window DCs of platform/gdi.h.
#include <cstring>

#include "platform/kernel.h"
#include "platform/winerror.h"
#include "platform/winuser.h"

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  if (paint == nullptr || !IsWindow(window)) {
    SetLastError(paint == nullptr ? ERROR_INVALID_PARAMETER : ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  std::memset(paint, 0, sizeof *paint);
  GetClientRect(window, &paint->rcPaint);
  // No erase was done here, so the owner is told that the background still needs one.
  paint->fErase = TRUE;
  paint->hdc = GetDC(window);
  return paint->hdc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  if (paint == nullptr) return FALSE;
  if (paint->hdc != nullptr) ReleaseDC(window, paint->hdc);
  return TRUE;
}
