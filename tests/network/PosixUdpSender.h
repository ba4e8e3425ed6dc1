// A plain POSIX UDP socket that sends to one loopback port: the tests' stand-in for the
// presenter's machine. Kept apart because the POSIX socket headers and the platform's Winsock
// subset cannot share a translation unit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kwz_test {

class PosixUdpSender {
 public:
  explicit PosixUdpSender(std::uint16_t loopbackPort);
  ~PosixUdpSender();
  PosixUdpSender(const PosixUdpSender&) = delete;
  PosixUdpSender& operator=(const PosixUdpSender&) = delete;

  // True when the whole datagram was sent.
  bool Send(const std::uint8_t* data, std::size_t length);

 private:
  int socket_;
  std::uint16_t port_;
};

}  // namespace kwz_test
