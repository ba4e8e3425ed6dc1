// The checks every whole-frame encoder must pass, instantiated per stream mode by the suites
// (MPEG-4 apart, since it takes the codec mutex). Each coded frame is decoded with the codec
// library itself and compared with the picture it came from. (That every mode's frames decode
// faithfully in the viewer's own decoders is the streamer's round-trip test.)
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "presenter/CI420Picture.h"
#include "presenter/IFrameEncoder.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/presenter/BitstreamChecks.h"
#include "tests/presenter/ReferenceDecoder.h"

namespace kwz_test {

struct EncoderCase {
  int streamMode;
  // A cap low enough that the synthetic screen at capWidth × capHeight needs coarser re-encodes.
  int capWidth;
  int capHeight;
  size_t smallCap;
};

inline void PrintTo(const EncoderCase& c, std::ostream* os) {
  *os << "mode" << c.streamMode;
}

class FrameEncoderSuite : public ::testing::TestWithParam<EncoderCase> {
 protected:
  static FrameEncoderSettings Settings(int width, int height, size_t cap = kMaxFrameBodyBytes) {
    FrameEncoderSettings s;
    s.width = width;
    s.height = height;
    s.frameRate = 15;
    s.maxFrameBytes = cap;
    return s;
  }
};

// With a cap far below what the rate control aims at, frames are coded again coarser or left
// out; what is sent still fits, a left-out frame is followed by a key frame, and the receiver's
// pictures never drift from the source.
TEST_P(FrameEncoderSuite, SmallCapReencodesOrDropsWithoutDrift) {
  const EncoderCase c = GetParam();
  auto encoder = CreateFrameEncoder(c.streamMode, Settings(c.capWidth, c.capHeight, c.smallCap));
  ReferenceDecoder decoder(c.streamMode);
  SyntheticDesktop desktop(c.capWidth, c.capHeight);
  CI420Picture source(c.capWidth, c.capHeight);
  std::vector<uint8_t> body;
  int sent = 0;
  bool previousDropped = false;
  for (uint32_t n = 0; n < 8; ++n) {
    SCOPED_TRACE(n);
    const std::vector<uint8_t> bgra = desktop.Render(SyntheticDesktop::kFramesPerScene * n / 4);
    if (!encoder->Encode(bgra.data(), desktop.StrideBytes(), false, &body)) {
      EXPECT_TRUE(body.empty());
      previousDropped = true;
      continue;
    }
    ++sent;
    EXPECT_LE(body.size(), c.smallCap);
    if (previousDropped) {
      EXPECT_TRUE(encoder->LastFrameWasKey());
    }
    previousDropped = false;
    ExpectFrameStructure(c.streamMode, body, encoder->LastFrameWasKey());
    I420Image decoded;
    ASSERT_TRUE(decoder.Decode(body, &decoded));
    ASSERT_TRUE(source.ConvertFromBgra(bgra.data(), desktop.StrideBytes()));
    EXPECT_GE(PsnrI420(decoded.bytes, source.Bytes()), 18.0);
  }
  EXPECT_GE(sent, 1);
}

// The first frame is a key frame; a refused picture sends nothing and leaves the stream intact
// for the next one.
TEST_P(FrameEncoderSuite, RefusedPictureLeavesStreamIntact) {
  const int mode = GetParam().streamMode;
  auto encoder = CreateFrameEncoder(mode, Settings(320, 240));
  ReferenceDecoder decoder(mode);
  SyntheticDesktop desktop(320, 240);
  std::vector<uint8_t> body{1, 2, 3};
  const std::vector<uint8_t> first = desktop.Render(0);
  ASSERT_TRUE(encoder->Encode(first.data(), desktop.StrideBytes(), false, &body));
  EXPECT_TRUE(encoder->LastFrameWasKey());
  I420Image decoded;
  ASSERT_TRUE(decoder.Decode(body, &decoded));

  EXPECT_FALSE(encoder->Encode(nullptr, desktop.StrideBytes(), false, &body));
  EXPECT_TRUE(body.empty());
  EXPECT_FALSE(encoder->Encode(first.data(), desktop.StrideBytes() - 4, false, &body));
  EXPECT_FALSE(encoder->Encode(first.data(), desktop.StrideBytes(), false, nullptr));

  const std::vector<uint8_t> next = desktop.Render(1);
  ASSERT_TRUE(encoder->Encode(next.data(), desktop.StrideBytes(), false, &body));
  EXPECT_FALSE(encoder->LastFrameWasKey());
  ASSERT_TRUE(decoder.Decode(body, &decoded));
  CI420Picture source(320, 240);
  ASSERT_TRUE(source.ConvertFromBgra(next.data(), desktop.StrideBytes()));
  EXPECT_GE(PsnrI420(decoded.bytes, source.Bytes()), 35.0);
  // A key frame asked for is one, and says so in its bitstream.
  ASSERT_TRUE(encoder->Encode(next.data(), desktop.StrideBytes(), true, &body));
  EXPECT_TRUE(encoder->LastFrameWasKey());
  ExpectFrameStructure(mode, body, true);
}

}  // namespace kwz_test
