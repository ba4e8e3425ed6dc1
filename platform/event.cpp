#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/event_object.h"
#include "platform/kernel.h"
#include "platform/winerror.h"

// ThreadSanitizer does not see the ordering that an eventfd gives, so tell it: whatever a thread
// did before Set happens before whatever a waiter does after its wait succeeds.
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define KWZ_TSAN_RELEASE(address) __tsan_release(address)
#define KWZ_TSAN_ACQUIRE(address) __tsan_acquire(address)
#else
#define KWZ_TSAN_RELEASE(address) ((void)(address))
#define KWZ_TSAN_ACQUIRE(address) ((void)(address))
#endif

namespace kwz_platform {

std::shared_ptr<EventObject> EventObject::Create(bool manualReset, bool initialState) {
  int fd = eventfd(initialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES
                                                    : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return std::shared_ptr<EventObject>(new EventObject(fd, manualReset));
}

EventObject::~EventObject() {
  close(fd_);
}

void EventObject::Set() {
  KWZ_TSAN_RELEASE(this);
  std::uint64_t one = 1;
  // The counter saturates far beyond anything reachable; a failed write means it is set.
  ssize_t written = write(fd_, &one, sizeof one);
  (void)written;
}

void EventObject::Reset() {
  std::uint64_t count;
  ssize_t got = read(fd_, &count, sizeof count);  // non-blocking: drains or finds it clear
  (void)got;
}

bool EventObject::AcquireAfterPoll(bool polledSignalled) {
  if (!manualReset_) return TryAcquire();
  if (polledSignalled) KWZ_TSAN_ACQUIRE(this);
  return polledSignalled;
}

bool EventObject::TryAcquire() {
  bool acquired;
  if (manualReset_) {
    pollfd p{fd_, POLLIN, 0};
    acquired = poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
  } else {
    std::uint64_t count;
    acquired = read(fd_, &count, sizeof count) == sizeof count;
  }
  if (acquired) KWZ_TSAN_ACQUIRE(this);
  return acquired;
}

DWORD EventObject::Wait(DWORD milliseconds) {
  WaitDeadline deadline(milliseconds);
  for (;;) {
    if (TryAcquire()) return WAIT_OBJECT_0;
    int remaining = deadline.RemainingForPoll();
    if (remaining == 0) return WAIT_TIMEOUT;
    pollfd p{fd_, POLLIN, 0};
    int ready = poll(&p, 1, remaining);
    if (ready < 0 && errno != EINTR) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    // Readable, interrupted or timed out: test again, another waiter may have won the signal.
  }
}

}  // namespace kwz_platform

using kwz_platform::EventObject;

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  if (name != nullptr) {
    // Named events are not part of the subset: nothing in the system shares one.
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto event = EventObject::Create(manualReset != FALSE, initialState != FALSE);
  if (!event) return nullptr;
  SetLastError(ERROR_SUCCESS);
  return kwz_platform::InsertHandle(std::move(event));
}

BOOL SetEvent(HANDLE handle) {
  auto event = kwz_platform::LookupHandleAs<EventObject>(handle);
  if (!event) return FALSE;
  event->Set();
  return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
  auto event = kwz_platform::LookupHandleAs<EventObject>(handle);
  if (!event) return FALSE;
  event->Reset();
  return TRUE;
}
