#include "platform/com.h"

#include "platform/winerror.h"

namespace {
thread_local int t_initCount = 0;
}

HRESULT CoInitialize(void*) {
  return t_initCount++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}
