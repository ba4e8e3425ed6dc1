// BSD side of the socket layer: descriptors, options, reads and writes, memberships.
#include "winsock/socket_object.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "platform/kernel.h"
#include "platform/winerror.h"

namespace kwz_platform {

namespace {

int LastWsaError() {
  return WsaErrorFromErrno(errno);
}

sockaddr_in ToSockaddr(Ipv4Endpoint endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = endpoint.port;
  address.sin_addr.s_addr = endpoint.address;
  return address;
}

bool OptionName(SocketOption option, int* level, int* name) {
  switch (option) {
    case SocketOption::kReuseAddress:
      *level = SOL_SOCKET, *name = SO_REUSEADDR;
      return true;
    case SocketOption::kBroadcast:
      *level = SOL_SOCKET, *name = SO_BROADCAST;
      return true;
    case SocketOption::kReceiveBuffer:
      *level = SOL_SOCKET, *name = SO_RCVBUF;
      return true;
    case SocketOption::kSendBuffer:
      *level = SOL_SOCKET, *name = SO_SNDBUF;
      return true;
    case SocketOption::kMulticastTtl:
      *level = IPPROTO_IP, *name = IP_MULTICAST_TTL;
      return true;
    case SocketOption::kMulticastLoop:
      *level = IPPROTO_IP, *name = IP_MULTICAST_LOOP;
      return true;
    case SocketOption::kMulticastInterface:
      *level = IPPROTO_IP, *name = IP_MULTICAST_IF;
      return true;
  }
  return false;
}

int Membership(int fd, int name, std::uint32_t group, std::uint32_t interfaceAddress) {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = group;
  request.imr_interface.s_addr = interfaceAddress;
  return setsockopt(fd, IPPROTO_IP, name, &request, sizeof request) == 0 ? 0 : LastWsaError();
}

}  // namespace

Descriptor::~Descriptor() {
  close(fd_);
}

std::shared_ptr<SocketObject> SocketObject::Create(bool datagram, int* error) {
  int fd = ::socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = LastWsaError();
    return nullptr;
  }
  return std::shared_ptr<SocketObject>(new SocketObject(fd, datagram));
}

SocketObject::~SocketObject() = default;

DWORD SocketObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

