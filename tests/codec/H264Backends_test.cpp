// Both H.264 decoders a build can choose, driven through the backend interface on the same
// libx264-coded stream, whichever one this build's CVideoDecoder uses: H.264 decoding is exact,
// so they must hand out the same pictures and refuse the same frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/CodecIds.h"
#include "codec/DecoderBackend.h"
#include "tests/codec/TestEncoders.h"
#include "tests/support/DebugCapture.h"

namespace {

using kwz_codec::IDecoderBackend;
using kwz_codec::YuvPicture;
using kwz_test::CodedFrame;
using kwz_test::TestCodec;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

std::vector<CodedFrame> Stream(int frames, int keyEvery) {
  std::vector<kwz_test::Image> images;
  for (int i = 0; i < frames; ++i) images.push_back(kwz_test::MakeScreen(kWidth, kHeight, i));
  return kwz_test::Encode(TestCodec::kH264, images, keyEvery);
}

std::vector<std::unique_ptr<IDecoderBackend>> OpenBoth() {
  std::vector<std::unique_ptr<IDecoderBackend>> backends;
  backends.push_back(kwz_codec::CreateOpenH264Backend());
  backends.push_back(kwz_codec::CreateFfmpegBackend(kwz_codec::kCodecH264));
  for (auto& backend : backends) {
    EXPECT_TRUE(backend && backend->Open(kWidth, kHeight));
  }
  return backends;
}

// The visible picture's three planes, row by row (strides differ between the libraries).
std::vector<std::uint8_t> Planes(const YuvPicture& picture) {
  std::vector<std::uint8_t> bytes;
  for (int c = 0; c < 3; ++c) {
    const int width = c == 0 ? picture.width : (picture.width + 1) / 2;
    const int height = c == 0 ? picture.height : (picture.height + 1) / 2;
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* row =
          picture.planes[c] + static_cast<std::ptrdiff_t>(y) * picture.strides[c];
      bytes.insert(bytes.end(), row, row + width);
    }
  }
  return bytes;
}

bool Decode(IDecoderBackend& backend, const CodedFrame& frame, YuvPicture* picture) {
  return backend.Decode(frame.data.data(), static_cast<int>(frame.data.size()), 0, picture);
}

// H.264 decoding is exact: both hand out the same picture for every frame. Concealment is off
// in both: inter frames with nothing to refer to, and a key frame that lost its second half,
// show nothing; the next whole key frame shows again.
TEST(H264Backends, SamePicturesAndShowNothingThatCannotBeDecodedWhole) {
  const std::vector<CodedFrame> coded = Stream(7, 3);
  ASSERT_EQ(coded.size(), 7u);
  ASSERT_TRUE(coded[3].key && coded[6].key);
  auto backends = OpenBoth();
  for (std::size_t i = 0; i < coded.size(); ++i) {
    YuvPicture pictures[2];
    for (int b = 0; b < 2; ++b) {
      ASSERT_TRUE(Decode(*backends[b], coded[i], &pictures[b]))
          << "backend " << b << " frame " << i;
      EXPECT_EQ(pictures[b].width, kWidth);
      EXPECT_EQ(pictures[b].height, kHeight);
    }
    EXPECT_TRUE(Planes(pictures[0]) == Planes(pictures[1])) << "frame " << i;
  }
  const auto& key = coded[3].data;
  const CodedFrame cut{{key.begin(), key.begin() + static_cast<long>(key.size() / 2)}, true};
  backends = OpenBoth();
  for (int b = 0; b < 2; ++b) {
    YuvPicture picture;
    for (const CodedFrame* frame : {&coded[1], &coded[2], &cut, &coded[4]})
      EXPECT_FALSE(Decode(*backends[b], *frame, &picture)) << "backend " << b;
    EXPECT_TRUE(Decode(*backends[b], coded[6], &picture)) << "backend " << b;
  }
}

// Stderr is the host's: a lossy network must not fill it with the library's complaints, which go
// to the debugger output instead.
TEST(H264Backends, OpenH264ComplainsOnTheDebuggerOutputOnly) {
  // The stream's own sequence parameter set, then a picture parameter set whose chroma QP
  // offset is 13, beyond the allowed -12..12.
  const std::vector<CodedFrame> coded = Stream(1, 1);
  ASSERT_EQ(coded.size(), 1u);
  const std::vector<std::uint8_t>& key = coded[0].data;
  const std::uint8_t kStart[] = {0, 0, 0, 1};
  auto sps = std::search(key.begin(), key.end(), std::begin(kStart), std::end(kStart));
  ASSERT_TRUE(sps != key.end() && sps + 4 != key.end() && (sps[4] & 0x1F) == 7);
  auto end = std::search(sps + 4, key.end(), std::begin(kStart), std::end(kStart));
  CodedFrame damaged;
  damaged.data.assign(sps, end);
  damaged.data.insert(damaged.data.end(), {0, 0, 0, 1, 0x68, 0xCE, 0x30, 0xD4, 0x80});
  kwz_test::DebugCapture debug;
  testing::internal::CaptureStderr();
  {
    std::unique_ptr<IDecoderBackend> backend = kwz_codec::CreateOpenH264Backend();
    ASSERT_TRUE(backend->Open(kWidth, kHeight));
    YuvPicture picture;
    EXPECT_FALSE(Decode(*backend, damaged, &picture));
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_FALSE(debug.texts().empty());
}

}  // namespace
