// Internal to platform/: the event kernel object, also used by the socket layer's waits.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <memory>
#include <memory_resource>
#include <mutex>
#include <vector>

#include "kernel/handle_table.h"

namespace kwz_platform {

class SocketObject;

// An event whose state is kept in user space and mirrored into an eventfd (counter non-zero while
// signalled) for the waits that poll it. A manual-reset event stays signalled until Reset; an
// auto-reset event is consumed by the one wait that acquires it, so of several waiters exactly
// one wakes per Set.
//
// The mirror costs a write on Set and a read on Reset, which the network wait would pay for every
// datagram. So the descriptor is written only while someone may be polling it: a wait of this
// layer announces its poll (BeginPoll/EndPoll), and once the descriptor has been handed out
// through PollDescriptor, whose callers poll it unannounced, every Set writes it from then on.
//
// Every method may be called from any thread; the object lives as long as its last reference
// (the handle table's and those of waits in progress).
class EventObject : public KernelObject {
 public:
  static std::shared_ptr<EventObject> Create(bool manualReset, bool initialState);
  ~EventObject() override;

  void Set();
  void Reset();
  // Consumes the signal of an auto-reset event; reports a manual-reset event's state.
  bool TryAcquire();
  bool manual_reset() const { return manualReset_; }

  DWORD Wait(DWORD milliseconds) override;
  // Mirrors every later Set into the descriptor, for pollers that do not announce themselves.
  int PollDescriptor() const override;

  // Brackets a poll of the descriptor by a wait of this layer: from BeginPoll to EndPoll the
  // descriptor polls readable exactly while the event is signalled.
  void BeginPoll();
  void EndPoll();
  int descriptor() const { return fd_; }

  // The sockets whose network events were selected into this event (WSAEventSelect). Entries
  // of closed sockets expire and are pruned here; a socket that has moved its selection to
  // another event is filtered by the caller, which asks the socket.
  void AddSelected(const std::shared_ptr<SocketObject>& socket);
  void RemoveSelected(const SocketObject* socket);
  void CollectSelected(std::pmr::vector<std::shared_ptr<SocketObject>>* out);

 private:
  EventObject(int fd, bool manualReset, bool initialState)
      : fd_(fd), manualReset_(manualReset), signalled_(initialState), written_(initialState) {}

  void WriteLocked() const;  // makes the descriptor poll readable
  void DrainLocked() const;  // makes it poll quiet again

  const int fd_;
  const bool manualReset_;
  mutable std::mutex lock_;
  // All guarded by lock_. While exported_ or pollers_ > 0, written_ == signalled_; otherwise
  // written_ implies signalled_ (a Set nobody polls for is left unwritten).
  bool signalled_;
  mutable bool written_;  // the descriptor's counter is non-zero
  mutable bool exported_ = false;
  int pollers_ = 0;
  std::vector<std::weak_ptr<SocketObject>> selected_;  // guarded by lock_
};

}  // namespace kwz_platform
