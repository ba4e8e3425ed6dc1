#include "winsock/datagram_queue.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace kwz_platform {

int DatagramQueue::Fill(const int* descriptors, std::size_t count) {
  if (count_ != 0) return 0;
  if (!storage_) {
    storage_.reset(new (std::nothrow) std::byte[kSlots * kSlotBytes]);
    if (!storage_) return ENOMEM;
  }
  std::array<mmsghdr, kSlots> messages{};
  std::array<iovec, kSlots> vectors{};
  std::array<sockaddr_in, kSlots> senders{};
  for (std::size_t i = 0; i < kSlots; ++i) {
    vectors[i] = iovec{storage_.get() + i * kSlotBytes, kSlotBytes};
    messages[i].msg_hdr.msg_name = &senders[i];
    messages[i].msg_hdr.msg_namelen = sizeof senders[i];
    messages[i].msg_hdr.msg_iov = &vectors[i];
    messages[i].msg_hdr.msg_iovlen = 1;
  }
  int firstError = EAGAIN;
  std::size_t taken = 0;
  for (std::size_t d = 0; d < count && taken < kSlots; ++d) {
    const int got = ::recvmmsg(descriptors[d], messages.data() + taken,
                               static_cast<unsigned>(kSlots - taken), MSG_DONTWAIT, nullptr);
    if (got < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && firstError == EAGAIN) firstError = errno;
      continue;
    }
    taken += static_cast<std::size_t>(got);
  }
  if (taken == 0) return firstError;
  for (std::size_t i = 0; i < taken; ++i) {
    slots_[i] = Slot{messages[i].msg_len, senders[i].sin_addr.s_addr, senders[i].sin_port};
  }
  head_ = 0;
  count_ = taken;
  return 0;
}

std::size_t DatagramQueue::Pop(void* buffer, std::size_t length, std::uint32_t* address,
                               std::uint16_t* port) {
  const Slot& slot = slots_[head_];
  std::memcpy(buffer, storage_.get() + head_ * kSlotBytes, std::min(length, slot.size));
  *address = slot.address;
  *port = slot.port;
  head_ = (head_ + 1) % kSlots;
  --count_;
  return slot.size;
}

}  // namespace kwz_platform
