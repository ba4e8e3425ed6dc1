// Internal to platform/: datagrams that a socket took from its descriptor in one batch and hands
// out one at a time. A receiver woken for one datagram usually finds several (a message's worth)
// behind it, and taking them with one recvmmsg instead of a wait, an FIONREAD and a recvfrom
// each leaves the answers of the calls as they were. Not thread-safe: its socket guards it.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kwz_platform {

class DatagramQueue {
 public:
  // At most this many datagrams wait in the queue, beyond what the kernel buffers.
  static constexpr std::size_t kSlots = 8;
  // Room for the largest IPv4 datagram's payload.
  static constexpr std::size_t kSlotBytes = 65536;

  bool Empty() const { return count_ == 0; }
  // Takes what waits on the datagram descriptors, up to kSlots, without blocking, the first
  // descriptor's datagrams first; only when the queue is empty. 0, or an errno value: EAGAIN
  // when nothing waits, ENOMEM when the slots cannot be allocated (the caller then reads as
  // before), or the first descriptor's error when none gave a datagram.
  int Fill(const int* descriptors, std::size_t count);
  // The whole size of the next datagram; the queue must not be empty.
  std::size_t FrontSize() const { return slots_[head_].size; }
  // Moves the next datagram into buffer, cut to length, and returns its whole size and its
  // sender (address and port in network order). The queue must not be empty.
  std::size_t Pop(void* buffer, std::size_t length, std::uint32_t* address, std::uint16_t* port);

 private:
  struct Slot {
    std::size_t size = 0;
    std::uint32_t address = 0;
    std::uint16_t port = 0;
  };

  std::unique_ptr<std::byte[]> storage_;  // kSlots × kSlotBytes, from the first fill on
  std::array<Slot, kSlots> slots_{};
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};

}  // namespace kwz_platform
