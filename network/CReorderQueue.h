// Datagrams of the followed source that arrived before the one the receiver expects, held in
// extended-sequence order until that one comes, the queue grows to its limit, or the front has
// waited long enough. Owned by CNetworkReceiver and used only under its lock.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>

#include "network/RtpHeader.h"
#include "platform/wintypes.h"

// One queued datagram with a private copy of its payload.
struct ReorderRecord {
  RtpPacketInfo info;  // info.payload points at payload
  std::unique_ptr<BYTE[]> payload;
  DWORD arrival;  // milliseconds of the queue's clock
};

class CReorderQueue {
 public:
  // A queue this long releases its front even when the expected datagram is missing.
  static constexpr std::size_t kLimit = 20;
  // A front that has waited this long is released even when the queue is short.
  static constexpr DWORD kMaxWaitMs = 100;

  // Milliseconds, wrapping at 2^32; timeGetTime in production, a virtual clock in tests.
  using Clock = DWORD (*)();
  explicit CReorderQueue(Clock clock);
  CReorderQueue(const CReorderQueue&) = delete;
  CReorderQueue& operator=(const CReorderQueue&) = delete;

  // Queues a datagram whose extended number is not the expected one. One of the kLimit - 1
  // numbers just below expected is a late duplicate of something already handled, and a number
  // already queued a duplicate of what waits: both are dropped (false), as is a datagram whose
  // payload cannot be copied.
  bool Insert(const RtpPacketInfo& info, DWORD expected);
  // The front record when it is the expected one, when the queue is full, or when it has waited
  // kMaxWaitMs; otherwise null.
  std::unique_ptr<ReorderRecord> Take(DWORD expected);
  void Clear() { m_records.clear(); }
  std::size_t Size() const { return m_records.size(); }

 private:
  Clock m_clock;
  std::deque<std::unique_ptr<ReorderRecord>> m_records;  // ascending extended number
};
