// Codes one block of the block grid as the body of a screen message: zlib over 8-bit 3-3-2
// palette indices or 32-bit BGRA (mode 1), or a Motion JPEG picture of 32-bit pixels (mode 2).
//
// Blocks are numbered from the bottom-left corner of the padded picture, row by row, and a
// block's rows follow the bitmap's memory order: its first row is its bottom row. The picture
// handed in is therefore the padded screen in bottom-up order (CPaddedPicture, kBottomUp).
//
// Owned by one streamer; used on its thread only. The JPEG encoder opens an FFmpeg context under
// the codec mutex.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "presenter/CPaddedPicture.h"
#include "presenter/ScreenStreamSettings.h"

class CVideoEncoder;

namespace presenter {

// The 3-3-2 palette index nearest to a colour: red in bits 7-5, green 4-2, blue 1-0.
std::uint8_t PaletteIndex332(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

class CBlockCoder {
 public:
  // Raises exc_screen_streamer when the JPEG block encoder cannot be opened.
  explicit CBlockCoder(const ScreenStreamSettings& settings);
  ~CBlockCoder();
  CBlockCoder(const CBlockCoder&) = delete;
  CBlockCoder& operator=(const CBlockCoder&) = delete;

  // Codes block index of picture (bottom-up, a whole number of blocks in each direction) into
  // *body. False when the block lies outside the picture or its codec failed; the caller tries
  // that block again with the next frame.
  bool Code(const CPaddedPicture& picture, int index, std::vector<std::uint8_t>* body);

  // True when block index differs between two pictures of the same size.
  static bool BlockDiffers(const CPaddedPicture& a, const CPaddedPicture& b, int index);

 private:
  // Copies the block's rows, in memory order, into m_block (32-bit) or m_indices (8-bit).
  bool Gather(const CPaddedPicture& picture, int index);

  const ScreenStreamSettings m_settings;
  std::unique_ptr<CVideoEncoder> m_jpeg;  // mode 2 only
  std::vector<std::uint8_t> m_block;      // kBlockWidth × kBlockHeight × 4
  std::vector<std::uint8_t> m_indices;    // kBlockWidth × kBlockHeight, 8-bit blocks only
};

}  // namespace presenter
