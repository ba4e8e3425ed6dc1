// A plain POSIX UDP socket on 127.0.0.1: the sender of the receive benchmark and the socket of
// its recvfrom baseline. Apart from the benchmark itself because the POSIX socket headers and
// the platform's Winsock subset cannot share a translation unit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kwz_bench {

class LoopbackUdp {
 public:
  // Bound to an ephemeral loopback port with the given receive buffer.
  explicit LoopbackUdp(int receiveBuffer);
  ~LoopbackUdp();
  LoopbackUdp(const LoopbackUdp&) = delete;
  LoopbackUdp& operator=(const LoopbackUdp&) = delete;

  std::uint16_t port() const { return port_; }
  bool SendTo(std::uint16_t port, const std::uint8_t* data, std::size_t length);
  // Blocks for the next datagram; its size, or -1.
  long Receive(std::uint8_t* buffer, std::size_t capacity);

 private:
  int socket_;
  std::uint16_t port_ = 0;
};

}  // namespace kwz_bench
