#include "platform/kernel.h"
#include "platform/winerror.h"
#include "platform/winnls.h"

namespace {
thread_local LCID t_locale = 0x0409;
}

LCID GetThreadLocale() {
  return t_locale;
}

BOOL SetThreadLocale(LCID locale) {
  if (locale == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  t_locale = locale;
  return TRUE;
}
