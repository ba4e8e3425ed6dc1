// The socket calls of the Winsock subset: Windows layouts in, SocketObject calls out.
#include <atomic>
#include <cstring>

#include "platform/kernel.h"
#include "platform/winerror.h"
#include "platform/winsock.h"
#include "platform/winsock_testing.h"

#include "winsock/socket_object.h"

namespace kwz_platform {
namespace {

std::atomic<int> g_failNextSocket{0};

std::shared_ptr<SocketObject> FindSocket(SOCKET s) {
  if (!WinsockStarted()) return nullptr;
  auto object = std::dynamic_pointer_cast<SocketObject>(LookupHandle(reinterpret_cast<HANDLE>(s)));
  if (!object) WSASetLastError(WSAENOTSOCK);
  return object;
}

// Maps a Winsock 0-or-error result to the calls' 0 / SOCKET_ERROR convention.
int Result(int error) {
  if (error == 0) return 0;
  WSASetLastError(error);
  return SOCKET_ERROR;
}

bool ReadEndpoint(const sockaddr* name, int length, Ipv4Endpoint* endpoint, int* error) {
  if (name == nullptr || length < static_cast<int>(sizeof(sockaddr_in))) {
    *error = WSAEFAULT;
    return false;
  }
  const auto* address = reinterpret_cast<const sockaddr_in*>(name);
  if (address->sin_family != AF_INET) {
    *error = WSAEAFNOSUPPORT;
    return false;
  }
  *endpoint = Ipv4Endpoint{address->sin_addr.s_addr, address->sin_port};
  return true;
}

void WriteEndpoint(Ipv4Endpoint endpoint, sockaddr* name) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = endpoint.port;
  address.sin_addr.s_addr = endpoint.address;
  *reinterpret_cast<sockaddr_in*>(name) = address;
}

bool MapOption(int level, int name, SocketOption* option) {
  if (level == SOL_SOCKET) {
    switch (name) {
      case SO_REUSEADDR:
        *option = SocketOption::kReuseAddress;
        return true;
      case SO_BROADCAST:
        *option = SocketOption::kBroadcast;
        return true;
      case SO_RCVBUF:
        *option = SocketOption::kReceiveBuffer;
        return true;
      case SO_SNDBUF:
        *option = SocketOption::kSendBuffer;
        return true;
    }
  } else if (level == IPPROTO_IP) {
    switch (name) {
      case IP_MULTICAST_IF:
        *option = SocketOption::kMulticastInterface;
        return true;
      case IP_MULTICAST_TTL:
        *option = SocketOption::kMulticastTtl;
        return true;
      case IP_MULTICAST_LOOP:
        *option = SocketOption::kMulticastLoop;
        return true;
    }
  }
  return false;
}

}  // namespace

void FailNextSocket(int error) {
  g_failNextSocket.store(error);
}

}  // namespace kwz_platform

using kwz_platform::FindSocket;
using kwz_platform::Ipv4Endpoint;
using kwz_platform::Result;

SOCKET socket(int family, int type, int protocol) {
  if (!kwz_platform::WinsockStarted()) return INVALID_SOCKET;
  if (int injected = kwz_platform::g_failNextSocket.exchange(0)) {
    WSASetLastError(injected);
    return INVALID_SOCKET;
  }
  int error = 0;
  if (family != AF_INET) {
    error = WSAEAFNOSUPPORT;
  } else if (type != SOCK_DGRAM && type != SOCK_STREAM) {
    error = WSAESOCKTNOSUPPORT;
  } else if (protocol != 0 && !(type == SOCK_DGRAM && protocol == IPPROTO_UDP)) {
    error = WSAEPROTONOSUPPORT;
  }
  std::shared_ptr<kwz_platform::SocketObject> object;
  if (error == 0) object = kwz_platform::SocketObject::Create(type == SOCK_DGRAM, &error);
  if (!object) {
    WSASetLastError(error);
    return INVALID_SOCKET;
  }
  return reinterpret_cast<SOCKET>(kwz_platform::InsertHandle(std::move(object)));
}

int closesocket(SOCKET s) {
  if (!FindSocket(s)) return SOCKET_ERROR;
  // Another thread may have closed it meanwhile: that close won.
  if (!kwz_platform::RemoveHandle(reinterpret_cast<HANDLE>(s))) return Result(WSAENOTSOCK);
  return 0;
}

int bind(SOCKET s, const sockaddr* name, int nameLength) {
  auto object = FindSocket(s);
  if (!object) return SOCKET_ERROR;
  Ipv4Endpoint local;
  int error;
  if (!kwz_platform::ReadEndpoint(name, nameLength, &local, &error)) return Result(error);
  return Result(object->Bind(local));
}

