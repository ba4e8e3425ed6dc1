// The bare decode of a stream's message bodies, as a program that called the libraries itself
// would do it: zlib's uncompress per block (an 8-bit block then looked up in a palette into 32-bit
// pixels), or the codec library's decode followed by libyuv's I420ToARGB into 32-bit pixels; the
// blocks of a screen each into its place in the screen's raster. Every mode thus ends in the
// 32-bit picture a display takes. The pipeline benchmark times the receiver against it.
// Single-threaded; one instance per stream.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kwz_codec {
class IDecoderBackend;
}

namespace kwz_bench {

class BareDecode {
 public:
  // mode: 1 zlib blocks, 2 JPEG blocks, 3 to 6 video; width and height: the padded picture;
  // bytesPerPixel: of the zlib blocks' pixels, 1 or 4.
  BareDecode(int mode, int width, int height, int bytesPerPixel = 4);
  ~BareDecode();

  // Decodes one body; false when the library refused it.
  bool Body(const std::uint8_t* body, std::size_t length);
  // Video: the last decoded picture, 32-bit, top row first, rows of width × 4 bytes.
  const std::uint8_t* Picture() const { return m_pixels.data(); }

 private:
  const int m_mode;
  const int m_width;
  const int m_height;
  const int m_bytesPerPixel;
  std::unique_ptr<kwz_codec::IDecoderBackend> m_backend;
  std::size_t m_blockSlots = 1;  // block modes: one slot per block of the screen
  std::size_t m_blocksAcross = 1;
  std::size_t m_rowBytes = 0;  // of the raster
  std::size_t m_nextSlot = 0;
  std::vector<std::uint8_t> m_pixels;
  std::vector<std::uint8_t> m_block;    // a 32-bit zlib block before it goes into place
  std::vector<std::uint8_t> m_indices;  // an 8-bit block before its palette lookup
  std::uint32_t m_palette[256] = {};
};

}  // namespace kwz_bench
