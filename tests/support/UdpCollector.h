// A plain UDP socket on the loopback interface that collects what a presenter sends: bound to
// 127.0.0.1 on a free port, or to a multicast group joined on 127.0.0.1. Kept apart from the
// platform's Winsock subset, whose names clash with the POSIX socket headers.
#pragma once

#include <cstdint>
#include <vector>

namespace kwz_test {

class UdpCollector {
 public:
  // group: null for unicast on 127.0.0.1, else a multicast group joined on 127.0.0.1. The
  // receive buffer is made large, so the bursts of a few frames are not dropped.
  explicit UdpCollector(const char* group = nullptr);
  ~UdpCollector();
  UdpCollector(const UdpCollector&) = delete;
  UdpCollector& operator=(const UdpCollector&) = delete;

  bool ok() const { return socket_ >= 0; }
  std::uint16_t port() const { return port_; }
  // Waits up to timeoutMs for one datagram.
  bool Receive(std::vector<std::uint8_t>* datagram, int timeoutMs);
  // Every datagram until none has come for idleMs.
  std::vector<std::vector<std::uint8_t>> Drain(int idleMs);

 private:
  int socket_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace kwz_test
