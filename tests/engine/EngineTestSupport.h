// Helpers of the engine's tests: a presenter stand-in that sends screen messages as RTP over
// loopback UDP, a record of the paints that reach a window, a free port to open on, and a
// bounded wait for a condition.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "engine/IScreenSharing.h"
#include "platform/gdi_testing.h"
#include "platform/winsock.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"
#include "tests/network/NetworkTestSupport.h"

namespace kwz_test {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

// Polls condition every few milliseconds until it holds or timeoutMs passed.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (SteadyClock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// An even UDP port that nothing on 127.0.0.1 holds right now (the endpoint refuses odd ones).
inline USHORT FreeEvenPort() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  USHORT port = 0;
  for (int attempt = 0; attempt < 64 && port == 0; ++attempt) {
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) {
      const USHORT bound = BoundPort(s);
      if (bound % 2 == 0) port = bound;
    }
    closesocket(s);
  }
  WSACleanup();
  return port;
}

// Whether a socket without SO_REUSEADDR can bind address:port, i.e. whether nothing holds it.
inline bool CanBind(const char* address, USHORT port) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = inet_addr(address);
  const bool bound = bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
  closesocket(s);
  WSACleanup();
  return bound;
}

// The presenter's side of the tests: screen messages cut into RTP datagrams and sent to one
// address (unicast or a group, multicast on loopback with TTL 0).
class ScreenSender {
 public:
  ScreenSender(const char* address, USHORT port, std::uint16_t firstSequence = 1)
      : address_(address), port_(port), packetizer_(Options(firstSequence)) {}

  // Cuts the message into datagrams without sending them.
  std::vector<Bytes> Datagrams(const presenter::ScreenMessageFields& fields, const Bytes& body) {
    Bytes message;
    presenter::WriteScreenMessage(fields, body.data(), body.size(), &message);
    std::vector<Bytes> out;
    packetizer_.Packetize(
        message.data(), message.size(), timestamp_,
        [&](const std::uint8_t* d, std::size_t n) { out.emplace_back(d, d + n); });
    timestamp_ += 2;  // bit 0 marks the datagrams after the first
    return out;
  }
  void SendDatagram(const Bytes& datagram) {
    ASSERT_EQ(socket_.Send(address_, port_, reinterpret_cast<const char*>(datagram.data()),
                           static_cast<int>(datagram.size())),
              static_cast<int>(datagram.size()));
  }
  void Send(const presenter::ScreenMessageFields& fields, const Bytes& body) {
    for (const Bytes& d : Datagrams(fields, body)) SendDatagram(d);
  }

 private:
  static presenter::RtpPacketizer::Options Options(std::uint16_t firstSequence) {
    presenter::RtpPacketizer::Options options;
    options.firstSequence = firstSequence;
    return options;
  }

  const char* address_;
  USHORT port_;
  LoopbackSender socket_;
  presenter::RtpPacketizer packetizer_;
  std::uint32_t timestamp_ = 1000;
};

// The moments at which the engine painted into one window (ReleaseDCs that showed something),
// and how many of its DCs were released without painting. The record is shared with the
// installed observer, so a paint that is being reported while the log goes stays harmless.
class PaintLog {
 public:
  explicit PaintLog(HWND window) : record_(std::make_shared<Record>()) {
    kwz_platform::SetPaintObserverForTesting([record = record_, window](HWND w, bool painted) {
      if (w != window) return;
      std::lock_guard<std::mutex> guard(record->lock);
      if (painted) {
        record->paints.push_back(SteadyClock::now());
      } else {
        ++record->empty;
      }
    });
  }
  ~PaintLog() { kwz_platform::SetPaintObserverForTesting(nullptr); }
  PaintLog(const PaintLog&) = delete;
  PaintLog& operator=(const PaintLog&) = delete;

  std::vector<SteadyClock::time_point> Paints() const {
    std::lock_guard<std::mutex> guard(record_->lock);
    return record_->paints;
  }
  std::size_t PaintCount() const { return Paints().size(); }
  // Paints plus DCs released without painting: every Draw the engine made.
  std::size_t DrawCount() const {
    std::lock_guard<std::mutex> guard(record_->lock);
    return record_->paints.size() + record_->empty;
  }

 private:
  struct Record {
    std::mutex lock;
    std::vector<SteadyClock::time_point> paints;  // guarded by lock
    std::size_t empty = 0;                        // guarded by lock
  };
  std::shared_ptr<Record> record_;
};

// Shortest gap between consecutive moments, in milliseconds (a large value for fewer than two).
inline long long ShortestGapMs(const std::vector<SteadyClock::time_point>& moments) {
  long long shortest = 1LL << 40;
  for (std::size_t i = 1; i < moments.size(); ++i) {
    const auto gap =
        std::chrono::duration_cast<std::chrono::milliseconds>(moments[i] - moments[i - 1]);
    shortest = std::min<long long>(shortest, gap.count());
  }
  return shortest;
}

// Records every size the engine reports; the engine calls it from its own thread.
class SizeLog : public IScreenSharing {
 public:
  void OnScreenSizeChanged(std::uint32_t width, std::uint32_t height) override {
    std::lock_guard<std::mutex> guard(lock_);
    sizes_.emplace_back(width, height);
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Sizes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sizes_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes_;
};

}  // namespace kwz_test
