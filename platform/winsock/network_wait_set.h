// Internal to platform/: what one WSAWaitForMultipleEvents polls, the events' descriptors
// together with those of the sockets selected into them. Its lists live in a buffer inside the
// object, on the waiting thread's stack, so the usual wait (two events, one socket) allocates
// nothing; a larger one spills to the heap. One waiting thread uses it for one call; it holds
// the events, sockets and descriptors it polls, so another thread closing them meanwhile is safe.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <poll.h>

#include <array>
#include <cstddef>
#include <memory>
#include <memory_resource>
#include <vector>

#include "platform/winsock.h"

#include "kernel/event_object.h"
#include "winsock/socket_object.h"

namespace kwz_platform {

// The selected conditions a descriptor's poll result shows; the socket's own descriptor alone
// (not a companion) carries FD_CLOSE.
long ConditionsOf(short revents, bool own, long mask);

class NetworkWaitSet {
 public:
  NetworkWaitSet();
  NetworkWaitSet(const NetworkWaitSet&) = delete;
  NetworkWaitSet& operator=(const NetworkWaitSet&) = delete;

  // Room for count events with one socket each, the usual shape.
  void Reserve(std::size_t count);
  // False when the handle names no event.
  bool AddEvent(WSAEVENT handle);
  // Polls once; a socket's condition is recorded on it and signals its event. False, with errno
  // set, when the poll failed.
  bool Poll(int timeoutMs);
  // Records FD_READ on every selected socket that holds datagrams already taken from its
  // descriptor and signals its event, as a poll would; those sockets need no poll.
  void SignalQueuedSockets();
  // The lowest signalled index, consuming an auto-reset event; -1 when none is.
  int Acquire();
  // Acquire without a poll, for the indices whose state is all in memory: the lowest signalled
  // event that no socket selected into an event at or before it could outrank. -1 when the
  // answer needs a poll.
  int AcquireWithoutPoll();

 private:
  struct Entry {
    std::size_t event;     // index of the event the entry signals
    SocketObject* socket;  // null: the event's own descriptor
    long mask;
    bool own;     // the socket's own descriptor rather than a companion
    bool queued;  // the socket holds datagrams already taken: known readable without a poll
  };

  void AddSocket(std::size_t index, const EventObject* event, std::size_t k);
  void SignalSocketConditions();

  alignas(std::max_align_t) std::array<std::byte, 2048> arena_;
  std::pmr::monotonic_buffer_resource memory_;
  std::pmr::vector<std::shared_ptr<EventObject>> events_;
  std::pmr::vector<std::shared_ptr<SocketObject>> sockets_;
  std::pmr::vector<std::shared_ptr<Descriptor>> keepOpen_;  // open until the wait ends
  std::pmr::vector<pollfd> polls_;
  std::pmr::vector<Entry> entries_;  // one per poll entry
};

}  // namespace kwz_platform
