// Network events: WSA events are ordinary manual-reset events; a socket keeps its selection and
// an event the sockets selected into it, and a wait polls the events' descriptors together with
// the selected sockets'. As on Windows, the wait that sees a selected condition records it on
// the socket and signals the event; the enumeration takes the record.
#include <errno.h>
#include <poll.h>

#include <vector>

#include "platform/kernel.h"
#include "platform/winerror.h"
#include "platform/winsock.h"

#include "kernel/event_object.h"
#include "winsock/network_wait_set.h"
#include "winsock/socket_object.h"

namespace kwz_platform {
namespace {

constexpr long kSupportedEvents = FD_READ | FD_CLOSE;

std::shared_ptr<SocketObject> FindSocket(SOCKET s) {
  if (!WinsockStarted()) return nullptr;
  auto object = std::dynamic_pointer_cast<SocketObject>(LookupHandle(reinterpret_cast<HANDLE>(s)));
  if (!object) WSASetLastError(WSAENOTSOCK);
  return object;
}

// Which selected condition the socket has now.
long ConditionsNow(SocketObject* socket, long mask) {
  if ((mask & FD_READ) != 0 && socket->HasQueued()) return FD_READ;
  std::pmr::vector<std::shared_ptr<Descriptor>> descriptors;
  socket->AppendDescriptors(&descriptors);
  std::vector<pollfd> polls;
  for (const auto& descriptor : descriptors)
    polls.push_back({descriptor->fd(), POLLIN | POLLRDHUP, 0});
  if (::poll(polls.data(), polls.size(), 0) <= 0) return 0;
  long conditions = 0;
  for (std::size_t i = 0; i < polls.size(); ++i)
    conditions |= ConditionsOf(polls[i].revents, i == 0, mask);
  return conditions;
}

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
  kwz_platform::NetworkWaitSet set;
  set.Reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    if (!set.AddEvent(events[i])) {
      WSASetLastError(WSA_INVALID_HANDLE);
      return WSA_WAIT_FAILED;
    }
  }
  // A signalled event that no socket can outrank ends the wait at once, without a system call:
  // the tunnel's and the stop event live in memory, and the tunnel's receiving thread waits on
  // nothing else; so do sockets with datagrams already taken from the system.
  set.SignalQueuedSockets();
  const int known = set.AcquireWithoutPoll();
  if (known >= 0) return WSA_WAIT_EVENT_0 + static_cast<DWORD>(known);
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
    auto object = std::dynamic_pointer_cast<EventObject>(kwz_platform::LookupHandle(event));
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
