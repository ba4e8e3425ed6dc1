#include "bench/LoopbackUdp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kwz_bench {

LoopbackUdp::LoopbackUdp(int receiveBuffer) : socket_(::socket(AF_INET, SOCK_DGRAM, 0)) {
  ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) == 0)
    port_ = ntohs(local.sin_port);
}

LoopbackUdp::~LoopbackUdp() {
  ::close(socket_);
}

bool LoopbackUdp::SendTo(std::uint16_t port, const std::uint8_t* data, std::size_t length) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::sendto(socket_, data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(length);
}

long LoopbackUdp::Receive(std::uint8_t* buffer, std::size_t capacity) {
  return ::recvfrom(socket_, buffer, capacity, 0, nullptr, nullptr);
}

}  // namespace kwz_bench
