#include "winsock/network_wait_set.h"

#include <errno.h>

#include "platform/kernel.h"

namespace kwz_platform {

// The selected conditions a descriptor's poll result shows; the socket's own descriptor ([0])
// alone carries FD_CLOSE.
long ConditionsOf(short revents, bool own, long mask) {
  long conditions = 0;
  if (revents & POLLIN) conditions |= FD_READ;
  if (own && (revents & (POLLRDHUP | POLLHUP))) conditions |= FD_CLOSE;
  return conditions & mask;
}

NetworkWaitSet::NetworkWaitSet()
    : memory_(arena_.data(), arena_.size()),
      events_(&memory_),
      sockets_(&memory_),
      keepOpen_(&memory_),
      polls_(&memory_),
      entries_(&memory_) {}

void NetworkWaitSet::Reserve(std::size_t count) {
  events_.reserve(count);
  sockets_.reserve(count);
  keepOpen_.reserve(count);
  polls_.reserve(2 * count);
  entries_.reserve(2 * count);
}

bool NetworkWaitSet::AddEvent(WSAEVENT handle) {
  auto event = std::dynamic_pointer_cast<EventObject>(LookupHandle(handle));
  if (!event) return false;
  const std::size_t index = events_.size();
  polls_.push_back({event->descriptor(), POLLIN, 0});
  entries_.push_back({index, nullptr, 0, false, false});
  const std::size_t first = sockets_.size();
  event->CollectSelected(&sockets_);
  for (std::size_t k = first; k < sockets_.size(); ++k) AddSocket(index, event.get(), k);
  events_.push_back(std::move(event));
  return true;
}

void NetworkWaitSet::AddSocket(std::size_t index, const EventObject* event, std::size_t k) {
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
    entries_.push_back({index, socket, mask, d == first, false});
  }
}

bool NetworkWaitSet::Poll(int timeoutMs) {
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

// A socket's condition signals its event, which then stays signalled until it is reset, as the
// network layer of Windows leaves it. The event is signalled after the poll has ended, so unless
// another thread polls it, no descriptor write is needed.
void NetworkWaitSet::SignalSocketConditions() {
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

void NetworkWaitSet::SignalQueuedSockets() {
  for (Entry& entry : entries_) {
    // A companion's entry goes with its socket: the socket as a whole is readable.
    if (entry.socket == nullptr || (entry.mask & FD_READ) == 0) continue;
    if (!entry.socket->HasQueued()) continue;
    entry.queued = true;
    entry.socket->Record(FD_READ);
    events_[entry.event]->Set();
  }
}

int NetworkWaitSet::Acquire() {
  for (std::size_t i = 0; i < events_.size(); ++i) {
    if (events_[i]->TryAcquire()) return static_cast<int>(i);
  }
  return -1;
}

int NetworkWaitSet::AcquireWithoutPoll() {
  std::size_t entry = 0;
  for (std::size_t i = 0; i < events_.size(); ++i) {
    // A socket selected into this event may be readable without its event knowing yet.
    for (; entry < entries_.size() && entries_[entry].event == i; ++entry) {
      if (entries_[entry].socket != nullptr && !entries_[entry].queued) return -1;
    }
    if (events_[i]->TryAcquire()) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace kwz_platform
