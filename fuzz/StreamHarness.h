// A CNetworkReceiver-derived endpoint fed through a tunnel on a virtual clock, for the targets
// that push datagrams through sequence extension, the reorder queue and reassembly.
//
// The targets wait 0 ms, so a wait with no datagram pending ends at once (NET_TIMEOUT) instead of
// lasting its time-out; the stop event is never set. Single-threaded: libFuzzer's thread builds,
// feeds and destroys it.
//
// Opening the endpoint costs more than most inputs, so a target may keep one harness for the
// whole run and Restart it before each input: the receiver then forgets its source, as a fresh
// one knows none.
#pragma once

#include <cstdint>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "network/CReorderQueue.h"
#include "platform/kernel.h"

namespace kwz_fuzz {

// The reorder queue's clock: moves only when a target says so.
inline DWORD g_virtualNow = 0;
inline DWORD VirtualNow() {
  return g_virtualNow;
}

template <class Endpoint>
class StreamHarness {
 public:
  explicit StreamHarness(DWORD clockStart)
      : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), endpoint_(&VirtualNow) {
    endpoint_.SetTunnelFactory(&factory_);
    KWZ_FUZZ_CHECK(endpoint_.Open(0, "127.0.0.1", stop_) == 0);
    endpoint_.AttachTunnel();
    Restart(clockStart);
  }
  ~StreamHarness() {
    endpoint_.DetachTunnel();
    CloseHandle(stop_);
  }
  StreamHarness(const StreamHarness&) = delete;
  StreamHarness& operator=(const StreamHarness&) = delete;

  // Back to the state of a harness just built; the previous input left nothing pending.
  void Restart(DWORD clockStart) {
    KWZ_FUZZ_CHECK(tunnel().Pending() == 0);
    g_virtualNow = clockStart;
    endpoint_.ForgetSource();
    DWORD lost = 0, received = 0;
    endpoint_.TakeCounters(&lost, &received);
    tunnel().RestartCount();
  }

  Endpoint& endpoint() { return endpoint_; }
  QueueTunnel& tunnel() { return factory_.Tunnel(); }
  void Deliver(std::vector<std::uint8_t> datagram) { tunnel().Deliver(std::move(datagram)); }
  void Advance(DWORD ms) { g_virtualNow += ms; }

 private:
  QueueTunnelFactory factory_;  // outlives the endpoint, as a sibling module's does
  HANDLE stop_;
  Endpoint endpoint_;
};

}  // namespace kwz_fuzz
