// Shared pieces of the fuzz targets: a forward reader over the input, the check that stops a
// run when a property fails, and a tunnel that hands datagrams to a receiving endpoint without
// a socket.
//
// Everything here runs on libFuzzer's single thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "network/ITunnel.h"
#include "platform/kernel.h"

namespace kwz_fuzz {

// A property of the code under test did not hold: libFuzzer keeps the input that got here.
#define KWZ_FUZZ_CHECK(condition)                                                        \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// With KWZ_FUZZ_REPEAT in the environment (the corpus replay sets it) a target that keeps state
// from one input to the next runs each input twice in a row and checks that both runs had the
// same outcome: whatever it keeps must be reset in between.
inline bool RepeatInputs() {
  static const bool repeat = std::getenv("KWZ_FUZZ_REPEAT") != nullptr;
  return repeat;
}

// What an input did, folded into one number; it folds only when inputs are repeated, so that
// fuzzing does not pay for hashing.
class Outcome {
 public:
  void Add(std::uint64_t value) {
    if (RepeatInputs()) hash_ = (hash_ ^ value) * 0x100000001B3u;  // FNV-1a over words
  }
  void Add(const void* data, std::size_t size) {
    if (!RepeatInputs()) return;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i) Add(bytes[i]);
  }
  std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xCBF29CE484222325u;
};

// Runs an input (run returns its Outcome's value), twice when inputs are repeated.
template <class Run>
void RunInput(Run&& run) {
  const std::uint64_t first = run();
  if (RepeatInputs()) KWZ_FUZZ_CHECK(run() == first);
}

// Reads the input front to back; past the end every number is 0 and every span empty, so a
// target never has to care where the input stops.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Remaining() const { return size_ - at_; }
  bool Empty() const { return at_ >= size_; }

  std::uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t U16() {
    const std::uint16_t low = U8();
    return static_cast<std::uint16_t>(low | (U8() << 8));
  }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | (std::uint32_t{U16()} << 16);
  }
  // Up to n bytes (fewer at the end of the input).
  const std::uint8_t* Take(std::size_t n, std::size_t* taken) {
    *taken = n < Remaining() ? n : Remaining();
    const std::uint8_t* span = data_ + at_;
    at_ += *taken;
    return span;
  }
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    std::size_t taken = 0;
    const std::uint8_t* span = Take(n, &taken);
    return std::vector<std::uint8_t>(span, span + taken);
  }
  // The rest of the input.
  std::vector<std::uint8_t> Rest() { return Bytes(Remaining()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Appends little-endian numbers, the way the seed writers lay out what Reader reads.
inline void PutU8(std::vector<std::uint8_t>* out, unsigned value) {
  out->push_back(static_cast<std::uint8_t>(value));
}
inline void PutU16(std::vector<std::uint8_t>* out, unsigned value) {
  PutU8(out, value);
  PutU8(out, value >> 8);
}
inline void PutU32(std::vector<std::uint8_t>* out, std::uint32_t value) {
  PutU16(out, value & 0xFFFF);
  PutU16(out, value >> 16);
}

// A receiving tunnel whose datagrams the target queues; its event is set while one is pending,
// as a real tunnel's is.
class QueueTunnel final : public ITunnel {
 public:
  QueueTunnel() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~QueueTunnel() { CloseHandle(event_); }
  QueueTunnel(const QueueTunnel&) = delete;
  QueueTunnel& operator=(const QueueTunnel&) = delete;

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
  // Datagrams the endpoint has read so far.
  std::size_t HandedOut() const { return handedOut_; }
  void RestartCount() { handedOut_ = 0; }

 private:
  HANDLE event_;
  std::deque<std::vector<std::uint8_t>> queued_;
  std::size_t handedOut_ = 0;
};

// Gives out one QueueTunnel, owned by the factory, which outlives the endpoint.
class QueueTunnelFactory final : public ITunnelFactory {
 public:
  ITunnel* CreateReceiver(TunnelAddress) override { return &tunnel_; }
  ITunnel* CreateSender() override { return nullptr; }
  void Release(ITunnel*) override {}
  QueueTunnel& Tunnel() { return tunnel_; }

 private:
  QueueTunnel tunnel_;
};

}  // namespace kwz_fuzz
