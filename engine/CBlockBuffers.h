// The table of per-block decoding buffers of the block grid: one IPP buffer per block, so that
// a block that fails to decompress never touches the bitmap. Owned by the surface; used only
// on the engine's thread.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

class CBlockBuffers {
 public:
  CBlockBuffers() = default;
  ~CBlockBuffers() { Free(); }
  CBlockBuffers(const CBlockBuffers&) = delete;
  CBlockBuffers& operator=(const CBlockBuffers&) = delete;

  // Replaces the table by count zeroed buffers of bytesEach bytes. false, with an empty table,
  // when memory is short. The caller bounds count × bytesEach.
  bool Allocate(std::uint32_t count, std::uint32_t bytesEach);
  void Free();

  std::uint32_t Count() const { return m_count; }
  std::uint32_t BytesEach() const { return m_bytesEach; }
  // index must be below Count().
  BYTE* operator[](std::uint32_t index) const { return m_buffers[index]; }

 private:
  BYTE** m_buffers = nullptr;  // m_count IPP allocations
  std::uint32_t m_count = 0;
  std::uint32_t m_bytesEach = 0;
};
