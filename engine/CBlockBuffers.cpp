#include "engine/CBlockBuffers.h"

#include <new>

#include "platform/ipp.h"

bool CBlockBuffers::Allocate(std::uint32_t count, std::uint32_t bytesEach) {
  Free();
  if (count == 0 || bytesEach == 0 || bytesEach > 0x7FFFFFFFu) return false;
  m_buffers = new (std::nothrow) BYTE*[count]();
  if (m_buffers == nullptr) return false;
  m_count = count;
  m_bytesEach = bytesEach;
  for (std::uint32_t i = 0; i < count; ++i) {
    m_buffers[i] = w7_ippsMalloc_8u(static_cast<int>(bytesEach));
    if (m_buffers[i] == nullptr) {
      Free();
      return false;
    }
    // A short block copies its buffer whole; stale heap bytes must never reach the screen.
    w7_ippsZero_8u(m_buffers[i], static_cast<int>(bytesEach));
  }
  return true;
}

void CBlockBuffers::Free() {
  if (m_buffers != nullptr) {
    for (std::uint32_t i = 0; i < m_count; ++i) w7_ippsFree(m_buffers[i]);
    delete[] m_buffers;
  }
  m_buffers = nullptr;
  m_count = 0;
  m_bytesEach = 0;
}
