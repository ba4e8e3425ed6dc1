// FFmpeg context opens and releases wait for the avcodec mutex: a second process
// holds it, and the wrapper's call must not finish before that process lets go.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "codec/CVideoDecoder.h"
#include "codec/CVideoEncoder.h"
#include "codec/CodecIds.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/CodecMutexHolder.h"

namespace {

using kwz_test::ChildProcess;
using namespace std::chrono_literals;

// Runs call on another thread while a child holds the mutex; true when the call waited for
// the child's release. Always releases the child, so a failure cannot hang the suite.
bool WaitsForTheMutex(const std::function<HRESULT()>& call, HRESULT* result) {
  ChildProcess holder = kwz_test::StartCodecMutexHolder();
  EXPECT_EQ(holder.Receive(), 'L');
  std::atomic<bool> done{false};
  std::future<HRESULT> future = std::async(std::launch::async, [&] {
    const HRESULT r = call();
    done = true;
    return r;
  });
  std::this_thread::sleep_for(300ms);
  const bool finishedEarly = done;
  holder.Send('U');
  *result = future.get();
  const bool releasedFirst = holder.Receive(0) == 'R';
  EXPECT_EQ(holder.Wait(), 0);
  return !finishedEarly && releasedFirst;
}

BITMAPINFOHEADER Rgb32(LONG width, LONG height) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  return header;
}

class FfmpegDecoderMutex : public ::testing::TestWithParam<int> {};

TEST_P(FfmpegDecoderMutex, OpenAndCloseWaitForAnotherProcess) {
  CVideoDecoder decoder;
  BITMAPINFOHEADER header = Rgb32(320, 240);
  ASSERT_EQ(decoder.SetOutputFormat(&header), S_OK);
  decoder.SetCodecId(GetParam());
  HRESULT result = E_UNEXPECTED;
  EXPECT_TRUE(WaitsForTheMutex([&] { return decoder.Open(); }, &result));
  EXPECT_EQ(result, S_OK);
  EXPECT_TRUE(decoder.IsOpened());
  EXPECT_TRUE(WaitsForTheMutex([&] { return decoder.Close(); }, &result));
  EXPECT_EQ(result, S_OK);
  EXPECT_FALSE(decoder.IsOpened());
}

// H.264 is FFmpeg's in builds that decode it with libavcodec, and OpenH264's otherwise.
std::vector<int> FfmpegCodecs() {
  std::vector<int> ids = {kwz_codec::kCodecMpeg4, kwz_codec::kCodecMjpeg};
  if (kwz_codec::H264ThroughAvcodec()) ids.push_back(kwz_codec::kCodecH264);
  return ids;
}

std::vector<int> OtherCodecs() {
  std::vector<int> ids = {kwz_codec::kCodecVp8, kwz_codec::kCodecVp9};
  if (!kwz_codec::H264ThroughAvcodec()) ids.push_back(kwz_codec::kCodecH264);
  return ids;
}

INSTANTIATE_TEST_SUITE_P(Codecs, FfmpegDecoderMutex, ::testing::ValuesIn(FfmpegCodecs()));

// Only FFmpeg contexts need the mutex: other libraries open while another process holds it.
TEST(DecoderMutex, OtherLibrariesOpenWithoutIt) {
  for (int id : OtherCodecs()) {
    ChildProcess holder = kwz_test::StartCodecMutexHolder();
    ASSERT_EQ(holder.Receive(), 'L');
    CVideoDecoder decoder;
    BITMAPINFOHEADER header = Rgb32(320, 240);
    ASSERT_EQ(decoder.SetOutputFormat(&header), S_OK);
    decoder.SetCodecId(id);
    std::future<HRESULT> open = std::async(std::launch::async, [&] { return decoder.Open(); });
    EXPECT_EQ(open.wait_for(5s), std::future_status::ready) << id;
    holder.Send('U');
    EXPECT_EQ(open.get(), S_OK) << id;
    EXPECT_EQ(holder.Wait(), 0);
  }
}

TEST(EncoderMutex, OpenAndCloseWaitForAnotherProcess) {
  CVideoEncoder encoder;
  BITMAPINFOHEADER header = Rgb32(100, 100);
  ASSERT_EQ(encoder.SetInputFormat(&header), S_OK);
  HRESULT result = E_UNEXPECTED;
  EXPECT_TRUE(WaitsForTheMutex([&] { return encoder.Open(); }, &result));
  EXPECT_EQ(result, S_OK);
  EXPECT_TRUE(WaitsForTheMutex([&] { return encoder.Close(); }, &result));
  EXPECT_EQ(result, S_OK);
  EXPECT_FALSE(encoder.IsOpened());
}

}  // namespace
