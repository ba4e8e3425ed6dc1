// Network events: WSA events are ordinary manual-reset events; a socket keeps its selection and
// an event the sockets selected into it, and a wait polls the events' descriptors together with
// the selected sockets'. As on Windows, the wait that sees a selected condition records it on
// the socket and signals the event; the enumeration takes the record.
#include <errno.h>
#include <poll.h>

#include <array>
#include <cstddef>
#include <memory_resource>
#include <vector>

#include "platform/event_object.h"
#include "platform/kernel.h"
#include "platform/socket_object.h"
#include "platform/winerror.h"
#include "platform/winsock.h"

namespace kwz_platform {
namespace {

constexpr long kSupportedEvents = FD_READ | FD_CLOSE;

std::shared_ptr<SocketObject> FindSocket(SOCKET s) {
  if (!WinsockStarted()) return nullptr;
  auto object = std::dynamic_pointer_cast<SocketObject>(LookupHandle(reinterpret_cast<HANDLE>(s)));
  if (!object) WSASetLastError(WSAENOTSOCK);
  return object;
}

std::shared_ptr<EventObject> FindEvent(WSAEVENT event) {
  return std::dynamic_pointer_cast<EventObject>(LookupHandle(event));
}

// The selected conditions a descriptor's poll result shows; the socket's own descriptor ([0])
// alone carries FD_CLOSE.
long ConditionsOf(short revents, bool own, long mask) {
  long conditions = 0;
  if (revents & POLLIN) conditions |= FD_READ;
  if (own && (revents & (POLLRDHUP | POLLHUP))) conditions |= FD_CLOSE;
  return conditions & mask;
}

// Which selected condition the socket has now.
long ConditionsNow(SocketObject* socket, long mask) {
  std::vector<std::shared_ptr<Descriptor>> descriptors = socket->Descriptors();
  std::vector<pollfd> polls;
  for (const auto& descriptor : descriptors)
    polls.push_back({descriptor->fd(), POLLIN | POLLRDHUP, 0});
  if (::poll(polls.data(), polls.size(), 0) <= 0) return 0;
  long conditions = 0;
  for (std::size_t i = 0; i < polls.size(); ++i)
    conditions |= ConditionsOf(polls[i].revents, i == 0, mask);
  return conditions;
}

// What one wait polls. Its lists live in a buffer on the waiting thread's stack, so the usual
// wait (two events, one socket) allocates nothing; a larger one spills to the heap.
class WaitSet {
 public:
  WaitSet()
      : memory_(arena_.data(), arena_.size()),
        events_(&memory_),
        sockets_(&memory_),
        keepOpen_(&memory_),
        polls_(&memory_),
        entries_(&memory_) {}

  // Room for count events with one socket each, the usual shape.
  void Reserve(std::size_t count) {
    events_.reserve(count);
    sockets_.reserve(count);
    keepOpen_.reserve(count);
    polls_.reserve(2 * count);
    entries_.reserve(2 * count);
  }

  bool AddEvent(WSAEVENT handle) {
    auto event = FindEvent(handle);
    if (!event) return false;
    const std::size_t index = events_.size();
    polls_.push_back({event->descriptor(), POLLIN, 0});
    entries_.push_back({index, nullptr, 0, false});
    const std::size_t first = sockets_.size();
    event->CollectSelected(&sockets_);
    for (std::size_t k = first; k < sockets_.size(); ++k) AddSocket(index, event.get(), k);
    events_.push_back(std::move(event));
    return true;
  }

  // Polls once; returns false with errno set when the poll failed.
  bool Poll(int timeoutMs) {
    for (const auto& event : events_) event->BeginPoll();
    const int ready = ::poll(polls_.data(), polls_.size(), timeoutMs);
    const int error = errno;
    for (const auto& event : events_) event->EndPoll();
    if (ready < 0) {
      errno = error;
      return error == EINTR;
    }
    if (ready > 0) SignalSocketConditions();
    return true;
  }

  // The lowest signalled index, consuming an auto-reset event; -1 when none is.
  int Acquire() {
    for (std::size_t i = 0; i < events_.size(); ++i) {
      if (events_[i]->TryAcquire()) return static_cast<int>(i);
    }
    return -1;
  }

 private:
  struct Entry {
    std::size_t event;     // index of the event the entry signals
    SocketObject* socket;  // null: the event's own descriptor
    long mask;
    bool own;  // the socket's own descriptor rather than a companion
  };

  void AddSocket(std::size_t index, const EventObject* event, std::size_t k) {
    SocketObject* socket = sockets_[k].get();
    const long mask = socket->SelectedMaskFor(event);  // 0: the selection has moved on
    if (mask == 0) return;
    const std::size_t first = keepOpen_.size();
    socket->AppendDescriptors(&keepOpen_);
    for (std::size_t d = first; d < keepOpen_.size(); ++d) {
      short events = 0;
      if (mask & FD_READ) events |= POLLIN;
      if (d == first && (mask & FD_CLOSE)) events |= POLLRDHUP;
      if (events == 0) continue;
      polls_.push_back({keepOpen_[d]->fd(), events, 0});
      entries_.push_back({index, socket, mask, d == first});
    }
  }

