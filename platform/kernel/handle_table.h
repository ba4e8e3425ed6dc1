// Internal to platform/: the kernel objects behind HANDLE values and the process-wide table
// that maps handles to them. Other folders use only the calls of kernel.h.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <memory>

#include "platform/wintypes.h"

namespace kwz_platform {

// A waitable kernel object. Objects are shared: a wait in progress keeps its object alive even
// when another thread closes the last handle to it.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Returns WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT or WAIT_FAILED (with the last error set).
  virtual DWORD Wait(DWORD milliseconds) = 0;
  // A descriptor that polls readable while the object is signalled, or -1 when there is none.
  virtual int PollDescriptor() const { return -1; }
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
// Null with ERROR_INVALID_HANDLE when the handle names nothing.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);

void SetInvalidHandleError();

template <typename T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
  auto object = std::dynamic_pointer_cast<T>(LookupHandle(handle));
  if (!object) SetInvalidHandleError();
  return object;
}

// Milliseconds left until a deadline taken from a time-out, for poll(2): -1 for INFINITE.
class WaitDeadline {
 public:
  explicit WaitDeadline(DWORD milliseconds);
  int RemainingForPoll() const;
  bool Expired() const;

 private:
  bool infinite_;
  std::int64_t deadlineNs_;
};

}  // namespace kwz_platform
