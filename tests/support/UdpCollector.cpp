#include "tests/support/UdpCollector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kwz_test {

UdpCollector::UdpCollector(const char* group) {
  socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (socket_ < 0) return;
  int size = 8 << 20;
  ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = group ? inet_addr(group) : htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bool ok = ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  if (ok && group != nullptr) {
    ip_mreq request{};
    request.imr_multiaddr.s_addr = inet_addr(group);
    request.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
    ok = ::setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0;
  }
  if (!ok) {
    ::close(socket_);
    socket_ = -1;
    return;
  }
  port_ = ntohs(address.sin_port);
}

UdpCollector::~UdpCollector() {
  if (socket_ >= 0) ::close(socket_);
}

bool UdpCollector::Receive(std::vector<std::uint8_t>* datagram, int timeoutMs) {
  pollfd p{socket_, POLLIN, 0};
  if (socket_ < 0 || ::poll(&p, 1, timeoutMs) != 1) return false;
  datagram->resize(65536);
  const ssize_t got = ::recv(socket_, datagram->data(), datagram->size(), 0);
  if (got < 0) return false;
  datagram->resize(static_cast<std::size_t>(got));
  return true;
}

std::vector<std::vector<std::uint8_t>> UdpCollector::Drain(int idleMs) {
  std::vector<std::vector<std::uint8_t>> all;
  std::vector<std::uint8_t> one;
  while (Receive(&one, idleMs)) all.push_back(one);
  return all;
}

}  // namespace kwz_test
