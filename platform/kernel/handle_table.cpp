#include "kernel/handle_table.h"

#include <time.h>

#include <mutex>
#include <unordered_map>

#include "platform/kernel.h"
#include "platform/winerror.h"

namespace kwz_platform {
namespace {

struct HandleTable {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
  std::uintptr_t next = 0x1000;
};

HandleTable& Table() {
  // Never destroyed: handles may be closed by objects that outlive static destruction.
  static HandleTable* table = new HandleTable;
  return *table;
}

std::int64_t MonotonicNs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  std::uintptr_t value = table.next;
  table.next += 4;  // multiples of 4, as Windows hands them out, and never reused
  table.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == table.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return it->second;
}

bool RemoveHandle(HANDLE handle) {
  std::shared_ptr<KernelObject> released;  // destroyed outside the table lock
  HandleTable& table = Table();
  std::lock_guard<std::mutex> guard(table.lock);
  auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == table.objects.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  released = std::move(it->second);
  table.objects.erase(it);
  return true;
}

void SetInvalidHandleError() {
  SetLastError(ERROR_INVALID_HANDLE);
}

WaitDeadline::WaitDeadline(DWORD milliseconds)
    : infinite_(milliseconds == INFINITE),
      deadlineNs_(MonotonicNs() + static_cast<std::int64_t>(milliseconds) * 1000000) {}

int WaitDeadline::RemainingForPoll() const {
  if (infinite_) return -1;
  std::int64_t left = deadlineNs_ - MonotonicNs();
  if (left <= 0) return 0;
  // Round up so that a wait never ends before its time-out.
  std::int64_t ms = (left + 999999) / 1000000;
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

bool WaitDeadline::Expired() const {
  return !infinite_ && MonotonicNs() >= deadlineNs_;
}

}  // namespace kwz_platform

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastError() {
  return t_lastError;
}
void SetLastError(DWORD error) {
  t_lastError = error;
}

BOOL CloseHandle(HANDLE handle) {
  return kwz_platform::RemoveHandle(handle) ? TRUE : FALSE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto object = kwz_platform::LookupHandle(handle);
  if (!object) return WAIT_FAILED;
  return object->Wait(milliseconds);
}

LONG InterlockedIncrement(volatile LONG* value) {
  return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG InterlockedDecrement(volatile LONG* value) {
  return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
