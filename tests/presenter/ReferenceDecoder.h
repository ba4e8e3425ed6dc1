// Decodes the presenter's frames with the codec libraries directly, the way a receiver would
// (OpenH264 DecodeFrameNoDelay, libvpx after the 4-byte marker, FFmpeg's mpeg4 decoder), so the
// encoders are checked without the project's own decoder.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace kwz_test {

struct I420Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;  // Y, U, V without row padding
};

class ReferenceDecoder {
 public:
  // streamMode 3 (MPEG-4), 4 (H.264), 5 (VP8) or 6 (VP9).
  explicit ReferenceDecoder(int streamMode);
  ~ReferenceDecoder();

  // One message body in, one picture out. False when the library rejects the data or shows no
  // picture. VP8 and VP9 bodies must open with a marker word; it is checked and skipped.
  bool Decode(const std::vector<uint8_t>& body, I420Image* picture);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// PSNR over all three planes of two pictures of one size.
double PsnrI420(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);
// PSNR of the luma plane alone.
double PsnrLuma(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width,
                int height);

uint32_t LittleEndianWord(const std::vector<uint8_t>& body);

}  // namespace kwz_test
