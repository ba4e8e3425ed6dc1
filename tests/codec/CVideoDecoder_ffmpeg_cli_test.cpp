// A stream from an independent encoder: Debian's ffmpeg tool codes VP9 profile 1, which carries
// 4:4:4 pictures that the 4:2:0 conversion cannot take. Every frame is dropped, none read
// outside its planes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/codec/DecoderHarness.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::CodedFrame;

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

}  // namespace
