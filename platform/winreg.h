// The registry subset that registration and activation use: keys with default and named
// string values, in two persistent stores, the machine-wide one (HKEY_LOCAL_MACHINE) and the
// current user's (HKEY_CURRENT_USER). HKEY_CLASSES_ROOT is the merged view of
// HKLM\Software\Classes and HKCU\Software\Classes: a key present in the user's store is read
// from there, any other from the machine's; writes go to the store that holds the key (or its
// nearest existing parent), the machine's when neither does.
//
// Stores live in text files: the machine's in "kwz\machine.reg" below the common
// application-data folder (platform/shell.h: $ProgramData, else /var/lib), the user's in
// "kwz/user.reg" below $XDG_DATA_HOME (else ~/.local/share). Each change rewrites its file
// through a new file and a rename under a lock file, so a crash leaves either the old or the
// new store and other processes see whole changes. A store file that cannot be read gives
// ERROR_BADDB (with the reason on the debugger output) and is never overwritten.
//
// Threads: any; each call is atomic against other threads and processes. Handles are owned by
// the caller and closed with RegCloseKey; predefined handles need no closing.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

using HKEY = struct HKEY__*;
using PHKEY = HKEY*;
using LSTATUS = LONG;
using REGSAM = DWORD;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u)))

#define REG_NONE 0u
#define REG_SZ 1u

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

// Access masks are accepted and not enforced. Key names are case-insensitive and keep the
// case they were created with; '\' separates levels.
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                        REGSAM access, void* security, PHKEY result, DWORD* disposition);
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegCloseKey(HKEY key);

// REG_SZ only (ERROR_NOT_SUPPORTED for other types); data holds UTF-16 text and cbData counts
// its bytes, the terminating NUL included or not. A null or empty name is the default value.
LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD cbData);
// The value's text with its NUL; ERROR_MORE_DATA with *cbData set to the size needed when data
// is too small; data null asks for the size alone.
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* cbData);
LSTATUS RegDeleteValueW(HKEY key, LPCWSTR valueName);

// ERROR_ACCESS_DENIED when the key has subkeys, as on Windows.
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);
// The key and everything below it; with a null subKey, everything below key.
LSTATUS RegDeleteTreeW(HKEY key, LPCWSTR subKey);

// Subkeys in name order; ERROR_NO_MORE_ITEMS past the last, ERROR_MORE_DATA when *cchName
// (characters, the NUL included) is too small.
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* cchName, DWORD* reserved,
                      LPWSTR keyClass, DWORD* cchClass, void* lastWriteTime);

#pragma GCC visibility pop
