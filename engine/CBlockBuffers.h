// The table of per-block decoding buffers of the block grid: one buffer per block, so that a
// block that fails to decompress never touches the bitmap. Owned by the surface; used only on
// the engine's thread.
//
// The buffers are slices of one IPP allocation, each zeroed when it is first handed out: a grid
// that a sender merely announces costs address space, not memory, until its blocks arrive, and
// one large allocation goes back to the system whole when the grid changes (thousands of small
// ones would stay in the heap, resident).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/wintypes.h"

class CBlockBuffers {
 public:
  CBlockBuffers() = default;
  ~CBlockBuffers() { Free(); }
  CBlockBuffers(const CBlockBuffers&) = delete;
  CBlockBuffers& operator=(const CBlockBuffers&) = delete;

  // Replaces the table by count buffers of bytesEach bytes. false, with an empty table, when
  // memory is short or count × bytesEach exceeds what one allocation may take.
  bool Allocate(std::uint32_t count, std::uint32_t bytesEach);
  void Free();

  std::uint32_t Count() const { return m_count; }
  std::uint32_t BytesEach() const { return m_bytesEach; }
  // The buffer of block index (below Count()), zeroed on its first use since Allocate: a short
  // block copies its buffer whole, and stale heap bytes must never reach the screen.
  BYTE* operator[](std::uint32_t index);

 private:
  BYTE* m_slab = nullptr;  // m_count × m_bytesEach bytes, IPP allocation
  std::vector<bool> m_zeroed;
  std::uint32_t m_count = 0;
  std::uint32_t m_bytesEach = 0;
};
