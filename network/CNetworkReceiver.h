// Turns the datagrams of a CNetwork endpoint into whole messages: puts datagrams that arrive
// out of order back in order and concatenates the payloads of one message, from a datagram
// whose timestamp has bit 0 clear up to the one with the marker. A gap drops the message being
// assembled; the receiver then waits for the next start.
//
// Threads: ReceiveMessage runs on the engine's receiving thread and holds the receiver's lock
// for its whole duration, waits included; the engine's stop event ends a pending wait. The
// counters are read and cleared from any thread without that lock. SetReorderEnabled is meant
// for before Open.
#pragma once

#include <atomic>
#include <cstddef>

#include "network/CNetwork.h"
#include "network/CReorderQueue.h"
#include "packet/CPacket.h"
#include "runtime/CCriticalSection.h"

class CNetworkReceiver : public CNetwork {
 public:
  static constexpr DWORD kReceiveBufferSize = 65536;

  // clock: the reorder queue's milliseconds; tests drive a virtual one.
  explicit CNetworkReceiver(CReorderQueue::Clock clock = nullptr);
  ~CNetworkReceiver() override;

  // Waits for the next whole message, each wait for a datagram lasting at most timeout ms, and
  // fills packet with it. On entry packet->m_bPayloadType filters the datagrams (0 takes all).
  // Returns NET_PACKET with length, timestamp, sequence number, lost flag and payload type
  // filled; NET_TOO_LARGE when the message outgrew packet->m_dwCapacity (it is dropped); or
  // the wait's NET_STOPPED, NET_TIMEOUT, NET_WAIT_FAILED or RTPERR_NO_RTP_DATA, after which
  // the next call continues the same message in the same packet.
  int ReceiveMessage(CPacket* packet, DWORD timeout);

  void SetReorderEnabled(bool enabled) {
    m_bReorderEnabled.store(enabled, std::memory_order_relaxed);
  }
  bool IsReorderEnabled() const { return m_bReorderEnabled.load(std::memory_order_relaxed); }
  // Datagrams waiting in the reorder queue; receiving thread only, for diagnostics and checks.
  std::size_t QueuedDatagrams() const { return m_queue.Size(); }

  // Datagrams processed and losses (gaps, oversize messages) counted since the last call, which
  // sets both to 0. A count made by the receiving thread during the call lands in one call or
  // the next, never in neither.
  void TakeCounters(DWORD* lost, DWORD* received);

  // Drops the message being assembled and the reorder queue and forgets the followed source and
  // its sequence count, keeping the socket and the counters. For a caller that knows the stream
  // starts over (a presenter restarted under the same identifier, a replay run again), whose
  // numbers would otherwise be taken for late duplicates. Takes the receiver's lock, so it
  // waits for a ReceiveMessage in progress.
  void ForgetSource();

 private:
  // One datagram through steps of the assembly; returns true when the message is complete.
  enum class Step { kContinue, kComplete, kTooLarge };
  Step Assemble(const RtpPacketInfo& datagram, CPacket* packet, DWORD* callLost);

  // Guarded by m_lock (the receiving thread's state).
  CReorderQueue m_queue;
  std::atomic<bool> m_bReorderEnabled;
  DWORD m_dwCurrentSource;  // SSRC being followed; 0 at start
  BYTE m_bResynchronising;  // waiting for a start datagram
  // Extended number expected next; 0 also means that no message has started yet, which keeps
  // datagrams in arrival order until then.
  DWORD m_dwExpected;
  DWORD m_dwFill;  // bytes of the message assembled so far
  BYTE m_receiveBuffer[kReceiveBufferSize];

  // Counted on the receiving thread, taken by the engine without the lock.
  std::atomic<DWORD> m_dwReceived;
  std::atomic<DWORD> m_dwLost;

  CCriticalSection m_lock;
};
