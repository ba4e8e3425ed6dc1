// Streams from an independent encoder: Debian's ffmpeg tool codes a short desktop-like clip
// with libx264 and libvpx, and decodes it itself. Our decoder's pictures
// must match ffmpeg's own decode converted to BGRA. The conversion is done here with the
// studio-range equations rather than by ffmpeg's swscale: swscale's fast path differs from
// them by up to 3 and picks its rounding by CPU, which would measure swscale, not the decode.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/winerror.h"
#include "tests/codec/DecoderHarness.h"
#include "tests/codec/StreamSplitter.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::CodedFrame;
using kwz_test::Harness;
using kwz_test::TestCodec;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 10;

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Ffmpeg(const std::string& arguments) {
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments;
  return std::system(command.c_str()) == 0;
}

// Frames of planar 4:2:0 to BGRA with the BT.601 studio-range equations, in floating point.
std::vector<std::uint8_t> ToBgra(const std::vector<std::uint8_t>& yuv) {
  const size_t luma = static_cast<size_t>(kWidth) * kHeight;
  const size_t frameBytes = luma * 3 / 2;
  std::vector<std::uint8_t> out;
  for (size_t f = 0; f + frameBytes <= yuv.size(); f += frameBytes) {
    const std::uint8_t* y = yuv.data() + f;
    const std::uint8_t* cb = y + luma;
    const std::uint8_t* cr = cb + luma / 4;
    for (int row = 0; row < kHeight; ++row) {
      for (int x = 0; x < kWidth; ++x) {
        const double l = 1.164 * (y[row * kWidth + x] - 16);
        const int c = (row / 2) * (kWidth / 2) + x / 2;
        const double u = cb[c] - 128.0, v = cr[c] - 128.0;
        for (double value : {l + 2.017 * u, l - 0.813 * v - 0.392 * u, l + 1.596 * v, 0.0}) {
          out.push_back(static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L)));
        }
      }
    }
  }
  return out;
}

struct Clip {
  const char* name;
  TestCodec codec;
  const char* encoder;  // ffmpeg output options
  const char* file;
};

class IndependentStream : public ::testing::TestWithParam<Clip> {
 protected:
  // Writes the source clip as raw BGRA and has ffmpeg code it.
  std::vector<CodedFrame> MakeStream(const Clip& clip, std::vector<std::uint8_t>* reference) {
    const std::string dir = temp_.path();
    const std::string raw = dir + "/source.bgra";
    {
      std::ofstream out(raw, std::ios::binary);
      for (int i = 0; i < kFrames; ++i) {
        const kwz_test::Image image = kwz_test::MakeScreen(kWidth, kHeight, i);
        out.write(reinterpret_cast<const char*>(image.bgra.data()),
                  static_cast<std::streamsize>(image.bgra.size()));
      }
    }
    const std::string coded = dir + "/" + clip.file;
    const std::string decoded = dir + "/reference.yuv";
    EXPECT_TRUE(Ffmpeg("-f rawvideo -pix_fmt bgra -s 320x240 -r 10 -i " + raw + " " + clip.encoder +
                       " " + coded))
        << "is the ffmpeg package installed?";
    EXPECT_TRUE(Ffmpeg("-i " + coded + " -f rawvideo -pix_fmt yuv420p " + decoded));
    *reference = ToBgra(ReadFile(decoded));
    const std::vector<std::uint8_t> stream = ReadFile(coded);
    switch (clip.codec) {
      case TestCodec::kH264:
        return kwz_test::SplitAnnexB(stream);
      case TestCodec::kVp8:
        return kwz_test::SplitIvf(stream, false);
      case TestCodec::kVp9:
        return kwz_test::SplitIvf(stream, true);
      default:
        break;
    }
    return {};
  }

  kwz_test::TempDir temp_;
};

TEST_P(IndependentStream, MatchesFfmpegsOwnDecode) {
  const Clip& clip = GetParam();
  std::vector<std::uint8_t> reference;
  const std::vector<CodedFrame> frames = MakeStream(clip, &reference);
  const size_t frameBytes = static_cast<size_t>(kWidth) * kHeight * 4;
  ASSERT_EQ(frames.size(), static_cast<size_t>(kFrames));
  ASSERT_EQ(reference.size(), frameBytes * kFrames);
  ASSERT_TRUE(frames[0].key);

  Harness harness(clip.codec, kWidth, kHeight, 32, false);
  ASSERT_EQ(harness.decoder.Open(), S_OK);
  for (int i = 0; i < kFrames; ++i) {
    SCOPED_TRACE(testing::Message() << "frame " << i);
    ASSERT_EQ(harness.DecodeFrame(frames[i]), S_OK);
    const std::uint8_t* expected = reference.data() + frameBytes * i;
    double sum = 0;
    int worst = 0;
    for (size_t p = 0; p < frameBytes; p += 4) {
      for (int c = 0; c < 3; ++c) {
        const int d = std::abs(harness.output[p + c] - expected[p + c]);
        sum += d;
        worst = std::max(worst, d);
      }
    }
    EXPECT_LT(sum / (3.0 * kWidth * kHeight), 1.0);
    EXPECT_LE(worst, 3);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Encoders, IndependentStream,
    ::testing::Values(
        Clip{"H264_libx264", TestCodec::kH264,
             "-c:v libx264 -profile:v baseline -pix_fmt yuv420p -g 5 -threads 1 -f h264",
             "clip.h264"},
        Clip{"Vp8_libvpx", TestCodec::kVp8,
             "-c:v libvpx -b:v 2M -g 5 -deadline realtime -cpu-used 8 -lag-in-frames 0 "
             "-auto-alt-ref 0 -f ivf",
             "clip.ivf"},
        Clip{"Vp9_libvpx", TestCodec::kVp9,
             "-c:v libvpx-vp9 -b:v 2M -g 5 -deadline realtime -cpu-used 8 -lag-in-frames 0 "
             "-auto-alt-ref 0 -row-mt 0 -f ivf",
             "clip.ivf"}),
    [](const testing::TestParamInfo<Clip>& info) { return info.param.name; });

// VP9 profile 1 carries 4:4:4 pictures, which the 4:2:0 conversion cannot take: every frame
// is dropped, none read outside its planes.
TEST(IndependentStreamLayouts, Vp9Profile1IsDropped) {
  kwz_test::TempDir temp;
  const std::string path = std::string(temp.path()) + "/clip.ivf";
  ASSERT_TRUE(
      Ffmpeg("-f lavfi -i testsrc2=size=320x240:rate=10 -frames:v 3 -pix_fmt yuv444p "
             "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -lag-in-frames 0 -f ivf " +
             path));
  const std::vector<CodedFrame> frames = kwz_test::SplitIvf(ReadFile(path), true);
  ASSERT_EQ(frames.size(), 3u);
  Harness harness(TestCodec::kVp9, kWidth, kHeight, 32, false);
  for (const CodedFrame& frame : frames) EXPECT_EQ(harness.DecodeFrame(frame), 1);
  EXPECT_TRUE(harness.decoder.IsOpened());  // the key word opened it; the pictures were refused
  EXPECT_TRUE(harness.Untouched());
}

}  // namespace
