// Helpers of the engine's tests: a presenter stand-in that sends screen messages as RTP over
// loopback UDP, a count of the paints that reach a window, a virtual clock, a free port to open
// on, and a bounded wait for a condition.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/IScreenSharing.h"
#include "platform/gdi_testing.h"
#include "platform/widestring.h"
#include "platform/winsock.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"
#include "tests/engine/SurfaceTestSupport.h"
#include "tests/network/NetworkTestSupport.h"

namespace kwz_test {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

// Polls condition every few milliseconds until it holds or timeoutMs passed.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (SteadyClock::now() >= deadline) return false;
    // A poll: window pixels and the screen rectangle change without an event of their own.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Whether a socket without SO_REUSEADDR can bind address:port (0: any), i.e. whether nothing
// holds it; *bound, if given, gets the port it had.
inline bool CanBind(const char* address, USHORT port, USHORT* bound = nullptr) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = inet_addr(address);
  const bool ok = bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
  if (ok && bound != nullptr) *bound = BoundPort(s);
  closesocket(s);
  WSACleanup();
  return ok;
}

// An even UDP port that nothing on 127.0.0.1 holds right now (the endpoint refuses odd ones).
inline USHORT FreeEvenPort() {
  for (int attempt = 0; attempt < 64; ++attempt) {
    USHORT port = 0;
    if (CanBind("127.0.0.1", 0, &port) && port % 2 == 0) return port;
  }
  return 0;
}

// The presenter's side of the tests: screen messages cut into RTP datagrams and sent to one
// address (unicast or a group, multicast on loopback with TTL 0).
class ScreenSender {
 public:
  ScreenSender(const char* address, USHORT port, std::uint16_t firstSequence = 1)
      : address_(address), port_(port), packetizer_([firstSequence] {
          presenter::RtpPacketizer::Options options;
          options.firstSequence = firstSequence;
          return options;
        }()) {}

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
  const char* address_;
  USHORT port_;
  LoopbackSender socket_;
  presenter::RtpPacketizer packetizer_;
  std::uint32_t timestamp_ = 1000;
};

// How many Draws the engine made into one window: those that painted something and those that
// released the DC without painting. The record is shared with the installed observer, so a
// paint that is being reported while the log goes stays harmless.
class PaintLog {
 public:
  explicit PaintLog(HWND window) : counts_(std::make_shared<Counts>()) {
    kwz_platform::SetPaintObserverForTesting([counts = counts_, window](HWND w, bool painted) {
      if (w == window) ++(*counts)[painted ? 0 : 1];
    });
  }
  ~PaintLog() { kwz_platform::SetPaintObserverForTesting(nullptr); }
  PaintLog(const PaintLog&) = delete;
  PaintLog& operator=(const PaintLog&) = delete;

  std::size_t PaintCount() const { return (*counts_)[0]; }
  std::size_t DrawCount() const { return (*counts_)[0] + (*counts_)[1]; }

 private:
  using Counts = std::array<std::atomic<std::size_t>, 2>;  // painted, released unpainted
  std::shared_ptr<Counts> counts_;
};

struct VirtualClockState {
  std::mutex lock;
  std::condition_variable read;
  DWORD now = 1000000;
  std::uint64_t reads = 0;
  pid_t reader = 0;
};

// The engine's clock in the timing tests: it moves only when a test says so, and counts the
// engine's passes, each of which reads it once.
class VirtualClock {
 public:
  static DWORD Now() {
    std::lock_guard<std::mutex> guard(state_.lock);
    state_.reader = gettid();
    ++state_.reads;
    state_.read.notify_all();
    return state_.now;
  }
  static void Advance(DWORD ms) {
    std::lock_guard<std::mutex> guard(state_.lock);
    state_.now += ms;
  }
  static std::uint64_t Reads() {
    std::lock_guard<std::mutex> guard(state_.lock);
    return state_.reads;
  }
  // Waits until the clock was read `target` times in all; the draw of a pass is done once the
  // next one reads.
  static bool WaitForReads(std::uint64_t target) {
    std::unique_lock<std::mutex> lock(state_.lock);
    return state_.read.wait_for(lock, std::chrono::seconds(10),
                                [&] { return state_.reads >= target; });
  }
  static bool WaitForPasses(unsigned passes) { return WaitForReads(Reads() + passes); }
  // Waits until the thread that last read the clock sleeps, as it does in its wait for a
  // datagram; false after 10 s.
  static bool WaitUntilReaderSleeps() {
    const pid_t reader = [] {
      std::lock_guard<std::mutex> guard(state_.lock);
      return state_.reader;
    }();
    return WaitUntil([&] {
      std::ifstream stat("/proc/self/task/" + std::to_string(reader) + "/stat");
      std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
      const std::size_t end = text.rfind(')');
      return end != std::string::npos && end + 2 < text.size() && text[end + 2] == 'S';
    });
  }

 private:
  inline static VirtualClockState state_;
};

// The received count of an engine's "lost/received" report; 0 for anything else.
inline unsigned Received(const std::u16string& report) {
  unsigned lost = 0, received = 0;
  return std::sscanf(Narrow(report.c_str()).c_str(), "%u/%u", &lost, &received) == 2 ? received : 0;
}

}  // namespace kwz_test
