// A CNetworkReceiver-derived endpoint fed through a tunnel on a virtual clock, on libFuzzer's
// thread. The targets wait 0 ms, so a wait with nothing pending ends at once (NET_TIMEOUT). Opening
// the endpoint costs more than most inputs, so a target keeps one harness for the run and
// Restarts it before each input: the receiver then forgets its source, as a fresh one knows none.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "network/CReorderQueue.h"
#include "network/ITunnel.h"
#include "platform/kernel.h"

namespace kwz_fuzz {

// A receiving tunnel whose datagrams the target queues; its event is set while one is pending.
class QueueTunnel final : public ITunnel {
 public:
  QueueTunnel() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~QueueTunnel() { CloseHandle(event_); }

  void Reserved0() override { std::abort(); }
  int Receive(BYTE* buffer, int capacity, TunnelAddress*) override {
    if (queued_.empty()) return 0;
    const std::vector<std::uint8_t> datagram = std::move(queued_.front());
    queued_.pop_front();
    if (queued_.empty()) ResetEvent(event_);
    KWZ_FUZZ_CHECK(datagram.size() <= static_cast<std::size_t>(capacity));
    if (!datagram.empty()) std::memcpy(buffer, datagram.data(), datagram.size());
    ++handedOut_;
    return static_cast<int>(datagram.size());
  }
  void Reserved2() override { std::abort(); }
  int Send(const BYTE*, int length, TunnelAddress) override { return length; }
  HANDLE GetEvent() override { return event_; }
  void Reserved5() override { std::abort(); }
  void SetOption(BYTE) override {}

  void Deliver(std::vector<std::uint8_t> datagram) {
    queued_.push_back(std::move(datagram));
    SetEvent(event_);
  }
  std::size_t Pending() const { return queued_.size(); }
  // Datagrams the endpoint has read since the last Restart.
  std::size_t HandedOut() const { return handedOut_; }
  void RestartCount() { handedOut_ = 0; }

 private:
  HANDLE event_;
  std::deque<std::vector<std::uint8_t>> queued_;
  std::size_t handedOut_ = 0;
};

// The reorder queue's clock: moves only when a target says so.
inline DWORD g_virtualNow = 0;
inline DWORD VirtualNow() {
  return g_virtualNow;
}

// Also the endpoint's tunnel factory, whose one QueueTunnel outlives the endpoint.
template <class Endpoint>
class StreamHarness final : public ITunnelFactory {
 public:
  explicit StreamHarness(DWORD clockStart)
      : stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), endpoint_(&VirtualNow) {
    endpoint_.SetTunnelFactory(this);
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

  ITunnel* CreateReceiver(TunnelAddress) override { return &tunnel_; }
  ITunnel* CreateSender() override { return nullptr; }
  void Release(ITunnel*) override {}

  // Back to the state of a harness just built; the previous input left nothing pending.
  void Restart(DWORD clockStart) {
    KWZ_FUZZ_CHECK(tunnel_.Pending() == 0);
    g_virtualNow = clockStart;
    endpoint_.ForgetSource();
    DWORD lost = 0, received = 0;
    endpoint_.TakeCounters(&lost, &received);
    tunnel_.RestartCount();
  }

  Endpoint& endpoint() { return endpoint_; }
  QueueTunnel& tunnel() { return tunnel_; }
  void Deliver(std::vector<std::uint8_t> datagram) { tunnel_.Deliver(std::move(datagram)); }
  void Advance(DWORD ms) { g_virtualNow += ms; }

 private:
  QueueTunnel tunnel_;
  HANDLE stop_;
  Endpoint endpoint_;
};

}  // namespace kwz_fuzz
