// Named file mappings on the paging file, the way modules of one process share a small record.
//
// Names are visible within the calling process only. The system uses its named mappings to hand
// a raw socket handle between modules of one process; a record made by another process, or left
// by one that died, would carry a handle that means nothing here, so such a record can never be
// found. As on Windows, a mapping lives while a handle to it or a view of it remains, and a name
// is free again once the last of them is gone. Views of one mapping share their bytes.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0x000F001Fu

// Only the paging file (file == INVALID_HANDLE_VALUE) backs a mapping; a new mapping is zeroed.
// When the name exists, its mapping is returned with the last error ERROR_ALREADY_EXISTS (its
// size stays), otherwise the last error is ERROR_SUCCESS. A size of 0 fails with
// ERROR_INVALID_PARAMETER.
HANDLE CreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES attributes, DWORD protect,
                          DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCWSTR name);
// Null with ERROR_FILE_NOT_FOUND when no mapping has the name.
HANDLE OpenFileMappingW(DWORD desiredAccess, BOOL inheritHandle, LPCWSTR name);
// Offsets must be multiples of the 64 KiB allocation granularity (else ERROR_MAPPED_ALIGNMENT);
// 0 bytes maps from the offset to the end. Writing needs a PAGE_READWRITE mapping.
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                     SIZE_T bytes);
BOOL UnmapViewOfFile(LPCVOID baseAddress);

#pragma GCC visibility pop
