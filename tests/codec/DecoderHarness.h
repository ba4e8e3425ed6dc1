// A CVideoDecoder configured as the engine configures it, with an output buffer guarded by
// sentinel bytes and packets copied into buffers with the 4 spare bytes H.264 needs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/CVideoDecoder.h"
#include "platform/winerror.h"
#include "tests/codec/TestEncoders.h"

namespace kwz_test {

// Names parameterised tests after the codec.
inline std::string CodecName(const testing::TestParamInfo<TestCodec>& info) {
  static const char* const kNames[] = {"Mpeg4", "Mjpeg", "H264", "Vp8", "Vp9"};
  return kNames[static_cast<int>(info.param)];
}

// A bitmap description of the given size and bit count.
inline BITMAPINFOHEADER Dib(LONG width, LONG height, WORD bits, DWORD compression = BI_RGB) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = bits;
  header.biCompression = compression;
  return header;
}

class Harness {
 public:
  static constexpr std::uint8_t kGuard = 0xA5;
  static constexpr size_t kGuardBytes = 64;

  Harness(TestCodec codec, int width, int height, int bits = 32, bool flip = true) : codec_(codec) {
    Configure(width, height, bits, flip);
  }

  // Close, frame rate, flip flag, output description, identifier, Open: the engine's order.
  HRESULT Configure(int width, int height, int bits, bool flip) {
    decoder.Close();
    decoder.SetFrameRate(10);
    decoder.SetFlipRGB32(flip);
    BITMAPINFOHEADER header = Dib(width, height, static_cast<WORD>(bits));
    EXPECT_EQ(decoder.SetOutputFormat(&header), S_OK);
    decoder.SetCodecId(CodecIdOf(codec_));
    output.assign(decoder.FrameSize() + kGuardBytes, kGuard);
    stride = (width * bits + 31) / 32 * 4;  // rows padded to 4 bytes
    return decoder.Open();
  }

  // Decodes one coded frame as the presenter sends it (VP8/VP9 with their marker word).
  HRESULT DecodeFrame(const CodedFrame& frame) {
    const bool vpx = codec_ == TestCodec::kVp8 || codec_ == TestCodec::kVp9;
    return DecodeBytes(vpx ? WithVpxMarker(frame) : frame.data);
  }

  HRESULT DecodeBytes(const std::vector<std::uint8_t>& bytes) {
    packet.assign(bytes.begin(), bytes.end());
    packet.resize(bytes.size() + 4, 0xEE);
    pictureBytes = 0xDEAD;
    sizeChanged = false;
    const HRESULT result = decoder.Decode(packet.data(), static_cast<int>(bytes.size()),
                                          output.data(), &pictureBytes, &sizeChanged);
    EXPECT_TRUE(std::all_of(output.end() - kGuardBytes, output.end(), [](std::uint8_t v) {
      return v == kGuard;
    })) << "decoder wrote past the frame size";
    return result;
  }

  bool Untouched() const {
    return std::all_of(output.begin(), output.end(), [](std::uint8_t v) { return v == kGuard; });
  }

  CVideoDecoder decoder;
  std::vector<std::uint8_t> output;
  std::vector<std::uint8_t> packet;
  DWORD pictureBytes = 0;
  bool sizeChanged = false;
  int stride = 0;

 private:
  TestCodec codec_;
};

}  // namespace kwz_test
