// Version records of module files (GetFileVersionInfo / VerQueryValue).
//
// A module's record is its resource RT_VERSION 1: lines "Name=Value" in UTF-8, the string
// fields of the record (FileDescription, FileVersion "a.b.c.d", ProductName, ...), kept as text
// because the binary VS_VERSIONINFO tree would only be rebuilt to be read back here. The block
// that GetFileVersionInfoW fills holds them as UTF-16 with the fixed part computed from
// FileVersion and ProductVersion.
//
// Threads: any; the block is the caller's.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

struct VS_FIXEDFILEINFO {
  DWORD dwSignature;  // 0xFEEF04BD
  DWORD dwStrucVersion;
  DWORD dwFileVersionMS;
  DWORD dwFileVersionLS;
  DWORD dwProductVersionMS;
  DWORD dwProductVersionLS;
  DWORD dwFileFlagsMask;
  DWORD dwFileFlags;
  DWORD dwFileOS;
  DWORD dwFileType;
  DWORD dwFileSubtype;
  DWORD dwFileDateMS;
  DWORD dwFileDateLS;
};

#define VFT_DLL 0x2u
#define VOS_NT_WINDOWS32 0x40004u

// 0 (ERROR_RESOURCE_TYPE_NOT_FOUND) when the file has no version record.
DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, DWORD* handle);
BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD handle, DWORD length, LPVOID data);
// subBlock: "\" for the VS_FIXEDFILEINFO, "\StringFileInfo\040904B0\<Name>" for a string field
// (the language and code page of the record: US English, Unicode), "\VarFileInfo\Translation"
// for that pair. *buffer points into block; *length counts characters for strings, bytes else.
BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length);

#pragma GCC visibility pop
