// The table of per-block decoding buffers of the block grid: one buffer per block, so that a
// block that fails to decompress never touches the bitmap. Owned by the surface; used only on
// the engine's thread.
//
// A whole block that decodes without fault is decoded into one warm scratch buffer and copied
// to its place in the bitmap; its own buffer would have held the same bytes, so it is marked as
// held by the bitmap instead of being written. Only a short or broken block needs its own buffer
// (a short block shows the rest of it), and then the surface takes the bytes back first.
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
  // One more buffer of BytesEach() bytes, never a block's; its contents are undefined.
  BYTE* Scratch() { return m_slab + std::uint64_t{m_count} * m_bytesEach; }

  // Whether block index's bytes are held by its place in the bitmap rather than its buffer.
  bool HeldByBitmap(std::uint32_t index) const { return m_heldByBitmap[index]; }
  void SetHeldByBitmap(std::uint32_t index, bool held);
  std::uint32_t HeldByBitmapCount() const { return m_heldCount; }

 private:
  BYTE* m_slab = nullptr;  // (m_count + 1) × m_bytesEach bytes, IPP allocation
  std::vector<bool> m_zeroed;
  std::vector<bool> m_heldByBitmap;
  std::uint32_t m_heldCount = 0;
  std::uint32_t m_count = 0;
  std::uint32_t m_bytesEach = 0;
};
