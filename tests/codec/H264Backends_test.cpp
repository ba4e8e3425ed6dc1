// Both H.264 decoders a build can choose, driven through the backend interface on the same
// libx264-coded stream, whichever one this build's CVideoDecoder uses. The engine's tests decode
// whole streams with each (the libavcodec one in its own build); here are the frames that must
// show nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
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

bool Decode(IDecoderBackend& backend, const CodedFrame& frame, YuvPicture* picture) {
  return backend.Decode(frame.data.data(), static_cast<int>(frame.data.size()), 0, picture);
}

// Concealment is off in both: inter frames with nothing to refer to, and a key frame that lost
// its second half, show nothing; the next whole key frame shows again.
TEST(H264Backends, ShowNothingThatCannotBeDecodedWhole) {
  const std::vector<CodedFrame> coded = Stream(7, 3);
  ASSERT_EQ(coded.size(), 7u);
  ASSERT_TRUE(coded[3].key && coded[6].key);
  const auto& key = coded[3].data;
  const CodedFrame cut{{key.begin(), key.begin() + static_cast<long>(key.size() / 2)}, true};
  std::unique_ptr<IDecoderBackend> backends[] = {
      kwz_codec::CreateOpenH264Backend(), kwz_codec::CreateFfmpegBackend(kwz_codec::kCodecH264)};
  for (auto& backend : backends) {
    ASSERT_TRUE(backend && backend->Open(kWidth, kHeight));
    YuvPicture picture;
    for (const CodedFrame* frame : {&coded[1], &coded[2], &cut, &coded[4]})
      EXPECT_FALSE(Decode(*backend, *frame, &picture));
    ASSERT_TRUE(Decode(*backend, coded[6], &picture));
    EXPECT_EQ(picture.width, kWidth);
    EXPECT_EQ(picture.height, kHeight);
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
