#include "engine/CBlockBuffers.h"

#include <cstdint>
#include <new>

#include "platform/ipp.h"

bool CBlockBuffers::Allocate(std::uint32_t count, std::uint32_t bytesEach) {
  Free();
  const std::uint64_t total = (std::uint64_t{count} + 1) * bytesEach;
  if (count == 0 || bytesEach == 0 || total > 0x7FFFFFFFu) return false;
  m_slab = w7_ippsMalloc_8u(static_cast<int>(total));
  if (m_slab == nullptr) return false;
  try {
    m_zeroed.assign(count, false);
    m_heldByBitmap.assign(count, false);
  } catch (const std::bad_alloc&) {
    Free();
    return false;
  }
  m_count = count;
  m_bytesEach = bytesEach;
  return true;
}

BYTE* CBlockBuffers::operator[](std::uint32_t index) {
  BYTE* buffer = m_slab + std::uint64_t{index} * m_bytesEach;
  if (!m_zeroed[index]) {
    w7_ippsZero_8u(buffer, static_cast<int>(m_bytesEach));
    m_zeroed[index] = true;
  }
  return buffer;
}

void CBlockBuffers::SetHeldByBitmap(std::uint32_t index, bool held) {
  if (m_heldByBitmap[index] == held) return;
  m_heldByBitmap[index] = held;
  if (held) {
    ++m_heldCount;
  } else {
    --m_heldCount;
  }
}

void CBlockBuffers::Free() {
  w7_ippsFree(m_slab);
  m_slab = nullptr;
  m_zeroed.clear();
  m_zeroed.shrink_to_fit();
  m_heldByBitmap.clear();
  m_heldByBitmap.shrink_to_fit();
  m_heldCount = 0;
  m_count = 0;
  m_bytesEach = 0;
}
