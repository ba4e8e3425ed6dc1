#include "network/CNetworkReceiver.h"

#include <cstdint>
#include <cstring>

#include "platform/clock.h"
#include "runtime/NetResult.h"

CNetworkReceiver::CNetworkReceiver(CReorderQueue::Clock clock)
    : m_queue(clock != nullptr ? clock : &timeGetTime),
      m_bReorderEnabled(true),
      m_dwCurrentSource(0),
      m_bResynchronising(1),
      m_dwExpected(0),
      m_dwFill(0),
      m_receiveBuffer{},
      m_dwReceived(0),
      m_dwLost(0) {}

CNetworkReceiver::~CNetworkReceiver() {
  m_queue.Clear();
}

void CNetworkReceiver::TakeCounters(DWORD* lost, DWORD* received) {
  *lost = m_dwLost.exchange(0, std::memory_order_relaxed);
  *received = m_dwReceived.exchange(0, std::memory_order_relaxed);
}

void CNetworkReceiver::ForgetSource() {
  CCritSecLock guard(&m_lock);
  m_queue.Clear();
  m_dwCurrentSource = 0;
  m_bResynchronising = 1;
  m_dwExpected = 0;
  m_dwFill = 0;
  m_Endpoint.ResetSource();
}

int CNetworkReceiver::ReceiveMessage(CPacket* packet, DWORD timeout) {
  CCritSecLock guard(&m_lock);
  DWORD callLost = 0;
  for (;;) {
    RtpPacketInfo datagram;
    // Held until the datagram's payload was copied or dropped.
    std::unique_ptr<ReorderRecord> record;
    const bool reordering = IsReorderEnabled();
    if (reordering && (record = m_queue.Take(m_dwExpected)) != nullptr) {
      datagram = record->info;
    } else {
      DWORD length = kReceiveBufferSize;
      const int result = WaitAndRead(m_receiveBuffer, &length, &datagram, timeout);
      if (result != static_cast<int>(NET_PACKET)) return result;
      if (reordering && m_dwExpected != 0 && datagram.ssrc == m_dwCurrentSource &&
          datagram.extendedSequence != m_dwExpected) {
        m_queue.Insert(datagram, m_dwExpected);
        continue;
      }
    }
    switch (Assemble(datagram, packet, &callLost)) {
      case Step::kContinue:
        break;
      case Step::kComplete:
        return NET_PACKET;
      case Step::kTooLarge:
        return NET_TOO_LARGE;
    }
  }
}

CNetworkReceiver::Step CNetworkReceiver::Assemble(const RtpPacketInfo& datagram, CPacket* packet,
                                                  DWORD* callLost) {
  if (packet->m_bPayloadType != 0 && datagram.payloadType != packet->m_bPayloadType)
    return Step::kContinue;
  if (datagram.ssrc != m_dwCurrentSource) {
    m_bResynchronising = 1;
    m_dwCurrentSource = datagram.ssrc;
    m_queue.Clear();
  }
  m_dwReceived.fetch_add(1, std::memory_order_relaxed);

  if (!m_bResynchronising && datagram.extendedSequence != m_dwExpected) {
    m_dwLost.fetch_add(1, std::memory_order_relaxed);
    m_bResynchronising = 1;
    *callLost = 1;
  }
  if (m_bResynchronising) {
    if ((datagram.timestamp & 1) != 0) return Step::kContinue;  // the middle of a message
    m_dwExpected = datagram.extendedSequence;
    m_bResynchronising = 0;
    m_dwFill = 0;
    packet->m_dwLength = 0;
  }

  ++m_dwExpected;
  if (std::uint64_t{m_dwFill} + datagram.payloadLength > packet->m_dwCapacity) {
    m_dwLost.fetch_add(1, std::memory_order_relaxed);
    m_bResynchronising = 1;
    return Step::kTooLarge;
  }
  if (datagram.payloadLength != 0)
    std::memcpy(packet->m_pData + m_dwFill, datagram.payload, datagram.payloadLength);
  m_dwFill += datagram.payloadLength;

  if (!datagram.marker) return Step::kContinue;
  packet->m_dwLength = m_dwFill;
  packet->m_dwTimestamp = datagram.timestamp;
  packet->m_dwSequence = datagram.extendedSequence;
  packet->m_dwLost = *callLost;
  packet->m_bPayloadType = datagram.payloadType;
  m_dwFill = 0;
  return Step::kComplete;
}
