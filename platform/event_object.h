// Internal to platform/: the event kernel object, also used by the socket layer's waits.
#pragma once

#include "platform/handle_table.h"

namespace kwz_platform {

// An eventfd whose counter is non-zero while the event is signalled. A manual-reset event stays
// signalled until Reset; an auto-reset event is consumed by the one wait that reads the counter,
// so of several waiters exactly one wakes per Set.
class EventObject : public KernelObject {
 public:
  static std::shared_ptr<EventObject> Create(bool manualReset, bool initialState);
  ~EventObject() override;

  void Set();
  void Reset();
  // Consumes the signal of an auto-reset event; reports a manual-reset event's state.
  bool TryAcquire();
  // The same after a poll that covered the descriptor: a manual-reset event is signalled when
  // that poll found it so (asking again would cost a call per event and wait); an auto-reset
  // event's signal still has to be won against other waiters.
  bool AcquireAfterPoll(bool polledSignalled);
  bool manual_reset() const { return manualReset_; }

  DWORD Wait(DWORD milliseconds) override;
  int PollDescriptor() const override { return fd_; }

 private:
  EventObject(int fd, bool manualReset) : fd_(fd), manualReset_(manualReset) {}

  const int fd_;
  const bool manualReset_;
};

}  // namespace kwz_platform
