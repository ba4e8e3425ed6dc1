#include "network/CReorderQueue.h"

#include <algorithm>
#include <cstring>
#include <new>

CReorderQueue::CReorderQueue(Clock clock) : m_clock(clock) {}

bool CReorderQueue::Insert(const RtpPacketInfo& info, DWORD expected) {
  const DWORD e = info.extendedSequence;
  // Unsigned: while expected is below kLimit the window is empty.
  if (e < expected && e > expected - kLimit) return false;

  auto later = std::find_if(m_records.begin(), m_records.end(),
                            [e](const auto& queued) { return queued->info.extendedSequence >= e; });
  // A second copy of a queued datagram would come out after the first as a gap.
  if (later != m_records.end() && (*later)->info.extendedSequence == e) return false;

  auto record = std::make_unique<ReorderRecord>();
  record->info = info;
  if (info.payloadLength != 0) {
    record->payload.reset(new (std::nothrow) BYTE[info.payloadLength]);
    if (!record->payload) return false;
    std::memcpy(record->payload.get(), info.payload, info.payloadLength);
  }
  record->info.payload = record->payload.get();
  record->arrival = m_clock();
  m_records.insert(later, std::move(record));
  return true;
}

std::unique_ptr<ReorderRecord> CReorderQueue::Take(DWORD expected) {
  if (m_records.empty()) return nullptr;
  const ReorderRecord& front = *m_records.front();
  const bool due = front.info.extendedSequence == expected || m_records.size() >= kLimit ||
                   m_clock() - front.arrival >= kMaxWaitMs;
  if (!due) return nullptr;
  std::unique_ptr<ReorderRecord> taken = std::move(m_records.front());
  m_records.pop_front();
  return taken;
}
