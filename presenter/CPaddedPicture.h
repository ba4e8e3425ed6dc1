// The captured screen padded to the size that viewers rebuild (whole blocks, or multiples of 16
// for the video codecs), in the row order in which they store it.
//
// Viewers keep a bottom-up DIB: memory row 0 is the bottom row, the padding rows lie below the
// screen and the padding columns to its right. Blocks and 32-bit video frames are taken in that
// memory order (kBottomUp: the padding rows first, then the screen from its bottom row up);
// 24-bit video frames are mirrored by the viewer's decoder, so they are coded upright
// (kTopDown: the screen from its top row, then the padding rows). Padding repeats the last
// column and row, which costs the codecs least.
//
// Owned by one streamer and used on its thread only.
#pragma once

#include <cstdint>
#include <vector>

namespace presenter {

enum class RowOrder { kTopDown, kBottomUp };

// A 32-bit BGRA picture, top row first, as a capture delivers it. Not owned.
struct BgraView {
  const std::uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int strideBytes = 0;  // at least width × 4
};

class CPaddedPicture {
 public:
  // Copies source into a picture of paddedWidth × paddedHeight (each at least the source's).
  // False, leaving the picture as it was, for a null or inconsistent source.
  bool Fill(const BgraView& source, int paddedWidth, int paddedHeight, RowOrder order);

  int Width() const { return m_width; }
  int Height() const { return m_height; }
  int StrideBytes() const { return m_width * 4; }
  const std::uint8_t* Data() const { return m_pixels.data(); }
  const std::uint8_t* Row(int row) const {
    return m_pixels.data() + static_cast<std::size_t>(row) * StrideBytes();
  }
  void Swap(CPaddedPicture& other) { std::swap(*this, other); }

 private:
  int m_width = 0;
  int m_height = 0;
  std::vector<std::uint8_t> m_pixels;
};

}  // namespace presenter
