// Test-only helpers: the synthetic desktop's pictures, and encoders that code it with the
// libraries directly (FFmpeg's mpeg4 and mjpeg, libx264, libvpx), so the decoder can be tested
// on real coded frames. These are not the product's encoders.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/CodecIds.h"

namespace kwz_test {

// 32-bit BGRA, top row first, rows of width × 4 bytes.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgra;
};

// Frame frame of the presenter's synthetic desktop (width and height at least 64).
Image MakeScreen(int width, int height, int frame);

struct CodedFrame {
  std::vector<std::uint8_t> data;
  bool key = false;
};

enum class TestCodec { kMpeg4, kMjpeg, kH264, kVp8, kVp9 };

// Codes the frames at high quality; the first frame, and with keyEvery > 0 every keyEvery-th,
// is a key frame; no frame is dropped or delayed. Fails the calling test (ADD_FAILURE) and
// returns what it has on a library error.
std::vector<CodedFrame> Encode(TestCodec codec, const std::vector<Image>& frames, int keyEvery = 0);

// The decoder's codec identifier of a test codec.
inline int CodecIdOf(TestCodec codec) {
  constexpr int kIds[] = {kwz_codec::kCodecMpeg4, kwz_codec::kCodecMjpeg, kwz_codec::kCodecH264,
                          kwz_codec::kCodecVp8, kwz_codec::kCodecVp9};
  return kIds[static_cast<int>(codec)];
}

// A VP8/VP9 frame with the presenter's 4-byte marker word in front (key or inter).
std::vector<std::uint8_t> WithVpxMarker(const CodedFrame& frame);

// Peak signal-to-noise ratio in dB of the B, G, R channels of an output buffer against the
// source; bottomUp when the buffer's first row is the picture's last. bytesPerPixel 3 or 4.
double Psnr(const Image& source, const std::uint8_t* output, int stride, int bytesPerPixel,
            bool bottomUp);

}  // namespace kwz_test
