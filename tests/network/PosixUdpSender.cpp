#include "tests/network/PosixUdpSender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kwz_test {

PosixUdpSender::PosixUdpSender(std::uint16_t loopbackPort)
    : socket_(::socket(AF_INET, SOCK_DGRAM, 0)), port_(loopbackPort) {}

PosixUdpSender::~PosixUdpSender() {
  if (socket_ >= 0) ::close(socket_);
}

bool PosixUdpSender::Send(const std::uint8_t* data, std::size_t length) {
  if (socket_ < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port_);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const ssize_t sent =
      ::sendto(socket_, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return sent == static_cast<ssize_t>(length);
}

}  // namespace kwz_test