int SocketObject::Bind(Ipv4Endpoint local) {
  sockaddr_in address = ToSockaddr(local);
  if (::bind(main_->fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    return LastWsaError();
  return 0;
}

int SocketObject::LocalName(Ipv4Endpoint* local) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(main_->fd(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return LastWsaError();
  *local = Ipv4Endpoint{address.sin_addr.s_addr, address.sin_port};
  return 0;
}

bool SocketObject::ReceiveQueued(void* buffer, std::size_t length, bool batch, Ipv4Endpoint* from,
                                 int* received, int* error) {
  std::lock_guard<std::mutex> guard(queueLock_);
  if (queue_.Empty()) {
    if (!batch) return false;
    const int failure = FillQueueLocked();
    if (failure == ENOMEM) return false;
    if (failure != 0) {
      *error = WsaErrorFromErrno(failure);
      return true;
    }
  }
  Ipv4Endpoint sender{};
  const std::size_t size = queue_.Pop(buffer, length, &sender.address, &sender.port);
  if (from != nullptr) *from = sender;
  *received = static_cast<int>(std::min(size, length));
  *error = size > length ? WSAEMSGSIZE : 0;
  return true;
}

int SocketObject::ReceiveFrom(void* buffer, std::size_t length, Ipv4Endpoint* from, int* received) {
  bool nonBlocking;
  bool companions;
  {
    std::lock_guard<std::mutex> guard(lock_);
    nonBlocking = nonBlocking_;
    companions = !companions_.empty();
  }
  // Datagrams already taken come first, in every mode.
  int queuedError = 0;
  if (ReceiveQueued(buffer, length, datagram_ && nonBlocking, from, received, &queuedError)) {
    return queuedError;
  }
  std::pmr::vector<std::shared_ptr<Descriptor>> descriptors;
  std::vector<pollfd> polled;
  if (companions) {
    AppendDescriptors(&descriptors);
    for (const auto& descriptor : descriptors) polled.push_back({descriptor->fd(), POLLIN, 0});
  }
  for (;;) {
    // Without companions the socket alone decides, blocking or not.
    int fd = main_->fd();
    if (companions) {
      int ready = ::poll(polled.data(), polled.size(), nonBlocking ? 0 : -1);
      if (ready < 0 && errno != EINTR) return LastWsaError();
      auto first = std::find_if(polled.begin(), polled.end(),
                                [](const pollfd& p) { return (p.revents & POLLIN) != 0; });
      if (first == polled.end()) {
        if (nonBlocking) return WSAEWOULDBLOCK;
        continue;
      }
      fd = first->fd;
    }
    sockaddr_in address{};
    socklen_t addressLength = sizeof address;
    // MSG_TRUNC reports the whole datagram's size, so a cut one is told apart as on Windows.
    ssize_t got = ::recvfrom(fd, buffer, length, MSG_TRUNC | (companions ? MSG_DONTWAIT : 0),
                             reinterpret_cast<sockaddr*>(&address), &addressLength);
    if (got < 0) {
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && !nonBlocking)
        continue;  // another reader won
      return LastWsaError();
    }
    if (from != nullptr) *from = Ipv4Endpoint{address.sin_addr.s_addr, address.sin_port};
    if (static_cast<std::size_t>(got) > length) {
      *received = static_cast<int>(length);
      return WSAEMSGSIZE;
    }
    *received = static_cast<int>(got);
    return 0;
  }
}

int SocketObject::SendTo(const void* data, std::size_t length, Ipv4Endpoint to, int* sent) {
  sockaddr_in address = ToSockaddr(to);
  ssize_t done = ::sendto(main_->fd(), data, length, MSG_NOSIGNAL,
                          reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (done < 0) return LastWsaError();
  *sent = static_cast<int>(done);
  return 0;
}

int SocketObject::SetOption(SocketOption option, std::uint32_t value) {
  int level, name;
  if (!OptionName(option, &level, &name)) return WSAENOPROTOOPT;
  int result;
  if (option == SocketOption::kMulticastInterface) {
    in_addr address{};
    address.s_addr = value;
    result = setsockopt(main_->fd(), level, name, &address, sizeof address);
  } else {
    int integer = static_cast<int>(value);
    result = setsockopt(main_->fd(), level, name, &integer, sizeof integer);
  }
  if (result != 0) return LastWsaError();
  if (option == SocketOption::kReceiveBuffer) {
    std::lock_guard<std::mutex> guard(lock_);
    receiveBuffer_ = value;
    for (Companion& companion : companions_)
      setsockopt(companion.descriptor->fd(), level, name, &value, sizeof value);
  }
  return 0;
}

int SocketObject::GetOption(SocketOption option, std::uint32_t* value) {
  if (option == SocketOption::kReceiveBuffer) {
    // Linux reports twice the size asked for (its bookkeeping included); Windows the size itself.
    std::lock_guard<std::mutex> guard(lock_);
    if (receiveBuffer_ != 0) {
      *value = receiveBuffer_;
      return 0;
    }
  }
  int level, name;
  if (!OptionName(option, &level, &name)) return WSAENOPROTOOPT;
  std::uint32_t result = 0;
  socklen_t length = sizeof result;
  if (getsockopt(main_->fd(), level, name, &result, &length) != 0) return LastWsaError();
  *value = option == SocketOption::kReceiveBuffer ? result / 2 : result;
  return 0;
}

int SocketObject::AddMembership(std::uint32_t group, std::uint32_t interfaceAddress) {
  Ipv4Endpoint local{};
  if (int error = LocalName(&local)) return error;
  // Unbound, bound to every interface or to a group: Linux delivers as Windows does.
  bool boundToUnicast = local.address != 0 && (ntohl(local.address) >> 28) != 0xE;
  if (!boundToUnicast) return Membership(main_->fd(), IP_ADD_MEMBERSHIP, group, interfaceAddress);
  return JoinOnCompanion(group, interfaceAddress);
}

int SocketObject::JoinOnCompanion(std::uint32_t group, std::uint32_t interfaceAddress) {
  Ipv4Endpoint local{};
  if (int error = LocalName(&local)) return error;
  std::lock_guard<std::mutex> guard(lock_);
  for (const Companion& companion : companions_) {
    if (companion.group == group && companion.interfaceAddress == interfaceAddress)
      return WSAEADDRINUSE;
  }
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return LastWsaError();
  auto descriptor = std::make_shared<Descriptor>(fd);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (receiveBuffer_ != 0)
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer_, sizeof receiveBuffer_);
  sockaddr_in address = ToSockaddr(Ipv4Endpoint{group, local.port});
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return LastWsaError();
  if (int error = Membership(fd, IP_ADD_MEMBERSHIP, group, interfaceAddress)) return error;
  companions_.push_back(Companion{group, interfaceAddress, std::move(descriptor)});
  return 0;
}

int SocketObject::DropMembership(std::uint32_t group, std::uint32_t interfaceAddress) {
  std::shared_ptr<Descriptor> dropped;  // closed outside the lock
  {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = std::find_if(companions_.begin(), companions_.end(), [&](const Companion& c) {
      return c.group == group && c.interfaceAddress == interfaceAddress;
    });
    if (found != companions_.end()) {
      dropped = std::move(found->descriptor);
      companions_.erase(found);
      return 0;
    }
  }
  return Membership(main_->fd(), IP_DROP_MEMBERSHIP, group, interfaceAddress);
}

int SocketObject::FillQueueLocked() {
  const int own = main_->fd();
  if (!HasCompanions()) return queue_.Fill(&own, 1);
  std::pmr::vector<std::shared_ptr<Descriptor>> descriptors;
  AppendDescriptors(&descriptors);
  std::vector<int> fds;
  fds.reserve(descriptors.size());
  for (const auto& descriptor : descriptors) fds.push_back(descriptor->fd());
  return queue_.Fill(fds.data(), fds.size());
}

int SocketObject::PendingBytes(std::uint32_t* count) {
  bool nonBlocking;
  {
    std::lock_guard<std::mutex> guard(lock_);
    nonBlocking = nonBlocking_;
  }
  {
    // A non-blocking reader asks just before it reads, so the batch is taken now; the answer is
    // the next datagram's size, as the kernel gives it for one descriptor.
    std::lock_guard<std::mutex> guard(queueLock_);
    const int filled = datagram_ && nonBlocking ? FillQueueLocked() : ENOMEM;
    if (!queue_.Empty()) {
      *count = static_cast<std::uint32_t>(queue_.FrontSize());
      return 0;
    }
    if (filled == EAGAIN) {
      *count = 0;
      return 0;
    }
  }
  std::uint64_t total = 0;
  auto add = [&total](int fd) {
    int queued = 0;
    if (::ioctl(fd, FIONREAD, &queued) != 0) return LastWsaError();
    total += static_cast<std::uint64_t>(queued);
    return 0;
  };
  if (!HasCompanions()) {
    if (int error = add(main_->fd())) return error;
  } else {
    std::pmr::vector<std::shared_ptr<Descriptor>> descriptors;
    AppendDescriptors(&descriptors);
    for (const auto& descriptor : descriptors) {
      if (int error = add(descriptor->fd())) return error;
    }
  }
  *count = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFu));
  return 0;
}

