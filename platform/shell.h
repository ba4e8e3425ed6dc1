// The shell's known folders, as far as the system asks for them.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

#define CSIDL_COMMON_APPDATA 0x0023
#define CSIDL_FLAG_CREATE 0x8000
#define SHGFP_TYPE_CURRENT 0

// CSIDL_COMMON_APPDATA is the machine-wide application-data folder: the folder that the
// environment variable ProgramData names, or /var/lib. The folder is never created. Other
// CSIDLs give E_INVALIDARG; a path of MAX_PATH characters or more gives E_FAIL. path must hold
// MAX_PATH characters.
HRESULT SHGetFolderPathA(HWND owner, int csidl, HANDLE token, DWORD flags, char* path);
HRESULT SHGetFolderPathW(HWND owner, int csidl, HANDLE token, DWORD flags, WCHAR* path);

#pragma GCC visibility pop
