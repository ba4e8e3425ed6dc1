#include "apps/kwz-relay/RelayRun.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

#include "impair/CImpairment.h"
#include "platform/clock.h"
#include "platform/kernel.h"
#include "platform/winsock.h"

namespace kwz_relay {
namespace {

constexpr const char* kLoopback = "127.0.0.1";
// Deep enough to ride out a burst of 50 000 datagrams a second while decisions are made.
constexpr int kSocketBufferBytes = 4 << 20;
// The longest wait between looks at the stop flag and the time limit.
constexpr DWORD kMaxWaitMs = 50;

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = inet_addr(kLoopback);
  return address;
}

// timeGetTime widened to 64 bits, so a long run never sees the clock go backwards.
class Clock {
 public:
  Clock() : last_(timeGetTime()) {}
  std::uint64_t Now() {
    const DWORD now = timeGetTime();
    total_ += static_cast<DWORD>(now - last_);
    last_ = now;
    return total_;
  }

 private:
  DWORD last_;
  std::uint64_t total_ = 0;
};

class Sockets {
 public:
  ~Sockets() {
    if (in != INVALID_SOCKET) closesocket(in);
    if (out != INVALID_SOCKET) closesocket(out);
    if (event != WSA_INVALID_EVENT) WSACloseEvent(event);
    if (started) WSACleanup();
  }
  bool started = false;
  SOCKET in = INVALID_SOCKET;
  SOCKET out = INVALID_SOCKET;
  WSAEVENT event = WSA_INVALID_EVENT;
};

void Send(SOCKET s, const sockaddr_in& to, const std::vector<ImpairedDatagram>& datagrams) {
  for (const ImpairedDatagram& d : datagrams) {
    // A full send buffer loses the datagram, as a congested link would.
    sendto(s, reinterpret_cast<const char*>(d.bytes.data()), static_cast<int>(d.bytes.size()), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
}

}  // namespace

int RunRelay(const RelayOptions& options, const std::atomic<bool>& stop, std::FILE* out,
             std::FILE* err) {
  Sockets s;
  WSADATA data;
  s.started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  if (!s.started) {
    std::fprintf(err, "kwz-relay: sockets are not available\n");
    return 1;
  }
  s.in = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  s.out = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  s.event = WSACreateEvent();
  const sockaddr_in listen = Loopback(options.listenPort);
  const sockaddr_in target = Loopback(options.targetPort);
  const int buffer = kSocketBufferBytes;
  if (s.in == INVALID_SOCKET || s.out == INVALID_SOCKET || s.event == WSA_INVALID_EVENT) {
    std::fprintf(err, "kwz-relay: cannot create sockets (error %d)\n", WSAGetLastError());
    return 1;
  }
  setsockopt(s.in, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
  setsockopt(s.out, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
  if (bind(s.in, reinterpret_cast<const sockaddr*>(&listen), sizeof listen) != 0) {
    std::fprintf(err, "kwz-relay: cannot listen on %s:%u (error %d)\n", kLoopback,
                 options.listenPort, WSAGetLastError());
    return 1;
  }
  if (WSAEventSelect(s.in, s.event, FD_READ) != 0) {
    std::fprintf(err, "kwz-relay: cannot wait on the socket (error %d)\n", WSAGetLastError());
    return 1;
  }
  std::fprintf(out, "kwz-relay: %s:%u -> %s:%u\n", kLoopback, options.listenPort, kLoopback,
               options.targetPort);
  std::fflush(out);

  CImpairment impairment(options.impair, options.script);
  Clock clock;
  const std::uint64_t endMs =
      options.seconds ? std::uint64_t{*options.seconds} * 1000 : CImpairment::kNothingDue;
  std::vector<char> datagram(65536);
  std::vector<ImpairedDatagram> due;
  while (!stop.load(std::memory_order_relaxed)) {
    std::uint64_t now = clock.Now();
    if (now >= endMs) break;
    if (options.count && impairment.Stats().received >= *options.count) break;
    const std::uint64_t wake = std::min({impairment.NextDue(), endMs, now + kMaxWaitMs});
    const DWORD waitMs = static_cast<DWORD>(wake > now ? wake - now : 0);
    const DWORD woke = WSAWaitForMultipleEvents(1, &s.event, FALSE, waitMs, FALSE);
    if (woke == WSA_WAIT_FAILED) {
      std::fprintf(err, "kwz-relay: the wait failed (error %d)\n", WSAGetLastError());
      return 1;
    }
    if (woke == WSA_WAIT_EVENT_0) {
      WSANETWORKEVENTS events;
      WSAEnumNetworkEvents(s.in, s.event, &events);
      // Drains the socket; the count limit stops the reads, not just the loop.
      while (!options.count || impairment.Stats().received < *options.count) {
        const int n =
            recvfrom(s.in, datagram.data(), static_cast<int>(datagram.size()), 0, nullptr, nullptr);
        if (n < 0) break;
        impairment.Push(std::vector<std::uint8_t>(datagram.begin(), datagram.begin() + n),
                        clock.Now());
      }
    }
    due.clear();
    impairment.Take(clock.Now(), &due);
    Send(s.out, target, due);
  }
  due.clear();
  impairment.Flush(&due);
  Send(s.out, target, due);

  const ImpairStats& st = impairment.Stats();
  std::fprintf(out,
               "received %" PRIu64 " sent %" PRIu64 " dropped %" PRIu64 " duplicated %" PRIu64
               " reordered %" PRIu64 " truncated %" PRIu64 "\n",
               st.received, st.sent, st.dropped, st.duplicated, st.reordered, st.truncated);
  std::fflush(out);
  return 0;
}

}  // namespace kwz_relay
