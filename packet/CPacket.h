// One message as the transport hands it upward: an owned byte buffer and the transport's
// bookkeeping. The receiver fills it on the receiving thread; nothing here is locked.
#pragma once

#include "platform/wintypes.h"

class CPacket {
 public:
  // Allocates capacity bytes from the IPP allocator; none for 0. When the allocation fails the
  // packet has no buffer and a capacity of 0, which every non-empty message then exceeds.
  explicit CPacket(DWORD capacity);
  virtual ~CPacket();
  CPacket(const CPacket&) = delete;
  CPacket& operator=(const CPacket&) = delete;

  // Replaces the buffer by one of newCapacity bytes when that is larger than the current one;
  // the contents are not kept. On a failed allocation the old buffer stays and false is
  // returned.
  bool Grow(DWORD newCapacity);

  BYTE* m_pData;       // owned; w7_ippsMalloc_8u / w7_ippsFree
  DWORD m_dwCapacity;  // bytes at m_pData
  DWORD m_dwLength;    // valid bytes
  DWORD m_dwTimestamp;
  DWORD m_dwSequence;  // extended sequence number of the message's last datagram
  DWORD m_dwLost;      // datagrams were lost before this message
  // On the way in: the payload type asked for (0 takes any). On the way out: the one found.
  BYTE m_bPayloadType;
};
