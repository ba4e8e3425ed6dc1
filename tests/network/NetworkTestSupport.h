// Helpers of the network tests: an endpoint whose members a test may read, and a loopback-only
// multicast sender.
#pragma once

#include <gtest/gtest.h>

#include "network/CNetwork.h"
#include "platform/kernel.h"
#include "platform/winsock.h"
#include "runtime/CEvent.h"
#include "tests/support/ChildProcess.h"

namespace kwz_test {

class TestableNetwork : public CNetwork {
 public:
  using CNetwork::m_Endpoint;
  using CNetwork::m_EventSocket;
  using CNetwork::m_hEvents;
  using CNetwork::m_pSharedView;
};

// An auto-reset stop event that stands wherever a HANDLE is wanted.
class StopEvent : public CEvent {
 public:
  operator HANDLE() const { return GetHandle(); }
};

// The port a socket is bound to, host order; 0 when unbound or unknown.
inline USHORT BoundPort(SOCKET s) {
  sockaddr_in local{};
  int length = sizeof local;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

// Sends from a socket of its own that multicasts on the loopback interface only, with TTL 0 so
// that nothing leaves the machine.
class LoopbackSender {
 public:
  LoopbackSender() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    s_ = socket(AF_INET, SOCK_DGRAM, 0);
    ULONG loopback = inet_addr("127.0.0.1");
    int ttl = 0;
    setsockopt(s_, IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&loopback),
               sizeof loopback);
    setsockopt(s_, IPPROTO_IP, IP_MULTICAST_TTL, reinterpret_cast<const char*>(&ttl), sizeof ttl);
  }
  ~LoopbackSender() {
    closesocket(s_);
    if (started_) WSACleanup();
  }
  int Send(const char* address, USHORT port, const char* data, int length) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = inet_addr(address);
    return sendto(s_, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }

 private:
  bool started_ = false;
  SOCKET s_ = INVALID_SOCKET;
};

}  // namespace kwz_test