int getsockname(SOCKET s, sockaddr* name, int* nameLength) {
  auto object = FindSocket(s);
  if (!object) return SOCKET_ERROR;
  if (name == nullptr || nameLength == nullptr ||
      *nameLength < static_cast<int>(sizeof(sockaddr_in)))
    return Result(WSAEFAULT);
  Ipv4Endpoint local;
  if (int error = object->LocalName(&local)) return Result(error);
  kwz_platform::WriteEndpoint(local, name);
  *nameLength = sizeof(sockaddr_in);
  return 0;
}

int recvfrom(SOCKET s, char* buffer, int length, int flags, sockaddr* from, int* fromLength) {
  auto object = FindSocket(s);
  if (!object) return SOCKET_ERROR;
  if (flags != 0) return Result(WSAEOPNOTSUPP);
  if (buffer == nullptr || length < 0) return Result(WSAEFAULT);
  if (from != nullptr &&
      (fromLength == nullptr || *fromLength < static_cast<int>(sizeof(sockaddr_in))))
    return Result(WSAEFAULT);
  Ipv4Endpoint source{};
  int received = 0;
  int error = object->ReceiveFrom(buffer, static_cast<std::size_t>(length), &source, &received);
  // A datagram cut to the buffer still names its sender, as on Windows.
  if ((error == 0 || error == WSAEMSGSIZE) && from != nullptr) {
    kwz_platform::WriteEndpoint(source, from);
    *fromLength = sizeof(sockaddr_in);
  }
  if (error != 0) return Result(error);
  return received;
}

int sendto(SOCKET s, const char* buffer, int length, int flags, const sockaddr* to, int toLength) {
  auto object = FindSocket(s);
  if (!object) return SOCKET_ERROR;
  if (flags != 0) return Result(WSAEOPNOTSUPP);
  if ((buffer == nullptr && length != 0) || length < 0) return Result(WSAEFAULT);
  Ipv4Endpoint destination;
  int error;
  if (!kwz_platform::ReadEndpoint(to, toLength, &destination, &error)) return Result(error);
  int sent = 0;
  if (int failed = object->SendTo(buffer, static_cast<std::size_t>(length), destination, &sent))
    return Result(failed);
  return sent;
}

int setsockopt(SOCKET s, int level, int name, const char* value, int length) {
  auto object = FindSocket(s);
  if (!object) return SOCKET_ERROR;
  if (level == IPPROTO_IP && (name == IP_ADD_MEMBERSHIP || name == IP_DROP_MEMBERSHIP)) {
    if (value == nullptr || length < static_cast<int>(sizeof(ip_mreq))) return Result(WSAEFAULT);
    const auto* request = reinterpret_cast<const ip_mreq*>(value);
    std::uint32_t group = request->imr_multiaddr.s_addr;
    std::uint32_t interfaceAddress = request->imr_interface.s_addr;
    return Result(name == IP_ADD_MEMBERSHIP ? object->AddMembership(group, interfaceAddress)
                                            : object->DropMembership(group, interfaceAddress));
  }
  kwz_platform::SocketOption option;
  if (!kwz_platform::MapOption(level, name, &option)) return Result(WSAENOPROTOOPT);
  if (value == nullptr || length < 4) return Result(WSAEFAULT);
  std::uint32_t integer;
  std::memcpy(&integer, value, sizeof integer);
  return Result(object->SetOption(option, integer));
}

int getsockopt(SOCKET s, int level, int name, char* value, int* length) {
  auto object = FindSocket(s);
  if (!object) return SOCKET_ERROR;
  kwz_platform::SocketOption option;
  if (!kwz_platform::MapOption(level, name, &option)) return Result(WSAENOPROTOOPT);
  if (value == nullptr || length == nullptr || *length < 4) return Result(WSAEFAULT);
  std::uint32_t integer = 0;
  if (int error = object->GetOption(option, &integer)) return Result(error);
  std::memcpy(value, &integer, sizeof integer);
  *length = 4;
  return 0;
}

int ioctlsocket(SOCKET s, long command, ULONG* argument) {
  auto object = FindSocket(s);
  if (!object) return SOCKET_ERROR;
  if (argument == nullptr) return Result(WSAEFAULT);
  switch (static_cast<std::uint32_t>(command)) {
    case FIONREAD: {
      std::uint32_t pending = 0;
      if (int error = object->PendingBytes(&pending)) return Result(error);
      *argument = pending;
      return 0;
    }
    case FIONBIO:
      return Result(object->SetNonBlocking(*argument != 0));
    default:
      return Result(WSAEINVAL);
  }
}
