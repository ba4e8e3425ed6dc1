// Extends the 16-bit RTP sequence numbers of one source to 32 bits, counting wraps in steps of
// 65536. Owned by the RTP endpoint and used only on the receiving thread.
#pragma once

#include "platform/wintypes.h"

class RtpSequence {
 public:
  // Forgets the source: the next number starts the count again.
  void Reset() { *this = RtpSequence{}; }
  bool IsInitialised() const { return m_bInitialised != 0; }

  // The extended number of the next datagram's sequence number.
  //
  // The first number s after a reset gets cycles + s with cycles 0, except 0 itself, which is
  // counted as the first number after a wrap (65536) so that the number before it, base, is
  // never negative. Afterwards, with h the low half of the highest number so far:
  //   s >= h                        newer: cycles + s, and the highest moves there
  //   s <  h, s closer below h      older: cycles + s, the highest stays
  //   s <  h, s closer above h      the counter wrapped: one more cycle, the highest moves
  // A datagram from just before a wrap that arrives after it is "s >= h" and is counted in the
  // new cycle; the reorder queue then meets it far ahead of the one it expects.
  DWORD Extend(WORD sequence);

 private:
  BYTE m_bInitialised = 0;
  DWORD m_dwCycles = 0;
  DWORD m_dwHighest = 0;
  DWORD m_dwBase = 0;
};