  // A socket's condition signals its event, which then stays signalled until it is reset, as
  // the network layer of Windows leaves it.
  void SignalSocketConditions() {
    for (std::size_t p = 0; p < polls_.size(); ++p) {
      const Entry& entry = entries_[p];
      if (entry.socket == nullptr || polls_[p].revents == 0) continue;
      const long conditions = ConditionsOf(polls_[p].revents, entry.own, entry.mask);
      if (conditions == 0) {
        polls_[p].fd = -1;  // an error condition nobody selected: stop polling it
        continue;
      }
      entry.socket->Record(conditions);
      events_[entry.event]->Set();
    }
  }

  alignas(std::max_align_t) std::array<std::byte, 2048> arena_;
  std::pmr::monotonic_buffer_resource memory_;
  std::pmr::vector<std::shared_ptr<EventObject>> events_;
  std::pmr::vector<std::shared_ptr<SocketObject>> sockets_;
  std::pmr::vector<std::shared_ptr<Descriptor>> keepOpen_;  // open until the wait ends
  std::pmr::vector<pollfd> polls_;
  std::pmr::vector<Entry> entries_;  // one per poll entry
};

}  // namespace
}  // namespace kwz_platform

using kwz_platform::EventObject;

WSAEVENT WSACreateEvent() {
  if (!kwz_platform::WinsockStarted()) return WSA_INVALID_EVENT;
  auto event = EventObject::Create(true, false);
  if (!event) {
    WSASetLastError(WSAENOBUFS);
    return WSA_INVALID_EVENT;
  }
  return kwz_platform::InsertHandle(std::move(event));
}

BOOL WSACloseEvent(WSAEVENT event) {
  if (!kwz_platform::LookupHandleAs<EventObject>(event) || !kwz_platform::RemoveHandle(event)) {
    WSASetLastError(WSA_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL WSASetEvent(WSAEVENT event) {
  return SetEvent(event);
}

BOOL WSAResetEvent(WSAEVENT event) {
  return ResetEvent(event);
}

int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents) {
  auto socket = kwz_platform::FindSocket(s);
  if (!socket) return SOCKET_ERROR;
  std::shared_ptr<EventObject> target;
  if (networkEvents != 0) {
    target = std::dynamic_pointer_cast<EventObject>(kwz_platform::LookupHandle(event));
    if (!target || (networkEvents & ~kwz_platform::kSupportedEvents) != 0) {
      WSASetLastError(WSAEINVAL);
      return SOCKET_ERROR;
    }
  }
  if (int error = socket->SetNonBlocking(true)) {
    WSASetLastError(error);
    return SOCKET_ERROR;
  }
  // An entry left behind in an event by a racing selection is filtered by the wait, which asks
  // the socket where its selection is.
  auto previous = socket->SelectedEvent();
  if (previous && previous != target) previous->RemoveSelected(socket.get());
  socket->Select(target, networkEvents);
  if (target && target != previous) target->AddSelected(socket);
  return 0;
}

DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeout,
                               BOOL alertable) {
  if (count == 0 || count > WSA_MAXIMUM_WAIT_EVENTS || events == nullptr || waitAll || alertable) {
    WSASetLastError(WSA_INVALID_PARAMETER);
    return WSA_WAIT_FAILED;
  }
  kwz_platform::WaitSet set;
  set.Reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    if (!set.AddEvent(events[i])) {
      WSASetLastError(WSA_INVALID_HANDLE);
      return WSA_WAIT_FAILED;
    }
  }
  kwz_platform::WaitDeadline deadline(timeout);
  for (;;) {
    if (!set.Poll(deadline.RemainingForPoll())) {
      WSASetLastError(kwz_platform::WsaErrorFromErrno(errno));
      return WSA_WAIT_FAILED;
    }
    // The lowest signalled index wins; only that event is consumed.
    const int signalled = set.Acquire();
    if (signalled >= 0) return WSA_WAIT_EVENT_0 + static_cast<DWORD>(signalled);
    if (deadline.Expired() || deadline.RemainingForPoll() == 0) return WSA_WAIT_TIMEOUT;
  }
}

int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, LPWSANETWORKEVENTS networkEvents) {
  auto socket = kwz_platform::FindSocket(s);
  if (!socket) return SOCKET_ERROR;
  if (networkEvents == nullptr) {
    WSASetLastError(WSAEFAULT);
    return SOCKET_ERROR;
  }
  if (event != nullptr) {
    auto object = kwz_platform::FindEvent(event);
    if (!object) {
      WSASetLastError(WSA_INVALID_HANDLE);
      return SOCKET_ERROR;
    }
    // Reset before taking the record: a condition recorded after it signals the event again.
    object->Reset();
  }
  const long mask = socket->SelectedMask();
  long recorded = socket->TakeRecorded() & mask;
  // Nothing recorded (no wait saw a condition since the last enumeration): ask the socket.
  if (recorded == 0) recorded = kwz_platform::ConditionsNow(socket.get(), mask);
  *networkEvents = WSANETWORKEVENTS{};
  networkEvents->lNetworkEvents = recorded;
  return 0;
}
