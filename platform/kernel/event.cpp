#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

#include "platform/kernel.h"
#include "platform/winerror.h"

#include "kernel/event_object.h"

namespace kwz_platform {

std::shared_ptr<EventObject> EventObject::Create(bool manualReset, bool initialState) {
  int fd = eventfd(initialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES
                                                    : ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return std::shared_ptr<EventObject>(new EventObject(fd, manualReset, initialState));
}

EventObject::~EventObject() {
  close(fd_);
}

void EventObject::WriteLocked() const {
  std::uint64_t one = 1;
  // The counter saturates far beyond anything reachable; a failed write means it is set.
  ssize_t written = write(fd_, &one, sizeof one);
  (void)written;
  written_ = true;
}

void EventObject::DrainLocked() const {
  std::uint64_t count;
  ssize_t got = read(fd_, &count, sizeof count);  // non-blocking: drains or finds it clear
  (void)got;
  written_ = false;
}

void EventObject::Set() {
  std::lock_guard<std::mutex> guard(lock_);
  signalled_ = true;
  if (!written_ && (exported_ || pollers_ > 0)) WriteLocked();
}

void EventObject::Reset() {
  std::lock_guard<std::mutex> guard(lock_);
  signalled_ = false;
  if (written_) DrainLocked();
}

bool EventObject::TryAcquire() {
  std::lock_guard<std::mutex> guard(lock_);
  if (!signalled_) return false;
  if (!manualReset_) {
    signalled_ = false;
    if (written_) DrainLocked();
  }
  return true;
}

int EventObject::PollDescriptor() const {
  std::lock_guard<std::mutex> guard(lock_);
  exported_ = true;
  if (signalled_ && !written_) WriteLocked();
  return fd_;
}

void EventObject::BeginPoll() {
  std::lock_guard<std::mutex> guard(lock_);
  ++pollers_;
  if (signalled_ && !written_) WriteLocked();
}

void EventObject::EndPoll() {
  std::lock_guard<std::mutex> guard(lock_);
  --pollers_;
}

void EventObject::AddSelected(const std::shared_ptr<SocketObject>& socket) {
  std::lock_guard<std::mutex> guard(lock_);
  selected_.push_back(socket);
}

void EventObject::RemoveSelected(const SocketObject* socket) {
  std::lock_guard<std::mutex> guard(lock_);
  std::erase_if(selected_, [&](const std::weak_ptr<SocketObject>& entry) {
    auto held = entry.lock();
    return !held || held.get() == socket;
  });
}

void EventObject::CollectSelected(std::pmr::vector<std::shared_ptr<SocketObject>>* out) {
  std::lock_guard<std::mutex> guard(lock_);
  std::erase_if(selected_, [&](const std::weak_ptr<SocketObject>& entry) {
    auto held = entry.lock();
    if (!held) return true;
    out->push_back(std::move(held));
    return false;
  });
}

DWORD EventObject::Wait(DWORD milliseconds) {
  WaitDeadline deadline(milliseconds);
  for (;;) {
    if (TryAcquire()) return WAIT_OBJECT_0;
    int remaining = deadline.RemainingForPoll();
    if (remaining == 0) return WAIT_TIMEOUT;
    BeginPoll();
    pollfd p{fd_, POLLIN, 0};
    int ready = poll(&p, 1, remaining);
    const int error = errno;
    EndPoll();
    if (ready < 0 && error != EINTR) {
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
