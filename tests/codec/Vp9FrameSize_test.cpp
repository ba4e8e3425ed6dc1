// The sizes VP9 frames state in their headers, read before libvpx allocates for them: every
// kind of frame that can state one, frames that take a reference's size, superframes, and
// headers that are cut short; then the decoder refusing a hostile inter frame, alone or in a
// superframe, from its header.
#include "codec/Vp9FrameSize.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/codec/DecoderHarness.h"

namespace {

using kwz_codec::Vp9LargestStatedSize;
using kwz_test::CodedFrame;
using kwz_test::Harness;
using kwz_test::TestCodec;

class BitWriter {
 public:
  BitWriter& Put(unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      bytes_.back() |= static_cast<std::uint8_t>(((value >> i) & 1u) << (7 - bits_ % 8));
      ++bits_;
    }
    return *this;
  }
  BitWriter& Sync() { return Put(0x49, 8).Put(0x83, 8).Put(0x42, 8); }
  BitWriter& Size(unsigned width, unsigned height) {
    return Put(width - 1, 16).Put(height - 1, 16);
  }
  // With 16 bytes for the rest of a frame: bytes that no size is read from.
  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> out = bytes_;
    out.resize(out.size() + 16, 0);
    return out;
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t bits_ = 0;
};

// frame_marker, profile (low bit first), [reserved for profile 3], show_existing_frame 0.
BitWriter Start(unsigned profile) {
  BitWriter w;
  w.Put(2, 2).Put(profile & 1, 1).Put(profile >> 1, 1);
  if (profile == 3) w.Put(0, 1);
  return w.Put(0, 1);
}

std::vector<std::uint8_t> KeyFrame(unsigned profile, unsigned colorSpace, unsigned w, unsigned h) {
  BitWriter b = Start(profile);
  b.Put(0, 1).Put(1, 1).Put(0, 1);  // key frame, shown, not error resilient
  b.Sync();
  if (profile >= 2) b.Put(0, 1);
  b.Put(colorSpace, 3);
  if (colorSpace != 7) {
    b.Put(0, 1);
    if (profile == 1 || profile == 3) b.Put(1, 1).Put(1, 1).Put(0, 1);
  } else if (profile == 1 || profile == 3) {
    b.Put(0, 1);
  }
  return b.Size(w, h).Bytes();
}

std::vector<std::uint8_t> IntraOnly(unsigned profile, unsigned w, unsigned h) {
  BitWriter b = Start(profile);
  b.Put(1, 1).Put(0, 1).Put(0, 1);  // not key, hidden, not error resilient
  b.Put(1, 1).Put(0, 2);            // intra only, reset_frame_context
  b.Sync();
  if (profile > 0) {
    b.Put(2, 3).Put(0, 1);  // color space BT.709, studio range
    if (profile == 1) b.Put(0, 1).Put(0, 1).Put(0, 1);
  }
  b.Put(0x01, 8);  // refresh_frame_flags
  return b.Size(w, h).Bytes();
}

// An inter frame; foundRef < 3 takes that reference's size, 3 states its own.
std::vector<std::uint8_t> InterFrame(int foundRef, unsigned w, unsigned h, bool errorResilient) {
  BitWriter b = Start(0);
  b.Put(1, 1).Put(1, 1).Put(errorResilient ? 1 : 0, 1);
  if (!errorResilient) b.Put(0, 2);
  b.Put(0x01, 8);
  for (int i = 0; i < 3; ++i) b.Put(static_cast<unsigned>(i), 3).Put(0, 1);
  for (int i = 0; i < 3; ++i) {
    b.Put(i == foundRef ? 1 : 0, 1);
    if (i == foundRef) return b.Bytes();
  }
  return b.Size(w, h).Bytes();
}

// Frames joined with a superframe index of two-byte sizes.
std::vector<std::uint8_t> Superframe(const std::vector<std::vector<std::uint8_t>>& frames) {
  std::vector<std::uint8_t> out;
  for (const auto& f : frames) out.insert(out.end(), f.begin(), f.end());
  const auto marker = static_cast<std::uint8_t>(0xC0 | (1 << 3) | (frames.size() - 1));
  out.push_back(marker);
  for (const auto& f : frames) {
    out.push_back(static_cast<std::uint8_t>(f.size() & 0xFF));
    out.push_back(static_cast<std::uint8_t>(f.size() >> 8));
  }
  out.push_back(marker);
  return out;
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> bytes, std::size_t length) {
  bytes.resize(length);
  return bytes;
}

struct SizeCase {
  std::string name;
  std::vector<std::uint8_t> packet;
  unsigned width;
  unsigned height;
};

class StatedSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(StatedSize, IsReadFromTheHeaders) {
  const SizeCase& c = GetParam();
  const auto size = Vp9LargestStatedSize(c.packet.data(), c.packet.size());
  EXPECT_EQ(size.width, c.width);
  EXPECT_EQ(size.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, StatedSize,
    ::testing::Values(
        SizeCase{"KeyProfile0", KeyFrame(0, 1, 1920, 1080), 1920, 1080},
        SizeCase{"KeyProfile1With444", KeyFrame(1, 2, 640, 480), 640, 480},
        SizeCase{"KeyProfile1Rgb", KeyFrame(1, 7, 320, 200), 320, 200},
        SizeCase{"KeyProfile2TenBit", KeyFrame(2, 1, 1280, 720), 1280, 720},
        SizeCase{"KeyProfile3", KeyFrame(3, 1, 100, 50), 100, 50},
        SizeCase{"KeyLargestThereIs", KeyFrame(0, 1, 65536, 65536), 65536, 65536},
        SizeCase{"IntraOnlyProfile0", IntraOnly(0, 4000, 3000), 4000, 3000},
        SizeCase{"InterOwnSizeErrorResilient", InterFrame(3, 9000, 20, true), 9000, 20},
        SizeCase{"InterFirstReference", InterFrame(0, 0, 0, false), 0, 0},
        SizeCase{"ShowExistingFrame", {0x8B}, 0, 0},  // marker, profile 0, frame 3
        SizeCase{"KeyCutInItsSize", Cut(KeyFrame(0, 1, 1920, 1080), 6), 0, 0},
        SizeCase{"KeyWithoutSyncCode", Cut(KeyFrame(0, 1, 1920, 1080), 1), 0, 0},
        SizeCase{"NotAFrameMarker", {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 0},
        SizeCase{"SuperframeLargestEachWay",
                 Superframe({KeyFrame(0, 1, 3000, 10), IntraOnly(0, 10, 2000)}), 3000, 2000},
        SizeCase{"SuperframeSizesBeyondThePacket",
                 [] {
                   auto p = Superframe({InterFrame(3, 5000, 5000, false)});
                   p[p.size() - 3] = 0xFF;  // the first frame's size now runs past the end
                   return p;
                 }(),
                 0, 0}),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

// A frame whose header states a picture far beyond the configured one (a VP8 key frame of
// 14912 × 12288, as the fuzzer found; a VP9 inter frame, alone or hidden in a superframe) is
// refused from its header: libvpx would first allocate and clear buffers for it, seconds of work
// and hundreds of megabytes per packet. The size is reported, nothing is decoded, and the stream
// waits for the next key frame.
TEST(StatedSize, HugeFrameIsRefusedBeforeLibvpxAllocatesForIt) {
  for (const TestCodec codec : {TestCodec::kVp8, TestCodec::kVp9}) {
    const std::vector<CodedFrame> coded = kwz_test::Encode(
        codec, {kwz_test::MakeScreen(320, 240, 0), kwz_test::MakeScreen(320, 240, 1)});
    ASSERT_TRUE(coded[0].key);
    std::vector<CodedFrame> hostile = {coded[0]};
    if (codec == TestCodec::kVp8) {
      // Frame tag (3 bytes), start code 9D 01 2A, then 14-bit width and height, little-endian.
      ASSERT_EQ(coded[0].data[3], 0x9D);
      const std::uint8_t huge[] = {14912 & 0xFF, 14912 >> 8, 12288 & 0xFF, 12288 >> 8};
      std::copy(huge, huge + 4, hostile[0].data.begin() + 6);
    } else {
      EXPECT_EQ(Vp9LargestStatedSize(coded[1].data.data(), coded[1].data.size()).width, 0u)
          << "an inter frame of the same size takes its reference's";
      hostile = {{InterFrame(3, 16384, 12000, false), false},
                 {Superframe({coded[1].data, InterFrame(3, 16000, 16000, false)}), false}};
    }
    for (const CodedFrame& frame : hostile) {
      Harness harness(codec, 320, 240, 32, false);
      ASSERT_EQ(harness.DecodeFrame(coded[0]), S_OK);
      EXPECT_EQ(harness.DecodeFrame(frame), 1);
      EXPECT_TRUE(harness.sizeChanged);
      EXPECT_GE(harness.decoder.NewWidth(), 14912);
      EXPECT_FALSE(harness.decoder.IsOpened());
      EXPECT_EQ(harness.DecodeFrame(coded[1]), 1) << "an inter frame after the refused one";
      ASSERT_EQ(harness.DecodeFrame(coded[0]), S_OK) << "the next key frame decodes";
      EXPECT_EQ(harness.DecodeFrame(coded[1]), S_OK);
    }
  }
}

}  // namespace
