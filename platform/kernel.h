// Kernel objects and calls of the Win32 subset: handles, events, mutexes, threads, critical
// sections, waits, last-error, sleeping.
//
// A HANDLE names an entry of a process-wide handle table, never a raw pointer, so a closed or
// bogus handle fails with ERROR_INVALID_HANDLE instead of touching freed memory. Handle values
// are multiples of 4 and are not reused within a process.
#pragma once

#include <mutex>

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

DWORD GetLastError();
void SetLastError(DWORD error);

BOOL CloseHandle(HANDLE handle);

// Wait results.
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

// Waits on an event, a thread (signalled when it has ended) or a mutex (acquired on success).
// A mutex whose owner died while holding it is acquired with WAIT_ABANDONED.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Events. Each is backed by a pollable descriptor, so a wait can cover an event and a socket.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// Named mutexes, shared by every process of the calling user (as a session's names are on
// Windows). They live in shared memory, are recursive for their owning thread, and become
// WAIT_ABANDONED (never stuck) when the owning thread or process ends while holding them.
// CreateMutexA reports ERROR_ALREADY_EXISTS through GetLastError when the name exists, and
// fails with ERROR_ACCESS_DENIED when another user holds an object under the name.
#define SYNCHRONIZE 0x00100000u
#define MUTEX_ALL_ACCESS 0x001F0001u
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCSTR name);
HANDLE OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
BOOL ReleaseMutex(HANDLE mutex);

// Threads, as the C run-time creates them. The handle is signalled when the thread ends.
using _beginthreadex_proc_type = unsigned (*)(void*);
#define CREATE_SUSPENDED 0x00000004u
#define STILL_ACTIVE 259u
// Returns the thread handle as an integer, or 0 on failure. CREATE_SUSPENDED is not supported
// (the system never asks for it) and fails with ERROR_INVALID_PARAMETER.
UINT_PTR _beginthreadex(void* security, unsigned stackSize, _beginthreadex_proc_type start,
                        void* argument, unsigned initFlag, unsigned* threadId);
// Ends the calling thread with the given exit code. Objects with automatic storage on the
// thread's stack are destroyed on the way out (unlike on Windows).
[[noreturn]] void _endthreadex(unsigned exitCode);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
DWORD GetCurrentThreadId();
// Linux cannot kill one thread of a process, so the thread is parked for good instead: a signal
// whose handler never returns, so that it executes no further instruction of the program
// whatever it was doing (computing, waiting on a lock, blocked in a system call). What it
// holds stays held and its stack is not freed, as on Windows. Returns once the thread is
// parked (or, for one held in an uninterruptible kernel wait, after a second, the signal
// pending); the handle reports the thread as ended with the given exit code from then on.
BOOL TerminateThread(HANDLE thread, DWORD exitCode);

void Sleep(DWORD milliseconds);

// Critical sections are recursive for their owner, as on Windows.
struct CRITICAL_SECTION {
  alignas(std::recursive_mutex) unsigned char storage[sizeof(std::recursive_mutex)];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);

LONG InterlockedIncrement(volatile LONG* value);
LONG InterlockedDecrement(volatile LONG* value);

#pragma GCC visibility pop
