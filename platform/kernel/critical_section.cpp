#include <new>

#include "platform/kernel.h"

namespace {
std::recursive_mutex& MutexOf(LPCRITICAL_SECTION section) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(section->storage));
}
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION section) {
  new (section->storage) std::recursive_mutex();
}

void DeleteCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section).~recursive_mutex();
}

void EnterCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section).lock();
}

void LeaveCriticalSection(LPCRITICAL_SECTION section) {
  MutexOf(section).unlock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section) {
  return MutexOf(section).try_lock() ? TRUE : FALSE;
}
