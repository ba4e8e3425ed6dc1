// The whole-frame encoders (MPEG-4, H.264, VP8, VP9) at their edges: what they refuse, the cap on
// a frame's size, each frame's structure, and that what they code decodes in the viewer's own
// decoders without drift. (Every mode end to end is the engine's test.)
#include <gtest/gtest.h>

#include <vector>

#include "presenter/IFrameEncoder.h"
#include "presenter/ScreenMessageWriter.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/presenter/BitstreamChecks.h"
#include "tests/presenter/ViewerHarness.h"

namespace kwz_test {
namespace {

struct EncoderCase {
  int streamMode;
  // A size at which the synthetic screen needs coarser re-encodes within 12000 bytes.
  int capWidth, capHeight;
};

inline void PrintTo(const EncoderCase& c, std::ostream* os) {
  *os << "mode" << c.streamMode;
}

FrameEncoderSettings Settings(int width, int height, size_t cap = kMaxFrameBodyBytes) {
  FrameEncoderSettings s;
  s.width = width;
  s.height = height;
  s.frameRate = 15;
  s.maxFrameBytes = cap;
  return s;
}

// A frame body handed to the viewer's own decoders: how close the picture it then shows is to the
// one coded.
double Shown(ViewerHarness& viewer, int mode, int width, int height,
             const std::vector<uint8_t>& body, const std::vector<uint8_t>& bgra) {
  presenter::ScreenMessageFields fields;
  fields.streamMode = static_cast<uint8_t>(mode);
  fields.width = static_cast<uint16_t>(width);
  fields.height = static_cast<uint16_t>(height);
  SentMessage message;
  presenter::WriteScreenMessage(fields, body.data(), body.size(), &message.bytes);
  EXPECT_GT(viewer.Take(message), 0);
  // The viewer's bitmap is bottom-up: the streamer codes a screen's rows last to first.
  return PsnrBgr(FlipRows(bgra, width * 4), viewer.VisibleBgr(width, height), width, height);
}

class FrameEncoderSuite : public ::testing::TestWithParam<EncoderCase> {};

// The first frame is a key frame; a refused picture sends nothing and leaves the stream intact
// for the next one. (A key frame asked for is the gateway's key-frame test.)
TEST_P(FrameEncoderSuite, RefusalsKeyFramesAndTheCap) {
  const int mode = GetParam().streamMode;
  auto encoder = CreateFrameEncoder(mode, Settings(320, 240));
  ViewerHarness viewer;
  SyntheticDesktop desktop(320, 240);
  const int stride = desktop.StrideBytes();
  std::vector<uint8_t> body{1, 2, 3};
  const std::vector<uint8_t> first = desktop.Render(0), next = desktop.Render(1);
  ASSERT_TRUE(encoder->Encode(first.data(), stride, false, &body));
  EXPECT_TRUE(encoder->LastFrameWasKey());
  ExpectFrameStructure(mode, body, true);
  Shown(viewer, mode, 320, 240, body, first);

  EXPECT_FALSE(encoder->Encode(nullptr, stride, false, &body));
  EXPECT_TRUE(body.empty());
  EXPECT_FALSE(encoder->Encode(first.data(), stride - 4, false, &body));
  EXPECT_FALSE(encoder->Encode(first.data(), stride, false, nullptr));

  ASSERT_TRUE(encoder->Encode(next.data(), stride, false, &body));
  EXPECT_FALSE(encoder->LastFrameWasKey());
  ExpectFrameStructure(mode, body, false);
  EXPECT_GE(Shown(viewer, mode, 320, 240, body, next), 30.0);

  // With a cap far below what the rate control aims at, frames are coded again coarser or left
  // out; what is sent still fits, a left-out frame is followed by a key frame, and the receiver's
  // pictures never drift from the source.
  const EncoderCase c = GetParam();
  encoder = CreateFrameEncoder(mode, Settings(c.capWidth, c.capHeight, 12000));
  ViewerHarness capped;
  SyntheticDesktop large(c.capWidth, c.capHeight);
  int sent = 0;
  bool previousDropped = false;
  for (uint32_t n = 0; n < 8; ++n) {
    SCOPED_TRACE(n);
    const std::vector<uint8_t> bgra = large.Render(SyntheticDesktop::kFramesPerScene * n / 4);
    if (!encoder->Encode(bgra.data(), large.StrideBytes(), false, &body)) {
      EXPECT_TRUE(body.empty());
      previousDropped = true;
      continue;
    }
    ++sent;
    EXPECT_LE(body.size(), 12000u);
    if (previousDropped) {
      EXPECT_TRUE(encoder->LastFrameWasKey());
    }
    previousDropped = false;
    ExpectFrameStructure(mode, body, encoder->LastFrameWasKey());
    EXPECT_GE(Shown(capped, mode, c.capWidth, c.capHeight, body, bgra), 18.0);
  }
  EXPECT_GE(sent, 1);
}

// MPEG-4 Part 2 cannot code a 720p screen of text in a small cap at all (its coarsest
// quantiser is 31), so its small-cap case runs at a smaller size.
INSTANTIATE_TEST_SUITE_P(Modes, FrameEncoderSuite,
                         ::testing::Values(EncoderCase{3, 640, 368}, EncoderCase{4, 1280, 720},
                                           EncoderCase{5, 1280, 720}, EncoderCase{6, 1280, 720}));

TEST(FrameEncoderFactory, RefusesOtherModesAndSettingsOutOfRange) {
  for (int mode : {-1, 0, 1, 2, 7, 255})
    EXPECT_EQ(CreateFrameEncoder(mode, Settings(320, 240)), nullptr) << mode;
  struct Bad {
    const char* what;
    int width, height, frameRate, bitRateKbps;
    size_t cap;
  };
  const Bad cases[] = {
      {"width not a multiple of 16", 1366, 768, 15, 0, kMaxFrameBodyBytes},
      {"height not a multiple of 16", 1920, 1080, 15, 0, kMaxFrameBodyBytes},
      {"no width", 0, 720, 15, 0, kMaxFrameBodyBytes},
      {"no frame rate", 1280, 720, 0, 0, kMaxFrameBodyBytes},
      {"negative bit rate", 1280, 720, 15, -1, kMaxFrameBodyBytes},
      {"cap beyond the 16-bit body length", 1280, 720, 15, 0, kMaxFrameBodyBytes + 1},
      {"cap too small for any key frame", 1280, 720, 15, 0, 100},
  };
  for (const Bad& bad : cases) {
    FrameEncoderSettings s = Settings(bad.width, bad.height, bad.cap);
    s.frameRate = bad.frameRate;
    s.bitRateKbps = bad.bitRateKbps;
    EXPECT_THROW(CreateFrameEncoder(4, s), exc_frame_encoder) << bad.what;
  }
}

}  // namespace
}  // namespace kwz_test