int SocketObject::SetNonBlocking(bool nonBlocking) {
  int flags = fcntl(main_->fd(), F_GETFL);
  if (flags < 0) return LastWsaError();
  flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  if (fcntl(main_->fd(), F_SETFL, flags) != 0) return LastWsaError();
  std::lock_guard<std::mutex> guard(lock_);
  nonBlocking_ = nonBlocking;
  return 0;
}

bool SocketObject::HasCompanions() {
  std::lock_guard<std::mutex> guard(lock_);
  return !companions_.empty();
}

bool SocketObject::HasQueued() {
  std::lock_guard<std::mutex> guard(queueLock_);
  return !queue_.Empty();
}

void SocketObject::AppendDescriptors(std::pmr::vector<std::shared_ptr<Descriptor>>* out) {
  out->push_back(main_);
  std::lock_guard<std::mutex> guard(lock_);
  for (const Companion& companion : companions_) out->push_back(companion.descriptor);
}

void SocketObject::Select(const std::shared_ptr<EventObject>& event, long mask) {
  std::lock_guard<std::mutex> guard(lock_);
  selectedEvent_ = event;
  selectedMask_ = event ? mask : 0;
  recorded_.store(0, std::memory_order_relaxed);
}

std::shared_ptr<EventObject> SocketObject::SelectedEvent() {
  std::lock_guard<std::mutex> guard(lock_);
  return selectedEvent_.lock();
}

long SocketObject::SelectedMaskFor(const EventObject* event) {
  std::lock_guard<std::mutex> guard(lock_);
  return selectedEvent_.lock().get() == event ? selectedMask_ : 0;
}

long SocketObject::SelectedMask() {
  std::lock_guard<std::mutex> guard(lock_);
  return selectedMask_;
}

}  // namespace kwz_platform
