// FFmpeg context opens and releases wait for the avcodec mutex: a second process holds it,
// and the wrapper's call must not finish before that process lets go.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <string>
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

// Whether thread tid of this process is blocked in a futex wait on shared memory, as a thread
// waiting for a named mutex that another process holds is (a wait on a private futex, such as
// a thread join inside a codec library, does not count).
bool BlockedOnSharedMemory(pid_t tid) {
  std::ifstream call("/proc/self/task/" + std::to_string(tid) + "/syscall");
  long number = -1;
  unsigned long address = 0;
  if (!(call >> number >> std::hex >> address) || number != SYS_futex) return false;
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    unsigned long from = 0, to = 0;
    if (std::sscanf(line.c_str(), "%lx-%lx", &from, &to) == 2 && from <= address && address < to)
      return line.find("/dev/shm/") != std::string::npos;
  }
  return false;
}

// Runs call on another thread while a child holds the mutex, and lets the child go once the
// call has either ended (it did not wait) or blocked on the mutex. True when the call waited: it
// ended only after the child reported its release. Always releases the child, so a failure cannot
// hang.
bool WaitsForTheMutex(const std::function<HRESULT()>& call, HRESULT* result) {
  ChildProcess holder = kwz_test::StartCodecMutexHolder();
  EXPECT_EQ(holder.Receive(), 'L');
  std::atomic<pid_t> tid{0};
  std::future<std::pair<HRESULT, bool>> future = std::async(std::launch::async, [&] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    const HRESULT r = call();
    return std::make_pair(r, holder.HasPending());  // the child's 'R' came first
  });
  while (future.wait_for(0s) != std::future_status::ready &&
         (tid == 0 || !BlockedOnSharedMemory(tid)))
    std::this_thread::yield();
  holder.Send('U');
  const auto [r, releasedFirst] = future.get();
  *result = r;
  EXPECT_EQ(holder.Receive(), 'R');
  EXPECT_EQ(holder.Wait(), 0);
  return releasedFirst;
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

// Decoders by codec id, and 0 for the block encoder. Only FFmpeg contexts open under the
// mutex: other libraries open while another process holds it. Closing always takes it.
class ContextMutex : public ::testing::TestWithParam<int> {};

TEST_P(ContextMutex, OnlyFfmpegOpensWaitAndEveryCloseWaits) {
  CVideoDecoder decoder;
  CVideoEncoder encoder;
  BITMAPINFOHEADER header = Rgb32(320, 240);
  const bool isEncoder = GetParam() == 0;
  if (isEncoder) {
    ASSERT_EQ(encoder.SetInputFormat(&header), S_OK);
  } else {
    ASSERT_EQ(decoder.SetOutputFormat(&header), S_OK);
    decoder.SetCodecId(GetParam());
  }
  const bool ffmpeg = GetParam() == 0 || GetParam() == kwz_codec::kCodecMpeg4 ||
                      GetParam() == kwz_codec::kCodecMjpeg ||
                      (GetParam() == kwz_codec::kCodecH264 && kwz_codec::H264ThroughAvcodec());
  HRESULT result = E_UNEXPECTED;
  EXPECT_EQ(WaitsForTheMutex([&] { return isEncoder ? encoder.Open() : decoder.Open(); }, &result),
            ffmpeg);
  EXPECT_EQ(result, S_OK);
  EXPECT_TRUE(
      WaitsForTheMutex([&] { return isEncoder ? encoder.Close() : decoder.Close(); }, &result));
  EXPECT_EQ(result, S_OK);
  EXPECT_FALSE(decoder.IsOpened() || encoder.IsOpened());
}

INSTANTIATE_TEST_SUITE_P(Codecs, ContextMutex,
                         ::testing::Values(0, kwz_codec::kCodecMpeg4, kwz_codec::kCodecMjpeg,
                                           kwz_codec::kCodecH264, kwz_codec::kCodecVp8,
                                           kwz_codec::kCodecVp9));

}  // namespace
