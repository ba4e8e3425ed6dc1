// The codec wrappers on real streams. The decoder's own rules: configuration, the VP8/VP9
// key-frame gate, the 16-bit layout, size changes, reopening, and a stream it cannot show; both
// H.264 backends on frames that must show nothing; the block encoder's settings and quality.
// The engine's and presenter's tests drive whole streams of every mode end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/CVideoDecoder.h"
#include "codec/CVideoEncoder.h"
#include "codec/DecoderBackend.h"
#include "platform/winerror.h"
#include "tests/codec/DecoderHarness.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DebugCapture.h"

namespace {

using kwz_codec::IDecoderBackend;
using kwz_codec::kFormatNone;
using kwz_codec::kFormatRgb16;
using kwz_codec::kFormatRgb24;
using kwz_codec::kFormatRgb32;
using kwz_codec::YuvPicture;
using kwz_test::CodedFrame;
using kwz_test::Dib;
using kwz_test::Harness;
using kwz_test::Image;
using kwz_test::TestCodec;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
// PSNR of a picture that shows its source, coloured edges sampled 4:2:0 and all; one upside down
// scores far below.
constexpr double kShows = 30;
constexpr double kJpegShows = 24;  // 100 × 100 blocks, where the edges weigh more

std::vector<Image> Screens(int width, int height, int count) {
  std::vector<Image> frames;
  for (int i = 0; i < count; ++i) frames.push_back(kwz_test::MakeScreen(width, height, i));
  return frames;
}

// --- Output descriptions: rows padded to 4 bytes; rejected ones keep the previous size ---

struct FormatCase {
  BITMAPINFOHEADER header;
  HRESULT result;
  DWORD format;
  DWORD frameSize;  // after a first accepted 64 × 32 × 32-bit description
};

class OutputFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(OutputFormat, SetsLayoutAndFrameSizeOrRejects) {
  CVideoDecoder decoder;
  BITMAPINFOHEADER first = Dib(64, 32, 32);
  ASSERT_EQ(decoder.SetOutputFormat(&first), S_OK);
  const FormatCase& c = GetParam();
  EXPECT_EQ(decoder.SetOutputFormat(&c.header), c.result);
  EXPECT_EQ(decoder.OutputFormat(), c.format);
  EXPECT_EQ(decoder.FrameSize(), c.frameSize);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, OutputFormat,
    ::testing::Values(FormatCase{Dib(1366, 768, 32), S_OK, kFormatRgb32, 5464u * 768},
                      FormatCase{Dib(1366, 768, 24), S_OK, kFormatRgb24, 4100u * 768},
                      FormatCase{Dib(1023, 16, 16), S_OK, kFormatRgb16, 2048u * 16},
                      FormatCase{Dib(1280, -720, 24), S_OK, kFormatRgb24, 3840u * 720},
                      FormatCase{Dib(1280, 720, 8), E_FAIL, kFormatNone, 64u * 4 * 32},
                      FormatCase{Dib(1280, 720, 32, 3), E_FAIL, kFormatNone, 64u * 4 * 32},
                      FormatCase{Dib(0, 720, 32), E_FAIL, kFormatNone, 64u * 4 * 32},
                      FormatCase{Dib(65535, 65535, 32), E_FAIL, kFormatNone, 64u * 4 * 32}));

// Open fails for an unknown codec or a missing size, and after a rejected description nothing
// is written: the caller sized its buffer for it.
TEST(DecoderConfiguration, RefusalsOpenAndWriteNothing) {
  CVideoDecoder unknown;
  BITMAPINFOHEADER header = Dib(16, 16, 32);
  unknown.SetOutputFormat(&header);
  unknown.SetCodecId(3);
  EXPECT_EQ(unknown.Open(), E_FAIL);
  CVideoDecoder sizeless;
  EXPECT_EQ(sizeless.SetOutputFormat(nullptr), E_FAIL);
  EXPECT_EQ(sizeless.OutputFormat(), kFormatNone);
  sizeless.SetCodecId(kwz_codec::kCodecH264);
  EXPECT_EQ(sizeless.Open(), E_FAIL);
  EXPECT_FALSE(sizeless.IsOpened());

  const std::vector<CodedFrame> coded = kwz_test::Encode(TestCodec::kMjpeg, Screens(100, 100, 1));
  Harness harness(TestCodec::kMjpeg, 100, 100);
  BITMAPINFOHEADER eightBit = Dib(100, 100, 8);
  ASSERT_EQ(harness.decoder.SetOutputFormat(&eightBit), E_FAIL);
  EXPECT_EQ(harness.DecodeFrame(coded[0]), 1);
  EXPECT_TRUE(harness.Untouched());
}

// --- VP8/VP9: dropped until the key-frame word, then decoded with or without markers ---

class VpxGate : public ::testing::TestWithParam<TestCodec> {};

TEST_P(VpxGate, MidStreamJoinWaitsForTheKeyFrameWord) {
  const std::vector<Image> frames = Screens(kWidth, kHeight, 6);
  const std::vector<CodedFrame> coded = kwz_test::Encode(GetParam(), frames, 3);
  ASSERT_EQ(coded.size(), 6u);
  ASSERT_TRUE(coded[3].key);
  Harness harness(GetParam(), kWidth, kHeight);
  // Joined at frame 1: inter frames, with their marker and without, are dropped.
  EXPECT_EQ(harness.DecodeFrame(coded[1]), 1);
  EXPECT_EQ(harness.DecodeBytes(coded[2].data), 1);
  // The key frame's bytes without the key word do not open the gate either.
  EXPECT_EQ(harness.DecodeBytes(coded[3].data), 1);
  EXPECT_FALSE(harness.decoder.IsOpened());
  EXPECT_TRUE(harness.Untouched());
  ASSERT_EQ(harness.DecodeFrame(coded[3]), S_OK);
  ASSERT_EQ(harness.DecodeFrame(coded[4]), S_OK);
  // A frame with no marker word is coded data from its first byte; 32 bits flipped: bottom-up.
  ASSERT_EQ(harness.DecodeBytes(coded[5].data), S_OK);
  EXPECT_GT(kwz_test::Psnr(frames[5], harness.output.data(), harness.stride, 4, true), kShows);
  // A key word with nothing behind it, or less than a word, is no picture.
  EXPECT_EQ(harness.DecodeBytes({0x00, 0x00, 0x01, 0x10}), 1);
  EXPECT_EQ(harness.DecodeBytes({0x00, 0x00, 0x01}), 1);
}

INSTANTIATE_TEST_SUITE_P(Codecs, VpxGate, ::testing::Values(TestCodec::kVp8, TestCodec::kVp9),
                         kwz_test::CodecName);

// --- 16 bits: the 32-bit picture with each channel cut to its top 5 bits ---

TEST(SixteenBits, AreTheThirtyTwoBitPictureCutToFiveBitsAChannel) {
  const std::vector<CodedFrame> coded =
      kwz_test::Encode(TestCodec::kH264, Screens(kWidth, kHeight, 2));
  Harness harness(TestCodec::kH264, kWidth, kHeight, 32, false);
  Harness bgr555(TestCodec::kH264, kWidth, kHeight, 16, false);
  for (const CodedFrame& frame : coded) {
    ASSERT_EQ(bgr555.DecodeFrame(frame), S_OK);
    ASSERT_EQ(harness.DecodeFrame(frame), S_OK);
    EXPECT_EQ(bgr555.pictureBytes, bgr555.decoder.FrameSize());
    for (int p = 0; p < kWidth * kHeight; ++p) {
      const std::uint8_t* q = &harness.output[(p / kWidth) * harness.stride + 4 * (p % kWidth)];
      const std::uint8_t* r = &bgr555.output[(p / kWidth) * bgr555.stride + 2 * (p % kWidth)];
      ASSERT_EQ(r[0] | r[1] << 8, q[0] >> 3 | (q[1] >> 3) << 5 | (q[2] >> 3) << 10) << p;
    }
  }
}

// --- Every codec's life: a picture of another size is refused and recorded until
// reconfigured, and Close and Open start afresh (damaged packets are the fuzzer's) ---

class Lifecycle : public ::testing::TestWithParam<TestCodec> {};

TEST_P(Lifecycle, OtherSizeAndReopen) {
  const TestCodec codec = GetParam();
  const bool jpeg = codec == TestCodec::kMjpeg;
  const int width = jpeg ? 100 : kWidth, height = jpeg ? 100 : kHeight;
  const std::vector<Image> frames = Screens(width, height, 2);
  const std::vector<CodedFrame> coded = kwz_test::Encode(codec, frames);
  ASSERT_EQ(coded.size(), 2u);
  Harness harness(codec, width, height, 32, false);
  ASSERT_EQ(harness.Configure(width + 16, height, 24, true), S_OK);
  for (const CodedFrame& frame : coded) {
    EXPECT_EQ(harness.DecodeFrame(frame), 1);
    EXPECT_TRUE(harness.Untouched());
  }
  EXPECT_TRUE(harness.sizeChanged);
  EXPECT_EQ(harness.decoder.NewWidth(), width);
  EXPECT_EQ(harness.decoder.NewHeight(), height);
  ASSERT_EQ(harness.Configure(width, height, 24, true), S_OK);
  EXPECT_EQ(harness.decoder.Close(), S_OK);
  EXPECT_EQ(harness.decoder.Close(), S_OK);
  EXPECT_FALSE(harness.decoder.IsOpened());
  EXPECT_EQ(harness.DecodeFrame(coded[1]), E_FAIL);
  ASSERT_EQ(harness.decoder.Open(), S_OK);
  ASSERT_EQ(harness.DecodeFrame(coded[0]), S_OK);
  ASSERT_EQ(harness.DecodeFrame(coded[1]), S_OK);
  EXPECT_FALSE(harness.sizeChanged);
  EXPECT_GT(kwz_test::Psnr(frames[1], harness.output.data(), harness.stride, 3, true),
            jpeg ? kJpegShows : kShows);
}

INSTANTIATE_TEST_SUITE_P(Codecs, Lifecycle,
                         ::testing::Values(TestCodec::kMpeg4, TestCodec::kH264, TestCodec::kVp8,
                                           TestCodec::kVp9, TestCodec::kMjpeg),
                         kwz_test::CodecName);

// A stream from an independent encoder: Debian's ffmpeg tool codes VP9 profile 1, which carries
// 4:4:4 pictures that the 4:2:0 conversion cannot take. Every frame is dropped, none read
// outside its planes.
TEST(IndependentStreamLayouts, Vp9Profile1IsDropped) {
  kwz_test::TempDir temp;
  const std::string path = std::string(temp.path()) + "/clip.ivf";
  const std::string command =
      "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "
      "testsrc2=size=320x240:rate=10 -frames:v 3 -pix_fmt yuv444p -c:v libvpx-vp9 "
      "-deadline realtime -cpu-used 8 -lag-in-frames 0 -f ivf " +
      path;
  ASSERT_EQ(std::system(command.c_str()), 0) << "is the ffmpeg package installed?";
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> f{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
  // A 32-byte file header, then per frame a 4-byte little-endian size, 8 bytes of timestamp
  // and the frame; only the first of three is a key frame.
  std::vector<CodedFrame> frames;
  for (size_t at = 32; at + 12 <= f.size();) {
    const size_t size = f[at] | f[at + 1] << 8 | f[at + 2] << 16;
    at += 12;
    ASSERT_LE(at + size, f.size());
    frames.push_back({{f.begin() + static_cast<long>(at), f.begin() + static_cast<long>(at + size)},
                      frames.empty()});
    at += size;
  }
  ASSERT_EQ(frames.size(), 3u);
  kwz_test::Harness harness(kwz_test::TestCodec::kVp9, 320, 240, 32, false);
  for (const CodedFrame& frame : frames) EXPECT_EQ(harness.DecodeFrame(frame), 1);
  EXPECT_TRUE(harness.decoder.IsOpened());  // the key word opened it; the pictures were refused
  EXPECT_TRUE(harness.Untouched());
}

// --- Both H.264 backends a build can choose, through the backend interface on the same
// libx264-coded stream, whichever one this build's CVideoDecoder uses ---

bool Decode(IDecoderBackend& backend, const CodedFrame& frame, YuvPicture* picture) {
  return backend.Decode(frame.data.data(), static_cast<int>(frame.data.size()), 0, picture);
}

// Concealment is off in both: inter frames with nothing to refer to, and a key frame that lost
// its second half, show nothing; the next whole key frame shows again. Stderr is the host's: a
// lossy network must not fill it with OpenH264's complaints, which go to the debugger output.
TEST(H264Backends, ShowNothingThatCannotBeDecodedWholeAndComplainOnlyToTheDebugger) {
  const std::vector<CodedFrame> coded =
      kwz_test::Encode(TestCodec::kH264, Screens(kWidth, kHeight, 7), 3);
  ASSERT_EQ(coded.size(), 7u);
  ASSERT_TRUE(coded[3].key && coded[6].key);
  const auto& key = coded[3].data;
  const CodedFrame cut{{key.begin(), key.begin() + static_cast<long>(key.size() / 2)}, true};
  // The stream's own sequence parameter set, then a picture parameter set whose chroma QP
  // offset is 13, beyond the allowed -12..12: OpenH264 complains.
  const std::uint8_t kStart[] = {0, 0, 0, 1};
  auto sps = std::search(key.begin(), key.end(), std::begin(kStart), std::end(kStart));
  ASSERT_TRUE(sps != key.end() && sps + 4 != key.end() && (sps[4] & 0x1F) == 7);
  const CodedFrame damaged = [&] {
    CodedFrame d{{sps, std::search(sps + 4, key.end(), std::begin(kStart), std::end(kStart))}};
    d.data.insert(d.data.end(), {0, 0, 0, 1, 0x68, 0xCE, 0x30, 0xD4, 0x80});
    return d;
  }();
  std::unique_ptr<IDecoderBackend> backends[] = {
      kwz_codec::CreateOpenH264Backend(), kwz_codec::CreateFfmpegBackend(kwz_codec::kCodecH264)};
  kwz_test::DebugCapture debug;
  for (int b = 0; b < 2; ++b) {
    if (b == 0) testing::internal::CaptureStderr();  // OpenH264's complaints
    YuvPicture picture;
    EXPECT_TRUE(backends[b] && backends[b]->Open(kWidth, kHeight));
    for (const CodedFrame* frame : {&coded[1], &coded[2], &cut, &coded[4], &damaged})
      EXPECT_FALSE(Decode(*backends[b], *frame, &picture)) << b;
    const bool shown = Decode(*backends[b], coded[6], &picture);
    if (b == 0) {
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
    EXPECT_TRUE(shown && picture.width == kWidth && picture.height == kHeight) << b;
  }
  EXPECT_FALSE(debug.texts().empty());
}

// --- The block encoder ---

constexpr int kBlock = 100;

// Only 32-bit blocks of a size open, and an open encoder codes only into room enough.
TEST(EncoderSetup, OnlyThirtyTwoBitBlocksOfASizeOpenAndCodeIntoRoomEnough) {
  CVideoEncoder encoder;
  BITMAPINFOHEADER rgb24 = Dib(kBlock, kBlock, 24);
  EXPECT_EQ(encoder.SetInputFormat(&rgb24), E_FAIL);
  EXPECT_EQ(encoder.SetInputFormat(nullptr), E_FAIL);
  EXPECT_EQ(encoder.Open(), E_FAIL);  // no size yet
  BITMAPINFOHEADER empty = Dib(0, kBlock, 32);
  ASSERT_EQ(encoder.SetInputFormat(&empty), S_OK);
  EXPECT_EQ(encoder.Open(), E_FAIL);
  BITMAPINFOHEADER block = Dib(kBlock, kBlock, 32);
  ASSERT_EQ(encoder.SetInputFormat(&block), S_OK);
  EXPECT_EQ(encoder.InputFormat(), kwz_codec::kFormatRgb32);
  encoder.SetCodecId(kwz_codec::kCodecH264);
  EXPECT_EQ(encoder.Open(), E_FAIL);

  const Image source = kwz_test::MakeScreen(kBlock, kBlock, 0);
  std::vector<BYTE> out(64);
  DWORD size = 0;
  EXPECT_EQ(encoder.Encode(source.bgra.data(), kBlock * 4, out.data(), 64, &size), E_FAIL);
  encoder.SetCodecId(kwz_codec::kCodecMjpeg);
  EXPECT_EQ(encoder.Open(), S_OK);
  EXPECT_EQ(encoder.Open(), S_OK);
  EXPECT_EQ(encoder.Encode(nullptr, kBlock * 4, out.data(), 64, &size), E_FAIL);
  EXPECT_EQ(encoder.Encode(source.bgra.data(), kBlock * 4, out.data(), 64, &size), 1);
  EXPECT_EQ(encoder.Encode(source.bgra.data(), kBlock * 4 - 1, out.data(), 64, &size), 1);
  EXPECT_EQ(encoder.Close(), S_OK);
  EXPECT_EQ(encoder.Close(), S_OK);
  EXPECT_FALSE(encoder.IsOpened());
  EXPECT_EQ(encoder.Open(), S_OK);
}

// Blocks decode close to the source; quality 100 is the finest, 1 the coarsest, and a value
// outside 1 to 100 changes nothing.
TEST(EncoderQuality, BlocksDecodeCloseToTheSourceAndQualityTrades) {
  CVideoEncoder encoder;
  BITMAPINFOHEADER block = Dib(kBlock, kBlock, 32);
  ASSERT_EQ(encoder.SetInputFormat(&block), S_OK);
  const Image source = kwz_test::MakeScreen(kBlock, kBlock, 0);
  double previousPsnr = 99;
  DWORD previousSize = ~0u;
  Harness harness(TestCodec::kMjpeg, kBlock, kBlock, 32, true);  // keeps nothing between JPEGs
  for (int quality : {100, 80, 1, 0, 101, -7}) {
    encoder.Close();
    encoder.SetQuality(quality);
    ASSERT_EQ(encoder.Open(), S_OK);
    std::vector<BYTE> jpeg(256 * 1024);
    DWORD size = 0;
    ASSERT_EQ(encoder.Encode(source.bgra.data(), kBlock * 4, jpeg.data(),
                             static_cast<DWORD>(jpeg.size()), &size),
              S_OK);
    jpeg.resize(size);
    ASSERT_EQ(harness.DecodeFrame(CodedFrame{jpeg, true}), S_OK);
    const double psnr = kwz_test::Psnr(source, harness.output.data(), harness.stride, 4, false);
    const bool inRange = quality >= 1 && quality <= 100;
    if (inRange && quality >= 80) {
      EXPECT_GE(psnr, kJpegShows) << quality;
    }
    if (inRange) {
      EXPECT_LT(psnr, previousPsnr) << quality;
      EXPECT_LT(size, previousSize) << quality;
    } else {
      EXPECT_EQ(psnr, previousPsnr) << quality;
      EXPECT_EQ(size, previousSize) << quality;
    }
    previousPsnr = psnr;
    previousSize = size;
  }
}

}  // namespace
