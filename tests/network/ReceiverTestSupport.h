// Helpers of the reassembly tests: a receiving endpoint opened on an ephemeral loopback port, a
// plain POSIX UDP sender aimed at it, datagrams cut by the presenter's packetizer, and a
// virtual millisecond clock for the reorder queue.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "network/CNetworkReceiver.h"
#include "platform/kernel.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"
#include "runtime/CEvent.h"
#include "tests/network/NetworkTestSupport.h"
#include "tests/network/PosixUdpSender.h"

namespace kwz_test {

using Bytes = std::vector<std::uint8_t>;

// The reorder queue's clock in these tests: it moves only when a test says so.
inline std::atomic<DWORD> g_virtualNow{1000};
inline DWORD VirtualNow() {
  return g_virtualNow.load(std::memory_order_relaxed);
}
inline void AdvanceClock(DWORD ms) {
  g_virtualNow.fetch_add(ms, std::memory_order_relaxed);
}

// An endpoint of type Receiver opened on 127.0.0.1 with an ephemeral port, its own
// manual-reset stop event, and a sender socket aimed at it.
template <class Receiver>
class LoopbackLink {
 public:
  class Exposed : public Receiver {
   public:
    Exposed() : Receiver(&VirtualNow) {}
    using Receiver::m_Endpoint;
  };

  LoopbackLink() {
    EXPECT_EQ(receiver_.Open(0, "127.0.0.1", stop_.GetHandle()), 0);
    sender_.emplace(BoundPort(receiver_.m_Endpoint.Socket().GetSocket()));
  }

  Exposed& receiver() { return receiver_; }
  HANDLE stop() const { return stop_.GetHandle(); }

  void Send(const Bytes& datagram) { ASSERT_TRUE(sender_->Send(datagram.data(), datagram.size())); }
  void SendAll(const std::vector<Bytes>& datagrams) {
    for (const Bytes& d : datagrams) Send(d);
  }
  // Sends datagrams[i] for each i of order.
  void SendInOrder(const std::vector<Bytes>& datagrams, const std::vector<int>& order) {
    for (int i : order) Send(datagrams.at(i));
  }

 private:
  CEvent stop_{true};
  Exposed receiver_;
  std::optional<PosixUdpSender> sender_;
};

// A message of the given length whose bytes tell it apart from others (seeded by tag).
inline Bytes Message(std::size_t length, std::uint32_t tag) {
  Bytes message(length);
  std::uint32_t x = tag * 2654435761u + 1;
  for (auto& b : message) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return message;
}

// Cuts message into the datagrams the presenter would send.
inline std::vector<Bytes> Datagrams(presenter::RtpPacketizer& packetizer, const Bytes& message,
                                    std::uint32_t timestamp) {
  std::vector<Bytes> out;
  packetizer.Packetize(message.data(), message.size(), timestamp,
                       [&](const std::uint8_t* d, std::size_t n) { out.emplace_back(d, d + n); });
  return out;
}

inline presenter::RtpPacketizer::Options PacketizerOptions(std::uint16_t firstSequence = 100,
                                                           std::uint32_t ssrc = 0x11223344,
                                                           std::size_t payloadSize = 1000) {
  return {.ssrc = ssrc, .firstSequence = firstSequence, .payloadSize = payloadSize};
}

}  // namespace kwz_test
