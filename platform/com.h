// COM library initialisation per thread. The rest of COM arrives with the control.
#pragma once

#include "platform/wintypes.h"

// S_OK for the first initialisation of a thread, S_FALSE when it is already initialised; each
// successful call must be balanced by CoUninitialize.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
