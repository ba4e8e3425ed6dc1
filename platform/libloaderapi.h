// Modules (shared objects) and their resources, as the loader and resource functions of
// Windows give them.
//
// A module's resources live in its file, in the section ".kwz_rsrc" (the PE file's .rsrc
// counterpart), as entries that platform/resource_section.h lays out at compile time; they
// are read from the file, so they can be had from a module that is not loaded.
//
// Threads: any. An HMODULE from LoadLibraryW holds one load count, given back by FreeLibrary.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

using FARPROC = void (*)();
using HRSRC = struct HRSRC__*;
using HGLOBAL = void*;

// Loads the shared object at path (symbols kept local to it); null with the last error set
// to ERROR_MOD_NOT_FOUND when it cannot be loaded. A bare file name is looked for in the
// program's folder, then the current folder, then the system's library search.
HMODULE LoadLibraryW(LPCWSTR path);
BOOL FreeLibrary(HMODULE module);
// Null with ERROR_PROC_NOT_FOUND when the module does not export name.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x2u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x4u
// With FROM_ADDRESS, the module holding the address name points at (the only form supported).
BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module);
// The module's full path; a null module is the program. Returns the characters copied (without
// the NUL), size when the path was cut (ERROR_INSUFFICIENT_BUFFER), 0 on failure.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size);

// Resource types and names are given as MAKEINTRESOURCEW(id) or as text ("REGISTRY").
#ifndef MAKEINTRESOURCEW
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#endif
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)
#define RT_BITMAP MAKEINTRESOURCEW(2)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_VERSION MAKEINTRESOURCEW(16)

// The resource handle stays valid while the module is loaded; LoadResource and LockResource
// give its bytes (owned by the platform; not to be freed).
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
// The string resource id of the module, copied into buffer (cut to fit, NUL-terminated);
// returns its length, 0 when absent.
int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax);

// For files: a resource of the module file at path, read without loading it. *size is set to
// the entry's size, and its bytes are copied to data when data is not null and *size (on
// entry) is large enough; false when the file or the entry is absent or data is too small.
namespace kwz_platform {
bool ReadFileResource(const char* path, LPCWSTR name, LPCWSTR type, void* data, DWORD* size);
}

#pragma GCC visibility pop
