#include "network/RtpSequence.h"

DWORD RtpSequence::Extend(WORD sequence) {
  if (!m_bInitialised) {
    m_bInitialised = 1;
    if (sequence != 0) {
      m_dwBase = sequence - 1u;
      m_dwCycles = 0;
    } else {
      m_dwBase = 65535;
      m_dwCycles = 65536;
    }
    m_dwHighest = m_dwBase + 1;
    return m_dwHighest;
  }
  const WORD high = static_cast<WORD>(m_dwHighest);
  if (sequence >= high) {
    m_dwHighest = m_dwCycles + sequence;
    return m_dwHighest;
  }
  const WORD above = static_cast<WORD>(sequence - high);  // how far s lies after h, wrapping
  const WORD below = static_cast<WORD>(high - sequence);  // how far s lies before h
  if (above >= below) return m_dwCycles + sequence;
  m_dwCycles += 65536;
  m_dwHighest = m_dwCycles + sequence;
  return m_dwHighest;
}
