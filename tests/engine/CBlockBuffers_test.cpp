// The block buffers: every buffer reads as zeros on its first use after Allocate, whatever the
// memory held before, and sizes beyond one allocation are refused.
#include "engine/CBlockBuffers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

TEST(BlockBuffers, EveryBufferIsZeroOnItsFirstUseAfterEachAllocate) {
  CBlockBuffers buffers;
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(buffers.Allocate(64, 40023));
    ASSERT_EQ(buffers.Count(), 64u);
    for (std::uint32_t i = 0; i < buffers.Count(); ++i) {
      BYTE* b = buffers[i];
      EXPECT_TRUE(std::all_of(b, b + buffers.BytesEach(), [](BYTE x) { return x == 0; }))
          << "round " << round << " block " << i;
      // Dirty the memory the next round's allocation is likely to reuse.
      std::memset(b, 0xA5, buffers.BytesEach());
    }
    // A buffer keeps what was decoded into it until the grid changes.
    EXPECT_EQ(buffers[7][100], 0xA5);
    // Buffers do not overlap.
    EXPECT_EQ(buffers[1] - buffers[0], 40023);
  }
}

TEST(BlockBuffers, SizesBeyondOneAllocationAreRefused) {
  CBlockBuffers buffers;
  EXPECT_FALSE(buffers.Allocate(0x10000, 0x10000));  // 4 GiB
  EXPECT_EQ(buffers.Count(), 0u);
  EXPECT_FALSE(buffers.Allocate(0, 100));
  EXPECT_FALSE(buffers.Allocate(100, 0));
  EXPECT_TRUE(buffers.Allocate(3444, 40023));  // the largest grid the endpoint lets through
  EXPECT_EQ(buffers.Count(), 3444u);
}

}  // namespace
