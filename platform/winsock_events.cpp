// Network events: WSA events are ordinary manual-reset events; a socket's selection is kept
// beside it, and a wait polls the events' descriptors together with the selected sockets'.
#include <errno.h>
#include <poll.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/event_object.h"
#include "platform/kernel.h"
#include "platform/socket_object.h"
#include "platform/winerror.h"
#include "platform/winsock.h"

namespace kwz_platform {
namespace {

constexpr long kSupportedEvents = FD_READ | FD_CLOSE;

struct Selection {
  std::weak_ptr<SocketObject> socket;
  std::weak_ptr<EventObject> event;
  long mask;
};

// Entries of closed sockets or events expire with their objects and are pruned on the next
// selection.
struct Selections {
  std::mutex lock;
  std::vector<Selection> entries;  // guarded by lock
};

Selections& Registry() {
  static Selections* registry = new Selections;
  return *registry;
}

struct Selected {
  std::shared_ptr<SocketObject> socket;
  long mask;
};

std::vector<Selected> SelectedInto(const EventObject* event) {
  std::vector<Selected> result;
  Selections& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  for (const Selection& entry : registry.entries) {
    auto socket = entry.socket.lock();
    if (socket && entry.event.lock().get() == event) result.push_back({socket, entry.mask});
  }
  return result;
}

long MaskOf(const SocketObject* socket) {
  Selections& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  for (const Selection& entry : registry.entries) {
    if (entry.socket.lock().get() == socket) return entry.mask;
  }
  return 0;
}

std::shared_ptr<SocketObject> FindSocket(SOCKET s) {
  if (!WinsockStarted()) return nullptr;
  auto object = std::dynamic_pointer_cast<SocketObject>(LookupHandle(reinterpret_cast<HANDLE>(s)));
  if (!object) WSASetLastError(WSAENOTSOCK);
  return object;
}

// The poll entries through which a selected socket signals its event.
void AddSocketPolls(const Selected& selected, std::size_t owner, std::vector<pollfd>* polls,
                    std::vector<std::size_t>* owners,
                    std::vector<std::shared_ptr<Descriptor>>* keepOpen) {
  auto descriptors = selected.socket->Descriptors();
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    short events = 0;
    if (selected.mask & FD_READ) events |= POLLIN;
    if (i == 0 && (selected.mask & FD_CLOSE)) events |= POLLRDHUP;
    if (events == 0) continue;
    polls->push_back({descriptors[i]->fd(), events, 0});
    owners->push_back(owner);
    keepOpen->push_back(std::move(descriptors[i]));
  }
}

// Which selected condition the socket has now.
long ConditionsNow(SocketObject* socket, long mask) {
  std::vector<pollfd> polls;
  for (const auto& descriptor : socket->Descriptors())
    polls.push_back({descriptor->fd(), POLLIN | POLLRDHUP, 0});
  if (::poll(polls.data(), polls.size(), 0) <= 0) return 0;
  long conditions = 0;
  for (std::size_t i = 0; i < polls.size(); ++i) {
    if (polls[i].revents & POLLIN) conditions |= FD_READ;
    if (i == 0 && (polls[i].revents & (POLLRDHUP | POLLHUP))) conditions |= FD_CLOSE;
  }
  return conditions & mask;
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
  kwz_platform::Selections& registry = kwz_platform::Registry();
  std::lock_guard<std::mutex> guard(registry.lock);
  auto& entries = registry.entries;
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&](const kwz_platform::Selection& entry) {
                                 auto selected = entry.socket.lock();
                                 return !selected || selected == socket || entry.event.expired();
                               }),
                entries.end());
  if (target) entries.push_back({socket, target, networkEvents});
  return 0;
}

DWORD WSAWaitForMultipleEvents(DWORD count, const WSAEVENT* events, BOOL waitAll, DWORD timeout,
                               BOOL alertable) {
  if (count == 0 || count > WSA_MAXIMUM_WAIT_EVENTS || events == nullptr || waitAll || alertable) {
    WSASetLastError(WSA_INVALID_PARAMETER);
    return WSA_WAIT_FAILED;
  }
  std::vector<std::shared_ptr<EventObject>> objects;
  std::vector<pollfd> polls;
  std::vector<std::size_t> owners;  // the event index each poll entry signals
  std::vector<bool> ofSocket;       // entry polls a socket, not the event itself
  std::vector<std::shared_ptr<kwz_platform::Descriptor>> keepOpen;
  for (DWORD i = 0; i < count; ++i) {
    auto object = std::dynamic_pointer_cast<EventObject>(kwz_platform::LookupHandle(events[i]));
    if (!object) {
      WSASetLastError(WSA_INVALID_HANDLE);
      return WSA_WAIT_FAILED;
    }
    polls.push_back({object->PollDescriptor(), POLLIN, 0});
    owners.push_back(i);
    ofSocket.push_back(false);
    for (const auto& selected : kwz_platform::SelectedInto(object.get()))
      kwz_platform::AddSocketPolls(selected, i, &polls, &owners, &keepOpen);
    ofSocket.resize(polls.size(), true);
    objects.push_back(std::move(object));
  }

  std::vector<bool> signalled(count);  // per event, as the last poll left it
  kwz_platform::WaitDeadline deadline(timeout);
  for (;;) {
    int ready = ::poll(polls.data(), polls.size(), deadline.RemainingForPoll());
    if (ready < 0 && errno != EINTR) {
      WSASetLastError(kwz_platform::WsaErrorFromErrno(errno));
      return WSA_WAIT_FAILED;
    }
    // A socket's condition signals its event, which then stays signalled until it is reset, as
    // the network layer of Windows leaves it.
    std::fill(signalled.begin(), signalled.end(), false);
    for (std::size_t p = 0; p < polls.size(); ++p) {
      if (polls[p].revents == 0) continue;
      if (!ofSocket[p]) {
        signalled[owners[p]] = (polls[p].revents & POLLIN) != 0;
      } else if (polls[p].revents & polls[p].events) {
        objects[owners[p]]->Set();
        signalled[owners[p]] = true;
      } else {
        polls[p].fd = -1;  // an error condition nobody selected: stop polling it
      }
    }
    // The lowest signalled index wins; only that event is consumed.
    for (DWORD i = 0; i < count; ++i) {
      if (objects[i]->AcquireAfterPoll(signalled[i])) return WSA_WAIT_EVENT_0 + i;
    }
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
    // Reset first: a datagram that arrives after the check below signals the next wait anyway.
    object->Reset();
  }
  *networkEvents = WSANETWORKEVENTS{};
  networkEvents->lNetworkEvents =
      kwz_platform::ConditionsNow(socket.get(), kwz_platform::MaskOf(socket.get()));
  return 0;
}
